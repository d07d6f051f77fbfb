#include "SGDSKey.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "SGCrypto.h"

static_assert(sizeof(SGDSKey) == 8488);
static_assert(offsetof(SGDSKey, material) == 0 && offsetof(SGDSKey, algorithmClass) == 8448 &&
              offsetof(SGDSKey, kind) == 8452 && offsetof(SGDSKey, operations) == 8456 &&
              offsetof(SGDSKey, keySizeCallback) == 8464 &&
              offsetof(SGDSKey, signCallback) == 8472 &&
              offsetof(SGDSKey, callbackUserData) == 8480);
static_assert(sizeof(SGDSParameter) == 104);
static_assert(offsetof(SGDSParameter, kind) == 0 && offsetof(SGDSParameter, key) == 8 &&
              offsetof(SGDSParameter, v15HashId) < offsetof(SGDSParameter, pssHashId) &&
              offsetof(SGDSParameter, alreadyHashed) < offsetof(SGDSParameter, kcdsaHashId) &&
              offsetof(SGDSParameter, kcdsaDomainParametersLength) <
                  offsetof(SGDSParameter, reserved));
static_assert(sizeof(SGPKCS1Parameter) == 4248 && sizeof(SGKCDSASchemeParameter) == 4248);

namespace {

// The key operations of the two families, over the key material of an SGDSKey.
int rsaPublicEncode(unsigned char* output, unsigned int* length, const void* key) {
    return SGRSAPublicKey_Encode(output, length, static_cast<const SGRSAPublicKey*>(key));
}
int rsaPublicDecode(void* key, const unsigned char* der, int length) {
    return SGRSAPublicKey_Decode(static_cast<SGRSAPublicKey*>(key), der, length);
}
int rsaPublicKeySize(int* bytes, const void* key) {
    return SGRSAPublicKey_GetKeySize(bytes, static_cast<const SGRSAPublicKey*>(key));
}
int rsaPrivateEncode(unsigned char* output, unsigned int* length, const void* key) {
    return SGRSAPrivateKey_Encode(output, length, static_cast<const SGRSAPrivateKey*>(key));
}
int rsaPrivateDecode(void* key, const unsigned char* der, int length) {
    return SGRSAPrivateKey_Decode(static_cast<SGRSAPrivateKey*>(key), der, length);
}
int rsaPrivateKeySize(int* bytes, const void* key) {
    return SGRSAPrivateKey_GetKeySize(bytes, static_cast<const SGRSAPrivateKey*>(key));
}
int kcdsaPublicEncode(unsigned char* output, unsigned int* length, const void* key) {
    return SGKCDSAPublicKey_Encode(output, length, static_cast<const SGKCDSAPublicKey*>(key));
}
int kcdsaPublicDecode(void* key, const unsigned char* der, int length) {
    return SGKCDSAPublicKey_Decode(static_cast<SGKCDSAPublicKey*>(key), der, length);
}
int kcdsaPublicKeySize(int* bytes, const void* key) {
    return SGKCDSAPublicKey_GetKeySize(bytes, static_cast<const SGKCDSAPublicKey*>(key));
}
int kcdsaPrivateEncode(unsigned char* output, unsigned int* length, const void* key) {
    return SGKCDSAPrivateKey_Encode(output, length, static_cast<const SGKCDSAPrivateKey*>(key));
}
int kcdsaPrivateDecode(void* key, const unsigned char* der, int length) {
    return SGKCDSAPrivateKey_Decode(static_cast<SGKCDSAPrivateKey*>(key), der, length);
}
int kcdsaPrivateKeySize(int* bytes, const void* key) {
    return SGKCDSAPrivateKey_GetKeySize(bytes, static_cast<const SGKCDSAPrivateKey*>(key));
}

const SGDSKeyOperations RSAka = {rsaPublicEncode,  rsaPublicDecode,  rsaPublicKeySize,
                                 rsaPrivateEncode, rsaPrivateDecode, rsaPrivateKeySize};
const SGDSKeyOperations KCDSAka = {kcdsaPublicEncode,  kcdsaPublicDecode,  kcdsaPublicKeySize,
                                   kcdsaPrivateEncode, kcdsaPrivateDecode, kcdsaPrivateKeySize};

bool decodableKind(int kind) {
    return kind == SG_DSKEY_RSA_PUBLIC || kind == SG_DSKEY_RSA_PRIVATE ||
           kind == SG_DSKEY_KCDSA_PUBLIC || kind == SG_DSKEY_KCDSA_PRIVATE;
}

bool publicKind(int kind) {
    return kind == SG_DSKEY_RSA_PUBLIC || kind == SG_DSKEY_KCDSA_PUBLIC;
}

int classOf(int kind) {
    return kind == SG_DSKEY_RSA_PUBLIC || kind == SG_DSKEY_RSA_PRIVATE ? SG_DSKEY_CLASS_RSA
                                                                       : SG_DSKEY_CLASS_KCDSA;
}

struct OperationsFree {
    void operator()(SGDSKeyOperations* o) const { SGCrypto_free(o); }
};
using OperationsPtr = std::unique_ptr<SGDSKeyOperations, OperationsFree>;

// The key's own table: the three operations of its side, nulls on the other.
OperationsPtr operationsFor(int kind) {
    OperationsPtr ops(
        static_cast<SGDSKeyOperations*>(SGCrypto_calloc(1, sizeof(SGDSKeyOperations))));
    if (!ops) return ops;
    const SGDSKeyOperations& family = classOf(kind) == SG_DSKEY_CLASS_RSA ? RSAka : KCDSAka;
    if (publicKind(kind)) {
        ops->publicEncode = family.publicEncode;
        ops->publicDecode = family.publicDecode;
        ops->publicKeySize = family.publicKeySize;
    } else {
        ops->privateEncode = family.privateEncode;
        ops->privateDecode = family.privateDecode;
        ops->privateKeySize = family.privateKeySize;
    }
    return ops;
}

// The two scheme records share their 4248 bytes.
union SchemeRecord {
    SGPKCS1Parameter rsa;
    SGKCDSASchemeParameter kcdsa;
};

// Releases what a translation decoded and overwrites the record.
void releaseRecord(SchemeRecord& record, int kind) {
    if (kind == SG_DS_KCDSA) SGKCDSAParameter_Clear(&record.kcdsa.domain);
    SGCrypto_cleanse(&record, sizeof record);
}

void rsaFields(SGPKCS1Parameter* r, const SGDSParameter* p) {
    if (p->kind == SG_DS_RSASSA_PSS) {
        r->signatureScheme = SG_PKCS1_PSS;
        r->hashId = p->pssHashId;
        r->pssMaskGeneration = SG_PKCS1_MGF1;
        r->pssMaskHashId = p->pssMaskHashId;
        r->pssSalt = p->pssSalt;
        r->pssSaltLength = p->pssSaltLength;
    } else {
        r->signatureScheme = SG_PKCS1_V15_SIGNATURE;
        r->hashId = p->v15HashId;
        r->digestInfoParameters = p->digestInfoParameters;
        r->digestInfoParametersLength = p->digestInfoParametersLength;
    }
    r->alreadyHashed = p->alreadyHashed;
}

}  // namespace

