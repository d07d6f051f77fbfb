// KCDSA 2048/256 beside OpenSSL's DSA on the same domain (the KCDSA domain is a valid DSA domain:
// q divides p - 1 and g has order q), and ECDSA P-256 beside OpenSSL's. Both sides sign the same
// SHA-256 input, so the figures compare the signature arithmetic.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <vector>

#include "SGCrypto.h"
#include "SGDigest.h"
#include "SGECDSA.h"
#include "SGKCDSA.h"

namespace {

// The 2048/256 domain of the KCDSA standard's appendix example.
const char* kP =
    "d06eb9f275b3ac7f2970b578ad1c31732a0126844776f95cf07b4194c6def6f416a66751458b0667cdbc44af"
    "3f6b58770e674a861c8febf4eea0e50450ec527226b8470717ee768cf39cfd32bc2540d2924e0968e64d47ee"
    "4cf0ab6cd192284b826c75082e18840b67bc4cb1f1708173f08825ba4f6e5fb86a357f02c06f8283f3cd58a1"
    "ed4d3062f4a5c0d2f26e54c0fa511b5ed5cfd27019d4a90dda7aca50561397abeede9cff45ec6cf3e22dac5c"
    "af454b7b9b3b5ffe16128197768114c9cd4be4e9ecdc431a0cc0ed544fd4da1c9e98a2c3cb4297fe1d1387d8"
    "1c51d4925ede6a8bbaf660ef675549b4aea5267fb5f778d5308dd69175de580ec316c4ef";
const char* kQ = "cfefed9c75b5610fdb100d91c4cb8187a007791733128ff143ffedf97f6ffd65";
const char* kG =
    "023fec34dfa5e5ce369dd782b07034af037ac18728d432045739b9861b0df1dcaeeb5c9ed3e025d83adcdae0"
    "419c158b09ee35ff84ab9caa9ed4e535f982fb99e30d319537c05780a2cf31cf6bb226c66b7b3ed76b65dc65"
    "8b216b867f186d980d30d1a95285a081c5aba363939660a57596c6212207e4e358b729bc079778b4f385824c"
    "0862cdce08aeb2c658c18559d3ed865cd6bed194da447fd41789c74d352ed26b56c2d128f1154f733fe71f10"
    "bf676c9f7e4268c053d13152997a2d9bfb73fccb0dcea4c132f68f282a6db325cc467fb7f1fe2da5f80fd32c"
    "ae781a7574845a3d457120543987b348d5d75b1b954cba473f83951a8c1be717b953206c";

const unsigned char kMessage[] = "benchmark message";

BIGNUM* fromHex(const char* hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex);
    return b;
}

struct Kcdsa {
    Kcdsa() {
        SGCrypto_Initialize();
        domain.p = fromHex(kP);
        domain.q = fromHex(kQ);
        domain.g = fromHex(kG);
        parameter.domain = domain;
        parameter.privateKey = &privateKey;
        parameter.publicKey = &publicKey;
        parameter.hashId = SG_DIGEST_SHA256;
        SGKCDSA_GenerateKeyPair(&privateKey.x, &publicKey.y, &parameter);
        unsigned length = sizeof signature;
        SGKCDSA_Sign(signature, &length, kMessage, sizeof kMessage - 1, &parameter);
        signatureLength = length;

        // OpenSSL's DSA key on the same domain.
        OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_P, domain.p);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_Q, domain.q);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_G, domain.g);
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
        EVP_PKEY_CTX* fromData = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
        EVP_PKEY* domainKey = nullptr;
        EVP_PKEY_fromdata_init(fromData);
        EVP_PKEY_fromdata(fromData, &domainKey, EVP_PKEY_KEY_PARAMETERS, params);
        EVP_PKEY_CTX* keygen = EVP_PKEY_CTX_new(domainKey, nullptr);
        EVP_PKEY_keygen_init(keygen);
        EVP_PKEY_keygen(keygen, &dsa);
        EVP_PKEY_CTX_free(keygen);
        EVP_PKEY_free(domainKey);
        EVP_PKEY_CTX_free(fromData);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(build);
        SGDigest(digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
    }
    SGKCDSAParameter domain{};
    SGKCDSAPrivateKey privateKey{};
    SGKCDSAPublicKey publicKey{};
    SGKCDSASchemeParameter parameter{};
    unsigned char signature[128];
    unsigned signatureLength = 0;
    EVP_PKEY* dsa = nullptr;
    unsigned char digest[32];
};

Kcdsa& kcdsa() {
    static Kcdsa k;
    return k;
}

