/* SEED (KISA's 128-bit block cipher) as an engine of the cipher registry. */
#ifndef SG_SEED_H
#define SG_SEED_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Builds the 32 round keys from the first 16 key bytes, in reverse round order for decryption
 * (direction 1). Always 0. */
int SGCipher_SEED_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction);
/* One 16-byte block with the stored round keys; the direction is not read. */
void SGCipher_SEED_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                        int direction);

SG_CRYPTO_EXTERN_C_END

#endif
