#include "SGP256.h"

#include <atomic>
#include <mutex>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace brindlow::crypto::p256 {

namespace {

using u128 = unsigned __int128;

// Keeps the optimiser from turning masks back into branches.
inline uint64_t barrier(uint64_t a) {
    asm volatile("" : "+r"(a));
    return a;
}

// All ones for bit 1, zero for bit 0.
inline uint64_t maskOf(uint64_t bit) {
    return 0 - barrier(bit);
}

// All ones when a is zero.
inline uint64_t zeroMask(uint64_t a) {
    return maskOf(((a | (0 - a)) >> 63) ^ 1);
}

inline uint64_t addCarry(Limbs& r, const Limbs& a, const Limbs& b) {
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = static_cast<u128>(a[i]) + b[i] + carry;
        r[i] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
    }
    return carry;
}

inline uint64_t subBorrow(Limbs& r, const Limbs& a, const Limbs& b) {
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
        r[i] = static_cast<uint64_t>(d);
        borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
    return borrow;
}

// mask ? a : b
inline Limbs select(uint64_t mask, const Limbs& a, const Limbs& b) {
    Limbs r;
    for (int i = 0; i < 4; ++i) r[i] = (a[i] & mask) | (b[i] & ~mask);
    return r;
}

constexpr Limbs kP = {0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0x0000000000000000ull,
                      0xFFFFFFFF00000001ull};
constexpr Limbs kN = {0xF3B9CAC2FC632551ull, 0xBCE6FAADA7179E84ull, 0xFFFFFFFFFFFFFFFFull,
                      0xFFFFFFFF00000000ull};
constexpr Limbs kGx = {0xF4A13945D898C296ull, 0x77037D812DEB33A0ull, 0xF8BCE6E563A440F2ull,
                       0x6B17D1F2E12C4247ull};
constexpr Limbs kGy = {0xCBB6406837BF51F5ull, 0x2BCE33576B315ECEull, 0x8EE7EB4A7C0F9E16ull,
                       0x4FE342E2FE1A7F9Bull};
// R mod p and R mod n (R = 2^256), and b R mod p: the Montgomery forms of 1 and of the curve's
// b = 5AC635D8 AA3A93E7 B3EBBD55 769886BC 651D06B0 CC53B0F6 3BCE3C3E 27D2604B.
constexpr Limbs kOneP = {0x0000000000000001ull, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull,
                         0x00000000FFFFFFFEull};
constexpr Limbs kOneN = {0x0C46353D039CDAAFull, 0x4319055258E8617Bull, 0x0000000000000000ull,
                         0x00000000FFFFFFFFull};
constexpr Limbs kBMont = {0xD89CDF6229C4BDDFull, 0xACF005CD78843090ull, 0xE5A220ABF7212ED6ull,
                          0xDC30061D04874834ull};

constexpr uint64_t negInverse(uint64_t m0) {
    // Newton's iteration for m^-1 mod 2^64; m itself is right in its low three bits.
    uint64_t inverse = m0;
    for (int i = 0; i < 6; ++i) inverse *= 2 - m0 * inverse;
    return 0 - inverse;
}
constexpr uint64_t kN0 = negInverse(kN[0]);
static_assert(negInverse(kP[0]) == 1 && kN0 == 0xCCD1C8AAEE00BC4Full);

inline uint64_t addWithCarry(uint64_t a, uint64_t b, unsigned char carry, unsigned char& out) {
#if defined(__x86_64__)
    unsigned long long r;
    out = _addcarry_u64(carry, a, b, &r);
    return r;
#else
    const u128 s = static_cast<u128>(a) + b + carry;
    out = static_cast<unsigned char>(s >> 64);
    return static_cast<uint64_t>(s);
#endif
}

inline uint64_t subWithBorrow(uint64_t a, uint64_t b, unsigned char borrow, unsigned char& out) {
#if defined(__x86_64__)
    unsigned long long r;
    out = _subborrow_u64(borrow, a, b, &r);
    return r;
#else
    const u128 d = static_cast<u128>(a) - b - borrow;
    out = static_cast<unsigned char>((d >> 64) & 1);
    return static_cast<uint64_t>(d);
#endif
}

// t (five limbs, below 2m) reduced below m: m subtracted unless that borrows past the fifth
// limb. Limb by limb in registers; a select through memory would cost more than the product.
inline Limbs finalSubtract(const uint64_t (&t)[5], const Limbs& m) {
    unsigned char borrow;
    const uint64_t s0 = subWithBorrow(t[0], m[0], 0, borrow);
    const uint64_t s1 = subWithBorrow(t[1], m[1], borrow, borrow);
    const uint64_t s2 = subWithBorrow(t[2], m[2], borrow, borrow);
    const uint64_t s3 = subWithBorrow(t[3], m[3], borrow, borrow);
    const uint64_t keep = t[4] - borrow;  // all ones exactly when t < m
    return Limbs{(t[0] & keep) | (s0 & ~keep), (t[1] & keep) | (s1 & ~keep),
                 (t[2] & keep) | (s2 & ~keep), (t[3] & keep) | (s3 & ~keep)};
}

inline uint64_t mulWide(uint64_t a, uint64_t b, uint64_t& high) {
    const u128 p = static_cast<u128>(a) * b;
    high = static_cast<uint64_t>(p >> 64);
    return static_cast<uint64_t>(p);
}

