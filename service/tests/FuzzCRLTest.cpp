// The revocation-list fuzz target over its seed corpus (data/fuzz_crl, made by
// make_crl_corpus.sh) and over cuts and bit flips of each seed, so that the sanitizers see the
// decoder's and the lookup's error paths on every test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit.h"

extern "C" int SGFuzzCRL(const uint8_t* data, size_t size);

namespace {

using testkit::Bytes;

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(BRINDLOW_TEST_DATA) + "/fuzz_crl"))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzCRL, SeedCorpus) {
    const auto files = seeds();
    EXPECT_GE(files.size(), 20u);
    for (const auto& file : files) {
        const Bytes seed = testkit::readBytes(file);
        ASSERT_FALSE(seed.empty()) << file;
        EXPECT_EQ(SGFuzzCRL(seed.data(), seed.size()), 0) << file;
    }
}

// Cuts and bit flips at evenly spread places of each seed (a bounded number per seed, so the
// run stays short under the sanitizers).
TEST(FuzzCRL, CutsAndBitFlipsOfTheSeeds) {
    for (const auto& file : seeds()) {
        const Bytes seed = testkit::readBytes(file);
        const size_t cutStep = std::max<size_t>(1, seed.size() / 40);
        for (size_t n = 0; n < seed.size(); n += cutStep) SGFuzzCRL(seed.data(), n);
        Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / 80) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            SGFuzzCRL(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

}  // namespace
