// Digest throughput and the context wipe, beside OpenSSL in the same run.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "SGCrypto.h"
#include "SGDigest.h"

namespace {

std::vector<unsigned char> input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void ours(benchmark::State& state, int id) {
    const auto data = input(static_cast<size_t>(state.range(0)));
    unsigned char out[64];
    for (auto _ : state) {
        SGDigest(out, id, data.data(), static_cast<uint32_t>(data.size()));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void openssl(benchmark::State& state, const char* name) {
    const auto data = input(static_cast<size_t>(state.range(0)));
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    unsigned char out[64];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), out, &len, md, nullptr);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_free(md);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_SGDigest_SHA256(benchmark::State& s) {
    ours(s, SG_DIGEST_SHA256);
}
void BM_OpenSSL_SHA256(benchmark::State& s) {
    openssl(s, "SHA256");
}
void BM_SGDigest_SHA1(benchmark::State& s) {
    ours(s, SG_DIGEST_SHA1);
}
void BM_OpenSSL_SHA1(benchmark::State& s) {
    openssl(s, "SHA1");
}
void BM_SGDigest_MD5(benchmark::State& s) {
    ours(s, SG_DIGEST_MD5);
}
void BM_OpenSSL_MD5(benchmark::State& s) {
    openssl(s, "MD5");
}
void BM_SGDigest_SHA512(benchmark::State& s) {
    ours(s, SG_DIGEST_SHA512);
}
void BM_OpenSSL_SHA512(benchmark::State& s) {
    openssl(s, "SHA512");
}
void BM_SGDigest_HAS160(benchmark::State& s) {
    ours(s, SG_DIGEST_HAS160);
}

BENCHMARK(BM_SGDigest_SHA256)->Arg(8192);
BENCHMARK(BM_OpenSSL_SHA256)->Arg(8192);
BENCHMARK(BM_SGDigest_SHA1)->Arg(8192);
BENCHMARK(BM_OpenSSL_SHA1)->Arg(8192);
BENCHMARK(BM_SGDigest_MD5)->Arg(8192);
BENCHMARK(BM_OpenSSL_MD5)->Arg(8192);
BENCHMARK(BM_SGDigest_SHA512)->Arg(8192);
BENCHMARK(BM_OpenSSL_SHA512)->Arg(8192);
BENCHMARK(BM_SGDigest_HAS160)->Arg(8192);

// The five-pass wipe of a digest context (every one-shot digest runs it) beside plain memsets
// and OpenSSL's cleanse of the same size.
void BM_SGCrypto_cleanse_context(benchmark::State& state) {
    SGDigestContext ctx;
    for (auto _ : state) {
        SGCrypto_cleanse(&ctx, sizeof ctx);
        benchmark::DoNotOptimize(&ctx);
    }
}
void BM_memset_context(benchmark::State& state) {
    SGDigestContext ctx;
    for (auto _ : state) {
        std::memset(&ctx, 0, sizeof ctx);
        benchmark::DoNotOptimize(&ctx);
        benchmark::ClobberMemory();
    }
}
void BM_OpenSSL_cleanse_context(benchmark::State& state) {
    SGDigestContext ctx;
    for (auto _ : state) {
        OPENSSL_cleanse(&ctx, sizeof ctx);
        benchmark::DoNotOptimize(&ctx);
    }
}
BENCHMARK(BM_SGCrypto_cleanse_context);
BENCHMARK(BM_memset_context);
BENCHMARK(BM_OpenSSL_cleanse_context);

}  // namespace

BENCHMARK_MAIN();
