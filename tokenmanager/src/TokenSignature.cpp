// The signing entry points every token offers: text and byte level, PKCS #1 over the token's
// own generateSignatureRAW, CMS SignedData through the key callbacks (the key never leaves the
// token), the verification that may follow, and the two file operations.
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "Logger.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGFile.h"
#include "SGMemory.h"
#include "SGPKCS1.h"
#include "SGPKCS7SignedData.h"
#include "SGX509Certificate.h"
#include "Token.h"
#include "TokenCertificate.h"
#include "TokenCodec.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "TokenText.h"

using brindlow::token::DecodedCertificate;
using brindlow::token::kLibraryUnavailable;
using brindlow::token::keys::TokenBuffer;

namespace {

// The DigestInfo parameters of raw mode: an OCTET STRING of eight fixed bytes, written where
// NULL would stand.
constexpr unsigned char LINDCOM_DIGEST_INFO[10] = {0x04, 0x08, 0x0F, 0x32, 0x1F,
                                                   0x32, 0x45, 0x36, 0x37, 0x39};
constexpr unsigned long kMiB = 1048576;
constexpr unsigned int kLongestDigestInfo = 256;
constexpr int kFileRefused = 4003;

enum : SignType {
    SIGN_PKCS1 = 0,
    SIGN_CMS_BARE_BY_SUBJECT = 1,
    SIGN_CMS = 2,
    SIGN_PKCS1_RAW = 3,
    SIGN_CMS_DETACHED = 4
};
enum : SignInputType {
    INPUT_DIGEST_INFO = 1,
    INPUT_FILE = 2,
    INPUT_HASH = 3,
    INPUT_NAMED_FILE = 4
};

bool beginsWithSha1(const char* name) {
    return name && std::strlen(name) >= 4 && ::strncasecmp(name, "sha1", 4) == 0;
}

// The digest a PKCS #1 signature is made with: SHA-256 in raw mode and unless SHA-1 is named.
int pkcs1Digest(const TokenGenerateSignatureParameters& parameters) {
    if (parameters.pkcs1Raw) return SG_DIGEST_SHA256;
    return beginsWithSha1(parameters.hashName) ? SG_DIGEST_SHA1 : SG_DIGEST_SHA256;
}

// The content mode of a CMS signature by input type: a DigestInfo or a finished digest.
int contentMode(SignInputType type) {
    if (type == INPUT_HASH) return SG_PKCS7_MODE_HASH;
    if (type == INPUT_DIGEST_INFO) return SG_PKCS7_MODE_DIGEST_INFO;
    return SG_PKCS7_MODE_MESSAGE;
}

// A Base64 text decoded into a string (a path); false when it is not Base64.
bool decodePath(const char* base64, std::string* path) {
    unsigned char* bytes = nullptr;
    unsigned int length = 0;
    if (!base64 || Base64::decode(&bytes, &length, base64) != 0) {
        Base64::free(bytes);
        return false;
    }
    path->assign(reinterpret_cast<const char*>(bytes), length);
    Base64::free(bytes);
    // A path with a NUL inside would name another file than the one given.
    return !path->empty() && path->find('\0') == std::string::npos;
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The signed data of a file: the content, or name "^" content. With a limit (bytes), data
// beyond it gives 1029, checked on the file's size before anything is read.
int readSignedFile(TokenBuffer* out, const std::string& path, SignInputType type, bool limited,
                   uint64_t limit, Logger* logger) {
    static constexpr const char* kName = "readPlainFromFile";
    const std::string prefix = type == INPUT_FILE ? std::string() : fileNameOf(path) + "^";
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        const uint64_t total = prefix.size() + static_cast<uint64_t>(status.st_size);
        if (limited && total > limit) return TOKEN_ERR_INPUT_TOO_LONG;
        // Beyond what one buffer length holds the data would be cut: refused whole.
        if (total >= UINT32_MAX) return TOKEN_ERR_READ_FILE;
    }
    void* content = nullptr;
    uint32_t size = 0;
    const int rc = TM_BASE(SGFile_Read)(&content, &size, path.c_str());
    TOKEN_DEBUG(logger, "%s - SGFile_Read failed..(%d)", kName, rc);
    if (rc != 0) {
        if (content) TM_BASE(SGMemory_free)(content);
        return rc == kFileRefused ? TOKEN_ERR_READ_REFUSED : TOKEN_ERR_READ_FILE;
    }
    const uint64_t total = prefix.size() + static_cast<uint64_t>(size);
    if ((limited && total > limit) || total >= UINT32_MAX) {
        TM_BASE(SGMemory_free)(content);
        return limited && total > limit ? TOKEN_ERR_INPUT_TOO_LONG : TOKEN_ERR_READ_FILE;
    }
    out->data = Token::allocMemory(static_cast<unsigned int>(total ? total : 1));
    if (!out->data) {
        if (content) TM_BASE(SGMemory_free)(content);
        return TOKEN_ERR_MEMORY;
    }
    std::memcpy(out->data, prefix.data(), prefix.size());
    if (size) std::memcpy(out->data + prefix.size(), content, size);
    out->length = static_cast<unsigned long>(total);
    if (content) TM_BASE(SGMemory_free)(content);
    return 0;
}

bool signingReady() {
    return TM_CRYPTO_READY(SGDigest) && TM_CRYPTO_READY(SGPKCS1_CreateDigestInfo) &&
           TM_SERVICE_READY(SGPKCS7SignedData_Sign) && TM_SERVICE_READY(SGX509Certificate_Clear);
}

bool verifyingReady() {
    return TM_CRYPTO_READY(SGDigest) && TM_CRYPTO_READY(SGDSKey_Decode) &&
           TM_CRYPTO_READY(SGDS_Verify) && TM_CRYPTO_READY(SGDSKey_Clear) &&
           TM_SERVICE_READY(SGPKCS7SignedData_Verify) &&
           TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo);
}

