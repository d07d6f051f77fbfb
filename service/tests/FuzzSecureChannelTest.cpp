// The secure-channel fuzz targets over their seed corpora (data/fuzz_secure_record and
// data/fuzz_secure_handshake, made by make_channel_corpus.sh from the golden transcript) and
// over cuts and bit flips of each seed, so that the sanitizers see the record parser's and the
// server handshake's error paths on every test run.
#include <gtest/gtest.h>

#include "FuzzSeeds.h"

extern "C" int SGFuzzSecureRecord(const uint8_t* data, size_t size);
extern "C" int SGFuzzSecureHandshake(const uint8_t* data, size_t size);

namespace {

TEST(FuzzSecureChannel, SeedCorpora) {
    fuzzseeds::runSeeds("fuzz_secure_record", &SGFuzzSecureRecord, 20);
    fuzzseeds::runSeeds("fuzz_secure_handshake", &SGFuzzSecureHandshake, 14);
}

TEST(FuzzSecureChannel, CutsAndBitFlipsOfTheSeeds) {
    fuzzseeds::runCutsAndFlips("fuzz_secure_record", &SGFuzzSecureRecord, 40, 96);
    // Fewer for the handshake: each one that reaches the response costs an RSA decryption.
    fuzzseeds::runCutsAndFlips("fuzz_secure_handshake", &SGFuzzSecureHandshake, 16, 48);
    SUCCEED();  // the sanitizers and the targets' own checks are the assertions
}

}  // namespace
