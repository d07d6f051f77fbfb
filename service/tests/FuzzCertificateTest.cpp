// Runs the certificate fuzz target over its seed corpus, and over every truncation and a spread
// of bit flips of each seed, so the sanitizers see the decoder's error paths on every test run.
#include <gtest/gtest.h>

#include <filesystem>

#include "ServiceTestUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using namespace servicetest;

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(BRINDLOW_TEST_DATA "/fuzz_certificate"))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzCertificate, SeedCorpus) {
    const auto files = seeds();
    ASSERT_GE(files.size(), 3u);
    for (const auto& file : files) {
        Bytes seed = readFile(file);
        ASSERT_FALSE(seed.empty()) << file;
        EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0) << file;
    }
}

TEST(FuzzCertificate, TruncationsAndBitFlipsOfTheSeeds) {
    for (const auto& file : seeds()) {
        const Bytes seed = readFile(file);
        for (size_t n = 0; n < seed.size(); ++n) LLVMFuzzerTestOneInput(seed.data(), n);
        Bytes mutated = seed;
        for (size_t bit = 0; bit < seed.size() * 8; bit += 9) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

}  // namespace
