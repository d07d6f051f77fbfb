#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <cstring>
#include <random>
#include <vector>

#include "CryptoTestUtil.h"
#include "Entropy.h"
#include "SGCrypto.h"
#include "SGCryptoInternal.h"
#include "SGCryptoTable.h"
#include "SGDRBG.h"
#include "SGDigest.h"
#include "SGRandom.h"

using namespace cryptotest;
using brindlow::crypto::kSelfTestBytes;
using brindlow::crypto::statisticalTest;

namespace {

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

// ---- The table ----

static_assert(SG_CRYPTO_TABLE_SLOTS == 152);
static_assert(SGCryptoSlot_SGCrypto_Initialize == 2 && SGCryptoSlot_SGDigest == 69 &&
              SGCryptoSlot_SGRandom_bytes == 105 && SGCryptoSlot_SGKCDSAPublicKey_Free == 151);
static_assert(SGCryptoSlot_SGDigestContext_New == 62 && SGCryptoSlot_SGDRBG_Reseed == 77 &&
              SGCryptoSlot_SGRandom_add == 104 && SGCryptoSlot_SGCipher_GetInfo == 89);

TEST(SGCryptoTable, FillWritesVersionAndEverySlot) {
    void* table[SG_CRYPTO_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    ASSERT_EQ(SGCryptoWrapper_GetList(table), 0);
    int64_t slot0;
    std::memcpy(&slot0, &table[0], sizeof slot0);
    EXPECT_EQ(slot0, 2);  // the version in the first four bytes, the rest zero
    for (int i = 1; i < SG_CRYPTO_TABLE_SLOTS; ++i) EXPECT_NE(table[i], nullptr) << "slot " << i;
    EXPECT_EQ(SGCryptoWrapper_GetList(nullptr), 11);

    void* again[SG_CRYPTO_TABLE_SLOTS];
    std::memset(again, 0x77, sizeof again);
    ASSERT_EQ(SGCryptoWrapper_GetList(again), 0);
    EXPECT_EQ(std::memcmp(table, again, sizeof table), 0);
    ASSERT_EQ(SGCryptoWrapper_GetList(Crypto), 0);
    EXPECT_EQ(std::memcmp(table, Crypto, sizeof table), 0);
}

TEST(SGCryptoTable, SlotsHoldTheirFunctions) {
    void* t[SG_CRYPTO_TABLE_SLOTS];
    ASSERT_EQ(SGCryptoWrapper_GetList(t), 0);
    const struct {
        int slot;
        void* fn;
    } cases[] = {
        {1, reinterpret_cast<void*>(&SGCrypto_GetVersion)},
        {2, reinterpret_cast<void*>(&SGCrypto_Initialize)},
        {3, reinterpret_cast<void*>(&SGCrypto_Finalize)},
        {4, reinterpret_cast<void*>(&SGCrypto_SetDebugCallback)},
        {5, reinterpret_cast<void*>(&SGCrypto_SetKCMVPModule)},
        {62, reinterpret_cast<void*>(&SGDigestContext_New)},
        {66, reinterpret_cast<void*>(&SGDigestContext_Free)},
        {69, reinterpret_cast<void*>(&SGDigest)},
        {72, reinterpret_cast<void*>(&SGDigest_Final)},
        {73, reinterpret_cast<void*>(&SGDRBGContext_New)},
        {77, reinterpret_cast<void*>(&SGDRBG_Reseed)},
        {104, reinterpret_cast<void*>(&SGRandom_add)},
        {105, reinterpret_cast<void*>(&SGRandom_bytes)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
    EXPECT_STREQ(SG_CRYPTO_FN(t, SGCrypto_GetVersion)(), "4.2.1.0");
    unsigned char out[32];
    ASSERT_EQ(SG_CRYPTO_FN(t, SGDigest)(out, SG_DIGEST_SHA256,
                                        reinterpret_cast<const unsigned char*>("abc"), 3),
              0);
    EXPECT_EQ(hex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(SG_CRYPTO_FN(t, SGRandom_bytes)(out, 32), 0);
}

// ---- Initialisation and the self-test ----

TEST(SGCrypto, FailingSourceEmptiesTheTableUntilAGoodOneReturns) {
    ASSERT_EQ(SGCrypto_Finalize(), 0);
    {
        SourceGuard guard(&failingSource, "/nonexistent/random");
        EXPECT_EQ(SGCrypto_Initialize(), 0);  // the failure is only recorded
        void* table[SG_CRYPTO_TABLE_SLOTS];
        std::memset(table, 0, sizeof table);
        EXPECT_EQ(SGCryptoWrapper_GetList(table), 95);
        for (void* slot : table) EXPECT_EQ(slot, nullptr);
        unsigned char b[8];
        EXPECT_EQ(SGRandom_bytes(b, 8), 79);
        EXPECT_EQ(SGCrypto_StatisticalTest(), 79);
    }
    void* table[SG_CRYPTO_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    EXPECT_EQ(SGCryptoWrapper_GetList(table), 0);  // retries the whole initialisation
    EXPECT_EQ(table[SGCryptoSlot_SGRandom_bytes], reinterpret_cast<void*>(&SGRandom_bytes));
    EXPECT_EQ(SGCrypto_StatisticalTest(), 0);
}

namespace {

// Draws scripted for the redraw policy: each call hands out the next sample.
std::vector<std::vector<unsigned char>> gScript;
size_t gDraws = 0;
int scriptedDraw(unsigned char* buffer, int length) {
    if (gDraws >= gScript.size()) return 79;
    const auto& s = gScript[gDraws++];
    if (s.empty()) return 79;
    std::memcpy(buffer, s.data(), static_cast<size_t>(length));
    return 0;
}

std::vector<unsigned char> goodSample(uint32_t seed) {
    for (;; ++seed) {
        std::mt19937 rng(seed);
        std::vector<unsigned char> s(kSelfTestBytes);
        for (auto& b : s) b = static_cast<unsigned char>(rng());
        if (statisticalTest(s.data()) == 0) return s;
    }
}

}  // namespace

TEST(SGCrypto, HealthCheckRedrawsBeforeRefusing) {
    const std::vector<unsigned char> bad(kSelfTestBytes, 0), good = goodSample(1);
    struct Case {
        std::vector<std::vector<unsigned char>> script;
        int result;
        size_t draws;
    } cases[] = {
        {{good}, 0, 1},
        {{bad, good}, 0, 2},
        {{bad, bad, good}, 0, 3},
        {{bad, bad, bad, good}, -1, 3},  // three failed samples: a generator that really fails
        {{{}}, 79, 1},                   // the generator's own error is not redrawn
        {{bad, {}}, 79, 2},
    };
    for (const auto& c : cases) {
        gScript = c.script;
        gDraws = 0;
        EXPECT_EQ(brindlow::crypto::checkRandomHealth(&scriptedDraw), c.result);
        EXPECT_EQ(gDraws, c.draws);
    }
}

namespace {

// A 20,000-bit sample built bit by bit, least significant bit of each byte first.
class Sample {
  public:
    explicit Sample(std::vector<int> bits) : bits_(std::move(bits)) {
        EXPECT_EQ(bits_.size(), 20000u);
    }
    std::vector<unsigned char> bytes() const {
        std::vector<unsigned char> out(kSelfTestBytes, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
        return out;
    }
    int test() const { return statisticalTest(bytes().data()); }

  private:
    std::vector<int> bits_;
};

// Counts of runs of length 1, 2, 3, 4, 5 and 6+ among n runs whose lengths are geometric with
// continuation q, as in a random sample (q = 0.5, or the share of the value when biased).
std::vector<int> geometric(int n, double q) {
    std::vector<int> c(6);
    int used = 0;
    for (int k = 0; k < 5; ++k)
        used += c[k] = static_cast<int>(std::lround(n * (1 - q) * std::pow(q, k)));
    c[5] = n - used;
    return c;
}

int bitsAtLeast(const std::vector<int>& c) {
    int bits = 0;
    for (int k = 0; k < 6; ++k) bits += (k + 1) * c[k];
    return bits;
}

// Counts with one class set to `count` and the others scaled so that both values' runs still
// fill about 20,000 bits.
std::vector<int> withClass(int cls, int count) {
    const std::vector<int> typical = geometric(5000, 0.5);
    const double all = bitsAtLeast(typical), len = cls + 1, target = 19690;
    const double scale = (target - count * len - count * all / 5000) /
                         ((all - typical[cls] * len) + (5000 - typical[cls]) * all / 5000);
    std::vector<int> c(6);
    for (int k = 0; k < 6; ++k)
        c[k] = k == cls ? count : static_cast<int>(std::lround(typical[k] * scale));
    return c;
}

int total(const std::vector<int>& c) {
    return std::accumulate(c.begin(), c.end(), 0);
}

double poker(const std::vector<unsigned char>& s) {
    long f[16] = {};
    for (unsigned char b : s) {
        ++f[b & 15];
        ++f[b >> 4];
    }
    long sum = 0;
    for (long v : f) sum += v * v;
    return 0.0032 * static_cast<double>(sum) - 5000;
}

// Alternating runs (zeros first) with the given counts per class, shuffled, then a single zero
// that ends the sample as an open run. The 6+ runs grow until the ones add up to `wantOnes` (or
// to about half when 0); `longZero`/`longOne` replace one 6+ run by a run of that length. Of the
// shuffles, the first whose poker value is unremarkable is taken, so that only the property
// under test is at a bound.
Sample fromRuns(std::vector<int> zeros, std::vector<int> ones, int wantOnes = 0, int longZero = 0,
                int longOne = 0) {
    EXPECT_EQ(total(zeros), total(ones));
    auto lengths = [](const std::vector<int>& c, int longRun) {
        std::vector<int> l;
        for (int k = 0; k < 6; ++k)
            for (int i = 0; i < c[k]; ++i) l.push_back(k + 1);
        if (longRun) *std::find(l.begin(), l.end(), 6) = longRun;
        return l;
    };
    std::vector<int> z = lengths(zeros, longZero), o = lengths(ones, longOne);
    const int pad = 1;
    const int base0 = std::accumulate(z.begin(), z.end(), 0),
              base1 = std::accumulate(o.begin(), o.end(), 0);
    const int target1 = wantOnes ? wantOnes : std::clamp(10000, base1, 20000 - pad - base0);
    int grow[2] = {20000 - pad - target1 - base0, target1 - base1};
    EXPECT_GE(grow[0], 0);
    EXPECT_GE(grow[1], 0);
    std::vector<int>* lists[2] = {&z, &o};
    for (int v = 0; v < 2; ++v) {
        for (size_t i = 0; grow[v] > 0; i = (i + 1) % lists[v]->size()) {
            int& len = (*lists[v])[i];
            if (len >= 6 && len < 16) {
                ++len;
                --grow[v];
            }
        }
    }
    for (uint32_t seed = 1;; ++seed) {
        std::mt19937 rng(seed);
        std::shuffle(z.begin(), z.end(), rng);
        std::shuffle(o.begin(), o.end(), rng);
        std::vector<int> bits;
        for (size_t i = 0; i < z.size(); ++i) {
            bits.insert(bits.end(), static_cast<size_t>(z[i]), 0);
            bits.insert(bits.end(), static_cast<size_t>(o[i]), 1);
        }
        bits.insert(bits.end(), static_cast<size_t>(pad), 0);
        Sample s(bits);
        const double x = poker(s.bytes());
        if ((x > 6 && x < 40) || seed == 50) return s;
    }
}

}  // namespace

TEST(SGCryptoSelfTest, MonobitBounds) {
    const struct {
        int ones, expected;
    } cases[] = {{9725, -1}, {9726, 0}, {10000, 0}, {10274, 0}, {10275, -1}};
    for (const auto& c : cases) {
        // Runs as a source biased to this share of ones would give them.
        const double q = c.ones / 20000.0;
        const int n = static_cast<int>(std::lround(20000 * q * (1 - q)));
        EXPECT_EQ(fromRuns(geometric(n, 1 - q), geometric(n, q), c.ones).test(), c.expected)
            << c.ones << " ones";
    }
}

TEST(SGCryptoSelfTest, RunBounds) {
    const struct {
        int cls, low, high, code;
    } bounds[] = {{0, 2267, 2733, -1}, {1, 1079, 1421, -2}, {2, 502, 749, -3},
                  {3, 223, 402, -3},   {4, 90, 223, -4},    {5, 90, 223, -5}};
    for (const auto& b : bounds) {
        for (int count : {b.low - 1, b.low, b.high, b.high + 1}) {
            const bool inside = count >= b.low && count <= b.high;
            const std::vector<int> tested = withClass(b.cls, count);
            const std::vector<int> other = geometric(total(tested), 0.5);
            // Zero runs are checked before one runs; both report the same codes.
            EXPECT_EQ(fromRuns(tested, other).test(), inside ? 0 : b.code)
                << "zero runs of class " << b.cls + 1 << ": " << count;
            EXPECT_EQ(fromRuns(other, tested).test(), inside ? 0 : b.code)
                << "one runs of class " << b.cls + 1 << ": " << count;
        }
    }
}

TEST(SGCryptoSelfTest, LongRunBounds) {
    const std::vector<int> runs = geometric(5000, 0.5);
    EXPECT_EQ(fromRuns(runs, runs, 0, 33, 0).test(), 0);
    EXPECT_EQ(fromRuns(runs, runs, 0, 34, 0).test(), -6);
    EXPECT_EQ(fromRuns(runs, runs, 0, 0, 33).test(), 0);
    EXPECT_EQ(fromRuns(runs, runs, 0, 0, 34).test(), -6);
}

namespace {

long pokerSum(const std::vector<unsigned char>& s) {
    long f[16] = {};
    for (unsigned char b : s) {
        ++f[b & 15];
        ++f[b >> 4];
    }
    long sum = 0;
    for (long v : f) sum += v * v;
    return sum;
}

// Moves nibble values around a passing sample until the sum of squared nibble counts is
// exactly `target` (it is always even, since the counts add up to 5,000).
std::vector<unsigned char> withPokerSum(long target, std::vector<unsigned char> s, uint32_t seed) {
    std::mt19937 rng(seed);
    long f[16] = {};
    for (unsigned char b : s) {
        ++f[b & 15];
        ++f[b >> 4];
    }
    long sum = pokerSum(s);
    for (int step = 0; step < 200000 && sum != target; ++step) {
        const size_t pos = rng() % (2 * s.size());
        const int shift = (pos & 1) ? 4 : 0;
        unsigned char& byte = s[pos / 2];
        const int a = (byte >> shift) & 15;
        // Closer if possible; near the target, any step that stays near (some sums need two).
        int best = -1;
        long bestSum = sum;
        for (int b = 0; b < 16; ++b) {
            if (b == a) continue;
            const long next = sum + 2 * (f[b] - f[a] + 1);
            if (std::labs(next - target) < std::labs(bestSum - target)) {
                best = b;
                bestSum = next;
            }
        }
        if (best < 0 && std::labs(sum - target) <= 64) {
            const int b = static_cast<int>(rng() % 16);
            const long next = sum + 2 * (f[b] - f[a] + 1);
            if (b != a && std::labs(next - target) <= 64) {
                best = b;
                bestSum = next;
            }
        }
        if (best < 0) continue;
        --f[a];
        ++f[best];
        byte = static_cast<unsigned char>((byte & ~(15 << shift)) | (best << shift));
        sum = bestSum;
    }
    EXPECT_EQ(sum, target);
    return s;
}

}  // namespace

// X = 0.0032 * sum - 5000 must lie in [2.16, 46.17]: the sums 1,563,176 and 1,576,928 are the
// last even sums inside, 1,563,174 and 1,576,930 the first outside.
TEST(SGCryptoSelfTest, PokerBounds) {
    const struct { long inside, outside; } bounds[] = {{1563176, 1563174}, {1576928, 1576930}};
    for (const auto& b : bounds) {
        // The sample just outside is the one just inside with a few nibbles changed.
        const std::vector<unsigned char> in = withPokerSum(b.inside, goodSample(11), 11);
        const std::vector<unsigned char> out = withPokerSum(b.outside, in, 12);
        ASSERT_EQ(pokerSum(in), b.inside);
        ASSERT_EQ(pokerSum(out), b.outside);
        EXPECT_EQ(statisticalTest(in.data()), 0) << b.inside;
        EXPECT_EQ(statisticalTest(out.data()), -1) << b.outside;
        size_t changed = 0;
        for (size_t i = 0; i < in.size(); ++i) changed += in[i] != out[i];
        EXPECT_LE(changed, 16u);
    }
}

// ---- Memory, markers, version ----

TEST(SGCrypto, CleanseAndSafeFree) {
    unsigned char buf[16];
    std::memset(buf, 0xA5, sizeof buf);
    SGCrypto_cleanse(buf, 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(buf[i], 0) << i;
    for (int i = 13; i < 16; ++i) EXPECT_EQ(buf[i], 0xA5) << i;
    SGCrypto_cleanse(buf + 13, 0);
    EXPECT_EQ(buf[13], 0xA5);
    SGCrypto_cleanse(nullptr, 5);
    void* p = SGCrypto_malloc(64);
    ASSERT_NE(p, nullptr);
    SGCrypto_safeFree(p, 64);
    SGCrypto_safeFree(nullptr, 8);
    EXPECT_EQ(htonuint32(0x01020304u), 0x04030201u);
    EXPECT_STREQ(SGCrypto_GetVersion(), "4.2.1.0");
    EXPECT_EQ(SGCrypto_SetDebugCallback(nullptr), 18);
    EXPECT_EQ(SGCrypto_SetDebugCallback(reinterpret_cast<void*>(&SGCrypto_GetVersion)), 18);
}

TEST(SGCrypto, StructureMarkers) {
    const int kinds[] = {0x8F01, 0x8F02, 0x8F03, 0x8F04, 0xDF01, 0xDF02, 0xDF03};
    const size_t sizes[] = {4156, 4248, 4120, 4176, 10668, 4120, 12608};
    for (int i = 0; i < 7; ++i) {
        std::vector<unsigned char> record(sizes[i], 0xEE);
        ASSERT_EQ(SGCrypto_Structure_Init(record.data(), kinds[i]), 0);
        const unsigned char* marker = record.data() + sizes[i] - 4104;
        uint32_t words[2];
        std::memcpy(words, marker, 8);
        EXPECT_EQ(words[0], 0x637Fu);
        EXPECT_EQ(words[1], static_cast<uint32_t>(kinds[i]));
        EXPECT_EQ(SGCrypto_Structure_IsLegacy(marker), 0);
        EXPECT_EQ(record[sizes[i] - 4105], 0xEE);  // nothing before the marker changes
        EXPECT_EQ(SGCrypto_Structure_Fini(record.data(), kinds[i]), 0);
    }
    unsigned char record[64] = {};
    EXPECT_EQ(SGCrypto_Structure_Init(record, 0xDF04), 21);
    EXPECT_EQ(SGCrypto_Structure_Init(record, 0x1234), 21);
    EXPECT_EQ(SGCrypto_Structure_Fini(record, 0x1234), 21);
    const uint32_t reserved[2] = {0x637F, 0xDF04}, foreign[2] = {0x637F, 0xDF05},
                   wrongMagic[2] = {0x637E, 0xDF02}, zero[2] = {0, 0};
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(reserved), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(foreign), 1);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(wrongMagic), 1);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(zero), 1);
    // A digest context the library initialised is its own.
    SGDigestContext ctx{};
    ASSERT_EQ(SGDigestContext_Init(&ctx, SG_DIGEST_SHA256), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&ctx.marker), 1);
    SGDigestContext_Clear(&ctx);
}

// ---- The validated-module loader ----

namespace {

struct TestModule {
    void* handle = dlopen(CRYPTO_TEST_MODULE, RTLD_NOW);
    void configure(const char* version, int nullSlot = 0, int listResult = 0) {
        reinterpret_cast<void (*)(const char*, int, int)>(dlsym(handle, "testModuleConfigure"))(
            version, nullSlot, listResult);
    }
    int calls(int slot) {
        return reinterpret_cast<int (*)(int)>(dlsym(handle, "testModuleCalls"))(slot);
    }
    ~TestModule() {
        // Back to the library's own algorithms for the tests that follow.
        SGCrypto_Finalize();
        SGCrypto_Initialize();
        dlclose(handle);
    }
};

}  // namespace

TEST(SGCryptoModule, AbsentLibraryLeavesTheOwnAlgorithms) {
    EXPECT_EQ(SGCrypto_SetKCMVPModule(nullptr), 998);
    EXPECT_EQ(brindlow::crypto::moduleTable(), nullptr);
    void* self = dlopen(nullptr, RTLD_NOW);  // a library without the list entry
    EXPECT_EQ(SGCrypto_SetKCMVPModule(self), 998);
    dlclose(self);
    EXPECT_EQ(brindlow::crypto::moduleTable(), nullptr);
}

TEST(SGCryptoModule, RefusedModules) {
    TestModule m;
    ASSERT_NE(m.handle, nullptr) << dlerror();
    m.configure("QUENDRIL 2.0");
    EXPECT_EQ(SGCrypto_SetKCMVPModule(m.handle), 997);
    m.configure("QUENDRIL 1.", 0);
    EXPECT_EQ(SGCrypto_SetKCMVPModule(m.handle), 997);
    m.configure("QUENDRIL 1.0", 44);
    EXPECT_EQ(SGCrypto_SetKCMVPModule(m.handle), 997);
    EXPECT_EQ(m.calls(1), 0);  // an incomplete table is refused before its version is asked
    m.configure("QUENDRIL 1.0", 0, 7);
    EXPECT_EQ(SGCrypto_SetKCMVPModule(m.handle), 7);
    EXPECT_EQ(brindlow::crypto::moduleTable(), nullptr);
    unsigned char out[32];
    ASSERT_EQ(SGDigest(out, SG_DIGEST_SHA256, reinterpret_cast<const unsigned char*>("abc"), 3), 0);
    EXPECT_EQ(hex(out, 4), "ba7816bf");
}

TEST(SGCryptoModule, AcceptedModuleTakesItsOperations) {
    ASSERT_EQ(SGCrypto_Initialize(), 0);
    TestModule m;
    ASSERT_NE(m.handle, nullptr) << dlerror();
    m.configure("QUENDRIL 1.0.2");
    ASSERT_EQ(SGCrypto_SetKCMVPModule(m.handle), 0);
    EXPECT_EQ(SGCrypto_SetKCMVPModule(m.handle), 17);
    EXPECT_EQ(SGCrypto_SetKCMVPModule(nullptr), 17);

    const unsigned char msg[] = "abc";
    unsigned char out[64] = {};
    ASSERT_EQ(SGDigest(out, SG_DIGEST_SHA256, msg, 3), 0);
    EXPECT_EQ(hex(out, 4), "d5d5d5d5");  // the module's answer for id 5
    EXPECT_EQ(m.calls(7), 1);
    ASSERT_EQ(SGDigest(out, SG_DIGEST_SHA1, msg, 3), 0);  // SHA-1 stays in the library
    EXPECT_EQ(hex(out, 4), "a9993e36");
    EXPECT_EQ(m.calls(7), 1);

    SGDigestContext ctx{};
    ASSERT_EQ(SGDigestContext_Init(&ctx, SG_DIGEST_SHA512), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&ctx.marker), 0);
    EXPECT_EQ(m.calls(5), 1);
    EXPECT_EQ(SGDigest_Init(&ctx), 0);
    EXPECT_EQ(SGDigest_Update(&ctx, msg, 3), 0);
    EXPECT_EQ(SGDigest_Final(&ctx, out), 0);
    EXPECT_EQ(SGDigestContext_Clear(&ctx), 0);
    EXPECT_EQ(m.calls(8), 1);
    EXPECT_EQ(m.calls(9), 1);
    EXPECT_EQ(m.calls(10), 1);
    EXPECT_EQ(m.calls(6), 1);

    unsigned char random[8];
    ASSERT_EQ(SGRandom_bytes(random, 8), 0);
    EXPECT_EQ(hex(random, 8), "abababababababab");
    // The library's own draws never go to the module.
    ASSERT_EQ(_SGRandom_bytes(random, 8), 0);
    EXPECT_NE(hex(random, 8), "abababababababab");

    // Finalising forgets the module.
    SGCrypto_Finalize();
    EXPECT_EQ(brindlow::crypto::moduleTable(), nullptr);
    SGCrypto_Initialize();
    ASSERT_EQ(SGDigest(out, SG_DIGEST_SHA256, msg, 3), 0);
    EXPECT_EQ(hex(out, 4), "ba7816bf");
}
