// SHA-1 and SHA-2 (FIPS 180-4), shaped after the RFC 6234 reference code's contexts and result
// codes, with whole-block input and the processor's SHA extensions where present.
#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "SGDigestInternal.h"

namespace brindlow::crypto {

namespace {

enum { kShaSuccess = 0, kShaNull = 1, kShaInputTooLong = 2, kShaStateError = 3, kShaBadParam = 4 };

inline uint32_t rotl32(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
inline uint32_t rotr32(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}
inline uint64_t rotr64(uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}
inline uint32_t load32be(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}
inline uint64_t load64be(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}
inline void store32be(uint8_t* p, uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}
inline void store64be(uint8_t* p, uint64_t v) {
    v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

constexpr uint32_t kSha1Init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
constexpr uint32_t kSha224Init[8] = {0xC1059ED8, 0x367CD507, 0x3070DD17, 0xF70E5939,
                                     0xFFC00B31, 0x68581511, 0x64F98FA7, 0xBEFA4FA4};
constexpr uint32_t kSha256Init[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                     0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
constexpr uint64_t kSha384Init[8] = {0xCBBB9D5DC1059ED8, 0x629A292A367CD507, 0x9159015A3070DD17,
                                     0x152FECD8F70E5939, 0x67332667FFC00B31, 0x8EB44A8768581511,
                                     0xDB0C2E0D64F98FA7, 0x47B5481DBEFA4FA4};
constexpr uint64_t kSha512Init[8] = {0x6A09E667F3BCC908, 0xBB67AE8584CAA73B, 0x3C6EF372FE94F82B,
                                     0xA54FF53A5F1D36F1, 0x510E527FADE682D1, 0x9B05688C2B3E6C1F,
                                     0x1F83D9ABFB41BD6B, 0x5BE0CD19137E2179};

alignas(16) constexpr uint32_t kK256[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2};

alignas(16) constexpr uint64_t kK512[80] = {
    0x428A2F98D728AE22, 0x7137449123EF65CD, 0xB5C0FBCFEC4D3B2F, 0xE9B5DBA58189DBBC,
    0x3956C25BF348B538, 0x59F111F1B605D019, 0x923F82A4AF194F9B, 0xAB1C5ED5DA6D8118,
    0xD807AA98A3030242, 0x12835B0145706FBE, 0x243185BE4EE4B28C, 0x550C7DC3D5FFB4E2,
    0x72BE5D74F27B896F, 0x80DEB1FE3B1696B1, 0x9BDC06A725C71235, 0xC19BF174CF692694,
    0xE49B69C19EF14AD2, 0xEFBE4786384F25E3, 0x0FC19DC68B8CD5B5, 0x240CA1CC77AC9C65,
    0x2DE92C6F592B0275, 0x4A7484AA6EA6E483, 0x5CB0A9DCBD41FBD4, 0x76F988DA831153B5,
    0x983E5152EE66DFAB, 0xA831C66D2DB43210, 0xB00327C898FB213F, 0xBF597FC7BEEF0EE4,
    0xC6E00BF33DA88FC2, 0xD5A79147930AA725, 0x06CA6351E003826F, 0x142929670A0E6E70,
    0x27B70A8546D22FFC, 0x2E1B21385C26C926, 0x4D2C6DFC5AC42AED, 0x53380D139D95B3DF,
    0x650A73548BAF63DE, 0x766A0ABB3C77B2A8, 0x81C2C92E47EDAEE6, 0x92722C851482353B,
    0xA2BFE8A14CF10364, 0xA81A664BBC423001, 0xC24B8B70D0F89791, 0xC76C51A30654BE30,
    0xD192E819D6EF5218, 0xD69906245565A910, 0xF40E35855771202A, 0x106AA07032BBD1B8,
    0x19A4C116B8D2D0C8, 0x1E376C085141AB53, 0x2748774CDF8EEB99, 0x34B0BCB5E19B48A8,
    0x391C0CB3C5C95A63, 0x4ED8AA4AE3418ACB, 0x5B9CCA4F7763E373, 0x682E6FF3D6B2B8A3,
    0x748F82EE5DEFB2FC, 0x78A5636F43172F60, 0x84C87814A1F0AB72, 0x8CC702081A6439EC,
    0x90BEFFFA23631E28, 0xA4506CEBDE82BDE9, 0xBEF9A3F7B2C67915, 0xC67178F2E372532B,
    0xCA273ECEEA26619C, 0xD186B8C721C0C207, 0xEADA7DD6CDE0EB1E, 0xF57D4F7FEE6ED178,
    0x06F067AA72176FBA, 0x0A637DC5A2C898A6, 0x113F9804BEF90DAE, 0x1B710B35131C471B,
    0x28DB77F523047D84, 0x32CAAB7B40C72493, 0x3C9EBE0A15C9BEBC, 0x431D67C49C100D4C,
    0x4CC5D4BECB3E42B6, 0x597F299CFC657E2A, 0x5FCB6FAB3AD6FAEC, 0x6C44198C4A475817};

// ---- Portable block functions ----

#define SHA1_ROUND(a, b, c, d, e, f, k, w) \
    e += rotl32(a, 5) + (f) + (k) + (w);   \
    b = rotl32(b, 30);

void sha1Portable(uint32_t h[5], const uint8_t* data, size_t blocks) {
    uint32_t w[16];
    while (blocks--) {
        for (int i = 0; i < 16; ++i) w[i] = load32be(data + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
#define W(i) \
    (w[(i)&15] = rotl32(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))
#define R0(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, (d ^ (b & (c ^ d))), 0x5A827999, w[i])
#define R1(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, (d ^ (b & (c ^ d))), 0x5A827999, W(i))
#define R2(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, (b ^ c ^ d), 0x6ED9EBA1, W(i))
#define R3(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, ((b & c) | (d & (b | c))), 0x8F1BBCDC, W(i))
#define R4(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, (b ^ c ^ d), 0xCA62C1D6, W(i))
#define FIVE(R, i)           \
    R(a, b, c, d, e, i);     \
    R(e, a, b, c, d, i + 1); \
    R(d, e, a, b, c, i + 2); \
    R(c, d, e, a, b, i + 3); \
    R(b, c, d, e, a, i + 4);
        FIVE(R0, 0) FIVE(R0, 5) FIVE(R0, 10) R0(a, b, c, d, e, 15);
        R1(e, a, b, c, d, 16);
        R1(d, e, a, b, c, 17);
        R1(c, d, e, a, b, 18);
        R1(b, c, d, e, a, 19);
        FIVE(R2, 20)
        FIVE(R2, 25)
        FIVE(R2, 30)
        FIVE(R2, 35)
        FIVE(R3, 40) FIVE(R3, 45) FIVE(R3, 50) FIVE(R3, 55) FIVE(R4, 60) FIVE(R4, 65) FIVE(R4, 70)
            FIVE(R4, 75)
#undef FIVE
#undef R0
#undef R1
#undef R2
#undef R3
#undef R4
#undef W
                h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        data += 64;
    }
}

void sha256Portable(uint32_t h[8], const uint8_t* data, size_t blocks) {
    uint32_t w[16];
    while (blocks--) {
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
#define S0(x) (rotr32(x, 2) ^ rotr32(x, 13) ^ rotr32(x, 22))
#define S1(x) (rotr32(x, 6) ^ rotr32(x, 11) ^ rotr32(x, 25))
#define s0(x) (rotr32(x, 7) ^ rotr32(x, 18) ^ ((x) >> 3))
#define s1(x) (rotr32(x, 17) ^ rotr32(x, 19) ^ ((x) >> 10))
#define ROUND(a, b, c, d, e, f, g, h, i, wi)                             \
    {                                                                    \
        uint32_t t1 = h + S1(e) + (g ^ (e & (f ^ g))) + kK256[i] + (wi); \
        d += t1;                                                         \
        h = t1 + S0(a) + ((a & b) | (c & (a | b)));                      \
    }
#define WX(i) (w[(i)&15] += s1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + s0(w[((i) + 1) & 15]))
#define EIGHT(i, WF)                                  \
    ROUND(a, b, c, d, e, f, g, hh, i, WF(i));         \
    ROUND(hh, a, b, c, d, e, f, g, i + 1, WF(i + 1)); \
    ROUND(g, hh, a, b, c, d, e, f, i + 2, WF(i + 2)); \
    ROUND(f, g, hh, a, b, c, d, e, i + 3, WF(i + 3)); \
    ROUND(e, f, g, hh, a, b, c, d, i + 4, WF(i + 4)); \
    ROUND(d, e, f, g, hh, a, b, c, i + 5, WF(i + 5)); \
    ROUND(c, d, e, f, g, hh, a, b, i + 6, WF(i + 6)); \
    ROUND(b, c, d, e, f, g, hh, a, i + 7, WF(i + 7));
#define WLOAD(i) (w[i] = load32be(data + 4 * (i)))
        EIGHT(0, WLOAD)
        EIGHT(8, WLOAD)
        EIGHT(16, WX)
        EIGHT(24, WX)
        EIGHT(32, WX)
        EIGHT(40, WX)
        EIGHT(48, WX) EIGHT(56, WX)
#undef WLOAD
#undef EIGHT
#undef WX
#undef ROUND
#undef S0
#undef S1
#undef s0
#undef s1
            h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
        data += 64;
    }
}

// ---- SHA extension block functions ----

#define SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

template <int F>
SHA_TARGET inline __attribute__((always_inline)) void sha1Group(int g, __m128i* w, __m128i& abcd,
                                                                __m128i& e, __m128i& ePrev) {
    if (g >= 4) {
        __m128i t = _mm_sha1msg1_epu32(w[g & 3], w[(g + 1) & 3]);
        t = _mm_xor_si128(t, w[(g + 2) & 3]);
        w[g & 3] = _mm_sha1msg2_epu32(t, w[(g + 3) & 3]);
    }
    e = g == 0 ? _mm_add_epi32(e, w[0]) : _mm_sha1nexte_epu32(ePrev, w[g & 3]);
    ePrev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, F);
}

}  // namespace

SHA_TARGET void sha1BlocksShaNi(uint32_t h[5], const uint8_t* data, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    while (blocks--) {
        const __m128i abcdSave = abcd, eSave = e0;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
        __m128i e = e0, ePrev = e0;
#pragma GCC unroll 5
        for (int g = 0; g < 5; ++g) sha1Group<0>(g, w, abcd, e, ePrev);
#pragma GCC unroll 5
        for (int g = 5; g < 10; ++g) sha1Group<1>(g, w, abcd, e, ePrev);
#pragma GCC unroll 5
        for (int g = 10; g < 15; ++g) sha1Group<2>(g, w, abcd, e, ePrev);
#pragma GCC unroll 5
        for (int g = 15; g < 20; ++g) sha1Group<3>(g, w, abcd, e, ePrev);
        e0 = _mm_sha1nexte_epu32(ePrev, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
        data += 64;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

SHA_TARGET void sha256BlocksShaNi(uint32_t h[8], const uint8_t* data, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
    __m128i state1 =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH
    while (blocks--) {
        const __m128i save0 = state0, save1 = state1;
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4) {
                w[g] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), mask);
            } else {
                __m128i t = _mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]);
                t = _mm_add_epi32(t, _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4));
                w[g & 3] = _mm_sha256msg2_epu32(t, w[(g + 3) & 3]);
            }
            __m128i msg = _mm_add_epi32(
                w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kK256 + 4 * g)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(msg, 0x0E));
        }
        state0 = _mm_add_epi32(state0, save0);
        state1 = _mm_add_epi32(state1, save1);
        data += 64;
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}