// Montgomery multiplication modulo p. As p = 2^256 - 2^224 + 2^192 + 2^96 - 1, -p^-1 is 1 mod
// 2^64, and adding q p to the accumulator clears its low limb, adds q 2^32 to the next, nothing
// to the third and q (2^64 - 2^32 + 1) to the fourth: one multiplication per reduction step.
inline Limbs fieldMulPortable(const Limbs& a, const Limbs& b) {
    uint64_t t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0, t5 = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t h0, h1, h2, h3;
        const uint64_t l0 = mulWide(a[i], b[0], h0), l1 = mulWide(a[i], b[1], h1);
        const uint64_t l2 = mulWide(a[i], b[2], h2), l3 = mulWide(a[i], b[3], h3);
        unsigned char c;
        const uint64_t r1 = addWithCarry(l1, h0, 0, c);
        const uint64_t r2 = addWithCarry(l2, h1, c, c);
        const uint64_t r3 = addWithCarry(l3, h2, c, c);
        const uint64_t r4 = h3 + c;
        t0 = addWithCarry(t0, l0, 0, c);
        t1 = addWithCarry(t1, r1, c, c);
        t2 = addWithCarry(t2, r2, c, c);
        t3 = addWithCarry(t3, r3, c, c);
        t4 = addWithCarry(t4, r4, c, c);
        t5 = c;
        const uint64_t q = t0;
        uint64_t qHigh;
        const uint64_t qLow = mulWide(q, kP[3], qHigh);
        t1 = addWithCarry(t1, q << 32, 0, c);
        t2 = addWithCarry(t2, q >> 32, c, c);
        t3 = addWithCarry(t3, qLow, c, c);
        t4 = addWithCarry(t4, qHigh, c, c);
        t5 += c;
        t0 = t1;
        t1 = t2;
        t2 = t3;
        t3 = t4;
        t4 = t5;
    }
    const uint64_t t[5] = {t0, t1, t2, t3, t4};
    return finalSubtract(t, kP);
}

#if defined(__x86_64__)
// The pieces of the multiplications below, on accumulators named by their asm operands. A row
// adds a times one limb of b (in rdx) into w0..w4, the carries of the low halves in CF (ADCX)
// and of the high halves in OF (ADOX), the carry out into w5; a reduction adds q m, which clears
// w0, and carries into w5.
#define SG_R(n) "%[" #n "]"
#define SG_ROW0(w0, w1, w2, w3, w4, w5) \
    "movq (%[b]), %%rdx\n\t"                          \
    "xorl %k[lo], %k[lo]\n\t"                         \
    "mulxq (%[a]), " SG_R(w0) ", " SG_R(w1) "\n\t"    \
    "mulxq 8(%[a]), %[lo], " SG_R(w2) "\n\t"          \
    "adcxq %[lo], " SG_R(w1) "\n\t"                   \
    "mulxq 16(%[a]), %[lo], " SG_R(w3) "\n\t"         \
    "adcxq %[lo], " SG_R(w2) "\n\t"                   \
    "mulxq 24(%[a]), %[lo], " SG_R(w4) "\n\t"         \
    "adcxq %[lo], " SG_R(w3) "\n\t"                   \
    "movl $0, %k[lo]\n\t"                             \
    "adcxq %[lo], " SG_R(w4) "\n\t"                   \
    "movl $0, %k[" #w5 "]\n\t"
#define SG_ROW_STEP(offset, low, high) \
    "mulxq " #offset "(%[a]), %[lo], %[hi]\n\t"       \
    "adcxq %[lo], " SG_R(low) "\n\t"                  \
    "adoxq %[hi], " SG_R(high) "\n\t"
#define SG_ROW(offset, w0, w1, w2, w3, w4, w5) \
    "movq " #offset "(%[b]), %%rdx\n\t"                                                    \
    "xorl %k[lo], %k[lo]\n\t" SG_ROW_STEP(0, w0, w1) SG_ROW_STEP(8, w1, w2)                \
        SG_ROW_STEP(16, w2, w3) SG_ROW_STEP(24, w3, w4) "movl $0, %k[" #w5 "]\n\t"         \
    "adcxq " SG_R(w5) ", " SG_R(w4) "\n\t"                                                 \
    "adoxq " SG_R(w5) ", " SG_R(w5) "\n\t"                                                 \
    "adcq $0, " SG_R(w5) "\n\t"
// Modulo p, with q = w0: q p = q 2^256 - q 2^224 + q 2^192 + q 2^96 - q, so w0 cancels, w1 and
// w2 take q 2^32, and w3 and w4 take q (2^64 - 2^32 + 1).
#define SG_REDUCE_P(w0, w1, w2, w3, w4, w5) \
    "movq " SG_R(w0) ", %%rdx\n\t"                    \
    "mulxq %[p3], %[lo], %[hi]\n\t"                   \
    "shlq $32, %%rdx\n\t"                             \
    "shrq $32, " SG_R(w0) "\n\t"                      \
    "addq %%rdx, " SG_R(w1) "\n\t"                    \
    "adcq " SG_R(w0) ", " SG_R(w2) "\n\t"             \
    "adcq %[lo], " SG_R(w3) "\n\t"                    \
    "adcq %[hi], " SG_R(w4) "\n\t"                    \
    "adcq $0, " SG_R(w5) "\n\t"
// The same on a four-limb window (the low half of a square): w0 takes the carry out and becomes
// the window's new top limb.
#define SG_REDUCE_P4(w0, w1, w2, w3) \
    "movq " SG_R(w0) ", %%rdx\n\t"                    \
    "mulxq %[p3], %[lo], %[hi]\n\t"                   \
    "shlq $32, %%rdx\n\t"                             \
    "shrq $32, " SG_R(w0) "\n\t"                      \
    "addq %%rdx, " SG_R(w1) "\n\t"                    \
    "adcq " SG_R(w0) ", " SG_R(w2) "\n\t"             \
    "adcq %[lo], " SG_R(w3) "\n\t"                    \
    "movl $0, %k[" #w0 "]\n\t"                        \
    "adcq %[hi], " SG_R(w0) "\n\t"
