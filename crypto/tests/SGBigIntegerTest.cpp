// Big integers: every operation against OpenSSL's BIGNUM on random signed values, the result
// conventions and edge values of the interface, Miller-Rabin and prime generation.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CryptoTestUtil.h"
#include "SGBigInteger.h"
#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGCryptoTable.h"

using namespace cryptotest;
using brindlow::crypto::bn::BnPtr;
using brindlow::crypto::bn::CtxPtr;

namespace {

BnPtr fromDec(const char* text) {
    BIGNUM* b = nullptr;
    EXPECT_GT(BN_dec2bn(&b, text), 0) << text;
    return BnPtr(b);
}

BnPtr fromHex(const std::string& text) {
    BIGNUM* b = nullptr;
    EXPECT_GT(BN_hex2bn(&b, text.c_str()), 0) << text;
    return BnPtr(b);
}

std::string dec(const BIGNUM* b) {
    char* text = BN_bn2dec(b);
    std::string s(text);
    OPENSSL_free(text);
    return s;
}

BnPtr newBn() {
    return BnPtr(BN_new());
}

// Reproducible random signed values: sizes across the word boundaries, both signs, and the
// values that edge cases like (0, 1, all-ones words).
class Values {
  public:
    explicit Values(uint64_t seed) : rng_(seed) {}

    BnPtr next() {
        static const int kBits[] = {0,   1,   7,   31,  32,  33,  63,   64,  65,
                                    127, 128, 200, 255, 256, 521, 1024, 2048};
        const int bits = kBits[rng_() % std::size(kBits)];
        BnPtr v = newBn();
        switch (rng_() % 6) {
            case 0: {  // a power of two, or one below it: runs of ones and lone high bits
                BN_set_bit(v.get(), bits);
                if (rng_() & 1) BN_sub_word(v.get(), 1);
                break;
            }
            default: {
                std::vector<unsigned char> bytes((bits + 7) / 8);
                for (auto& b : bytes) b = static_cast<unsigned char>(rng_());
                BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), v.get());
                if (bits % 8) BN_mask_bits(v.get(), bits);
            }
        }
        if (rng_() & 1) BN_set_negative(v.get(), 1);
        return v;
    }

    uint32_t word() {
        static const uint32_t kWords[] = {0, 1, 2, 3, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
        return rng_() % 3 ? static_cast<uint32_t>(rng_()) : kWords[rng_() % std::size(kWords)];
    }

  private:
    std::mt19937_64 rng_;
};

class SGBigIntegerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGCrypto_Initialize();
        ctx_.reset(BN_CTX_new());
    }
    BN_CTX* ctx() { return ctx_.get(); }

  private:
    CtxPtr ctx_;
};

}  // namespace

// ---- Differential tests ----