void sha1BlocksPortable(uint32_t h[5], const uint8_t* data, size_t blocks) {
    sha1Portable(h, data, blocks);
}

void sha256BlocksPortable(uint32_t h[8], const uint8_t* data, size_t blocks) {
    sha256Portable(h, data, blocks);
}

__attribute__((always_inline)) inline void sha512Rounds(uint64_t h[8], const uint8_t* data,
                                                        size_t blocks) {
    uint64_t w[16];
    while (blocks--) {
        uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        uint64_t x, y = b ^ c;
#define S0(x) (rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39))
#define S1(x) (rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41))
#define s0(x) (rotr64(x, 1) ^ rotr64(x, 8) ^ ((x) >> 7))
#define s1(x) (rotr64(x, 19) ^ rotr64(x, 61) ^ ((x) >> 6))
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's b ^ c is the last round's a ^ b.
#define ROUND(a, b, c, d, e, f, g, h, i, wi, ab, bc)                     \
    {                                                                    \
        uint64_t t1 = h + S1(e) + (g ^ (e & (f ^ g))) + kK512[i] + (wi); \
        ab = a ^ b;                                                      \
        d += t1;                                                         \
        h = t1 + S0(a) + (b ^ (ab & bc));                                \
    }
#define WX(i) (w[(i)&15] += s1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + s0(w[((i) + 1) & 15]))
#define WLOAD(i) (w[i] = load64be(data + 8 * (i)))
#define EIGHT(i, WF)                                        \
    ROUND(a, b, c, d, e, f, g, hh, i, WF(i), x, y);         \
    ROUND(hh, a, b, c, d, e, f, g, i + 1, WF(i + 1), y, x); \
    ROUND(g, hh, a, b, c, d, e, f, i + 2, WF(i + 2), x, y); \
    ROUND(f, g, hh, a, b, c, d, e, i + 3, WF(i + 3), y, x); \
    ROUND(e, f, g, hh, a, b, c, d, i + 4, WF(i + 4), x, y); \
    ROUND(d, e, f, g, hh, a, b, c, i + 5, WF(i + 5), y, x); \
    ROUND(c, d, e, f, g, hh, a, b, i + 6, WF(i + 6), x, y); \
    ROUND(b, c, d, e, f, g, hh, a, i + 7, WF(i + 7), y, x);
        EIGHT(0, WLOAD)
        EIGHT(8, WLOAD)
        EIGHT(16, WX)
        EIGHT(24, WX)
        EIGHT(32, WX)
        EIGHT(40, WX)
        EIGHT(48, WX) EIGHT(56, WX) EIGHT(64, WX) EIGHT(72, WX)
#undef WLOAD
#undef EIGHT
#undef WX
#undef ROUND
#undef S0
#undef S1
#undef s0
#undef s1
            h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
        data += 128;
    }
}