// Modulo a general m (four limbs in memory at %[m]), with q = w0 n0.
#define SG_REDUCE_N(w0, w1, w2, w3, w4, w5) \
    "movq " SG_R(w0) ", %%rdx\n\t"                                                         \
    "imulq %[n0], %%rdx\n\t"                                                               \
    "xorl %k[lo], %k[lo]\n\t"                                                              \
    "mulxq 0(%[m]), %[lo], %[hi]\n\t"                                                      \
    "adcxq %[lo], " SG_R(w0) "\n\t"                                                        \
    "adoxq %[hi], " SG_R(w1) "\n\t"                                                        \
    "mulxq 8(%[m]), %[lo], %[hi]\n\t"                                                      \
    "adcxq %[lo], " SG_R(w1) "\n\t"                                                        \
    "adoxq %[hi], " SG_R(w2) "\n\t"                                                        \
    "mulxq 16(%[m]), %[lo], %[hi]\n\t"                                                     \
    "adcxq %[lo], " SG_R(w2) "\n\t"                                                        \
    "adoxq %[hi], " SG_R(w3) "\n\t"                                                        \
    "mulxq 24(%[m]), %[lo], %[hi]\n\t"                                                     \
    "adcxq %[lo], " SG_R(w3) "\n\t"                                                        \
    "adoxq %[hi], " SG_R(w4) "\n\t"                                                        \
    "movl $0, %k[lo]\n\t"                                                                  \
    "adcxq %[lo], " SG_R(w4) "\n\t"                                                        \
    "adoxq %[lo], " SG_R(w5) "\n\t"                                                        \
    "adcq $0, " SG_R(w5) "\n\t"

// The same with the processor's MULX, ADCX and ADOX (BMI2 and ADX), which keep the carries of
// the low and the high halves of a row in two chains; run only where the processor has them.
constexpr uint64_t kP3 = kP[3];

inline Limbs fieldMulAdx(const Limbs& a, const Limbs& b) {
    uint64_t x0, x1, x2, x3, x4, x5, lo, hi;
    // clang-format off
    asm(SG_ROW0(x0, x1, x2, x3, x4, x5)     SG_REDUCE_P(x0, x1, x2, x3, x4, x5)
        SG_ROW(8, x1, x2, x3, x4, x5, x0)  SG_REDUCE_P(x1, x2, x3, x4, x5, x0)
        SG_ROW(16, x2, x3, x4, x5, x0, x1) SG_REDUCE_P(x2, x3, x4, x5, x0, x1)
        SG_ROW(24, x3, x4, x5, x0, x1, x2) SG_REDUCE_P(x3, x4, x5, x0, x1, x2)
        : [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), [x4] "=&r"(x4),
          [x5] "=&r"(x5), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a] "r"(a.data()), [b] "r"(b.data()), [p3] "m"(kP3), "m"(a), "m"(b)
        : "rdx", "cc");
    // clang-format on
    const uint64_t t[5] = {x4, x5, x0, x1, x2};
    return finalSubtract(t, kP);
}

// Squaring modulo p: the six cross products once, doubled, plus the four squares, then the
// low half reduced as above and the high half added.
inline Limbs fieldSqrAdx(const Limbs& a) {
    uint64_t t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
    asm("movq 0(%[a]), %%rdx\n\t"
        "mulxq 8(%[a]), %[t1], %[t2]\n\t"
        "mulxq 16(%[a]), %[lo], %[t3]\n\t"
        "addq %[lo], %[t2]\n\t"
        "mulxq 24(%[a]), %[lo], %[t4]\n\t"
        "adcq %[lo], %[t3]\n\t"
        "adcq $0, %[t4]\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "mulxq 16(%[a]), %[lo], %[hi]\n\t"
        "mulxq 24(%[a]), %[t0], %[t5]\n\t"
        "addq %[lo], %[t3]\n\t"
        "adcq %[hi], %[t4]\n\t"
        "adcq $0, %[t5]\n\t"
        "addq %[t0], %[t4]\n\t"
        "adcq $0, %[t5]\n\t"
        "movq 16(%[a]), %%rdx\n\t"
        "mulxq 24(%[a]), %[lo], %[t6]\n\t"
        "addq %[lo], %[t5]\n\t"
        "adcq $0, %[t6]\n\t"
        "movl $0, %k[t7]\n\t"
        "addq %[t1], %[t1]\n\t"
        "adcq %[t2], %[t2]\n\t"
        "adcq %[t3], %[t3]\n\t"
        "adcq %[t4], %[t4]\n\t"
        "adcq %[t5], %[t5]\n\t"
        "adcq %[t6], %[t6]\n\t"
        "adcq $0, %[t7]\n\t"
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[t0], %[hi]\n\t"
        "addq %[hi], %[t1]\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcq %[lo], %[t2]\n\t"
        "adcq %[hi], %[t3]\n\t"
        "movq 16(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcq %[lo], %[t4]\n\t"
        "adcq %[hi], %[t5]\n\t"
        "movq 24(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcq %[lo], %[t6]\n\t"
        "adcq %[hi], %[t7]\n\t"
        SG_REDUCE_P4(t0, t1, t2, t3) SG_REDUCE_P4(t1, t2, t3, t0)
        SG_REDUCE_P4(t2, t3, t0, t1) SG_REDUCE_P4(t3, t0, t1, t2)
        "addq %[t4], %[t0]\n\t"
        "adcq %[t5], %[t1]\n\t"
        "adcq %[t6], %[t2]\n\t"
        "adcq %[t7], %[t3]\n\t"
        "movl $0, %k[lo]\n\t"
        "adcq $0, %[lo]\n\t"
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [t5] "=&r"(t5), [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a] "r"(a.data()), [p3] "m"(kP3), "m"(a)
        : "rdx", "cc");
    const uint64_t t[5] = {t0, t1, t2, t3, lo};
    return finalSubtract(t, kP);
}

// Montgomery multiplication modulo the group order in the same way (the order has no special
// form: q = t n0 and q n take a row of multiplications).
constexpr uint64_t kN0Value = kN0;

