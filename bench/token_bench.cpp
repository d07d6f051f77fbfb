// Listing an NPKI tree of 1,000 certificates with the disk token, beside OpenSSL parsing the same
// 1,000 certificates in one process: read from their files, and from memory.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileToken.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCertificates = 1000;
constexpr const char* kCAs[] = {"yessign", "Lindsign", "TradeSign", "CrossCert",
                                "KICA",    "INIPASS",  "KECA",      "KSIGN"};

struct Tree {
    std::string root;  // also the home folder of the run
    std::string base;
    std::vector<std::string> certificateFiles;
};

Tree& tree() {
    static Tree t;
    return t;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// One RSA-2048 key signs every certificate; each holder gets its own subject and serial number.
bool buildTree() {
    char pattern[] = "/tmp/token-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    Tree& t = tree();
    t.root = pattern;
    t.base = t.root + "/Library/Preferences";
    ::setenv("HOME", t.root.c_str(), 1);  // the token's log goes below the run's home

    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (!key) return false;
    // The listing reads the key file without opening it: any encrypted PKCS #8 does.
    std::vector<unsigned char> keyFile;
    {
        X509_SIG* p8 = nullptr;
        PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
        p8 = PKCS8_encrypt(-1, EVP_aes_128_cbc(), "password", 8, nullptr, 0, 2048, info);
        unsigned char* out = nullptr;
        const int n = i2d_X509_SIG(p8, &out);
        keyFile.assign(out, out + n);
        OPENSSL_free(out);
        X509_SIG_free(p8);
        PKCS8_PRIV_KEY_INFO_free(info);
    }
    for (int i = 0; i < kCertificates; ++i) {
        const char* ca = kCAs[i % std::size(kCAs)];
        const std::string cn = "홍길동()" + std::to_string(1000000 + i);
        X509* x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 0x10000 + i);
        X509_gmtime_adj(X509_getm_notBefore(x), 0);
        X509_gmtime_adj(X509_getm_notAfter(x), 365L * 86400);
        X509_NAME* name = X509_get_subject_name(x);
        auto add = [name](const char* field, const std::string& value) {
            X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0);
        };
        add("C", "KR");
        add("O", ca);
        add("OU", "personal4IB");
        add("CN", cn);
        X509_set_issuer_name(x, name);
        X509_set_pubkey(x, key);
        X509_sign(x, key, EVP_sha256());
        unsigned char* out = nullptr;
        const int n = i2d_X509(x, &out);
        const std::vector<unsigned char> der(out, out + n);
        OPENSSL_free(out);
        X509_free(x);

        const std::string folder =
            t.base + "/NPKI/" + ca + "/USER/cn=" + cn + ",ou=personal4IB,o=" + ca + ",c=KR";
        fs::create_directories(folder);
        writeFile(folder + "/signCert.der", der);
        writeFile(folder + "/signPri.key", keyFile);
        t.certificateFiles.push_back(folder + "/signCert.der");
    }
    EVP_PKEY_free(key);
    return true;
}

void BM_ListNPKITree_Ours(benchmark::State& state) {
    FileToken token("/", "bench");
    token.setPKIDir(tree().base);
    for (auto _ : state) {
        ShortCertificate* list = nullptr;
        unsigned int count = 0;
        token.getCertificateList(&list, &count, 1, nullptr, nullptr);
        if (count != kCertificates) state.SkipWithError("not every certificate was listed");
        Token::freeMemory(list, 0);
    }
    state.SetItemsProcessed(state.iterations() * kCertificates);
}
BENCHMARK(BM_ListNPKITree_Ours)->Unit(benchmark::kMillisecond);

void BM_ReadAndParseCertificates_OpenSSL(benchmark::State& state) {
    for (auto _ : state) {
        int parsed = 0;
        for (const auto& path : tree().certificateFiles) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<unsigned char> der{std::istreambuf_iterator<char>(in),
                                                 std::istreambuf_iterator<char>()};
            const unsigned char* p = der.data();
            X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            if (x) ++parsed;
            X509_free(x);
        }
        if (parsed != kCertificates) state.SkipWithError("parse");
    }
    state.SetItemsProcessed(state.iterations() * kCertificates);
}
BENCHMARK(BM_ReadAndParseCertificates_OpenSSL)->Unit(benchmark::kMillisecond);

// The parses alone, from bytes already in memory.
void BM_ParseCertificates_OpenSSL(benchmark::State& state) {
    std::vector<std::vector<unsigned char>> files;
    for (const auto& path : tree().certificateFiles) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (auto _ : state) {
        int parsed = 0;
        for (const auto& der : files) {
            const unsigned char* p = der.data();
            X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            if (x) ++parsed;
            X509_free(x);
        }
        if (parsed != kCertificates) state.SkipWithError("parse");
    }
    state.SetItemsProcessed(state.iterations() * kCertificates);
}
BENCHMARK(BM_ParseCertificates_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!buildTree()) {
        std::fprintf(stderr, "could not build the certificate tree\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(tree().root, ec);
    return 0;
}
