// The import steps every kind of token shares, built on the kinds' virtual import and export:
// a plain or encrypted PrivateKeyInfo with its certificate, and the copy of a certificate with
// its keys from one token to another.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Logger.h"
#include "SGPKCS12.h"
#include "SGRSA.h"
#include "SGRandom.h"
#include "TokenCertificate.h"
#include "TokenCodec.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "Util.h"

using namespace brindlow::token::keys;
using brindlow::token::certificatesReady;
using brindlow::token::DecodedCertificate;

namespace {

// The purposes a copy asks its passwords for: the destination's, and the exported key's.
constexpr int kDestinationPurpose = 11;
// The password of a PKCS #12 file to be written.
constexpr int kFilePasswordPurpose = 16;
constexpr int kLocalKeyIdLength = 10;

// A certificate and its plain key handed out by an export, the key wiped when they go.
struct ExportedPair {
    TokenBuffer key{nullptr, 0, true};
    TokenBuffer certificate;
};

// The item ids of a key-management pair from getKMID.
struct KmIds {
    char* key = nullptr;
    char* certificate = nullptr;
    ~KmIds() {
        Token::freeMemory(key, 0);
        Token::freeMemory(certificate, 0);
    }
};

// Bytes the library allocated into an SGBinary, wiped and released when they go.
struct LibraryBytes {
    SGBinary bin{};
    LibraryBytes() = default;
    LibraryBytes(LibraryBytes&& other) noexcept : bin(other.bin) { other.bin = SGBinary{}; }
    LibraryBytes(const LibraryBytes&) = delete;
    LibraryBytes& operator=(const LibraryBytes&) = delete;
    ~LibraryBytes() { TM_BASE(SGBinary_Cleanse)(&bin); }
    bool empty() const { return !bin.data || bin.length == 0; }
};

// A decoded or built PKCS #12 structure, its keys overwritten when it goes.
struct Pfx {
    SGPKCS12PFX record{};
    Pfx() = default;
    Pfx(const Pfx&) = delete;
    Pfx& operator=(const Pfx&) = delete;
    ~Pfx() { TM_SERVICE(SGPKCS12PFX_Clear)(&record); }
    // Every bag of every safe: no file holds more pairs than bags.
    size_t bags() const {
        size_t n = 0;
        for (int i = 0; record.safes && i < record.count; ++i)
            for (const SGPKCS12SafeBag* bag = &record.safes[i]; bag; bag = bag->next)
                if (bag->value) ++n;
        return n;
    }
};

// One certificate with its key read from a file, and where the kind would file it.
struct FilePair {
    LibraryBytes key, certificate;
    std::string holder;  // empty when the kind names no place
    bool signing = false;
};

bool pfxReady() {
    return pkcs8Ready() && TM_SERVICE_READY(SGPKCS12PFX_Decode) &&
           TM_SERVICE_READY(SGPKCS12PFX_GetCertificateAndKey) &&
           TM_SERVICE_READY(SGPKCS12PFX_Clear) && TM_SERVICE_READY(SGPKCS12PFX_Encode) &&
           TM_SERVICE_READY(SGPKCS12PFX_AddCertificateAndKey) && TM_CRYPTO_READY(SGRandom_bytes) &&
           certificatesReady() && TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo) &&
           TM_CRYPTO_READY(SGRSAPrivateKey_Decode) && TM_CRYPTO_READY(SGRSAPrivateKey_GetItem) &&
           TM_CRYPTO_READY(SGRSAPrivateKey_Free) && TM_CRYPTO_READY(SGRSAPublicKey_Decode) &&
           TM_CRYPTO_READY(SGRSAPublicKey_GetItem) && TM_CRYPTO_READY(SGRSAPublicKey_Free) &&
           TM_CRYPTO_READY(SGDSKey_Decode) && TM_CRYPTO_READY(SGDSKey_Clear) &&
           TM_CRYPTO_READY(SGKCDSAParameter_Decode) && TM_CRYPTO_READY(SGKCDSAParameter_Clear) &&
           TM_CRYPTO_READY(SGBigInteger_New) && TM_CRYPTO_READY(SGBigInteger_Free) &&
           TM_CRYPTO_READY(SGBigInteger_mod_exp) && TM_CRYPTO_READY(SGBigInteger_cmp) &&
           TM_CRYPTO_READY(SGBigInteger_isOne) && TM_CRYPTO_READY(SGBigInteger_isZero) &&
           TM_CRYPTO_READY(SGBigInteger_isPrime) && TM_CRYPTO_READY(SGBigInteger_dup) &&
           TM_CRYPTO_READY(SGBigInteger_sub_word) && TM_CRYPTO_READY(SGBigInteger_mod);
}