void sha512Portable(uint64_t h[8], const uint8_t* data, size_t blocks) {
    sha512Rounds(h, data, blocks);
}

// The same code where BMI2's three-operand rotations are available.
__attribute__((target("bmi2"))) void sha512Bmi2(uint64_t h[8], const uint8_t* data, size_t blocks) {
    sha512Rounds(h, data, blocks);
}

// The same rounds with the message schedule on vectors, two words per vector, computed fourteen
// rounds ahead of their use and interleaved with the scalar rounds, so that the vector units work
// beside the integer ones; W + K reaches the rounds through a small stack buffer. The body is
// shared by an AVX form and an AVX-512 form, which differ in the schedule's sigma functions:
// SG_VSIGMA(v, r1, r2, s) = (v >>> r1) ^ (v >>> r2) ^ (v >> s), on both words of v.
#define SG_SHA512_SCHEDULE(s)                                                                 \
    {                                                                                         \
        __m128i& x0 = x[(s)&7];                                                               \
        const __m128i w15 = _mm_alignr_epi8(x[((s) + 1) & 7], x0, 8);                         \
        const __m128i w7 = _mm_alignr_epi8(x[((s) + 5) & 7], x[((s) + 4) & 7], 8);            \
        const __m128i w2 = x[((s) + 7) & 7];                                                  \
        x0 = _mm_add_epi64(_mm_add_epi64(x0, SG_VSIGMA(w15, 1, 8, 7)),                        \
                           _mm_add_epi64(w7, SG_VSIGMA(w2, 19, 61, 6)));                      \
        _mm_store_si128(                                                                      \
            reinterpret_cast<__m128i*>(wk + 2 * (s) + 16),                                    \
            _mm_add_epi64(                                                                    \
                x0, _mm_load_si128(reinterpret_cast<const __m128i*>(kK512 + 2 * (s) + 16)))); \
    }
