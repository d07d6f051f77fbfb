/* AES as an engine of the cipher registry; the processor's AES instructions are used when it has
 * them, the table code otherwise, with identical results. */
#ifndef SG_AES_H
#define SG_AES_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Key size from the length (16-23 bytes: AES-128 on the first 16, 24-31: AES-192, 32 and more:
 * AES-256 on the first 32). Direction 0 encrypts, 1 builds the equivalent inverse cipher's
 * schedule. 0; 401 null or empty key; 403 key shorter than 16 bytes; 404 other direction. */
int SGCipher_AES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int direction);
/* One 16-byte block: direction 0 the cipher, 1 the equivalent inverse cipher. */
void SGCipher_AES_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction);
/* Expands an encryption key of keyBytes (16, 24 or 32) into schedule (60 words); returns the
 * number of rounds, or 0 for another size. */
int SGAES_set_encrypt_key(uint32_t* schedule, const unsigned char* key, int keyBytes);

SG_CRYPTO_EXTERN_C_END

#endif
