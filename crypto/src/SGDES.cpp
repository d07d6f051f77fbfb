#include "SGDES.h"

#include <mbedtls/des.h>

#include <cstring>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

// The standard's tables; bit positions count from 1 at the most significant bit.
constexpr unsigned char kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

constexpr unsigned char kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                  2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr unsigned char kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                   62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                   57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                   61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

// SB1..SB8: S-box j's output for a 6-bit group, put through P, as a 32-bit word.
struct SpTables {
    uint32_t sb[8][64];
};

constexpr SpTables makeSp() {
    SpTables t{};
    for (int j = 0; j < 8; ++j)
        for (unsigned x = 0; x < 64; ++x) {
            const unsigned row = ((x >> 4) & 2) | (x & 1), col = (x >> 1) & 15;
            const uint32_t pre = uint32_t(kS[j][row * 16 + col]) << (28 - 4 * j);
            uint32_t out = 0;
            for (int i = 0; i < 32; ++i)
                if (pre >> (32 - kP[i]) & 1) out |= 1u << (31 - i);
            t.sb[j][x] = out;
        }
    return t;
}

// A 64-bit permutation as eight byte-indexed tables of contributions.
struct PermTable {
    uint64_t t[8][256];
};

constexpr PermTable makePerm(bool inverse) {
    unsigned char from[64] = {};  // output bit i takes input bit from[i]
    for (int i = 0; i < 64; ++i) {
        if (inverse)
            from[kIP[i] - 1] = static_cast<unsigned char>(i + 1);
        else
            from[i] = kIP[i];
    }
    PermTable p{};
    for (int i = 0; i < 64; ++i) {
        const int src = from[i] - 1;  // 0 = most significant input bit
        const int byte = src / 8, bit = 7 - src % 8;
        for (unsigned v = 0; v < 256; ++v)
            if (v >> bit & 1) p.t[byte][v] |= uint64_t(1) << (63 - i);
    }
    return p;
}

alignas(64) constexpr SpTables kSp = makeSp();
alignas(64) constexpr PermTable kIp = makePerm(false);
alignas(64) constexpr PermTable kFp = makePerm(true);

inline uint64_t permute(const PermTable& p, uint64_t v) {
    uint64_t r = 0;
    for (int b = 0; b < 8; ++b) r |= p.t[b][(v >> (56 - 8 * b)) & 0xff];
    return r;
}

constexpr uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// f(R, K) with the subkey pair in the key module's layout: the first word holds the 6-bit
// groups of S2, S4, S6, S8 and the second those of S1, S3, S5, S7, one per byte.
inline uint32_t feistel(uint32_t r, const uint32_t* k) {
    const auto& sb = kSp.sb;
    uint32_t t = k[0] ^ rotl(r, 1);
    uint32_t f =
        sb[1][(t >> 24) & 63] ^ sb[3][(t >> 16) & 63] ^ sb[5][(t >> 8) & 63] ^ sb[7][t & 63];
    t = k[1] ^ rotl(r, 29);
    f ^= sb[0][(t >> 24) & 63] ^ sb[2][(t >> 16) & 63] ^ sb[4][(t >> 8) & 63] ^ sb[6][t & 63];
    return f;
}

inline void sixteenRounds(uint32_t& l, uint32_t& r, const uint32_t* sk) {
    for (int i = 0; i < 16; i += 2) {
        l ^= feistel(r, sk + 2 * i);
        r ^= feistel(l, sk + 2 * i + 2);
    }
    const uint32_t t = l;  // the halves cross after the last round
    l = r;
    r = t;
}

template <int Passes>
inline void desBlock(unsigned char* out, const unsigned char* in, const uint32_t* sk) {
    uint64_t v;
    std::memcpy(&v, in, 8);
    v = permute(kIp, __builtin_bswap64(v));
    uint32_t l = static_cast<uint32_t>(v >> 32), r = static_cast<uint32_t>(v);
    for (int p = 0; p < Passes; ++p) sixteenRounds(l, r, sk + 32 * p);
    v = __builtin_bswap64(permute(kFp, uint64_t(l) << 32 | r));
    std::memcpy(out, &v, 8);
}

struct DesSchedule {
    int reserved;
    uint32_t sk[32];
};
struct TdesSchedule {
    int reserved;
    uint32_t sk[96];
};
static_assert(sizeof(TdesSchedule) <= 2048);

}  // namespace

namespace brindlow::crypto {

void desRunMode(const ModeRun& run) {
    const uint32_t* sk = static_cast<const DesSchedule*>(run.area)->sk;
    auto block = [sk](unsigned char* o, const unsigned char* i) { desBlock<1>(o, i, sk); };
    runModeLoop<8>(run, block, block);
}

void tdesRunMode(const ModeRun& run) {
    const uint32_t* sk = static_cast<const TdesSchedule*>(run.area)->sk;
    auto block = [sk](unsigned char* o, const unsigned char* i) { desBlock<3>(o, i, sk); };
    runModeLoop<8>(run, block, block);
}

}  // namespace brindlow::crypto

extern "C" {

int SGCipher_DES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int direction) {
    if (!engineArea || !key || keyLength == 0) return 401;
    if (keyLength < 8) return 403;  // never read past a short key
    auto* s = static_cast<DesSchedule*>(engineArea);
    if (direction == 0) {
        mbedtls_des_context ctx;
        mbedtls_des_init(&ctx);
        mbedtls_des_setkey_dec(&ctx, key);
        std::memcpy(s->sk, &ctx, sizeof s->sk);
        mbedtls_des_free(&ctx);  // zeroes the copy
    } else {
        mbedtls_des_setkey(s->sk, key);
    }
    return 0;
}

void SGCipher_DES_Main(unsigned char* output, const unsigned char* input, void* engineArea, int) {
    desBlock<1>(output, input, static_cast<const DesSchedule*>(engineArea)->sk);
}

int SGCipher_TDES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction) {
    if (keyLength != 16 && keyLength != 24) return -11;
    if (!engineArea || !key) return 401;
    auto* s = static_cast<TdesSchedule*>(engineArea);
    mbedtls_des3_context ctx;
    mbedtls_des3_init(&ctx);
    if (keyLength == 16)
        direction == 1 ? mbedtls_des3_set2key_enc(&ctx, key) : mbedtls_des3_set2key_dec(&ctx, key);
    else
        direction == 1 ? mbedtls_des3_set3key_enc(&ctx, key) : mbedtls_des3_set3key_dec(&ctx, key);
    static_assert(sizeof(mbedtls_des3_context) == sizeof s->sk);
    std::memcpy(s->sk, &ctx, sizeof s->sk);
    mbedtls_des3_free(&ctx);
    return 0;
}

void SGCipher_TDES_Main(unsigned char* output, const unsigned char* input, void* engineArea, int) {
    desBlock<3>(output, input, static_cast<const TdesSchedule*>(engineArea)->sk);
}

}  // extern "C"
