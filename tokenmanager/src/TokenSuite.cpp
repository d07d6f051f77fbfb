// What the suite-holding tokens do alike with a certificate suite.
#include "TokenSuite.h"

#include <climits>
#include <cstdint>
#include <vector>

#include "ItemId.h"
#include "SGDigest.h"
#include "SGHex.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGX509Certificate.h"
#include "TokenCertificate.h"
#include "TokenKeys.h"
#include "TokenTables.h"

namespace brindlow::token::suites {

using namespace brindlow::token::keys;

std::string sha1Identifier(const char* data, size_t length) {
    if (!TM_CRYPTO_READY(SGDigest) || length > UINT32_MAX) return {};
    unsigned char digest[20];
    if (TM_CRYPTO(SGDigest)(digest, SG_DIGEST_SHA1, reinterpret_cast<const unsigned char*>(data),
                            static_cast<uint32_t>(length)) != 0)
        return {};
    char hex[2 * sizeof digest + 2] = {};
    if (TM_BASE(SGHex_Encode)(hex, sizeof hex, digest, sizeof digest) != 0) return {};
    return hex;
}

// Key files are encrypted, but are wiped all the same before their memory is reused.
void releasePart(SGBinary*& part, bool secret) {
    if (!part) return;
    if (secret) {
        TM_BASE(SGBinary_Cleanse)(part);
        TM_BASE(SGMemory_free)(part);
    } else {
        TM_BASE(SGBinary_Free)(part);
    }
    part = nullptr;
}

void releaseSuite(CertificateSuite* suite) {
    if (!suite) return;
    if (suite->path) TM_BASE(SGOS_free)(suite->path);
    releasePart(suite->signCert, false);
    releasePart(suite->signKey, true);
    releasePart(suite->kmCert, false);
    releasePart(suite->kmKey, true);
    releasePart(suite->caPubs, false);
    TM_BASE(SGOS_free)(suite);
}

int certificateKeySize(const SGBinary* signCert, unsigned long* size) {
    if (!size || !hasBytes(signCert) || !TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo))
        return TOKEN_ERR_PUBLIC_KEY;
    DecodedCertificate certificate;
    int bytes = 0;
    if (certificate.decode(signCert->data, signCert->length) != 0 ||
        TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(nullptr, &bytes, nullptr, nullptr,
                                                       certificate.handle()) != 0 ||
        bytes <= 0)
        return TOKEN_ERR_PUBLIC_KEY;
    *size = static_cast<unsigned long>(bytes);
    return 0;
}

int certificateModulusLength(Logger* logger, const SGBinary* signCert, int* length) {
    static constexpr const char* kName = "getKeyLength";
    if (!length || !hasBytes(signCert) || !rsaReady() ||
        !TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo) ||
        !TM_CRYPTO_READY(SGRSAPublicKey_GetItem))
        return TOKEN_ERR_PUBLIC_KEY;
    DecodedCertificate certificate;
    int rc = certificate.decode(signCert->data, signCert->length);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - get cert from binary failed...(%d)(%d)", kName, rc,
                    TOKEN_ERR_PUBLIC_KEY);
        return TOKEN_ERR_PUBLIC_KEY;
    }
    int kind = 0;
    SGBinary bits{}, parameters{};
    rc = TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(&kind, nullptr, &bits, &parameters,
                                                        certificate.handle());
    if (rc == 0 && (!bits.data || !bits.length || bits.length > INT_MAX)) rc = SG_PKI_ERR_NO_DATA;
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - get public key info failed...(%d)(%d)", kName, rc,
                    TOKEN_ERR_PUBLIC_KEY);
        return TOKEN_ERR_PUBLIC_KEY;
    }
    if (kind == SG_X509_KEY_KCDSA || kind == SG_X509_KEY_KCDSA2) {
        // A KCDSA key works modulo the prime p of its domain, which the certificate carries.
        KcdsaDomain domain;
        const int bytes = TM_CRYPTO_READY(SGKCDSAParameter_Decode) &&
                                  TM_CRYPTO_READY(SGKCDSAParameter_Clear) &&
                                  TM_CRYPTO_READY(SGBigInteger_GetNumberOfBytes) &&
                                  hasKcdsaDomain(parameters.data, parameters.length) &&
                                  domain.decode(parameters.data, parameters.length)
                              ? TM_CRYPTO(SGBigInteger_GetNumberOfBytes)(domain.value.p)
                              : 0;
        if (bytes <= 0) {
            TOKEN_FATAL(logger, "%s - kcdsa domain parameters decode failed...(%d)(%d)", kName,
                        bytes, TOKEN_ERR_PUBLIC_KEY);
            return TOKEN_ERR_PUBLIC_KEY;
        }
        *length = bytes;
        return 0;
    }
    RsaPublicKey key;
    rc = TM_CRYPTO(SGRSAPublicKey_Decode)(&key.key, bits.data, static_cast<int>(bits.length));
    // The modulus is no longer than the key's encoding.
    std::vector<unsigned char> modulus(bits.length);
    unsigned int modulusLength = bits.length;
    if (rc == 0)
        rc = TM_CRYPTO(SGRSAPublicKey_GetItem)(modulus.data(), &modulusLength, &key.key, 1);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - rsa public key decode failed...(%d)(%d)", kName, rc,
                    TOKEN_ERR_PUBLIC_KEY);
        return TOKEN_ERR_PUBLIC_KEY;
    }
    *length = static_cast<int>(modulusLength);
    return 0;
}

