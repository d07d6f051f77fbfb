// The CMP reply fuzz target over its seed corpus (data/fuzz_cmp_reply: the scripted
// authority's reply frames, kept by running SGCMPTest with BRINDLOW_CMP_SEED_DIR set) and over
// cuts and bit flips of each seed, with a home folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit.h"

extern "C" int SGFuzzCMPReply(const uint8_t* data, size_t size);

namespace {

using testkit::Bytes;

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(BRINDLOW_TEST_DATA) + "/fuzz_cmp_reply"))
        if (entry.is_regular_file() && entry.path().extension() == ".bin")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzCMPReply : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* home = std::getenv("HOME");
        oldHome_ = home ? home : "";
        ::setenv("HOME", home_.str().c_str(), 1);
    }
    void TearDown() override { ::setenv("HOME", oldHome_.c_str(), 1); }
    testkit::Scratch home_{"cmp-fuzz"};
    std::string oldHome_;
};

TEST_F(FuzzCMPReply, SeedCorpus) {
    const auto files = seeds();
    EXPECT_GE(files.size(), 10u);
    for (const auto& file : files) {
        const Bytes seed = testkit::readBytes(file);
        ASSERT_FALSE(seed.empty()) << file;
        EXPECT_EQ(SGFuzzCMPReply(seed.data(), seed.size()), 0) << file;
    }
}

TEST_F(FuzzCMPReply, CutsAndBitFlipsOfTheSeeds) {
    for (const auto& file : seeds()) {
        const Bytes seed = testkit::readBytes(file);
        const size_t cutStep = std::max<size_t>(1, seed.size() / 20);
        for (size_t n = 0; n < seed.size(); n += cutStep) SGFuzzCMPReply(seed.data(), n);
        Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / 40) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            SGFuzzCMPReply(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

}  // namespace
