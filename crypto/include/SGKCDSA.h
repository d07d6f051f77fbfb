/* KCDSA: domain parameters with their seed and counter, key pairs from the hash-based random
 * number generator, signing (also through an external signer), verification and the DER forms
 * of parameters, keys and signature values. */
#ifndef SG_KCDSA_H
#define SG_KCDSA_H

#include "SGBigInteger.h"
#include "SGPKCS1.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_KCDSA_ERR_BUFFER = 14,            /* size query of signing; an output too short */
    SG_KCDSA_ERR_NOT_SUPPORTED = 18,     /* key encodings and the private key's size */
    SG_KCDSA_ERR_SELF_TEST = 96,         /* a new key pair failed its signature round trip */
    SG_KCDSA_ERR_PARAMETER_OUTPUT = 231, /* parameter DER output too small */
    SG_KCDSA_ERR_INVALID = 801,          /* the signature does not verify */
    SG_KCDSA_ERR_NO_SEQUENCE = 2003,     /* parameter DER without its SEQUENCE */
    SG_KCDSA_ERR_SIZE = -2,              /* bits of q other than 160, 224 or 256 */
    SG_KCDSA_ERR_GENERATOR = -1          /* the generator g does not have order q */
};

/* The algorithm word an external signer receives: hash id << 16 | SG_KCDSA_SCHEME. */
enum { SG_KCDSA_SCHEME = 16 };

/* Domain parameters; 88 bytes. Caller-owned and zeroed before first use; the operations that
 * fill it release the values it held. J and the generation record are optional (seed length
 * and counter 0 without one). */
typedef struct SGKCDSAParameter {
    SGBigInteger* p;
    SGBigInteger* q;
    SGBigInteger* g;
    SGBigInteger* J; /* (p - 1) / 2q */
    unsigned char seed[44];
    int seedLength;
    int counter;
} SGKCDSAParameter;

typedef struct SGKCDSAPrivateKey {
    SGBigInteger* x;
} SGKCDSAPrivateKey;

typedef struct SGKCDSAPublicKey {
    SGBigInteger* y; /* g^(x^-1 mod q) mod p */
} SGKCDSAPublicKey;

/* The scheme record of signing and verification: 4248 bytes like SGPKCS1Parameter, caller-owned
 * and zeroed before the fields are set. */
typedef struct SGKCDSASchemeParameter {
    SGKCDSAParameter domain;
    SGKCDSAPrivateKey* privateKey;
    SGKCDSAPublicKey* publicKey; /* signing computes y from x when absent */
    int hashId;                  /* SHA-1 (3), SHA-224 (4), SHA-256 (5) or HAS-160 (8) */
    SGBigInteger* randomKey;     /* fixed XKEY of the per-signature secret, else random */
    SGBigInteger* randomSeed;    /* fixed XSEED of the per-signature secret, else random */
    SGKeySizeCallback keySizeCallback;
    SGSignCallback signCallback; /* an external signer: signs the raw message */
    void* callbackUserData;
    unsigned char reserved[4096];
} SGKCDSASchemeParameter;

/* A DER signature value. *length: in, the buffer's size; out, the signature's length. A null
 * buffer asks for the largest length, 2 * |q|/8 + 13 (14). With a sign callback the callback
 * signs the raw message and its result is returned. 0; 11 null length, no private key or sign
 * callback, or unusable domain parameters or hash id (the digest must be at least |q|/8 bytes);
 * -2 bits of q; 13 memory; 14 buffer too short (the needed length reported). */
int SGKCDSA_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                 unsigned int messageLength, SGKCDSASchemeParameter* parameter);
/* 0 valid; 801 invalid (S outside [1, q), y outside (1, p) included); 11 malformed signature
 * value, R not |q|/8 bytes, or unusable parameters; 13 memory. */
int SGKCDSA_Verify(const unsigned char* signature, int signatureLength,
                   const unsigned char* message, int messageLength,
                   SGKCDSASchemeParameter* parameter);
/* New x and y for the domain of the record (p, q, g), checked with a SHA-256 signature round
 * trip. 0; 11 null arguments; -2 bits of q; 96 the round trip failed; 13 memory. */
int SGKCDSA_GenerateKeyPair(SGBigInteger** x, SGBigInteger** y, SGKCDSASchemeParameter* parameter);
/* New domain parameters with p of pBits and q of qBits bits, with their seed and counter (what
 * the record held is released). Prints "count:%d" on standard output every 5000 counters. 0;
 * 11 null record or pBits outside qBits + 64 to 16384; -2 bits of q; 13 memory; -1 generator
 * check failed; the random generator's error. */
