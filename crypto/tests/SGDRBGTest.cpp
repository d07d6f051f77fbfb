#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>

#include "CryptoTestUtil.h"
#include "Entropy.h"
#include "SGDRBG.h"
#include "SGDigest.h"

using namespace cryptotest;

namespace {

const std::map<std::string, int> kDigestIds = {
    {"SHA-1", 3}, {"SHA-224", 4}, {"SHA-256", 5}, {"SHA-384", 6}, {"SHA-512", 7}};

// The highest strength of each digest, which is also its entropy length in bytes times 8.
int highestStrength(int id) {
    return id == 3 ? 128 : id == 4 ? 192 : 256;
}

struct Drbg {
    SGDRBGContext* ctx = nullptr;
    SGDRBGParameter p{};
    Drbg() { EXPECT_EQ(SGDRBGContext_New(&ctx), 0); }
    ~Drbg() { SGDRBGContext_Free(ctx); }
    int instantiate(int id, const Bytes& entropy, const Bytes& nonce, const Bytes& pers,
                    int strength = SG_DRBG_STRENGTH_HIGHEST,
                    int prediction = SG_DRBG_NO_PREDICTION_RESISTANCE) {
        p = SGDRBGParameter{};
        p.digestId = id;
        p.entropy = entropy.empty() ? nullptr : entropy.data();
        p.entropyLength = static_cast<uint32_t>(entropy.size());
        p.strength = strength;
        p.predictionResistance = prediction;
        p.nonce = nonce.data();
        p.nonceLength = static_cast<uint32_t>(nonce.size());
        p.personalization = pers.empty() ? nullptr : pers.data();
        p.personalizationLength = static_cast<uint32_t>(pers.size());
        p.generateStrength = SG_DRBG_STRENGTH_HIGHEST;
        p.generatePredictionResistance = SG_DRBG_NO_PREDICTION_RESISTANCE;
        return SGDRBG_Instantiation(ctx, &p);
    }
    int reseed(const Bytes& entropy, const Bytes& additional) {
        p.entropy = entropy.empty() ? nullptr : entropy.data();
        p.entropyLength = static_cast<uint32_t>(entropy.size());
        p.reseedAdditionalInput = additional.empty() ? nullptr : additional.data();
        p.reseedAdditionalInputLength = static_cast<uint32_t>(additional.size());
        return SGDRBG_Reseed(ctx, &p);
    }
    Bytes generate(size_t n, const Bytes& additional, int* result = nullptr) {
        Bytes out(n);
        p.additionalInput = additional.empty() ? nullptr : additional.data();
        p.additionalInputLength = static_cast<uint32_t>(additional.size());
        const int r = SGDRBG_GenerateRandom(out.data(), ctx, static_cast<uint32_t>(n), &p);
        if (result)
            *result = r;
        else
            EXPECT_EQ(r, 0);
        return out;
    }
};

}  // namespace

TEST(SGDRBG, CavpVectors) {
    int count = 0;
    for (const Record& r : readRecords(std::string(BRINDLOW_TEST_DATA) + "/hash_drbg.vec")) {
        const int id = kDigestIds.at(r.at("Digest"));
        const Bytes expected = unhex(r.at("ReturnedBits"));
        Drbg d;
        ASSERT_EQ(d.instantiate(id, unhex(r.at("EntropyInput")), unhex(r.at("Nonce")),
                                unhex(r.at("PersonalizationString"))),
                  0);
        EXPECT_EQ(d.ctx->securityStrength, highestStrength(id));
        EXPECT_EQ(d.ctx->seedLength, id >= 6 ? 888 : 440);
        const bool reseeded = r.count("EntropyInputReseed") != 0;
        if (reseeded) {
            ASSERT_EQ(
                d.reseed(unhex(r.at("EntropyInputReseed")), unhex(r.at("AdditionalInputReseed"))),
                0);
        }
        d.generate(expected.size(), unhex(r.at("AdditionalInputA")));
        EXPECT_EQ(hex(d.generate(expected.size(), unhex(r.at("AdditionalInputB")))), hex(expected))
            << r.at("Digest") << " " << r.at("EntropyInput");
        EXPECT_EQ(d.ctx->reseedCounter, 3) << reseeded;
        ++count;
    }
    EXPECT_EQ(count, 16);
}

TEST(SGDRBG, StrengthAndArguments) {
    const Bytes e(32, 1), n(16, 2);
    Drbg d;
    EXPECT_EQ(SGDRBG_Instantiation(nullptr, &d.p), 301);
    EXPECT_EQ(SGDRBG_Instantiation(d.ctx, nullptr), 301);
    EXPECT_EQ(SGDRBG_Reseed(nullptr, &d.p), 301);
    unsigned char out[16];
    EXPECT_EQ(SGDRBG_GenerateRandom(nullptr, d.ctx, 1, &d.p), 301);
    EXPECT_EQ(SGDRBG_GenerateRandom(out, nullptr, 1, &d.p), 301);
    EXPECT_EQ(SGDRBG_GenerateRandom(out, d.ctx, 1, nullptr), 301);
    EXPECT_EQ(SGDRBGContext_New(nullptr), 11);
    EXPECT_EQ(SGDRBGContext_Free(nullptr), 0);
    for (int bad : {2, 8, 0}) EXPECT_EQ(d.instantiate(bad, e, n, {}), 302) << bad;
    // An instance that never came up cannot generate.
    int r = 0;
    d.generate(1, {}, &r);
    EXPECT_NE(r, 0);

    struct {
        int id, requested, expected;
    } cases[] = {{3, SG_DRBG_STRENGTH_HIGHEST, 128},
                 {3, 192, 304},
                 {4, 193, 304},
                 {5, 0, 80},
                 {5, 80, 80},
                 {5, 81, 112},
                 {5, 113, 128},
                 {5, 129, 192},
                 {5, 193, 256},
                 {5, 257, 304},
                 {7, SG_DRBG_STRENGTH_HIGHEST, 256}};
    for (const auto& c : cases) {
        Drbg x;
        const int result = x.instantiate(c.id, e, n, {}, c.requested);
        if (c.expected == 304) {
            EXPECT_EQ(result, 304) << c.id << "/" << c.requested;
        } else {
            ASSERT_EQ(result, 0) << c.id << "/" << c.requested;
            EXPECT_EQ(x.ctx->securityStrength, c.expected) << c.id << "/" << c.requested;
        }
    }
}

