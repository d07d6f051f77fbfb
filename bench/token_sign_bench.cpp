// Signing and enveloping through a disk token (an NPKI RSA-2048 key under PBES2, PBKDF2 with 2048
// iterations, SEED-CBC), beside the same work done with OpenSSL in the same run:
//   - a PKCS #1 signature of 1 KiB: our byte-level generateSignature (the password asked, the key
//     file opened, the DigestInfo signed) against PKCS8_decrypt + EVP_DigestSign;
//   - text-level CMS signing of 10 MiB given as Base64 (decoded, signed with the content inside,
//     encoded again) against EVP_DecodeBlock + PKCS8_decrypt + CMS_sign + i2d + EVP_EncodeBlock;
//   - text-level enveloping of 10 MiB (Base64 in and out, SEED-CBC) against EVP_DecodeBlock +
//     CMS_encrypt + i2d + EVP_EncodeBlock.
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FileToken.h"
#include "PkiCache.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kPassword = "q1w2e3r4!@";
const char kHolder[] = "cn=bench,o=yessign,c=kr";
constexpr size_t kSmall = 1024;
constexpr size_t kLarge = 10 * 1048576;

class Answer : public InputPINHandler {
  public:
    int inputPIN(char* out, TokenType, InputPINPurpose) override {
        std::strncpy(out, kPassword.c_str(), 127);
        return 0;
    }
    int inputDoublePin(char* out, TokenType t, InputPINPurpose p) override {
        return inputPIN(out, t, p);
    }
    int inputTriplePin(char* out, char* fresh, TokenType t, InputPINPurpose p) override {
        std::strncpy(fresh, kPassword.c_str(), 127);
        return inputPIN(out, t, p);
    }
    int inputTokenPIN(char* out, const char*, TokenType t, InputPINPurpose p) override {
        return inputPIN(out, t, p);
    }
};

std::string base64(const Bytes& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// The chain recipe's pair on a scratch NPKI medium, a home folder inside it, the token listed.
struct Medium {
    testkit::Scratch scratch{"token-sign-bench"};
    fs::path chain;
    std::unique_ptr<FileToken> token;
    std::string keyId, certId;
    Bytes km;
    bool ready = false;

    Medium() {
        std::string output;
        chain = testkit::cachedPki("chain", {}, &output);
        if (chain.empty()) {
            std::fprintf(stderr, "chain: %s\n", output.c_str());
            return;
        }
        const fs::path base = scratch.path() / "Preferences";
        const fs::path holder = base / "NPKI" / "yessign" / "USER" / kHolder;
        fs::create_directories(holder);
        fs::create_directories(scratch.path() / "home");
        ::setenv("HOME", (scratch.path() / "home").c_str(), 1);
        for (const auto& [from, to] :
             {std::pair{"sign.der", "signCert.der"}, std::pair{"signPri.key", "signPri.key"},
              std::pair{"km.der", "kmCert.der"}, std::pair{"kmPri.key", "kmPri.key"}})
            testkit::writeBytes(holder / to, testkit::readBytes(chain / from));
        km = testkit::readBytes(chain / "km.der");
        token = std::make_unique<FileToken>("/", "home");
        token->setPKIDir(base.string());
        token->setSystemDrive(true);
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        if (token->getCertificateList(&rows, &count, 0x111, nullptr, nullptr) == 0 && count) {
            keyId = rows[0].signKeyID;
            certId = rows[0].signCertID;
        }
        Token::freeMemory(rows, 0);
        static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
        ready = !keyId.empty() && legacy && standard;
    }
};

Medium& medium() {
    static Medium* m = new Medium();
    return *m;
}

Bytes payload(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 131 + 7);
    return data;
}

// --- OpenSSL helpers ----------------------------------------------------------------------------

EVP_PKEY* openKey(const fs::path& file) {
    const Bytes der = testkit::readBytes(file);
    const unsigned char* p = der.data();
    X509_SIG* sig = d2i_X509_SIG(nullptr, &p, static_cast<long>(der.size()));
    PKCS8_PRIV_KEY_INFO* info =
        sig ? PKCS8_decrypt(sig, kPassword.data(), static_cast<int>(kPassword.size())) : nullptr;
    EVP_PKEY* key = info ? EVP_PKCS82PKEY(info) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(info);
    X509_SIG_free(sig);
    return key;
}

