/* CBC-MAC over a cipher of the library: the first 8 key bytes, CBC with a zero 8-byte IV, zero
 * padding (a whole block of zeros after aligned data), 8-byte MAC. */
#ifndef SG_CMAC_H
#define SG_CMAC_H

#include "SGCipher.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum { SG_CMAC_TYPE_CBC_MAC = 1, SG_CMAC_SIZE = 8 };

/* Caller-owned; holds a heap cipher context until SGCMACContext_Clear. */
typedef struct SGCMACContext {
    int reserved;
    int macType; /* only 1, CBC-MAC */
    unsigned char reserved2[8];
    SGCipherContext* cipher;
} SGCMACContext;

/* Writes 8. */
int SGCMAC_GetMACSize(int* size);
/* 11 null key, empty or shorter than 8 bytes; 13 memory; 18 MAC type other than 1; otherwise
 * the cipher layer's result for the first 8 key bytes (412 for a 16-byte-block cipher, 414 for
 * triple DES). Whatever it returns, SGCMACContext_Clear releases the context. */
int SGCMAC_Init(SGCMACContext* context, int cipherId, int macType, const unsigned char* key,
                uint32_t keyLength);
int SGCMAC_Update(SGCMACContext* context, const unsigned char* data, uint32_t length);
int SGCMAC_Final(SGCMACContext* context, unsigned char* mac, uint32_t* macLength);
/* Wipes and frees the held cipher context; a null context or an empty record is ignored. */
int SGCMACContext_Clear(SGCMACContext* context);
int SGCMAC(unsigned char* mac, uint32_t* macLength, int cipherId, int macType,
           const unsigned char* data, uint32_t dataLength, const unsigned char* key,
           uint32_t keyLength);

SG_CRYPTO_EXTERN_C_END

#endif
