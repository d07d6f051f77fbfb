// The key operations every token shares: opening a stored private key, signing with it or with a
// software key pair, the certificate checks of the disk token, the key callbacks of the PKI layer
// and the software key pairs of the local key storage.
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>

#include "Logger.h"
#include "SGCipher.h"
#include "SGCryptoHandler.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCS1.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGRSA.h"
#include "SGX509Certificate.h"
#include "Token.h"
#include "TokenCertificate.h"
#include "TokenKeys.h"
#include "TokenLocalKeyStorage.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "Util.h"

static_assert(sizeof(TokenKeyCallbackContext) == 32);
static_assert(offsetof(TokenKeyCallbackContext, token) == 8);
static_assert(offsetof(TokenKeyCallbackContext, keyId) == 16);
static_assert(offsetof(TokenKeyCallbackContext, handler) == 24);

using brindlow::token::DecodedCertificate;
using namespace brindlow::token::keys;
using brindlow::token::kLibraryUnavailable;

namespace {

constexpr int kPublicExponent = 65537;
constexpr size_t kLongestShownDN = 1023;
constexpr const char kGovernmentOfKorea[] = "Government of Korea";

template <typename T>
void clearOutput(T** out) {
    if (out) *out = nullptr;
}

void clearLength(unsigned long* length) {
    if (length) *length = 0;
}

char* heapCopy(const std::string& text) {
    auto* copy =
        static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(text.size() + 1), 1));
    if (copy) std::memcpy(copy, text.data(), text.size());
    return copy;
}

LocalKeySet* localPair(TokenLocalKeyStorage* storage, const char* keyId) {
    return storage && keyId ? storage->get(keyId) : nullptr;
}

// Keeps a new pair in the storage and hands out its id and a copy of its public key: 0, or 1315
// with nothing kept or handed out. Never a success without an id: the caller could not reach
// the pair.
int storePair(TokenLocalKeyStorage* storage, const SGBinary& publicKey, const SGBinary& privateKey,
              char** keyId, unsigned char** publicOut, unsigned long* publicOutLength) {
    unsigned char* publicCopy = Token::duplicateMemory(publicKey.data, publicKey.length);
    const std::string id = publicCopy && storage ? storage->add(publicKey.data, publicKey.length,
                                                                privateKey.data, privateKey.length)
                                                 : std::string();
    char* idCopy = id.empty() ? nullptr : heapCopy(id);
    if (!idCopy) {
        if (!id.empty()) storage->del(id);
        Token::freeMemory(publicCopy, 0);
        return TOKEN_ERR_MEMORY;
    }
    *keyId = idCopy;
    *publicOut = publicCopy;
    *publicOutLength = publicKey.length;
    return 0;
}

bool fitsInt(unsigned long length) {
    return length <= static_cast<unsigned long>(INT_MAX);
}

// The text cut to at most limit bytes without splitting a UTF-8 character.
std::string cutAtCharacter(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// A validity time as the certificate layer renders it: digits only ("%Y%m%d%H%M%S").
int readDate(SGX509Certificate* certificate, int entry, char (&out)[32]) {
    std::memset(out, 0, sizeof out);
    const int rc =
        Util::X509Certificate_GetEntry_Remove_SpecialChar(certificate, out, sizeof out, entry, 0);
    if (rc != 0) return rc;
    if (out[0] == '\0') return SG_PKI_ERR_NO_DATA;
    for (const char* p = out; *p; ++p)
        if (*p < '0' || *p > '9') return SG_ASN_ERR_MALFORMED;
    return 0;
}

}  // namespace

// ---- Opening stored keys -------------------------------------------------------------------

int Token::decryptPrivateKeyFromPKCS8(void* key, void* random, unsigned char** parameters,
                                      unsigned long* parametersLength, unsigned char* data,
                                      unsigned long length, unsigned char* password,
                                      unsigned long passwordLength, int mode) {
    return decryptPrivateKeyFromPKCS8(key, random, parameters, parametersLength, data, length,
                                      password, passwordLength, mode, PKI_TYPE_NPKI);
}

