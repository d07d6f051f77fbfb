/* ECDSA on NIST P-256: the curve's domain parameters, points over SGBigInteger, keys and
 * signature values in their usual encodings, signing and verification. Scalar multiplication
 * and the signing arithmetic run in constant time on fixed-width field elements. */
#ifndef SG_ECDSA_H
#define SG_ECDSA_H

#include "SGBigInteger.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_EC_ERR_BUFFER = 14,        /* output too short or null (lengths reported) */
    SG_EC_ERR_NOT_OID = 18,       /* domain parameters that are not an OBJECT IDENTIFIER */
    SG_EC_ERR_CURVE = 153,        /* another curve than P-256 */
    SG_EC_ERR_INFINITY = 154,     /* an addition gave the point at infinity */
    SG_EC_ERR_INVALID = 830,      /* the signature does not verify */
    SG_EC_ERR_POINT = 1111,       /* not an uncompressed point of the curve */
    SG_EC_ERR_NOT_PRIME = -222,   /* domain validation: p not prime */
    SG_EC_ERR_SINGULAR = -223,    /* domain validation: 4a^3 + 27b^2 = 0 */
    SG_EC_ERR_GENERATOR = -224,   /* domain validation: G not on the curve */
    SG_EC_ERR_DEGENERATE = -23123 /* signing met a point with a zero coordinate */
};

enum { SG_EC_FIELD_PRIME = 0 };
enum { SG_EC_AFFINE = 0, SG_EC_JACOBIAN = 1 };
enum { SG_ECDSA_HASH_AS_GIVEN = 10, SG_ECDSA_SCALAR_BYTES = 32 };

/* The field part of a domain: its type (0, prime field) and p. */
typedef struct SGECField {
    int fieldType;
    SGBigInteger* p;
} SGECField;

/* A point: affine (x, y) or Jacobian (X, Y, Z) with x = X/Z^2, y = Y/Z^3. The point at infinity
 * has its flag set and no meaningful coordinates. Released with SGECPoint_Reset. */
typedef struct SGECPoint {
    SGBigInteger* x;
    SGBigInteger* y;
    SGBigInteger* z;
    int coordinate;            /* SG_EC_AFFINE or SG_EC_JACOBIAN */
    const SGECField* field;    /* the domain's field part */
    int infinity;              /* 1 for the point at infinity */
    SGBigIntegerContext* pool; /* the pool x, y and z came from, or null when they are owned */
} SGECPoint;

/* Caller-owned and zeroed before first use; filled by SGECDomainParameters_Decode or _Get and
 * released with SGECDomainParameters_Reset. */
typedef struct SGECDomainParameters {
    SGBigInteger* a;
    SGBigInteger* b;
    SGBigInteger* c; /* the seed-derived value of the curve */
    SGECField field;
    SGECPoint G;
    SGBigInteger* n;
} SGECDomainParameters;

typedef struct SGECPrivateKey {
    SGBigInteger* d;
} SGECPrivateKey;

/* Caller-owned and zeroed before first use; released with SGECPublicKey_Reset. */
typedef struct SGECPublicKey {
    SGBigInteger* x;
    SGBigInteger* y;
} SGECPublicKey;

typedef struct SGECDSAParameter {
    int hashId;                 /* a digest id, or 10: the message is already the hash */
    const unsigned char* nonce; /* a fixed k for known-answer tests, else null */
    int nonceLength;
} SGECDSAParameter;

/* Slot 127. The DER OBJECT IDENTIFIER of P-256 fills the record with the curve's constants
 * (what it held is released): 0; 11 null arguments; 18 not an OBJECT IDENTIFIER; 153 another
 * curve. */
int SGECDomainParameters_Decode(SGECDomainParameters* domain, const unsigned char* der, int length);
/* Slot 128. 04 || X || Y: 0; 11 null arguments; 1111 not uncompressed, odd coordinate lengths,
 * coordinates not below p, or not on the curve. */
int SGECPublicKey_Decode(SGECPublicKey* key, const unsigned char* octets, int length);
/* Slot 129. *d = the big-endian scalar (created when null): 0; 11 null arguments or a value
 * outside [1, n). */
int SGECPrivateKey_Decode(SGBigInteger** d, const unsigned char* bytes, int length);
/* Slot 130. SEQUENCE { r INTEGER, s INTEGER } with minimal integers. *length: in, the output's
 * size when an output is given; out, the DER length (always). 0; 11 null arguments; 14 a null
 * or too short output; 13 memory. */
int SGECDSA_Encode_SignatureValue(unsigned char* output, unsigned int* length,
                                  const unsigned char* r, int rLength, const unsigned char* s,
                                  int sLength);