int kmItemIds(const char* itemId, char** kmKeyId, char** kmCertId) {
    // The longest identifier copied before its digit.
    constexpr size_t kLongestKmIdentifier = 122;
    std::string base = identifierPart(itemId);
    if (base.size() > kLongestKmIdentifier) base.resize(kLongestKmIdentifier);
    auto copy = [](std::string text) {
        return reinterpret_cast<char*>(Token::duplicateMemory(
            reinterpret_cast<unsigned char*>(text.data()), static_cast<unsigned>(text.size() + 1)));
    };
    char* keyId = copy(base + static_cast<char>(TOKEN_ITEM_KM_KEY));
    char* certId = copy(base + static_cast<char>(TOKEN_ITEM_KM_CERT));
    if (!keyId || !certId) {
        Token::freeMemory(keyId, 0);
        Token::freeMemory(certId, 0);
        return TOKEN_ERR_MEMORY;
    }
    *kmKeyId = keyId;
    *kmCertId = certId;
    return 0;
}

int handOutRandom(SGBinary& vid, unsigned char** random, unsigned long* length) {
    int result = 0;
    if (vid.data && vid.length) {
        *random = Token::duplicateMemory(vid.data, vid.length);
        if (*random)
            *length = vid.length;
        else
            result = TOKEN_ERR_MEMORY;
    }
    TM_BASE(SGBinary_Cleanse)(&vid);
    return result;
}

int pkcs1Decrypt(Logger* logger, SGRSAPrivateKey* key, unsigned char* in, unsigned long inLength,
                 unsigned char** out, unsigned long* outLength) {
    static constexpr const char* kName = "decrypt";
    const auto size = static_cast<unsigned int>(inLength);
    unsigned char* plain = Token::allocMemory(size);
    if (!plain) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    SGPKCS1Parameter pkcs1{};
    pkcs1.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    pkcs1.privateKey = key;
    unsigned int plainLength = size;
    const int rc = TM_CRYPTO(SGPKCS1_Decrypt)(plain, &plainLength, in, size, &pkcs1);
    if (rc != 0) {
        // What a failed decryption left in the buffer is no plaintext to hand out.
        Token::freeMemory(plain, size);
        TOKEN_FATAL(logger, "%s - PKCS1 decrypt failed...(%d)", kName, rc);
        return rc;
    }
    *out = plain;
    *outLength = plainLength;
    return 0;
}

void clearOutputs(unsigned char** key, unsigned long* keyLength, unsigned char** certificate,
                  unsigned long* certificateLength) {
    if (key) *key = nullptr;
    if (keyLength) *keyLength = 0;
    if (certificate) *certificate = nullptr;
    if (certificateLength) *certificateLength = 0;
}

int handOut(const SGBinary& keyBytes, const SGBinary& certBytes, unsigned char** key,
            unsigned long* keyLength, unsigned char** certificate,
            unsigned long* certificateLength) {
    *key = Token::duplicateMemory(keyBytes.data, keyBytes.length);
    *certificate = Token::duplicateMemory(certBytes.data, certBytes.length);
    if (!*key || !*certificate) {
        Token::freeMemory(*key, keyBytes.length);
        Token::freeMemory(*certificate, 0);
        clearOutputs(key, keyLength, certificate, certificateLength);
        return TOKEN_ERR_MEMORY;
    }
    *keyLength = keyBytes.length;
    *certificateLength = certBytes.length;
    return 0;
}

void releaseDomainParameters(TokenGenerateSignatureParameters* parameters) {
    Token::freeMemory(parameters->dsParameters, 0);
    parameters->dsParameters = nullptr;
    parameters->dsParametersLength = 0;
}

int signWithKeyFile(Token& token, const CertificateSuite& suite, unsigned char* pin,
                    unsigned long pinLength, unsigned char* out, unsigned long* outLength,
                    unsigned char* in, unsigned long inLength, const char* keyId,
                    const char* itemId, TokenGenerateSignatureParameters* parameters) {
    const PKIType type = suite.pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI;
    RsaPrivateKey rsa;
    DsKey ds;
    void* key = type == PKI_TYPE_GPKI ? static_cast<void*>(&ds.key) : static_cast<void*>(&rsa.key);
    // The key's domain parameters (GPKI) travel in the parameter record for the signing, and
    // are released afterwards.
    int rc = token.decryptPrivateKeyFromPKCS8(
        key, nullptr, &parameters->dsParameters, &parameters->dsParametersLength,
        suite.signKey->data, suite.signKey->length, pin, pinLength, TOKEN_KEY_RECORD, type);
    if (rc == 0)
        rc = token.generateSignatureLocal(out, outLength, in, inLength, key, keyId, itemId,
                                          parameters, type);
    releaseDomainParameters(parameters);
    return rc;
}

}  // namespace brindlow::token::suites
