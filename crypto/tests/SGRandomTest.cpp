#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CryptoTestUtil.h"
#include "Entropy.h"
#include "SGCrypto.h"
#include "SGCryptoInternal.h"
#include "SGDRBG.h"
#include "SGDigest.h"
#include "SGRandom.h"

using namespace cryptotest;

namespace {

bool failingSource(void*, size_t) {
    return false;
}

class SourceGuard {
  public:
    SourceGuard(bool (*fn)(void*, size_t), std::string device)
        : previous_(brindlow::platform::setEntropySource({fn, std::move(device)})) {}
    ~SourceGuard() { brindlow::platform::setEntropySource(previous_); }

  private:
    brindlow::platform::EntropySource previous_;
};

// The process generator's next draw as a copy of its state predicts it.
Bytes predict(SGDRBGContext& copy, size_t n, const Bytes& additional) {
    SGDRBGParameter p{};
    p.digestId = SG_DIGEST_SHA256;
    p.generateStrength = SG_DRBG_STRENGTH_HIGHEST;
    p.generatePredictionResistance = SG_DRBG_NO_PREDICTION_RESISTANCE;
    p.additionalInput = additional.empty() ? nullptr : additional.data();
    p.additionalInputLength = static_cast<uint32_t>(additional.size());
    Bytes out(n);
    EXPECT_EQ(SGDRBG_GenerateRandom(out.data(), &copy, static_cast<uint32_t>(n), &p), 0);
    return out;
}

}  // namespace

TEST(SGRandom, NothingBeforeInitialisation) {
    ASSERT_EQ(SGCrypto_Finalize(), 0);
    EXPECT_EQ(brindlow::crypto::processGenerator(), nullptr);
    unsigned char b[4];
    EXPECT_EQ(SGRandom_bytes(b, 4), 79);
    EXPECT_EQ(_SGRandom_bytes(b, 4), 79);
    EXPECT_EQ(SGRandom_add(b, 4), -1);
    EXPECT_EQ(_SGRandom_add(b, 4), -1);
    ASSERT_EQ(SGCrypto_Initialize(), 0);
    EXPECT_EQ(SGRandom_bytes(b, 4), 0);
}

TEST(SGRandom, DrawLimitsAndArguments) {
    ASSERT_EQ(SGCrypto_Initialize(), 0);
    std::vector<unsigned char> big(8193);
    EXPECT_EQ(SGRandom_bytes(big.data(), 8192), 0);
    EXPECT_EQ(SGRandom_bytes(big.data(), 8193), 307);
    EXPECT_EQ(SGRandom_bytes(big.data(), -1), 11);
    EXPECT_EQ(SGRandom_bytes(nullptr, 8), 301);
    EXPECT_EQ(SGRandom_pseudo_bytes(big.data(), 16), 0);
    EXPECT_EQ(SGRandom_add(nullptr, 4), 11);
    EXPECT_EQ(SGRandom_add(big.data(), -4), 11);
    EXPECT_EQ(SGRandom_bytes(big.data(), 0), 0);
}

// The additional input is copied when it is given and serves exactly the next draw.
TEST(SGRandom, AdditionalInputServesOneDraw) {
    ASSERT_EQ(SGCrypto_Initialize(), 0);
    for (auto add : {&SGRandom_add, &_SGRandom_add}) {
        SGDRBGContext copy = *brindlow::crypto::processGenerator();
        auto* given = static_cast<unsigned char*>(std::malloc(24));
        std::memset(given, 0x42, 24);
        const Bytes expectedInput(given, given + 24);
        ASSERT_EQ(add(given, 24), 0);
        std::memset(given, 0, 24);
        std::free(given);  // kept pointers would be read after free here
        unsigned char first[32], second[32];
        ASSERT_EQ(SGRandom_bytes(first, 32), 0);
        ASSERT_EQ(_SGRandom_bytes(second, 32), 0);
        EXPECT_EQ(hex(first, 32), hex(predict(copy, 32, expectedInput)));
        EXPECT_EQ(hex(second, 32), hex(predict(copy, 32, {})));
    }
}