int Token::decryptPrivateKeyFromPKCS8(void* key, void* random, unsigned char** parameters,
                                      unsigned long* parametersLength, unsigned char* data,
                                      unsigned long length, unsigned char* password,
                                      unsigned long passwordLength, int mode, PKIType keyRecord) {
    static constexpr const char* kName = "decryptPrivateKeyFromPKCS8";
    clearOutput(parameters);
    clearLength(parametersLength);
    if (mode != TOKEN_KEY_RECORD && mode != TOKEN_KEY_OCTETS && mode != TOKEN_KEY_INFO) {
        TOKEN_FATAL(logger, "%s - unsupported mode...(%d)(%d)", kName, TOKEN_ERR_NOT_SUPPORTED,
                    mode);
        return TOKEN_ERR_NOT_SUPPORTED;
    }
    if (!pkcs8Ready() || !rsaReady() || !dsReady()) return kLibraryUnavailable;
    if (!data || length == 0 || length > UINT32_MAX) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)", kName,
                    TOKEN_ERR_NOT_PKCS8, SG_PKI_ERR_ARGUMENT);
        return TOKEN_ERR_NOT_PKCS8;
    }
    const SGBinary der{data, static_cast<uint32_t>(length)};
    PlainKeyInfo info;
    EncryptedKeyInfo encrypted;
    int rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&encrypted.record, &der);
    if (rc != 0) {
        // Not encrypted: a plain PrivateKeyInfo is used as it is, whatever the password.
        const int plainRc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &der);
        if (plainRc != 0) {
            // A key file under an encryption, or a key of an algorithm, that the library lacks
            // is still a key file: saying it is none would send the user looking for another.
            int code = TOKEN_ERR_NOT_PKCS8;
            if (libraryLacks(rc) || libraryLacks(plainRc))
                code = TOKEN_ERR_NOT_SUPPORTED;
            else if (rc == SG_PKI_ERR_MEMORY || plainRc == SG_PKI_ERR_MEMORY)
                code = TOKEN_ERR_MEMORY;
            TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)",
                        kName, code, plainRc);
            return code;
        }
    } else {
        if (!fitsInt(passwordLength)) {
            TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)(%d)", kName,
                        TOKEN_ERR_KEY_DECRYPT, SG_PKI_ERR_ARGUMENT);
            return TOKEN_ERR_KEY_DECRYPT;
        }
        SecretBytes plain(encrypted.record.encryptedData.length);
        if (!plain.data()) {
            TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
            return TOKEN_ERR_MEMORY;
        }
        int plainLength = 0;
        rc = TM_SERVICE(SGPKCS5Decrypt)(plain.data(), &plainLength, &encrypted.record, password,
                                        static_cast<int>(passwordLength));
        if (rc != 0) {
            const int code = decryptFailure(rc);
            TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)(%d)", kName, code, rc);
            return code;
        }
        const SGBinary plainDer{plain.data(), static_cast<uint32_t>(plainLength)};
        rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &plainDer);
        if (rc != 0) {
            // A key that opens but names an algorithm (or carries an attribute) the library lacks
            // is not a wrong password: garbage from a wrong one does not decode that far.
            const int code = libraryLacks(rc)          ? TOKEN_ERR_NOT_SUPPORTED
                             : rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY
                                                       : TOKEN_ERR_KEY_DECRYPT;
            TOKEN_FATAL(logger, "%s - PKCS8 private key info decode failed...(%d)(%d)", kName, code,
                        rc);
            return code;
        }
    }

    SGPKCS8PrivateKeyInfo& opened = info.record;
    if (key && mode == TOKEN_KEY_INFO) {
        // The whole record becomes the caller's: nothing here releases it any more.
        std::memcpy(key, &opened, sizeof opened);
        std::memset(&opened, 0, sizeof opened);
        return 0;
    }

    // The copies of the random and the parameters are made first, so that a failure leaves
    // every output as it was.
    SGBinary randomCopy{};
    auto releaseRandom = [&] { TM_BASE(SGBinary_Cleanse)(&randomCopy); };
    if (random && opened.randomNum && opened.randomNum->length &&
        TM_BASE(SGBinary_Copy)(&randomCopy, opened.randomNum) != 0) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }

    unsigned char* parametersCopy = nullptr;
    if (key && mode == TOKEN_KEY_RECORD) {
        const bool rsa = opened.algorithm == SG_PKCS8_ALGORITHM_RSA;
        const bool kcdsa = opened.algorithm == SG_PKCS8_ALGORITHM_KCDSA ||
                           opened.algorithm == SG_PKCS8_ALGORITHM_KCDSA2;
        // The caller's record decides: a key of the other kind is never written into it.
        if (!(keyRecord == PKI_TYPE_NPKI && rsa) && !(keyRecord == PKI_TYPE_GPKI && kcdsa)) {
            TOKEN_FATAL(logger, "%s - unsupported algorith...(%d)(%d)", kName,
                        TOKEN_ERR_NOT_SUPPORTED, opened.algorithm);
            releaseRandom();
            return TOKEN_ERR_NOT_SUPPORTED;
        }
        if (kcdsa && parameters && parametersLength && opened.parameters &&
            opened.parameters->length) {
            parametersCopy = duplicateMemory(opened.parameters->data, opened.parameters->length);
            if (!parametersCopy) {
                TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName,
                            TOKEN_ERR_MEMORY);
                releaseRandom();
                return TOKEN_ERR_MEMORY;
            }
        }
        const SGBinary& octets = opened.privateKey;
        if (octets.length > static_cast<uint32_t>(INT_MAX))
            rc = SG_PKI_ERR_OUT_OF_RANGE;
        else if (rsa) {
            std::memset(key, 0, sizeof(SGRSAPrivateKey));
            rc = TM_CRYPTO(SGRSAPrivateKey_Decode)(static_cast<SGRSAPrivateKey*>(key), octets.data,
                                                   static_cast<int>(octets.length));
            // What a failed decoding read is released, so the caller's record stays empty.
            if (rc != 0) TM_CRYPTO(SGRSAPrivateKey_Free)(static_cast<SGRSAPrivateKey*>(key));
        } else {
            rc = TM_CRYPTO(SGDSKey_Decode)(static_cast<SGDSKey*>(key), octets.data,
                                           static_cast<int>(octets.length), SG_DSKEY_KCDSA_PRIVATE);
        }
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - private key decode failed...(%d)(%d)", kName,
                        TOKEN_ERR_INVALID_DATA, rc);
            freeMemory(parametersCopy, 0);
            releaseRandom();
            return TOKEN_ERR_INVALID_DATA;
        }
        if (parametersCopy) {
            *parameters = parametersCopy;
            *parametersLength = opened.parameters->length;
        }
    } else if (key && mode == TOKEN_KEY_OCTETS) {
        // The octets move to the caller rather than being copied once more.
        auto* out = static_cast<SGBinary*>(key);
        *out = opened.privateKey;
        opened.privateKey = SGBinary{};
    }
    if (random) *static_cast<SGBinary*>(random) = randomCopy;
    return 0;
}

