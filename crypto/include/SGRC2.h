/* RC2 as an engine of the cipher registry. */
#ifndef SG_RC2_H
#define SG_RC2_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Expands a key of 1 to 128 bytes with the given effective key bits (0 means 1024). 0; 401 null
 * or empty key; 403 key over 128 bytes; 404 effective bits outside 0 to 1024. */
int SGCipher_RC2_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int effectiveBits);
/* One 8-byte block: direction 1 encrypts, 0 decrypts. */
void SGCipher_RC2_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction);
/* The expansion into the 128-byte table l (key bytes 1 to 128, effective bits 1 to 1024). */
void SGRC2_keyschedule(unsigned char* l, const unsigned char* key, int keyLength,
                       int effectiveBits);
/* The mixing rounds on one block of four little-endian 16-bit words. */
void SGRC2_encrypt(uint16_t* r, const unsigned char* l);
void SGRC2_decrypt(uint16_t* r, const unsigned char* l);

SG_CRYPTO_EXTERN_C_END

#endif
