#include "SGHex.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "SGMemory.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int digitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void encode(char* out, const unsigned char* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[2 * static_cast<size_t>(count)] = '\0';
}

// Walks the text as the decoder does; with out null it only checks and counts. Never looks
// past the terminating NUL, also when a pair is cut short by it.
bool walkPairs(const char* text, unsigned char* out, int* count) {
    int n = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const int high = digitValue(p[0]);
        if (high < 0 || p[1] == '\0') return false;
        const int low = digitValue(p[1]);
        if (low < 0) return false;
        if (out) out[n] = static_cast<unsigned char>(high * 16 + low);
        ++n;
        p += 2;
    }
    *count = n;
    return true;
}

}  // namespace

extern "C" {

int SGHex_Encode(char* out, uint32_t capacity, const void* bytes, uint32_t count) {
    if (!out || (!bytes && count > 0)) return SG_BASE_ERR_NULL_ARGUMENT;
    if (static_cast<uint64_t>(capacity) < 2 * static_cast<uint64_t>(count) + 1) {
        if (capacity > 0) out[0] = '\0';
        return SG_BASE_ERR_BUFFER_SIZE;
    }
    encode(out, static_cast<const unsigned char*>(bytes), count);
    return 0;
}

int SGHex_Decode(unsigned char* out, int* count, const char* text) {
    if (!out || !count || !text) return SG_BASE_ERR_NULL_ARGUMENT;
    int n = 0;
    // Check the whole text first so that malformed input leaves out untouched.
    if (!walkPairs(text, nullptr, &n)) {
        *count = 0;
        return SG_HEX_ERR_BAD_TEXT;
    }
    walkPairs(text, out, &n);
    *count = n;
    return 0;
}

int SGBase_DebugHex(const char* file, uint32_t line, const void* bytes, uint32_t count) {
    if (!bytes) count = 0;
    if (!file) file = "";
    const size_t size = std::strlen(file) + 2 * static_cast<size_t>(count) + 16;
    char* hex = static_cast<char*>(SGMemory_malloc(size));
    if (!hex) return SG_BASE_ERR_MEMORY;
    encode(hex, static_cast<const unsigned char*>(bytes), count);
    std::printf("[%s:%d]%s\n", file, static_cast<int>(line), hex);
    std::fflush(stdout);
    SGMemory_free(hex);
    return 0;
}

int SGBase_Debug(const char* file, uint32_t line, const char* format, ...) {
    char message[10240];
    message[0] = '\0';
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    std::printf("[%s:%d]%s\n", file ? file : "", static_cast<int>(line), message);
    std::fflush(stdout);
    return 0;
}

}  // extern "C"
