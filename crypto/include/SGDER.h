/* The crypto library's small DER codec. The writer builds an encoding backwards, from the end of
 * a growing buffer towards its start, so every length is known when its header is written; the
 * reader walks an encoding forwards one element at a time and checks every length against its
 * input. Two sets with the same behaviour: ASN1* (RSA, PKCS #1, KCDSA) and SGCrypto_ASN1*
 * (elliptic curves); ASN1Read refuses the raw pseudo-tag, SGCrypto_ASN1Read does not. */
#ifndef SG_DER_H
#define SG_DER_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_DER_INTEGER = 2,
    SG_DER_BIT_STRING = 3,
    SG_DER_OCTET_STRING = 4,
    SG_DER_NULL = 5,
    SG_DER_OBJECT_IDENTIFIER = 6,
    SG_DER_SEQUENCE = 0x30,
    SG_DER_RAW = 254 /* writer: the bytes without tag and length */
};

enum {
    SG_DER_ERR_TAG = 2001,          /* another tag than the expected one */
    SG_DER_ERR_LENGTH = 2002,       /* malformed: a length past the input, a long-form length of
                                       more than 4 bytes, an empty BIT STRING, a value the
                                       structure does not allow */
    SG_DER_ERR_NO_SEQUENCE = 2003,  /* an outer SEQUENCE is missing */
    SG_DER_ERR_UNUSED_BITS = -27311 /* a BIT STRING with unused bits */
};

/* Caller-owned. For writing, the encoding built so far is data[position .. size); position 0
 * means nothing is written yet. For reading, position is the offset of the next byte and value
 * points at the contents of the element read last. */
typedef struct ASN1Context {
    unsigned char* data;
    unsigned char* value;
    uint32_t size;
    uint32_t position;
    uint32_t callerBuffer; /* 1 when data is the caller's: the codec never frees it */
} ASN1Context;

typedef ASN1Context SGCrypto_ASN1Context;

/* With a buffer: reading or writing over the caller's size bytes. With null: a new 32-byte
 * buffer that the context owns. 0; 11 null context or negative size; 13 memory. The fourth
 * argument is not read. */
int ASN1Context_Create(ASN1Context* context, unsigned char* buffer, int size, int unused);
/* Size and position to 0. */
int ASN1Context_Reset(ASN1Context* context);
/* Frees a buffer the context owns (a caller's buffer is left alone) and clears the context. */
int ASN1Context_Destroy(ASN1Context* context);
/* Prepends one element (tag 254: the bytes alone; a SEQUENCE's length covers everything
 * written so far). An INTEGER gets a 0x00 byte before a first byte with its top bit set, and
 * an empty INTEGER is written as 0. 0; 11 null context; 13 memory (the buffer is unchanged). */
int ASN1Write(ASN1Context* context, int tag, const unsigned char* value, unsigned int length);
/* Prepends a length and a tag only. */
int ASN1WriteTypeAndLength(ASN1Context* context, int tag, int length);
/* Reads one element header with the expected tag (2, 3, 4, 6 and 0x30 are checked and
 * consumed; for another tag the position stands at the length). A SEQUENCE is entered: the
 * position stays at its first member. 0; 2001; 2002; -27311. */
int ASN1Read(ASN1Context* context, int tag, unsigned int* length);
/* Reads an element of any of the tags 2, 3, 4, 5, 6, 0x30 and reports its tag. */
int ASN1Read_Any(ASN1Context* context, int* tag, unsigned int* length);
/* Checks and consumes one tag byte (254: consumed unchecked): 0, 2001, 2002. */
int ASN1ReadType(ASN1Context* context, int tag);
/* Reads one length: 0, 2002. */
int ASN1ReadLength(ASN1Context* context, unsigned int* length);

int SGCrypto_ASN1Context_Create(SGCrypto_ASN1Context* context, unsigned char* buffer, int size,
                                int unused);
int SGCrypto_ASN1Context_Reset(SGCrypto_ASN1Context* context);
int SGCrypto_ASN1Context_Destroy(SGCrypto_ASN1Context* context);
int SGCrypto_ASN1Write(SGCrypto_ASN1Context* context, int tag, const unsigned char* value,
                       unsigned int length);
/* As ASN1Read, except that the raw pseudo-tag 254 is taken as an unchecked tag. */
int SGCrypto_ASN1Read(SGCrypto_ASN1Context* context, int tag, unsigned int* length);

SG_CRYPTO_EXTERN_C_END

#endif