TEST_F(SGBigIntegerTest, ArithmeticMatchesBignumOnRandomSignedValues) {
    Values values(20261210);
    SGBigIntegerContext* pool = nullptr;
    ASSERT_EQ(SGBigIntegerContext_New(&pool), 0);
    for (int i = 0; i < 400; ++i) {
        BnPtr a = values.next(), b = values.next();
        SCOPED_TRACE("a=" + dec(a.get()) + " b=" + dec(b.get()));
        BnPtr ours = newBn(), want = newBn(), want2 = newBn(), ours2 = newBn();

        const int sign = BN_is_negative(a.get()) == BN_is_negative(b.get()) ? 1 : -1;
        EXPECT_EQ(SGBigInteger_add(ours.get(), a.get(), b.get()), sign);
        BN_add(want.get(), a.get(), b.get());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "add";

        EXPECT_EQ(SGBigInteger_sub(ours.get(), a.get(), b.get()), 1);
        BN_sub(want.get(), a.get(), b.get());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "sub";

        if (BN_ucmp(a.get(), b.get()) >= 0) {
            EXPECT_EQ(SGBigInteger_usub(ours.get(), a.get(), b.get()), 1);
            BN_usub(want.get(), a.get(), b.get());
            EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "usub";
        } else {
            EXPECT_EQ(SGBigInteger_usub(ours.get(), a.get(), b.get()), 0);
        }

        EXPECT_EQ(SGBigInteger_mul(ours.get(), a.get(), b.get(), pool), 1);
        BN_mul(want.get(), a.get(), b.get(), ctx());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "mul";

        EXPECT_EQ(SGBigInteger_sqr(ours.get(), a.get(), pool), 1);
        BN_sqr(want.get(), a.get(), ctx());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "sqr";

        EXPECT_EQ(SGBigInteger_gcd(ours.get(), a.get(), b.get(), nullptr), 0);
        BN_gcd(want.get(), a.get(), b.get(), ctx());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "gcd";

        const int c = BN_cmp(a.get(), b.get());
        EXPECT_EQ(SGBigInteger_cmp(a.get(), b.get()), c > 0 ? 1 : (c < 0 ? -1 : 0));
        const int wa = (BN_num_bits(a.get()) + 31) / 32, wb = (BN_num_bits(b.get()) + 31) / 32;
        const int uc = BN_ucmp(a.get(), b.get());
        EXPECT_EQ(SGBigInteger_ucmp(a.get(), b.get()),
                  wa != wb ? wa - wb : (uc > 0 ? 1 : (uc < 0 ? -1 : 0)));

        if (BN_is_zero(b.get())) {
            EXPECT_EQ(SGBigInteger_div(ours.get(), ours2.get(), a.get(), b.get(), pool), 0);
            EXPECT_EQ(SGBigInteger_mod(ours.get(), a.get(), b.get(), pool), 0);
            EXPECT_EQ(SGBigInteger_mod_mul(ours.get(), a.get(), a.get(), b.get(), pool), 0);
            continue;
        }
        EXPECT_EQ(SGBigInteger_div(ours.get(), ours2.get(), a.get(), b.get(), pool), 1);
        BN_div(want.get(), want2.get(), a.get(), b.get(), ctx());
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "quotient";
        EXPECT_EQ(BN_cmp(ours2.get(), want2.get()), 0) << "remainder";
        EXPECT_EQ(SGBigInteger_mod(ours.get(), a.get(), b.get(), nullptr), 1);
        EXPECT_EQ(BN_cmp(ours.get(), want2.get()), 0) << "mod keeps the sign of a";

        // Modular operations take the modulus positive.
        BnPtr m(BN_dup(b.get()));
        BN_set_negative(m.get(), 0);
        BnPtr e = values.next();
        BN_set_negative(e.get(), 0);
        BN_mask_bits(e.get(), 300);
        struct {
            const char* name;
            int (*ours)(SGBigInteger*, const SGBigInteger*, const SGBigInteger*,
                        const SGBigInteger*, SGBigIntegerContext*);
            int (*bn)(BIGNUM*, const BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);
            const BIGNUM* second;
        } const modular[] = {
            {"mod_add", &SGBigInteger_mod_add, &BN_mod_add, b.get()},
            {"mod_sub", &SGBigInteger_mod_sub, &BN_mod_sub, b.get()},
            {"mod_mul", &SGBigInteger_mod_mul, &BN_mod_mul, b.get()},
        };
        for (const auto& op : modular) {
            EXPECT_EQ(op.ours(ours.get(), a.get(), op.second, m.get(), pool), 1) << op.name;
            op.bn(want.get(), a.get(), op.second, m.get(), ctx());
            EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << op.name;
            EXPECT_FALSE(BN_is_negative(ours.get())) << op.name;
        }
        if (!BN_is_one(m.get())) {
            EXPECT_EQ(SGBigInteger_mod_exp(ours.get(), a.get(), e.get(), m.get(), pool), 1);
            BN_mod_exp(want.get(), a.get(), e.get(), m.get(), ctx());
            EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "mod_exp";

            const bool invertible = BN_mod_inverse(want.get(), a.get(), m.get(), ctx()) != nullptr;
            ERR_clear_error();
            EXPECT_EQ(SGBigInteger_mod_inverse(ours.get(), a.get(), m.get(), pool),
                      invertible ? 1 : -1);
            if (invertible) {
                EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "mod_inverse";
            }
        }
    }
    SGBigIntegerContext_Free(pool);
}

