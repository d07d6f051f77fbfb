/* Included ahead of every generated and runtime C file: binds the runtime's allocation macros to
 * the base library's memory functions, through the PKI layer's copy of the Base table (slots 39,
 * 40, 41 and 43). The runtime header defines the macros unconditionally, so it is read first and
 * its include guard keeps it from defining them again. */
#ifndef SG_ASN1C_MEMORY_H
#define SG_ASN1C_MEMORY_H

#include "asn_internal.h"

#ifdef __cplusplus
extern "C" {
#endif
void* SGASN1C_malloc(size_t size);
void* SGASN1C_calloc(size_t count, size_t size);
void* SGASN1C_realloc(void* pointer, size_t size);
void SGASN1C_free(void* pointer);
#ifdef __cplusplus
}
#endif

#undef MALLOC
#undef CALLOC
#undef REALLOC
#undef FREEMEM
#define MALLOC(size) SGASN1C_malloc(size)
#define CALLOC(nmemb, size) SGASN1C_calloc((nmemb), (size))
#define REALLOC(oldptr, size) SGASN1C_realloc((oldptr), (size))
#define FREEMEM(ptr) SGASN1C_free(ptr)

#endif
