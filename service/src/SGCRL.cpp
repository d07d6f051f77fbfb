#include "SGCRL.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "AuthorityKeyIdentifier.h"
#include "CRLDistributionPoints.h"
#include "CRLReason.h"
#include "Certificate.h"
#include "CertificateList.h"
#include "Extensions.h"
#include "IssuingDistributionPoint.h"
#include "SGASNObjectID.h"
#include "SGCertificateSet.h"
#include "SGLDAP.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGValidationSupport.h"
#include "SGX509Extension.h"
#include "SGX509Text.h"

using namespace brindlow::service;

// The record crosses the table interface: its layout is fixed.
static_assert(offsetof(SGCRLStatus, date) == 0);
static_assert(offsetof(SGCRLStatus, reason) == 8);
static_assert(sizeof(SGCRLStatus) == 16);

namespace {

constexpr char kLdapScheme[] = "ldap://";
// cRLNumber (2.5.29.20) in the OID table.
constexpr int kOidCrlNumber = 146;

// What one full check holds while it runs; everything is released with it.
struct CRLWork {
    Decoded<CRLDistributionPoints_t> points{&asn_DEF_CRLDistributionPoints};
    const DistributionPoint_t* point = nullptr;  // the point whose URL was read
    SGBinary der{};                              // the list as the directory gave it
    Decoded<CertificateList_t> list{&asn_DEF_CertificateList};
    Decoded<IssuingDistributionPoint_t> idp{&asn_DEF_IssuingDistributionPoint};
    bool partial = false;  // the list covers only some reasons
    ~CRLWork() { SG_GBW(SGBinary_Reset)(&der); }
};

// A chain set cleared with the scope.
struct ChainSet {
    SGCertificateSet head{};
    ~ChainSet() { SGCertificateSet_Clear(&head); }
};

const Extensions_t* extensionsOf(const SGX509Certificate* certificate) {
    return certificate->certificate->tbsCertificate.extensions;
}

bool sameBytes(const uint8_t* a, int aSize, const uint8_t* b, int bSize) {
    return aSize == bSize && (aSize == 0 || std::memcmp(a, b, static_cast<size_t>(aSize)) == 0);
}

bool isTrue(const BOOLEAN_t* flag) {
    return flag && *flag;
}

// The decoded value of an extension found by entry id: 0, the lookup's code, or 20902.
template <typename T>
int decodeExtension(Decoded<T>& out, const Extensions_t* extensions, int entryId) {
    Extension_t* extension = nullptr;
    if (int error = SGX509Extension_FindRAWEntry(&extension, extensions, entryId)) return error;
    return out.decode(extension->extnValue.buf, extension->extnValue.size) == 0
               ? 0
               : SG_ASN_ERR_RUNTIME;
}

// The URI text of a GeneralName when it is one and starts with the LDAP scheme.
bool ldapUri(std::string& out, const GeneralName_t* name) {
    if (!name || name->present != GeneralName_PR_uniformResourceIdentifier) return false;
    const IA5String_t& uri = name->choice.uniformResourceIdentifier;
    if (!uri.buf || uri.size <= 0) return false;
    const std::string text(reinterpret_cast<const char*>(uri.buf), static_cast<size_t>(uri.size));
    if (text.find('\0') != std::string::npos || text.size() < sizeof kLdapScheme - 1 ||
        SG_GBW(SGOS_strncasecmp)(text.c_str(), kLdapScheme, sizeof kLdapScheme - 1) != 0)
        return false;
    out = text;
    return true;
}

// Fetch: the first "ldap://" URI among the full names of the distribution points, read from the
// directory and decoded.
int SGCRL_Process(CRLWork& work, const SGX509Certificate* certificate) {
    Extension_t* extension = nullptr;
    if (SGX509Extension_FindRAWEntry(&extension, extensionsOf(certificate),
                                     SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS) != 0)
        return SG_CRL_ERR_NO_DP;
    if (work.points.decode(extension->extnValue.buf, extension->extnValue.size) != 0)
        return SG_ASN_ERR_RUNTIME;
    std::string url;
    for (int p = 0; p < work.points->list.count && url.empty(); ++p) {
        const DistributionPoint_t* point = work.points->list.array[p];
        const DistributionPointName_t* name = point->distributionPoint;
        if (!name || name->present != DistributionPointName_PR_fullName) continue;
        for (int n = 0; n < name->choice.fullName.list.count; ++n) {
            if (ldapUri(url, name->choice.fullName.list.array[n])) {
                work.point = point;
                break;
            }
        }
    }
    if (url.empty()) return SG_CRL_ERR_NO_DP;
    if (int error = SGLDAP_ReadCRL(&work.der, url.c_str())) return error;
    // An empty answer is no list at all, never an empty one.
    if (!work.der.data || work.der.length == 0) return SG_LDAP_ERR_NO_OBJECT;
    if (work.list.decode(work.der.data, static_cast<int>(work.der.length)) != 0)
        return SG_ASN_ERR_RUNTIME;
    return 0;
}

// The certificate's authority key identifier against the list's.
int compareAuthorityKeys(const CRLWork& work, const SGX509Certificate* certificate) {
    Decoded<AuthorityKeyIdentifier_t> ours(&asn_DEF_AuthorityKeyIdentifier);
    if (int error = decodeExtension(ours, extensionsOf(certificate),
                                    SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER))
        return error;
    const Extensions_t* listExtensions = work.list->tbsCertList.crlExtensions;
    if (!listExtensions) return 0;
    Decoded<AuthorityKeyIdentifier_t> theirs(&asn_DEF_AuthorityKeyIdentifier);
    if (int error = decodeExtension(theirs, listExtensions, SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER))
        return error;
    const AuthorityKeyIdentifier_t& a = *ours.get();
    const AuthorityKeyIdentifier_t& b = *theirs.get();
    if (a.keyIdentifier && b.keyIdentifier &&
        !sameBytes(a.keyIdentifier->buf, a.keyIdentifier->size, b.keyIdentifier->buf,
                   b.keyIdentifier->size))
        return SG_CRL_ERR_KEY_IDENTIFIER;
    if (a.authorityCertIssuer && b.authorityCertIssuer) {
        const auto& x = a.authorityCertIssuer->list;
        const auto& y = b.authorityCertIssuer->list;
        if (x.count != y.count) return SG_CRL_ERR_ISSUER_COUNT;
        for (int i = 0; i < x.count; ++i)
            if (SGASN1CGeneralName_Compare(x.array[i], y.array[i]) != 0)
                return SG_CRL_ERR_ISSUER_NAMES;
    }
    if (a.authorityCertSerialNumber && b.authorityCertSerialNumber &&
        !sameBytes(a.authorityCertSerialNumber->buf, a.authorityCertSerialNumber->size,
                   b.authorityCertSerialNumber->buf, b.authorityCertSerialNumber->size))
        return SG_CRL_ERR_ISSUER_SERIAL;
    return 0;
}

// A critical extension the check does not act on makes the list unusable: it may narrow or
// change what the entries mean (a delta list, for one).
int checkCriticalExtensions(const CRLWork& work) {
    const Extensions_t* extensions = work.list->tbsCertList.crlExtensions;
    if (!extensions) return 0;
    for (int i = 0; i < extensions->list.count; ++i) {
        const Extension_t* extension = extensions->list.array[i];
        if (!isTrue(extension->critical)) continue;
        switch (oidIdOf(&extension->extnID)) {
            case SG_OID_AUTHORITY_KEY_IDENTIFIER:
            case SG_OID_ISSUING_DISTRIBUTION_POINT:
            case kOidCrlNumber:
                break;
            default:
                return SG_CRL_ERR_CRITICAL;
        }
    }
    return 0;
}

int checkValidity(const CRLWork& work) {
    const TBSCertList_t& tbs = work.list->tbsCertList;
    time_t thisUpdate = 0, nextUpdate = 0;
    if (!timeSeconds(&thisUpdate, &tbs.thisUpdate)) return SG_ASN_ERR_RUNTIME;
    // A list that names no next update cannot be told current.
    if (!tbs.nextUpdate) return SG_CRL_ERR_VALIDITY;
    if (!timeSeconds(&nextUpdate, tbs.nextUpdate)) return SG_ASN_ERR_RUNTIME;
    const time_t now = validationNow();
    return thisUpdate < now && now < nextUpdate ? 0 : SG_CRL_ERR_VALIDITY;
}

// The list's issuer against the certificate's (or the cRLIssuer of the point read), the issuing
// distribution point's name against the certificate's points, and the list's scope.
int SGCRL_VerifyIssuerAndCRL(CRLWork& work, const SGX509Certificate* certificate) {
    const Name_t& listIssuer = work.list->tbsCertList.issuer;
    const GeneralNames_t* crlIssuer = work.point ? work.point->cRLIssuer : nullptr;
    if (!crlIssuer) {
        if (SGASN1CName_Compare(&certificate->certificate->tbsCertificate.issuer, &listIssuer) != 0)
            return SG_CRL_ERR_ISSUER;
    } else {
        // An indirect list: its issuer is the one the point names.
        bool named = false;
        for (int i = 0; i < crlIssuer->list.count && !named; ++i) {
            const GeneralName_t* name = crlIssuer->list.array[i];
            named = name->present == GeneralName_PR_directoryName &&
                    SGASN1CName_Compare(&name->choice.directoryName, &listIssuer) == 0;
        }
        if (!named) return SG_CRL_ERR_ISSUER;
    }

    const IssuingDistributionPoint_t* idp = work.idp.get();
    if (!idp) return 0;
    if (const DistributionPointName_t* idpName = idp->distributionPoint) {
        const auto& points = work.points->list;
        bool anyName = false;
        int result = SG_CRL_ERR_ISSUER;
        for (int p = 0; p < points.count; ++p) {
            if (!points.array[p]->distributionPoint) continue;
            anyName = true;
            result =
                SGASN1CDistributionPointName_Compare(points.array[p]->distributionPoint, idpName);
            if (result == 0) break;
        }
        if (!anyName) {
            // No point names itself: the list's point must be one of the cRLIssuer names.
            for (int p = 0; p < points.count; ++p) {
                const GeneralNames_t* issuers = points.array[p]->cRLIssuer;
                if (!issuers) continue;
                DistributionPointName_t asName{};
                asName.present = DistributionPointName_PR_fullName;
                asName.choice.fullName = *issuers;
                result = SGASN1CDistributionPointName_Compare(&asName, idpName);
                if (result == 0) break;
            }
        }
        if (result != 0) return result;
    }
    // A list of narrower scope answers only for what it covers.
    const bool ca = SGX509Certificate_IsCA(certificate, nullptr) == 1;
    if ((isTrue(idp->onlyContainsUserCerts) && ca) || (isTrue(idp->onlyContainsCACerts) && !ca) ||
        isTrue(idp->onlyContainsAttributeCerts))
        return SG_CRL_ERR_NO_LIST;
    if (idp->onlySomeReasons) work.partial = true;
    return 0;
}

// Every certificate of the issuer chain allowed to sign lists, and the list's signature by the
// issuer (the first of the chain).
int verifyWithChain(const CRLWork& work, const std::vector<const SGX509Certificate*>& issuers) {
    if (issuers.empty()) return SG_CERTSTORE_ERR_NO_ROOT;
    for (const SGX509Certificate* issuer : issuers) {
        char usage[256] = "";
        if (SGX509Certificate_GetEntry(issuer, usage, sizeof usage, SG_X509_ENTRY_KEY_USAGE, 0) ==
                0 &&
            !std::strstr(usage, "cRLSign"))
            return SG_CRL_ERR_KEY_USAGE;
    }
    SubjectKey key;
    SGBinary bits{}, parameters{};
    if (int error =
            SGX509Certificate_GetPublicKeyInfo(&key.kind, nullptr, &bits, &parameters, issuers[0]))
        return error;
    key.bits = bits.data;
    key.bitsLength = bits.length;
    key.parameters = parameters.data;
    key.parametersLength = parameters.length;
    const uint8_t* tbs = nullptr;
    size_t tbsLength = 0;
    if (!signedPart(&tbs, &tbsLength, work.der.data, work.der.length)) return SG_ASN_ERR_RUNTIME;
    return verifySignature(tbs, tbsLength, work.list->signature, work.list->signatureAlgorithm, key,
                           SG_X509_ERR_KEY);
}

// RFC 5280's reason codes: 0 to 10, 7 unused. Any other value would read as a reason the
// callers do not know, 999 ("not on the list") among them.
bool knownReason(long reason) {
    return reason >= 0 && reason <= 10 && reason != 7;
}

// The value of a reasonCode entry extension; 20902 when it does not decode or is no known reason.
int readReason(long* out, const Extension_t* extension) {
    Decoded<CRLReason_t> value(&asn_DEF_CRLReason);
    if (value.decode(extension->extnValue.buf, extension->extnValue.size) != 0 ||
        asn_INTEGER2long(value.get(), out) != 0 || !knownReason(*out))
        return SG_ASN_ERR_RUNTIME;
    return 0;
}

// A reasonCode outside the known reasons makes the whole list malformed, whichever entry holds it.
int checkReasons(const RevokedCertificate_t* entry) {
    const Extensions_t* extensions = entry->crlEntryExtensions;
    if (!extensions) return 0;
    for (int i = 0; i < extensions->list.count; ++i) {
        long reason = 0;
        const Extension_t* extension = extensions->list.array[i];
        if (oidIdOf(&extension->extnID) == SG_OID_CRL_REASON)
            if (int error = readReason(&reason, extension)) return error;
    }
    return 0;
}

// The status from a list entry: only a reasonCode may stand among its extensions.
int getRevocationElement(SGCRLStatus* status, const RevokedCertificate_t* entry) {
    long reason = 0;
    if (const Extensions_t* extensions = entry->crlEntryExtensions) {
        for (int i = 0; i < extensions->list.count; ++i) {
            const Extension_t* extension = extensions->list.array[i];
            if (oidIdOf(&extension->extnID) != SG_OID_CRL_REASON) return SG_CRL_ERR_ENTRY_EXTENSION;
            if (int error = readReason(&reason, extension)) return error;
        }
    }
    time_t date = 0;
    if (!timeSeconds(&date, &entry->revocationDate)) return SG_ASN_ERR_RUNTIME;
    status->reason = static_cast<int>(reason);
    status->date = date;
    return 0;
}

// The first entry of the list with the serial number's content octets fills the status; every
// entry's reason is checked all the same.
int searchRevocationLists(SGCRLStatus* status, const CertificateList_t* list, const uint8_t* serial,
                          int serialLength) {
    const auto* revoked = list->tbsCertList.revokedCertificates;
    if (!revoked) return 0;
    const RevokedCertificate_t* match = nullptr;
    for (int i = 0; i < revoked->list.count; ++i) {
        const RevokedCertificate_t* entry = revoked->list.array[i];
        if (int error = checkReasons(entry)) return error;
        if (!match && sameBytes(entry->userCertificate.buf, entry->userCertificate.size, serial,
                                serialLength))
            match = entry;
    }
    return match ? getRevocationElement(status, match) : 0;
}

// The full check; the issuer chain is built from the storage unless the caller has it.
int checkCertificate(SGCRLStatus* status, const SGX509Certificate* certificate,
                     SGCertificateStorage* storage,
                     const std::vector<const SGX509Certificate*>* issuers) {
    CRLWork work;
    if (int error = SGCRL_Process(work, certificate)) return error;
    if (int error = compareAuthorityKeys(work, certificate)) return error;
    if (int error = checkCriticalExtensions(work)) return error;
    if (const Extensions_t* extensions = work.list->tbsCertList.crlExtensions) {
        const int found =
            decodeExtension(work.idp, extensions, SG_X509_ENTRY_ISSUING_DISTRIBUTION_POINT);
        if (found == SG_ASN_ERR_RUNTIME) return found;
    }
    if (int error = checkValidity(work)) return error;
    if (int error = SGCRL_VerifyIssuerAndCRL(work, certificate)) return error;
    if (work.point && work.point->reasons) work.partial = true;
    if (issuers) {
        if (int error = verifyWithChain(work, *issuers)) return error;
    } else {
        ChainSet chain;
        if (int error = SGCertificateStorage_GenerateCertificateChain(
                &chain.head, storage, certificate, SG_CERTSTORE_CHAIN_LDAP, nullptr))
            return error;
        std::vector<const SGX509Certificate*> built;
        for (const SGCertificateSet* node = &chain.head; node && node->type; node = node->next)
            built.push_back(&node->x509Certificate);
        if (int error = verifyWithChain(work, built)) return error;
    }
    const INTEGER_t& serial = certificate->certificate->tbsCertificate.serialNumber;
    SGCRLStatus found{0, SG_CRL_NOT_REVOKED};
    if (int error = searchRevocationLists(&found, work.list.get(), serial.buf, serial.size))
        return error;
    // A list for some reasons only cannot tell that a certificate is not revoked.
    if (found.reason == SG_CRL_NOT_REVOKED && work.partial) return SG_CRL_ERR_NO_LIST;
    *status = found;
    return 0;
}

}  // namespace