#define SG_SHA512_S0(x) (rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39))
#define SG_SHA512_S1(x) (rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41))
#define SG_SHA512_ROUND(a, b, c, d, e, f, g, h, i, ab, bc)               \
    {                                                                    \
        uint64_t t1 = h + SG_SHA512_S1(e) + (g ^ (e & (f ^ g))) + wk[i]; \
        ab = a ^ b;                                                      \
        d += t1;                                                         \
        h = t1 + SG_SHA512_S0(a) + (b ^ (ab & bc));                      \
    }
#define SG_SHA512_EIGHT(i)                                 \
    SG_SHA512_ROUND(a, b, c, d, e, f, g, hh, i, p, q);     \
    SG_SHA512_ROUND(hh, a, b, c, d, e, f, g, i + 1, q, p); \
    if ((i) < 64) SG_SHA512_SCHEDULE((i) / 2);             \
    SG_SHA512_ROUND(g, hh, a, b, c, d, e, f, i + 2, p, q); \
    SG_SHA512_ROUND(f, g, hh, a, b, c, d, e, i + 3, q, p); \
    if ((i) < 64) SG_SHA512_SCHEDULE((i) / 2 + 1);         \
    SG_SHA512_ROUND(e, f, g, hh, a, b, c, d, i + 4, p, q); \
    SG_SHA512_ROUND(d, e, f, g, hh, a, b, c, i + 5, q, p); \
    if ((i) < 64) SG_SHA512_SCHEDULE((i) / 2 + 2);         \
    SG_SHA512_ROUND(c, d, e, f, g, hh, a, b, i + 6, p, q); \
    SG_SHA512_ROUND(b, c, d, e, f, g, hh, a, i + 7, q, p); \
    if ((i) < 64) SG_SHA512_SCHEDULE((i) / 2 + 3);
