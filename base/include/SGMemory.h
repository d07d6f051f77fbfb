/* Heap functions through which every layer allocates, wipes and frees. */
#ifndef SG_MEMORY_H
#define SG_MEMORY_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

void* SGMemory_malloc(size_t size);
void* SGMemory_calloc(size_t count, size_t size);
void* SGMemory_realloc(void* ptr, size_t size);
void SGMemory_free(void* ptr);
/* Five passes (0x3F, 0xC0, 0x73, 0xE7, 0x00) that the optimiser cannot drop. */
void SGMemory_cleanse(void* ptr, size_t length);

SG_EXTERN_C_END

#endif