TEST_F(SGBigIntegerTest, WordShiftAndBitOperationsMatchBignum) {
    Values values(7);
    for (int i = 0; i < 400; ++i) {
        BnPtr a = values.next();
        const uint32_t w = values.word();
        SCOPED_TRACE("a=" + dec(a.get()) + " w=" + std::to_string(w));
        BnPtr ours(BN_dup(a.get())), want(BN_dup(a.get()));

        EXPECT_EQ(SGBigInteger_add_word(ours.get(), w), w == 0 ? 1 : 0);
        BN_add_word(want.get(), w);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "add_word";

        BN_copy(ours.get(), a.get());
        BN_copy(want.get(), a.get());
        EXPECT_EQ(SGBigInteger_sub_word(ours.get(), w), 0);
        BN_sub_word(want.get(), w);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "sub_word";

        BN_copy(ours.get(), a.get());
        BN_copy(want.get(), a.get());
        EXPECT_EQ(SGBigInteger_mul_word(ours.get(), w), 0);
        BN_mul_word(want.get(), w);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "mul_word";

        if (w != 0) {
            EXPECT_EQ(SGBigInteger_mod_word(a.get(), w), BN_mod_word(a.get(), w)) << "mod_word";
            BN_copy(ours.get(), a.get());
            BN_copy(want.get(), a.get());
            EXPECT_EQ(SGBigInteger_div_word(ours.get(), w), BN_div_word(want.get(), w));
            EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "div_word";
        }

        const int n = static_cast<int>(w % 300);
        EXPECT_EQ(SGBigInteger_leftshift(ours.get(), a.get(), n), 1);
        BN_lshift(want.get(), a.get(), n);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "leftshift";
        EXPECT_EQ(SGBigInteger_rightshift(ours.get(), a.get(), n), 0);
        BN_rshift(want.get(), a.get(), n);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "rightshift";

        EXPECT_EQ(SGBigInteger_isBitSet(a.get(), n), BN_is_bit_set(a.get(), n));
        BN_copy(ours.get(), a.get());
        BN_copy(want.get(), a.get());
        EXPECT_EQ(SGBigInteger_setBit(ours.get(), n), 0);
        BN_set_bit(want.get(), n);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "setBit";
        EXPECT_EQ(SGBigInteger_clearBit(ours.get(), n), 0);
        if (n < BN_num_bits(want.get())) BN_clear_bit(want.get(), n);
        EXPECT_EQ(BN_cmp(ours.get(), want.get()), 0) << "clearBit";

        EXPECT_EQ(SGBigInteger_GetNumberOfBits(a.get()), BN_num_bits(a.get()));
        EXPECT_EQ(SGBigInteger_GetNumberOfBytes(a.get()), BN_num_bytes(a.get()));
        EXPECT_EQ(SGBigInteger_isZero(a.get()), BN_is_zero(a.get()) ? 1 : 0);
        EXPECT_EQ(SGBigInteger_isOne(a.get()), BN_is_one(a.get()) ? 1 : 0);
    }
}

TEST_F(SGBigIntegerTest, ConversionsRoundTripAndMatchBignum) {
    Values values(99);
    for (int i = 0; i < 300; ++i) {
        BnPtr a = values.next();
        SCOPED_TRACE("a=" + dec(a.get()));

        // Binary: minimal magnitude bytes, and back.
        unsigned length = 12345;
        std::vector<unsigned char> bytes(BN_num_bytes(a.get()) + 1);
        ASSERT_EQ(SGBigInteger_ToBinary(bytes.data(), &length, a.get()), 0);
        ASSERT_EQ(length, static_cast<unsigned>(BN_num_bytes(a.get())));
        BnPtr back = newBn();
        ASSERT_EQ(SGBigInteger_FromBinary(back.get(), bytes.data(), length), 0);
        BnPtr magnitude(BN_dup(a.get()));
        BN_set_negative(magnitude.get(), 0);
        EXPECT_EQ(BN_cmp(back.get(), magnitude.get()), 0);

        // Decimal text.
        char text[1024];
        unsigned textLength = sizeof text;
        ASSERT_EQ(SGBigInteger_ToASCII(text, &textLength, a.get()), 0);
        EXPECT_EQ(std::string(text), dec(a.get()));
        EXPECT_EQ(textLength, dec(a.get()).size());
        BnPtr parsed = newBn();
        ASSERT_EQ(SGBigInteger_FromASCII(parsed.get(), text), 1);
        EXPECT_EQ(BN_cmp(parsed.get(), a.get()), 0);

        // Hex text: lower case, two digits per byte, and "0x" text reads it back.
        char hexText[1024];
        ASSERT_EQ(SGBigInteger_ToHex(hexText, a.get()), 0);
        char* upper = BN_bn2hex(a.get());
        std::string want(upper);
        OPENSSL_free(upper);
        for (auto& ch : want) ch = static_cast<char>(std::tolower(ch));
        EXPECT_EQ(std::string(hexText), want);
        std::string prefixed =
            hexText[0] == '-' ? "-0x" + std::string(hexText + 1) : "0X" + std::string(hexText);
        ASSERT_EQ(SGBigInteger_FromASCII(parsed.get(), prefixed.c_str()), 1);
        EXPECT_EQ(BN_cmp(parsed.get(), a.get()), 0);

        // Word: the low 32 bits, negated for negative values.
        unsigned word = 0;
        ASSERT_EQ(SGBigInteger_ToWord(&word, a.get()), 0);
        BnPtr lowBits(BN_dup(magnitude.get()));
        BN_mask_bits(lowBits.get(), 32);
        uint32_t expected = static_cast<uint32_t>(BN_get_word(lowBits.get()));
        if (BN_is_negative(a.get())) expected = 0u - expected;
        EXPECT_EQ(word, expected);

        SGBigInteger* copy = nullptr;
        ASSERT_EQ(SGBigInteger_dup(&copy, a.get()), 0);
        EXPECT_EQ(BN_cmp(copy, a.get()), 0);
        ASSERT_EQ(SGBigInteger_copy(back.get(), copy), 0);
        EXPECT_EQ(BN_cmp(back.get(), a.get()), 0);
        SGBigInteger_Free(copy);
    }
}

