/* Entropy collection, the process-wide random generator and the small LFSR. */
#ifndef SG_RANDOM_H
#define SG_RANDOM_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Filters of SGEntropy_Add. */
enum {
    SG_ENTROPY_ALL = 1,        /* every byte */
    SG_ENTROPY_SKIP_00_FF = 2, /* skips 0x00 and 0xFF */
    SG_ENTROPY_SKIP_0A_20 = 3  /* skips newline and space */
};

/* Folds bytes by XOR into a buffer, wrapping at its end. */
typedef struct SGEntropyCollector {
    unsigned char* buffer;
    uint32_t position;
    uint32_t size;
} SGEntropyCollector;

/* Folds the system's sources into length bytes of buffer (pass it zeroed): 0, or 308 when every
 * operating-system random source failed. */
int SGEntropy(unsigned char* buffer, uint32_t length);
int SGEntropy_Add(SGEntropyCollector* collector, const void* bytes, uint32_t length, int filter,
                  const char* name);
/* 0 for levels 1 and 2, -1 otherwise; changes nothing. */
int SGEntropy_SetLevel(int level);

/* The process generator: one SHA-256 Hash_DRBG instance. */
int SGRandom_Initialize(void);
void SGRandom_Finalize(void);
/* Up to 8,192 bytes under the generator's lock: 0, 79 before initialisation, 307, or the DRBG's
 * error. */
int SGRandom_bytes(unsigned char* buffer, int length);
/* Additional input for the next draw (copied); -1 before initialisation. */
int SGRandom_add(const unsigned char* data, int length);
/* The library's own draws (self-test, padding, key generation): no module hand-over. */
int _SGRandom_bytes(unsigned char* buffer, int length);
int SGRandom_pseudo_bytes(unsigned char* buffer, int length);
int _SGRandom_add(const unsigned char* data, int length);

/* Time-seeded 32-bit Galois LFSR: -1 for a null output, else 0. */
int SGLFSR_GenerateRandom(unsigned char* output, int length);

SG_CRYPTO_EXTERN_C_END

#endif
