/* Crypto library core: version, initialisation, the validated-module hand-over, the library's
 * memory functions and wiping, the structure markers and the start-up statistical self-test. */
#ifndef SG_CRYPTO_H
#define SG_CRYPTO_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* "4.2.1.0". */
const char* SGCrypto_GetVersion(void);
/* Instantiates the process random generator, registers the cipher engines and runs the
 * statistical self-test; always 0. A failed self-test is recorded (95) and retried next call. */
int SGCrypto_Initialize(void);
/* Back to the uninitialised state; releases the generator and a module the library opened. */
int SGCrypto_Finalize(void);
/* Not supported: 18. */
int SGCrypto_SetDebugCallback(void* callback);
/* Loads and checks the validated crypto module: 0, 17, 997, 998 or the module's own result.
 * A null handle opens the module library by name; a given handle is never closed here. */
int SGCrypto_SetKCMVPModule(void* handle);

void* SGCrypto_malloc(size_t size);
void* SGCrypto_calloc(size_t count, size_t size);
void SGCrypto_free(void* pointer);
/* Zeroes size bytes, then frees. */
void SGCrypto_safeFree(void* pointer, size_t size);
/* Five whole passes 0x3F, 0xC0, 0x73, 0xE7, 0x00 that the optimiser cannot drop. */
void SGCrypto_cleanse(void* pointer, size_t size);
/* The value with its four bytes reversed (host to big-endian here). */
uint32_t htonuint32(uint32_t value);
void* getsym(void* library, const char* name);

/* One 2,500-byte sample from the process generator through the monobit, poker, runs and long-run
 * tests: 0 passed, -1 to -6 the failed test, 13 no work buffer, or the generator's error. */
int SGCrypto_StatisticalTest(void);
/* The start-up check: the statistical test, redrawn a few times before a failure is reported. */
int SGCrypto_CheckRandomHealth(void);

/* Structure markers of the records a validated module can take over. */
enum {
    SG_CRYPTO_MARKER_MAGIC = 0x637F,
    SG_CRYPTO_MODULE_AREA_SIZE = 4096,
    SG_STRUCTURE_CIPHER_PARAMETER = 0x8F01,
    SG_STRUCTURE_PKCS1_PARAMETER = 0x8F02,
    SG_STRUCTURE_RSA_PUBLIC_KEY = 0x8F03,
    SG_STRUCTURE_RSA_PRIVATE_KEY = 0x8F04,
    SG_STRUCTURE_CIPHER_CONTEXT = 0xDF01,
    SG_STRUCTURE_DIGEST_CONTEXT = 0xDF02,
    SG_STRUCTURE_HMAC_CONTEXT = 0xDF03,
    SG_STRUCTURE_RESERVED = 0xDF04
};

/* The marker and module area that end every record the module can take over. */
typedef struct SGCryptoStructureMarker {
    uint32_t magic;
    uint32_t kind;
    unsigned char moduleArea[SG_CRYPTO_MODULE_AREA_SIZE];
} SGCryptoStructureMarker;

/* Marks a record of one of the seven kinds as module-owned: 0, or 21 for another kind. */
int SGCrypto_Structure_Init(void* record, int kind);
/* Releases what marking made for the record: 0, or 21 for an unknown kind. */
int SGCrypto_Structure_Fini(void* record, int kind);
/* 1 when the two words at marker are not a module marker, else 0. */
int SGCrypto_Structure_IsLegacy(const void* marker);

SG_CRYPTO_EXTERN_C_END

#endif
