#include "SGARIA.h"

#include <immintrin.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

// S-boxes from their algebraic definitions over GF(2^8) modulo x^8 + x^4 + x^3 + x + 1: SB1 is
// the AES S-box, SB2 an affine map of x^247, SB3 and SB4 their inverses.
constexpr unsigned gfMul(unsigned a, unsigned b) {
    unsigned r = 0;
    while (b) {
        if (b & 1) r ^= a;
        b >>= 1;
        a <<= 1;
        if (a & 0x100) a ^= 0x11b;
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

constexpr unsigned char kAesAffine[8] = {0x1f, 0x3e, 0x7c, 0xf8, 0xf1, 0xe3, 0xc7, 0x8f};
constexpr unsigned char kB[8] = {0xac, 0xc5, 0x12, 0xcf, 0x5b, 0x5f, 0x85, 0xee};

struct SBoxes {
    unsigned char sb[4][256];
};

constexpr SBoxes makeSBoxes() {
    SBoxes s{};
    for (unsigned x = 0; x < 256; ++x) {
        s.sb[0][x] = static_cast<unsigned char>(linear(kAesAffine, gfPow(x, 254)) ^ 0x63);
        s.sb[1][x] = static_cast<unsigned char>(linear(kB, gfPow(x, 247)) ^ 0xe2);
    }
    for (unsigned x = 0; x < 256; ++x) {
        s.sb[2][s.sb[0][x]] = static_cast<unsigned char>(x);
        s.sb[3][s.sb[1][x]] = static_cast<unsigned char>(x);
    }
    return s;
}

constexpr SBoxes kS = makeSBoxes();
static_assert(kS.sb[0][0] == 0x63 && kS.sb[1][0] == 0xe2 && kS.sb[1][1] == 0x4e);

// Substitution combined with the diffusion inside one word: each output byte is the XOR of the
// S-box outputs of the other three bytes. Table t of layer L serves byte t of every word (byte 0
// the most significant); layer 0 is the odd rounds' SL1, layer 1 the even rounds' SL2.
struct RoundTables {
    uint32_t t[2][4][256];
};

constexpr uint32_t kSpread[4] = {0x00010101, 0x01000101, 0x01010001, 0x01010100};
constexpr int kLayer[2][4] = {{0, 1, 2, 3}, {2, 3, 0, 1}};

constexpr RoundTables makeRoundTables() {
    RoundTables r{};
    for (int layer = 0; layer < 2; ++layer)
        for (int pos = 0; pos < 4; ++pos)
            for (unsigned x = 0; x < 256; ++x)
                r.t[layer][pos][x] = kS.sb[kLayer[layer][pos]][x] * kSpread[pos];
    return r;
}

alignas(64) constexpr RoundTables kT = makeRoundTables();

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
    int rounds;
    int keyLength;
    uint32_t rk[17][4];
};
static_assert(sizeof(Schedule) <= 2048);

inline uint32_t swapBytePairs(uint32_t v) {
    return ((v << 8) & 0xff00ff00) | ((v >> 8) & 0x00ff00ff);
}
inline uint32_t swapHalves(uint32_t v) {
    return (v << 16) | (v >> 16);
}

inline void mixWords(uint32_t& t0, uint32_t& t1, uint32_t& t2, uint32_t& t3) {
    t1 ^= t2;
    t2 ^= t3;
    t0 ^= t1;
    t3 ^= t1;
    t2 ^= t0;
    t1 ^= t2;
}

// The diffusion layer across words, after the in-word part that the tables carry.
inline void diffuse(uint32_t& t0, uint32_t& t1, uint32_t& t2, uint32_t& t3) {
    mixWords(t0, t1, t2, t3);
    t1 = swapBytePairs(t1);
    t2 = swapHalves(t2);
    t3 = __builtin_bswap32(t3);
    mixWords(t0, t1, t2, t3);
}

template <int Layer>
inline uint32_t subWord(uint32_t x) {
    const auto& t = kT.t[Layer];
    return t[0][x >> 24] ^ t[1][(x >> 16) & 0xff] ^ t[2][(x >> 8) & 0xff] ^ t[3][x & 0xff];
}

// One full round: key addition, substitution layer, diffusion.
template <int Layer>
inline void roundFunction(uint32_t (&x)[4], const uint32_t* rk) {
    uint32_t t0 = subWord<Layer>(x[0] ^ rk[0]);
    uint32_t t1 = subWord<Layer>(x[1] ^ rk[1]);
    uint32_t t2 = subWord<Layer>(x[2] ^ rk[2]);
    uint32_t t3 = subWord<Layer>(x[3] ^ rk[3]);
    diffuse(t0, t1, t2, t3);
    x[0] = t0;
    x[1] = t1;
    x[2] = t2;
    x[3] = t3;
}

// SL2 alone, byte by byte: the last round has no diffusion.
inline uint32_t lastSubWord(uint32_t x) {
    return uint32_t(kS.sb[2][x >> 24]) << 24 | uint32_t(kS.sb[3][(x >> 16) & 0xff]) << 16 |
           uint32_t(kS.sb[0][(x >> 8) & 0xff]) << 8 | kS.sb[1][x & 0xff];
}

inline void ariaBlock(unsigned char* out, const unsigned char* in, const Schedule* s) {
    uint32_t x[4] = {load32(in), load32(in + 4), load32(in + 8), load32(in + 12)};
    const int n = s->rounds;
    int i = 0;
    for (; i < n - 2; i += 2) {
        roundFunction<0>(x, s->rk[i]);
        roundFunction<1>(x, s->rk[i + 1]);
    }
    roundFunction<0>(x, s->rk[i]);
    const uint32_t* last = s->rk[n - 1];
    const uint32_t* whitening = s->rk[n];
    for (int w = 0; w < 4; ++w) store32(out + 4 * w, lastSubWord(x[w] ^ last[w]) ^ whitening[w]);
}

// Several blocks at once on the tables, round by round, so that the lookups of one block overlap
// those of the others; where the processor has no GFNI.
constexpr int kAriaLanes = 4;

inline void ariaBlocks(unsigned char* out, const unsigned char* in, const Schedule* s) {
    uint32_t x[kAriaLanes][4];
#pragma GCC unroll 4
    for (int j = 0; j < kAriaLanes; ++j)
        for (int w = 0; w < 4; ++w) x[j][w] = load32(in + 16 * j + 4 * w);
    const int n = s->rounds;
    int i = 0;
    for (; i < n - 2; i += 2) {
#pragma GCC unroll 4
        for (auto& b : x) roundFunction<0>(b, s->rk[i]);
#pragma GCC unroll 4
        for (auto& b : x) roundFunction<1>(b, s->rk[i + 1]);
    }
#pragma GCC unroll 4
    for (auto& b : x) roundFunction<0>(b, s->rk[i]);
    const uint32_t* last = s->rk[n - 1];
    const uint32_t* whitening = s->rk[n];
#pragma GCC unroll 4
    for (int j = 0; j < kAriaLanes; ++j)
        for (int w = 0; w < 4; ++w)
            store32(out + 16 * j + 4 * w, lastSubWord(x[j][w] ^ last[w]) ^ whitening[w]);
}

// The byte-level diffusion layer A, used for the decryption keys.
void diffuseBytes(uint32_t (&w)[4]) {
    uint32_t t0 = w[0], t1 = w[1], t2 = w[2], t3 = w[3];
    // A, written as the in-word part (each byte the XOR of the other three) and diffuse().
    auto inWord = [](uint32_t v) {
        const uint32_t all = (v ^ (v >> 8) ^ (v >> 16) ^ (v >> 24)) & 0xff;
        return v ^ (all * 0x01010101u);
    };
    t0 = inWord(t0);
    t1 = inWord(t1);
    t2 = inWord(t2);
    t3 = inWord(t3);
    diffuse(t0, t1, t2, t3);
    w[0] = t0;
    w[1] = t1;
    w[2] = t2;
    w[3] = t3;
}

// The round functions of the key schedule, on words: FO (odd) and FE (even).
template <int Layer>
void keyRound(uint32_t (&out)[4], const uint32_t (&d)[4], const uint32_t* ck) {
    uint32_t x[4] = {d[0], d[1], d[2], d[3]};
    roundFunction<Layer>(x, ck);
    for (int i = 0; i < 4; ++i) out[i] = x[i];
    SGCrypto_cleanse(x, sizeof x);
}

// out = a ^ (b rotated right by n bits), on 128-bit values as four big-endian words.
void xorRotated(uint32_t* out, const uint32_t (&a)[4], const uint32_t (&b)[4], int n) {
    const int words = n / 32, bits = n % 32;
    for (int i = 0; i < 4; ++i) {
        const uint32_t hi = b[(i - words + 4) % 4];
        const uint32_t lo = b[(i - words + 3) % 4];
        const uint32_t v = bits ? (hi >> bits) | (lo << (32 - bits)) : hi;
        out[i] = a[i] ^ v;
    }
}

constexpr uint32_t kC[3][4] = {{0x517cc1b7, 0x27220a94, 0xfe13abe8, 0xfa9a6ee0},
                               {0x6db14acc, 0x9e21c820, 0xff28b1d5, 0xef5de2b0},
                               {0xdb92371d, 0x2126e970, 0x03249775, 0x04e8c90e}};

// ---- Sixteen blocks at once with the processor's GFNI instructions -------------------------
// The blocks are transposed so that vector j holds byte j of all sixteen: every byte position
// then takes one S-box, which GF2P8AFFINEINVQB computes as an affine map of the inverse in
// GF(2^8) (ARIA's field is AES's), and the diffusion layer becomes XORs of whole vectors, with
// its byte permutations a renaming of the vectors.

// An affine map's matrix as GF2P8AFFINEQB takes it: byte 7 - i of the word is the row of
// output bit i. columns[j] is the image of input bit j.
constexpr uint64_t gfniMatrix(const unsigned char (&columns)[8]) {
    uint64_t m = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned row = 0;
        for (int j = 0; j < 8; ++j)
            if (columns[j] >> i & 1) row |= 1u << j;
        m |= uint64_t{row} << (8 * (7 - i));
    }
    return m;
}