// One item of an RSA key as minimal big-endian bytes; empty when the key lacks it.
template <typename Key, typename GetItem>
std::vector<unsigned char> rsaItem(const Key& key, GetItem getItem, int item, size_t room) {
    std::vector<unsigned char> bytes(room);
    unsigned int length = static_cast<unsigned int>(room);
    if (getItem(bytes.data(), &length, &key, item) != 0 || length == 0 || length > room) return {};
    bytes.resize(length);
    return bytes;
}

// Whether an RSA key (the RSAPrivateKey of a PrivateKeyInfo) belongs to the certificate: the
// same modulus and public exponent. A certificate or key the library cannot read (one outside
// the key bounds included) does not fit, so the check holds whatever later steps do.
bool rsaKeyFitsCertificate(const SGBinary& privateKey, const SGBinary& certificateDer) {
    DecodedCertificate certificate;
    if (certificate.decode(certificateDer.data, certificateDer.length) != 0) return false;
    RsaPrivateKey key;
    if (!privateKey.data || privateKey.length == 0 || privateKey.length > INT_MAX ||
        TM_CRYPTO(SGRSAPrivateKey_Decode)(&key.key, privateKey.data,
                                          static_cast<int>(privateKey.length)) != 0)
        return false;
    SGBinary bits{};
    if (TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(nullptr, nullptr, &bits, nullptr,
                                                       certificate.handle()) != 0 ||
        !bits.data || !bits.length || bits.length > INT_MAX)
        return false;
    RsaPublicKey certified;
    if (TM_CRYPTO(SGRSAPublicKey_Decode)(&certified.key, bits.data,
                                         static_cast<int>(bits.length)) != 0)
        return false;
    // No item is longer than the encoding it came from.
    const size_t room = std::max<size_t>(bits.length, privateKey.length);
    const auto modulus =
        rsaItem(key.key, TM_CRYPTO(SGRSAPrivateKey_GetItem), SG_RSA_PRIVATE_N, room);
    const auto exponent =
        rsaItem(key.key, TM_CRYPTO(SGRSAPrivateKey_GetItem), SG_RSA_PRIVATE_E, room);
    return !modulus.empty() && !exponent.empty() &&
           modulus ==
               rsaItem(certified.key, TM_CRYPTO(SGRSAPublicKey_GetItem), SG_RSA_PUBLIC_N, room) &&
           exponent ==
               rsaItem(certified.key, TM_CRYPTO(SGRSAPublicKey_GetItem), SG_RSA_PUBLIC_E, room);
}

// A number of the library's, wiped and released with the object.
struct BigNumber {
    SGBigInteger* value = nullptr;
    ~BigNumber() { TM_CRYPTO(SGBigInteger_Free)(value); }
};

// Whether decoded domain parameters (which the crypto layer's decoder already holds to its rule:
// q of 160, 224 or 256 bits, p odd and bounded, 1 < g < p) form a group of prime order q: q is
// prime, q divides p - 1 and g^q = 1. Only then can y^q = 1 and y^x = g say anything about y.
bool kcdsaDomainIsAGroup(const SGKCDSAParameter& d) {
    BigNumber rest, power;
    return TM_CRYPTO(SGBigInteger_isPrime)(d.q) == 1 &&
           TM_CRYPTO(SGBigInteger_dup)(&rest.value, d.p) == 0 &&
           TM_CRYPTO(SGBigInteger_sub_word)(rest.value, 1) == 0 &&
           TM_CRYPTO(SGBigInteger_mod)(rest.value, rest.value, d.q, nullptr) == 1 &&
           TM_CRYPTO(SGBigInteger_isZero)(rest.value) &&
           TM_CRYPTO(SGBigInteger_New)(&power.value) == 0 &&
           TM_CRYPTO(SGBigInteger_mod_exp)(power.value, d.g, d.q, d.p, nullptr) == 1 &&
           TM_CRYPTO(SGBigInteger_isOne)(power.value);
}

