// Runs every fuzz target (tests/fuzz_*.cpp) over its committed seed corpus and over random and
// mutated inputs, so that the sanitizer build exercises the parsers on every test run. A target
// aborts on a broken invariant; AddressSanitizer stops on any read or write out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int BrindlowFuzz_SnowMessage(const uint8_t* data, size_t size);
extern "C" int BrindlowFuzz_SnowChannel(const uint8_t* data, size_t size);
extern "C" int BrindlowFuzz_SocketFrame(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Target {
    const char* name;
    int (*run)(const uint8_t*, size_t);
    int mutations;
};

std::vector<Bytes> corpus(const char* name) {
    std::vector<Bytes> seeds;
    for (const auto& file : fs::directory_iterator(fs::path(BRINDLOW_TEST_DATA) / name)) {
        std::ifstream in(file.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// One mutation of a seed: the kinds that reach parser edges (length fields set to extremes,
// cuts, repeats, flipped bits, random bytes).
Bytes mutate(const Bytes& seed, std::mt19937& rng) {
    Bytes b = seed;
    auto pick = [&](size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    const int steps = 1 + static_cast<int>(pick(4));
    for (int s = 0; s < steps; ++s) {
        switch (pick(6)) {
            case 0:  // flip a bit
                if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
                break;
            case 1: {  // an extreme 32-bit value at a word boundary
                static const uint32_t values[] = {
                    0, 1, 4, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x04000001, 24};
                if (b.size() >= 4) {
                    const size_t at = pick(b.size() / 4) * 4;
                    const uint32_t v = values[pick(std::size(values))];
                    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
                }
                break;
            }
            case 2:  // cut
                b.resize(pick(b.size() + 1));
                break;
            case 3: {  // repeat a range
                if (b.empty()) break;
                const size_t from = pick(b.size());
                const size_t len = 1 + pick(std::min<size_t>(b.size() - from, 64));
                const Bytes part(b.begin() + from, b.begin() + from + len);
                b.insert(b.begin() + pick(b.size() + 1), part.begin(), part.end());
                break;
            }
            case 4:  // random bytes
                for (size_t i = 0, n = pick(16); i < n; ++i)
                    b.insert(b.begin() + pick(b.size() + 1), static_cast<uint8_t>(rng()));
                break;
            default:  // a byte set to a random value
                if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(rng());
                break;
        }
    }
    return b;
}

class SGFuzzCorpus : public testing::TestWithParam<Target> {};

TEST_P(SGFuzzCorpus, SeedsAndMutationsRunClean) {
    const Target& t = GetParam();
    const std::vector<Bytes> seeds = corpus(t.name);
    ASSERT_GE(seeds.size(), 5u) << t.name;
    for (const auto& seed : seeds) ASSERT_EQ(t.run(seed.data(), seed.size()), 0);
    t.run(nullptr, 0);

    std::mt19937 rng(0x5EED);
    for (int i = 0; i < t.mutations; ++i) {
        Bytes input;
        if (i % 10 == 0) {
            input.resize(std::uniform_int_distribution<size_t>(0, 256)(rng));
            for (auto& byte : input) byte = static_cast<uint8_t>(rng());
        } else {
            input = mutate(seeds[i % seeds.size()], rng);
        }
        ASSERT_EQ(t.run(input.data(), input.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SGFuzzCorpus,
    testing::Values(Target{"fuzz_snowmessage", BrindlowFuzz_SnowMessage, 100000},
                    Target{"fuzz_snowchannel", BrindlowFuzz_SnowChannel, 10000},
                    Target{"fuzz_socketframe", BrindlowFuzz_SocketFrame, 10000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
