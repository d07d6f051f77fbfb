// The KISA fuzz target over its seed corpus (data/fuzz_kisa, made by make_kisa_corpus.sh) and
// over cuts and bit flips of each seed.
#include <gtest/gtest.h>

#include "FuzzSeeds.h"

extern "C" int SGFuzzKISA(const uint8_t* data, size_t size);

namespace {

TEST(FuzzKISA, SeedCorpus) {
    fuzzseeds::runSeeds("fuzz_kisa", &SGFuzzKISA, 10);
}

TEST(FuzzKISA, CutsAndBitFlipsOfTheSeeds) {
    fuzzseeds::runCutsAndFlips("fuzz_kisa", &SGFuzzKISA, 40, 80);
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

}  // namespace
