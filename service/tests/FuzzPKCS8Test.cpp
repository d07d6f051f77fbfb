// The PKCS #8 and PBES2 fuzz targets over their seed corpora (data/fuzz_pkcs8 and
// data/fuzz_pbes2, made by make_pkcs8_corpus.sh) and over cuts and bit flips of each seed, so
// that the sanitizers see the decoders' error paths on every test run.
#include <gtest/gtest.h>

#include "FuzzSeeds.h"

extern "C" int SGFuzzPKCS8(const uint8_t* data, size_t size);
extern "C" int SGFuzzPBES2(const uint8_t* data, size_t size);

namespace {

TEST(FuzzPKCS8, SeedCorpora) {
    fuzzseeds::runSeeds("fuzz_pkcs8", &SGFuzzPKCS8, 14);
    fuzzseeds::runSeeds("fuzz_pbes2", &SGFuzzPBES2, 14);
}

// A bounded number per seed, so the run stays short under the sanitizers.
TEST(FuzzPKCS8, CutsAndBitFlipsOfTheSeeds) {
    fuzzseeds::runCutsAndFlips("fuzz_pkcs8", &SGFuzzPKCS8, 40, 80);
    fuzzseeds::runCutsAndFlips("fuzz_pbes2", &SGFuzzPBES2, 40, 80);
    SUCCEED();  // the sanitizers and the targets' own checks are the assertions
}

}  // namespace
