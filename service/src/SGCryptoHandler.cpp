#include "SGCryptoHandler.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCS1.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "SGServiceInternal.h"

static_assert(sizeof(SGCryptoHandlerKey) == 48);
static_assert(offsetof(SGCryptoHandlerKey, form.signer.keySize) == 8);
static_assert(offsetof(SGCryptoHandlerKey, form.signer.sign) == 16);
static_assert(offsetof(SGCryptoHandlerKey, form.signer.userData) == 24);
static_assert(offsetof(SGCryptoHandlerKey, form.signer.direct) == 32);
static_assert(offsetof(SGCryptoHandlerKey, form.key.der) == 8);
static_assert(offsetof(SGCryptoHandlerKey, form.key.length) == 16);
static_assert(offsetof(SGCryptoHandlerKey, form.decrypter.decrypt) == 8);
static_assert(offsetof(SGCryptoHandlerKey, form.decrypter.userData) == 16);
static_assert(offsetof(SGCryptoHandlerKey, parameters) == 40);
// The OAEP block is the OAEP part of the PKCS #1 parameter record.
static_assert(sizeof(SGCryptoHandlerOAEP) == 32);
static_assert(offsetof(SGPKCS1Parameter, oaepSeed) -
                  offsetof(SGPKCS1Parameter, oaepMaskGeneration) ==
              offsetof(SGCryptoHandlerOAEP, seed));
static_assert(offsetof(SGPKCS1Parameter, oaepLabelLength) -
                  offsetof(SGPKCS1Parameter, oaepMaskGeneration) ==
              offsetof(SGCryptoHandlerOAEP, labelLength));

