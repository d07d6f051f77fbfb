/* Common definitions of the base library: export marker, C linkage, result codes. */
#ifndef SG_BASE_DEFS_H
#define SG_BASE_DEFS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define SG_EXTERN_C_BEGIN extern "C" {
#define SG_EXTERN_C_END }
#else
#define SG_EXTERN_C_BEGIN
#define SG_EXTERN_C_END
#endif

/* Names that the application exports so that modules loaded into it bind to them. */
#define SG_EXPORT __attribute__((visibility("default")))

/* Base-library result codes (1001-1010). */
enum {
    SG_BASE_ERR_NULL_ARGUMENT = 1001, /* missing table or argument */
    SG_BASE_ERR_MEMORY = 1002,        /* exhausted memory */
    SG_BASE_ERR_BUFFER_SIZE = 1003,   /* caller's buffer too small */
    SG_BASE_ERR_EMPTY_SLOT = 1005     /* a table slot stayed empty */
};

#endif