// An SGDSKey released with the object.
struct VerifyKey {
    SGDSKey key{};
    bool loaded = false;
    ~VerifyKey() {
        if (loaded) TM_CRYPTO(SGDSKey_Clear)(&key);
    }
};

}  // namespace

int Token::generateSignature(char** out, InputPINHandler* handler, char* input, const char* keyId,
                             const char* certificateId,
                             TokenGenerateSignatureParameters* parameters, SignType type) {
    static constexpr const char* kName = "generateSignature";
    if (!out) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    TokenGenerateSignatureParameters none{};
    const TokenGenerateSignatureParameters& p = parameters ? *parameters : none;
    // The limit in 64 bits: a large limit must not wrap round to a small one.
    const uint64_t limit = p.inputLimitMiB > 0 ? static_cast<uint64_t>(p.inputLimitMiB) * kMiB : 0;
    try {
        TokenBuffer data;
        if (input) {
            if (p.signInputType == INPUT_FILE || p.signInputType == INPUT_NAMED_FILE) {
                std::string path;
                if (!decodePath(input, &path)) {
                    TOKEN_FATAL(logger, "%s - base64 decode fail...(%d)", "readPlainFromFile", -1);
                    return -1;
                }
                if (int rc = readSignedFile(&data, path, p.signInputType, true, limit, logger))
                    return rc;
            } else {
                unsigned char* decoded = nullptr;
                unsigned int decodedLength = 0;
                const int rc = Base64::decode(&decoded, &decodedLength, input);
                if (rc != 0) {
                    TOKEN_FATAL(logger, "%s - base64 decode fail...(%d)", kName, rc);
                    Base64::free(decoded);
                    return rc;
                }
                data.data = duplicateMemory(decoded, decodedLength);
                data.length = decodedLength;
                Base64::free(decoded);
                if (decodedLength && !data.data) return TOKEN_ERR_MEMORY;
            }
        }
        if (data.length > limit) return TOKEN_ERR_INPUT_TOO_LONG;

        unsigned char* signature = nullptr;
        unsigned long signatureLength = 0;
        const int rc = generateSignature(&signature, &signatureLength, handler, data.data,
                                         data.length, keyId, certificateId, parameters, type);
        if (signature) {
            const int encoded = brindlow::token::base64Text(out, signature, signatureLength);
            freeMemory(signature, signatureLength);
            if (encoded) return rc ? rc : encoded;
        }
        return rc;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}

int Token::generateSignature(unsigned char** out, unsigned long* outLength,
                             InputPINHandler* handler, unsigned char* data, unsigned long length,
                             const char* keyId, const char* certificateId,
                             TokenGenerateSignatureParameters* parameters, SignType type) {
    static constexpr const char* kName = "generateSignature";
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    // The type's options go on a copy: a caller that reuses its record for another type must
    // not find the options of this one in it.
    TokenGenerateSignatureParameters options{};
    if (parameters) options = *parameters;
    int rc;
    switch (type) {
        case SIGN_CMS_BARE_BY_SUBJECT:
            options.cmsSignerBySubject = true;
            options.cmsBareSignedData = true;
            rc = generateSignatureCMS(out, outLength, handler, data, length, keyId, certificateId,
                                      &options);
            break;
        case SIGN_PKCS1_RAW:
            options.pkcs1Raw = true;
            rc = generateSignaturePKCS1(out, outLength, handler, data, length, keyId, keyId,
                                        &options);
            break;
        case SIGN_CMS_DETACHED:
            options.cmsDetached = true;
            rc = generateSignatureCMS(out, outLength, handler, data, length, keyId, certificateId,
                                      &options);
            break;
        case SIGN_PKCS1:
            rc = generateSignaturePKCS1(out, outLength, handler, data, length, keyId, keyId,
                                        &options);
            break;
        default:
            rc = generateSignatureCMS(out, outLength, handler, data, length, keyId, certificateId,
                                      &options);
            break;
    }
    if (!options.verifyAfterSigning) return rc;
    if (type != SIGN_PKCS1 && type != SIGN_CMS && type != SIGN_CMS_DETACHED) {
        TOKEN_FATAL(logger, "%s - unknown type...(%d)", kName, type);
        return rc;
    }
    // Only a signature that was made is verified; a failed signing keeps its own code.
    if (rc != 0 || !*out) return rc;
    const int verified = verifySignature(*out, *outLength, data, length, keyId, &options, type);
    if (verified != 0) {
        TOKEN_FATAL(logger, "%s - PKCS7 verify failed...(%d)", kName, verified);
        return TOKEN_ERR_SIGNATURE_VERIFY;
    }
    return 0;
}

int Token::generateSignaturePKCS1(unsigned char** out, unsigned long* outLength,
                                  InputPINHandler* handler, unsigned char* data,
                                  unsigned long length, const char* keyId, const char*,
                                  TokenGenerateSignatureParameters* parameters) {
    static constexpr const char* kName = "generateSignaturePKCS1";
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    if (!signingReady()) return kLibraryUnavailable;
    // The digest takes a 32-bit length: longer data is refused, never cut.
    if (length >= UINT32_MAX) return TOKEN_ERR_INPUT_TOO_LONG;
    static const unsigned char kNothing = 0;
    if (!data) length = 0;
    const unsigned char* message = data ? data : &kNothing;
    TokenGenerateSignatureParameters none{};
    TokenGenerateSignatureParameters& p = parameters ? *parameters : none;

    unsigned char digestInfo[kLongestDigestInfo];
    const unsigned char* input = message;
    unsigned long inputLength = length;
    if (checkNPKI(keyId)) {
        const int hash = pkcs1Digest(p);
        unsigned char digest[64];  // the longest digest, SHA-512
        int rc = TM_CRYPTO(SGDigest)(digest, hash, message, static_cast<uint32_t>(length));
        unsigned int infoLength = sizeof digestInfo;
        if (rc == 0)
            rc = TM_CRYPTO(SGPKCS1_CreateDigestInfo)(
                digestInfo, &infoLength, hash, digest, p.pkcs1Raw ? LINDCOM_DIGEST_INFO : nullptr,
                p.pkcs1Raw ? static_cast<int>(sizeof LINDCOM_DIGEST_INFO) : 0);
        if (rc != 0) return rc;
        input = digestInfo;
        inputLength = infoLength;
    }

    bool allocated = false;
    if (!*out) {
        unsigned long size = 0;
        if (int rc = getKeySize(&size, handler, keyId)) return rc;
        if (size == 0 || size > UINT_MAX) return TOKEN_ERR_PUBLIC_KEY;
        *out = allocMemory(static_cast<unsigned int>(size));
        if (!*out) return TOKEN_ERR_MEMORY;
        *outLength = size;
        allocated = true;
    }
    if (logger) {
        const std::string shown = Hex::encode(data, length, false);
        TOKEN_DEBUG(logger, "%s - plain(%s)", kName, shown.c_str());
    }
    const unsigned long room = *outLength;
    const int rc = generateSignatureRAW(*out, outLength, handler, const_cast<unsigned char*>(input),
                                        inputLength, keyId, keyId, &p);
    if (rc != 0 && allocated) {
        // Nothing is handed out for a signature that was not made.
        freeMemory(*out, room);
        *out = nullptr;
        *outLength = 0;
    }
    return rc;
}

int Token::generateSignatureCMS(unsigned char** out, unsigned long* outLength,
                                InputPINHandler* handler, unsigned char* data, unsigned long length,
                                const char* keyId, const char* certificateId,
                                TokenGenerateSignatureParameters* parameters) {
    static constexpr const char* kName = "generateSignatureCMS";
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    TOKEN_FATAL(logger, "%s - getCertificate start", kName);
    if (!signingReady()) return kLibraryUnavailable;
    if (length >= UINT32_MAX) return TOKEN_ERR_INPUT_TOO_LONG;
    TokenGenerateSignatureParameters none{};
    const TokenGenerateSignatureParameters& p = parameters ? *parameters : none;

    TokenBuffer certificate;
    if (int rc = getCertificate(certificateId, &certificate.data, &certificate.length)) return rc;
    if (!certificate.data || certificate.length == 0) {
        TOKEN_FATAL(logger, "%s - invalid cert(null)...(%d)(%d)", kName, TOKEN_ERR_INVALID_DATA,
                    TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    DecodedCertificate decoded;
    if (int rc = decoded.decode(certificate.data, certificate.length)) return rc;

    SGPKCS7SignedDataParameters options{};
    options.flags = SG_PKCS7_ADD_CERTIFICATE;
    if (p.cmsSignerBySubject) options.flags |= SG_PKCS7_SIGNER_BY_SUBJECT;
    if (p.cmsBareSignedData) options.flags |= SG_PKCS7_BARE;
    if (p.cmsDetached) options.flags |= SG_PKCS7_DETACHED;
    if (p.cmsSignedAttributes) options.flags |= SG_PKCS7_SIGNED_ATTRIBUTES;
    options.contentMode = contentMode(p.signInputType);
    if (options.contentMode != SG_PKCS7_MODE_MESSAGE) options.flags |= SG_PKCS7_DETACHED;
    options.digestId = SG_DIGEST_SHA256;
    options.externalSignerInput = 1;

    TokenKeyCallbackContext context{0, this, keyId, handler};
    SGCryptoHandlerKey key{};
    key.type = SG_CRYPTO_HANDLER_CALLBACK;
    key.form.signer.keySize = P1GetKeySizeCallback;
    key.form.signer.sign = P1SignCallback;
    key.form.signer.userData = &context;

    static const unsigned char kNothing = 0;
    const SGBinary content{data ? data : const_cast<unsigned char*>(&kNothing),
                           data ? static_cast<uint32_t>(length) : 0u};
    SGBinary signedData{};
    const int rc = TM_SERVICE(SGPKCS7SignedData_Sign)(&signedData, &content, decoded.handle(),
                                                      nullptr, &key, &options);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS7 signed data sign failed...(%d)(%d)", kName, rc,
                    static_cast<int>(context.result));
        // The token's own code (a cancelled password) tells the caller more than the library's.
        return context.result ? static_cast<int>(context.result) : rc;
    }
    unsigned char* copy = duplicateMemory(signedData.data, signedData.length);
    const unsigned long copyLength = signedData.length;
    TM_BASE(SGBinary_Reset)(&signedData);
    if (!copy) return TOKEN_ERR_MEMORY;
    *out = copy;
    *outLength = copyLength;
    return 0;
}

int Token::verifySignature(unsigned char* signature, unsigned long length, unsigned char* data,
                           unsigned long dataLength, const char* keyId,
                           TokenGenerateSignatureParameters* parameters, SignType type) {
    static constexpr const char* kName = "verifySignature";
    TOKEN_FATAL(logger, "%s - start", kName);
    if (!verifyingReady()) return kLibraryUnavailable;
    if (!signature || length == 0 || length >= UINT32_MAX || dataLength >= UINT32_MAX)
        return TOKEN_ERR_INVALID_DATA;
    TokenGenerateSignatureParameters none{};
    const TokenGenerateSignatureParameters& p = parameters ? *parameters : none;
    SGPKCS7SignedDataParameters options{};
    if (p.cmsDetached) options.contentMode = contentMode(p.signInputType);
    if (p.cmsBareSignedData) options.flags |= SG_PKCS7_BARE;
    if (p.cmsSignerBySubject) options.flags |= SG_PKCS7_SIGNER_BY_SUBJECT;
    const SGBinary signed_{signature, static_cast<uint32_t>(length)};

    int result = 0;
    if (type == SIGN_CMS_DETACHED) {
        if (!data) {
            result = -1;
        } else {
            const SGBinary content{data, static_cast<uint32_t>(dataLength)};
            result = TM_SERVICE(SGPKCS7SignedData_Verify)(nullptr, nullptr, &signed_, &content,
                                                          &options);
        }
    } else if (type == SIGN_CMS) {
        result =
            TM_SERVICE(SGPKCS7SignedData_Verify)(nullptr, nullptr, &signed_, nullptr, &options);
    } else if (type == SIGN_PKCS1) {
        result = [&]() -> int {
            if (!keyId) return -1;
            TokenBuffer certificate;
            if (getCertificate(keyId, &certificate.data, &certificate.length) != 0 ||
                !certificate.data || certificate.length == 0)
                return -2;
            DecodedCertificate decoded;
            if (int rc = decoded.decode(certificate.data, certificate.length)) {
                TOKEN_FATAL(logger, "%s - invalid x509 cert type...(%d)", kName, rc);
                return rc;
            }
            int keyKind = 0;
            SGBinary bits{}, domain{};
            if (int rc = TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(
                    &keyKind, nullptr, &bits, &domain, decoded.handle())) {
                TOKEN_FATAL(logger, "%s - invalid pubKey type...(%d)", kName, rc);
                return rc;
            }
            // The key kind and the hash the signature was made with: RSA with the DigestInfo
            // of SHA-1 or SHA-256 (raw mode: SHA-256 with the fixed parameters), or KCDSA.
            const bool rsa = keyKind == SG_X509_KEY_RSA;
            VerifyKey key;
            if (int rc =
                    TM_CRYPTO(SGDSKey_Decode)(&key.key, bits.data, static_cast<int>(bits.length),
                                              rsa ? SG_DSKEY_RSA_PUBLIC : SG_DSKEY_KCDSA_PUBLIC)) {
                TOKEN_FATAL(logger, "%s - invalid pubKey type...(%d)", kName, rc);
                return rc;
            }
            key.loaded = true;
            SGDSParameter parameter{};
            parameter.key = &key.key;
            if (rsa) {
                parameter.kind = SG_DS_RSASSA_PKCS1_V15;
                parameter.v15HashId = pkcs1Digest(p);
                if (p.pkcs1Raw) {
                    parameter.digestInfoParameters = LINDCOM_DIGEST_INFO;
                    parameter.digestInfoParametersLength = sizeof LINDCOM_DIGEST_INFO;
                }
            } else {
                parameter.kind = SG_DS_KCDSA;
                parameter.kcdsaHashId = SG_DIGEST_SHA256;
                const bool inCertificate =
                    domain.data && domain.length > 2 && domain.data[0] != 0x05;
                parameter.kcdsaDomainParameters = inCertificate ? domain.data : p.dsParameters;
                parameter.kcdsaDomainParametersLength =
                    static_cast<uint32_t>(inCertificate ? domain.length : p.dsParametersLength);
            }
            static const unsigned char kNothing = 0;
            return TM_CRYPTO(SGDS_Verify)(signature, static_cast<int>(length),
                                          data ? data : &kNothing,
                                          data ? static_cast<int>(dataLength) : 0, &parameter);
        }();
    }
    TOKEN_FATAL(logger, "%s - end(%d)", kName, result);
    return result;
}

int Token::readPlainFromFile(unsigned char** out, unsigned long* outLength, char* base64Path,
                             SignInputType type) {
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    *outLength = 0;
    try {
        std::string path;
        if (!decodePath(base64Path, &path)) {
            TOKEN_FATAL(logger, "%s - base64 decode fail...(%d)", "readPlainFromFile", -1);
            return -1;
        }
        TokenBuffer data;
        if (int rc = readSignedFile(&data, path, type, false, 0, logger)) return rc;
        *out = data.data;
        *outLength = data.length;
        data.data = nullptr;
        return 0;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}

int Token::writeSignature(char* base64Path, char* signature, bool plainText) {
    static constexpr const char* kName = "writeSignature";
    try {
        std::string path;
        if (!decodePath(base64Path, &path) || !signature) return TOKEN_ERR_WRITE_FILE;
        unsigned char* decoded = nullptr;
        unsigned int decodedLength = 0;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(signature);
        size_t size = std::strlen(signature);
        if (!plainText) {
            if (Base64::decode(&decoded, &decodedLength, signature) != 0) {
                Base64::free(decoded);
                return TOKEN_ERR_WRITE_FILE;
            }
            bytes = decoded;
            size = decodedLength;
        }
        int rc = size > INT_MAX
                     ? TOKEN_ERR_WRITE_FILE
                     : TM_BASE(SGFile_Write)(path.c_str(), bytes, static_cast<int>(size));
        TOKEN_DEBUG(logger, "%s - SGFile_Write failed..(%d)(%s)", kName, rc, path.c_str());
        Base64::free(decoded);
        if (rc == 0) return 0;
        return rc == kFileRefused ? TOKEN_ERR_WRITE_REFUSED : TOKEN_ERR_WRITE_FILE;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}
