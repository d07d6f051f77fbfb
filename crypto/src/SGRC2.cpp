#include "SGRC2.h"

#include <cstring>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

// The permutation of 0..255 built from the digits of pi.
constexpr unsigned char SGRC2_keyschedule_permute[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad};

inline uint16_t keyWord(const unsigned char* l, unsigned i) {
    return static_cast<uint16_t>(l[2 * i] | l[2 * i + 1] << 8);
}
inline uint16_t rol16(uint16_t x, int n) {
    return static_cast<uint16_t>((x << n) | (x >> (16 - n)));
}
inline uint16_t ror16(uint16_t x, int n) {
    return static_cast<uint16_t>((x >> n) | (x << (16 - n)));
}

constexpr int kShift[4] = {1, 2, 3, 5};

inline void rc2Block(unsigned char* out, const unsigned char* in, const unsigned char* l,
                     bool encrypt) {
    uint16_t r[4];
    for (int i = 0; i < 4; ++i) r[i] = static_cast<uint16_t>(in[2 * i] | in[2 * i + 1] << 8);
    encrypt ? SGRC2_encrypt(r, l) : SGRC2_decrypt(r, l);
    for (int i = 0; i < 4; ++i) {
        out[2 * i] = static_cast<unsigned char>(r[i]);
        out[2 * i + 1] = static_cast<unsigned char>(r[i] >> 8);
    }
}

}  // namespace

namespace brindlow::crypto {

void rc2RunMode(const ModeRun& run) {
    const auto* l = static_cast<const unsigned char*>(run.area);
    runModeLoop<8>(
        run, [l](unsigned char* o, const unsigned char* i) { rc2Block(o, i, l, true); },
        [l](unsigned char* o, const unsigned char* i) { rc2Block(o, i, l, false); });
}

}  // namespace brindlow::crypto

extern "C" {

void SGRC2_keyschedule(unsigned char* l, const unsigned char* key, int t, int bits) {
    std::memcpy(l, key, static_cast<size_t>(t));
    for (int i = t; i < 128; ++i) l[i] = SGRC2_keyschedule_permute[(l[i - 1] + l[i - t]) & 0xff];
    const int t8 = (bits + 7) / 8;
    const unsigned tm = bits % 8 ? 0xffu >> (8 - bits % 8) : 0xffu;
    l[128 - t8] = SGRC2_keyschedule_permute[l[128 - t8] & tm];
    for (int i = 127 - t8; i >= 0; --i) l[i] = SGRC2_keyschedule_permute[l[i + 1] ^ l[i + t8]];
}

void SGRC2_encrypt(uint16_t* r, const unsigned char* l) {
    unsigned j = 0;
    auto mix = [&]() {
        for (int i = 0; i < 4; ++i) {
            r[i] =
                static_cast<uint16_t>(r[i] + keyWord(l, j++) + (r[(i + 3) & 3] & r[(i + 2) & 3]) +
                                      (~r[(i + 3) & 3] & r[(i + 1) & 3]));
            r[i] = rol16(r[i], kShift[i]);
        }
    };
    auto mash = [&]() {
        for (int i = 0; i < 4; ++i)
            r[i] = static_cast<uint16_t>(r[i] + keyWord(l, r[(i + 3) & 3] & 63));
    };
    for (int k = 0; k < 5; ++k) mix();
    mash();
    for (int k = 0; k < 6; ++k) mix();
    mash();
    for (int k = 0; k < 5; ++k) mix();
}

void SGRC2_decrypt(uint16_t* r, const unsigned char* l) {
    int j = 63;
    auto rmix = [&]() {
        for (int i = 3; i >= 0; --i) {
            r[i] = ror16(r[i], kShift[i]);
            r[i] = static_cast<uint16_t>(r[i] - keyWord(l, static_cast<unsigned>(j--)) -
                                         (r[(i + 3) & 3] & r[(i + 2) & 3]) -
                                         (~r[(i + 3) & 3] & r[(i + 1) & 3]));
        }
    };
    auto rmash = [&]() {
        for (int i = 3; i >= 0; --i)
            r[i] = static_cast<uint16_t>(r[i] - keyWord(l, r[(i + 3) & 3] & 63));
    };
    for (int k = 0; k < 5; ++k) rmix();
    rmash();
    for (int k = 0; k < 6; ++k) rmix();
    rmash();
    for (int k = 0; k < 5; ++k) rmix();
}

int SGCipher_RC2_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int effectiveBits) {
    if (!engineArea || !key || keyLength == 0) return 401;
    // The table holds 128 key bytes and the expansion is defined for 1 to 1024 bits.
    if (keyLength > 128) return 403;
    if (effectiveBits < 0 || effectiveBits > 1024) return 404;
    SGRC2_keyschedule(static_cast<unsigned char*>(engineArea), key, static_cast<int>(keyLength),
                      effectiveBits == 0 ? 1024 : effectiveBits);
    return 0;
}

void SGCipher_RC2_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction) {
    rc2Block(output, input, static_cast<const unsigned char*>(engineArea), direction == 1);
}

}  // extern "C"
