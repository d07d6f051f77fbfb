/* RSA key records, their PKCS #1 DER forms, single key items, the blinding values of the
 * private-key operation and key-pair generation. */
#ifndef SG_RSA_H
#define SG_RSA_H

#include "SGBigInteger.h"
#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* 4120 bytes; caller-owned and zeroed before use. */
typedef struct SGRSAPublicKey {
    SGBigInteger* n;
    SGBigInteger* e;
    SGCryptoStructureMarker marker;
} SGRSAPublicKey;

/* 4176 bytes; caller-owned and zeroed before use. */
typedef struct SGRSAPrivateKey {
    SGBigInteger* version; /* always 0 once decoded */
    SGBigInteger* n;
    SGBigInteger* e;
    SGBigInteger* d;
    SGBigInteger* p;
    SGBigInteger* q;
    SGBigInteger* dP;   /* d mod (p-1) */
    SGBigInteger* dQ;   /* d mod (q-1) */
    SGBigInteger* qInv; /* q^-1 mod p */
    SGCryptoStructureMarker marker;
} SGRSAPrivateKey;

/* Item numbers of the accessors. */
enum {
    SG_RSA_PRIVATE_N = 0,
    SG_RSA_PRIVATE_E = 1,
    SG_RSA_PRIVATE_D = 2,
    SG_RSA_PRIVATE_P = 3,
    SG_RSA_PRIVATE_Q = 4,
    SG_RSA_PRIVATE_DP = 5,
    SG_RSA_PRIVATE_DQ = 6,
    SG_RSA_PRIVATE_QINV = 7,
    SG_RSA_PUBLIC_N = 1,
    SG_RSA_PUBLIC_E = 2
};

enum {
    SG_RSA_ERR_BUFFER = 14,    /* buffer too short; the needed length is reported */
    SG_RSA_ERR_ABSENT = 19,    /* item absent */
    SG_RSA_ERR_SELF_TEST = 96, /* the new pair failed its signature self-test */
    SG_RSA_ERR_KEY_SIZE = 502, /* key size outside 1024 to 4096 bits */
    SG_RSA_ERR_NO_KEY = 553,   /* generation without key records */
    SG_RSA_ERR_ITEM = 600      /* unknown item number */
};

/* Key sizes of generation, in bits. */
enum { SG_RSA_MIN_BITS = 1024, SG_RSA_MAX_BITS = 4096 };

/* Frees the items and overwrites the record; null accepted. */
int SGRSAPublicKey_Free(SGRSAPublicKey* key);
/* RSAPublicKey DER. *length: in, the output's size (when an output is given); out, the DER
 * length. A null output asks for the length. 0; 11 null length or key, or an item absent;
 * 13 memory; 14 output too short (nothing written). */
int SGRSAPublicKey_Encode(unsigned char* output, unsigned int* length, const SGRSAPublicKey* key);
/* Replaces the key's items with those of the DER: 0; 11 null key or data; the reader's error
 * (the record is then unchanged). */
int SGRSAPublicKey_Decode(SGRSAPublicKey* key, const unsigned char* der, int length);
/* The modulus length in bytes: 0; 11 null arguments or no modulus. */
int SGRSAPublicKey_GetKeySize(int* bytes, const SGRSAPublicKey* key);
/* Loads big-endian bytes into item 1 (n) or 2 (e): 0; 11 null arguments or another item. */
int SGRSAPublicKey_SetItem(SGRSAPublicKey* key, const unsigned char* bytes, unsigned int length,
                           int item);
/* Minimal big-endian bytes of item 1 or 2; *length: in, the buffer size; out, the item's
 * length. 0; 11 null key or length; 600 another item; 19 absent; 14 buffer too short. */
int SGRSAPublicKey_GetItem(unsigned char* buffer, unsigned int* length, const SGRSAPublicKey* key,
                           int item);

int SGRSAPrivateKey_Free(SGRSAPrivateKey* key);
/* RSAPrivateKey DER, version 0; as SGRSAPublicKey_Encode. */
int SGRSAPrivateKey_Encode(unsigned char* output, unsigned int* length, const SGRSAPrivateKey* key);
/* As SGRSAPublicKey_Decode; a version other than 0 (multi-prime keys) is refused with 2002. */
int SGRSAPrivateKey_Decode(SGRSAPrivateKey* key, const unsigned char* der, int length);
int SGRSAPrivateKey_GetKeySize(int* bytes, const SGRSAPrivateKey* key);
/* Items 0 to 7: 0; 11 null arguments; 600 another item. */
int SGRSAPrivateKey_SetItem(SGRSAPrivateKey* key, const unsigned char* bytes, int length, int item);
int SGRSAPrivateKey_GetItem(unsigned char* buffer, unsigned int* length, const SGRSAPrivateKey* key,
                            int item);

/* A new pair of bits bits (1024 to 4096) with the public exponent (odd, at least 3): first
 * from the platform's key store, else from the library's own primes; the pair must pass a
 * PSS signature round trip. Whatever the records held is released first. 0; 502 size; 553 a
 * null record; 11 an unusable exponent; 96 the self-test failed (records released). */
int SGRSA_GenerateKeyPair(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey, unsigned int bits,
                          int publicExponent);
/* One attempt with the platform's key store: 0, or the status of the step that failed. */
int SGRSA_GenerateKeyPairByKeyChain(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey,
                                    unsigned int bits);
/* The signature self-test alone: 0 or 96. */
int SGRSA_KeyPairCheck(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey);
/* 0 when 123456^e^d mod n is 123456, else -1. */
int SGRSA_ProveKeyPair(const SGRSAPrivateKey* privateKey, const SGRSAPublicKey* publicKey);

/* Blinding of the private-key operation. ConvertMessage draws r in [0, n) with an inverse and
 * gives blinded = r^e * m mod n and rInv: 1 ok, 0 failure. */
int SGRSABlinding_ConvertMessage(SGBigInteger* blinded, SGBigInteger* rInv, const SGBigInteger* m,
                                 const SGBigInteger* n, const SGBigInteger* e);
/* out = s * rInv mod n: 1 ok, 0 failure. */
int SGRSABlinding_InvertMessage(SGBigInteger* out, const SGBigInteger* s, const SGBigInteger* rInv,
                                const SGBigInteger* n, SGBigIntegerContext* pool);
/* d' = d + k(p-1)(q-1), k in [0, n): 0; -1 when n, d, p or q is absent or on failure. */
int SGRSABlinding_Exponent(SGBigInteger* blindedD, const SGRSAPrivateKey* key);
/* dP' = dP + k1(p-1), dQ' = dQ + k2(q-1), k1 and k2 in [0, n): 0; -1 when n, p, q, dP or dQ
 * is absent or on failure. */
int SGRSABlinding_CRTExponent(SGBigInteger* blindedDP, SGBigInteger* blindedDQ,
                              const SGRSAPrivateKey* key);

SG_CRYPTO_EXTERN_C_END

#endif