struct Linear {
    unsigned char columns[8];
};

constexpr unsigned apply(const Linear& l, unsigned v) {
    return linear(l.columns, v);
}

// The inverse of an invertible linear map, column by column: the preimage of each basis vector.
constexpr Linear inverse(const Linear& l) {
    Linear r{};
    for (unsigned v = 0; v < 256; ++v)
        for (int i = 0; i < 8; ++i)
            if (apply(l, v) == (1u << i)) r.columns[i] = static_cast<unsigned char>(v);
    return r;
}

// SB2 is B(x^247) + e2 and x^247 = (x^-1)^8; x -> x^8 is linear, so SB2 is the affine map
// B F8 of the inverse.
constexpr Linear makeSb2Linear() {
    Linear r{};
    for (int j = 0; j < 8; ++j)
        r.columns[j] = static_cast<unsigned char>(linear(kB, gfPow(1u << j, 8)));
    return r;
}

constexpr Linear kSb1Linear = {{0x1f, 0x3e, 0x7c, 0xf8, 0xf1, 0xe3, 0xc7, 0x8f}};
constexpr Linear kSb2Linear = makeSb2Linear();
constexpr Linear kSb1Inverse = inverse(kSb1Linear);
constexpr Linear kSb2Inverse = inverse(kSb2Linear);
constexpr uint64_t kIdentity = 0x0102040810204080ull;