// Aliased operands (r = a) are common in callers' loops.
TEST_F(SGBigIntegerTest, ResultMayAliasAnOperand) {
    BnPtr a = fromDec("-123456789012345678901234567890"), b = fromDec("98765432109876543210");
    BnPtr want = newBn(), m = fromDec("1000000007");
    BN_add(want.get(), a.get(), b.get());
    BnPtr r(BN_dup(a.get()));
    EXPECT_EQ(SGBigInteger_add(r.get(), r.get(), b.get()), -1);
    EXPECT_EQ(BN_cmp(r.get(), want.get()), 0);
    BnPtr sq(BN_dup(r.get()));
    EXPECT_EQ(SGBigInteger_mul(sq.get(), sq.get(), sq.get(), nullptr), 1);
    BnPtr expect = newBn();
    CtxPtr c(BN_CTX_new());
    BN_sqr(expect.get(), r.get(), c.get());
    EXPECT_EQ(BN_cmp(sq.get(), expect.get()), 0);
    BnPtr rem(BN_dup(a.get()));
    EXPECT_EQ(SGBigInteger_mod(rem.get(), rem.get(), m.get(), nullptr), 1);
    BN_div(nullptr, expect.get(), a.get(), m.get(), c.get());
    EXPECT_EQ(BN_cmp(rem.get(), expect.get()), 0);
}

// ---- The interface's own conventions ----

TEST_F(SGBigIntegerTest, AddReportsWhetherTheSignsAgree) {
    const struct {
        const char *a, *b, *sum;
        int result;
    } cases[] = {
        {"5", "-3", "2", -1},  {"-5", "3", "-2", -1}, {"2", "3", "5", 1},
        {"-2", "-3", "-5", 1}, {"3", "-3", "0", -1},  {"0", "-7", "-7", -1},
    };
    for (const auto& c : cases) {
        BnPtr a = fromDec(c.a), b = fromDec(c.b), r = newBn();
        EXPECT_EQ(SGBigInteger_add(r.get(), a.get(), b.get()), c.result) << c.a << "+" << c.b;
        EXPECT_EQ(dec(r.get()), c.sum);
    }
}

TEST_F(SGBigIntegerTest, TextConversionEdges) {
    char buffer[64];
    BnPtr zero = newBn(), minus255 = fromDec("-255"), v = fromDec("0");
    ASSERT_EQ(SGBigInteger_ToHex(buffer, zero.get()), 0);
    EXPECT_STREQ(buffer, "0");
    ASSERT_EQ(SGBigInteger_ToHex(buffer, minus255.get()), 0);
    EXPECT_STREQ(buffer, "-ff");

    // A buffer as long as the text has no room for the NUL.
    BnPtr n = fromDec("123456");
    unsigned length = 6;
    EXPECT_EQ(SGBigInteger_ToASCII(buffer, &length, n.get()), -1);
    EXPECT_EQ(length, 6u);
    length = 7;
    EXPECT_EQ(SGBigInteger_ToASCII(buffer, &length, n.get()), 0);
    EXPECT_STREQ(buffer, "123456");
    length = 0;
    EXPECT_EQ(SGBigInteger_ToASCII(nullptr, &length, n.get()), 0);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(SGBigInteger_ToASCII(buffer, nullptr, n.get()), 11);

    const struct {
        const char* text;
        int result;
        const char* value;
    } parse[] = {
        {"0x1F", 1, "31"},   {"-0X1f", 1, "-31"}, {"-42", 1, "-42"}, {"007", 1, "7"},
        {"12a", 0, nullptr}, {"", 0, nullptr},    {"-", 0, nullptr}, {"0x", 0, nullptr},
        {" 1", 0, nullptr},  {"0xG", 0, nullptr},
    };
    for (const auto& p : parse) {
        EXPECT_EQ(SGBigInteger_FromASCII(v.get(), p.text), p.result) << p.text;
        if (p.value) {
            EXPECT_EQ(dec(v.get()), p.value) << p.text;
        }
    }
    SGBigInteger* created = nullptr;
    EXPECT_EQ(SGBigInteger_NewAsASCII(&created, "nope"), 0);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(SGBigInteger_NewAsASCII(&created, "0x10"), 1);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(dec(created), "16");
    SGBigInteger_Free(created);
}

