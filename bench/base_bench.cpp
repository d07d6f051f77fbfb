// The pattern every benchmark follows: our function and OpenSSL's counterpart, same input,
// same run, so the ratio is read off one report.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>

#include <vector>

#include "SGMemory.h"

static void BM_SGMemory_cleanse(benchmark::State& state) {
    std::vector<unsigned char> buf(state.range(0), 0x55);
    for (auto _ : state) {
        SGMemory_cleanse(buf.data(), buf.size());
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SGMemory_cleanse)->Arg(64)->Arg(1024)->Arg(8192);

static void BM_OpenSSL_cleanse(benchmark::State& state) {
    std::vector<unsigned char> buf(state.range(0), 0x55);
    for (auto _ : state) {
        OPENSSL_cleanse(buf.data(), buf.size());
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenSSL_cleanse)->Arg(64)->Arg(1024)->Arg(8192);

BENCHMARK_MAIN();
