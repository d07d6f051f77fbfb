// The secure-channel fuzz targets over their seed corpora (data/fuzz_secure_record and
// data/fuzz_secure_handshake, made by make_channel_corpus.sh from the golden transcript) and
// over cuts and bit flips of each seed, so that the sanitizers see the record parser's and the
// server handshake's error paths on every test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit.h"

extern "C" int SGFuzzSecureRecord(const uint8_t* data, size_t size);
extern "C" int SGFuzzSecureHandshake(const uint8_t* data, size_t size);

namespace {

using testkit::Bytes;

struct Target {
    const char* corpus;
    int (*run)(const uint8_t*, size_t);
    size_t minimumSeeds;
    size_t cuts, flips;  // per seed: a server handshake costs an RSA decryption
};
const Target kTargets[] = {{"fuzz_secure_record", &SGFuzzSecureRecord, 20, 40, 96},
                           {"fuzz_secure_handshake", &SGFuzzSecureHandshake, 14, 16, 48}};

std::vector<std::filesystem::path> seeds(const char* corpus) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(BRINDLOW_TEST_DATA) + "/" + corpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzSecureChannel, SeedCorpora) {
    for (const Target& t : kTargets) {
        const auto files = seeds(t.corpus);
        EXPECT_GE(files.size(), t.minimumSeeds) << t.corpus;
        for (const auto& file : files) {
            const Bytes seed = testkit::readBytes(file);
            ASSERT_FALSE(seed.empty()) << file;
            EXPECT_EQ(t.run(seed.data(), seed.size()), 0) << file;
        }
    }
}

// Cuts and bit flips at evenly spread places of each seed (a bounded number per seed, so the
// run stays short under the sanitizers).
TEST(FuzzSecureChannel, CutsAndBitFlipsOfTheSeeds) {
    for (const Target& t : kTargets) {
        for (const auto& file : seeds(t.corpus)) {
            const Bytes seed = testkit::readBytes(file);
            const size_t cutStep = std::max<size_t>(1, seed.size() / t.cuts);
            for (size_t n = 0; n < seed.size(); n += cutStep) t.run(seed.data(), n);
            Bytes mutated = seed;
            const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / t.flips) | 1;
            for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
                mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
                t.run(mutated.data(), mutated.size());
                mutated[bit / 8] = seed[bit / 8];
            }
        }
    }
    SUCCEED();  // the sanitizers and the targets' own checks are the assertions
}

}  // namespace
