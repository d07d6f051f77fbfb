// Password-based key derivation and the opening of an NPKI key file beside OpenSSL in the same
// run: PBKDF2-HMAC-SHA-1 and the PKCS #12 derivation at 2048 iterations (PKCS5_PBKDF2_HMAC,
// PKCS12_key_gen_uni), and a SEED-CBC PBES2 key file of an RSA-2048 key decoded, decrypted and
// its PrivateKeyInfo decoded (d2i_X509_SIG and PKCS8_decrypt).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <vector>

#include "SGCipher.h"
#include "SGDigest.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGServiceTable.h"

namespace {

const unsigned char kSalt[8] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
const char kPassword[] = "q1w2e3r4!@";
constexpr int kPasswordLength = sizeof kPassword - 1;
constexpr int kIterations = 2048;

bool serviceReady() {
    static const bool ready = SGServiceWrapper_GetList(Service) == 0;
    return ready;
}

void BM_PBKDF2_SHA1_2048_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    unsigned char out[20];
    for (auto _ : state) {
        if (SGPBKDF2(out, reinterpret_cast<const unsigned char*>(kPassword), kPasswordLength, kSalt,
                     sizeof kSalt, kIterations, sizeof out, SG_DIGEST_SHA1) != 0)
            state.SkipWithError("PBKDF2");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_PBKDF2_SHA1_2048_Ours);

void BM_PBKDF2_SHA1_2048_OpenSSL(benchmark::State& state) {
    unsigned char out[20];
    for (auto _ : state) {
        if (PKCS5_PBKDF2_HMAC(kPassword, kPasswordLength, kSalt, sizeof kSalt, kIterations,
                              EVP_sha1(), sizeof out, out) != 1)
            state.SkipWithError("PBKDF2");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_PBKDF2_SHA1_2048_OpenSSL);

void BM_PKCS12KDF_SHA1_2048_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    const SGBinary salt{const_cast<unsigned char*>(kSalt), sizeof kSalt};
    const SGBinary password{reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword)),
                            kPasswordLength};
    for (auto _ : state) {
        SGBinary out{};
        if (SGPKCS5_PBE_PKCS12(&out, SG_PKCS12_ID_KEY, &salt, kIterations, &password, 24,
                               SG_DIGEST_SHA1) != 0)
            state.SkipWithError("derivation");
        SGBinary_Cleanse(&out);
    }
}
BENCHMARK(BM_PKCS12KDF_SHA1_2048_Ours);

void BM_PKCS12KDF_SHA1_2048_OpenSSL(benchmark::State& state) {
    unsigned char* uni = nullptr;
    int uniLength = 0;
    OPENSSL_asc2uni(kPassword, kPasswordLength, &uni, &uniLength);
    unsigned char out[24];
    for (auto _ : state) {
        if (PKCS12_key_gen_uni(uni, uniLength, const_cast<unsigned char*>(kSalt), sizeof kSalt,
                               PKCS12_KEY_ID, kIterations, sizeof out, out, EVP_sha1()) != 1)
            state.SkipWithError("derivation");
        benchmark::DoNotOptimize(out);
    }
    OPENSSL_free(uni);
}
BENCHMARK(BM_PKCS12KDF_SHA1_2048_OpenSSL);

// An RSA-2048 key as NPKI media keep it: PBES2, PBKDF2-HMAC-SHA-1, 2048 iterations, SEED-CBC.
const std::vector<unsigned char>& npkiKeyFile() {
    static const std::vector<unsigned char> file = [] {
        std::vector<unsigned char> out;
        if (!serviceReady()) return out;
        EVP_PKEY* key = EVP_RSA_gen(2048);
        PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
        unsigned char* der = nullptr;
        const int n = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
        SGPKCS5PBESParam p{};
        p.pbeType = SG_PBE_PBES2;
        p.iterations = kIterations;
        p.cipherId = SG_CIPHER_SEED;
        SGPKCS8EncryptedPrivateKeyInfo epki{};
        SGBinary encoded{};
        if (SGPKCS5Encrypt(&epki, der, n, reinterpret_cast<const unsigned char*>(kPassword),
                           kPasswordLength, &p) == 0 &&
            SGPKCS8EncryptedPrivateKeyInfo_Encode(&encoded, &epki) == 0)
            out.assign(encoded.data, encoded.data + encoded.length);
        SGBinary_Reset(&encoded);
        SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&epki);
        OPENSSL_clear_free(der, static_cast<size_t>(n));
        PKCS8_PRIV_KEY_INFO_free(info);
        EVP_PKEY_free(key);
        return out;
    }();
    return file;
}

void BM_OpenNPKIKeyFile_Ours(benchmark::State& state) {
    const auto& file = npkiKeyFile();
    if (file.empty()) state.SkipWithError("key file");
    const SGBinary in{const_cast<unsigned char*>(file.data()), static_cast<uint32_t>(file.size())};
    std::vector<unsigned char> plain(file.size());
    for (auto _ : state) {
        SGPKCS8EncryptedPrivateKeyInfo epki{};
        SGPKCS8PrivateKeyInfo info{};
        int length = 0;
        if (SGPKCS8EncryptedPrivateKeyInfo_Decode(&epki, &in) != 0 ||
            SGPKCS5Decrypt(plain.data(), &length, &epki,
                           reinterpret_cast<const unsigned char*>(kPassword), kPasswordLength) != 0)
            state.SkipWithError("open");
        const SGBinary p{plain.data(), static_cast<uint32_t>(length)};
        if (SGPKCS8PrivateKeyInfo_Decode(&info, &p) != 0) state.SkipWithError("decode");
        SGPKCS8PrivateKeyInfo_Cleanse(&info);
        SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&epki);
    }
}
BENCHMARK(BM_OpenNPKIKeyFile_Ours);

void BM_OpenNPKIKeyFile_OpenSSL(benchmark::State& state) {
    // SEED is in the legacy provider.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
    if (!legacy || !base) state.SkipWithError("legacy provider");
    const auto& file = npkiKeyFile();
    if (file.empty()) state.SkipWithError("key file");
    for (auto _ : state) {
        const unsigned char* p = file.data();
        X509_SIG* sig = d2i_X509_SIG(nullptr, &p, static_cast<long>(file.size()));
        PKCS8_PRIV_KEY_INFO* info = sig ? PKCS8_decrypt(sig, kPassword, kPasswordLength) : nullptr;
        if (!info) state.SkipWithError("open");
        PKCS8_PRIV_KEY_INFO_free(info);
        X509_SIG_free(sig);
    }
}
BENCHMARK(BM_OpenNPKIKeyFile_OpenSSL);

}  // namespace

BENCHMARK_MAIN();
