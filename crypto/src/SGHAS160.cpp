// HAS-160 (TTAS.KO-12.0011/R2): SHA-1's initial values, little-endian words, four rounds of
// twenty steps over the sixteen message words and four derived ones.
#include <cstring>

#include "SGDigest.h"
#include "SGDigestInternal.h"

namespace brindlow::crypto {

namespace {

inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Message word order of each round (16 to 19 are the derived words).
constexpr uint8_t kOrder[4][20] = {
    {18, 0, 1, 2, 3, 19, 4, 5, 6, 7, 16, 8, 9, 10, 11, 17, 12, 13, 14, 15},
    {18, 3, 6, 9, 12, 19, 15, 2, 5, 8, 16, 11, 14, 1, 4, 17, 7, 10, 13, 0},
    {18, 12, 5, 14, 7, 19, 0, 9, 2, 11, 16, 4, 13, 6, 15, 17, 8, 1, 10, 3},
    {18, 7, 2, 13, 8, 19, 3, 14, 9, 4, 16, 15, 10, 5, 0, 17, 11, 6, 1, 12}};
// The four message words each derived word XORs, per round.
constexpr uint8_t kDerived[4][4][4] = {
    {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}},
    {{3, 6, 9, 12}, {15, 2, 5, 8}, {11, 14, 1, 4}, {7, 10, 13, 0}},
    {{12, 5, 14, 7}, {0, 9, 2, 11}, {4, 13, 6, 15}, {8, 1, 10, 3}},
    {{7, 2, 13, 8}, {3, 14, 9, 4}, {15, 10, 5, 0}, {11, 6, 1, 12}}};
constexpr int kRotA[20] = {5, 11, 7, 15, 6, 13, 8, 14, 7, 12, 9, 11, 8, 15, 6, 12, 9, 14, 5, 13};
constexpr int kRotB[4] = {10, 17, 25, 30};
constexpr uint32_t kConst[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};

void HAS160_Transform(uint32_t h[5], const uint8_t block[64]) {
    uint32_t x[20];
    for (int i = 0; i < 16; ++i) {
        uint32_t v;
        std::memcpy(&v, block + 4 * i, 4);
        x[i] = v;  // little-endian words
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int round = 0; round < 4; ++round) {
        for (int k = 0; k < 4; ++k) {
            const uint8_t* m = kDerived[round][k];
            x[16 + k] = x[m[0]] ^ x[m[1]] ^ x[m[2]] ^ x[m[3]];
        }
        for (int step = 0; step < 20; ++step) {
            uint32_t f;
            switch (round) {
                case 0:
                    f = (b & c) | (~b & d);
                    break;
                case 2:
                    f = c ^ (b | ~d);
                    break;
                default:
                    f = b ^ c ^ d;
                    break;
            }
            const uint32_t t =
                rotl(a, kRotA[step]) + f + e + x[kOrder[round][step]] + kConst[round];
            e = d;
            d = c;
            c = rotl(b, kRotB[round]);
            b = a;
            a = t;
        }
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

}  // namespace

void has160Init(Has160State* s) {
    static constexpr uint32_t kInit[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};
    std::memcpy(s->h, kInit, sizeof kInit);
    s->count[0] = s->count[1] = 0;
    std::memset(s->buffer, 0, sizeof s->buffer);
}

void has160Update(Has160State* s, const uint8_t* data, size_t length) {
    size_t index = (s->count[0] >> 3) & 63;
    const uint64_t bits = ((static_cast<uint64_t>(s->count[1]) << 32) | s->count[0]) +
                          static_cast<uint64_t>(length) * 8;
    s->count[0] = static_cast<uint32_t>(bits);
    s->count[1] = static_cast<uint32_t>(bits >> 32);
    if (index > 0) {
        const size_t take = length < 64 - index ? length : 64 - index;
        std::memcpy(s->buffer + index, data, take);
        index += take;
        data += take;
        length -= take;
        if (index < 64) return;
        HAS160_Transform(s->h, s->buffer);
    }
    for (; length >= 64; length -= 64, data += 64) HAS160_Transform(s->h, data);
    if (length) std::memcpy(s->buffer, data, length);
}

void has160Final(Has160State* s, uint8_t digest[20]) {
    size_t index = (s->count[0] >> 3) & 63;
    s->buffer[index++] = 0x80;
    if (index > 56) {
        std::memset(s->buffer + index, 0, 64 - index);
        HAS160_Transform(s->h, s->buffer);
        index = 0;
    }
    std::memset(s->buffer + index, 0, 56 - index);
    std::memcpy(s->buffer + 56, &s->count[0], 4);  // bit count, little-endian
    std::memcpy(s->buffer + 60, &s->count[1], 4);
    HAS160_Transform(s->h, s->buffer);
    std::memcpy(digest, s->h, 20);
    // The chaining values and the block are gone; the context must be restarted.
    std::memset(s->h, 0, sizeof s->h);
    std::memset(s->buffer, 0, sizeof s->buffer);
}

}  // namespace brindlow::crypto

extern "C" int SGHAS160(unsigned char* output, const unsigned char* data, uint32_t length) {
    if (!output || (!data && length)) return SG_DIGEST_ERR_ARGUMENT;
    brindlow::crypto::Has160State s;
    brindlow::crypto::has160Init(&s);
    if (length) brindlow::crypto::has160Update(&s, data, length);
    brindlow::crypto::has160Final(&s, output);
    SGCrypto_cleanse(&s, sizeof s);
    return 0;
}
