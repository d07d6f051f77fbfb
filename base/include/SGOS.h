/* Operating-system layer: one portable face on the platform's standard library. */
#ifndef SG_OS_H
#define SG_OS_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

void* SGOS_malloc(uint32_t size);
void* SGOS_calloc(uint32_t count, uint32_t size);
void* SGOS_realloc(void* ptr, uint32_t size);
void SGOS_free(void* ptr);

SG_EXTERN_C_END

#endif
