// Fuzz target of the KCDSA decoders: domain parameters, keys and signature values, with the
// round trips a decoded value must survive, and verification of the input as a signature. Build
// it alone with clang's libFuzzer, or include it with BRINDLOW_FUZZ_EMBEDDED defined so that a
// normal test runs it over the committed seeds.
#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SGKCDSA.h"

namespace {

// A toy domain that makes verification cheap; it needs no valid group for that.
const SGKCDSAParameter& toyDomain() {
    static SGKCDSAParameter d = [] {
        SGKCDSAParameter out{};
        const unsigned char q[20] = {0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0,    0, 0, 0, 0, 0, 0, 0, 0, 0x01};
        out.q = BN_bin2bn(q, sizeof q, nullptr);
        out.p = BN_new();
        BN_set_bit(out.p, 520);
        BN_set_bit(out.p, 0);
        out.g = BN_new();
        BN_set_word(out.g, 3);
        return out;
    }();
    return d;
}

void fuzzKcdsa(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(size);
    SGKCDSAParameter d{};
    if (SGKCDSAParameter_Decode(&d, data, length) == 0) {
        unsigned n = 0;
        if (SGKCDSAParameter_Encode(nullptr, &n, &d) != SG_KCDSA_ERR_PARAMETER_OUTPUT)
            __builtin_trap();
        std::vector<unsigned char> der(n);
        SGKCDSAParameter again{};
        if (SGKCDSAParameter_Encode(der.data(), &n, &d) != 0 ||
            SGKCDSAParameter_Decode(&again, der.data(), static_cast<int>(n)) != 0 ||
            BN_cmp(again.p, d.p) || BN_cmp(again.q, d.q) || BN_cmp(again.g, d.g))
            __builtin_trap();
        SGKCDSAParameter_Clear(&again);
    }
    SGKCDSAParameter_Clear(&d);

    std::vector<unsigned char> r(size + 1), s(size + 1);
    unsigned rLength = static_cast<unsigned>(r.size()), sLength = rLength;
    if (SGKCDSA_Decode_SignatureValue(r.data(), &rLength, s.data(), &sLength, data, length) == 0) {
        if (rLength > size || sLength > size) __builtin_trap();
        unsigned n = 0;
        std::vector<unsigned char> der(size + 16);
        n = static_cast<unsigned>(der.size());
        std::vector<unsigned char> r2(size + 1), s2(size + 1);
        unsigned r2Length = static_cast<unsigned>(r2.size()), s2Length = r2Length;
        if (rLength > 0 &&
            (SGKCDSA_Encode_SignatureValue(der.data(), &n, r.data(), static_cast<int>(rLength),
                                           s.data(), static_cast<int>(sLength)) != 0 ||
             SGKCDSA_Decode_SignatureValue(r2.data(), &r2Length, s2.data(), &s2Length, der.data(),
                                           static_cast<int>(n)) != 0 ||
             r2Length != rLength || s2Length != sLength))
            __builtin_trap();
    }

    SGKCDSAPrivateKey x{};
    SGKCDSAPublicKey y{};
    SGKCDSAPrivateKey_Decode(&x, data, length);
    if (SGKCDSAPublicKey_Decode(&y, data, length) == 0) {
        SGKCDSASchemeParameter p{};
        p.domain = toyDomain();
        p.publicKey = &y;
        p.hashId = 8;
        const unsigned char message[] = "fuzz";
        SGKCDSA_Verify(data, length, message, 4, &p);
    }
    SGKCDSAPrivateKey_Free(&x);
    SGKCDSAPublicKey_Free(&y);
}

}  // namespace

#ifndef BRINDLOW_FUZZ_EMBEDDED
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzKcdsa(data, size);
    return 0;
}
#endif