extern "C" {

int SGCRL_CheckCertificate(SGCRLStatus* status, const SGX509Certificate* certificate,
                           SGCertificateStorage* storage) {
    if (!status) return SG_PKI_ERR_ARGUMENT;
    status->reason = SG_CRL_NOT_REVOKED;
    status->date = 0;
    // Without a storage nothing could tell who signed the list.
    if (!certificate || !certificate->certificate || !storage) return SG_PKI_ERR_ARGUMENT;
    try {
        return checkCertificate(status, certificate, storage, nullptr);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCRL_Check(SGCRLStatus* status, const SGBinary* crlDer, const SGBinary* serial) {
    if (!status) return SG_PKI_ERR_ARGUMENT;
    status->reason = SG_CRL_NOT_REVOKED;
    status->date = 0;
    if (!crlDer || !crlDer->data || crlDer->length == 0 || !serial || !serial->data ||
        serial->length == 0 || crlDer->length > INT32_MAX || serial->length > INT32_MAX)
        return SG_PKI_ERR_ARGUMENT;
    try {
        Decoded<CertificateList_t> list(&asn_DEF_CertificateList);
        if (list.decode(crlDer->data, static_cast<int>(crlDer->length)) != 0)
            return SG_ASN_ERR_RUNTIME;
        const auto* revoked = list->tbsCertList.revokedCertificates;
        if (!revoked || revoked->list.count == 0) return SG_CRL_ERR_EMPTY;
        SGCRLStatus found{0, SG_CRL_NOT_REVOKED};
        if (int error = searchRevocationLists(&found, list.get(), serial->data,
                                              static_cast<int>(serial->length)))
            return error;
        *status = found;
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCRL_Initialization(void) {
    return 0;
}

}  // extern "C"

namespace brindlow::service {

int checkRevocation(SGCRLStatus* status, const SGX509Certificate* certificate,
                    SGCertificateStorage* storage,
                    const std::vector<const SGX509Certificate*>& issuers) {
    if (!status) return SG_PKI_ERR_ARGUMENT;
    status->reason = SG_CRL_NOT_REVOKED;
    status->date = 0;
    if (!certificate || !certificate->certificate || !storage) return SG_PKI_ERR_ARGUMENT;
    try {
        return checkCertificate(status, certificate, storage, &issuers);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // namespace brindlow::service
