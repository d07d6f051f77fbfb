#include "SGAES.h"

#include <cpuid.h>
#include <immintrin.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

// The tables follow from the S-box, itself computed from its definition: the inverse in
// GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 followed by the affine map.
constexpr unsigned xtime(unsigned a) {
    return ((a << 1) ^ ((a & 0x80) ? 0x1b : 0)) & 0xff;
}

constexpr unsigned gfMul(unsigned a, unsigned b) {
    unsigned r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr unsigned gfInverse(unsigned x) {
    unsigned r = 1, e = 254;
    while (e) {
        if (e & 1) r = gfMul(r, x);
        x = gfMul(x, x);
        e >>= 1;
    }
    return r;  // 0 maps to 0
}

constexpr unsigned rotl8(unsigned x, int n) {
    return ((x << n) | (x >> (8 - n))) & 0xff;
}

constexpr uint32_t rotr32(uint32_t x, int n) {
    return n ? (x >> n) | (x << (32 - n)) : x;
}

struct Tables {
    unsigned char sbox[256];
    unsigned char inv[256];
    uint32_t te[4][256];
    uint32_t td[4][256];
};

constexpr Tables makeTables() {
    Tables t{};
    for (unsigned x = 0; x < 256; ++x) {
        const unsigned b = gfInverse(x);
        const unsigned s = b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63;
        t.sbox[x] = static_cast<unsigned char>(s);
        t.inv[s] = static_cast<unsigned char>(x);
    }
    for (unsigned x = 0; x < 256; ++x) {
        const unsigned s = t.sbox[x], i = t.inv[x];
        const uint32_t e = gfMul(s, 2) << 24 | s << 16 | s << 8 | gfMul(s, 3);
        const uint32_t d =
            gfMul(i, 14) << 24 | gfMul(i, 9) << 16 | gfMul(i, 13) << 8 | gfMul(i, 11);
        for (int r = 0; r < 4; ++r) {
            t.te[r][x] = rotr32(e, 8 * r);
            t.td[r][x] = rotr32(d, 8 * r);
        }
    }
    return t;
}

alignas(64) constexpr Tables kT = makeTables();
static_assert(kT.sbox[0] == 0x63 && kT.sbox[0x53] == 0xed && kT.inv[0x63] == 0);

constexpr const uint32_t* sg_Te0 = kT.te[0];
constexpr const uint32_t* sg_Te1 = kT.te[1];
constexpr const uint32_t* sg_Te2 = kT.te[2];
constexpr const uint32_t* sg_Te3 = kT.te[3];
constexpr const uint32_t* sg_Td0 = kT.td[0];
constexpr const uint32_t* sg_Td1 = kT.td[1];
constexpr const uint32_t* sg_Td2 = kT.td[2];
constexpr const uint32_t* sg_Td3 = kT.td[3];
constexpr const unsigned char* Te4 = kT.sbox;
constexpr const unsigned char* sg_Td4 = kT.inv;
constexpr uint32_t sg_rcon[10] = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
                                  0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};

struct Schedule {
    int rounds;
    uint32_t rk[60];  // big-endian round-key words
};
static_assert(sizeof(Schedule) <= 2048);

inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