struct GfniBox {
    uint64_t matrix;    // SB1, SB2: applied after the inverse; SB3, SB4: before it
    unsigned char add;  // the constant of that affine step
    bool invertAfter;   // SB3, SB4: the inverse comes last
};
// SB1 = A x^-1 + 63, SB2 = (B F8) x^-1 + e2; their inverses invert after the inverse affine map.
constexpr GfniBox kBoxes[4] = {
    {gfniMatrix(kSb1Linear.columns), 0x63, false},
    {gfniMatrix(kSb2Linear.columns), 0xe2, false},
    {gfniMatrix(kSb1Inverse.columns), static_cast<unsigned char>(apply(kSb1Inverse, 0x63)), true},
    {gfniMatrix(kSb2Inverse.columns), static_cast<unsigned char>(apply(kSb2Inverse, 0xe2)), true}};

bool detectGfni() {
    return __builtin_cpu_supports("gfni") && __builtin_cpu_supports("avx");
}

std::atomic<bool> gGfni{detectGfni()};

#pragma GCC push_options
#pragma GCC target("gfni,avx")

// Transposes sixteen 16-byte rows; its own inverse.
inline void transpose16(__m128i (&x)[16]) {
    __m128i t[16];
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm_unpacklo_epi8(x[2 * i], x[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi8(x[2 * i], x[2 * i + 1]);
    }
    for (int g = 0; g < 4; ++g) {
        x[4 * g] = _mm_unpacklo_epi16(t[4 * g], t[4 * g + 2]);
        x[4 * g + 1] = _mm_unpackhi_epi16(t[4 * g], t[4 * g + 2]);
        x[4 * g + 2] = _mm_unpacklo_epi16(t[4 * g + 1], t[4 * g + 3]);
        x[4 * g + 3] = _mm_unpackhi_epi16(t[4 * g + 1], t[4 * g + 3]);
    }
    for (int h = 0; h < 2; ++h)
        for (int k = 0; k < 4; ++k) {
            t[8 * h + 2 * k] = _mm_unpacklo_epi32(x[8 * h + k], x[8 * h + 4 + k]);
            t[8 * h + 2 * k + 1] = _mm_unpackhi_epi32(x[8 * h + k], x[8 * h + 4 + k]);
        }
    for (int m = 0; m < 8; ++m) {
        x[2 * m] = _mm_unpacklo_epi64(t[m], t[8 + m]);
        x[2 * m + 1] = _mm_unpackhi_epi64(t[m], t[8 + m]);
    }
}

template <int Box>
inline __m128i gfniBox(__m128i v) {
    constexpr GfniBox b = kBoxes[Box];
    const __m128i matrix = _mm_set1_epi64x(static_cast<long long>(b.matrix));
    if constexpr (!b.invertAfter) return _mm_gf2p8affineinv_epi64_epi8(v, matrix, b.add);
    const __m128i identity = _mm_set1_epi64x(static_cast<long long>(kIdentity));
    return _mm_gf2p8affineinv_epi64_epi8(_mm_gf2p8affine_epi64_epi8(v, matrix, b.add), identity, 0);
}

// The substitution layer on transposed state: byte k of each word takes box kLayer[L][k].
template <int Layer>
inline void substitute(__m128i (&b)[16]) {
    for (int w = 0; w < 4; ++w) {
        b[4 * w] = gfniBox<kLayer[Layer][0]>(b[4 * w]);
        b[4 * w + 1] = gfniBox<kLayer[Layer][1]>(b[4 * w + 1]);
        b[4 * w + 2] = gfniBox<kLayer[Layer][2]>(b[4 * w + 2]);
        b[4 * w + 3] = gfniBox<kLayer[Layer][3]>(b[4 * w + 3]);
    }
}

// mixWords on the four words, byte position by byte position.
inline void mixWordVectors(__m128i (&b)[16]) {
    for (int k = 0; k < 4; ++k) {
        __m128i &t0 = b[k], &t1 = b[4 + k], &t2 = b[8 + k], &t3 = b[12 + k];
        t1 = _mm_xor_si128(t1, t2);
        t2 = _mm_xor_si128(t2, t3);
        t0 = _mm_xor_si128(t0, t1);
        t3 = _mm_xor_si128(t3, t1);
        t2 = _mm_xor_si128(t2, t0);
        t1 = _mm_xor_si128(t1, t2);
    }
}

// The diffusion layer: each byte of a word becomes the XOR of the other three, then diffuse()
// with the byte moves inside words 1, 2 and 3 done by swapping vectors.
inline void diffuseVectors(__m128i (&b)[16]) {
    for (int w = 0; w < 4; ++w) {
        const __m128i all = _mm_xor_si128(_mm_xor_si128(b[4 * w], b[4 * w + 1]),
                                          _mm_xor_si128(b[4 * w + 2], b[4 * w + 3]));
        for (int k = 0; k < 4; ++k) b[4 * w + k] = _mm_xor_si128(b[4 * w + k], all);
    }
    mixWordVectors(b);
    std::swap(b[4], b[5]);  // swapBytePairs
    std::swap(b[6], b[7]);
    std::swap(b[8], b[10]);  // swapHalves
    std::swap(b[9], b[11]);
    std::swap(b[12], b[15]);  // bswap
    std::swap(b[13], b[14]);
    mixWordVectors(b);
}

// Round key j, byte k, broadcast to a whole vector; made once per run of the mode loop.
struct GfniKeys {
    __m128i k[17][16];
};

void prepareGfniKeys(GfniKeys& keys, const Schedule* s) {
    for (int r = 0; r <= s->rounds; ++r)
        for (int k = 0; k < 16; ++k)
            keys.k[r][k] = _mm_set1_epi8(static_cast<char>(s->rk[r][k / 4] >> (24 - 8 * (k % 4))));
}

inline void addKey(__m128i (&b)[16], const __m128i (&key)[16]) {
    for (int k = 0; k < 16; ++k) b[k] = _mm_xor_si128(b[k], key[k]);
}

void gfniBlocks16(unsigned char* out, const unsigned char* in, const Schedule* s,
                  const GfniKeys& keys) {
    __m128i b[16];
    for (int i = 0; i < 16; ++i)
        b[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * i));
    transpose16(b);
    const int n = s->rounds;
    for (int r = 0; r < n - 1; r += 2) {
        addKey(b, keys.k[r]);
        substitute<0>(b);
        diffuseVectors(b);
        addKey(b, keys.k[r + 1]);
        substitute<1>(b);
        if (r + 1 < n - 1) diffuseVectors(b);
    }
    addKey(b, keys.k[n]);
    transpose16(b);
    for (int i = 0; i < 16; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), b[i]);
    for (auto& v : b) v = _mm_setzero_si128();
    asm volatile("" : : "r"(b) : "memory");
}