TEST_F(SGBigIntegerTest, BinaryConversionEdges) {
    BnPtr v = fromHex("0102");
    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(SGBigInteger_ToNBinary(out, 4, v.get()), 0);
    EXPECT_EQ(hex(out, 5), "00000102ee");
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(SGBigInteger_ToNBinary(out, 1, v.get()), 0);  // longer values are written whole
    EXPECT_EQ(hex(out, 3), "0102ee");
    EXPECT_EQ(SGBigInteger_ToNBinary(nullptr, 4, v.get()), 0);

    BnPtr r = fromDec("77");
    EXPECT_EQ(SGBigInteger_FromBinary(r.get(), out, 0), 0);
    EXPECT_TRUE(BN_is_zero(r.get()));
    EXPECT_EQ(SGBigInteger_FromBinary(nullptr, out, 1), -22);

    unsigned length = 99;
    BnPtr zero = newBn();
    EXPECT_EQ(SGBigInteger_ToBinary(nullptr, &length, zero.get()), 0);
    EXPECT_EQ(length, 0u);

    SGBigInteger* made = nullptr;
    const unsigned char bytes[] = {0x00, 0x80, 0x01};
    ASSERT_EQ(SGBigInteger_NewAsBinary(&made, bytes, 3), 0);
    EXPECT_EQ(dec(made), "32769");
    SGBigInteger_Free(made);
    EXPECT_EQ(SGBigInteger_NewAsBinary(&made, nullptr, 2), 11);
    EXPECT_EQ(made, nullptr);
}

TEST_F(SGBigIntegerTest, WordAndComparisonEdges) {
    BnPtr v = fromDec("12345");
    EXPECT_EQ(SGBigInteger_add_word(v.get(), 0), 1);
    EXPECT_EQ(dec(v.get()), "12345");
    EXPECT_EQ(SGBigInteger_mod_word(v.get(), 0), 0xFFFFFFFFu);
    EXPECT_EQ(SGBigInteger_div_word(v.get(), 0), 0xFFFFFFFFu);
    EXPECT_EQ(dec(v.get()), "12345");

    BnPtr zero = newBn();
    EXPECT_EQ(SGBigInteger_sub_word(zero.get(), 9), 0);
    EXPECT_EQ(dec(zero.get()), "-9");
    BnPtr minus = fromDec("-5");
    EXPECT_EQ(SGBigInteger_mod_word(minus.get(), 3), 2u);  // of the magnitude

    EXPECT_EQ(SGBigInteger_cmp(nullptr, v.get()), 1);
    EXPECT_EQ(SGBigInteger_cmp(v.get(), nullptr), -1);
    EXPECT_EQ(SGBigInteger_cmp(nullptr, nullptr), 0);

    // ucmp tells word counts apart by their difference.
    BnPtr big = fromHex("1" + std::string(16 * 3, '0'));  // 2^192: 7 words
    EXPECT_EQ(SGBigInteger_ucmp(big.get(), v.get()), 6);
    EXPECT_EQ(SGBigInteger_ucmp(v.get(), big.get()), -6);

    SGBigInteger_set_negative(zero.get(), 0);
    BN_zero(zero.get());
    SGBigInteger_set_negative(zero.get(), 1);
    EXPECT_FALSE(BN_is_negative(zero.get()));  // zero stays non-negative
    SGBigInteger_set_negative(v.get(), 1);
    EXPECT_EQ(dec(v.get()), "-12345");
    EXPECT_EQ(SGBigInteger_isOne(v.get()), 0);

    BnPtr minusOne = fromDec("-1");
    EXPECT_EQ(SGBigInteger_isOne(minusOne.get()), 0);
    BnPtr shifted = newBn();
    EXPECT_EQ(SGBigInteger_rightshift(shifted.get(), minus.get(), 1), 0);
    EXPECT_EQ(dec(shifted.get()), "-2");  // |a| / 2 with the sign of a
    EXPECT_EQ(SGBigInteger_rightshift(shifted.get(), minus.get(), 64), 0);
    EXPECT_TRUE(BN_is_zero(shifted.get()));
    EXPECT_EQ(SGBigInteger_leftshift(shifted.get(), minus.get(), -1), 0);
    EXPECT_EQ(SGBigInteger_rightshift(shifted.get(), minus.get(), -1), -1);
}

