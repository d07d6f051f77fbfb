/* DES and triple DES (EDE) as engines of the cipher registry. The key schedules come from the
 * mbed TLS DES module; the rounds are the library's own. */
#ifndef SG_DES_H
#define SG_DES_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* The 16 subkey pairs from the first 8 key bytes (parity ignored), reversed for decryption
 * (direction 0). Always 0. */
int SGCipher_DES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int direction);
/* One 8-byte block with the stored subkeys; the direction is not read. */
void SGCipher_DES_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction);
/* 16 bytes: K1, K2, K1; 24 bytes: K1, K2, K3. Direction 1 stores the encryption schedule, 0 the
 * decryption schedule. 0, or -11 for any other key length. */
int SGCipher_TDES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction);
void SGCipher_TDES_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                        int direction);

SG_CRYPTO_EXTERN_C_END

#endif