inline Limbs orderMulAdx(const Limbs& a, const Limbs& b) {
    uint64_t x0, x1, x2, x3, x4, x5, lo, hi;
    // clang-format off
    asm(SG_ROW0(x0, x1, x2, x3, x4, x5)     SG_REDUCE_N(x0, x1, x2, x3, x4, x5)
        SG_ROW(8, x1, x2, x3, x4, x5, x0)  SG_REDUCE_N(x1, x2, x3, x4, x5, x0)
        SG_ROW(16, x2, x3, x4, x5, x0, x1) SG_REDUCE_N(x2, x3, x4, x5, x0, x1)
        SG_ROW(24, x3, x4, x5, x0, x1, x2) SG_REDUCE_N(x3, x4, x5, x0, x1, x2)
        : [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), [x4] "=&r"(x4),
          [x5] "=&r"(x5), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a] "r"(a.data()), [b] "r"(b.data()), [m] "r"(kN.data()), [n0] "m"(kN0Value), "m"(a),
          "m"(b), "m"(kN)
        : "rdx", "cc");
    // clang-format on
    const uint64_t t[5] = {x4, x5, x0, x1, x2};
    return finalSubtract(t, kN);
}

bool detectAdx() {
    unsigned a, b, c, d;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_BMI2) && (b & bit_ADX);
}
#else
bool detectAdx() {
    return false;
}
#endif

std::atomic<bool> gAdx{detectAdx()};

inline Limbs fieldMul(const Limbs& a, const Limbs& b) {
#if defined(__x86_64__)
    if (gAdx.load(std::memory_order_relaxed)) return fieldMulAdx(a, b);
#endif
    return fieldMulPortable(a, b);
}

inline Limbs fieldSqr(const Limbs& a) {
#if defined(__x86_64__)
    if (gAdx.load(std::memory_order_relaxed)) return fieldSqrAdx(a);
#endif
    return fieldMulPortable(a, a);
}

// Montgomery multiplication modulo m in general (the group order).
inline Limbs montMul(const Limbs& a, const Limbs& b, const Limbs& m, uint64_t n0) {
    uint64_t t[6] = {};
    for (int i = 0; i < 4; ++i) {
        u128 c = 0;
        for (int j = 0; j < 4; ++j) {
            c = static_cast<u128>(a[i]) * b[j] + t[j] + static_cast<uint64_t>(c >> 64);
            t[j] = static_cast<uint64_t>(c);
        }
        c = static_cast<u128>(t[4]) + static_cast<uint64_t>(c >> 64);
        t[4] = static_cast<uint64_t>(c);
        t[5] = static_cast<uint64_t>(c >> 64);
        const uint64_t q = t[0] * n0;
        c = static_cast<u128>(q) * m[0] + t[0];
        for (int j = 1; j < 4; ++j) {
            c = static_cast<u128>(q) * m[j] + t[j] + static_cast<uint64_t>(c >> 64);
            t[j - 1] = static_cast<uint64_t>(c);
        }
        c = static_cast<u128>(t[4]) + static_cast<uint64_t>(c >> 64);
        t[3] = static_cast<uint64_t>(c);
        t[4] = t[5] + static_cast<uint64_t>(c >> 64);
    }
    const uint64_t r[5] = {t[0], t[1], t[2], t[3], t[4]};
    return finalSubtract(r, m);
}

inline Limbs orderMul(const Limbs& a, const Limbs& b) {
#if defined(__x86_64__)
    if (gAdx.load(std::memory_order_relaxed)) return orderMulAdx(a, b);
#endif
    return montMul(a, b, kN, kN0);
}

inline Limbs modAdd(const Limbs& a, const Limbs& b, const Limbs& m) {
    Limbs r, s;
    const uint64_t carry = addCarry(r, a, b);
    const uint64_t borrow = subBorrow(s, r, m);
    return select(maskOf((carry ^ 1) & borrow), r, s);
}

inline Limbs modSub(const Limbs& a, const Limbs& b, const Limbs& m) {
    Limbs r;
    const uint64_t borrow = subBorrow(r, a, b);
    const Limbs correction = select(maskOf(borrow), m, Limbs{});
    addCarry(r, r, correction);
    return r;
}

// Field addition and subtraction limb by limb in registers, the correction masked.
inline Limbs fieldAdd(const Limbs& a, const Limbs& b) {
    unsigned char c, d;
    const uint64_t r0 = addWithCarry(a[0], b[0], 0, c);
    const uint64_t r1 = addWithCarry(a[1], b[1], c, c);
    const uint64_t r2 = addWithCarry(a[2], b[2], c, c);
    const uint64_t r3 = addWithCarry(a[3], b[3], c, c);
    const uint64_t s0 = subWithBorrow(r0, kP[0], 0, d);
    const uint64_t s1 = subWithBorrow(r1, kP[1], d, d);
    const uint64_t s2 = subWithBorrow(r2, kP[2], d, d);
    const uint64_t s3 = subWithBorrow(r3, kP[3], d, d);
    // Keep the sum when it is below p: no carry out and a borrow from the subtraction.
    const uint64_t keep = maskOf((c ^ 1u) & d);
    return Limbs{(r0 & keep) | (s0 & ~keep), (r1 & keep) | (s1 & ~keep), (r2 & keep) | (s2 & ~keep),
                 (r3 & keep) | (s3 & ~keep)};
}

inline Limbs fieldSub(const Limbs& a, const Limbs& b) {
    unsigned char d, c;
    const uint64_t r0 = subWithBorrow(a[0], b[0], 0, d);
    const uint64_t r1 = subWithBorrow(a[1], b[1], d, d);
    const uint64_t r2 = subWithBorrow(a[2], b[2], d, d);
    const uint64_t r3 = subWithBorrow(a[3], b[3], d, d);
    const uint64_t mask = maskOf(d);  // add p back after a borrow
    const uint64_t t0 = addWithCarry(r0, kP[0] & mask, 0, c);
    const uint64_t t1 = addWithCarry(r1, kP[1] & mask, c, c);
    const uint64_t t2 = addWithCarry(r2, kP[2] & mask, c, c);
    const uint64_t t3 = addWithCarry(r3, kP[3] & mask, c, c);
    return Limbs{t0, t1, t2, t3};
}

// a^(2^n) modulo p.
inline Limbs fieldSquares(Limbs a, int n) {
    for (int i = 0; i < n; ++i) a = fieldSqr(a);
    return a;
}