void gfniRunMode(const ModeRun& run) {
    const auto* s = static_cast<const Schedule*>(run.area);
    GfniKeys keys;
    prepareGfniKeys(keys, s);
    runModeLoopWide<16, 16>(
        run, [s](unsigned char* o, const unsigned char* i) { ariaBlock(o, i, s); },
        [s, &keys](unsigned char* o, const unsigned char* i) { gfniBlocks16(o, i, s, keys); });
    for (auto& round : keys.k)
        for (auto& v : round) v = _mm_setzero_si128();
    asm volatile("" : : "r"(&keys) : "memory");
}

#pragma GCC pop_options

}  // namespace

namespace brindlow::crypto {

bool ariaUsesGfni() {
    return gGfni.load(std::memory_order_relaxed);
}

void ariaSetGfni(bool enabled) {
    gGfni.store(enabled && detectGfni(), std::memory_order_relaxed);
}

void ariaRunMode(const ModeRun& run) {
    const auto* s = static_cast<const Schedule*>(run.area);
    if (ariaUsesGfni() && modeRunsWide(run, 16) && run.length >= 16 * 16) {
        gfniRunMode(run);
        return;
    }
    auto block = [s](unsigned char* o, const unsigned char* i) { ariaBlock(o, i, s); };
    auto blocks = [s](unsigned char* o, const unsigned char* i) { ariaBlocks(o, i, s); };
    runModeLoopWide<16, kAriaLanes>(run, block, blocks);
}

}  // namespace brindlow::crypto

