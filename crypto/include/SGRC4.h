/* RC4, driven by the cipher layer as a cipher with 8-byte blocks. */
#ifndef SG_RC4_H
#define SG_RC4_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* The key permutation from a key of at least one byte; the fourth argument is ignored.
 * 0, or 401 for a null or empty key. */
int SGCipher_RC4_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int ignored);
/* Eight keystream bytes XORed onto the block; the state carries over to the next block. */
void SGCipher_RC4_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction);

/* The same algorithm over whole buffers. state is 258 bytes (S, i, j). */
int SGRC4_init(unsigned char* state, const unsigned char* key, uint32_t keyLength);
void SGRC4_crypt(unsigned char* state, unsigned char* output, const unsigned char* input,
                 uint32_t length);

SG_CRYPTO_EXTERN_C_END

#endif
