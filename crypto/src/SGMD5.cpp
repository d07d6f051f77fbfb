// MD5 (RFC 1321).
#include <cstring>

#include "SGDigestInternal.h"

namespace brindlow::crypto {

namespace {

// The round functions in their shortest forms.
#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define H(x, y, z) ((x) ^ (y) ^ (z))
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
#define STEP(f, a, b, c, d, x, t, s)                       \
    (a) += f((b), (c), (d)) + (x) + (t);                   \
    (a) = ((a) << (s)) | (((a)&0xFFFFFFFF) >> (32 - (s))); \
    (a) += (b);

// Runs the block function over whole blocks; the words go through the state's block array.
const uint8_t* body(Md5State* s, const uint8_t* data, size_t blocks) {
    uint32_t a = s->a, b = s->b, c = s->c, d = s->d;
    uint32_t* x = s->block;
    while (blocks--) {
        std::memcpy(x, data, 64);  // little-endian words
        const uint32_t sa = a, sb = b, sc = c, sd = d;
        STEP(F, a, b, c, d, x[0], 0xd76aa478, 7)
        STEP(F, d, a, b, c, x[1], 0xe8c7b756, 12)
        STEP(F, c, d, a, b, x[2], 0x242070db, 17)
        STEP(F, b, c, d, a, x[3], 0xc1bdceee, 22)
        STEP(F, a, b, c, d, x[4], 0xf57c0faf, 7)
        STEP(F, d, a, b, c, x[5], 0x4787c62a, 12)
        STEP(F, c, d, a, b, x[6], 0xa8304613, 17)
        STEP(F, b, c, d, a, x[7], 0xfd469501, 22)
        STEP(F, a, b, c, d, x[8], 0x698098d8, 7)
        STEP(F, d, a, b, c, x[9], 0x8b44f7af, 12)
        STEP(F, c, d, a, b, x[10], 0xffff5bb1, 17)
        STEP(F, b, c, d, a, x[11], 0x895cd7be, 22)
        STEP(F, a, b, c, d, x[12], 0x6b901122, 7)
        STEP(F, d, a, b, c, x[13], 0xfd987193, 12)
        STEP(F, c, d, a, b, x[14], 0xa679438e, 17)
        STEP(F, b, c, d, a, x[15], 0x49b40821, 22)

        STEP(G, a, b, c, d, x[1], 0xf61e2562, 5)
        STEP(G, d, a, b, c, x[6], 0xc040b340, 9)
        STEP(G, c, d, a, b, x[11], 0x265e5a51, 14)
        STEP(G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
        STEP(G, a, b, c, d, x[5], 0xd62f105d, 5)
        STEP(G, d, a, b, c, x[10], 0x02441453, 9)
        STEP(G, c, d, a, b, x[15], 0xd8a1e681, 14)
        STEP(G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
        STEP(G, a, b, c, d, x[9], 0x21e1cde6, 5)
        STEP(G, d, a, b, c, x[14], 0xc33707d6, 9)
        STEP(G, c, d, a, b, x[3], 0xf4d50d87, 14)
        STEP(G, b, c, d, a, x[8], 0x455a14ed, 20)
        STEP(G, a, b, c, d, x[13], 0xa9e3e905, 5)
        STEP(G, d, a, b, c, x[2], 0xfcefa3f8, 9)
        STEP(G, c, d, a, b, x[7], 0x676f02d9, 14)
        STEP(G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

        STEP(H, a, b, c, d, x[5], 0xfffa3942, 4)
        STEP(H, d, a, b, c, x[8], 0x8771f681, 11)
        STEP(H, c, d, a, b, x[11], 0x6d9d6122, 16)
        STEP(H, b, c, d, a, x[14], 0xfde5380c, 23)
        STEP(H, a, b, c, d, x[1], 0xa4beea44, 4)
        STEP(H, d, a, b, c, x[4], 0x4bdecfa9, 11)
        STEP(H, c, d, a, b, x[7], 0xf6bb4b60, 16)
        STEP(H, b, c, d, a, x[10], 0xbebfbc70, 23)
        STEP(H, a, b, c, d, x[13], 0x289b7ec6, 4)
        STEP(H, d, a, b, c, x[0], 0xeaa127fa, 11)
        STEP(H, c, d, a, b, x[3], 0xd4ef3085, 16)
        STEP(H, b, c, d, a, x[6], 0x04881d05, 23)
        STEP(H, a, b, c, d, x[9], 0xd9d4d039, 4)
        STEP(H, d, a, b, c, x[12], 0xe6db99e5, 11)
        STEP(H, c, d, a, b, x[15], 0x1fa27cf8, 16)
        STEP(H, b, c, d, a, x[2], 0xc4ac5665, 23)

        STEP(I, a, b, c, d, x[0], 0xf4292244, 6)
        STEP(I, d, a, b, c, x[7], 0x432aff97, 10)
        STEP(I, c, d, a, b, x[14], 0xab9423a7, 15)
        STEP(I, b, c, d, a, x[5], 0xfc93a039, 21)
        STEP(I, a, b, c, d, x[12], 0x655b59c3, 6)
        STEP(I, d, a, b, c, x[3], 0x8f0ccc92, 10)
        STEP(I, c, d, a, b, x[10], 0xffeff47d, 15)
        STEP(I, b, c, d, a, x[1], 0x85845dd1, 21)
        STEP(I, a, b, c, d, x[8], 0x6fa87e4f, 6)
        STEP(I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        STEP(I, c, d, a, b, x[6], 0xa3014314, 15)
        STEP(I, b, c, d, a, x[13], 0x4e0811a1, 21)
        STEP(I, a, b, c, d, x[4], 0xf7537e82, 6)
        STEP(I, d, a, b, c, x[11], 0xbd3af235, 10)
        STEP(I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        STEP(I, b, c, d, a, x[9], 0xeb86d391, 21)

        a += sa;
        b += sb;
        c += sc;
        d += sd;
        data += 64;
    }
    s->a = a;
    s->b = b;
    s->c = c;
    s->d = d;
    return data;
}

#undef F
#undef G
#undef H
#undef I
#undef STEP

}  // namespace

void md5Init(Md5State* s) {
    std::memset(s, 0, sizeof *s);
    s->a = 0x67452301;
    s->b = 0xefcdab89;
    s->c = 0x98badcfe;
    s->d = 0x10325476;
}

void md5Update(Md5State* s, const uint8_t* data, size_t length) {
    size_t used = s->lo & 0x3f;
    const uint64_t count = ((static_cast<uint64_t>(s->hi) << 32) | s->lo) + length;
    s->lo = static_cast<uint32_t>(count);
    s->hi = static_cast<uint32_t>(count >> 32);
    if (used) {
        const size_t available = 64 - used;
        if (length < available) {
            std::memcpy(s->buffer + used, data, length);
            return;
        }
        std::memcpy(s->buffer + used, data, available);
        data += available;
        length -= available;
        body(s, s->buffer, 1);
    }
    if (length >= 64) {
        data = body(s, data, length / 64);
        length &= 0x3f;
    }
    std::memcpy(s->buffer, data, length);
}

void md5Final(Md5State* s, uint8_t digest[16]) {
    size_t used = s->lo & 0x3f;
    s->buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(s->buffer + used, 0, 64 - used);
        body(s, s->buffer, 1);
        used = 0;
    }
    std::memset(s->buffer + used, 0, 56 - used);
    const uint64_t bits = ((static_cast<uint64_t>(s->hi) << 32) | s->lo) << 3;
    std::memcpy(s->buffer + 56, &bits, 8);  // little-endian
    body(s, s->buffer, 1);
    std::memcpy(digest, &s->a, 4);
    std::memcpy(digest + 4, &s->b, 4);
    std::memcpy(digest + 8, &s->c, 4);
    std::memcpy(digest + 12, &s->d, 4);
    // The whole state is gone; the context must be restarted.
    std::memset(s, 0, sizeof *s);
}

}  // namespace brindlow::crypto