extern "C" {

int SGDSKey_FromCallback(SGDSKey* key, SGKeySizeCallback keySizeCallback,
                         SGSignCallback signCallback, void* userData, int kind) {
    if (!key || (kind != SG_DSKEY_RSA_PUBLIC && kind != SG_DSKEY_RSA_PRIVATE &&
                 kind != SG_DSKEY_KCDSA_PRIVATE))
        return SG_CRYPTO_ERR_ARGUMENT;
    std::memset(key, 0, sizeof *key);
    key->operations =
        static_cast<SGDSKeyOperations*>(SGCrypto_calloc(1, sizeof(SGDSKeyOperations)));
    if (!key->operations) return SG_CRYPTO_ERR_MEMORY;
    key->algorithmClass = classOf(kind);
    key->kind = kind;
    key->keySizeCallback = keySizeCallback;
    key->signCallback = signCallback;
    key->callbackUserData = userData;
    return 0;
}

int SGDSKey_FromObject(SGDSKey* key, const void* object, int kind) {
    if (!key || !object) return SG_CRYPTO_ERR_ARGUMENT;
    if (kind != SG_DSKEY_RSA_PUBLIC && kind != SG_DSKEY_RSA_PRIVATE) return SG_DS_ERR_NOT_SUPPORTED;
    auto encode = [&](unsigned char* output, unsigned* length) {
        return kind == SG_DSKEY_RSA_PUBLIC
                   ? SGRSAPublicKey_Encode(output, length,
                                           static_cast<const SGRSAPublicKey*>(object))
                   : SGRSAPrivateKey_Encode(output, length,
                                            static_cast<const SGRSAPrivateKey*>(object));
    };
    unsigned length = 0;
    if (int r = encode(nullptr, &length)) return r;
    auto* der = static_cast<unsigned char*>(SGCrypto_malloc(length ? length : 1));
    if (!der) return SG_CRYPTO_ERR_MEMORY;
    int r = encode(der, &length);
    if (r == 0) r = SGDSKey_Decode(key, der, static_cast<int>(length), kind);
    SGCrypto_safeFree(der, length);
    return r;
}

int SGDSKey_Encode(unsigned char* output, unsigned int* length, const SGDSKey* key) {
    if (!length || !key || !key->operations ||
        (key->kind != SG_DSKEY_RSA_PUBLIC && key->kind != SG_DSKEY_RSA_PRIVATE))
        return SG_CRYPTO_ERR_ARGUMENT;
    auto encode = key->kind == SG_DSKEY_RSA_PUBLIC ? key->operations->publicEncode
                                                   : key->operations->privateEncode;
    if (!encode) return SG_CRYPTO_ERR_ARGUMENT;  // a callback key has no material
    return encode(output, length, &key->material);
}

int SGDSKey_Decode(SGDSKey* key, const unsigned char* der, int length, int kind) {
    if (!key || !decodableKind(kind)) return SG_CRYPTO_ERR_ARGUMENT;
    std::memset(key, 0, sizeof *key);
    OperationsPtr ops = operationsFor(kind);
    if (!ops) return SG_CRYPTO_ERR_MEMORY;
    const int r = publicKind(kind) ? ops->publicDecode(&key->material, der, length)
                                   : ops->privateDecode(&key->material, der, length);
    if (r != 0) {
        SGCrypto_cleanse(key, sizeof *key);
        return r;
    }
    key->algorithmClass = classOf(kind);
    key->kind = kind;
    key->operations = ops.release();
    return 0;
}

int SGDSKey_GetInfo(const SGDSKey* key, int info, int* out) {
    if (!key || !out || info != SG_DSKEY_INFO_KEY_SIZE) return SG_CRYPTO_ERR_ARGUMENT;
    // A zeroed or cleared key has nothing to describe.
    if (!decodableKind(key->kind) || !key->operations) return SG_CRYPTO_ERR_ARGUMENT;
    if (key->operations->publicKeySize) return key->operations->publicKeySize(out, &key->material);
    if (key->operations->privateKeySize)
        return key->operations->privateKeySize(out, &key->material);
    return SG_DS_ERR_NOT_SUPPORTED;
}

int SGDSKey_Clear(SGDSKey* key) {
    if (!key || key->kind < 1 || key->kind > 6) return SG_CRYPTO_ERR_ARGUMENT;
    switch (key->kind) {
        case SG_DSKEY_RSA_PUBLIC:
            SGRSAPublicKey_Free(&key->material.rsaPublic);
            break;
        case SG_DSKEY_RSA_PRIVATE:
            SGRSAPrivateKey_Free(&key->material.rsaPrivate);
            break;
        case SG_DSKEY_KCDSA_PRIVATE:
            SGKCDSAPrivateKey_Free(&key->material.kcdsaPrivate);
            break;
        default:
            SGKCDSAPublicKey_Free(&key->material.kcdsaPublic);
            break;
    }
    SGCrypto_free(key->operations);
    SGCrypto_cleanse(key, sizeof *key);
    return 0;
}

int SGDSRealParameter_FromDSParameterForSign(void* record, const SGDSParameter* parameter) {
    if (!record || !parameter) return SG_CRYPTO_ERR_ARGUMENT;
    SGDSKey* key = parameter->key;
    if (!key) return SG_DS_ERR_NO_KEY;
    switch (parameter->kind) {
        case SG_DS_KCDSA: {
            if (key->kind != SG_DSKEY_KCDSA_PRIVATE) return SG_DS_ERR_KEY_KIND;
            auto* r = static_cast<SGKCDSASchemeParameter*>(record);
            r->hashId = parameter->kcdsaHashId;
            r->privateKey = &key->material.kcdsaPrivate;
            if (key->signCallback) {
                // The external signer holds the domain with the key.
                r->keySizeCallback = key->keySizeCallback;
                r->signCallback = key->signCallback;
                r->callbackUserData = key->callbackUserData;
                return 0;
            }
            if (!parameter->kcdsaDomainParameters || !parameter->kcdsaDomainParametersLength ||
                SGKCDSAParameter_Decode(&r->domain, parameter->kcdsaDomainParameters,
                                        static_cast<int>(parameter->kcdsaDomainParametersLength)) !=
                    0)
                return SG_DS_ERR_DOMAIN;
            return 0;
        }
        case SG_DS_RSASSA_PSS:
        case SG_DS_RSASSA_PKCS1_V15: {
            if (key->kind != SG_DSKEY_RSA_PRIVATE) return SG_DS_ERR_KEY_KIND;
            auto* r = static_cast<SGPKCS1Parameter*>(record);
            rsaFields(r, parameter);
            if (parameter->kind == SG_DS_RSASSA_PKCS1_V15 && key->signCallback) {
                r->keySizeCallback = key->keySizeCallback;
                r->signCallback = key->signCallback;
                r->callbackUserData = key->callbackUserData;
                r->externalSignerInput = parameter->v15ExternalSignerInput;
            } else {
                r->privateKey = &key->material.rsaPrivate;
            }
            return 0;
        }
        default:
            return SG_DS_ERR_UNKNOWN_KIND;
    }
}

int SGDSRealParameter_FromDSParameterForVerify(void* record, const SGDSParameter* parameter) {
    if (!record || !parameter) return SG_CRYPTO_ERR_ARGUMENT;
    SGDSKey* key = parameter->key;
    if (!key) return SG_DS_ERR_NO_KEY;
    switch (parameter->kind) {
        case SG_DS_KCDSA: {
            if (key->kind != SG_DSKEY_KCDSA_PUBLIC) return SG_DS_ERR_KEY_KIND;
            if (!parameter->kcdsaDomainParameters || !parameter->kcdsaDomainParametersLength)
                return SG_DS_ERR_DOMAIN;
            auto* r = static_cast<SGKCDSASchemeParameter*>(record);
            if (int e = SGKCDSAParameter_Decode(
                    &r->domain, parameter->kcdsaDomainParameters,
                    static_cast<int>(parameter->kcdsaDomainParametersLength)))
                return e;
            r->hashId = parameter->kcdsaHashId;
            r->publicKey = &key->material.kcdsaPublic;
            return 0;
        }
        case SG_DS_RSASSA_PSS:
        case SG_DS_RSASSA_PKCS1_V15: {
            if (key->kind != SG_DSKEY_RSA_PUBLIC) return SG_DS_ERR_KEY_KIND;
            auto* r = static_cast<SGPKCS1Parameter*>(record);
            rsaFields(r, parameter);
            r->publicKey = &key->material.rsaPublic;
            return 0;
        }
        default:
            return SG_DS_ERR_UNKNOWN_KIND;
    }
}

int SGDS_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
              int messageLength, const SGDSParameter* parameter) {
    if (!parameter || messageLength < 0) return SG_CRYPTO_ERR_ARGUMENT;
    SchemeRecord record;
    std::memset(&record, 0, sizeof record);
    int r = SGDSRealParameter_FromDSParameterForSign(&record, parameter);
    if (r == 0) {
        const unsigned n = static_cast<unsigned>(messageLength);
        r = parameter->kind == SG_DS_KCDSA
                ? SGKCDSA_Sign(signature, length, message, n, &record.kcdsa)
                : _SGPKCS1_Sign(signature, length, message, n, &record.rsa);
    }
    releaseRecord(record, parameter->kind);
    return r;
}

int SGDS_Verify(const unsigned char* signature, int signatureLength, const unsigned char* message,
                int messageLength, const SGDSParameter* parameter) {
    if (!parameter || signatureLength < 0 || messageLength < 0) return SG_CRYPTO_ERR_ARGUMENT;
    SchemeRecord record;
    std::memset(&record, 0, sizeof record);
    int r = SGDSRealParameter_FromDSParameterForVerify(&record, parameter);
    if (r == 0) {
        r = parameter->kind == SG_DS_KCDSA
                ? SGKCDSA_Verify(signature, signatureLength, message, messageLength, &record.kcdsa)
                : _SGPKCS1_Verify(signature, static_cast<unsigned>(signatureLength), message,
                                  static_cast<unsigned>(messageLength), &record.rsa);
    }
    releaseRecord(record, parameter->kind);
    return r;
}

}  // extern "C"