TEST_F(SGBigIntegerTest, PoolValuesAndTheConstantOne) {
    SGBigIntegerContext* pool = nullptr;
    ASSERT_EQ(SGBigIntegerContext_New(&pool), 0);
    SGBigInteger* t = nullptr;
    ASSERT_EQ(SGBigIntegerContext_get(&t, pool), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(BN_is_zero(t));
    EXPECT_EQ(SGBigInteger_set_word(t, 41), 0);
    EXPECT_EQ(SGBigInteger_add_word(t, 1), 0);
    EXPECT_EQ(dec(t), "42");
    EXPECT_EQ(SGBigIntegerContext_Free(pool), 0);  // t goes with the pool
    EXPECT_EQ(SGBigIntegerContext_New(nullptr), 11);

    SGBigInteger* one = SGBigInteger_One();
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(SGBigInteger_isOne(one), 1);
    BN_set_word(one, 5);  // a careless caller
    EXPECT_EQ(SGBigInteger_One(), one);
    EXPECT_EQ(SGBigInteger_isOne(one), 1);  // reset at every call
}

// The constant one and the default gcd pool are per thread: a thread that changes its one, or
// works its pool, cannot disturb another thread.
TEST_F(SGBigIntegerTest, SharedValuesAreSafeAcrossThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            BnPtr a = newBn(), b = newBn(), g = newBn();
            for (int i = 1; i < 300; ++i) {
                SGBigInteger* one = SGBigInteger_One();
                if (!BN_is_one(one)) ++failures;
                BN_set_word(one, static_cast<BN_ULONG>(t + 2));  // scribble on it
                BN_set_word(a.get(), static_cast<BN_ULONG>(i) * 6 * (t + 1));
                BN_set_word(b.get(), static_cast<BN_ULONG>(i) * 4 * (t + 1));
                if (SGBigInteger_gcd(g.get(), a.get(), b.get(), nullptr) != 0 ||
                    BN_get_word(g.get()) != static_cast<BN_ULONG>(i) * 2 * (t + 1))
                    ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---- Random values ----

TEST_F(SGBigIntegerTest, RandomBitStringsHaveTheirDocumentedShape) {
    BnPtr r = newBn();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(SGBigInteger_random(r.get(), 20, 0, 0), 0);
        EXPECT_EQ(BN_num_bits(r.get()), 21);  // three bytes, bit 20 set
        ASSERT_EQ(SGBigInteger_random(r.get(), 16, 0, 0), 0);
        EXPECT_EQ(BN_num_bits(r.get()), 9);  // highest bit 8
        ASSERT_EQ(SGBigInteger_random(r.get(), 20, 1, 1), 0);
        EXPECT_EQ(BN_num_bits(r.get()), 21);
        EXPECT_TRUE(BN_is_bit_set(r.get(), 19));
        EXPECT_TRUE(BN_is_odd(r.get()));
        ASSERT_EQ(SGBigInteger_random(r.get(), 24, 1, 0), 0);
        EXPECT_EQ(BN_num_bits(r.get()), 17);  // first byte 1, top bit of the second set
        EXPECT_TRUE(BN_is_bit_set(r.get(), 15));
        ASSERT_EQ(SGBigInteger_random(r.get(), 20, -1, 0), 0);
        EXPECT_LE(BN_num_bits(r.get()), 21);
    }
    EXPECT_EQ(SGBigInteger_random(nullptr, 64, 0, 0), 0);
}

TEST_F(SGBigIntegerTest, RandomInRangeStaysInRangeAndCoversIt) {
    BnPtr range = fromDec("10"), r = newBn();
    int seen[10] = {};
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(SGBigInteger_randomInRange(r.get(), range.get()), 1);
        ASSERT_LT(BN_get_word(r.get()), 10u);
        ++seen[BN_get_word(r.get())];
    }
    for (int count : seen) EXPECT_GT(count, 120);  // 200 expected each
    BnPtr big = fromHex("8" + std::string(255, '0')), one = fromDec("1");
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(SGBigInteger_pseudoRandomInRange(r.get(), big.get()), 1);
        EXPECT_LT(BN_cmp(r.get(), big.get()), 0);
    }
    ASSERT_EQ(SGBigInteger_randomInRange(r.get(), one.get()), 1);
    EXPECT_TRUE(BN_is_zero(r.get()));
    BnPtr zero = newBn(), negative = fromDec("-5");
    EXPECT_EQ(SGBigInteger_randomInRange(r.get(), zero.get()), 0);
    EXPECT_EQ(SGBigInteger_randomInRange(r.get(), negative.get()), 0);
}

