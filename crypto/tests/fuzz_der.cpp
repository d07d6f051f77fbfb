// Fuzz target of the crypto layer's DER reader and its users: the RSA key decoders, the
// DigestInfo decoder and a walk over every element. Build it alone with clang's libFuzzer
// (clang++ -fsanitize=fuzzer,address ...), or include it with BRINDLOW_FUZZ_EMBEDDED defined so
// that a normal test runs it over the committed seeds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "SGDER.h"
#include "SGPKCS1.h"
#include "SGRSA.h"

namespace {

// Reads elements of any tag until the reader stops, entering every SEQUENCE.
void walk(const uint8_t* data, size_t size, bool otherSet) {
    std::vector<unsigned char> copy(data, data + size);
    ASN1Context c{};
    if (ASN1Context_Create(&c, copy.data(), static_cast<int>(copy.size()), 0) != 0) return;
    for (int steps = 0; steps < 4096; ++steps) {
        int tag = 0;
        unsigned length = 0;
        const int r = otherSet ? SGCrypto_ASN1Read(&c, SG_DER_INTEGER, &length)
                               : ASN1Read_Any(&c, &tag, &length);
        if (r != 0) break;
        // The element's contents must lie inside the input.
        if (c.value < copy.data() || c.value + length > copy.data() + copy.size()) __builtin_trap();
        volatile unsigned char sink = 0;
        for (unsigned i = 0; i < length; ++i) sink = sink ^ c.value[i];
    }
    ASN1Context_Destroy(&c);
}

void fuzzDer(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(size);
    SGRSAPublicKey pub{};
    if (SGRSAPublicKey_Decode(&pub, data, length) == 0) {
        unsigned n = 0;
        if (SGRSAPublicKey_Encode(nullptr, &n, &pub) != 0) __builtin_trap();
        std::vector<unsigned char> der(n);
        if (SGRSAPublicKey_Encode(der.data(), &n, &pub) != 0) __builtin_trap();
    }
    SGRSAPublicKey_Free(&pub);
    SGRSAPrivateKey priv{};
    if (SGRSAPrivateKey_Decode(&priv, data, length) == 0) {
        unsigned n = 0;
        if (SGRSAPrivateKey_Encode(nullptr, &n, &priv) != 0) __builtin_trap();
    }
    SGRSAPrivateKey_Free(&priv);
    int hashId = 0;
    unsigned char digest[64], parameters[64];
    unsigned digestLength = sizeof digest, parameterLength = sizeof parameters;
    SGPKCS1_DecodeDigestInfo(&hashId, digest, &digestLength, parameters, &parameterLength, data,
                             length);
    walk(data, size, false);
    walk(data, size, true);
}

}  // namespace

#ifndef BRINDLOW_FUZZ_EMBEDDED
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzDer(data, size);
    return 0;
}
#endif