int SGKCDSA_GenerateParameters(SGKCDSAParameter* parameters, int pBits, unsigned int qBits);
/* SEQUENCE { r BIT STRING, s INTEGER } with s minimal. *length: in, the output's size when an
 * output is given; out, the DER length. 0; 11 null arguments; 14 output too short; 13 memory. */
int SGKCDSA_Encode_SignatureValue(unsigned char* output, unsigned int* length,
                                  const unsigned char* r, int rLength, const unsigned char* s,
                                  int sLength);
/* r's bytes and s's bytes without leading zeros. Each length: in, its buffer's size; out, the
 * value's length. 0; 11 null arguments; 14 a buffer too short (both lengths reported); the
 * reader's error (2002 also for an empty s or bytes after the SEQUENCE). */
int SGKCDSA_Decode_SignatureValue(unsigned char* r, unsigned int* rLength, unsigned char* s,
                                  unsigned int* sLength, const unsigned char* der, int length);
/* SEQUENCE { p, q, g, J OPTIONAL, SEQUENCE { seed, counter } OPTIONAL }. *length: in, the
 * output's size; out, the needed length (always). The bytes are written only when an output is
 * given and it is large enough. 0; 11 null arguments or no p, q, g; 231 *length below the
 * needed length; 13 memory. */
int SGKCDSAParameter_Encode(unsigned char* output, unsigned int* length,
                            const SGKCDSAParameter* parameters);
/* Reads p, q and g (positive INTEGERs) and ignores the rest; J and the generation record are
 * cleared. The domain must be one that signing and verification take: q of 160, 224 or 256
 * bits, p odd, longer than q and of at most 16384 bits, 1 < g < p. 0; 11 null arguments or a
 * domain outside that rule; -2 bits of q; 2003 no SEQUENCE; the reader's error (the record is
 * unchanged on every failure). */
int SGKCDSAParameter_Decode(SGKCDSAParameter* parameters, const unsigned char* der, int length);
/* Loads big-endian bytes into item 0 p, 1 q, 2 g or 3 J: 0; 11 otherwise; 13 memory. */
int SGKCDSAParameter_SetItem(SGKCDSAParameter* parameters, const unsigned char* bytes, int length,
                             int item);
/* Frees p, q, g and J and nulls them: 0. */
int SGKCDSAParameter_Clear(SGKCDSAParameter* parameters);

/* Key records hold a bare INTEGER. Encoding them and the private key's size are not supported:
 * 18 with nothing written. */
int SGKCDSAPrivateKey_Encode(unsigned char* output, unsigned int* length,
                             const SGKCDSAPrivateKey* key);
/* Reads one INTEGER into x (what the record held is released): 0; 11 null arguments; the
 * reader's error. */
int SGKCDSAPrivateKey_Decode(SGKCDSAPrivateKey* key, const unsigned char* der, int length);
int SGKCDSAPrivateKey_GetKeySize(int* bytes, const SGKCDSAPrivateKey* key);
/* Frees x and overwrites the record: 0; null accepted. */
int SGKCDSAPrivateKey_Free(SGKCDSAPrivateKey* key);
int SGKCDSAPublicKey_Encode(unsigned char* output, unsigned int* length,
                            const SGKCDSAPublicKey* key);
int SGKCDSAPublicKey_Decode(SGKCDSAPublicKey* key, const unsigned char* der, int length);
/* The byte length of y: 0; 11 null arguments or no y. */
int SGKCDSAPublicKey_GetKeySize(int* bytes, const SGKCDSAPublicKey* key);
int SGKCDSAPublicKey_Free(SGKCDSAPublicKey* key);

/* The hash-based generator: the sum of H(seed || i) * 2^(i * h) for i = 0, 1, ..., reduced
 * mod 2^bits, as minimal big-endian bytes into output (bits / 8 rounded up bytes at most).
 * Hash id 8 (HAS-160), 5 (SHA-256) or 4 (SHA-224). 0; 11 another hash id, null arguments or
 * more than 255 blocks; the digest's error. */
int SGKCDSA_PRNG(unsigned char* output, unsigned int* outputLength, const unsigned char* seed,
                 unsigned int seedLength, unsigned int bits, int hashId);
/* x from fresh random XKEY and XSEED: 0; -2 bits of q; 11 null arguments; 13 memory. */
int SGKCDSA_Generate_PrivateSignatureKey(SGBigInteger* x, const SGKCDSAParameter* domain);
/* y = g^(x^-1 mod q) mod p: 0; 11 null arguments or x without an inverse; 13 memory. */
int SGKCDSA_Generate_PublicVerificationKey(SGBigInteger* y, const SGBigInteger* x,
                                           const SGKCDSAParameter* domain);
/* 0 when a is probably prime, else -1. */
int SGKCDSA_CheckStrongPrime(const SGBigInteger* a);

SG_CRYPTO_EXTERN_C_END

#endif