// a^(p-2) by an addition chain of 255 squarings and 12 multiplications; xk is a^(2^k - 1).
// p - 2 = ffffffff 00000001 00000000 00000000 00000000 ffffffff ffffffff fffffffd.
Limbs fieldInvert(const Limbs& a) {
    const Limbs x2 = fieldMul(fieldSquares(a, 1), a);
    const Limbs x3 = fieldMul(fieldSquares(x2, 1), a);
    const Limbs x6 = fieldMul(fieldSquares(x3, 3), x3);
    const Limbs x12 = fieldMul(fieldSquares(x6, 6), x6);
    const Limbs x15 = fieldMul(fieldSquares(x12, 3), x3);
    const Limbs x30 = fieldMul(fieldSquares(x15, 15), x15);
    const Limbs x32 = fieldMul(fieldSquares(x30, 2), x2);
    Limbs t = fieldMul(fieldSquares(x32, 32), a);  // the 32 ones, then 31 zeros and a one
    t = fieldSquares(t, 96);                       // 96 zeros
    t = fieldMul(fieldSquares(t, 32), x32);        // 64 ones
    t = fieldMul(fieldSquares(t, 32), x32);
    t = fieldMul(fieldSquares(t, 30), x30);  // 30 ones, a zero and a one
    return fieldMul(fieldSquares(t, 2), a);
}

// a^(n-2) modulo n over fixed 4-bit windows; the exponent is public, so its digits index the
// table directly.
Limbs orderInvert(const Limbs& a) {
    Limbs powers[16];
    powers[0] = kOneN;
    powers[1] = a;
    for (int i = 2; i < 16; ++i) powers[i] = orderMul(powers[i - 1], a);
    Limbs e;
    subBorrow(e, kN, Limbs{2, 0, 0, 0});
    Limbs r = powers[e[3] >> 60];
    for (int window = 62; window >= 0; --window) {
        for (int i = 0; i < 4; ++i) r = orderMul(r, r);
        r = orderMul(r, powers[(e[window / 16] >> (4 * (window % 16))) & 15]);
    }
    for (Limbs& p : powers) p = Limbs{};
    asm volatile("" : : "r"(powers) : "memory");
    return r;
}

// Constant-initialised, so that code run by other static initialisers finds them ready.
constexpr Modulus gField = {
    kP,
    negInverse(kP[0]),
    kOneP,
    {0x0000000000000003ull, 0xFFFFFFFBFFFFFFFFull, 0xFFFFFFFFFFFFFFFEull, 0x00000004FFFFFFFDull}};
constexpr Modulus gOrder = {
    kN,
    kN0,
    kOneN,
    {0x83244C95BE79EEA2ull, 0x4699799C49BD6FA6ull, 0x2845B2392B6BEC59ull, 0x66E12D94F3D95620ull}};

struct Affine {
    Limbs x, y;
};

// The second half of the complete addition (Renes, Costello and Batina, 2016, algorithm 4, for
// a = -3), from t0 = X1 X2, t1 = Y1 Y2, t2 = Z1 Z2, t3 = X1 Y2 + X2 Y1, t4 = Y1 Z2 + Y2 Z1 and
// y3 = X1 Z2 + X2 Z1.
Point completeSum(Limbs t0, Limbs t1, Limbs t2, const Limbs& t3, const Limbs& t4, Limbs y3) {
    const Limbs& b = kBMont;
    Limbs z3 = fieldMul(b, t2);
    Limbs x3 = fieldSub(y3, z3);
    z3 = fieldAdd(x3, x3);
    x3 = fieldAdd(x3, z3);
    z3 = fieldSub(t1, x3);
    x3 = fieldAdd(t1, x3);
    y3 = fieldMul(b, y3);
    t1 = fieldAdd(t2, t2);
    t2 = fieldAdd(t1, t2);
    y3 = fieldSub(y3, t2);
    y3 = fieldSub(y3, t0);
    t1 = fieldAdd(y3, y3);
    y3 = fieldAdd(t1, y3);
    t1 = fieldAdd(t0, t0);
    t0 = fieldAdd(t1, t0);
    t0 = fieldSub(t0, t2);
    t1 = fieldMul(t4, y3);
    t2 = fieldMul(t0, y3);
    y3 = fieldMul(x3, z3);
    y3 = fieldAdd(y3, t2);
    x3 = fieldMul(x3, t3);
    x3 = fieldSub(x3, t1);
    z3 = fieldMul(z3, t4);
    t1 = fieldMul(t3, t0);
    z3 = fieldAdd(z3, t1);
    return Point{x3, y3, z3};
}

// Complete mixed addition: P + (x, y) for an affine point of the curve, never the point at
// infinity; the complete addition with Z2 = 1, which saves a multiplication.
Point addAffine(const Point& P, const Limbs& qx, const Limbs& qy) {
    const Limbs t0 = fieldMul(P.x, qx);
    const Limbs t1 = fieldMul(P.y, qy);
    const Limbs t3 = fieldSub(fieldMul(fieldAdd(P.x, P.y), fieldAdd(qx, qy)), fieldAdd(t0, t1));
    const Limbs t4 = fieldAdd(fieldMul(qy, P.z), P.y);
    const Limbs y3 = fieldAdd(fieldMul(qx, P.z), P.x);
    return completeSum(t0, t1, P.z, t3, t4, y3);
}

// The generator's multiples for the fixed-base method: window w holds j 16^w G for j = 1 to 15,
// affine (none of them is the point at infinity, as 15 16^63 < n).
struct BaseTable {
    Affine entry[64][15];
};

BaseTable gBaseTable;
std::once_flag gBaseTableOnce;

// Affine forms of the points, with one inversion for all of them.
void normalize(Affine* out, const Point* points, int count) {
    Limbs prefix[15];
    prefix[0] = points[0].z;
    for (int i = 1; i < count; ++i) prefix[i] = fieldMul(prefix[i - 1], points[i].z);
    Limbs inverse = fieldInvert(prefix[count - 1]);
    for (int i = count - 1; i >= 0; --i) {
        const Limbs zInverse = i > 0 ? fieldMul(inverse, prefix[i - 1]) : inverse;
        if (i > 0) inverse = fieldMul(inverse, points[i].z);
        out[i].x = fieldMul(points[i].x, zInverse);
        out[i].y = fieldMul(points[i].y, zInverse);
    }
}