#define SG_SHA512_VECTOR_BLOCKS                                                                   \
    const __m128i swap = _mm_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);      \
    alignas(16) uint64_t wk[80];                                                                  \
    while (blocks--) {                                                                            \
        __m128i x[8];                                                                             \
        for (int i = 0; i < 8; ++i) {                                                             \
            x[i] = _mm_shuffle_epi8(                                                              \
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), swap);          \
            _mm_store_si128(                                                                      \
                reinterpret_cast<__m128i*>(wk + 2 * i),                                           \
                _mm_add_epi64(x[i],                                                               \
                              _mm_load_si128(reinterpret_cast<const __m128i*>(kK512 + 2 * i))));  \
        }                                                                                         \
        uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7]; \
        uint64_t p, q = b ^ c;                                                                    \
        SG_SHA512_EIGHT(0)                                                                        \
        SG_SHA512_EIGHT(8)                                                                        \
        SG_SHA512_EIGHT(16)                                                                       \
        SG_SHA512_EIGHT(24)                                                                       \
        SG_SHA512_EIGHT(32)                                                                       \
        SG_SHA512_EIGHT(40)                                                                       \
        SG_SHA512_EIGHT(48)                                                                       \
        SG_SHA512_EIGHT(56)                                                                       \
        SG_SHA512_EIGHT(64)                                                                       \
        SG_SHA512_EIGHT(72)                                                                       \
        h[0] += a;                                                                                \
        h[1] += b;                                                                                \
        h[2] += c;                                                                                \
        h[3] += d;                                                                                \
        h[4] += e;                                                                                \
        h[5] += f;                                                                                \
        h[6] += g;                                                                                \
        h[7] += hh;                                                                               \
        data += 128;                                                                              \
    }

#define SG_VROTR(v, n) _mm_or_si128(_mm_srli_epi64(v, n), _mm_slli_epi64(v, 64 - (n)))
#define SG_VSIGMA(v, r1, r2, s) \
    _mm_xor_si128(_mm_xor_si128(SG_VROTR(v, r1), SG_VROTR(v, r2)), _mm_srli_epi64(v, s))
__attribute__((target("avx,bmi2"))) void sha512Avx(uint64_t h[8], const uint8_t* data,
                                                   size_t blocks) {
    SG_SHA512_VECTOR_BLOCKS
}
#undef SG_VSIGMA
#undef SG_VROTR

