#include "SGSEED.h"

#include <array>
#include <cstring>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

// The S-boxes are the standard's algebraic definitions: an affine map of a power in GF(2^8)
// modulo x^8 + x^6 + x^5 + x + 1. The matrices are given by the images of the basis bits.
constexpr unsigned kPoly = 0x163;

constexpr unsigned gfMul(unsigned a, unsigned b) {
    unsigned r = 0;
    while (b) {
        if (b & 1) r ^= a;
        b >>= 1;
        a <<= 1;
        if (a & 0x100) a ^= kPoly;
    }
    return r;
}

constexpr unsigned gfPow(unsigned x, unsigned e) {
    unsigned r = 1;
    while (e) {
        if (e & 1) r = gfMul(r, x);
        x = gfMul(x, x);
        e >>= 1;
    }
    return r;
}

constexpr unsigned linear(const unsigned char (&columns)[8], unsigned v) {
    unsigned r = 0;
    for (int i = 0; i < 8; ++i)
        if (v >> i & 1) r ^= columns[i];
    return r;
}

constexpr unsigned char kA1[8] = {0x2c, 0xd0, 0x69, 0xc2, 0x41, 0x44, 0x58, 0xe2};
constexpr unsigned char kA2[8] = {0xd0, 0x2a, 0xe1, 0x2c, 0x21, 0x30, 0xa2, 0x6c};

constexpr unsigned s1(unsigned x) {
    return linear(kA1, gfPow(x, 247)) ^ 169;
}
constexpr unsigned s2(unsigned x) {
    return linear(kA2, gfPow(x, 251)) ^ 56;
}

// The extended S-boxes SS0 to SS3: each S-box byte masked four ways and placed in a word.
constexpr uint32_t kM0 = 0xfc, kM1 = 0xf3, kM2 = 0xcf, kM3 = 0x3f;

struct Tables {
    uint32_t ss[4][256];
};

constexpr Tables makeTables() {
    Tables t{};
    for (unsigned x = 0; x < 256; ++x) {
        const uint32_t a = s1(x), b = s2(x);
        t.ss[0][x] = (a & kM3) << 24 | (a & kM2) << 16 | (a & kM1) << 8 | (a & kM0);
        t.ss[1][x] = (b & kM0) << 24 | (b & kM3) << 16 | (b & kM2) << 8 | (b & kM1);
        t.ss[2][x] = (a & kM1) << 24 | (a & kM0) << 16 | (a & kM3) << 8 | (a & kM2);
        t.ss[3][x] = (b & kM2) << 24 | (b & kM1) << 16 | (b & kM0) << 8 | (b & kM3);
    }
    return t;
}

alignas(64) constexpr Tables kTables = makeTables();
static_assert(kTables.ss[0][0] == 0x2989a1a8 && kTables.ss[1][0] == 0x38380830);

constexpr const uint32_t* SS0 = kTables.ss[0];
constexpr const uint32_t* SS1 = kTables.ss[1];
constexpr const uint32_t* SS2 = kTables.ss[2];
constexpr const uint32_t* SS3 = kTables.ss[3];

inline uint32_t G(uint32_t x) {
    return SS0[x & 0xff] ^ SS1[(x >> 8) & 0xff] ^ SS2[(x >> 16) & 0xff] ^ SS3[x >> 24];
}

inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