// ---- Local signing -------------------------------------------------------------------------

int Token::generateSignatureLocal(unsigned char* out, unsigned long* outLength, unsigned char* data,
                                  unsigned long length, void* key, const char* keyId, const char*,
                                  TokenGenerateSignatureParameters* parameters, PKIType pkiType) {
    static constexpr const char* kName = "generateSignatureLocal";
    TOKEN_DEBUG(logger, "%s - generateSignatureLocal start", kName);
    if (pkiType != PKI_TYPE_NPKI && pkiType != PKI_TYPE_GPKI) {
        TOKEN_FATAL(logger, "%s - unsupported PKI type...(%d)(%d)", kName, TOKEN_ERR_NOT_SUPPORTED,
                    static_cast<int>(pkiType));
        return TOKEN_ERR_NOT_SUPPORTED;
    }
    if (!outLength || (!data && length) || !fitsInt(length)) {
        TOKEN_FATAL(logger, "%s - invalid argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!rsaReady() || !dsReady()) return kLibraryUnavailable;
    LocalKeySet* pair = nullptr;
    if (!key) {
        pair = localPair(localKeyStorage, keyId);
        if (!pair || pair->privateKey.length > static_cast<uint32_t>(INT_MAX)) {
            TOKEN_FATAL(logger, "%s - local key not found...(%d)", kName, TOKEN_ERR_NO_LOCAL_KEY);
            return TOKEN_ERR_NO_LOCAL_KEY;
        }
    }
    const unsigned int room =
        *outLength > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(*outLength);
    unsigned int needed = 0, written = 0;
    // The size first (a null buffer); a short output is refused before signing, so no part of a
    // signature is ever left in it.
    auto signWith = [&](auto&& sign) {
        int r = sign(nullptr, &needed);
        if (r != 0 || !out) return r;
        if (room < needed) {
            *outLength = needed;
            TOKEN_FATAL(logger, "%s - output too short...(%d)(%lu)", kName,
                        SG_PKCS1_ERR_OUTPUT_TOO_SHORT, static_cast<unsigned long>(needed));
            return static_cast<int>(SG_PKCS1_ERR_OUTPUT_TOO_SHORT);
        }
        written = room;
        return sign(out, &written);
    };
    int rc;
    if (pkiType == PKI_TYPE_NPKI) {
        RsaPrivateKey local;
        auto* rsa = static_cast<SGRSAPrivateKey*>(key);
        if (!rsa) {
            rc = TM_CRYPTO(SGRSAPrivateKey_Decode)(&local.key, pair->privateKey.data,
                                                   static_cast<int>(pair->privateKey.length));
            if (rc != 0) {
                TOKEN_FATAL(logger, "%s - private key decode failed...(%d)", kName, rc);
                return rc;
            }
            rsa = &local.key;
        }
        // The input is signed as given: a DigestInfo is padded, a whole block is used as it is.
        SGPKCS1Parameter p{};
        p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
        p.hashId = SG_PKCS1_HASH_AS_GIVEN;
        p.alreadyHashed = 1;
        p.privateKey = rsa;
        rc = signWith([&](unsigned char* buffer, unsigned int* size) {
            return TM_CRYPTO(SGPKCS1_Sign)(buffer, size, data, static_cast<unsigned>(length), &p);
        });
    } else {
        DsKey local;
        auto* ds = static_cast<SGDSKey*>(key);
        if (!ds) {
            rc = TM_CRYPTO(SGDSKey_Decode)(&local.key, pair->privateKey.data,
                                           static_cast<int>(pair->privateKey.length),
                                           SG_DSKEY_KCDSA_PRIVATE);
            if (rc != 0) {
                TOKEN_FATAL(logger, "%s - private key decode failed...(%d)", kName, rc);
                return rc;
            }
            ds = &local.key;
        }
        SGDSParameter p{};
        p.kind = SG_DS_KCDSA;
        p.key = ds;
        p.kcdsaHashId = SG_DIGEST_SHA256;
        if (parameters && parameters->dsParameters &&
            parameters->dsParametersLength <= UINT32_MAX) {
            p.kcdsaDomainParameters = parameters->dsParameters;
            p.kcdsaDomainParametersLength = static_cast<uint32_t>(parameters->dsParametersLength);
        }
        rc = signWith([&](unsigned char* buffer, unsigned int* size) {
            const int r = TM_CRYPTO(SGDS_Sign)(buffer, size, data, static_cast<int>(length), &p);
            // The size query of KCDSA answers "buffer too short" with the largest signature.
            return !buffer && r == SG_KCDSA_ERR_BUFFER ? 0 : r;
        });
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - sign failed...(%d)", kName, rc);
        return rc;
    }
    *outLength = out ? written : needed;
    TOKEN_DEBUG(logger, "%s - generateSignatureLocal end", kName);
    return 0;
}

// ---- Certificate checks --------------------------------------------------------------------

std::wstring Token::getCertFileName(const bool& npki, const bool& certificate, const bool& signing,
                                    const std::wstring& base) {
    if (npki) {
        if (certificate) return signing ? L"signCert.der" : L"kmCert.der";
        return signing ? L"signPri.key" : L"kmPri.key";
    }
    if (certificate) return base + (signing ? L"_sig.cer" : L"_env.cer");
    return base + (signing ? L"_sig.key" : L"_env.key");
}

std::string Token::getDNByCert(unsigned char* certificate, const unsigned long& length) {
    static constexpr const char* kName = "getDNByCert";
    DecodedCertificate decoded;
    int rc = decoded.decode(certificate, length);
    TOKEN_DEBUG(logger, "%s - SGX509Certificate_FromBinary (%d)", kName, rc);
    std::string subject;
    if (rc == 0) {
        rc = brindlow::token::entryText(decoded.handle(), SG_X509_ENTRY_SUBJECT, 0, 1024, subject);
        TOKEN_DEBUG(logger, "%s - Util::X509Certificate_GetEntry_Remove_SpecialChar (%d)", kName,
                    rc);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - invalid certificate error: (%d)", kName, TOKEN_ERR_INVALID_DATA);
        return {};
    }
    return cutAtCharacter(std::move(subject), kLongestShownDN);
}

bool Token::IsNPKI(unsigned char* certificate, const unsigned long& length) {
    static constexpr const char* kName = "IsNPKI";
    std::string subject = getDNByCert(certificate, length);
    if (subject.empty()) {
        TOKEN_FATAL(logger, "%s - getDNByCert error: (%d)", kName, 0);
        return true;
    }
    char organization[1024] = {};
    const int rc = Util::parseDN(subject.data(), organization, sizeof organization, DNTYPE_O);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - Util::parseDN error: (%d)", kName, rc);
        return true;
    }
    return std::strcmp(organization, kGovernmentOfKorea) != 0;
}

bool Token::IsDigitalSignature(unsigned char* certificate, const unsigned long& length) {
    static constexpr const char* kName = "IsDigitalSignature";
    if (!certificate || length == 0) return true;
    DecodedCertificate decoded;
    int rc = decoded.decode(certificate, length);
    TOKEN_DEBUG(logger, "%s - SGX509Certificate_FromBinary (%d)", kName, rc);
    char usage[1024] = {};
    if (rc == 0) {
        rc = Util::X509Certificate_GetEntry_Remove_SpecialChar(
            decoded.handle(), usage, sizeof usage, SG_X509_ENTRY_KEY_USAGE, 0);
        TOKEN_DEBUG(logger, "%s - Util::X509Certificate_GetEntry_Remove_SpecialChar (%d)", kName,
                    rc);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - invalid certificate error: (%d)", kName, TOKEN_ERR_INVALID_DATA);
        return true;
    }
    return std::strstr(usage, "digitalSignature") != nullptr;
}

bool Token::checkCertificate(unsigned char* oldCertificate, unsigned int oldLength,
                             unsigned char* newCertificate, unsigned int newLength) {
    static constexpr const char* kName = "checkCertificate";
    DecodedCertificate stored, offered;
    int rc = stored.decode(oldCertificate, oldLength);
    const bool storedDecodes = rc == 0;
    if (!storedDecodes) TOKEN_FATAL(logger, "%s - invalid old certificate(%d)", kName, rc);
    rc = offered.decode(newCertificate, newLength);
    // Only a certificate that can be read replaces the stored one.
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - invalid new certificate(%d)", kName, rc);
        return false;
    }
    char newFrom[32], newTo[32], oldFrom[32], oldTo[32];
    rc = readDate(offered.handle(), SG_X509_ENTRY_NOT_BEFORE, newFrom);
    if (rc == 0) rc = readDate(offered.handle(), SG_X509_ENTRY_NOT_AFTER, newTo);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - get expire time to new certificate failed(%d)", kName, rc);
        return false;
    }
    if (!storedDecodes) return true;
    rc = readDate(stored.handle(), SG_X509_ENTRY_NOT_BEFORE, oldFrom);
    if (rc == 0) rc = readDate(stored.handle(), SG_X509_ENTRY_NOT_AFTER, oldTo);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - get expire time to old certificate failed(%d)", kName, rc);
        return true;
    }
    if (Util::compareDateStr(oldFrom, oldTo, newFrom, newTo)) return true;
    TOKEN_FATAL(logger, "%s - check Certificate error(o:%s ~ %s)(n:%s ~ %s)", kName, oldFrom, oldTo,
                newFrom, newTo);
    return false;
}