// Whether a KCDSA key (the INTEGER x of a PrivateKeyInfo) belongs to the certificate: the
// certificate's y is the key's public value g^(x^-1 mod q) mod p, in the key's domain (else the
// certificate's; where both name one, the same p, q and g). The domain must first be a group of
// prime order q (kcdsaDomainIsAGroup); y is then checked without inverting x: y lies in that
// subgroup (y^q = 1) and y^x = g, which only g^(x^-1 mod q) fulfils; x stays the key's own
// constant-time exponent. As for RSA, what the library cannot read does not fit.
bool kcdsaKeyFitsCertificate(const SGPKCS8PrivateKeyInfo& info, const SGBinary& certificateDer) {
    DecodedCertificate certificate;
    if (certificate.decode(certificateDer.data, certificateDer.length) != 0) return false;
    DsKey key;
    if (!info.privateKey.data || info.privateKey.length == 0 || info.privateKey.length > INT_MAX ||
        TM_CRYPTO(SGDSKey_Decode)(&key.key, info.privateKey.data,
                                  static_cast<int>(info.privateKey.length),
                                  SG_DSKEY_KCDSA_PRIVATE) != 0)
        return false;
    int kind = 0;
    SGBinary bits{}, parameters{};
    if (TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(&kind, nullptr, &bits, &parameters,
                                                       certificate.handle()) != 0 ||
        (kind != SG_X509_KEY_KCDSA && kind != SG_X509_KEY_KCDSA2) || !bits.data ||
        bits.length == 0 || bits.length > INT_MAX)
        return false;
    DsKey certified;
    if (TM_CRYPTO(SGDSKey_Decode)(&certified.key, bits.data, static_cast<int>(bits.length),
                                  SG_DSKEY_KCDSA_PUBLIC) != 0)
        return false;

    const SGBinary* own = info.parameters;
    const bool inKey = own && hasKcdsaDomain(own->data, own->length);
    const bool inCertificate = hasKcdsaDomain(parameters.data, parameters.length);
    KcdsaDomain keyDomain, certificateDomain;
    if ((!inKey && !inCertificate) || (inKey && !keyDomain.decode(own->data, own->length)) ||
        (inCertificate && !certificateDomain.decode(parameters.data, parameters.length)))
        return false;
    const SGKCDSAParameter& d = inKey ? keyDomain.value : certificateDomain.value;
    const auto cmp = TM_CRYPTO(SGBigInteger_cmp);
    if (inKey && inCertificate &&
        (cmp(d.p, certificateDomain.value.p) != 0 || cmp(d.q, certificateDomain.value.q) != 0 ||
         cmp(d.g, certificateDomain.value.g) != 0))
        return false;
    if (!kcdsaDomainIsAGroup(d)) return false;

    const SGBigInteger* x = key.key.material.kcdsaPrivate.x;
    const SGBigInteger* y = certified.key.material.kcdsaPublic.y;
    if (!x || !y || TM_CRYPTO(SGBigInteger_isZero)(x) || cmp(x, d.q) >= 0 ||
        TM_CRYPTO(SGBigInteger_isZero)(y) || TM_CRYPTO(SGBigInteger_isOne)(y) || cmp(y, d.p) >= 0)
        return false;
    BigNumber power;
    return TM_CRYPTO(SGBigInteger_New)(&power.value) == 0 &&
           TM_CRYPTO(SGBigInteger_mod_exp)(power.value, y, d.q, d.p, nullptr) == 1 &&
           TM_CRYPTO(SGBigInteger_isOne)(power.value) &&
           TM_CRYPTO(SGBigInteger_mod_exp)(power.value, y, x, d.p, nullptr) == 1 &&
           cmp(power.value, d.g) == 0;
}

// Whether the key of a PrivateKeyInfo (RSA or KCDSA, the algorithms it decodes with) belongs to
// the certificate.
bool keyFitsCertificate(const SGPKCS8PrivateKeyInfo& info, const SGBinary& certificateDer) {
    return info.algorithm == SG_PKCS8_ALGORITHM_RSA
               ? rsaKeyFitsCertificate(info.privateKey, certificateDer)
               : kcdsaKeyFitsCertificate(info, certificateDer);
}

}  // namespace

