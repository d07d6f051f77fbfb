// Fuzz target of the ECDSA decoders: signature values, public points and curve identifiers,
// with the round trips a decoded value must survive. Build it alone with clang's libFuzzer, or
// include it with BRINDLOW_FUZZ_EMBEDDED defined so that a normal test runs it over the
// committed seeds.
#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "SGECDSA.h"

namespace {

void fuzzEcdsa(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(size);
    std::vector<unsigned char> r(size + 1), s(size + 1);
    unsigned rLength = static_cast<unsigned>(r.size()), sLength = rLength;
    if (SGECDSA_Decode_SignatureValue(r.data(), &rLength, s.data(), &sLength, data, length) == 0) {
        // Only minimal DER decodes, so encoding the parts gives a value with the same parts.
        std::vector<unsigned char> der(size + 16), r2(size + 1), s2(size + 1);
        unsigned n = static_cast<unsigned>(der.size());
        unsigned r2Length = static_cast<unsigned>(r2.size()), s2Length = r2Length;
        if (SGECDSA_Encode_SignatureValue(der.data(), &n, r.data(), static_cast<int>(rLength),
                                          s.data(), static_cast<int>(sLength)) != 0 ||
            SGECDSA_Decode_SignatureValue(r2.data(), &r2Length, s2.data(), &s2Length, der.data(),
                                          static_cast<int>(n)) != 0 ||
            r2Length != rLength || s2Length != sLength ||
            std::memcmp(r2.data(), r.data(), rLength) != 0 ||
            std::memcmp(s2.data(), s.data(), sLength) != 0)
            __builtin_trap();
    }

    SGECPublicKey key{};
    if (SGECPublicKey_Decode(&key, data, length) == 0) {
        // A decoded point lies on the curve, so it doubles and adds like any other.
        SGECDomainParameters domain{};
        SGECDomainParameters_Get(&domain);
        SGECPoint q{}, sum{};
        SGECPoint_Init(&q, &domain);
        SGECPoint_Init(&sum, &domain);
        SGECPoint_Set(&q, key.x, key.y);
        if (SGECPoint_Add(&sum, &q, &q, &domain) != 0) __builtin_trap();
        SGECPoint_Reset(&q);
        SGECPoint_Reset(&sum);
        SGECDomainParameters_Reset(&domain);
    }
    SGECPublicKey_Reset(&key);

    SGECDomainParameters domain{};
    SGECDomainParameters_Decode(&domain, data, length);
    SGECDomainParameters_Reset(&domain);
    SGBigInteger* d = nullptr;
    SGECPrivateKey_Decode(&d, data, length);
    SGBigInteger_Free(d);
}

}  // namespace

#ifndef BRINDLOW_FUZZ_EMBEDDED
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEcdsa(data, size);
    return 0;
}
#endif
