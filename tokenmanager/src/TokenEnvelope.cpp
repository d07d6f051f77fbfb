// Envelopes for a recipient certificate and their opening with the token's own key (the PKI
// layer decrypts through DecryptCallback, the key stays in the token), and the encryption of
// the identity-check random for a server certificate.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "Logger.h"
#include "SGCipher.h"
#include "SGCryptoHandler.h"
#include "SGKISA.h"
#include "SGPKCS1.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGRSA.h"
#include "SGRandom.h"
#include "SGX509Certificate.h"
#include "Token.h"
#include "TokenCertificate.h"
#include "TokenCodec.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "TokenText.h"

using brindlow::token::base64Text;
using brindlow::token::DecodedCertificate;
using brindlow::token::kLibraryUnavailable;
using brindlow::token::keys::RsaPublicKey;
using brindlow::token::keys::SecretBytes;
using brindlow::token::keys::TokenBuffer;

namespace {

constexpr int kSeedCbc = 101;  // the PKCS #7 layer's SEED-CBC
constexpr int kContentKeyLength = 16;
constexpr SignInputType kInputFile = 2, kInputNamedFile = 4, kInputReturnKey = 6, kInputRawBare = 7;
constexpr VIDEnvelopeType kVidEnveloped = 1;

bool envelopeReady() {
    return TM_SERVICE_READY(SGPKCS7EnvelopedData_Envelope) &&
           TM_SERVICE_READY(SGPKCS7EnvelopedData_Deenvelope) &&
           TM_SERVICE_READY(SGPKCS7EnvelopedDataParameters_Reset) &&
           TM_SERVICE_READY(SGX509Certificate_FromBinary);
}

// A library buffer released (wiped) with the object.
struct LibraryBuffer {
    SGBinary binary{};
    ~LibraryBuffer() { TM_BASE(SGBinary_Cleanse)(&binary); }
};

struct EnvelopeOptions {
    SGPKCS7EnvelopedDataParameters record{};
    ~EnvelopeOptions() { TM_SERVICE(SGPKCS7EnvelopedDataParameters_Reset)(&record); }
};

}  // namespace

// The content of an envelope entry: a file (types 2 and 4), the raw bytes (allowRaw and type
// 7), or Base64 text.
static int envelopeInput(Token* token, Logger* logger, const char* name, TokenBuffer* out,
                         unsigned char* input, unsigned long length, SignInputType type,
                         bool allowRaw) {
    if (!input || length == 0) return 0;
    if (length >= UINT32_MAX) return TOKEN_ERR_INPUT_TOO_LONG;
    if (allowRaw && type == kInputRawBare) {
        out->data = Token::duplicateMemory(input, static_cast<unsigned int>(length));
        out->length = length;
        return out->data ? 0 : TOKEN_ERR_MEMORY;
    }
    std::string text(reinterpret_cast<const char*>(input), length);
    // A text that ends at its terminator is read up to there.
    text.resize(std::strlen(text.c_str()));
    if (type == kInputFile || type == kInputNamedFile)
        return token->readPlainFromFile(&out->data, &out->length, text.data(), type);
    unsigned char* decoded = nullptr;
    unsigned int decodedLength = 0;
    const int rc = Base64::decode(&decoded, &decodedLength, text.c_str());
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - base64 decode fail...(%d)", name, rc);
        Base64::free(decoded);
        return rc;
    }
    out->data = Token::duplicateMemory(decoded, decodedLength);
    out->length = decodedLength;
    if (decodedLength) TM_BASE(SGMemory_cleanse)(decoded, decodedLength);
    Base64::free(decoded);
    return decodedLength && !out->data ? TOKEN_ERR_MEMORY : 0;
}