// ---- Software key pairs --------------------------------------------------------------------

int Token::generateKeyPair(char** keyId, unsigned char** publicKey, unsigned long* publicKeyLength,
                           InputPINHandler*, TokenGenerateKeyPairParameters* parameters) {
    static constexpr const char* kName = "generateKeyPair";
    clearOutput(keyId);
    clearOutput(publicKey);
    clearLength(publicKeyLength);
    if (!keyId || !publicKey || !publicKeyLength) {
        TOKEN_FATAL(logger, "%s - invalid argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!rsaReady()) return kLibraryUnavailable;
    RsaPrivateKey privateKey;
    RsaPublicKey publicRecord;
    int rc = TM_CRYPTO(SGRSA_GenerateKeyPair)(
        &privateKey.key, &publicRecord.key, parameters ? parameters->keySize : 0, kPublicExponent);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - key pair generation failed...(%d)", kName, rc);
        return rc;
    }
    unsigned int privateLength = 0, publicDerLength = 0;
    rc = TM_CRYPTO(SGRSAPrivateKey_Encode)(nullptr, &privateLength, &privateKey.key);
    if (rc == 0)
        rc = TM_CRYPTO(SGRSAPublicKey_Encode)(nullptr, &publicDerLength, &publicRecord.key);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - key encoding failed...(%d)", kName, rc);
        return rc;
    }
    SecretBytes privateDer(privateLength);
    SecretBytes publicDer(publicDerLength);
    if (!privateDer.data() || !publicDer.data()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    rc = TM_CRYPTO(SGRSAPrivateKey_Encode)(privateDer.data(), &privateLength, &privateKey.key);
    if (rc == 0)
        rc =
            TM_CRYPTO(SGRSAPublicKey_Encode)(publicDer.data(), &publicDerLength, &publicRecord.key);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - key encoding failed...(%d)", kName, rc);
        return rc;
    }
    const SGBinary publicBinary{publicDer.data(), publicDerLength};
    const SGBinary privateBinary{privateDer.data(), privateLength};
    const int stored =
        storePair(localKeyStorage, publicBinary, privateBinary, keyId, publicKey, publicKeyLength);
    if (stored != 0)
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
    return stored;
}