namespace {

constexpr unsigned kAsGiven = SG_PKCS1_HASH_AS_GIVEN;

bool cryptoReady() {
    return _gcw[SGCryptoSlot_SGDSKey_Decode] && _gcw[SGCryptoSlot_SGDS_Sign] &&
           _gcw[SGCryptoSlot_SGPKCS1_Decrypt];
}

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

// The signature parameter and the key kind of an algorithm word; 10020 for KCDSA with a key in
// memory but no domain. Other schemes set no kind, which the signature-key layer refuses.
int prepare(SGDSParameter* p, int* keyKind, unsigned algorithm, const SGCryptoHandlerKey* key,
            const int* options) {
    const unsigned scheme = algorithm & 0xFFFF;
    const int hashId = static_cast<int>(algorithm >> 16);
    const SGBinary* parameters = key->parameters;
    const bool haveParameters = parameters && parameters->data && parameters->length;
    switch (scheme) {
        case SG_CRYPTO_HANDLER_KCDSA:
            if (key->type != SG_CRYPTO_HANDLER_CALLBACK && !haveParameters)
                return SG_CRYPTO_HANDLER_ERR_NO_DOMAIN;
            p->kind = SG_DS_KCDSA;
            p->kcdsaHashId = hashId;
            if (haveParameters) {
                p->kcdsaDomainParameters = parameters->data;
                p->kcdsaDomainParametersLength = parameters->length;
            }
            *keyKind = SG_DSKEY_KCDSA_PRIVATE;
            return 0;
        case SG_CRYPTO_HANDLER_RSA_PSS: {
            // MGF1 with the message hash and a salt of its length: the usual PSS settings,
            // which verifiers assume when the signature names no others.
            const int hLen = SG_GCW(SGDigest_GetDigestSize)(hashId);
            p->kind = SG_DS_RSASSA_PSS;
            p->pssHashId = hashId;
            p->pssMaskHashId = hashId;
            p->pssSaltLength = hLen > 0 && hLen <= 64 ? hLen : 0;
            *keyKind = SG_DSKEY_RSA_PRIVATE;
            return 0;
        }
        case SG_CRYPTO_HANDLER_RSA_PKCS1:
            p->kind = SG_DS_RSASSA_PKCS1_V15;
            p->v15HashId = hashId;
            if (options) {
                p->v15ExternalSignerInput = options[1];
                if (options[0]) {
                    p->v15HashId = static_cast<int>(kAsGiven);
                    p->alreadyHashed = 1;
                }
            }
            if (haveParameters) {
                p->digestInfoParameters = parameters->data;
                p->digestInfoParametersLength = parameters->length;
            }
            *keyKind = SG_DSKEY_RSA_PRIVATE;
            return 0;
        default:
            *keyKind = 0;
            return 0;
    }
}

// The signature of the direct path: the callbacks get the raw message.
int signDirect(SGBinary* signature, const SGBinary* message, unsigned algorithm,
               const SGCryptoHandlerKey* key) {
    unsigned size = 0;
    if (int r = key->form.signer.keySize(&size, key->form.signer.userData)) return r;
    const unsigned capacity = signature->length;
    if (size > capacity) return SG_CRYPTO_HANDLER_ERR_RANGE;
    unsigned length = capacity;
    if (int r = key->form.signer.sign(signature->data, &length, message->data, message->length,
                                      algorithm, key->form.signer.userData))
        return r;
    if (length > capacity) return SG_CRYPTO_HANDLER_ERR_RANGE;
    signature->length = length;
    return 0;
}

int sign(SGBinary* signature, const SGBinary* message, unsigned algorithm,
         const SGCryptoHandlerKey* key, const int* options) {
    SGDSParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    int keyKind = 0;
    if (int r = prepare(&parameter, &keyKind, algorithm, key, options)) return r;
    auto* dsKey = static_cast<SGDSKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGDSKey)));
    if (!dsKey) return SG_PKI_ERR_MEMORY;
    int r = 0;
    if (key->type == SG_CRYPTO_HANDLER_CALLBACK) {
        if (!key->form.signer.keySize || !key->form.signer.sign)
            r = SG_CRYPTO_HANDLER_ERR_NO_CALLBACK;
        else
            r = SG_GCW(SGDSKey_FromCallback)(dsKey, key->form.signer.keySize, key->form.signer.sign,
                                             key->form.signer.userData, keyKind);
    } else if (!key->form.key.der || key->form.key.length == 0 || key->form.key.length > INT_MAX) {
        r = SG_PKI_ERR_ARGUMENT;
    } else {
        r = SG_GCW(SGDSKey_Decode)(dsKey, key->form.key.der, static_cast<int>(key->form.key.length),
                                   keyKind);
    }
    if (r == 0) {
        if (key->type == SG_CRYPTO_HANDLER_CALLBACK && key->form.signer.direct) {
            r = signDirect(signature, message, algorithm, key);
        } else {
            parameter.key = dsKey;
            const unsigned capacity = signature->length;
            unsigned length = capacity;
            r = SG_GCW(SGDS_Sign)(signature->data, &length, message->data,
                                  static_cast<int>(message->length), &parameter);
            // A callback may report more than the buffer it was given holds: never believed.
            if (r == 0 && length > capacity) r = SG_CRYPTO_HANDLER_ERR_RANGE;
            if (r == 0) signature->length = length;
        }
    }
    SG_GCW(SGDSKey_Clear)(dsKey);  // 11 for a key never made, harmless
    wipe(dsKey, sizeof *dsKey);
    SG_GBW(SGMemory_free)(dsKey);
    wipe(&parameter, sizeof parameter);
    return r;
}