int Token::envelope(char** out, unsigned char* certificate, unsigned long certificateLength,
                    unsigned char* input, unsigned long inputLength, SignInputType type) {
    static constexpr const char* kName = "envelope";
    if (!out) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    TOKEN_DEBUG(logger, "%s - envelope start", kName);
    if (!envelopeReady()) return kLibraryUnavailable;
    try {
        TokenBuffer content{.secret = true};
        if (int rc = envelopeInput(this, logger, kName, &content, input, inputLength, type, false))
            return rc;
        DecodedCertificate recipientCertificate;
        if (int rc = recipientCertificate.decode(certificate, certificateLength)) {
            TOKEN_FATAL(logger, "%s - decode x509 failed (%d)", kName, rc);
            return TOKEN_ERR_X509_DECODE;
        }
        SGPKCS7Recipient recipient{SG_PKCS7_RECIPIENT_CERTIFICATE, recipientCertificate.handle()};
        static const unsigned char kNothing = 0;
        const SGBinary plain{content.data ? content.data : const_cast<unsigned char*>(&kNothing),
                             static_cast<uint32_t>(content.length)};
        EnvelopeOptions options;
        LibraryBuffer enveloped;
        if (int rc = TM_SERVICE(SGPKCS7EnvelopedData_Envelope)(&enveloped.binary, &plain, kSeedCbc,
                                                               &recipient, &options.record)) {
            TOKEN_FATAL(logger, "%s - SGPKCS7EnvelopedData_Envelope failed (%d)", kName, rc);
            return TOKEN_ERR_ENVELOPE;
        }
        const int rc = base64Text(out, enveloped.binary.data, enveloped.binary.length);
        TOKEN_DEBUG(logger, "%s - envelope end (%d)", kName, rc);
        return rc;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}

int Token::envelope(char** out, const char* itemId, unsigned char* input,
                    unsigned long inputLength) {
    if (!out) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    TokenBuffer certificate;
    if (int rc = getCertificate(itemId, &certificate.data, &certificate.length)) return rc;
    return envelope(out, certificate.data, certificate.length, input, inputLength, 0);
}

int Token::deenvelope(char** out, const char* keyId, InputPINHandler* handler, unsigned char* input,
                      unsigned long inputLength, char** keyOut, SignInputType type) {
    static constexpr const char* kName = "deenvelope";
    if (!out) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    if (keyOut) *keyOut = nullptr;
    TOKEN_DEBUG(logger, "%s - deenvelope start", kName);
    if (!envelopeReady()) return kLibraryUnavailable;
    try {
        TokenBuffer enveloped;
        if (int rc = envelopeInput(this, logger, kName, &enveloped, input, inputLength, type, true))
            return rc;
        TokenKeyCallbackContext context{0, this, keyId, handler};
        SGCryptoHandlerKey key{};
        key.type = SG_CRYPTO_HANDLER_CALLBACK;
        key.form.decrypter.decrypt = DecryptCallback;
        key.form.decrypter.userData = &context;
        EnvelopeOptions options;
        if (type == kInputReturnKey)
            options.record.flags = SG_PKCS7_ENVELOPE_RETURN_KEY | SG_PKCS7_ENVELOPE_BARE;
        else if (type == kInputRawBare)
            options.record.flags = SG_PKCS7_ENVELOPE_BARE | SG_PKCS7_ENVELOPE_BY_SUBJECT;
        static const unsigned char kNothing = 0;
        const SGBinary in{enveloped.data ? enveloped.data : const_cast<unsigned char*>(&kNothing),
                          static_cast<uint32_t>(enveloped.length)};
        LibraryBuffer plain;
        if (int rc = TM_SERVICE(SGPKCS7EnvelopedData_Deenvelope)(
                &plain.binary, &in, &key, &options.record, nullptr, nullptr)) {
            TOKEN_FATAL(logger, "%s - SGPKCS7EnvelopedData_Envelope failed (%d)", kName, rc);
            if (context.result) {
                TOKEN_FATAL(logger, "%s - rawSignCallbackParams.resultCode : %d, result : %d",
                            kName, static_cast<int>(context.result), rc);
                return static_cast<int>(context.result);
            }
            return rc;
        }
        int rc = base64Text(out, plain.binary.data, plain.binary.length);
        if (rc == 0 && type == kInputReturnKey && keyOut && options.record.key &&
            options.record.key->data)
            rc = base64Text(keyOut, options.record.key->data, options.record.key->length);
        if (rc != 0) {
            freeMemory(*out, 0);
            *out = nullptr;
        }
        TOKEN_DEBUG(logger, "%s - deenvelope end (%d)", kName, rc);
        return rc;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}

int Token::encryptVIDRandom(unsigned char** out, unsigned long* outLength, InputPINHandler* handler,
                            const char* itemId, unsigned char* serverCertificate,
                            unsigned long serverCertificateLength, VIDEnvelopeType type) {
    static constexpr const char* kName = "encryptVIDRandom";
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    *outLength = 0;
    if (!envelopeReady() || !TM_SERVICE_READY(SGKISAHashContent_Encode) ||
        !TM_CRYPTO_READY(SGCipher_Encrypt) || !TM_CRYPTO_READY(SGPKCS1_Encrypt) ||
        !TM_CRYPTO_READY(SGRandom_bytes) || !TM_CRYPTO_READY(SGRSAPublicKey_Decode))
        return kLibraryUnavailable;
    try {
        // The random is a secret: wiped and released on every path.
        TokenBuffer random{.secret = true};
        if (int rc = getVIDRandom(&random.data, &random.length, handler, itemId)) return rc;
        if (random.length == 0) {
            *out = allocMemory(1);
            return *out ? 0 : TOKEN_ERR_MEMORY;
        }
        if (random.length >= UINT32_MAX) return TOKEN_ERR_INVALID_DATA;
        DecodedCertificate server;
        if (int rc = server.decode(serverCertificate, serverCertificateLength)) {
            TOKEN_FATAL(logger, "%s - X509 certificate from binary failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_INVALID_DATA);
            return type == kVidEnveloped ? rc : TOKEN_ERR_INVALID_DATA;
        }

        if (type == kVidEnveloped) {
            SGPKCS7Recipient recipient{SG_PKCS7_RECIPIENT_CERTIFICATE, server.handle()};
            const SGBinary plain{random.data, static_cast<uint32_t>(random.length)};
            EnvelopeOptions options;
            LibraryBuffer enveloped;
            if (int rc = TM_SERVICE(SGPKCS7EnvelopedData_Envelope)(
                    &enveloped.binary, &plain, kSeedCbc, &recipient, &options.record))
                return rc;
            *out = duplicateMemory(enveloped.binary.data, enveloped.binary.length);
            if (!*out) return TOKEN_ERR_MEMORY;
            *outLength = enveloped.binary.length;
            return 0;
        }

        SecretBytes contentKey(kContentKeyLength);
        if (!contentKey.data()) return TOKEN_ERR_MEMORY;
        if (TM_CRYPTO(SGRandom_bytes)(contentKey.data(), kContentKeyLength) != 0)
            return TOKEN_ERR_PUBLIC_KEY;
        // HashContent { "", random }: wiped like the random itself.
        LibraryBuffer hashContent;
        SGKISAHashContent fields{SGBinary{},
                                 SGBinary{random.data, static_cast<uint32_t>(random.length)}};
        if (TM_SERVICE(SGKISAHashContent_Encode)(&hashContent.binary, &fields, nullptr) != 0)
            return TOKEN_ERR_PUBLIC_KEY;
        const uint64_t room = static_cast<uint64_t>(hashContent.binary.length) + 32;
        SecretBytes sealed(room);
        if (!sealed.data()) return TOKEN_ERR_MEMORY;
        SGCipherParameter cipher{};
        cipher.mode = SG_CIPHER_MODE_CBC;
        cipher.ivLength = 16;
        cipher.padding = SG_CIPHER_PADDING_PKCS7;
        uint32_t sealedLength = static_cast<uint32_t>(room);
        if (TM_CRYPTO(SGCipher_Encrypt)(sealed.data(), &sealedLength, hashContent.binary.data,
                                        hashContent.binary.length, contentKey.data(),
                                        kContentKeyLength, SG_CIPHER_SEED, &cipher) != 0)
            return TOKEN_ERR_PUBLIC_KEY;

        int keyKind = 0;
        SGBinary bits{}, parameters{};
        if (int rc = TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(&keyKind, nullptr, &bits,
                                                                    &parameters, server.handle())) {
            TOKEN_FATAL(logger, "%s - X509 certificate get public key info failed...(%d)(%d)",
                        kName, rc, TOKEN_ERR_CERT_PUBLIC_KEY);
            return TOKEN_ERR_CERT_PUBLIC_KEY;
        }
        RsaPublicKey rsa;
        if (int rc = TM_CRYPTO(SGRSAPublicKey_Decode)(&rsa.key, bits.data,
                                                      static_cast<int>(bits.length))) {
            TOKEN_FATAL(logger, "%s - RSA public key decode failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_CERT_PUBLIC_KEY);
            return TOKEN_ERR_CERT_PUBLIC_KEY;
        }
        // The modulus in whole bytes, (bits + 7) / 8: a key of 2047 bits still takes 256.
        int modulusBytes = 0;
        if (TM_CRYPTO(SGRSAPublicKey_GetKeySize)(&modulusBytes, &rsa.key) != 0 || modulusBytes <= 0)
            return TOKEN_ERR_CERT_PUBLIC_KEY;
        const uint64_t total = static_cast<uint64_t>(modulusBytes) + sealedLength;
        unsigned char* output =
            total < UINT32_MAX ? allocMemory(static_cast<unsigned int>(total)) : nullptr;
        if (!output) {
            TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
            return TOKEN_ERR_MEMORY;
        }
        SGPKCS1Parameter pkcs1{};
        pkcs1.encryptionScheme = 2000;
        pkcs1.publicKey = &rsa.key;
        unsigned int encryptedLength = static_cast<unsigned int>(modulusBytes);
        if (int rc = TM_CRYPTO(SGPKCS1_Encrypt)(output, &encryptedLength, contentKey.data(),
                                                kContentKeyLength, &pkcs1)) {
            TOKEN_FATAL(logger, "%s - PKCS1 encrypt failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_RSA_ENCRYPT);
            freeMemory(output, total);
            return TOKEN_ERR_RSA_ENCRYPT;
        }
        std::memcpy(output + encryptedLength, sealed.data(), sealedLength);
        *out = output;
        *outLength = encryptedLength + sealedLength;
        return 0;
    } catch (...) {
        return TOKEN_ERR_MEMORY;
    }
}

int Token::encryptVIDRandom(char** out, InputPINHandler* handler, const char* itemId,
                            unsigned char* serverCertificate, unsigned long serverCertificateLength,
                            VIDEnvelopeType type) {
    if (!out) return TOKEN_ERR_INVALID_DATA;
    *out = nullptr;
    TokenBuffer bytes;
    if (int rc = encryptVIDRandom(&bytes.data, &bytes.length, handler, itemId, serverCertificate,
                                  serverCertificateLength, type))
        return rc;
    return base64Text(out, bytes.data, bytes.length);
}