void BM_SGKCDSA_Sign(benchmark::State& state) {
    Kcdsa& k = kcdsa();
    unsigned char signature[128];
    for (auto _ : state) {
        unsigned length = sizeof signature;
        if (SGKCDSA_Sign(signature, &length, kMessage, sizeof kMessage - 1, &k.parameter) != 0)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(signature);
    }
}
BENCHMARK(BM_SGKCDSA_Sign)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_DSA_Sign(benchmark::State& state) {
    Kcdsa& k = kcdsa();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.dsa, nullptr);
    EVP_PKEY_sign_init(ctx);
    unsigned char signature[128];
    for (auto _ : state) {
        // The hash of the message as KCDSA computes its own.
        SGDigest(k.digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
        size_t length = sizeof signature;
        if (EVP_PKEY_sign(ctx, signature, &length, k.digest, 32) != 1)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(signature);
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_DSA_Sign)->Unit(benchmark::kMicrosecond);

void BM_SGKCDSA_Verify(benchmark::State& state) {
    Kcdsa& k = kcdsa();
    for (auto _ : state) {
        if (SGKCDSA_Verify(k.signature, static_cast<int>(k.signatureLength), kMessage,
                           sizeof kMessage - 1, &k.parameter) != 0)
            state.SkipWithError("verify failed");
    }
}
BENCHMARK(BM_SGKCDSA_Verify)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_DSA_Verify(benchmark::State& state) {
    Kcdsa& k = kcdsa();
    EVP_PKEY_CTX* signer = EVP_PKEY_CTX_new(k.dsa, nullptr);
    EVP_PKEY_sign_init(signer);
    unsigned char signature[128];
    size_t length = sizeof signature;
    EVP_PKEY_sign(signer, signature, &length, k.digest, 32);
    EVP_PKEY_CTX_free(signer);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.dsa, nullptr);
    EVP_PKEY_verify_init(ctx);
    for (auto _ : state) {
        SGDigest(k.digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
        if (EVP_PKEY_verify(ctx, signature, length, k.digest, 32) != 1)
            state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_DSA_Verify)->Unit(benchmark::kMicrosecond);

struct Ecdsa {
    Ecdsa() {
        SGCrypto_Initialize();
        key = EVP_EC_gen("P-256");
        BIGNUM* dValue = nullptr;
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &dValue);
        unsigned char bytes[32];
        BN_bn2binpad(dValue, bytes, 32);
        BN_clear_free(dValue);
        SGECPrivateKey_Decode(&d, bytes, 32);
        unsigned char point[65];
        size_t length = 0;
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length);
        SGECPublicKey_Decode(&publicKey, point, static_cast<int>(length));
        SGDigest(digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
        unsigned rLength = 32, sLength = 32;
        SGECDSA_Sign(r, &rLength, s, &sLength, digest, 32, &d, &parameter);
    }
    EVP_PKEY* key = nullptr;
    SGBigInteger* d = nullptr;
    SGECPublicKey publicKey{};
    SGECDSAParameter parameter{SG_ECDSA_HASH_AS_GIVEN, nullptr, 0};
    unsigned char digest[32], r[32], s[32];
};

Ecdsa& ecdsa() {
    static Ecdsa e;
    return e;
}

void BM_SGECDSA_Sign(benchmark::State& state) {
    Ecdsa& e = ecdsa();
    unsigned char r[32], s[32];
    for (auto _ : state) {
        unsigned rLength = 32, sLength = 32;
        if (SGECDSA_Sign(r, &rLength, s, &sLength, e.digest, 32, &e.d, &e.parameter) != 0)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_SGECDSA_Sign)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_ECDSA_Sign(benchmark::State& state) {
    Ecdsa& e = ecdsa();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(e.key, nullptr);
    EVP_PKEY_sign_init(ctx);
    unsigned char signature[80];
    for (auto _ : state) {
        size_t length = sizeof signature;
        if (EVP_PKEY_sign(ctx, signature, &length, e.digest, 32) != 1)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(signature);
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_ECDSA_Sign)->Unit(benchmark::kMicrosecond);

void BM_SGECDSA_Verify(benchmark::State& state) {
    Ecdsa& e = ecdsa();
    for (auto _ : state) {
        if (SGECDSA_Verify(e.r, 32, e.s, 32, e.digest, 32, &e.publicKey, &e.parameter) != 0)
            state.SkipWithError("verify failed");
    }
}
BENCHMARK(BM_SGECDSA_Verify)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_ECDSA_Verify(benchmark::State& state) {
    Ecdsa& e = ecdsa();
    unsigned char der[80];
    unsigned derLength = sizeof der;
    SGECDSA_Encode_SignatureValue(der, &derLength, e.r, 32, e.s, 32);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(e.key, nullptr);
    EVP_PKEY_verify_init(ctx);
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx, der, derLength, e.digest, 32) != 1)
            state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_ECDSA_Verify)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
