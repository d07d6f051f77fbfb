#include "SGBase64.h"

#include <array>

#include "SGMemory.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kPad = 64;

// Value of each byte: 0-63 for the alphabet, kPad for "=", -1 for anything else.
constexpr std::array<int8_t, 256> kValues = [] {
    std::array<int8_t, 256> v{};
    v.fill(-1);
    for (int i = 0; i < 64; ++i)
        v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    v['='] = kPad;
    return v;
}();

}  // namespace

extern "C" {

int SGBase64_Encode(char** out, uint32_t* outLength, const void* bytes, uint32_t length) {
    if (!out || (!bytes && length > 0)) return SG_BASE64_ERR_ARGUMENT;
    const uint64_t chars = (static_cast<uint64_t>(length) + 2) / 3 * 4;
    if (chars + 1 > UINT32_MAX) return SG_BASE64_ERR_MEMORY;
    char* text = static_cast<char*>(SGMemory_malloc(chars + 1));
    if (!text) return SG_BASE64_ERR_MEMORY;

    const auto* in = static_cast<const unsigned char*>(bytes);
    char* w = text;
    uint32_t i = 0;
    for (; length - i >= 3; i += 3) {
        const uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        *w++ = kAlphabet[v >> 18];
        *w++ = kAlphabet[(v >> 12) & 63];
        *w++ = kAlphabet[(v >> 6) & 63];
        *w++ = kAlphabet[v & 63];
    }
    if (length - i == 1) {
        const uint32_t v = in[i] << 16;
        *w++ = kAlphabet[v >> 18];
        *w++ = kAlphabet[(v >> 12) & 63];
        *w++ = '=';
        *w++ = '=';
    } else if (length - i == 2) {
        const uint32_t v = (in[i] << 16) | (in[i + 1] << 8);
        *w++ = kAlphabet[v >> 18];
        *w++ = kAlphabet[(v >> 12) & 63];
        *w++ = kAlphabet[(v >> 6) & 63];
        *w++ = '=';
    }
    *w = '\0';
    *out = text;
    if (outLength) *outLength = static_cast<uint32_t>(chars);
    return 0;
}

int SGBase64_Decode(char** out, uint32_t* outLength, const char* text, uint32_t length) {
    if (!out || (!text && length > 0)) return SG_BASE64_ERR_ARGUMENT;
    if (length % 4 != 0) return SG_BASE64_ERR_INPUT;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    auto* bytes = static_cast<unsigned char*>(SGMemory_malloc(length / 4 * 3 + 1));
    if (!bytes) return SG_BASE64_ERR_MEMORY;
    uint32_t n = 0;
    bool ended = false;  // a padded group was decoded: the rest is only checked
    for (uint32_t i = 0; i < length; i += 4) {
        const int v[4] = {kValues[in[i]], kValues[in[i + 1]], kValues[in[i + 2]],
                          kValues[in[i + 3]]};
        const int any = v[0] | v[1] | v[2] | v[3];
        if (any < 0) {
            SGMemory_free(bytes);
            return SG_BASE64_ERR_INPUT;
        }
        if (ended) continue;
        if (any < kPad) {
            const uint32_t g = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
            bytes[n++] = static_cast<unsigned char>(g >> 16);
            bytes[n++] = static_cast<unsigned char>(g >> 8);
            bytes[n++] = static_cast<unsigned char>(g);
            continue;
        }
        int data = 0;  // characters before the first "="
        while (v[data] != kPad) ++data;
        if (data >= 2) bytes[n++] = static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4));
        if (data == 3) bytes[n++] = static_cast<unsigned char>(((v[1] & 15) << 4) | (v[2] >> 2));
        ended = true;
    }
    bytes[n] = 0;
    *out = reinterpret_cast<char*>(bytes);
    if (outLength) *outLength = n;
    return 0;
}

int SGBase64_Free(void* p) {
    SGMemory_free(p);
    return 0;
}

}  // extern "C"