namespace {

// The common import step: the PrivateKeyInfo decoded and its parts handed to the kind's import.
// replaceKM: a signing pair takes the place of the holder's earlier key-management pair.
int importKeyInfo(Token& token, Logger* logger, const char* operation,
                  unsigned char* privateKeyInfo, unsigned long length, unsigned char* certificate,
                  unsigned long certificateLength, unsigned int keepNewer, bool replaceKM) {
    PlainKeyInfo info;
    int rc = privateKeyInfo && length && length <= UINT32_MAX ? 0 : SG_PKI_ERR_ARGUMENT;
    if (rc == 0) {
        const SGBinary der{privateKeyInfo, static_cast<uint32_t>(length)};
        rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &der);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)", operation,
                    rc);
        return TOKEN_ERR_PRIVATE_KEY_INFO;
    }
    const SGBinary* random = info.record.randomNum;
    const SGBinary* parameters = info.record.algorithm == SG_PKCS8_ALGORITHM_KCDSA ||
                                         info.record.algorithm == SG_PKCS8_ALGORITHM_KCDSA2
                                     ? info.record.parameters
                                     : nullptr;
    return token.import(info.record.privateKey.data, info.record.privateKey.length, certificate,
                        certificateLength, random ? random->data : nullptr,
                        random ? random->length : 0, parameters ? parameters->data : nullptr,
                        parameters ? parameters->length : 0, keepNewer, replaceKM);
}

}  // namespace

int Token::importPrivateKeyInfo(unsigned char* privateKeyInfo, unsigned long length,
                                unsigned char* certificate, unsigned long certificateLength,
                                unsigned int keepNewer) {
    if (!pkcs8Ready()) return TOKEN_ERR_NOT_SUPPORTED;
    return importKeyInfo(*this, logger, "importPrivateKeyInfo", privateKeyInfo, length, certificate,
                         certificateLength, keepNewer, false);
}

int Token::importEncryptedPrivateKeyInfo(unsigned char* password, unsigned long passwordLength,
                                         unsigned char* encryptedPrivateKeyInfo,
                                         unsigned long length, unsigned char* certificate,
                                         unsigned long certificateLength) {
    static constexpr const char* kName = "importEncryptedPrivateKeyInfo";
    if (!pkcs8Ready()) return TOKEN_ERR_NOT_SUPPORTED;
    EncryptedKeyInfo encrypted;
    int rc = encryptedPrivateKeyInfo && length && length <= UINT32_MAX ? 0 : SG_PKI_ERR_ARGUMENT;
    if (rc == 0) {
        const SGBinary der{encryptedPrivateKeyInfo, static_cast<uint32_t>(length)};
        rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&encrypted.record, &der);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)", kName,
                    rc);
        return TOKEN_ERR_NOT_PKCS8;
    }
    SecretBytes plain(encrypted.record.encryptedData.length);
    if (!plain.data()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    // The password up to its NUL, never read beyond its length; it never reaches a log line.
    const int pinLength =
        password ? static_cast<int>(::strnlen(reinterpret_cast<const char*>(password),
                                              std::min<unsigned long>(passwordLength, INT_MAX)))
                 : 0;
    static const unsigned char kEmpty[1] = {0};
    int plainLength = 0;
    rc = TM_SERVICE(SGPKCS5Decrypt)(plain.data(), &plainLength, &encrypted.record,
                                    password ? password : kEmpty, pinLength);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)", kName, rc);
        return TOKEN_ERR_KEY_DECRYPT;
    }
    rc = importPrivateKeyInfo(plain.data(), static_cast<unsigned long>(plainLength), certificate,
                              certificateLength, 0);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info decode failed...(%d)", kName, rc);
        if (rc == TOKEN_ERR_PRIVATE_KEY_INFO) rc = TOKEN_ERR_KEY_DECRYPT;
    }
    return rc;
}

