// Ciphers and HMAC beside OpenSSL in the same run: SEED-CBC, ARIA-128-CBC, AES-128-CBC and
// AES-128-CTR encryption of 8 KiB buffers; the modes that run many blocks at once (CTR and CBC
// decryption) for SEED and ARIA (OpenSSL has no SEED-CTR); LEA-128-CBC (OpenSSL has no LEA); and
// HMAC-SHA-1 of a 64-byte message with a fresh key each call, as key-file opening runs it.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>

#include <cstring>
#include <vector>

#include "SGCipher.h"
#include "SGHMAC.h"

namespace {

constexpr size_t kBuffer = 8192;

// SEED lives in OpenSSL's legacy provider; unloaded at exit so a leak check stays quiet.
struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
        if (legacy) OSSL_PROVIDER_unload(legacy);
        if (fallback) OSSL_PROVIDER_unload(fallback);
    }
};

void ours(benchmark::State& state, int id, int mode, bool decrypt = false) {
    SGCrypto_Initialize();
    std::vector<unsigned char> in(kBuffer, 0x5A), out(kBuffer + 32);
    const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    SGCipherParameter p;
    std::memset(&p, 0, sizeof p);
    p.mode = mode;
    p.ivLength = 16;
    p.padding = SG_CIPHER_PADDING_NONE;
    SGCipherContext ctx;
    if ((decrypt ? SGCipher_Decrypt_Init : SGCipher_Encrypt_Init)(&ctx, key, 16, id, &p) != 0) {
        state.SkipWithError("init failed");
        return;
    }
    for (auto _ : state) {
        uint32_t n = 0;
        (decrypt ? SGCipher_Decrypt_Update : SGCipher_Encrypt_Update)(&ctx, out.data(), &n,
                                                                      in.data(), kBuffer);
        benchmark::DoNotOptimize(out.data());
    }
    SGCrypto_cleanse(&ctx, sizeof ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBuffer));
}

void openssl(benchmark::State& state, const char* name, bool decrypt = false) {
    static Providers providers;
    std::vector<unsigned char> in(kBuffer, 0x5A), out(kBuffer + 32);
    const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const unsigned char iv[16] = {};
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!cipher || !EVP_CipherInit_ex2(ctx, cipher, key, iv, decrypt ? 0 : 1, nullptr)) {
        state.SkipWithError("init failed");
        return;
    }
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (auto _ : state) {
        int n = 0;
        EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(kBuffer));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBuffer));
}

void BM_SG_SEED_CBC(benchmark::State& s) {
    ours(s, SG_CIPHER_SEED, SG_CIPHER_MODE_CBC);
}
void BM_OpenSSL_SEED_CBC(benchmark::State& s) {
    openssl(s, "SEED-CBC");
}
void BM_SG_SEED_CBC_Decrypt(benchmark::State& s) {
    ours(s, SG_CIPHER_SEED, SG_CIPHER_MODE_CBC, true);
}
void BM_OpenSSL_SEED_CBC_Decrypt(benchmark::State& s) {
    openssl(s, "SEED-CBC", true);
}
void BM_SG_SEED_CTR(benchmark::State& s) {
    ours(s, SG_CIPHER_SEED, SG_CIPHER_MODE_CTR);
}
void BM_SG_ARIA128_CBC(benchmark::State& s) {
    ours(s, SG_CIPHER_ARIA128, SG_CIPHER_MODE_CBC);
}
void BM_OpenSSL_ARIA128_CBC(benchmark::State& s) {
    openssl(s, "ARIA-128-CBC");
}
void BM_SG_ARIA128_CBC_Decrypt(benchmark::State& s) {
    ours(s, SG_CIPHER_ARIA128, SG_CIPHER_MODE_CBC, true);
}
void BM_OpenSSL_ARIA128_CBC_Decrypt(benchmark::State& s) {
    openssl(s, "ARIA-128-CBC", true);
}
void BM_SG_ARIA128_CTR(benchmark::State& s) {
    ours(s, SG_CIPHER_ARIA128, SG_CIPHER_MODE_CTR);
}
void BM_OpenSSL_ARIA128_CTR(benchmark::State& s) {
    openssl(s, "ARIA-128-CTR");
}
void BM_SG_AES128_CBC(benchmark::State& s) {
    ours(s, SG_CIPHER_AES128, SG_CIPHER_MODE_CBC);
}
void BM_OpenSSL_AES128_CBC(benchmark::State& s) {
    openssl(s, "AES-128-CBC");
}
void BM_SG_AES128_CTR(benchmark::State& s) {
    ours(s, SG_CIPHER_AES128, SG_CIPHER_MODE_CTR);
}
void BM_OpenSSL_AES128_CTR(benchmark::State& s) {
    openssl(s, "AES-128-CTR");
}
void BM_SG_LEA128_CBC(benchmark::State& s) {
    ours(s, SG_CIPHER_LEA128, SG_CIPHER_MODE_CBC);
}