X509* certificate(const fs::path& file) {
    const Bytes der = testkit::readBytes(file);
    const unsigned char* p = der.data();
    return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

Bytes decodeBase64(const std::string& text) {
    Bytes out(3 * (text.size() / 4) + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// --- PKCS #1 ------------------------------------------------------------------------------------

void BM_DiskTokenSignPKCS1_Ours(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    Answer answer;
    Bytes data = payload(kSmall);
    TokenGenerateSignatureParameters parameters{};
    parameters.hashName = const_cast<char*>("sha256");
    for (auto _ : state) {
        unsigned char* out = nullptr;
        unsigned long length = 0;
        if (m.token->generateSignature(&out, &length, &answer, data.data(), data.size(),
                                       m.keyId.c_str(), m.certId.c_str(), &parameters, 0) != 0)
            return state.SkipWithError("sign");
        Token::freeMemory(out, length);
    }
}
BENCHMARK(BM_DiskTokenSignPKCS1_Ours)->Unit(benchmark::kMillisecond);

void BM_DiskTokenSignPKCS1_OpenSSL(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    const Bytes data = payload(kSmall);
    for (auto _ : state) {
        EVP_PKEY* key = openKey(m.chain / "signPri.key");
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        unsigned char signature[512];
        size_t length = sizeof signature;
        const bool ok = key && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) &&
                        EVP_DigestSign(context, signature, &length, data.data(), data.size());
        EVP_MD_CTX_free(context);
        EVP_PKEY_free(key);
        if (!ok) return state.SkipWithError("sign");
        benchmark::DoNotOptimize(signature);
    }
}
BENCHMARK(BM_DiskTokenSignPKCS1_OpenSSL)->Unit(benchmark::kMillisecond);

// --- CMS, 10 MiB at text level
// --------------------------------------------------------------------

void BM_TextCmsSign10MiB_Ours(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    Answer answer;
    std::string text = base64(payload(kLarge));
    TokenGenerateSignatureParameters parameters{};
    parameters.inputLimitMiB = 11;
    for (auto _ : state) {
        char* out = nullptr;
        if (m.token->generateSignature(&out, &answer, text.data(), m.keyId.c_str(),
                                       m.certId.c_str(), &parameters, 2) != 0)
            return state.SkipWithError("sign");
        Token::freeMemory(out, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}
BENCHMARK(BM_TextCmsSign10MiB_Ours)->Unit(benchmark::kMillisecond);

void BM_TextCmsSign10MiB_OpenSSL(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    const std::string text = base64(payload(kLarge));
    X509* signer = certificate(m.chain / "sign.der");
    for (auto _ : state) {
        const Bytes data = decodeBase64(text);
        EVP_PKEY* key = openKey(m.chain / "signPri.key");
        BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        CMS_ContentInfo* cms = key ? CMS_sign(signer, key, nullptr, in, CMS_BINARY) : nullptr;
        unsigned char* der = nullptr;
        const int n = cms ? i2d_CMS_ContentInfo(cms, &der) : 0;
        const std::string out = n > 0 ? base64(Bytes(der, der + n)) : std::string();
        OPENSSL_free(der);
        CMS_ContentInfo_free(cms);
        BIO_free(in);
        EVP_PKEY_free(key);
        if (out.empty()) return state.SkipWithError("sign");
    }
    X509_free(signer);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}
BENCHMARK(BM_TextCmsSign10MiB_OpenSSL)->Unit(benchmark::kMillisecond);

void BM_TextEnvelope10MiB_Ours(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    std::string text = base64(payload(kLarge));
    for (auto _ : state) {
        char* out = nullptr;
        if (m.token->envelope(&out, m.km.data(), m.km.size(),
                              reinterpret_cast<unsigned char*>(text.data()), text.size(), 0) != 0)
            return state.SkipWithError("envelope");
        Token::freeMemory(out, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}
BENCHMARK(BM_TextEnvelope10MiB_Ours)->Unit(benchmark::kMillisecond);

void BM_TextEnvelope10MiB_OpenSSL(benchmark::State& state) {
    Medium& m = medium();
    if (!m.ready) return state.SkipWithError("material");
    const std::string text = base64(payload(kLarge));
    X509* recipient = certificate(m.chain / "km.der");
    STACK_OF(X509)* recipients = sk_X509_new_null();
    sk_X509_push(recipients, recipient);
    EVP_CIPHER* seed = EVP_CIPHER_fetch(nullptr, "SEED-CBC", nullptr);
    for (auto _ : state) {
        const Bytes data = decodeBase64(text);
        BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        CMS_ContentInfo* cms = seed ? CMS_encrypt(recipients, in, seed, CMS_BINARY) : nullptr;
        unsigned char* der = nullptr;
        const int n = cms ? i2d_CMS_ContentInfo(cms, &der) : 0;
        const std::string out = n > 0 ? base64(Bytes(der, der + n)) : std::string();
        OPENSSL_free(der);
        CMS_ContentInfo_free(cms);
        BIO_free(in);
        if (out.empty()) return state.SkipWithError("envelope");
    }
    EVP_CIPHER_free(seed);
    sk_X509_pop_free(recipients, X509_free);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLarge);
}
BENCHMARK(BM_TextEnvelope10MiB_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
