/* Included ahead of every generated and runtime C file: silences the runtime's debug messages at
 * compile time and binds the runtime's allocation macros to the base library's memory functions,
 * through the PKI layer's copy of the Base table (slots 39, 40, 41 and 43). The runtime header
 * defines the allocation macros unconditionally, so it is read first and its include guard keeps
 * it from defining them again. */
#ifndef SG_ASN1C_MEMORY_H
#define SG_ASN1C_MEMORY_H

/* The runtime's debug messages are never emitted, but its fallback ASN_DEBUG is an empty
 * function, so every call still evaluated its arguments (tag names formatted with snprintf on
 * every element encoded or decoded). As a macro the call and its arguments vanish. */
#define ASN_DEBUG(...) ((void)0)

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