BENCHMARK(BM_SG_SEED_CBC);
BENCHMARK(BM_OpenSSL_SEED_CBC);
BENCHMARK(BM_SG_SEED_CBC_Decrypt);
BENCHMARK(BM_OpenSSL_SEED_CBC_Decrypt);
BENCHMARK(BM_SG_SEED_CTR);
BENCHMARK(BM_SG_ARIA128_CBC);
BENCHMARK(BM_OpenSSL_ARIA128_CBC);
BENCHMARK(BM_SG_ARIA128_CBC_Decrypt);
BENCHMARK(BM_OpenSSL_ARIA128_CBC_Decrypt);
BENCHMARK(BM_SG_ARIA128_CTR);
BENCHMARK(BM_OpenSSL_ARIA128_CTR);
BENCHMARK(BM_SG_AES128_CBC);
BENCHMARK(BM_OpenSSL_AES128_CBC);
BENCHMARK(BM_SG_AES128_CTR);
BENCHMARK(BM_OpenSSL_AES128_CTR);
BENCHMARK(BM_SG_LEA128_CBC);

// HMAC-SHA-1 of 64 bytes, key set up anew each call (PBKDF2's inner loop does this).
const unsigned char kKey[20] = {0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b,
                                0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b};

void BM_SG_HMAC_SHA1_64(benchmark::State& state) {
    SGCrypto_Initialize();
    unsigned char msg[64] = {}, mac[20];
    for (auto _ : state) {
        uint32_t n = 0;
        SGHMAC(mac, &n, SG_DIGEST_SHA1, msg, sizeof msg, kKey, sizeof kKey);
        msg[0] = mac[0];
        benchmark::DoNotOptimize(mac);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_SG_HMAC_SHA1_64);

void BM_OpenSSL_HMAC_SHA1_64(benchmark::State& state) {
    unsigned char msg[64] = {}, mac[20];
    const EVP_MD* sha1 = EVP_sha1();
    for (auto _ : state) {
        unsigned int n = 0;
        HMAC(sha1, kKey, sizeof kKey, msg, sizeof msg, mac, &n);
        msg[0] = mac[0];
        benchmark::DoNotOptimize(mac);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_OpenSSL_HMAC_SHA1_64);

// OpenSSL's fastest per-call form: one fetched MAC, a fresh context per message.
void BM_OpenSSL_HMAC_SHA1_64_Reused(benchmark::State& state) {
    unsigned char msg[64] = {}, mac[20];
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                           OSSL_PARAM_construct_end()};
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(hmac);
    for (auto _ : state) {
        size_t n = 0;
        EVP_MAC_init(ctx, kKey, sizeof kKey, params);
        EVP_MAC_update(ctx, msg, sizeof msg);
        EVP_MAC_final(ctx, mac, &n, sizeof mac);
        msg[0] = mac[0];
        benchmark::DoNotOptimize(mac);
    }
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(hmac);
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_OpenSSL_HMAC_SHA1_64_Reused);

}  // namespace

BENCHMARK_MAIN();