// RSA decryption with the key in memory into work (of the ciphertext's length).
int decryptWithKey(unsigned char* work, unsigned* length, const SGBinary* ciphertext,
                   unsigned padding, const SGCryptoHandlerKey* key,
                   const SGCryptoHandlerOAEP* oaep) {
    if (!key->form.key.der || key->form.key.length == 0 || key->form.key.length > INT_MAX)
        return SG_CRYPTO_HANDLER_ERR_KEY;
    auto* rsa = static_cast<SGRSAPrivateKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPrivateKey)));
    auto* p = static_cast<SGPKCS1Parameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS1Parameter)));
    int r = rsa && p ? 0 : SG_PKI_ERR_MEMORY;
    bool decoded = false;
    if (r == 0) {
        decoded = SG_GCW(SGRSAPrivateKey_Decode)(rsa, key->form.key.der,
                                                 static_cast<int>(key->form.key.length)) == 0;
        if (!decoded) r = SG_CRYPTO_HANDLER_ERR_KEY;
    }
    if (r == 0) {
        switch (padding & 0xFFFF) {
            case SG_CRYPTO_HANDLER_OAEP:
                p->encryptionScheme = SG_PKCS1_OAEP;
                p->hashId = static_cast<int>(padding >> 16);
                if (oaep) {
                    p->oaepMaskGeneration = oaep->maskGeneration;
                    p->oaepMaskHashId = oaep->maskHashId;
                    p->oaepLabel = oaep->label;
                    p->oaepLabelLength = oaep->labelLength;
                    p->oaepSeed = oaep->seed;
                } else {
                    p->oaepMaskGeneration = SG_PKCS1_MGF1;
                    p->oaepMaskHashId = SG_DIGEST_SHA1;
                }
                break;
            case SG_CRYPTO_HANDLER_PKCS1_V15:
                p->encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
                break;
            default:
                r = SG_CRYPTO_HANDLER_ERR_PADDING;
        }
    }
    if (r == 0) {
        p->privateKey = rsa;
        r = SG_GCW(SGPKCS1_Decrypt)(work, length, ciphertext->data, ciphertext->length, p);
    }
    if (decoded) SG_GCW(SGRSAPrivateKey_Free)(rsa);
    if (rsa) {
        wipe(rsa, sizeof *rsa);
        SG_GBW(SGMemory_free)(rsa);
    }
    if (p) {
        wipe(p, sizeof *p);
        SG_GBW(SGMemory_free)(p);
    }
    return r;
}

int decrypt(SGBinary* plaintext, const SGBinary* ciphertext, unsigned padding,
            const SGCryptoHandlerKey* key, const SGCryptoHandlerOAEP* oaep) {
    const size_t n = ciphertext->length;
    auto* work = static_cast<unsigned char*>(SG_GBW(SGMemory_calloc)(1, n));
    if (!work) return SG_PKI_ERR_MEMORY;
    unsigned length = ciphertext->length;
    int r = 0;
    if (key->type == SG_CRYPTO_HANDLER_CALLBACK) {
        if (!key->form.decrypter.decrypt) {
            r = SG_PKI_ERR_ARGUMENT;
        } else if (key->form.decrypter.decrypt(work, &length, ciphertext->data, ciphertext->length,
                                               padding, key->form.decrypter.userData) != 0 ||
                   length > ciphertext->length) {
            // A length beyond the buffer it was given is a failure, never copied.
            r = SG_CRYPTO_HANDLER_ERR_DECRYPT_CALLBACK;
        }
    } else {
        r = decryptWithKey(work, &length, ciphertext, padding, key, oaep);
    }
    if (r == 0 && length > 0 && SG_GBW(SGBinary_Set)(plaintext, work, length) != 0)
        r = SG_PKI_ERR_MEMORY;
    wipe(work, n);
    SG_GBW(SGMemory_free)(work);
    return r;
}

}  // namespace

extern "C" {

int SGCryptoHandler_Sign(SGBinary* signature, const SGBinary* message, unsigned int algorithm,
                         const SGCryptoHandlerKey* key, const int* options) {
    if (!signature || !signature->data || !message || (!message->data && message->length) ||
        message->length > INT_MAX || !key)
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    try {
        return sign(signature, message, algorithm, key, options);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGCryptoHandler_Decrypt(SGBinary* plaintext, const SGBinary* ciphertext, unsigned int padding,
                            const SGCryptoHandlerKey* key, const SGCryptoHandlerOAEP* oaep) {
    if (!plaintext || !ciphertext || !key) return SG_PKI_ERR_ARGUMENT;
    if (key->type == SG_CRYPTO_HANDLER_NO_KEY) return 0;
    if (key->type != SG_CRYPTO_HANDLER_CALLBACK && key->type != SG_CRYPTO_HANDLER_RSA_KEY)
        return SG_CRYPTO_HANDLER_ERR_TYPE;
    if (!ciphertext->data || ciphertext->length == 0) return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    try {
        return decrypt(plaintext, ciphertext, padding, key, oaep);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

}  // extern "C"