/* Slot 131. r's and s's minimal big-endian bytes. Each length: in, its buffer's size; out, the
 * value's length (always). 0; 11 null arguments; 14 a null or too short buffer; the reader's
 * error (2002 also for negative, empty or non-minimal integers and bytes after the SEQUENCE). */
int SGECDSA_Decode_SignatureValue(unsigned char* r, unsigned int* rLength, unsigned char* s,
                                  unsigned int* sLength, const unsigned char* der, int length);
/* Slot 132. r and s as 32-byte strings. Each length: in, the buffer's size; out, 32. 0; 11 bad
 * arguments (d outside [1, n), a fixed nonce outside [1, n), an unknown hash id); 14 a buffer
 * shorter than 32; -23123 a degenerate point; the digest's error. */
int SGECDSA_Sign(unsigned char* r, unsigned int* rLength, unsigned char* s, unsigned int* sLength,
                 const unsigned char* message, int messageLength, SGBigInteger** d,
                 const SGECDSAParameter* parameter);
/* Slot 133. 0 valid; 830 invalid (r or s outside [1, n) included); 11 bad arguments (a public
 * key that is not a point of the curve included). */
int SGECDSA_Verify(const unsigned char* r, int rLength, const unsigned char* s, int sLength,
                   const unsigned char* message, int messageLength, const SGECPublicKey* key,
                   const SGECDSAParameter* parameter);

/* Releases a public key's coordinates and zeroes it. */
int SGECPublicKey_Reset(SGECPublicKey* key);

/* The P-256 constants into a record (what it held is released): 0; 11 null; 13 memory. */
int SGECDomainParameters_Get(SGECDomainParameters* domain);
/* Releases the record's values and zeroes it: 0. */
int SGECDomainParameters_Reset(SGECDomainParameters* domain);
/* Prints "t = %d\n" with half the bit length of p; then checks G on the curve (-224), the
 * discriminant (-223) and p prime (-222, p printed), in that order: 0 or the first failure. */
int SGECDomainParameters_Validation_GFp(const SGECDomainParameters* domain);
/* Validates the stored P-256 parameters. */
int SGECDomainParameters_ValidateAll(void);

/* A zeroed point on the domain's field with new coordinates (the point at infinity until set):
 * 0; 11; 13. */
int SGECPoint_Init(SGECPoint* point, const SGECDomainParameters* domain);
/* Affine (x, y): 0; 11; 13. */
int SGECPoint_Set(SGECPoint* point, const SGBigInteger* x, const SGBigInteger* y);
/* Releases owned coordinates and zeroes the point: 0. */
int SGECPoint_Reset(SGECPoint* point);
/* An uncompressed point of the curve into an initialised point: 0; 11; 1111. */
int SGECPoint_Decode(SGECPoint* point, const unsigned char* octets, int length);
/* x and y of 04 || X || Y (halves of the rest): 0; -1 when the first byte is not 4 or the rest
 * cannot be halved; 11; 13. */
int ECPointFromBinary(SGBigInteger* x, SGBigInteger* y, const unsigned char* octets, int length);
/* A heap copy (owned coordinates): 0; 11; 13. Released with SGECPoint_free. */
int SGECPoint_dup(SGECPoint** copy, const SGECPoint* point);
int SGECPoint_free(SGECPoint* point);
/* r = a + b, complete (doubling and opposite points included): 0; 154 when the sum is the point
 * at infinity (r is set to it); 11 points not on the domain's curve or null arguments. */
int SGECPoint_Add(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                  const SGECDomainParameters* domain);
/* r = a - b, as SGECPoint_Add. */
int SGECPoint_Sub(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                  const SGECDomainParameters* domain);
/* r = (k mod n) P in constant time; k = 0 mod n gives the point at infinity (result 0). 0; 11
 * null arguments or P not on the curve; 13 memory. */
int SGECPoint_ScalarMultiply(SGECPoint* r, const SGBigInteger* k, const SGECPoint* point,
                             const SGECDomainParameters* domain);
/* Converts between affine and Jacobian coordinates in place: 0; 11. */
int SGECPoint_ConvertCoordination(SGECPoint* point, int coordinate,
                                  const SGECDomainParameters* domain);
/* r = 2a: 0; 154 for the point at infinity or a point of order 2; 11. */
int SGECPoint_Doubling_GFp(SGECPoint* r, const SGECPoint* a, const SGECDomainParameters* domain);
/* The Jacobian forms of addition and doubling; the result is affine. As SGECPoint_Add and
 * SGECPoint_Doubling_GFp. */
int SGECPoint_Add_JacobianProjective(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                                     const SGECDomainParameters* domain);
int SGECPointDoubling_JacobianProjective(SGECPoint* r, const SGECPoint* a,
                                         const SGECDomainParameters* domain);

SG_CRYPTO_EXTERN_C_END

#endif
