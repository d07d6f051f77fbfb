// The SignedData fuzz target over its seed corpus (data/fuzz_pkcs7_signed_data, made by
// make_pkcs7_corpus.sh with openssl cms) and over cuts and bit flips of each seed, and what the
// verifier answers for each seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "SGPKCS7SignedData.h"
#include "SGServiceTable.h"
#include "TestKit.h"

extern "C" int SGFuzzPKCS7SignedData(const uint8_t* data, size_t size);

namespace {

using testkit::Bytes;

const std::filesystem::path kCorpus = BRINDLOW_TEST_DATA "/fuzz_pkcs7_signed_data";

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzPKCS7SignedData, SeedCorpus) {
    const auto files = seeds();
    ASSERT_GE(files.size(), 14u);
    for (const auto& file : files) {
        const Bytes seed = testkit::readBytes(file);
        EXPECT_EQ(SGFuzzPKCS7SignedData(seed.data(), seed.size()), 0) << file;
    }
}

// Cuts and bit flips at evenly spread places of each seed (a bounded number per seed, so the
// run stays short under the sanitizers).
TEST(FuzzPKCS7SignedData, CutsAndBitFlipsOfTheSeeds) {
    for (const auto& file : seeds()) {
        const Bytes seed = testkit::readBytes(file);
        const size_t cutStep = std::max<size_t>(1, seed.size() / 16);
        for (size_t n = 1; n < seed.size(); n += cutStep) {
            const Bytes cut(seed.begin(), seed.begin() + static_cast<long>(n));
            SGFuzzPKCS7SignedData(cut.data(), cut.size());
        }
        Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / 32) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            SGFuzzPKCS7SignedData(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

TEST(FuzzPKCS7SignedData, AnswersForTheSeeds) {
    ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    const std::string text = "Brindlow SignedData fuzz seed\n";
    const Bytes message(text.begin(), text.end());
    struct Case {
        const char* file;
        int flags;
        bool detached;
        int expected;
    } cases[] = {
        {"attr", 0, false, 0},
        {"nosmimecap", 0, false, 0},
        {"sha1", 0, false, 0},
        {"sha512", 0, false, 0},
        {"noattr", 0, false, 0},
        {"detached", 0, true, 0},
        {"detached", 0, false, 10101},
        {"detached-noattr", 0, true, 0},
        {"stream", 0, false, 0},
        {"two-signers", 0, false, 0},
        {"bare", SG_PKCS7_BARE, false, 0},
        {"bare", 0, false, 20901},
        {"attr", SG_PKCS7_BARE, false, 20901},
        {"nocerts", 0, false, 10011},
        {"md5", 0, false, 10106},
        {"pss", 0, false, 10107},
        {"ecdsa", 0, false, 10107},
    };
    for (const Case& c : cases) {
        const Bytes der = testkit::readBytes(kCorpus / (std::string(c.file) + ".der"));
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        SGBinary given{const_cast<unsigned char*>(message.data()),
                       static_cast<uint32_t>(message.size())};
        SGBinary content{};
        SGPKCS7SignedDataParameters options{};
        options.flags = c.flags;
        EXPECT_EQ(SGPKCS7SignedData_Verify(&content, nullptr, &in, c.detached ? &given : nullptr,
                                           &options),
                  c.expected)
            << c.file << " " << c.flags;
        if (c.expected == 0 && !c.detached) {
            EXPECT_EQ(Bytes(content.data, content.data + content.length), message) << c.file;
        }
        SGBinary_Reset(&content);
    }
}

}  // namespace