TEST(SGDRBG, GenerateLimitsAndPredictionResistance) {
    const Bytes e(32, 1), n(16, 2);
    Drbg d;
    ASSERT_EQ(d.instantiate(5, e, n, {}), 0);
    int r = -1;
    d.generate(8192, {}, &r);
    EXPECT_EQ(r, 0);
    const int counter = d.ctx->reseedCounter;
    Bytes v(d.ctx->V, d.ctx->V + 55);
    d.generate(8193, {}, &r);
    EXPECT_EQ(r, 307);
    // A refused generate leaves the state as it was.
    EXPECT_EQ(d.ctx->reseedCounter, counter);
    EXPECT_EQ(Bytes(d.ctx->V, d.ctx->V + 55), v);

    d.p.generatePredictionResistance = SG_DRBG_PREDICTION_RESISTANCE;
    d.generate(16, {}, &r);
    EXPECT_EQ(r, 305);

    // A weaker instance refuses a stronger request, including "the digest's highest".
    Drbg weak;
    ASSERT_EQ(weak.instantiate(5, e, n, {}, 112), 0);
    weak.generate(16, {}, &r);
    EXPECT_EQ(r, 306);
    weak.p.generateStrength = 112;
    weak.generate(16, {}, &r);
    EXPECT_EQ(r, 0);

    // With prediction resistance the generate reseeds first: it equals an explicit reseed with
    // the generate's additional input followed by a generate without it.
    const Bytes prEntropy(32, 9), additional(20, 7);
    Drbg a, b;
    ASSERT_EQ(a.instantiate(5, e, n, {}, SG_DRBG_STRENGTH_HIGHEST, 1), 0);
    ASSERT_EQ(b.instantiate(5, e, n, {}, SG_DRBG_STRENGTH_HIGHEST, 1), 0);
    a.p.entropy = prEntropy.data();
    a.p.entropyLength = 32;
    a.p.generatePredictionResistance = SG_DRBG_PREDICTION_RESISTANCE;
    const Bytes withPr = a.generate(40, additional);
    ASSERT_EQ(b.reseed(prEntropy, additional), 0);
    EXPECT_EQ(hex(withPr), hex(b.generate(40, {})));
    EXPECT_EQ(a.ctx->reseedCounter, 2);
}

namespace {
std::atomic<int> gSourceCalls{0};
bool countingSource(void* buffer, size_t length) {
    ++gSourceCalls;
    std::memset(buffer, 0x5A, length);
    return true;
}
bool failingSource(void*, size_t) {
    return false;
}

// Installs an entropy source for one test and puts the previous one back.
class SourceGuard {
  public:
    SourceGuard(bool (*fn)(void*, size_t), std::string device)
        : previous_(brindlow::platform::setEntropySource({fn, std::move(device)})) {}
    ~SourceGuard() { brindlow::platform::setEntropySource(previous_); }

  private:
    brindlow::platform::EntropySource previous_;
};
}  // namespace

TEST(SGDRBG, ReseedsFromTheSystemAfter65536Requests) {
    SourceGuard guard(&countingSource, "/dev/urandom");
    Drbg d;
    gSourceCalls = 0;
    ASSERT_EQ(d.instantiate(5, {}, Bytes(16, 3), {}), 0);  // no caller entropy: collected
    EXPECT_EQ(gSourceCalls.load(), 1);
    unsigned char byte;
    for (int i = 0; i < 65535; ++i) ASSERT_EQ(SGDRBG_GenerateRandom(&byte, d.ctx, 1, &d.p), 0);
    EXPECT_EQ(d.ctx->reseedCounter, 65536);
    EXPECT_EQ(gSourceCalls.load(), 1);
    ASSERT_EQ(SGDRBG_GenerateRandom(&byte, d.ctx, 1, &d.p), 0);
    EXPECT_EQ(gSourceCalls.load(), 2);
    EXPECT_EQ(d.ctx->reseedCounter, 2);
}

TEST(SGDRBG, EntropyFailureIsAnError) {
    SourceGuard guard(&failingSource, "/nonexistent/random");
    Drbg d;
    EXPECT_EQ(d.instantiate(5, {}, Bytes(16, 3), {}), SG_DRBG_ERR_NO_ENTROPY);
    // Caller-supplied entropy needs no system source.
    ASSERT_EQ(d.instantiate(5, Bytes(32, 1), Bytes(16, 3), {}), 0);
    EXPECT_EQ(d.reseed({}, {}), SG_DRBG_ERR_NO_ENTROPY);
}