inline void store32(unsigned char* p, uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

struct Schedule {
    uint32_t k[32];
};
static_assert(sizeof(Schedule) <= 2048);

// One Feistel round: (l0, l1) ^= F(r0, r1) with round keys k[0], k[1].
inline void round(uint32_t& l0, uint32_t& l1, uint32_t r0, uint32_t r1, const uint32_t* k) {
    uint32_t c = r0 ^ k[0];
    uint32_t d = r1 ^ k[1];
    d = G(d ^ c);
    c = G(c + d);
    d = G(d + c);
    c += d;
    l0 ^= c;
    l1 ^= d;
}

inline void seedBlock(unsigned char* out, const unsigned char* in, const uint32_t* k) {
    uint32_t l0 = load32(in), l1 = load32(in + 4), r0 = load32(in + 8), r1 = load32(in + 12);
    // Sixteen rounds, two per step so that the halves swap by renaming.
    round(l0, l1, r0, r1, k + 0);
    round(r0, r1, l0, l1, k + 2);
    round(l0, l1, r0, r1, k + 4);
    round(r0, r1, l0, l1, k + 6);
    round(l0, l1, r0, r1, k + 8);
    round(r0, r1, l0, l1, k + 10);
    round(l0, l1, r0, r1, k + 12);
    round(r0, r1, l0, l1, k + 14);
    round(l0, l1, r0, r1, k + 16);
    round(r0, r1, l0, l1, k + 18);
    round(l0, l1, r0, r1, k + 20);
    round(r0, r1, l0, l1, k + 22);
    round(l0, l1, r0, r1, k + 24);
    round(r0, r1, l0, l1, k + 26);
    round(l0, l1, r0, r1, k + 28);
    round(r0, r1, l0, l1, k + 30);
    // The last round does not swap: the output is the right half first.
    store32(out, r0);
    store32(out + 4, r1);
    store32(out + 8, l0);
    store32(out + 12, l1);
}

// Several independent blocks at once, round by round: each round's table lookups of one block
// wait on the round before, so interleaving blocks keeps the load units busy. The same rounds as
// seedBlock, lane by lane. Four lanes fit the registers; eight spill and run slower, and AVX2
// gathers of the tables were slower still.
constexpr int kSeedLanes = 4;

template <int L>
inline void seedBlocks(unsigned char* out, const unsigned char* in, const uint32_t* k) {
    uint32_t l0[L], l1[L], r0[L], r1[L];
    for (int j = 0; j < L; ++j) {
        l0[j] = load32(in + 16 * j);
        l1[j] = load32(in + 16 * j + 4);
        r0[j] = load32(in + 16 * j + 8);
        r1[j] = load32(in + 16 * j + 12);
    }
#pragma GCC unroll 8
    for (int step = 0; step < 32; step += 4) {
#pragma GCC unroll 8
        for (int j = 0; j < L; ++j) round(l0[j], l1[j], r0[j], r1[j], k + step);
#pragma GCC unroll 8
        for (int j = 0; j < L; ++j) round(r0[j], r1[j], l0[j], l1[j], k + step + 2);
    }
    for (int j = 0; j < L; ++j) {
        store32(out + 16 * j, r0[j]);
        store32(out + 16 * j + 4, r1[j]);
        store32(out + 16 * j + 8, l0[j]);
        store32(out + 16 * j + 12, l1[j]);
    }
}

constexpr uint32_t rotl(uint32_t x, int n) {
    return n ? (x << n) | (x >> (32 - n)) : x;
}

}  // namespace

namespace brindlow::crypto {

void seedRunMode(const ModeRun& run) {
    const uint32_t* k = static_cast<const Schedule*>(run.area)->k;
    auto block = [k](unsigned char* o, const unsigned char* i) { seedBlock(o, i, k); };
    auto blocks = [k](unsigned char* o, const unsigned char* i) {
        seedBlocks<kSeedLanes>(o, i, k);
    };
    runModeLoopWide<16, kSeedLanes>(run, block, blocks);
}

}  // namespace brindlow::crypto

extern "C" {

int SGCipher_SEED_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction) {
    if (!engineArea || !key || keyLength == 0) return 401;
    if (keyLength < 16) return 403;  // never read past a short key
    auto* schedule = static_cast<Schedule*>(engineArea);
    uint32_t tmp[32];  // built here, then copied in the order the block function reads
    uint32_t k0 = load32(key), k1 = load32(key + 4), k2 = load32(key + 8), k3 = load32(key + 12);
    for (int i = 0; i < 16; ++i) {
        const uint32_t kc = rotl(0x9e3779b9u, i);
        tmp[2 * i] = G(k0 + k2 - kc);
        tmp[2 * i + 1] = G(k1 - k3 + kc);
        if (i % 2 == 0) {  // (k0 || k1) rotated right by 8 bits
            const uint32_t t = k0;
            k0 = (k0 >> 8) | (k1 << 24);
            k1 = (k1 >> 8) | (t << 24);
        } else {  // (k2 || k3) rotated left by 8 bits
            const uint32_t t = k2;
            k2 = (k2 << 8) | (k3 >> 24);
            k3 = (k3 << 8) | (t >> 24);
        }
    }
    for (int i = 0; i < 16; ++i) {
        const int from = direction == 1 ? 15 - i : i;
        schedule->k[2 * i] = tmp[2 * from];
        schedule->k[2 * i + 1] = tmp[2 * from + 1];
    }
    SGCrypto_cleanse(tmp, sizeof tmp);
    k0 = k1 = k2 = k3 = 0;
    return 0;
}

void SGCipher_SEED_Main(unsigned char* output, const unsigned char* input, void* engineArea, int) {
    seedBlock(output, input, static_cast<const Schedule*>(engineArea)->k);
}

}  // extern "C"