// ---- Primality ----

namespace {

struct CountingWitnesses {
    int draws = 0;
};

bool countingWitness(BIGNUM* witness, const BIGNUM* w, void* user) {
    ++static_cast<CountingWitnesses*>(user)->draws;
    return brindlow::crypto::bn::randomWitness(witness, w, nullptr);
}

bool witnessTwo(BIGNUM* witness, const BIGNUM*, void*) {
    return BN_set_word(witness, 2);
}

std::vector<Record> primeRecords() {
    return readRecords(std::string(BRINDLOW_TEST_DATA) + "/primes.txt");
}

}  // namespace

TEST_F(SGBigIntegerTest, MillerRabinRoundsFollowTheBitLength) {
    const std::map<int, int> rounds = {{511, 20}, {512, 7},  {1023, 7},
                                       {1024, 4}, {2047, 4}, {2048, 2}};
    int checked = 0;
    for (const auto& rec : primeRecords()) {
        if (!rec.count("Prime")) continue;
        const int bits = std::stoi(rec.at("Bits"));
        BnPtr p = fromHex(rec.at("Prime"));
        ASSERT_EQ(BN_num_bits(p.get()), bits);
        EXPECT_EQ(brindlow::crypto::bn::millerRabinRounds(bits), rounds.at(bits));
        // A prime passes every round, so each round draws one witness.
        CountingWitnesses count;
        EXPECT_EQ(brindlow::crypto::bn::millerRabin(p.get(), rounds.at(bits), ctx(),
                                                    &countingWitness, &count),
                  1);
        EXPECT_EQ(count.draws, rounds.at(bits)) << bits << " bits";
        EXPECT_EQ(SGBigInteger_isPrime(p.get()), 1) << bits << " bits";
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}

TEST_F(SGBigIntegerTest, MillerRabinRejectsCarmichaelNumbersAndStrongPseudoprimes) {
    // Carmichael numbers fool the Fermat test for every base coprime to them.
    const char* carmichael[] = {"561",    "1105",   "1729",   "2465",   "2821",   "6601",
                                "8911",   "10585",  "15841",  "29341",  "41041",  "46657",
                                "52633",  "62745",  "63973",  "75361",  "101101", "115921",
                                "126217", "162401", "172081", "188461", "252601", "512461"};
    // Strong pseudoprimes to base 2, the last ones to every prime base up to 23, 37 and 41.
    const char* strong[] = {"2047",
                            "3277",
                            "4033",
                            "4681",
                            "8321",
                            "15841",
                            "29341",
                            "42799",
                            "49141",
                            "52633",
                            "65281",
                            "74665",
                            "80581",
                            "85489",
                            "88357",
                            "90751",
                            "3215031751",
                            "2152302898747",
                            "3474749660383",
                            "341550071728321",
                            "3825123056546413051",
                            "318665857834031151167461",
                            "3317044064679887385961981"};
    BnPtr two = fromDec("2"), r = newBn();
    for (const char* text : carmichael) {
        BnPtr n = fromDec(text);
        BN_mod_exp(r.get(), two.get(), n.get(), n.get(), ctx());
        EXPECT_EQ(dec(r.get()), "2") << text << " is not a Fermat pseudoprime";
        EXPECT_EQ(SGBigInteger_isPrime(n.get()), 0) << text;
    }
    for (const char* text : strong) {
        BnPtr n = fromDec(text);
        // A base-2 round alone is fooled; the random rounds are not.
        EXPECT_EQ(brindlow::crypto::bn::millerRabin(n.get(), 1, ctx(), &witnessTwo, nullptr), 1)
            << text;
        EXPECT_EQ(SGBigInteger_isPrime(n.get()), 0) << text;
    }
    // A 512-bit Carmichael number (6k+1)(12k+1)(18k+1) at its seven rounds.
    int checked = 0;
    for (const auto& rec : primeRecords()) {
        if (!rec.count("Carmichael")) continue;
        BnPtr n = fromHex(rec.at("Carmichael")), product = fromDec("1");
        for (const char* f : {"Factor1", "Factor2", "Factor3"})
            BN_mul(product.get(), product.get(), fromHex(rec.at(f)).get(), ctx());
        ASSERT_EQ(BN_cmp(product.get(), n.get()), 0);
        ASSERT_GE(BN_num_bits(n.get()), 512);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(SGBigInteger_isPrime(n.get()), 0);
        ++checked;
    }
    EXPECT_EQ(checked, 1);
}

TEST_F(SGBigIntegerTest, MillerRabinSmallValues) {
    const struct {
        const char* n;
        int prime;
    } cases[] = {{"-7", 0}, {"0", 0}, {"1", 0}, {"2", 1},     {"3", 1},     {"4", 0},
                 {"5", 1},  {"7", 1}, {"9", 0}, {"17863", 1}, {"17861", 0}, {"65537", 1}};
    for (const auto& c : cases) {
        BnPtr n = fromDec(c.n);
        EXPECT_EQ(SGBigInteger_isPrime(n.get()), c.prime) << c.n;
    }
    BnPtr composite = fromDec("17861");  // 53 * 337
    EXPECT_EQ(SGBigInteger_TrivialDivide(composite.get()), -1);
    BnPtr prime = fromDec("17863");
    EXPECT_EQ(SGBigInteger_TrivialDivide(prime.get()), 0);
    EXPECT_EQ(brindlow::crypto::bn::kSmallPrimes.back(), 17863);
}

TEST_F(SGBigIntegerTest, GeneratedPrimesHaveExactlyTheirSize) {
    BnPtr p = newBn();
    for (int bits : {2, 3, 4, 5, 8, 13, 16, 17, 31, 64, 100}) {
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(SGBigInteger_GeneratePrime(p.get(), bits), 1) << bits;
            EXPECT_EQ(BN_num_bits(p.get()), bits);
            EXPECT_EQ(BN_check_prime(p.get(), ctx(), nullptr), 1) << dec(p.get());
        }
    }
    for (int bits : {512, 1024}) {
        ASSERT_EQ(SGBigInteger_GeneratePrime(p.get(), bits), 1);
        EXPECT_EQ(BN_num_bits(p.get()), bits);
        EXPECT_TRUE(BN_is_bit_set(p.get(), bits - 2));  // the two top bits
        EXPECT_EQ(BN_check_prime(p.get(), ctx(), nullptr), 1);
    }
    EXPECT_EQ(SGBigInteger_GeneratePrime(p.get(), 1), 0);
    EXPECT_EQ(SGBigInteger_GeneratePrime(nullptr, 64), 0);
}

