/* Signature keys and the signature dispatch: one key object for RSA and KCDSA keys, decoded
 * from DER or made from an external signer's callbacks, and one parameter record that names the
 * signature kind; SGDS_Sign and SGDS_Verify translate it into the scheme's own record. */
#ifndef SG_DS_KEY_H
#define SG_DS_KEY_H

#include "SGKCDSA.h"
#include "SGPKCS1.h"
#include "SGRSA.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Key kinds. */
enum {
    SG_DSKEY_RSA_PUBLIC = 1,
    SG_DSKEY_RSA_PRIVATE = 2,
    SG_DSKEY_KCDSA_PUBLIC = 5,
    SG_DSKEY_KCDSA_PRIVATE = 6
};

/* Algorithm classes recorded with a key. */
enum { SG_DSKEY_CLASS_RSA = 1, SG_DSKEY_CLASS_KCDSA = 3 };

/* Signature kinds of SGDSParameter. */
enum { SG_DS_RSASSA_PKCS1_V15 = 1, SG_DS_RSASSA_PSS = 2, SG_DS_KCDSA = 4 };

/* Items of SGDSKey_GetInfo. */
enum { SG_DSKEY_INFO_KEY_SIZE = 1 };

enum {
    SG_DS_ERR_UNKNOWN_KIND = 12,  /* unknown signature kind */
    SG_DS_ERR_NOT_SUPPORTED = 18, /* unsupported source kind, or a key size it cannot give */
    SG_DS_ERR_NO_KEY = 500,       /* the parameter names no key */
    SG_DS_ERR_KEY_KIND = 501,     /* the key kind does not fit the signature kind */
    SG_DS_ERR_DOMAIN = 802        /* KCDSA domain parameters missing or undecodable */
};

/* The key operations of one key kind: encode, decode and key size of the public key, then of
 * the private key; a key holds the three of its own kind and nulls. */
typedef struct SGDSKeyOperations {
    int (*publicEncode)(unsigned char* output, unsigned int* length, const void* key);
    int (*publicDecode)(void* key, const unsigned char* der, int length);
    int (*publicKeySize)(int* bytes, const void* key);
    int (*privateEncode)(unsigned char* output, unsigned int* length, const void* key);
    int (*privateDecode)(void* key, const unsigned char* der, int length);
    int (*privateKeySize)(int* bytes, const void* key);
} SGDSKeyOperations;

/* 8488 bytes; caller-owned. The creating operations zero it first; SGDSKey_Clear releases it.
 * The key material comes first, so the key can be passed where a key record is expected. */
typedef struct SGDSKey {
    union {
        SGRSAPublicKey rsaPublic;
        SGRSAPrivateKey rsaPrivate;
        SGKCDSAPublicKey kcdsaPublic;
        SGKCDSAPrivateKey kcdsaPrivate;
        unsigned char bytes[8448];
    } material;
    int algorithmClass;
    int kind;
    SGDSKeyOperations* operations; /* allocated per key; six nulls for a callback key */
    SGKeySizeCallback keySizeCallback;
    SGSignCallback signCallback;
    void* callbackUserData;
} SGDSKey;

/* 104 bytes; caller-owned and zeroed before the fields are set. */
typedef struct SGDSParameter {
    int kind; /* 1, 2 or 4 */
    SGDSKey* key;
    int v15HashId;
    int v15ExternalSignerInput; /* with a sign callback: the callback gets the DigestInfo */
    const unsigned char* digestInfoParameters; /* null: NULL parameters */
    uint32_t digestInfoParametersLength;
    int pssHashId;
    int pssMaskHashId;
    const unsigned char* pssSalt; /* null: a random salt */
    int pssSaltLength;
    int alreadyHashed; /* RSA kinds */
    int kcdsaHashId;
    const unsigned char* kcdsaDomainParameters; /* DER */
    uint32_t kcdsaDomainParametersLength;
    unsigned char reserved[20];
} SGDSParameter;

/* A key whose signing is done by callbacks: 0 for kinds 1, 2 and 6; 11 otherwise or for a null
 * key; 13 memory. */
int SGDSKey_FromCallback(SGDSKey* key, SGKeySizeCallback keySizeCallback,
                         SGSignCallback signCallback, void* userData, int kind);
/* A key from an in-memory SGRSAPublicKey (kind 1) or SGRSAPrivateKey (kind 2), through its DER:
 * 0; 18 other kinds; 11 null arguments; 13 memory; the encoder's or decoder's error. */
int SGDSKey_FromObject(SGDSKey* key, const void* object, int kind);
/* The DER of an RSA key (RSAPublicKey or RSAPrivateKey). *length: in, the output's size when an
 * output is given; out, the DER length. 0; 11 other kinds or null arguments; the encoder's
 * error (14 output too short). */
int SGDSKey_Encode(unsigned char* output, unsigned int* length, const SGDSKey* key);
/* 0; 11 a null key or an unsupported kind; 13 memory; the decoder's error (the key is left
 * zeroed). */
int SGDSKey_Decode(SGDSKey* key, const unsigned char* der, int length, int kind);
/* Item 1: the key size in bytes (the modulus of an RSA key, y of a KCDSA public key). 0; 11 null
 * arguments, another item, or a key without operations; 18 a callback key or a KCDSA private
 * key, whose size the key does not tell. */
int SGDSKey_GetInfo(const SGDSKey* key, int info, int* out);
/* Releases the key material and the operations and overwrites all 8488 bytes: 0; 11 for a key
 * whose kind is not 1 to 6 (left untouched). */
int SGDSKey_Clear(SGDSKey* key);
/* *length: in, the buffer's size; out, the signature's length. A null buffer asks for the size.
 * 0; 11 null parameter; 500 no key; 501 a key of the wrong kind; 12 unknown kind; 802 KCDSA
 * domain parameters; the scheme's error (RSA: 557 buffer too short; KCDSA: 14). */
int SGDS_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
              int messageLength, const SGDSParameter* parameter);
/* 0 valid; the codes of SGDS_Sign; the scheme's error (551 or 801 for an invalid signature). */
int SGDS_Verify(const unsigned char* signature, int signatureLength, const unsigned char* message,
                int messageLength, const SGDSParameter* parameter);

/* Fill a zeroed 4248-byte scheme record (an SGPKCS1Parameter or an SGKCDSASchemeParameter)
 * from the parameter; decoded KCDSA domain parameters belong to the record afterwards. */
int SGDSRealParameter_FromDSParameterForSign(void* record, const SGDSParameter* parameter);
int SGDSRealParameter_FromDSParameterForVerify(void* record, const SGDSParameter* parameter);

SG_CRYPTO_EXTERN_C_END

#endif