const BaseTable& baseTable() {
    std::call_once(gBaseTableOnce, [] {
        Point base = generator();
        Point row[15];
        for (int w = 0; w < 64; ++w) {
            row[0] = base;
            for (int j = 1; j < 15; ++j) row[j] = add(row[j - 1], base);
            base = add(row[14], base);  // 16 times the window's base
            normalize(gBaseTable.entry[w], row, 15);
        }
    });
    return gBaseTable;
}

// Points in Jacobian coordinates (x = X/Z^2, y = Y/Z^3, Montgomery form, Z = 0 for the point at
// infinity), for verification only: these formulas are cheaper than the complete ones but
// branch on their inputs, which are public there.
struct Jacobian {
    Limbs x, y, z;
};

Jacobian jacobianOf(const Point& p) {
    // (X : Y : Z) homogeneous is (X Z : Y Z^2 : Z) Jacobian.
    const Limbs z2 = fieldSqr(p.z);
    return Jacobian{fieldMul(p.x, p.z), fieldMul(p.y, z2), p.z};
}

// 2P for a = -3 (3 multiplications and 5 squarings); the point at infinity stays there.
Jacobian jacobianDouble(const Jacobian& p) {
    const Limbs delta = fieldSqr(p.z);
    const Limbs gamma = fieldSqr(p.y);
    const Limbs beta = fieldMul(p.x, gamma);
    Limbs alpha = fieldMul(fieldSub(p.x, delta), fieldAdd(p.x, delta));
    alpha = fieldAdd(fieldAdd(alpha, alpha), alpha);
    const Limbs beta2 = fieldAdd(beta, beta), beta4 = fieldAdd(beta2, beta2);
    const Limbs x3 = fieldSub(fieldSqr(alpha), fieldAdd(beta4, beta4));
    Limbs z3 = fieldAdd(p.y, p.z);
    z3 = fieldSub(fieldSub(fieldSqr(z3), gamma), delta);
    Limbs gamma2 = fieldSqr(gamma);
    gamma2 = fieldAdd(gamma2, gamma2);
    gamma2 = fieldAdd(gamma2, gamma2);
    gamma2 = fieldAdd(gamma2, gamma2);
    const Limbs y3 = fieldSub(fieldMul(alpha, fieldSub(beta4, x3)), gamma2);
    return Jacobian{x3, y3, z3};
}

// P + (x, y) for an affine point (7 multiplications and 4 squarings), with the cases the formula
// does not cover: P at infinity, P equal to the point and P its negative.
Jacobian jacobianAddAffine(const Jacobian& p, const Limbs& x, const Limbs& y) {
    if (isZero(p.z)) return Jacobian{x, y, kOneP};
    const Limbs z1z1 = fieldSqr(p.z);
    const Limbs u2 = fieldMul(x, z1z1);
    const Limbs s2 = fieldMul(fieldMul(y, p.z), z1z1);
    const Limbs h = fieldSub(u2, p.x);
    Limbs r = fieldSub(s2, p.y);
    if (isZero(h)) {
        if (isZero(r)) return jacobianDouble(Jacobian{x, y, kOneP});
        return Jacobian{Limbs{}, kOneP, Limbs{}};
    }
    const Limbs hh = fieldSqr(h);
    const Limbs hh2 = fieldAdd(hh, hh), i = fieldAdd(hh2, hh2);
    const Limbs j = fieldMul(h, i);
    r = fieldAdd(r, r);
    const Limbs v = fieldMul(p.x, i);
    const Limbs x3 = fieldSub(fieldSub(fieldSqr(r), j), fieldAdd(v, v));
    const Limbs y1j = fieldMul(p.y, j);
    const Limbs y3 = fieldSub(fieldMul(r, fieldSub(v, x3)), fieldAdd(y1j, y1j));
    Limbs z3 = fieldAdd(p.z, h);
    z3 = fieldSub(fieldSub(fieldSqr(z3), z1z1), hh);
    return Jacobian{x3, y3, z3};
}

// P + Q (11 multiplications and 5 squarings), with the same cases covered.
Jacobian jacobianAdd(const Jacobian& p, const Jacobian& q) {
    if (isZero(p.z)) return q;
    if (isZero(q.z)) return p;
    const Limbs z1z1 = fieldSqr(p.z), z2z2 = fieldSqr(q.z);
    const Limbs u1 = fieldMul(p.x, z2z2), u2 = fieldMul(q.x, z1z1);
    const Limbs s1 = fieldMul(fieldMul(p.y, q.z), z2z2);
    const Limbs s2 = fieldMul(fieldMul(q.y, p.z), z1z1);
    const Limbs h = fieldSub(u2, u1);
    Limbs r = fieldSub(s2, s1);
    if (isZero(h)) {
        if (isZero(r)) return jacobianDouble(p);
        return Jacobian{Limbs{}, kOneP, Limbs{}};
    }
    const Limbs h2 = fieldAdd(h, h);
    const Limbs i = fieldSqr(h2);
    const Limbs j = fieldMul(h, i);
    r = fieldAdd(r, r);
    const Limbs v = fieldMul(u1, i);
    const Limbs x3 = fieldSub(fieldSub(fieldSqr(r), j), fieldAdd(v, v));
    const Limbs s1j = fieldMul(s1, j);
    const Limbs y3 = fieldSub(fieldMul(r, fieldSub(v, x3)), fieldAdd(s1j, s1j));
    Limbs z3 = fieldAdd(p.z, q.z);
    z3 = fieldMul(fieldSub(fieldSub(fieldSqr(z3), z1z1), z2z2), h);
    return Jacobian{x3, y3, z3};
}

