// Helpers of the tests that run a fuzz target over its committed seeds and their mutations.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"

namespace fuzztest {

using cryptotest::Bytes;

// Every file of a seed folder below the test data.
inline std::vector<Bytes> seeds(const std::string& folder) {
    const std::string dir = std::string(BRINDLOW_TEST_DATA) + "/" + folder;
    std::vector<Bytes> out;
    DIR* d = opendir(dir.c_str());
    EXPECT_NE(d, nullptr) << dir;
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
        out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    closedir(d);
    return out;
}

// One to four flipped, replaced, inserted or cut bytes, favouring length bytes.
inline void mutate(Bytes& b, std::mt19937& rng) {
    for (int m = 0, n = 1 + static_cast<int>(rng() % 4); m < n; ++m) {
        const size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 5) {
            case 0:
                if (!b.empty()) b[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
                break;
            case 1:
                if (!b.empty()) b[at] = static_cast<unsigned char>(rng());
                break;
            case 2:
                b.resize(at);
                break;
            case 3:
                b.insert(b.begin() + static_cast<long>(at), static_cast<unsigned char>(rng()));
                break;
            default:
                if (!b.empty()) b[at] = static_cast<unsigned char>(0x80 + rng() % 8);
                break;
        }
    }
}

// Runs target over the seeds and count mutations, each in an exact-size heap copy so that a
// read past the end is caught; the reader's notes on standard output are swallowed.
template <typename Target>
void run(const std::string& folder, size_t minimumSeeds, int count, Target target) {
    std::vector<Bytes> corpus = seeds(folder);
    ASSERT_GE(corpus.size(), minimumSeeds);
    std::mt19937 rng(9);
    testing::internal::CaptureStdout();
    for (const Bytes& seed : corpus) target(seed.data(), seed.size());
    for (int i = 0; i < count; ++i) {
        Bytes b = corpus[rng() % corpus.size()];
        mutate(b, rng);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() ? b.size() : 1]);
        if (!b.empty()) std::memcpy(exact.get(), b.data(), b.size());
        target(exact.get(), b.size());
    }
    testing::internal::GetCapturedStdout();
}

}  // namespace fuzztest
