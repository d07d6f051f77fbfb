// A certificate's CRL and its CA's authority revocation list fetched over LDAP into files below
// the NPKI folder: "Lindsign/CRL/<point>/cert.crl". A list is written only when it is the
// expected issuer's and verifies with that issuer's key from the certificate's chain.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "CertStorage.h"
#include "Logger.h"
#include "SGCertificateSet.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGLDAP.h"
#include "SGX509Certificate.h"
#include "Token.h"
#include "TokenCertificate.h"
#include "TokenLog.h"
#include "TokenKeys.h"
#include "TokenTables.h"
#include "Util.h"

using brindlow::token::DecodedCertificate;
using brindlow::token::kLibraryUnavailable;

namespace {

constexpr const char kLindsign[] = "Lindsign";
constexpr const char kCRLFolder[] = "CRL";
constexpr const char kListFile[] = "cert.crl";

// One DER element: its tag, where its contents lie, and where it ends.
struct Element {
    unsigned char tag = 0;
    const unsigned char* contents = nullptr;
    size_t length = 0;
    const unsigned char* end = nullptr;
};

bool readElement(const unsigned char* p, const unsigned char* limit, Element* out) {
    if (!p || limit - p < 2) return false;
    out->tag = p[0];
    size_t n = p[1];
    p += 2;
    if (n & 0x80) {
        const size_t bytes = n & 0x7F;
        if (bytes == 0 || bytes > 4 || static_cast<size_t>(limit - p) < bytes) return false;
        n = 0;
        for (size_t i = 0; i < bytes; ++i) n = n << 8 | *p++;
    }
    if (static_cast<size_t>(limit - p) < n) return false;
    out->contents = p;
    out->length = n;
    out->end = p + n;
    return true;
}

bool startsWithLdap(const unsigned char* p, size_t n) {
    static const char kScheme[] = "ldap://";
    if (n < sizeof kScheme - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i)
        if (std::tolower(p[i]) != kScheme[i]) return false;
    return true;
}

// The first LDAP URI (a uniformResourceIdentifier, [6]) anywhere in the distribution points'
// names, in their order. The walk goes into constructed elements only.
bool firstLdapUri(const unsigned char* p, const unsigned char* limit, std::string* out, int depth) {
    if (depth > 8) return false;
    while (p < limit) {
        Element e;
        if (!readElement(p, limit, &e)) return false;
        if (e.tag == 0x86 && startsWithLdap(e.contents, e.length)) {
            out->assign(reinterpret_cast<const char*>(e.contents), e.length);
            return out->find('\0') == std::string::npos;
        }
        if ((e.tag & 0x20) && firstLdapUri(e.contents, e.end, out, depth + 1)) return true;
        p = e.end;
    }
    return false;
}

// The point's LDAP URI from the decoded extension. false without one.
bool distributionPoint(SGX509Certificate* certificate, std::string* uri) {
    SGBinary der{};
    if (TM_SERVICE(SGX509Certificate_GetEncodedEntry)(&der, certificate,
                                                      SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS) != 0)
        return false;
    const bool found = der.data && firstLdapUri(der.data, der.data + der.length, uri, 0);
    TM_BASE(SGBinary_Reset)(&der);
    return found;
}

// The list's folder name: from "ou=" (or "cn=", either case as the two spellings) up to the
// first "?" after it, else the whole text. Only one path component is taken.
bool folderName(const std::string& uri, const char* lower, const char* upper, std::string* out) {
    size_t at = uri.find(lower);
    if (at == std::string::npos) at = uri.find(upper);
    std::string name = uri;
    if (at != std::string::npos) {
        const size_t question = uri.find('?', at);
        name = uri.substr(at, question == std::string::npos ? std::string::npos : question - at);
    }
    if (name.empty() || name == "." || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find("..") != std::string::npos ||
        name.find('\0') != std::string::npos)
        return false;
    *out = name;
    return true;
}

// How a list's signature algorithm (its DER OID) is verified: RSA PKCS #1 v1.5 with the digest
// the OID names, or KCDSA. False for any other algorithm.
struct ListSignature {
    int kind = 0;    // SG_DS_RSASSA_PKCS1_V15 or SG_DS_KCDSA
    int digest = 0;  // RSA only; KCDSA lists are verified as path validation verifies them
};

bool listSignatureOf(const Element& oid, ListSignature* out) {
    static const struct {
        unsigned char last;
        int digest;
    } kRsa[] = {{5, SG_DIGEST_SHA1},
                {11, SG_DIGEST_SHA256},
                {12, SG_DIGEST_SHA384},
                {13, SG_DIGEST_SHA512},
                {14, SG_DIGEST_SHA224}};
    static const unsigned char kPkcs1[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
    // 1.2.410.200004.1, then 1 or 21: the two KCDSA identifiers.
    static const unsigned char kKcdsa[] = {0x2A, 0x83, 0x1A, 0x8C, 0x9A, 0x44, 0x01};
    if (oid.tag != 0x06) return false;
    if (oid.length == sizeof kKcdsa + 1 && std::memcmp(oid.contents, kKcdsa, sizeof kKcdsa) == 0 &&
        (oid.contents[sizeof kKcdsa] == 0x01 || oid.contents[sizeof kKcdsa] == 0x15)) {
        out->kind = SG_DS_KCDSA;
        return true;
    }
    if (oid.length != sizeof kPkcs1 + 1 || std::memcmp(oid.contents, kPkcs1, sizeof kPkcs1) != 0)
        return false;
    for (const auto& r : kRsa)
        if (oid.contents[sizeof kPkcs1] == r.last) {
            out->kind = SG_DS_RSASSA_PKCS1_V15;
            out->digest = r.digest;
            return true;
        }
    return false;
}

// Whether the signature over the signed bytes verifies with the issuer's public key, the way
// path validation and the CRL check verify a list: the key kind must fit the algorithm, and a
// KCDSA signature is verified with SHA-1 and the domain parameters of the issuer's certificate.
bool verifiesWithKeyOf(SGX509Certificate* issuer, const ListSignature& algorithm,
                       const unsigned char* signedBytes, size_t signedLength,
                       const unsigned char* signature, size_t signatureLength) {
    int keyKind = 0;
    SGBinary bits{}, parameters{};
    if (TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(&keyKind, nullptr, &bits, &parameters,
                                                       issuer) != 0)
        return false;
    const bool rsa = algorithm.kind == SG_DS_RSASSA_PKCS1_V15;
    if (rsa ? keyKind != SG_X509_KEY_RSA
            : keyKind != SG_X509_KEY_KCDSA && keyKind != SG_X509_KEY_KCDSA2)
        return false;
    if (!bits.data || bits.length == 0 || bits.length > INT_MAX || signatureLength > INT_MAX ||
        signedLength > INT_MAX)
        return false;
    brindlow::token::keys::DsKey key;
    if (TM_CRYPTO(SGDSKey_Decode)(&key.key, bits.data, static_cast<int>(bits.length),
                                  rsa ? SG_DSKEY_RSA_PUBLIC : SG_DSKEY_KCDSA_PUBLIC) != 0)
        return false;
    SGDSParameter parameter{};
    parameter.kind = algorithm.kind;
    parameter.key = &key.key;
    if (rsa) {
        parameter.v15HashId = algorithm.digest;
    } else {
        parameter.kcdsaHashId = SG_DIGEST_SHA1;
        // Without a domain in the certificate the verification refuses the list.
        if (brindlow::token::keys::hasKcdsaDomain(parameters.data, parameters.length)) {
            parameter.kcdsaDomainParameters = parameters.data;
            parameter.kcdsaDomainParametersLength = parameters.length;
        }
    }
    return TM_CRYPTO(SGDS_Verify)(signature, static_cast<int>(signatureLength), signedBytes,
                                  static_cast<int>(signedLength), &parameter) == 0;
}

// Whether the DER list is issued by the certificate (its subject names the list's issuer) and
// verifies with its key.
bool issuedAndSignedBy(const SGBinary& list, SGX509Certificate* issuer) {
    Element whole, tbs, algorithm, oid, signature;
    const unsigned char* end = list.data + list.length;
    if (!readElement(list.data, end, &whole) || whole.tag != 0x30 || whole.end != end) return false;
    if (!readElement(whole.contents, whole.end, &tbs) || tbs.tag != 0x30) return false;
    if (!readElement(tbs.end, whole.end, &algorithm) || algorithm.tag != 0x30) return false;
    if (!readElement(algorithm.end, whole.end, &signature) || signature.tag != 0x03 ||
        signature.length < 2 || signature.contents[0] != 0 || signature.end != whole.end)
        return false;
    if (!readElement(algorithm.contents, algorithm.end, &oid)) return false;
    ListSignature signedWith;
    if (!listSignatureOf(oid, &signedWith)) return false;
    // tbsCertList: version (optional INTEGER), signature, issuer.
    Element field;
    const unsigned char* p = tbs.contents;
    if (!readElement(p, tbs.end, &field)) return false;
    if (field.tag == 0x02 && !readElement(field.end, tbs.end, &field)) return false;
    const unsigned char* issuerAt = field.end;
    Element issuerName;
    if (!readElement(issuerAt, tbs.end, &issuerName) || issuerName.tag != 0x30) return false;

    SGBinary subject{};
    if (TM_SERVICE(SGX509Certificate_GetEncodedEntry)(&subject, issuer, SG_X509_ENTRY_SUBJECT) != 0)
        return false;
    const size_t nameLength = static_cast<size_t>(issuerName.end - issuerAt);
    const bool sameIssuer =
        subject.length == nameLength && std::memcmp(subject.data, issuerAt, nameLength) == 0;
    TM_BASE(SGBinary_Reset)(&subject);
    if (!sameIssuer) return false;

    return verifiesWithKeyOf(issuer, signedWith, whole.contents,
                             static_cast<size_t>(tbs.end - whole.contents), signature.contents + 1,
                             signature.length - 1);
}

// A list fetched from its point, wiped and released with the object.
struct FetchedList {
    SGBinary der{};
    ~FetchedList() { TM_BASE(SGBinary_Cleanse)(&der); }
};

struct Chain {
    SGCertificateSet head{};
    ~Chain() { TM_SERVICE(SGCertificateSet_Clear)(&head); }
};

}  // namespace

int Token::writeCRL(unsigned char* certificate, unsigned long length) {
    static constexpr const char* kName = "writeCRL";
    TOKEN_DEBUG(logger, "%s - writeCRL start...", kName);
    if (!TM_SERVICE_READY(SGLDAP_ReadCRL) || !TM_SERVICE_READY(SGCertificateSet_Clear) ||
        !TM_CRYPTO_READY(SGDS_Verify))
        return kLibraryUnavailable;
    try {
        DecodedCertificate subject;
        if (int rc = subject.decode(certificate, length)) {
            TOKEN_FATAL(logger, "%s - get cert from binary failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        std::string crlUri, crlName;
        if (!distributionPoint(subject.handle(), &crlUri) ||
            !folderName(crlUri, "ou=", "OU=", &crlName)) {
            TOKEN_FATAL(logger, "%s - get cert from binary failed...(%d)(%d)", kName, -1,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        // The folders first: nothing is asked of the directory when the files cannot be kept.
        CertStorage* npki = CertStorage::getInstance(SG_CERTIFICATE_STORAGE_NPKI);
        if (!npki || npki->path.empty()) return TOKEN_ERR_WRITE;
        const std::wstring top = npki->path + L"/" + Util::stringToWstring(kLindsign) + L"/" +
                                 Util::stringToWstring(kCRLFolder);
        if (Util::createDirectory(top) != 0) {
            TOKEN_FATAL(logger, "%s - create directory error", kName);
            return TOKEN_ERR_WRITE;
        }

        // The chain gives the key each list must verify with: the CA's for the CRL, the CA's
        // issuer's for the authority list.
        Chain chain;
        if (int rc = npki->getCertificateChain(&chain.head, subject.handle())) {
            TOKEN_FATAL(logger, "%s - getCertificateChain failed (%d)", kName, rc);
            return TOKEN_ERR_CRL_CA;
        }
        if (!chain.head.certificate.data) {
            TOKEN_FATAL(logger, "%s - get ca certificate failed", kName);
            return TOKEN_ERR_CRL_CA;
        }
        DecodedCertificate ca;
        if (int rc = ca.decode(chain.head.certificate.data, chain.head.certificate.length)) {
            TOKEN_FATAL(logger, "%s - get cert from binary failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }

        auto keep = [&](const std::string& uri, const std::string& name, SGX509Certificate* issuer,
                        const char* what) -> int {
            FetchedList list;
            if (int rc = TM_SERVICE(SGLDAP_ReadCRL)(&list.der, uri.c_str())) {
                TOKEN_FATAL(logger, "%s - SGLDAP_Read%s failed...(%d)(%d)", kName, what, rc,
                            TOKEN_ERR_INVALID_DATA);
                return TOKEN_ERR_INVALID_DATA;
            }
            if (!list.der.data || !issuedAndSignedBy(list.der, issuer)) {
                TOKEN_FATAL(logger, "%s - %s not of the issuer...(%d)", kName, what,
                            TOKEN_ERR_INVALID_DATA);
                return TOKEN_ERR_INVALID_DATA;
            }
            const std::wstring folder = top + L"/" + Util::stringToWstring(name);
            if (Util::createDirectory(folder) != 0) {
                TOKEN_FATAL(logger, "%s - create directory error", kName);
                return TOKEN_ERR_WRITE;
            }
            TOKEN_DEBUG(logger, "%s - writeFile start...", kName);
            const int written = Util::writeFile(folder + L"/" + Util::stringToWstring(kListFile),
                                                list.der.data, list.der.length);
            TOKEN_DEBUG(logger, "%s - writeFile end...(result:%d)", kName, written);
            return written == 0 ? 0 : TOKEN_ERR_WRITE;
        };
        if (int rc = keep(crlUri, crlName, ca.handle(), "CRL")) return rc;

        TOKEN_DEBUG(logger, "%s - writeARL start...", kName);
        std::string arlUri, arlName;
        if (!distributionPoint(ca.handle(), &arlUri) ||
            !folderName(arlUri, "cn=", "CN=", &arlName)) {
            TOKEN_FATAL(logger, "%s - SGLDAP_ReadARL failed...(%d)(%d)", kName, -1,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        // The authority list is signed by the CA's issuer: the next certificate of the chain.
        if (!chain.head.next || !chain.head.next->certificate.data) {
            TOKEN_FATAL(logger, "%s - get ca certificate failed", kName);
            return TOKEN_ERR_CRL_CA;
        }
        DecodedCertificate root;
        if (int rc = root.decode(chain.head.next->certificate.data,
                                 chain.head.next->certificate.length)) {
            TOKEN_FATAL(logger, "%s - get cert from binary failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        const int rc = keep(arlUri, arlName, root.handle(), "ARL");
        TOKEN_DEBUG(logger, "%s - writeCRL end...(%d)", kName, rc);
        return rc;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}
