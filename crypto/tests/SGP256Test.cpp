// The P-256 core below ECDSA: the field and order arithmetic on both of its paths (the
// processor's BMI2/ADX instructions and the portable code) against OpenSSL's big integers, the
// doubling and the fixed-base and public double multiplications against the generic
// constant-time multiplication, and the x-coordinate test of verification.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SGP256.h"

namespace {

namespace p256 = brindlow::crypto::p256;
using p256::Limbs;
using p256::Point;

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bnOf(const Limbs& a) {
    unsigned char bytes[32];
    p256::toBytes(bytes, a);
    return Bn(BN_bin2bn(bytes, 32, nullptr));
}

Limbs limbsOf(const BIGNUM* b) {
    unsigned char bytes[32];
    BN_bn2binpad(b, bytes, 32);
    return p256::fromBytes(bytes);
}

Limbs limbsOfHex(const char* hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex);
    Bn owned(b);
    return limbsOf(b);
}

std::string hexOf(const BIGNUM* b) {
    char* text = BN_bn2hex(b);
    std::string s = text;
    OPENSSL_free(text);
    return s;
}

std::string hexOf(const Limbs& a) {
    return hexOf(bnOf(a).get());
}

// The affine coordinates as text, empty for the point at infinity.
std::string affine(const Point& a) {
    Limbs x, y;
    if (!p256::toAffine(x, y, a)) return "";
    unsigned char bytes[64];
    p256::toBytes(bytes, x);
    p256::toBytes(bytes + 32, y);
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// Runs the body once on each path the processor allows.
class P256Paths : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        p256::setAdx(GetParam());
        if (GetParam() && !p256::usesAdx()) GTEST_SKIP() << "no BMI2/ADX on this processor";
    }
    void TearDown() override { p256::setAdx(true); }

    Limbs random(const Limbs& below) {
        for (;;) {
            Limbs r = {rng_(), rng_(), rng_(), rng_()};
            if (p256::lessThan(r, below)) return r;
        }
    }
    Point randomPoint() { return p256::multiply(random(p256::order().m), p256::generator()); }
    std::mt19937_64 rng_{20240611};
};

