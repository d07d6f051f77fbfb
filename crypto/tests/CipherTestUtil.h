// Helpers of the cipher and MAC tests: parameter records and whole-message calls.
#pragma once

#include <openssl/provider.h>

#include <cstring>
#include <string>

#include "CryptoTestUtil.h"
#include "SGCipher.h"

namespace ciphertest {

using cryptotest::Bytes;

// OpenSSL's SEED, DES, RC2 and RC4 live in its legacy provider; both providers are loaded once
// and unloaded at exit, so the leak checker sees nothing of them.
inline void loadOpenSslProviders() {
    struct Providers {
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
        ~Providers() {
            if (legacy) OSSL_PROVIDER_unload(legacy);
            if (fallback) OSSL_PROVIDER_unload(fallback);
        }
    };
    static Providers providers;
    EXPECT_NE(providers.legacy, nullptr);
}

inline SGCipherParameter parameter(int mode, const Bytes& iv = {}, int padding = 1,
                                   int feedback = 0, int rc2Bits = 0) {
    SGCipherParameter p;
    std::memset(&p, 0, sizeof p);
    p.mode = mode;
    if (!iv.empty())
        std::memcpy(p.iv, iv.data(), iv.size() < sizeof p.iv ? iv.size() : sizeof p.iv);
    p.ivLength = static_cast<int>(iv.size());
    p.padding = padding;
    p.feedbackSize = feedback;
    p.rc2EffectiveBits = rc2Bits;
    return p;
}

// Mode names of the vector files: ECB, CBC, OFB, CTR, CFB<bits>.
inline SGCipherParameter parameterFor(const std::string& mode, int blockSize, const Bytes& iv,
                                      int padding = 1) {
    if (mode == "ECB") return parameter(1, iv, padding);
    if (mode == "CBC") return parameter(2, iv, padding);
    if (mode == "OFB") return parameter(4, iv, padding, blockSize);
    if (mode == "CTR") return parameter(5, iv, padding);
    if (mode.rfind("CFB", 0) == 0) return parameter(3, iv, padding, std::stoi(mode.substr(3)) / 8);
    ADD_FAILURE() << "unknown mode " << mode;
    return parameter(0);
}

struct Result {
    int code = 0;
    Bytes out;
};

inline Result encrypt(int id, const Bytes& key, SGCipherParameter p, const Bytes& in) {
    Result r;
    r.out.resize(in.size() + 32);
    uint32_t n = 0;
    r.code = SGCipher_Encrypt(r.out.data(), &n, in.data(), static_cast<uint32_t>(in.size()),
                              key.data(), static_cast<uint32_t>(key.size()), id, &p);
    r.out.resize(r.code == 0 ? n : 0);
    return r;
}

inline Result decrypt(int id, const Bytes& key, SGCipherParameter p, const Bytes& in) {
    Result r;
    r.out.resize(in.size() + 32);
    uint32_t n = 0;
    r.code = SGCipher_Decrypt(r.out.data(), &n, in.data(), static_cast<uint32_t>(in.size()),
                              key.data(), static_cast<uint32_t>(key.size()), id, &p);
    r.out.resize(r.code == 0 ? n : 0);
    return r;
}

}  // namespace ciphertest