// AVX-512 rotates in one instruction and XORs three values in one: fewer instructions to issue
// beside the rounds.
#define SG_VSIGMA(v, r1, r2, s) \
    _mm_ternarylogic_epi64(_mm_ror_epi64(v, r1), _mm_ror_epi64(v, r2), _mm_srli_epi64(v, s), 0x96)
__attribute__((target("avx512f,avx512vl,bmi2"))) void sha512Avx512(uint64_t h[8],
                                                                   const uint8_t* data,
                                                                   size_t blocks) {
    SG_SHA512_VECTOR_BLOCKS
}
#undef SG_VSIGMA
#undef SG_SHA512_VECTOR_BLOCKS
#undef SG_SHA512_EIGHT
#undef SG_SHA512_ROUND
#undef SG_SHA512_S0
#undef SG_SHA512_S1
#undef SG_SHA512_SCHEDULE

namespace {
bool cpuHasBmi2() {
    unsigned a, b, c, d;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 8));
}
}  // namespace

bool cpuHasAvxAndBmi2() {
    static const bool has = cpuHasBmi2() && __builtin_cpu_supports("avx");
    return has;
}

bool cpuHasAvx512AndBmi2() {
    static const bool has =
        cpuHasBmi2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    return has;
}

void sha512Blocks(uint64_t h[8], const uint8_t* data, size_t blocks) {
    static void (*const kernel)(uint64_t*, const uint8_t*, size_t) =
        cpuHasAvx512AndBmi2() ? &sha512Avx512
        : cpuHasAvxAndBmi2()  ? &sha512Avx
        : cpuHasBmi2()        ? &sha512Bmi2
                              : &sha512Portable;
    kernel(h, data, blocks);
}

bool cpuHasShaNi() {
    static const bool has = [] {
        unsigned a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return ssse3 && sse41 && (b & (1u << 29));
    }();
    return has;
}

namespace {

using Blocks32 = void (*)(uint32_t*, const uint8_t*, size_t);

Blocks32 sha1Kernel() {
    static const Blocks32 k = cpuHasShaNi() ? &sha1BlocksShaNi : &sha1BlocksPortable;
    return k;
}

Blocks32 sha256Kernel() {
    static const Blocks32 k = cpuHasShaNi() ? &sha256BlocksShaNi : &sha256BlocksPortable;
    return k;
}

// Adds length bytes to a bit count kept in two words; false on overflow.
template <typename Word>
bool addLength(Word& high, Word& low, size_t length) {
    constexpr int kBits = sizeof(Word) * 8;
    const unsigned __int128 bits = static_cast<unsigned __int128>(length) * 8;
    const Word addLow = static_cast<Word>(bits);
    const unsigned __int128 addHigh128 = kBits >= 128 ? 0 : bits >> kBits;
    const Word newLow = low + addLow;
    unsigned __int128 carry = newLow < low ? 1 : 0;
    const unsigned __int128 newHigh = static_cast<unsigned __int128>(high) + addHigh128 + carry;
    if (newHigh >> kBits) return false;
    low = newLow;
    high = static_cast<Word>(newHigh);
    return true;
}

// Buffered input of whole blocks for any of the three layouts.
template <typename State, typename Kernel>
int input(State& s, const uint8_t* data, size_t length, size_t blockSize, Kernel blocksFn) {
    if (length == 0) return kShaSuccess;
    if (!data) return kShaNull;
    if (s.computed) return kShaStateError;  // the finished result stays readable
    if (s.corrupted) return s.corrupted;
    if (!addLength(s.lengthHigh, s.lengthLow, length)) return s.corrupted = kShaInputTooLong;
    size_t index = static_cast<size_t>(s.index);
    if (index > 0) {
        const size_t take = std::min(blockSize - index, length);
        std::memcpy(s.block + index, data, take);
        index += take;
        data += take;
        length -= take;
        if (index < blockSize) {
            s.index = static_cast<int16_t>(index);
            return kShaSuccess;
        }
        blocksFn(s.h, s.block, 1);
        index = 0;
    }
    if (const size_t whole = length / blockSize) {
        blocksFn(s.h, data, whole);
        data += whole * blockSize;
        length -= whole * blockSize;
    }
    std::memcpy(s.block, data, length);
    s.index = static_cast<int16_t>(length);
    return kShaSuccess;
}

// Padding: 0x80, zeros, then the bit length big-endian in the last 8 or 16 bytes.
template <typename State, typename Kernel>
void finalize(State& s, size_t blockSize, Kernel blocksFn) {
    const size_t lengthBytes = blockSize / 8;  // 8 for 64-byte blocks, 16 for 128-byte blocks
    size_t index = static_cast<size_t>(s.index);
    s.block[index++] = 0x80;
    if (index > blockSize - lengthBytes) {
        std::memset(s.block + index, 0, blockSize - index);
        blocksFn(s.h, s.block, 1);
        index = 0;
    }
    std::memset(s.block + index, 0, blockSize - lengthBytes - index);
    if constexpr (sizeof(s.lengthLow) == 8) {
        store64be(s.block + blockSize - 16, s.lengthHigh);
        store64be(s.block + blockSize - 8, s.lengthLow);
    } else {
        store32be(s.block + blockSize - 8, s.lengthHigh);
        store32be(s.block + blockSize - 4, s.lengthLow);
    }
    blocksFn(s.h, s.block, 1);
    // As the reference code does: the message is gone, the result stays.
    std::memset(s.block, 0, blockSize);
    s.lengthHigh = s.lengthLow = 0;
    s.index = 0;
    s.computed = 1;
}

}  // namespace