INSTANTIATE_TEST_SUITE_P(Paths, P256Paths, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Adx" : "Portable"; });

TEST_P(P256Paths, FieldAndOrderArithmeticAgreeWithBigIntegers) {
    BN_CTX* ctx = BN_CTX_new();
    for (const p256::Modulus* M : {&p256::field(), &p256::order()}) {
        const Bn m = bnOf(M->m);
        Limbs mMinus1 = M->m;
        mMinus1[0] -= 1;
        std::vector<Limbs> values = {Limbs{0, 0, 0, 0}, Limbs{1, 0, 0, 0}, mMinus1,
                                     Limbs{0, 0, 0, 1ull << 63}, Limbs{~0ull, ~0ull, 0, 0}};
        for (int i = 0; i < 200; ++i) values.push_back(random(M->m));
        // The stored Montgomery constants.
        const Bn one(BN_new()), r(BN_new()), rr(BN_new());
        BN_one(one.get());
        BN_lshift(r.get(), one.get(), 256);
        BN_mod(r.get(), r.get(), m.get(), ctx);
        BN_mod_sqr(rr.get(), r.get(), m.get(), ctx);
        EXPECT_EQ(M->one, limbsOf(r.get()));
        EXPECT_EQ(M->rr, limbsOf(rr.get()));
        for (size_t i = 0; i < values.size(); ++i) {
            const Limbs& a = values[i];
            const Limbs& b = values[(i * 7 + 3) % values.size()];
            const Bn A = bnOf(a), B = bnOf(b), expected(BN_new());
            SCOPED_TRACE(hexOf(A.get()) + " " + hexOf(B.get()));
            const Limbs am = p256::toMont(a, *M), bm = p256::toMont(b, *M);
            BN_mod_mul(expected.get(), A.get(), B.get(), m.get(), ctx);
            EXPECT_EQ(p256::fromMont(p256::mul(am, bm, *M), *M), limbsOf(expected.get()));
            BN_mod_sqr(expected.get(), A.get(), m.get(), ctx);
            EXPECT_EQ(p256::fromMont(p256::mul(am, am, *M), *M), limbsOf(expected.get()));
            BN_mod_add(expected.get(), A.get(), B.get(), m.get(), ctx);
            EXPECT_EQ(p256::add(a, b, *M), limbsOf(expected.get()));
            BN_mod_sub(expected.get(), A.get(), B.get(), m.get(), ctx);
            EXPECT_EQ(p256::sub(a, b, *M), limbsOf(expected.get()));
            // The inverse (which squares on its own path); 0 has none and gives 0.
            const Limbs inverse = p256::fromMont(p256::invert(am, *M), *M);
            if (BN_is_zero(A.get())) {
                EXPECT_TRUE(p256::isZero(inverse));
            } else {
                ASSERT_NE(BN_mod_inverse(expected.get(), A.get(), m.get(), ctx), nullptr);
                EXPECT_EQ(inverse, limbsOf(expected.get()));
            }
        }
    }
    BN_CTX_free(ctx);
}

TEST_P(P256Paths, DoublingIsTheAdditionOfAPointToItself) {
    EXPECT_EQ(affine(p256::dbl(p256::infinity())), "");
    std::vector<Point> points = {p256::generator(), p256::negate(p256::generator())};
    for (int i = 0; i < 20; ++i) points.push_back(randomPoint());
    for (const Point& p : points) {
        const std::string twice = affine(p256::add(p, p));
        ASSERT_FALSE(twice.empty());
        EXPECT_EQ(affine(p256::dbl(p)), twice);
        EXPECT_EQ(affine(p256::dbl(p256::dbl(p))),
                  affine(p256::add(p256::add(p, p), p256::add(p, p))));
    }
}

// Scalars at the edges of the windows and of the group, and random ones.
std::vector<Limbs> edgeScalars(std::mt19937_64& rng) {
    const Limbs n = p256::order().m;
    auto minus = [&](uint64_t k) {
        Limbs r = n;
        r[0] -= k;
        return r;
    };
    std::vector<Limbs> k = {Limbs{0, 0, 0, 0},
                            Limbs{1, 0, 0, 0},
                            Limbs{2, 0, 0, 0},
                            Limbs{15, 0, 0, 0},
                            Limbs{16, 0, 0, 0},
                            Limbs{17, 0, 0, 0},
                            Limbs{0, 0, 0, 1ull << 63},
                            Limbs{0x1111111111111111ull, 0x1111111111111111ull,
                                  0x1111111111111111ull, 0x1111111111111111ull},
                            Limbs{0x8888888888888888ull, 0x8888888888888888ull,
                                  0x8888888888888888ull, 0x8888888888888888ull},
                            Limbs{~0ull, ~0ull, ~0ull, ~0ull},
                            minus(1),
                            minus(2),
                            n};
    for (int i = 0; i < 24; ++i) k.push_back(Limbs{rng(), rng(), rng(), rng() >> (i % 3)});
    return k;
}

TEST_P(P256Paths, FixedBaseMultiplicationMatchesTheGenericOne) {
    for (const Limbs& k : edgeScalars(rng_)) {
        SCOPED_TRACE(hexOf(k));
        EXPECT_EQ(affine(p256::multiplyBase(k)), affine(p256::multiply(k, p256::generator())));
    }
    EXPECT_EQ(affine(p256::multiplyBase(Limbs{})), "");
    EXPECT_EQ(affine(p256::multiplyBase(p256::order().m)), "");
}

TEST_P(P256Paths, PublicDoubleMultiplicationMatchesTheConstantTimePath) {
    const Point g = p256::generator();
    // Q random, the generator itself and its negative (so that partial sums meet, cancel and
    // double inside the loop), and a small multiple of it.
    std::vector<Point> qs = {randomPoint(), randomPoint(), g, p256::negate(g),
                             p256::multiply(Limbs{3, 0, 0, 0}, g)};
    const std::vector<Limbs> scalars = edgeScalars(rng_);
    for (const Point& q : qs) {
        for (size_t i = 0; i < scalars.size(); ++i) {
            for (const Limbs* u2 : {&scalars[i], &scalars[(i * 5 + 1) % scalars.size()]}) {
                const Limbs& u1 = scalars[i];
                SCOPED_TRACE(hexOf(u1) + " " + hexOf(*u2));
                const Point expected = p256::add(p256::multiply(u1, g), p256::multiply(*u2, q));
                EXPECT_EQ(affine(p256::multiplyPublic(u1, *u2, q)), affine(expected));
            }
        }
    }
    // With Q = G/2 and -G/2, doubling the accumulated 2^-1 G meets the added G itself: the sum
    // doubles, or cancels to the point at infinity.
    const Limbs half =
        limbsOfHex("7FFFFFFF800000007FFFFFFFFFFFFFFFDE737D56D38BCF4279DCE5617E3192A9");
    const Limbs halfMinus =
        limbsOfHex("7FFFFFFF800000007FFFFFFFFFFFFFFFDE737D56D38BCF4279DCE5617E3192A8");
    EXPECT_EQ(
        affine(p256::multiplyPublic(Limbs{1, 0, 0, 0}, Limbs{2, 0, 0, 0}, p256::multiply(half, g))),
        affine(p256::dbl(g)));
    EXPECT_EQ(affine(p256::multiplyPublic(Limbs{1, 0, 0, 0}, Limbs{2, 0, 0, 0},
                                          p256::multiply(halfMinus, g))),
              "");
    // u1 G + u2 (-G) with u1 = u2 is the point at infinity; with Q = G it is 2 u1 G.
    const Limbs u = scalars.back();
    EXPECT_EQ(affine(p256::multiplyPublic(u, u, p256::negate(g))), "");
    EXPECT_EQ(affine(p256::multiplyPublic(u, u, g)), affine(p256::dbl(p256::multiply(u, g))));
}

TEST(P256, XModOrderTakesTheValueAboveTheOrderToo) {
    // A point whose x lies in [n, p): its x mod n is x - n, which verification must accept.
    BN_CTX* ctx = BN_CTX_new();
    const Bn p = bnOf(p256::field().m), n = bnOf(p256::order().m);
    const Bn b =
        bnOf(limbsOfHex("5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B"));
    Bn x(BN_dup(n.get())), rhs(BN_new()), t(BN_new()), y(BN_new());
    Point point{};
    for (;; BN_add_word(x.get(), 1)) {
        // y^2 = x^3 - 3x + b has a root when the right side is a square (p = 3 mod 4).
        BN_mod_sqr(rhs.get(), x.get(), p.get(), ctx);
        BN_mod_mul(rhs.get(), rhs.get(), x.get(), p.get(), ctx);
        BN_mod_add(t.get(), x.get(), x.get(), p.get(), ctx);
        BN_mod_add(t.get(), t.get(), x.get(), p.get(), ctx);
        BN_mod_sub(rhs.get(), rhs.get(), t.get(), p.get(), ctx);
        BN_mod_add(rhs.get(), rhs.get(), b.get(), p.get(), ctx);
        if (!BN_mod_sqrt(y.get(), rhs.get(), p.get(), ctx)) continue;
        if (p256::fromAffine(point, limbsOf(x.get()), limbsOf(y.get()))) break;
    }
    BN_sub(t.get(), x.get(), n.get());
    // Projective with Z other than 1, as the multiplications return it.
    const Point scaled = p256::add(point, p256::infinity());
    EXPECT_TRUE(p256::affineXModOrderIs(scaled, limbsOf(t.get())));
    Limbs other = limbsOf(t.get());
    other[0] ^= 1;
    EXPECT_FALSE(p256::affineXModOrderIs(scaled, other));
    EXPECT_FALSE(p256::affineXModOrderIs(scaled, limbsOf(x.get())));  // not below n
    EXPECT_FALSE(p256::affineXModOrderIs(p256::infinity(), Limbs{}));
    BN_CTX_free(ctx);
}

}  // namespace
