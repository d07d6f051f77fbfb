#include "SGOS.h"

#include <cstdlib>

extern "C" {

void* SGOS_malloc(uint32_t size) { return std::malloc(size); }
void* SGOS_calloc(uint32_t count, uint32_t size) { return std::calloc(count, size); }
void* SGOS_realloc(void* ptr, uint32_t size) { return std::realloc(ptr, size); }
void SGOS_free(void* ptr) { std::free(ptr); }

}  // extern "C"
