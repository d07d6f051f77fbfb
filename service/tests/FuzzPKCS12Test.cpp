// The PKCS #12 fuzz target over its seed corpus (data/fuzz_pkcs12, made by
// make_pkcs12_corpus.sh) and over cuts and bit flips of each seed.
#include <gtest/gtest.h>

#include "FuzzSeeds.h"

extern "C" int SGFuzzPKCS12(const uint8_t* data, size_t size);

namespace {

TEST(FuzzPKCS12, SeedCorpus) {
    fuzzseeds::runSeeds("fuzz_pkcs12", &SGFuzzPKCS12, 10);
}

// A bounded number per seed, so the run stays short under the sanitizers.
TEST(FuzzPKCS12, CutsAndBitFlipsOfTheSeeds) {
    fuzzseeds::runCutsAndFlips("fuzz_pkcs12", &SGFuzzPKCS12, 30, 60);
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

}  // namespace