int shaHashSize(int selector) {
    static constexpr int kSizes[] = {20, 28, 32, 48, 64};
    return selector >= 0 && selector <= 4 ? kSizes[selector] : 0;
}

int shaBlockSize(int selector) {
    return selector >= 0 && selector <= 4 ? (selector < 3 ? 64 : 128) : 0;
}

int shaReset(ShaState* state, int selector) {
    if (!state) return kShaNull;
    std::memset(state, 0, sizeof *state);
    state->selector = selector;
    switch (selector) {
        case 0:
            std::memcpy(state->sha1.h, kSha1Init, sizeof kSha1Init);
            break;
        case 1:
            std::memcpy(state->sha256.h, kSha224Init, sizeof kSha224Init);
            break;
        case 2:
            std::memcpy(state->sha256.h, kSha256Init, sizeof kSha256Init);
            break;
        case 3:
            std::memcpy(state->sha512.h, kSha384Init, sizeof kSha384Init);
            break;
        case 4:
            std::memcpy(state->sha512.h, kSha512Init, sizeof kSha512Init);
            break;
        default:
            return kShaBadParam;
    }
    return kShaSuccess;
}

int shaInput(ShaState* state, const uint8_t* data, size_t length) {
    if (!state) return kShaNull;
    switch (state->selector) {
        case 0:
            return input(state->sha1, data, length, 64, sha1Kernel());
        case 1:
        case 2:
            return input(state->sha256, data, length, 64, sha256Kernel());
        case 3:
        case 4:
            return input(state->sha512, data, length, 128, &sha512Blocks);
        default:
            return kShaBadParam;
    }
}

int shaResult(ShaState* state, uint8_t* digest) {
    if (!state || !digest) return kShaNull;
    const int size = shaHashSize(state->selector);
    switch (state->selector) {
        case 0:
            if (state->sha1.corrupted) return state->sha1.corrupted;
            if (!state->sha1.computed) finalize(state->sha1, 64, sha1Kernel());
            for (int i = 0; i < size / 4; ++i) store32be(digest + 4 * i, state->sha1.h[i]);
            return kShaSuccess;
        case 1:
        case 2:
            if (state->sha256.corrupted) return state->sha256.corrupted;
            if (!state->sha256.computed) finalize(state->sha256, 64, sha256Kernel());
            for (int i = 0; i < size / 4; ++i) store32be(digest + 4 * i, state->sha256.h[i]);
            return kShaSuccess;
        case 3:
        case 4:
            if (state->sha512.corrupted) return state->sha512.corrupted;
            if (!state->sha512.computed) finalize(state->sha512, 128, &sha512Blocks);
            for (int i = 0; i < size / 8; ++i) store64be(digest + 8 * i, state->sha512.h[i]);
            return kShaSuccess;
        default:
            return kShaBadParam;
    }
}

}  // namespace brindlow::crypto