int Token::copyCertificate(const char* itemId, InputPINHandler* handler, Token* destination,
                           unsigned int flags) {
    static constexpr const char* kName = "copyCertificate";
    TOKEN_DEBUG(logger, "%s - copyCertificate start", kName);
    if (!destination) {
        TOKEN_FATAL(logger, "%s - no destination...(%d)", kName, TOKEN_ERR_NO_TOKEN);
        return TOKEN_ERR_NO_TOKEN;
    }
    destination->getTokenStatus();
    int rc = destination->Token::importInit(
        nullptr, 0, handler, static_cast<InputPINHandler::InputPINPurpose>(kDestinationPurpose));
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - importInit fail(%d)", kName, rc);
        return rc;
    }

    ExportedPair sign, km;
    KmIds kmIds;
    bool hasKm = false;
    rc = exportCertificateAndKey(&sign.key.data, &sign.key.length, &sign.certificate.data,
                                 &sign.certificate.length, handler, itemId, itemId);
    if (rc == 0 && getKMID(&kmIds.key, &kmIds.certificate, itemId) == 0) {
        hasKm = true;
        rc = exportCertificateAndKey(&km.key.data, &km.key.length, &km.certificate.data,
                                     &km.certificate.length, handler, kmIds.key, kmIds.certificate);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - exportCertificateAndKey fail(%d)", kName, rc);
    } else {
        // Both pairs go in one import of the destination: a failing key-management pair takes
        // the signing pair back out with it.
        rc = destination->importPrivateKeyInfo(
            sign.key.data, sign.key.length, sign.certificate.data, sign.certificate.length, flags);
        if (rc == 0 && hasKm)
            rc = destination->importPrivateKeyInfo(km.key.data, km.key.length, km.certificate.data,
                                                   km.certificate.length, 0);
        if (rc != 0) TOKEN_FATAL(logger, "%s - importPrivateKeyInfo fail(%d)", kName, rc);
    }
    if (const int closed = destination->Token::importFinal(); closed != 0)
        TOKEN_FATAL(logger, "%s - destinationToken importFinal fail(%d)", kName, closed);
    TOKEN_DEBUG(logger, "%s - copyCertificate end", kName);
    return rc;
}

int Token::pushCertificate(InputPINHandler* handler, const char* itemId, const char* base64Data,
                           const char* base64Data2) {
    unsigned char *data = nullptr, *data2 = nullptr;
    unsigned int length = 0, length2 = 0;
    int rc = base64Data ? Base64::decode(&data, &length, base64Data) : 0;
    if (rc == 0 && base64Data2) rc = Base64::decode(&data2, &length2, base64Data2);
    if (rc == 0) rc = pushCertificate(handler, itemId, data, length, data2, length2);
    Base64::free(data);
    Base64::free(data2);
    return rc;
}

