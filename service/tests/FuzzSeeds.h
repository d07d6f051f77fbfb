// Runs a fuzz target over its committed seed corpus and over cuts and bit flips of each seed, so
// that the sanitizers see a parser's error paths on every test run.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit.h"

namespace fuzzseeds {

using Target = int (*)(const uint8_t*, size_t);

inline std::vector<std::filesystem::path> seeds(const std::string& corpus) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(BRINDLOW_TEST_DATA) + "/" + corpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Every seed as it is: the target must answer 0.
inline void runSeeds(const std::string& corpus, Target run, size_t minimumSeeds) {
    const auto files = seeds(corpus);
    EXPECT_GE(files.size(), minimumSeeds) << corpus;
    for (const auto& file : files) {
        const testkit::Bytes seed = testkit::readBytes(file);
        ASSERT_FALSE(seed.empty()) << file;
        EXPECT_EQ(run(seed.data(), seed.size()), 0) << file;
    }
}

// About cuts cuts and flips bit flips at evenly spread places of each seed; the target's own
// checks and the sanitizers are the assertions.
inline void runCutsAndFlips(const std::string& corpus, Target run, size_t cuts, size_t flips) {
    for (const auto& file : seeds(corpus)) {
        const testkit::Bytes seed = testkit::readBytes(file);
        const size_t cutStep = std::max<size_t>(1, seed.size() / cuts);
        for (size_t n = 0; n < seed.size(); n += cutStep) run(seed.data(), n);
        testkit::Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / flips) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            run(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
}

}  // namespace fuzzseeds
