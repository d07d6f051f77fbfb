/* LEA (the Korean lightweight 128-bit block cipher with 128-, 192- and 256-bit keys) as an engine
 * of the cipher registry. */
#ifndef SG_LEA_H
#define SG_LEA_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Keys of exactly 16, 24 or 32 bytes (24, 28 or 32 rounds); one schedule serves both
 * directions. 0, 401 for a null or empty key, 403 for any other length. */
int SGCipher_LEA_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int direction);
/* One 16-byte block: direction 0 encrypts, 1 decrypts. */
void SGCipher_LEA_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction);

SG_CRYPTO_EXTERN_C_END

#endif