int Token::getOldKeyPair(char** keyId, unsigned char** publicKey, unsigned long* publicKeyLength,
                         const char* itemId, InputPINHandler* handler) {
    static constexpr const char* kName = "getOldKeyPair";
    clearOutput(keyId);
    clearOutput(publicKey);
    clearLength(publicKeyLength);
    if (!keyId || !publicKey || !publicKeyLength) {
        TOKEN_FATAL(logger, "%s - invalid argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!pkcs8Ready() || !brindlow::token::certificatesReady() ||
        !TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo))
        return kLibraryUnavailable;
    TokenBuffer exportedKey{.secret = true};
    TokenBuffer certificate;
    int rc = exportCertificateAndKey(&exportedKey.data, &exportedKey.length, &certificate.data,
                                     &certificate.length, handler, itemId, itemId);
    if (rc != 0 || !exportedKey.data || !exportedKey.length || !certificate.data ||
        !certificate.length || exportedKey.length > UINT32_MAX) {
        // A cancelled or wrong password is the user's answer, not a missing key.
        const int code = rc == TOKEN_ERR_PIN_CANCELLED || rc == TOKEN_ERR_WRONG_PIN
                             ? rc
                             : TOKEN_ERR_CERT_PUBLIC_KEY;
        TOKEN_FATAL(logger, "%s - get certificate failed..(%d)(%d)", kName, code, rc);
        return code;
    }
    DecodedCertificate decoded;
    rc = decoded.decode(certificate.data, certificate.length);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decode x509 failed..(%d)(%d)", kName, TOKEN_ERR_X509_DECODE, rc);
        return TOKEN_ERR_X509_DECODE;
    }
    int keyKind = 0;
    SGBinary keyBits{};
    rc = TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(&keyKind, nullptr, &keyBits, nullptr,
                                                        decoded.handle());
    PlainKeyInfo info;
    if (rc == 0 && (!keyBits.data || !keyBits.length)) rc = SG_PKI_ERR_NO_DATA;
    if (rc == 0) {
        const SGBinary der{exportedKey.data, static_cast<uint32_t>(exportedKey.length)};
        rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &der);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - X509 certificate get public key info failed...(%d)(%d)", kName,
                    TOKEN_ERR_CERT_PUBLIC_KEY, rc);
        return TOKEN_ERR_CERT_PUBLIC_KEY;
    }
    const int stored = storePair(localKeyStorage, keyBits, info.record.privateKey, keyId, publicKey,
                                 publicKeyLength);
    if (stored != 0)
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
    return stored;
}

