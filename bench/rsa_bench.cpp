// RSA-2048 beside OpenSSL: signing (our message and exponent blinding against OpenSSL's cached
// blinding), verification, and key-pair generation. Both sides get the same key and the same
// SHA-256 digest, so the figures compare the RSA operation and its padding alone.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <vector>

#include "SGCrypto.h"
#include "SGDigest.h"
#include "SGPKCS1.h"

namespace {

struct Fixture {
    Fixture() {
        SGCrypto_Initialize();
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 2048);
        EVP_PKEY_keygen(ctx, &evp);
        EVP_PKEY_CTX_free(ctx);
        unsigned char* der = nullptr;
        int n = i2d_PrivateKey(evp, &der);
        SGRSAPrivateKey_Decode(&priv, der, n);
        OPENSSL_free(der);
        der = nullptr;
        n = i2d_PublicKey(evp, &der);
        SGRSAPublicKey_Decode(&pub, der, n);
        OPENSSL_free(der);
        const unsigned char message[] = "benchmark message";
        SGDigest(digest, SG_DIGEST_SHA256, message, sizeof message - 1);
    }
    SGPKCS1Parameter parameter(int scheme) {
        SGPKCS1Parameter p{};
        p.signatureScheme = scheme;
        p.hashId = SG_DIGEST_SHA256;
        p.alreadyHashed = 1;
        p.pssMaskGeneration = SG_PKCS1_MGF1;
        p.pssMaskHashId = SG_DIGEST_SHA256;
        p.pssSaltLength = 32;
        p.privateKey = &priv;
        p.publicKey = &pub;
        return p;
    }
    EVP_PKEY_CTX* evpContext(bool sign, int padding) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(evp, nullptr);
        sign ? EVP_PKEY_sign_init(ctx) : EVP_PKEY_verify_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, padding);
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
        if (padding == RSA_PKCS1_PSS_PADDING) EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, 32);
        return ctx;
    }
    EVP_PKEY* evp = nullptr;
    SGRSAPrivateKey priv{};
    SGRSAPublicKey pub{};
    unsigned char digest[32];
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// PSS signing hashes the message itself; give both sides the same message there.
const unsigned char kMessage[] = "benchmark message";

void BM_SGPKCS1_Sign(benchmark::State& state) {
    Fixture& f = fixture();
    const int scheme = static_cast<int>(state.range(0));
    SGPKCS1Parameter p = f.parameter(scheme);
    if (scheme == SG_PKCS1_PSS) p.alreadyHashed = 0;
    unsigned char signature[256];
    for (auto _ : state) {
        unsigned length = sizeof signature;
        const int r = scheme == SG_PKCS1_PSS
                          ? SGPKCS1_Sign(signature, &length, kMessage, sizeof kMessage - 1, &p)
                          : SGPKCS1_Sign(signature, &length, f.digest, 32, &p);
        if (r != 0) state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(signature);
    }
}
BENCHMARK(BM_SGPKCS1_Sign)
    ->Arg(SG_PKCS1_V15_SIGNATURE)
    ->Arg(SG_PKCS1_PSS)
    ->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_Sign(benchmark::State& state) {
    Fixture& f = fixture();
    const bool pss = state.range(0) == SG_PKCS1_PSS;
    EVP_PKEY_CTX* ctx = f.evpContext(true, pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING);
    unsigned char digest[32];
    SGDigest(digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
    unsigned char signature[256];
    for (auto _ : state) {
        size_t length = sizeof signature;
        if (pss) {
            // Hash the message too, as our PSS call does.
            SGDigest(digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
        }
        if (EVP_PKEY_sign(ctx, signature, &length, pss ? digest : f.digest, 32) != 1)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(signature);
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_Sign)
    ->Arg(SG_PKCS1_V15_SIGNATURE)
    ->Arg(SG_PKCS1_PSS)
    ->Unit(benchmark::kMicrosecond);

void BM_SGPKCS1_Verify(benchmark::State& state) {
    Fixture& f = fixture();
    SGPKCS1Parameter p = f.parameter(SG_PKCS1_V15_SIGNATURE);
    unsigned char signature[256];
    unsigned length = sizeof signature;
    SGPKCS1_Sign(signature, &length, f.digest, 32, &p);
    for (auto _ : state) {
        if (SGPKCS1_Verify(signature, length, f.digest, 32, &p) != 0)
            state.SkipWithError("verify failed");
    }
}
BENCHMARK(BM_SGPKCS1_Verify)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_Verify(benchmark::State& state) {
    Fixture& f = fixture();
    EVP_PKEY_CTX* signer = f.evpContext(true, RSA_PKCS1_PADDING);
    unsigned char signature[256];
    size_t length = sizeof signature;
    EVP_PKEY_sign(signer, signature, &length, f.digest, 32);
    EVP_PKEY_CTX_free(signer);
    EVP_PKEY_CTX* ctx = f.evpContext(false, RSA_PKCS1_PADDING);
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx, signature, length, f.digest, 32) != 1)
            state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_OpenSSL_Verify)->Unit(benchmark::kMicrosecond);

// Generation times vary with the primes' distance: read the median of the repetitions.
void BM_SGRSA_GenerateKeyPair(benchmark::State& state) {
    fixture();
    for (auto _ : state) {
        SGRSAPrivateKey priv{};
        SGRSAPublicKey pub{};
        if (SGRSA_GenerateKeyPair(&priv, &pub, 2048, 65537) != 0)
            state.SkipWithError("generation failed");
        SGRSAPrivateKey_Free(&priv);
        SGRSAPublicKey_Free(&pub);
    }
}
BENCHMARK(BM_SGRSA_GenerateKeyPair)
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_OpenSSL_GenerateKeyPair(benchmark::State& state) {
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        EVP_PKEY* key = nullptr;
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 2048);
        if (EVP_PKEY_keygen(ctx, &key) != 1) state.SkipWithError("generation failed");
        EVP_PKEY_free(key);
        EVP_PKEY_CTX_free(ctx);
    }
}
BENCHMARK(BM_OpenSSL_GenerateKeyPair)
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