extern "C" {

int SGCipher_ARIA_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                           int direction) {
    if (!engineArea || !key || keyLength == 0) return 401;
    if (keyLength < 16) return 403;
    const uint32_t bytes = keyLength >= 32 ? 32 : keyLength >= 24 ? 24 : 16;
    auto* s = static_cast<Schedule*>(engineArea);
    s->rounds = bytes == 16 ? 12 : bytes == 24 ? 14 : 16;
    s->keyLength = static_cast<int>(bytes);

    uint32_t kl[4], kr[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) kl[i] = load32(key + 4 * i);
    for (uint32_t i = 0; i < (bytes - 16) / 4; ++i) kr[i] = load32(key + 16 + 4 * i);
    // The constants rotate with the key size: CK1, CK2, CK3 start at C1, C2 or C3.
    const int first = bytes == 16 ? 0 : bytes == 24 ? 1 : 2;
    const uint32_t* ck1 = kC[first];
    const uint32_t* ck2 = kC[(first + 1) % 3];
    const uint32_t* ck3 = kC[(first + 2) % 3];

    uint32_t w0[4], w1[4], w2[4], w3[4];
    for (int i = 0; i < 4; ++i) w0[i] = kl[i];
    keyRound<0>(w1, w0, ck1);
    for (int i = 0; i < 4; ++i) w1[i] ^= kr[i];
    keyRound<1>(w2, w1, ck2);
    for (int i = 0; i < 4; ++i) w2[i] ^= w0[i];
    keyRound<0>(w3, w2, ck3);
    for (int i = 0; i < 4; ++i) w3[i] ^= w1[i];

    // ek1..ek17: W(i) ^ (W(i+1) >>> r) for the rotations 19, 31, -61 (= 67), -31 (= 97), -19.
    const uint32_t(*w[4])[4] = {&w0, &w1, &w2, &w3};
    const int rotations[5] = {19, 31, 67, 97, 109};
    int index = 0;
    for (int group = 0; group < 5 && index <= s->rounds; ++group)
        for (int j = 0; j < 4 && index <= s->rounds; ++j, ++index)
            xorRotated(s->rk[index], *w[j], *w[(j + 1) % 4], rotations[group]);

    if (direction == 1) {
        // Decryption keys: first and last swapped, the ones between reversed and diffused.
        const int n = s->rounds;
        for (int i = 0; i < 4; ++i) std::swap(s->rk[0][i], s->rk[n][i]);
        for (int a = 1, b = n - 1; a < b; ++a, --b)
            for (int i = 0; i < 4; ++i) std::swap(s->rk[a][i], s->rk[b][i]);
        for (int r = 1; r < n; ++r) diffuseBytes(s->rk[r]);
    }
    SGCrypto_cleanse(kl, sizeof kl);
    SGCrypto_cleanse(kr, sizeof kr);
    SGCrypto_cleanse(w0, sizeof w0);
    SGCrypto_cleanse(w1, sizeof w1);
    SGCrypto_cleanse(w2, sizeof w2);
    SGCrypto_cleanse(w3, sizeof w3);
    return 0;
}

void SGCipher_ARIA_Main(unsigned char* output, const unsigned char* input, void* engineArea, int) {
    ariaBlock(output, input, static_cast<const Schedule*>(engineArea));
}

}  // extern "C"