// The width-5 non-adjacent form of k: digits odd in [-15, 15] or 0, least significant first;
// returns the number of digits (at most 257).
int nafDigits(int8_t (&digits)[258], const Limbs& k) {
    uint64_t v[5] = {k[0], k[1], k[2], k[3], 0};
    int count = 0;
    while (v[0] | v[1] | v[2] | v[3] | v[4]) {
        int d = 0;
        if (v[0] & 1) {
            d = static_cast<int>(v[0] & 31);
            if (d >= 16) d -= 32;
            // v -= d, which clears the low five bits
            if (d > 0) {
                uint64_t borrow = static_cast<uint64_t>(d);
                for (uint64_t& limb : v) {
                    const uint64_t before = limb;
                    limb -= borrow;
                    borrow = limb > before ? 1 : 0;
                }
            } else {
                uint64_t carry = static_cast<uint64_t>(-d);
                for (uint64_t& limb : v) {
                    limb += carry;
                    carry = limb < carry ? 1 : 0;
                }
            }
        }
        digits[count++] = static_cast<int8_t>(d);
        for (int i = 0; i < 4; ++i) v[i] = (v[i] >> 1) | (v[i + 1] << 63);
        v[4] >>= 1;
    }
    return count;
}

}  // namespace

bool usesAdx() {
    return gAdx.load(std::memory_order_relaxed);
}

void setAdx(bool enabled) {
    gAdx.store(enabled && detectAdx(), std::memory_order_relaxed);
}

const Modulus& field() {
    return gField;
}

const Modulus& order() {
    return gOrder;
}

Limbs fromBytes(const unsigned char* bytes) {
    Limbs r{};
    for (int i = 0; i < 32; ++i) r[3 - i / 8] = (r[3 - i / 8] << 8) | bytes[i];
    return r;
}

void toBytes(unsigned char* bytes, const Limbs& a) {
    for (int i = 0; i < 32; ++i)
        bytes[i] = static_cast<unsigned char>(a[3 - i / 8] >> (56 - 8 * (i % 8)));
}

bool lessThan(const Limbs& a, const Limbs& m) {
    Limbs scratch;
    return subBorrow(scratch, a, m) == 1;
}

Limbs reduceOnce(const Limbs& a, const Modulus& m) {
    Limbs s;
    const uint64_t borrow = subBorrow(s, a, m.m);
    return select(maskOf(borrow), a, s);
}

bool isZero(const Limbs& a) {
    return (a[0] | a[1] | a[2] | a[3]) == 0;
}

Limbs mul(const Limbs& a, const Limbs& b, const Modulus& M) {
    if (&M == &gField) return fieldMul(a, b);
    if (&M == &gOrder) return orderMul(a, b);
    return montMul(a, b, M.m, M.n0);
}

Limbs add(const Limbs& a, const Limbs& b, const Modulus& M) {
    return modAdd(a, b, M.m);
}

Limbs sub(const Limbs& a, const Limbs& b, const Modulus& M) {
    return modSub(a, b, M.m);
}

Limbs toMont(const Limbs& a, const Modulus& m) {
    return mul(a, m.rr, m);
}

Limbs fromMont(const Limbs& a, const Modulus& m) {
    return mul(a, Limbs{1, 0, 0, 0}, m);
}

Limbs invert(const Limbs& a, const Modulus& M) {
    if (&M == &gField) return fieldInvert(a);
    if (&M == &gOrder) return orderInvert(a);
    // The exponent m - 2 is public, so its bits may steer the loop.
    Limbs e;
    subBorrow(e, M.m, Limbs{2, 0, 0, 0});
    Limbs r = M.one;
    for (int bit = 255; bit >= 0; --bit) {
        r = mul(r, r, M);
        if ((e[bit / 64] >> (bit % 64)) & 1) r = mul(r, a, M);
    }
    return r;
}

Point infinity() {
    return Point{Limbs{}, kOneP, Limbs{}};
}

Point generator() {
    static const Point g = [] {
        Point p{};
        fromAffine(p, kGx, kGy);
        return p;
    }();
    return g;
}

bool fromAffine(Point& out, const Limbs& x, const Limbs& y) {
    if (!lessThan(x, kP) || !lessThan(y, kP)) return false;
    const Limbs xm = toMont(x, gField), ym = toMont(y, gField);
    // y^2 = x^3 - 3x + b
    Limbs rhs = fieldMul(fieldSqr(xm), xm);
    rhs = fieldSub(rhs, fieldAdd(fieldAdd(xm, xm), xm));
    rhs = fieldAdd(rhs, kBMont);
    const Limbs lhs = fieldSqr(ym);
    if (lhs != rhs) return false;
    out = Point{xm, ym, kOneP};
    return true;
}

bool isInfinity(const Point& a) {
    return isZero(a.z);
}

bool toAffine(Limbs& x, Limbs& y, const Point& a) {
    if (isInfinity(a)) return false;
    const Limbs zInverse = fieldInvert(a.z);
    x = fromMont(fieldMul(a.x, zInverse), gField);
    y = fromMont(fieldMul(a.y, zInverse), gField);
    return true;
}

Point negate(const Point& a) {
    return Point{a.x, fieldSub(Limbs{}, a.y), a.z};
}

// Complete addition: the same steps for every pair of points.
Point add(const Point& P, const Point& Q) {
    const Limbs t0 = fieldMul(P.x, Q.x);
    const Limbs t1 = fieldMul(P.y, Q.y);
    const Limbs t2 = fieldMul(P.z, Q.z);
    const Limbs t3 = fieldSub(fieldMul(fieldAdd(P.x, P.y), fieldAdd(Q.x, Q.y)), fieldAdd(t0, t1));
    const Limbs t4 = fieldSub(fieldMul(fieldAdd(P.y, P.z), fieldAdd(Q.y, Q.z)), fieldAdd(t1, t2));
    const Limbs y3 = fieldSub(fieldMul(fieldAdd(P.x, P.z), fieldAdd(Q.x, Q.z)), fieldAdd(t0, t2));
    return completeSum(t0, t1, t2, t3, t4, y3);
}

