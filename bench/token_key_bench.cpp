// Opening an NPKI key file (RSA-2048 under PBES2, PBKDF2-HMAC-SHA-1 with 2048 iterations,
// SEED-CBC) and signing a SHA-256 DigestInfo with it through the token base, beside OpenSSL's
// d2i_X509_SIG, PKCS8_decrypt and EVP_PKEY_sign in the same run; and the signing alone.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileToken.h"
#include "SGRSA.h"

namespace {

constexpr char kPassword[] = "q1w2e3r4!@";
constexpr int kPasswordLength = sizeof kPassword - 1;

// The SHA-256 DigestInfo of "message".
const std::vector<unsigned char>& digestInfo() {
    static const std::vector<unsigned char> info = [] {
        std::vector<unsigned char> out = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                          0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                          0x01, 0x05, 0x00, 0x04, 0x20};
        unsigned char digest[32];
        unsigned int length = 0;
        EVP_Digest("message", 7, digest, &length, EVP_sha256(), nullptr);
        out.insert(out.end(), digest, digest + length);
        return out;
    }();
    return info;
}

bool providersLoaded() {
    // SEED is in the legacy provider; the providers stay loaded for the run.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
    return legacy && base;
}

// The key file as NPKI media keep it, written by OpenSSL.
const std::vector<unsigned char>& npkiKeyFile() {
    static const std::vector<unsigned char> file = [] {
        std::vector<unsigned char> out;
        if (!providersLoaded()) return out;
        EVP_PKEY* key = EVP_RSA_gen(2048);
        PKCS8_PRIV_KEY_INFO* info = key ? EVP_PKEY2PKCS8(key) : nullptr;
        X509_ALGOR* pbe =
            PKCS5_pbe2_set_iv(EVP_seed_cbc(), 2048, nullptr, 0, nullptr, NID_hmacWithSHA1);
        X509_SIG* sig =
            info && pbe ? PKCS8_set0_pbe(kPassword, kPasswordLength, info, pbe) : nullptr;
        unsigned char* der = nullptr;
        const int n = sig ? i2d_X509_SIG(sig, &der) : 0;
        if (n > 0) out.assign(der, der + n);
        OPENSSL_free(der);
        X509_SIG_free(sig);
        if (!sig) X509_ALGOR_free(pbe);
        PKCS8_PRIV_KEY_INFO_free(info);
        EVP_PKEY_free(key);
        return out;
    }();
    return file;
}

// The token logs below the home folder: a temporary one for the run.
FileToken& token() {
    static FileToken* t = [] {
        char pattern[] = "/tmp/token-key-bench-XXXXXX";
        if (::mkdtemp(pattern)) ::setenv("HOME", pattern, 1);
        return new FileToken("/", "bench");
    }();
    return *t;
}

int openAndSignOurs(std::vector<unsigned char>& file, unsigned char* signature) {
    SGRSAPrivateKey key{};
    int rc = token().decryptPrivateKeyFromPKCS8(
        &key, nullptr, nullptr, nullptr, file.data(), file.size(),
        reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword)), kPasswordLength,
        TOKEN_KEY_RECORD);
    if (rc == 0) {
        auto info = digestInfo();
        unsigned long length = 256;
        rc = token().generateSignatureLocal(signature, &length, info.data(), info.size(), &key,
                                            nullptr, nullptr, nullptr, PKI_TYPE_NPKI);
    }
    SGRSAPrivateKey_Free(&key);
    return rc;
}

EVP_PKEY* openOpenSSL(const std::vector<unsigned char>& file) {
    const unsigned char* p = file.data();
    X509_SIG* sig = d2i_X509_SIG(nullptr, &p, static_cast<long>(file.size()));
    PKCS8_PRIV_KEY_INFO* info = sig ? PKCS8_decrypt(sig, kPassword, kPasswordLength) : nullptr;
    EVP_PKEY* key = info ? EVP_PKCS82PKEY(info) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(info);
    X509_SIG_free(sig);
    return key;
}

bool signOpenSSL(EVP_PKEY* key, unsigned char* signature) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t length = 256;
    const auto& info = digestInfo();
    const bool ok = ctx && EVP_PKEY_sign_init(ctx) > 0 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
                    EVP_PKEY_sign(ctx, signature, &length, info.data(), info.size()) > 0;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

void BM_OpenNPKIKeyAndSign_Ours(benchmark::State& state) {
    std::vector<unsigned char> file = npkiKeyFile();
    unsigned char signature[256], expected[256];
    // Both sides do the same work: PKCS #1 v1.5 signatures are the same for the same key.
    EVP_PKEY* key = file.empty() ? nullptr : openOpenSSL(file);
    const bool same = key && signOpenSSL(key, expected) && openAndSignOurs(file, signature) == 0 &&
                      std::memcmp(signature, expected, sizeof signature) == 0;
    EVP_PKEY_free(key);
    if (!same) state.SkipWithError("the signature differs from OpenSSL's");
    for (auto _ : state)
        if (openAndSignOurs(file, signature) != 0) {
            state.SkipWithError("open and sign");
            break;
        }
}
BENCHMARK(BM_OpenNPKIKeyAndSign_Ours)->Unit(benchmark::kMillisecond);

void BM_OpenNPKIKeyAndSign_OpenSSL(benchmark::State& state) {
    const auto& file = npkiKeyFile();
    if (file.empty()) state.SkipWithError("key file");
    unsigned char signature[256];
    for (auto _ : state) {
        EVP_PKEY* key = openOpenSSL(file);
        const bool ok = key && signOpenSSL(key, signature);
        EVP_PKEY_free(key);
        if (!ok) {
            state.SkipWithError("open and sign");
            break;
        }
    }
}
BENCHMARK(BM_OpenNPKIKeyAndSign_OpenSSL)->Unit(benchmark::kMillisecond);

// The signing alone, with the key already open.
void BM_SignDigestInfo_Ours(benchmark::State& state) {
    std::vector<unsigned char> file = npkiKeyFile();
    SGRSAPrivateKey key{};
    if (file.empty() || token().decryptPrivateKeyFromPKCS8(
                            &key, nullptr, nullptr, nullptr, file.data(), file.size(),
                            reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword)),
                            kPasswordLength, TOKEN_KEY_RECORD) != 0)
        state.SkipWithError("open");
    auto info = digestInfo();
    unsigned char signature[256];
    for (auto _ : state) {
        unsigned long length = sizeof signature;
        if (token().generateSignatureLocal(signature, &length, info.data(), info.size(), &key,
                                           nullptr, nullptr, nullptr, PKI_TYPE_NPKI) != 0) {
            state.SkipWithError("sign");
            break;
        }
    }
    SGRSAPrivateKey_Free(&key);
}
BENCHMARK(BM_SignDigestInfo_Ours)->Unit(benchmark::kMillisecond);

void BM_SignDigestInfo_OpenSSL(benchmark::State& state) {
    const auto& file = npkiKeyFile();
    EVP_PKEY* key = file.empty() ? nullptr : openOpenSSL(file);
    if (!key) state.SkipWithError("open");
    unsigned char signature[256];
    for (auto _ : state)
        if (!signOpenSSL(key, signature)) {
            state.SkipWithError("sign");
            break;
        }
    EVP_PKEY_free(key);
}
BENCHMARK(BM_SignDigestInfo_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