// Many threads drawing at once through every entry: no draw repeats, nothing is corrupted.
TEST(SGRandom, ConcurrentDrawsAreDistinct) {
    ASSERT_EQ(SGCrypto_Initialize(), 0);
    constexpr int kThreads = 8, kDraws = 400;
    std::vector<std::vector<std::string>> draws(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &draws, &failures] {
            unsigned char buf[16];
            for (int i = 0; i < kDraws; ++i) {
                int r;
                if (i % 3 == 0) {
                    const unsigned char extra[8] = {static_cast<unsigned char>(t),
                                                    static_cast<unsigned char>(i)};
                    r = (t % 2 ? SGRandom_add : _SGRandom_add)(extra, sizeof extra);
                    if (r) ++failures[t];
                }
                r = (i % 2 ? SGRandom_bytes : _SGRandom_bytes)(buf, sizeof buf);
                if (r) ++failures[t];
                draws[t].emplace_back(reinterpret_cast<char*>(buf), sizeof buf);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::string> all;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        all.insert(draws[t].begin(), draws[t].end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kDraws));
}

TEST(SGEntropy, CollectorFoldsFiltersAndWraps) {
    unsigned char buffer[4] = {};
    SGEntropyCollector c{buffer, 0, 4};
    const unsigned char bytes[] = {0x01, 0x00, 0xFF, 0x02, 0x0A, 0x20, 0x03};
    EXPECT_EQ(SGEntropy_Add(&c, bytes, sizeof bytes, SG_ENTROPY_SKIP_00_FF, "x"), 0);
    // 0x00 and 0xFF skipped without advancing: 01 02 0A 20 03 fold into four bytes.
    EXPECT_EQ(hex(buffer, 4), "02020a20");  // the fifth byte wraps onto the first
    EXPECT_EQ(c.position, 1u);
    std::memset(buffer, 0, 4);
    c.position = 0;
    EXPECT_EQ(SGEntropy_Add(&c, bytes, sizeof bytes, SG_ENTROPY_SKIP_0A_20, "x"), 0);
    // Newline and space skipped: 01 00 FF 02 03.
    EXPECT_EQ(hex(buffer, 4), "0200ff02");
    std::memset(buffer, 0, 4);
    c.position = 0;
    EXPECT_EQ(SGEntropy_Add(&c, bytes, sizeof bytes, SG_ENTROPY_ALL, "x"), 0);
    EXPECT_EQ(hex(buffer, 4), "0b20fc02");  // 01^0A, 00^20, FF^03, 02
    EXPECT_EQ(c.position, 3u);
    EXPECT_EQ(SGEntropy_Add(&c, nullptr, 4, SG_ENTROPY_ALL, "x"), 0);
    EXPECT_EQ(SGEntropy_Add(nullptr, bytes, 4, SG_ENTROPY_ALL, "x"), 0);
    EXPECT_EQ(c.position, 3u);
    EXPECT_EQ(SGEntropy_SetLevel(1), 0);
    EXPECT_EQ(SGEntropy_SetLevel(2), 0);
    EXPECT_EQ(SGEntropy_SetLevel(3), -1);
}

namespace {
bool patternSource(void* buffer, size_t length) {
    for (size_t i = 0; i < length; ++i)
        static_cast<unsigned char*>(buffer)[i] = static_cast<unsigned char>(i);
    return true;
}
}  // namespace

TEST(SGEntropy, NeedsTheSystemsRandomness) {
    unsigned char buffer[256] = {};
    {
        SourceGuard guard(&failingSource, "/nonexistent/random");
        EXPECT_EQ(SGEntropy(buffer, sizeof buffer), SG_DRBG_ERR_NO_ENTROPY);
    }
    {
        // A directory in the device's place contributes its names but is no random source.
        SourceGuard guard(&failingSource, "/proc/self");
        EXPECT_EQ(SGEntropy(buffer, sizeof buffer), SG_DRBG_ERR_NO_ENTROPY);
    }
    {
        SourceGuard guard(&failingSource, "/dev/urandom");
        EXPECT_EQ(SGEntropy(buffer, sizeof buffer), 0);
    }
    {
        SourceGuard guard(&patternSource, "/nonexistent/random");
        EXPECT_EQ(SGEntropy(buffer, sizeof buffer), 0);
    }
    EXPECT_EQ(SGEntropy(buffer, sizeof buffer), 0);
}

namespace {
uint32_t step(uint32_t s) {
    return (s >> 1) ^ ((s & 1) ? 0xD0000001u : 0u);
}
}  // namespace

TEST(SGLFSR, WritesConsecutiveStatesAndEveryByte) {
    EXPECT_EQ(SGLFSR_GenerateRandom(nullptr, 8), -1);
    unsigned char eight[8];
    ASSERT_EQ(SGLFSR_GenerateRandom(eight, 8), 0);
    uint32_t w1, w2;
    std::memcpy(&w1, eight, 4);
    std::memcpy(&w2, eight + 4, 4);
    EXPECT_EQ(w2, step(w1));

    unsigned char six[8];
    std::memset(six, 0xEE, sizeof six);
    ASSERT_EQ(SGLFSR_GenerateRandom(six, 6), 0);
    std::memcpy(&w1, six, 4);
    const uint32_t next = step(w1);
    EXPECT_EQ(std::memcmp(six + 4, &next, 2), 0);  // the tail is written too
    EXPECT_EQ(six[6], 0xEE);
    EXPECT_EQ(SGLFSR_GenerateRandom(six, 0), 0);
}
