/* ARIA (the Korean 128-bit block cipher with 128-, 192- and 256-bit keys) as an engine of the
 * cipher registry. */
#ifndef SG_ARIA_H
#define SG_ARIA_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Key size from the length rounded down to a multiple of 8 (16-23 bytes: 128 bits, 24-31: 192,
 * 32 and more: 256, the first bytes used); decryption keys for direction 1. 0, or 403 for a key
 * shorter than 16 bytes. */
int SGCipher_ARIA_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction);
/* One 16-byte block with the stored round keys; the direction is not read. */
void SGCipher_ARIA_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                        int direction);

SG_CRYPTO_EXTERN_C_END

#endif