int Token::importPFX(unsigned char* password, unsigned long passwordLength, unsigned char* pfx,
                     unsigned long pfxLength, unsigned int keepNewer) {
    static constexpr const char* kName = "importPFX";
    if (!pfxReady()) return TOKEN_ERR_NOT_SUPPORTED;
    if (!pfx || !pfxLength || pfxLength > UINT32_MAX) {
        TOKEN_FATAL(logger, "%s - TokenError_SGPKCS12_BAD_DATA(%d)", kName, SG_PKI_ERR_ARGUMENT);
        return TOKEN_ERR_PFX_MALFORMED;
    }
    // The password up to its NUL, never read beyond its length; it never reaches a log line.
    static unsigned char kEmpty[1] = {0};
    const size_t pinLength = password
                                 ? ::strnlen(reinterpret_cast<const char*>(password),
                                             std::min<unsigned long>(passwordLength, UINT32_MAX))
                                 : 0;
    const SGBinary pin{password ? password : kEmpty, static_cast<uint32_t>(pinLength)};
    const SGBinary der{pfx, static_cast<uint32_t>(pfxLength)};

    Pfx file;
    int rc = TM_SERVICE(SGPKCS12PFX_Decode)(&file.record, &der, &pin);
    if (rc == SG_PKCS12_ERR_MAC) {
        TOKEN_FATAL(logger, "%s - TokenError_SGPKCS12_INVALID_PASSWORD(%d)", kName, rc);
        return TOKEN_ERR_PFX_INTEGRITY;
    }
    if (rc == SG_ASN_ERR_DECODE) {
        TOKEN_FATAL(logger, "%s - TokenError_SGPKCS12_BAD_DATA(%d)", kName, rc);
        return TOKEN_ERR_PFX_MALFORMED;
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - TokenError_SGPKCS12_UNKNOWN_ERROR(%d)", kName, rc);
        return TOKEN_ERR_PFX_REJECTED;
    }

    // Every pair is read and checked before the first is written. A file holds no more
    // end-entity certificates than bags, so the walk ends even if the library never said so.
    std::vector<FilePair> pairs;
    const size_t bound = file.bags();
    for (size_t index = 0; index < bound; ++index) {
        FilePair pair;
        rc = TM_SERVICE(SGPKCS12PFX_GetCertificateAndKey)(
            &pair.key.bin, &pair.certificate.bin, nullptr, &file.record, static_cast<int>(index));
        if (rc == SG_PKI_ERR_OUT_OF_RANGE) break;
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - TokenError_SGPKCS12_UNKNOWN_ERROR(%d)", kName, rc);
            return TOKEN_ERR_PFX_REJECTED;
        }
        if (pair.key.empty() || pair.certificate.empty()) continue;
        PlainKeyInfo info;
        if (TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &pair.key.bin) != 0) {
            TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)", kName,
                        TOKEN_ERR_PRIVATE_KEY_INFO);
            return TOKEN_ERR_PRIVATE_KEY_INFO;
        }
        // A crafted file may pair a certificate with a key of someone else's: the stored pair
        // would sign nothing its certificate verifies.
        if (!keyFitsCertificate(info.record, pair.certificate.bin)) {
            TOKEN_FATAL(logger, "%s - private key does not match certificate...(%d)", kName,
                        TOKEN_ERR_PFX_REJECTED);
            return TOKEN_ERR_PFX_REJECTED;
        }
        try {
            pairs.push_back(std::move(pair));
        } catch (...) {
            return TOKEN_ERR_MEMORY;
        }
    }
    if (pairs.empty()) {
        // A file without a certificate and its key gives the user nothing: not a success.
        TOKEN_FATAL(logger, "%s - no certificate with its key...(%d)", kName,
                    TOKEN_ERR_PFX_REJECTED);
        return TOKEN_ERR_PFX_REJECTED;
    }

    // Where the kind files each pair: the signing pair of a holder first, which takes the
    // signing names; a second pair of the holder takes the key-management names. A third, or
    // two that both must take the key-management names, would overwrite one another.
    try {
        for (FilePair& p : pairs) {
            std::wstring folder;
            const unsigned long length = p.certificate.bin.length;
            p.signing = IsDigitalSignature(p.certificate.bin.data, length);
            if (getPhysicalBasePath(folder, p.certificate.bin.data, length) != 0) continue;
            p.holder = Util::wstringToUtf8(folder);
            if (!IsNPKI(p.certificate.bin.data, length)) {
                char cn[1024] = {};
                Util::parseDN(getDNByCert(p.certificate.bin.data, length).c_str(), cn, sizeof cn,
                              DNTYPE_CN);
                p.holder += std::string("/") + cn;
            }
        }
        // Grouped by holder in the order holders first appear, signing pairs first.
        std::vector<FilePair> ordered;
        ordered.reserve(pairs.size());
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (!pairs[i].certificate.bin.data) continue;  // moved into an earlier group
            const std::string holder = pairs[i].holder;
            const size_t groupStart = ordered.size();
            for (const bool signing : {true, false})
                for (size_t j = i; j < pairs.size(); ++j) {
                    FilePair& p = pairs[j];
                    if (!p.certificate.bin.data || p.signing != signing) continue;
                    if (j != i && (holder.empty() || p.holder != holder)) continue;
                    ordered.push_back(std::move(p));
                }
            const size_t group = ordered.size() - groupStart;
            if (!holder.empty() && (group > 2 || (group == 2 && !ordered[groupStart].signing))) {
                TOKEN_FATAL(logger, "%s - two pairs for the same files...(%d)", kName,
                            TOKEN_ERR_PFX_REJECTED);
                return TOKEN_ERR_PFX_REJECTED;
            }
        }
        pairs = std::move(ordered);
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }

    // The first pair of each holder replaces its earlier key-management pair; a failure takes
    // back what the open import wrote (the kinds' import undoes the open import on failure).
    std::vector<std::string> seen;
    for (FilePair& p : pairs) {
        const bool firstOfHolder =
            p.holder.empty() || std::find(seen.begin(), seen.end(), p.holder) == seen.end();
        if (firstOfHolder) seen.push_back(p.holder);
        rc = importKeyInfo(*this, logger, kName, p.key.bin.data, p.key.bin.length,
                           p.certificate.bin.data, p.certificate.bin.length, keepNewer,
                           firstOfHolder && p.signing);
        if (rc != 0) return rc;
    }
    return 0;
}

