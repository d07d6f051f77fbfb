// Base64 and hex beside OpenSSL's block encoders; the code-set conversion on its own (OpenSSL
// has none).
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "SGBase64.h"
#include "SGCodec.h"
#include "SGHex.h"
#include "SGMemory.h"

namespace {
std::vector<unsigned char> sample(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}
}  // namespace

static void BM_SGBase64_Encode(benchmark::State& state) {
    const auto in = sample(state.range(0));
    for (auto _ : state) {
        char* out = nullptr;
        SGBase64_Encode(&out, nullptr, in.data(), in.size());
        benchmark::DoNotOptimize(out);
        SGBase64_Free(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SGBase64_Encode)->Arg(64)->Arg(4096);

static void BM_OpenSSL_EncodeBlock(benchmark::State& state) {
    const auto in = sample(state.range(0));
    for (auto _ : state) {
        // Allocated per call as ours is, so the two measure the same work.
        auto* out = static_cast<unsigned char*>(OPENSSL_malloc((in.size() + 2) / 3 * 4 + 1));
        EVP_EncodeBlock(out, in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenSSL_EncodeBlock)->Arg(64)->Arg(4096);

static void BM_SGBase64_Decode(benchmark::State& state) {
    const auto in = sample(state.range(0));
    char* text = nullptr;
    uint32_t length = 0;
    SGBase64_Encode(&text, &length, in.data(), in.size());
    for (auto _ : state) {
        char* out = nullptr;
        SGBase64_Decode(&out, nullptr, text, length);
        benchmark::DoNotOptimize(out);
        SGBase64_Free(out);
    }
    SGBase64_Free(text);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SGBase64_Decode)->Arg(64)->Arg(4096);

static void BM_OpenSSL_DecodeBlock(benchmark::State& state) {
    const auto in = sample(state.range(0));
    std::vector<unsigned char> text((in.size() + 2) / 3 * 4 + 1);
    const int length = EVP_EncodeBlock(text.data(), in.data(), static_cast<int>(in.size()));
    for (auto _ : state) {
        auto* out = static_cast<unsigned char*>(OPENSSL_malloc(length / 4 * 3 + 1));
        EVP_DecodeBlock(out, text.data(), length);
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenSSL_DecodeBlock)->Arg(64)->Arg(4096);

static void BM_SGHex_Encode(benchmark::State& state) {
    const auto in = sample(state.range(0));
    std::vector<char> out(2 * in.size() + 1);
    for (auto _ : state) {
        SGHex_Encode(out.data(), out.size(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SGHex_Encode)->Arg(20)->Arg(4096);

static void BM_OpenSSL_buf2hexstr(benchmark::State& state) {
    const auto in = sample(state.range(0));
    std::vector<char> out(2 * in.size() + 1);
    for (auto _ : state) {
        OPENSSL_buf2hexstr_ex(out.data(), out.size(), nullptr, in.data(), in.size(), '\0');
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenSSL_buf2hexstr)->Arg(20)->Arg(4096);

// A certificate subject in EUC-KR ("한국정보인증" repeated) into UTF-8, and UTF-8 into the
// decomposed form.
static void BM_SGCodec_EucKrToUtf8(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < state.range(0); ++i)
        text += "\xC7\xD1\xB1\xB9\xC1\xA4\xBA\xB8\xC0\xCE\xC1\xF5";
    for (auto _ : state) {
        char* out = nullptr;
        SGCodecConvertCodeSet("ko_KR.euc-kr", "ko_KR.UTF-8", text.c_str(), &out);
        benchmark::DoNotOptimize(out);
        SGMemory_free(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(BM_SGCodec_EucKrToUtf8)->Arg(1)->Arg(64);

static void BM_SGCodec_Utf8ToUtf8Mac(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < state.range(0); ++i)
        text += "\xED\x95\x9C\xEA\xB5\xAD\xEC\xA0\x95\xEB\xB3\xB4\xEC\x9D\xB8\xEC\xA6\x9D";
    for (auto _ : state) {
        char* out = nullptr;
        SGCodecConvertCodeSet("ko_KR.UTF-8", "ko_KR.UTF-8-MAC", text.c_str(), &out);
        benchmark::DoNotOptimize(out);
        SGMemory_free(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(BM_SGCodec_Utf8ToUtf8Mac)->Arg(1)->Arg(64);

BENCHMARK_MAIN();
