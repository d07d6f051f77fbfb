/* Common definitions of the crypto library: export marker, C linkage, result codes. The crypto
 * layer uses no other layer, so it carries its own copies of these. */
#ifndef SG_CRYPTO_DEFS_H
#define SG_CRYPTO_DEFS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define SG_CRYPTO_EXTERN_C_BEGIN extern "C" {
#define SG_CRYPTO_EXTERN_C_END }
#else
#define SG_CRYPTO_EXTERN_C_BEGIN
#define SG_CRYPTO_EXTERN_C_END
#endif

/* Names that the application exports so that modules loaded into it bind to them. */
#define SG_CRYPTO_EXPORT __attribute__((visibility("default")))

/* Result codes shared by the crypto components (0 = success). */
enum {
    SG_CRYPTO_ERR_ARGUMENT = 11,           /* missing table or argument */
    SG_CRYPTO_ERR_MEMORY = 13,             /* memory exhausted */
    SG_CRYPTO_ERR_MODULE_IN_USE = 17,      /* a validated module is already in use */
    SG_CRYPTO_ERR_NOT_SUPPORTED = 18,      /* not supported */
    SG_CRYPTO_ERR_STRUCTURE_KIND = 21,     /* unknown structure kind */
    SG_CRYPTO_ERR_RANDOM_NOT_READY = 79,   /* process random generator not instantiated */
    SG_CRYPTO_ERR_SELF_TEST = 95,          /* start-up self-test failed */
    SG_CRYPTO_ERR_EMPTY_SLOT = 996,        /* a slot of the filled table is empty */
    SG_CRYPTO_ERR_MODULE_INVALID = 997,    /* module table incomplete or version not accepted */
    SG_CRYPTO_ERR_MODULE_UNAVAILABLE = 998 /* module library cannot be opened or has no entry */
};

#endif