int Token::decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                   unsigned long inLength, InputPINHandler*, const char* keyId,
                   TokenDecryptParameters*) {
    static constexpr const char* kName = "decrypt";
    clearOutput(out);
    clearLength(outLength);
    LocalKeySet* pair = localPair(localKeyStorage, keyId);
    if (!pair) {
        TOKEN_FATAL(logger, "%s - local key not found...(%d)", kName, TOKEN_ERR_NO_LOCAL_KEY);
        return TOKEN_ERR_NO_LOCAL_KEY;
    }
    if (!out || !outLength || (!in && inLength) || inLength > UINT32_MAX ||
        pair->privateKey.length > static_cast<uint32_t>(INT_MAX)) {
        TOKEN_FATAL(logger, "%s - invalid argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!rsaReady()) return kLibraryUnavailable;
    RsaPrivateKey key;
    int rc = TM_CRYPTO(SGRSAPrivateKey_Decode)(&key.key, pair->privateKey.data,
                                               static_cast<int>(pair->privateKey.length));
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - private key decode failed...(%d)", kName, rc);
        return rc;
    }
    const unsigned int size = inLength ? static_cast<unsigned>(inLength) : 1;
    unsigned char* plain = allocMemory(size);
    if (!plain) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    SGPKCS1Parameter p{};
    p.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    p.privateKey = &key.key;
    unsigned int plainLength = size;
    rc = TM_CRYPTO(SGPKCS1_Decrypt)(plain, &plainLength, in, static_cast<unsigned>(inLength), &p);
    if (rc != 0) {
        // Whatever a failed decryption left in the buffer is no plaintext to hand out.
        freeMemory(plain, size);
        TOKEN_FATAL(logger, "%s - PKCS1 decrypt failed...(%d)", kName, rc);
        return rc;
    }
    *out = plain;
    *outLength = plainLength;
    return 0;
}

int Token::getKeySize(unsigned long* size, InputPINHandler*, const char* keyId) {
    static constexpr const char* kName = "getKeySize";
    clearLength(size);
    LocalKeySet* pair = localPair(localKeyStorage, keyId);
    if (!pair) {
        TOKEN_FATAL(logger, "%s - local key not found...(%d)", kName, TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    if (!size || pair->publicKey.length > static_cast<uint32_t>(INT_MAX)) {
        TOKEN_FATAL(logger, "%s - invalid argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!rsaReady()) return kLibraryUnavailable;
    RsaPublicKey key;
    int bytes = 0;
    int rc = TM_CRYPTO(SGRSAPublicKey_Decode)(&key.key, pair->publicKey.data,
                                              static_cast<int>(pair->publicKey.length));
    if (rc == 0) rc = TM_CRYPTO(SGRSAPublicKey_GetKeySize)(&bytes, &key.key);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - public key decode failed...(%d)", kName, rc);
        return rc;
    }
    *size = static_cast<unsigned long>(bytes);
    return 0;
}

int Token::import(char* keyId, unsigned char* certificate, unsigned long certificateLength,
                  unsigned char* vidRandom, unsigned long vidRandomLength, const bool& keepNewer) {
    static constexpr const char* kName = "import";
    LocalKeySet* pair = localPair(localKeyStorage, keyId);
    if (!pair) {
        TOKEN_FATAL(logger, "%s - local key not found...(%d)", kName, TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    const std::string id(keyId);
    const bool replaceKM = false;
    const int rc =
        import(pair->privateKey.data, pair->privateKey.length, certificate, certificateLength,
               vidRandom, vidRandomLength, nullptr, 0, keepNewer ? 1u : 0u, replaceKM);
    // The pair now lives in the token's store; on failure it stays for another attempt.
    if (rc == 0) localKeyStorage->del(id);
    return rc;
}

// ---- Key callbacks -------------------------------------------------------------------------

namespace {

int remember(TokenKeyCallbackContext* context, int code) {
    context->result = code;
    return code;
}

}  // namespace

extern "C" int P1GetKeySizeCallback(unsigned int* size, void* userData) {
    auto* context = static_cast<TokenKeyCallbackContext*>(userData);
    if (!context || !context->token) return TOKEN_ERR_INVALID_DATA;
    try {
        unsigned long value = 0;
        int rc = context->token->getKeySize(&value, context->handler, context->keyId);
        if (rc == 0 && value > UINT_MAX) rc = TOKEN_ERR_PUBLIC_KEY;
        if (rc == 0 && size) *size = static_cast<unsigned int>(value);
        return remember(context, rc);
    } catch (...) {
        return remember(context, TOKEN_ERR_MEMORY);
    }
}

extern "C" int P1SignCallback(unsigned char* out, unsigned int* length, const unsigned char* input,
                              unsigned int inputLength, unsigned int algorithm, void* userData) {
    auto* context = static_cast<TokenKeyCallbackContext*>(userData);
    if (!context || !context->token) return TOKEN_ERR_INVALID_DATA;
    if (!length) return remember(context, TOKEN_ERR_INVALID_DATA);
    // The tokens sign PKCS #1 v1.5 over what they get, and KCDSA with SHA-256 only: anything
    // else would come back as a signature of another kind than the one asked for.
    const unsigned int scheme = algorithm & 0xFFFF, hashId = algorithm >> 16;
    const bool honoured = scheme == SG_CRYPTO_HANDLER_RSA_PKCS1 ||
                          (scheme == SG_CRYPTO_HANDLER_KCDSA && hashId == SG_DIGEST_SHA256);
    if (!honoured) return remember(context, TOKEN_ERR_NOT_SUPPORTED);
    try {
        const unsigned int room = *length;
        unsigned char* signature = Token::allocMemory(room ? room : 1);
        if (!signature) return remember(context, TOKEN_ERR_MEMORY);
        unsigned long signatureLength = room;
        TokenGenerateSignatureParameters parameters{};
        int rc = context->token->generateSignatureRAW(
            signature, &signatureLength, context->handler, const_cast<unsigned char*>(input),
            inputLength, context->keyId, context->keyId, &parameters);
        if (rc == 0 && signatureLength > room) rc = TOKEN_ERR_INVALID_DATA;
        if (rc == 0) {
            *length = static_cast<unsigned int>(signatureLength);
            if (out) std::memcpy(out, signature, signatureLength);
        }
        Token::freeMemory(signature, room);
        return remember(context, rc);
    } catch (...) {
        return remember(context, TOKEN_ERR_MEMORY);
    }
}

extern "C" int DecryptCallback(unsigned char* out, unsigned int* length, const unsigned char* input,
                               unsigned int inputLength, unsigned int padding, void* userData) {
    auto* context = static_cast<TokenKeyCallbackContext*>(userData);
    if (!context || !context->token) return TOKEN_ERR_INVALID_DATA;
    // The tokens decrypt PKCS #1 v1.5 only: an OAEP block taken for one would come back as
    // garbage handed out as plaintext.
    if ((padding & 0xFFFF) != SG_CRYPTO_HANDLER_PKCS1_V15)
        return remember(context, TOKEN_ERR_NOT_SUPPORTED);
    try {
        TokenBuffer plain{.secret = true};
        TokenDecryptParameters parameters{};
        int rc =
            context->token->decrypt(&plain.data, &plain.length, const_cast<unsigned char*>(input),
                                    inputLength, context->handler, context->keyId, &parameters);
        if (rc == 0 && (!out || !length || plain.length > inputLength || plain.length > *length ||
                        (plain.length && !plain.data)))
            rc = TOKEN_ERR_INVALID_DATA;
        if (rc == 0) {
            if (plain.length) std::memcpy(out, plain.data, plain.length);
            *length = static_cast<unsigned int>(plain.length);
        }
        return remember(context, rc);
    } catch (...) {
        return remember(context, TOKEN_ERR_MEMORY);
    }
}