// ---- Table ----

TEST_F(SGBigIntegerTest, TableSlotsHoldTheBigIntegerFunctions) {
    void* t[SG_CRYPTO_TABLE_SLOTS];
    ASSERT_EQ(SGCryptoWrapper_GetList(t), 0);
    const struct {
        int slot;
        void* fn;
    } cases[] = {
        {6, reinterpret_cast<void*>(&SGBigIntegerContext_New)},
        {9, reinterpret_cast<void*>(&SGBigInteger_New)},
        {32, reinterpret_cast<void*>(&SGBigInteger_One)},
        {34, reinterpret_cast<void*>(&SGBigInteger_set_negative)},
        {40, reinterpret_cast<void*>(&SGBigInteger_gcd)},
        {51, reinterpret_cast<void*>(&SGBigInteger_add)},
        {57, reinterpret_cast<void*>(&SGBigInteger_mod_word)},
        {58, reinterpret_cast<void*>(&SGBigInteger_isPrime)},
        {61, reinterpret_cast<void*>(&SGBigInteger_GetNumberOfBytes)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
    SGBigInteger* a = nullptr;
    ASSERT_EQ(SG_CRYPTO_FN(t, SGBigInteger_New)(&a), 0);
    EXPECT_EQ(SG_CRYPTO_FN(t, SGBigInteger_add_word)(a, 7), 0);
    EXPECT_EQ(SG_CRYPTO_FN(t, SGBigInteger_isPrime)(a), 1);
    EXPECT_EQ(SG_CRYPTO_FN(t, SGBigInteger_Free)(a), 0);
}