inline void store32(unsigned char* p, uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline uint32_t subWord(uint32_t w) {
    return uint32_t(Te4[w >> 24]) << 24 | uint32_t(Te4[(w >> 16) & 0xff]) << 16 |
           uint32_t(Te4[(w >> 8) & 0xff]) << 8 | Te4[w & 0xff];
}

void encryptTables(unsigned char* out, const unsigned char* in, const Schedule* s) {
    const uint32_t* rk = s->rk;
    uint32_t s0 = load32(in) ^ rk[0], s1 = load32(in + 4) ^ rk[1];
    uint32_t s2 = load32(in + 8) ^ rk[2], s3 = load32(in + 12) ^ rk[3];
    for (int r = 1; r < s->rounds; ++r) {
        rk += 4;
        const uint32_t t0 = sg_Te0[s0 >> 24] ^ sg_Te1[(s1 >> 16) & 0xff] ^
                            sg_Te2[(s2 >> 8) & 0xff] ^ sg_Te3[s3 & 0xff] ^ rk[0];
        const uint32_t t1 = sg_Te0[s1 >> 24] ^ sg_Te1[(s2 >> 16) & 0xff] ^
                            sg_Te2[(s3 >> 8) & 0xff] ^ sg_Te3[s0 & 0xff] ^ rk[1];
        const uint32_t t2 = sg_Te0[s2 >> 24] ^ sg_Te1[(s3 >> 16) & 0xff] ^
                            sg_Te2[(s0 >> 8) & 0xff] ^ sg_Te3[s1 & 0xff] ^ rk[2];
        const uint32_t t3 = sg_Te0[s3 >> 24] ^ sg_Te1[(s0 >> 16) & 0xff] ^
                            sg_Te2[(s1 >> 8) & 0xff] ^ sg_Te3[s2 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(Te4[a >> 24]) << 24 | uint32_t(Te4[(b >> 16) & 0xff]) << 16 |
               uint32_t(Te4[(c >> 8) & 0xff]) << 8 | Te4[d & 0xff];
    };
    store32(out, last(s0, s1, s2, s3) ^ rk[0]);
    store32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
    store32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
    store32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void decryptTables(unsigned char* out, const unsigned char* in, const Schedule* s) {
    const uint32_t* rk = s->rk;
    uint32_t s0 = load32(in) ^ rk[0], s1 = load32(in + 4) ^ rk[1];
    uint32_t s2 = load32(in + 8) ^ rk[2], s3 = load32(in + 12) ^ rk[3];
    for (int r = 1; r < s->rounds; ++r) {
        rk += 4;
        const uint32_t t0 = sg_Td0[s0 >> 24] ^ sg_Td1[(s3 >> 16) & 0xff] ^
                            sg_Td2[(s2 >> 8) & 0xff] ^ sg_Td3[s1 & 0xff] ^ rk[0];
        const uint32_t t1 = sg_Td0[s1 >> 24] ^ sg_Td1[(s0 >> 16) & 0xff] ^
                            sg_Td2[(s3 >> 8) & 0xff] ^ sg_Td3[s2 & 0xff] ^ rk[1];
        const uint32_t t2 = sg_Td0[s2 >> 24] ^ sg_Td1[(s1 >> 16) & 0xff] ^
                            sg_Td2[(s0 >> 8) & 0xff] ^ sg_Td3[s3 & 0xff] ^ rk[2];
        const uint32_t t3 = sg_Td0[s3 >> 24] ^ sg_Td1[(s2 >> 16) & 0xff] ^
                            sg_Td2[(s1 >> 8) & 0xff] ^ sg_Td3[s0 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(sg_Td4[a >> 24]) << 24 | uint32_t(sg_Td4[(b >> 16) & 0xff]) << 16 |
               uint32_t(sg_Td4[(c >> 8) & 0xff]) << 8 | sg_Td4[d & 0xff];
    };
    store32(out, last(s0, s3, s2, s1) ^ rk[0]);
    store32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
    store32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
    store32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

// InvMixColumns of one round-key word, through the tables (Td of S(x) is InvMixColumns of x).
inline uint32_t invMixColumn(uint32_t w) {
    return sg_Td0[Te4[w >> 24]] ^ sg_Td1[Te4[(w >> 16) & 0xff]] ^ sg_Td2[Te4[(w >> 8) & 0xff]] ^
           sg_Td3[Te4[w & 0xff]];
}

bool detectHardware() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_AES) && (c & bit_SSSE3) && (c & bit_SSE4_1);
}

std::atomic<bool> gHardware{detectHardware()};

// ---- The processor's AES instructions -------------------------------------------------------
// The schedule stays in its big-endian word form; each run loads it once with the bytes of
// every word reversed into instruction order.

#pragma GCC push_options
#pragma GCC target("aes,ssse3,sse4.1")

// The round keys of one run, held in registers; R is the number of rounds.
template <int R>
struct HwKeys {
    __m128i k[R + 1];
    explicit HwKeys(const Schedule* s) {
        const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
        for (int r = 0; r <= R; ++r)
            k[r] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(s->rk + 4 * r)), swap);
    }
    ~HwKeys() {
        for (auto& v : k) v = _mm_setzero_si128();
        asm volatile("" : : "r"(k) : "memory");
    }
    HwKeys(const HwKeys&) = delete;
    HwKeys& operator=(const HwKeys&) = delete;

    __m128i encrypt(__m128i x) const {
        x = _mm_xor_si128(x, k[0]);
        for (int r = 1; r < R; ++r) x = _mm_aesenc_si128(x, k[r]);
        return _mm_aesenclast_si128(x, k[R]);
    }
    __m128i decrypt(__m128i x) const {
        x = _mm_xor_si128(x, k[0]);
        for (int r = 1; r < R; ++r) x = _mm_aesdec_si128(x, k[r]);
        return _mm_aesdeclast_si128(x, k[R]);
    }
    // Eight independent blocks in flight, which the pipelined instructions need to run at speed.
    template <bool Decrypt>
    void eight(__m128i (&x)[8]) const {
        for (auto& v : x) v = _mm_xor_si128(v, k[0]);
        for (int r = 1; r < R; ++r)
            for (auto& v : x) v = Decrypt ? _mm_aesdec_si128(v, k[r]) : _mm_aesenc_si128(v, k[r]);
        for (auto& v : x)
            v = Decrypt ? _mm_aesdeclast_si128(v, k[R]) : _mm_aesenclast_si128(v, k[R]);
    }
};

inline __m128i loadBlock(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void storeBlock(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int R>
void hwBlockR(unsigned char* out, const unsigned char* in, const Schedule* s, bool decrypt) {
    const HwKeys<R> h(s);
    storeBlock(out, decrypt ? h.decrypt(loadBlock(in)) : h.encrypt(loadBlock(in)));
}

void hwBlock(unsigned char* out, const unsigned char* in, const Schedule* s, bool decrypt) {
    if (s->rounds == 10)
        hwBlockR<10>(out, in, s, decrypt);
    else if (s->rounds == 12)
        hwBlockR<12>(out, in, s, decrypt);
    else
        hwBlockR<14>(out, in, s, decrypt);
}

template <int R>
void hwRunModeR(const ModeRun& run) {
    const HwKeys<R> h(static_cast<const Schedule*>(run.area));
    const unsigned char* in = run.in;
    unsigned char* out = run.out;
    const size_t len = run.length;
    size_t n = 0;
    switch (run.mode) {
        case kModeEcb:
            for (; n + 128 <= len; n += 128) {
                __m128i x[8];
                for (int j = 0; j < 8; ++j) x[j] = loadBlock(in + n + 16 * j);
                run.decrypt ? h.template eight<true>(x) : h.template eight<false>(x);
                for (int j = 0; j < 8; ++j) storeBlock(out + n + 16 * j, x[j]);
            }
            for (; n < len; n += 16)
                storeBlock(out + n, run.decrypt ? h.decrypt(loadBlock(in + n))
                                                : h.encrypt(loadBlock(in + n)));
            break;
        case kModeCbc: {
            __m128i iv = loadBlock(run.reg);
            if (!run.decrypt) {
                for (; n < len; n += 16) {
                    iv = h.encrypt(_mm_xor_si128(iv, loadBlock(in + n)));
                    storeBlock(out + n, iv);
                }
            } else {
                for (; n + 128 <= len; n += 128) {
                    __m128i c[8], x[8];
                    for (int j = 0; j < 8; ++j) x[j] = c[j] = loadBlock(in + n + 16 * j);
                    h.template eight<true>(x);
                    storeBlock(out + n, _mm_xor_si128(x[0], iv));
                    for (int j = 1; j < 8; ++j)
                        storeBlock(out + n + 16 * j, _mm_xor_si128(x[j], c[j - 1]));
                    iv = c[7];
                }
                for (; n < len; n += 16) {
                    const __m128i c = loadBlock(in + n);
                    storeBlock(out + n, _mm_xor_si128(h.decrypt(c), iv));
                    iv = c;
                }
            }
            storeBlock(run.reg, iv);
            break;
        }
        case kModeCtr: {
            // The counter as a 128-bit big-endian number, held as two 64-bit halves.
            const __m128i reverse =
                _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
            uint64_t hi, lo;
            std::memcpy(&hi, run.reg, 8);
            std::memcpy(&lo, run.reg + 8, 8);
            hi = __builtin_bswap64(hi);
            lo = __builtin_bswap64(lo);
            auto counter = [&](uint64_t add) {
                const uint64_t l = lo + add;
                const uint64_t carry = l < lo ? 1 : 0;
                return _mm_shuffle_epi8(
                    _mm_set_epi64x(static_cast<long long>(hi + carry), static_cast<long long>(l)),
                    reverse);
            };
            for (; n + 128 <= len; n += 128) {
                __m128i x[8];
                for (int j = 0; j < 8; ++j) x[j] = counter(static_cast<uint64_t>(j));
                if (lo + 8 < lo) ++hi;
                lo += 8;
                h.template eight<false>(x);
                for (int j = 0; j < 8; ++j)
                    storeBlock(out + n + 16 * j, _mm_xor_si128(x[j], loadBlock(in + n + 16 * j)));
            }
            for (; n < len; n += 16) {
                const __m128i k = h.encrypt(counter(0));
                if (++lo == 0) ++hi;
                storeBlock(out + n, _mm_xor_si128(k, loadBlock(in + n)));
            }
            hi = __builtin_bswap64(hi);
            lo = __builtin_bswap64(lo);
            std::memcpy(run.reg, &hi, 8);
            std::memcpy(run.reg + 8, &lo, 8);
            break;
        }
        default: {  // CFB and OFB run one block at a time by their nature
            auto enc = [&h](unsigned char* o, const unsigned char* i) {
                storeBlock(o, h.encrypt(loadBlock(i)));
            };
            runModeLoop<16>(run, enc, enc);
            break;
        }
    }
}

void hwRunMode(const ModeRun& run) {
    const int rounds = static_cast<const Schedule*>(run.area)->rounds;
    if (rounds == 10)
        hwRunModeR<10>(run);
    else if (rounds == 12)
        hwRunModeR<12>(run);
    else
        hwRunModeR<14>(run);
}

#pragma GCC pop_options

}  // namespace

namespace brindlow::crypto {

bool aesUsesHardware() {
    return gHardware.load(std::memory_order_relaxed);
}

void aesSetHardware(bool enabled) {
    gHardware.store(enabled && detectHardware(), std::memory_order_relaxed);
}

void aesRunMode(const ModeRun& run) {
    if (aesUsesHardware()) {
        hwRunMode(run);
        return;
    }
    const auto* s = static_cast<const Schedule*>(run.area);
    runModeLoop<16>(
        run, [s](unsigned char* o, const unsigned char* i) { encryptTables(o, i, s); },
        [s](unsigned char* o, const unsigned char* i) { decryptTables(o, i, s); });
}

}  // namespace brindlow::crypto

extern "C" {

int SGAES_set_encrypt_key(uint32_t* rk, const unsigned char* key, int keyBytes) {
    if (keyBytes != 16 && keyBytes != 24 && keyBytes != 32) return 0;
    const int nk = keyBytes / 4, rounds = nk + 6, total = 4 * (rounds + 1);
    for (int i = 0; i < nk; ++i) rk[i] = load32(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        uint32_t t = rk[i - 1];
        if (i % nk == 0)
            t = subWord((t << 8) | (t >> 24)) ^ sg_rcon[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            t = subWord(t);
        rk[i] = rk[i - nk] ^ t;
    }
    return rounds;
}

int SGCipher_AES_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength,
                          int direction) {
    if (!engineArea || !key || keyLength == 0) return 401;
    if (keyLength < 16) return 403;
    if (direction != 0 && direction != 1) return 404;
    auto* s = static_cast<Schedule*>(engineArea);
    const int bytes = keyLength >= 32 ? 32 : keyLength >= 24 ? 24 : 16;
    const int rounds = SGAES_set_encrypt_key(s->rk, key, bytes);
    if (rounds == 0) return 401;
    if (direction == 1) {
        // The equivalent inverse cipher: round keys reversed, InvMixColumns on the inner ones.
        for (int a = 0, b = 4 * rounds; a < b; a += 4, b -= 4)
            for (int j = 0; j < 4; ++j) std::swap(s->rk[a + j], s->rk[b + j]);
        for (int i = 4; i < 4 * rounds; ++i) s->rk[i] = invMixColumn(s->rk[i]);
    }
    s->rounds = rounds;
    return 0;
}

void SGCipher_AES_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction) {
    const auto* s = static_cast<const Schedule*>(engineArea);
    if (aesUsesHardware())
        hwBlock(output, input, s, direction == 1);
    else if (direction == 1)
        decryptTables(output, input, s);
    else
        encryptTables(output, input, s);
}

}  // extern "C"