// Complete doubling for a = -3 from the same family (algorithm 6): 2P for every P, the point at
// infinity included, in 11 multiplications instead of the addition's 14.
Point dbl(const Point& P) {
    const Limbs& b = kBMont;
    Limbs t0 = fieldSqr(P.x);
    Limbs t1 = fieldSqr(P.y);
    Limbs t2 = fieldSqr(P.z);
    Limbs t3 = fieldMul(P.x, P.y);
    t3 = fieldAdd(t3, t3);
    Limbs z3 = fieldMul(P.x, P.z);
    z3 = fieldAdd(z3, z3);
    Limbs y3 = fieldMul(b, t2);
    y3 = fieldSub(y3, z3);
    Limbs x3 = fieldAdd(y3, y3);
    y3 = fieldAdd(x3, y3);
    x3 = fieldSub(t1, y3);
    y3 = fieldAdd(t1, y3);
    y3 = fieldMul(x3, y3);
    x3 = fieldMul(x3, t3);
    t3 = fieldAdd(t2, t2);
    t2 = fieldAdd(t2, t3);
    z3 = fieldMul(b, z3);
    z3 = fieldSub(z3, t2);
    z3 = fieldSub(z3, t0);
    t3 = fieldAdd(z3, z3);
    z3 = fieldAdd(z3, t3);
    t3 = fieldAdd(t0, t0);
    t0 = fieldAdd(t3, t0);
    t0 = fieldSub(t0, t2);
    t0 = fieldMul(t0, z3);
    y3 = fieldAdd(y3, t0);
    t0 = fieldMul(P.y, P.z);
    t0 = fieldAdd(t0, t0);
    z3 = fieldMul(t0, z3);
    x3 = fieldSub(x3, z3);
    z3 = fieldMul(t0, t1);
    z3 = fieldAdd(z3, z3);
    z3 = fieldAdd(z3, z3);
    return Point{x3, y3, z3};
}

Point multiply(const Limbs& k, const Point& a) {
    Point table[16];
    table[0] = infinity();
    table[1] = a;
    for (int i = 2; i < 16; ++i) table[i] = add(table[i - 1], a);
    Point q = infinity();
    for (int window = 63; window >= 0; --window) {
        for (int i = 0; i < 4; ++i) q = dbl(q);
        const uint64_t digit = (k[window / 16] >> (4 * (window % 16))) & 15;
        Point t{};
        for (uint64_t i = 0; i < 16; ++i) {
            const uint64_t mask = zeroMask(i ^ digit);
            t.x = select(mask, table[i].x, t.x);
            t.y = select(mask, table[i].y, t.y);
            t.z = select(mask, table[i].z, t.z);
        }
        q = add(q, t);
    }
    return q;
}

Point multiplyBase(const Limbs& k) {
    const BaseTable& table = baseTable();
    Point q = infinity();
    for (int window = 0; window < 64; ++window) {
        const uint64_t digit = (k[window / 16] >> (4 * (window % 16))) & 15;
        // Every entry is read; the one for the digit is kept (none for digit 0).
        Affine t{};
        for (uint64_t j = 1; j <= 15; ++j) {
            const uint64_t mask = zeroMask(j ^ digit);
            t.x = select(mask, table.entry[window][j - 1].x, t.x);
            t.y = select(mask, table.entry[window][j - 1].y, t.y);
        }
        // The sum is computed for digit 0 too, and then not taken.
        const Point sum = addAffine(q, t.x, t.y);
        const uint64_t keep = zeroMask(digit);
        q.x = select(keep, q.x, sum.x);
        q.y = select(keep, q.y, sum.y);
        q.z = select(keep, q.z, sum.z);
    }
    return q;
}

Point multiplyPublic(const Limbs& u1, const Limbs& u2, const Point& q) {
    int8_t d1[258], d2[258];
    const int n1 = nafDigits(d1, u1), n2 = nafDigits(d2, u2);
    // Odd multiples 1, 3, ..., 15: the generator's from the first window of the fixed-base
    // table, Q's computed here.
    const BaseTable& table = baseTable();
    Jacobian qMultiples[8];
    qMultiples[0] = jacobianOf(q);
    const Jacobian q2 = jacobianDouble(qMultiples[0]);
    for (int i = 1; i < 8; ++i) qMultiples[i] = jacobianAdd(qMultiples[i - 1], q2);
    Jacobian r{Limbs{}, kOneP, Limbs{}};
    for (int i = (n1 > n2 ? n1 : n2) - 1; i >= 0; --i) {
        r = jacobianDouble(r);
        const int g = i < n1 ? d1[i] : 0;
        if (g != 0) {
            const Affine& a = table.entry[0][(g > 0 ? g : -g) - 1];
            r = jacobianAddAffine(r, a.x, g > 0 ? a.y : fieldSub(Limbs{}, a.y));
        }
        const int h = i < n2 ? d2[i] : 0;
        if (h != 0) {
            Jacobian m = qMultiples[((h > 0 ? h : -h) - 1) / 2];
            if (h < 0) m.y = fieldSub(Limbs{}, m.y);
            r = jacobianAdd(r, m);
        }
    }
    // (X : Y : Z) in Jacobian coordinates is (X Z : Y : Z^3) in homogeneous ones.
    if (isZero(r.z)) return infinity();
    const Limbs z2 = fieldSqr(r.z);
    return Point{fieldMul(r.x, r.z), r.y, fieldMul(z2, r.z)};
}

bool affineXModOrderIs(const Point& a, const Limbs& r) {
    if (isInfinity(a) || !lessThan(r, kN)) return false;
    // x < p < 2n, so x mod n = r when x is r or r + n; x = X / Z is compared as X = x Z.
    if (fieldMul(toMont(r, gField), a.z) == a.x) return true;
    Limbs rn;
    if (addCarry(rn, r, kN) || !lessThan(rn, kP)) return false;
    return fieldMul(toMont(rn, gField), a.z) == a.x;
}

}  // namespace brindlow::crypto::p256