int Token::exportPFX(unsigned char** out, unsigned long* outLength, InputPINHandler* handler,
                     const char* suiteItemId, const char* pairItemId, bool askOnce) {
    static constexpr const char* kName = "exportPFX";
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    if (!pfxReady()) return TOKEN_ERR_NOT_SUPPORTED;

    ExportedPair sign, km;
    int rc = exportCertificateAndKey(&sign.key.data, &sign.key.length, &sign.certificate.data,
                                     &sign.certificate.length, handler, suiteItemId, pairItemId);
    if (rc != 0) return rc;
    if (!sign.key.data || !sign.key.length || !sign.certificate.data || !sign.certificate.length ||
        sign.key.length > UINT32_MAX || sign.certificate.length > UINT32_MAX)
        return TOKEN_ERR_EXPORT_EMPTY;

    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", kName, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    PinArray pin;
    const auto purpose = static_cast<InputPINHandler::InputPINPurpose>(kFilePasswordPurpose);
    rc = askOnce ? handler->inputPIN(pin.data, tokenType, purpose)
                 : handler->inputDoublePin(pin.data, tokenType, purpose);
    if (rc == 1) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", kName, TOKEN_ERR_PIN_CANCELLED,
                    rc);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    if (rc != 0) return rc;
    // A password that fills the whole buffer was cut by the handler; an empty one protects
    // nothing. Neither becomes a file.
    if (!pin.terminated() || pin.length() == 0) {
        TOKEN_FATAL(logger, "%s - no usable file password...(%d)", kName, TOKEN_ERR_NO_PIN);
        return TOKEN_ERR_NO_PIN;
    }

    Pfx built;
    auto add = [&](ExportedPair& pair) {
        unsigned char id[kLocalKeyIdLength] = {};
        int r = TM_CRYPTO(SGRandom_bytes)(id, kLocalKeyIdLength);
        const SGBinary localKeyId{id, kLocalKeyIdLength};
        const SGBinary key{pair.key.data, static_cast<uint32_t>(pair.key.length)};
        const SGBinary certificate{pair.certificate.data,
                                   static_cast<uint32_t>(pair.certificate.length)};
        if (r == 0)
            r = TM_SERVICE(SGPKCS12PFX_AddCertificateAndKey)(
                &built.record, SG_PKCS12_FLAG_ENCRYPT_SAFE, &key, &certificate, 0, nullptr,
                &localKeyId, nullptr);
        if (r != 0) TOKEN_FATAL(logger, "%s - add certificate & key failed...(%d)()", kName, r);
        return r == 0 ? 0 : TOKEN_ERR_PFX_BAG;
    };
    if ((rc = add(sign)) != 0) return rc;

    // The key-management pair of a signing pair goes with it; a key-management pair named
    // itself has none beside it.
    const char digit = pairItemId && *pairItemId ? pairItemId[std::strlen(pairItemId) - 1] : 0;
    KmIds kmIds;
    if (digit != '3' && digit != '4' && getKMID(&kmIds.key, &kmIds.certificate, pairItemId) == 0) {
        rc = exportCertificateAndKey(&km.key.data, &km.key.length, &km.certificate.data,
                                     &km.certificate.length, handler, kmIds.key, kmIds.certificate);
        if (rc != 0) return rc;
        if (!km.key.data || !km.key.length || !km.certificate.data || !km.certificate.length ||
            km.key.length > UINT32_MAX || km.certificate.length > UINT32_MAX)
            return TOKEN_ERR_EXPORT_EMPTY;
        if ((rc = add(km)) != 0) return rc;
    }

    LibraryBytes encoded;
    const SGBinary password{reinterpret_cast<unsigned char*>(pin.data),
                            static_cast<uint32_t>(pin.length())};
    rc = TM_SERVICE(SGPKCS12PFX_Encode)(&encoded.bin, &built.record, &password, nullptr);
    if (rc != 0 || encoded.empty()) {
        TOKEN_FATAL(logger, "%s - encode pfx failed...(%d)()", kName, rc);
        return TOKEN_ERR_PFX_ENCODE;
    }
    unsigned char* copy = duplicateMemory(encoded.bin.data, encoded.bin.length);
    if (!copy) {
        TOKEN_FATAL(logger, "%s - pfx memory allocation failed...(%d)()", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    *out = copy;
    *outLength = encoded.bin.length;
    return 0;
}
