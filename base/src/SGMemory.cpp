#include "SGMemory.h"

#include <cstring>
#include <limits>

#include "SGMemoryInternal.h"
#include "SGOS.h"

namespace {
bool fitsU32(size_t n) { return n <= std::numeric_limits<uint32_t>::max(); }
}  // namespace

// Read through a volatile pointer at every pass, so the compiler cannot prove what the call does
// and must keep all five passes even when the buffer is freed right after.
void* (*volatile gSGMemoryFill)(void*, int, size_t) = std::memset;

extern "C" {

void* SGMemory_malloc(size_t size) {
    // The OS layer takes 32-bit sizes; refuse rather than allocate a truncated block.
    return fitsU32(size) ? SGOS_malloc(static_cast<uint32_t>(size)) : nullptr;
}

void* SGMemory_calloc(size_t count, size_t size) {
    if (!fitsU32(count) || !fitsU32(size)) return nullptr;
    return SGOS_calloc(static_cast<uint32_t>(count), static_cast<uint32_t>(size));
}

void* SGMemory_realloc(void* ptr, size_t size) {
    return fitsU32(size) ? SGOS_realloc(ptr, static_cast<uint32_t>(size)) : nullptr;
}

void SGMemory_free(void* ptr) {
    if (ptr) SGOS_free(ptr);
}

void SGMemory_cleanse(void* ptr, size_t length) {
    if (!ptr || length == 0) return;
    static constexpr int kPasses[] = {0x3F, 0xC0, 0x73, 0xE7, 0x00};
    for (int pattern : kPasses) {
        gSGMemoryFill(ptr, pattern, length);
        asm volatile("" : : "r"(ptr) : "memory");
    }
}

}  // extern "C"
