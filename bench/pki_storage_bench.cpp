// Certificate storage beside OpenSSL: reading an NPKI folder of 1,000 CA certificate files
// (OpenSSL: d2i_X509 of the same files), and building a three-level chain among them (OpenSSL:
// X509_verify_cert over an X509_STORE holding the same certificates, which also checks the
// signatures).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchCertificates.h"
#include "SGCertificateSet.h"
#include "SGCertificateStorage.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

using benchpki::derOf;
using benchpki::makeCertificate;

constexpr int kCaFiles = 1000;

Bytes readFile(const fs::path& path) {
    Bytes bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char buffer[8192];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The NPKI folder: a root and a CA among 998 other CA certificates, and the leaf the CA issued.
// The others come from an issuer outside the folder with a P-256 key, so that making them is
// quick; their own keys and identifiers differ from the chain's.
struct Tree {
    fs::path folder;
    std::vector<fs::path> files;
    Bytes leaf;
    X509_STORE* store = nullptr;
    X509* leafX509 = nullptr;

    Tree() {
        char pattern[] = "/tmp/pki-storage-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        const fs::path kisa = folder / "NPKI" / "KISA";
        fs::create_directories(kisa);
        EVP_PKEY* rootKey = EVP_RSA_gen(2048);
        EVP_PKEY* caKey = EVP_RSA_gen(2048);
        EVP_PKEY* leafKey = EVP_RSA_gen(2048);
        store = X509_STORE_new();
        X509* root = makeCertificate("Bench Root", 1, rootKey, nullptr, rootKey, true, "hash");
        X509* ca = makeCertificate("Bench CA", 2, caKey, root, rootKey, true, "hash");
        leafX509 = makeCertificate("Bench Leaf", 3, leafKey, ca, caKey, false, "hash");
        leaf = derOf(leafX509);
        auto add = [&](X509* x, const std::string& name) {
            files.push_back(kisa / name);
            writeFile(files.back(), derOf(x));
            X509_STORE_add_cert(store, x);
        };
        // The chain's two CAs sit in the middle of the folder.
        int others = 0;
        benchpki::otherCertificates(
            kCaFiles, caKey,
            [&](X509* other) { add(other, "other-" + std::to_string(others++) + ".der"); },
            [&] {
                add(root, "root.der");
                add(ca, "ca.der");
            });
        X509_free(root);
        X509_free(ca);
        EVP_PKEY_free(rootKey);
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(leafKey);
    }
    ~Tree() {
        X509_free(leafX509);
        X509_STORE_free(store);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::string npki() const { return (folder / "NPKI").string(); }
};

const Tree& tree() {
    static const Tree t;
    return t;
}

void readStorage(SGCertificateStorage* storage, const std::string& folder) {
    SGBinary path{reinterpret_cast<unsigned char*>(const_cast<char*>(folder.data())),
                  static_cast<uint32_t>(folder.size())};
    SGCertificateStorage_CreateByPath(storage, &path, SG_CERTIFICATE_STORAGE_NPKI);
}

void BM_ReadCaFiles_Ours(benchmark::State& state) {
    SGServiceWrapper_GetList(Service);
    const std::string folder = tree().npki();
    for (auto _ : state) {
        SGCertificateStorage storage{};
        readStorage(&storage, folder);
        benchmark::DoNotOptimize(storage.first);
        SGCertificateStorage_Clear(&storage);
    }
    state.SetItemsProcessed(state.iterations() * kCaFiles);
}
BENCHMARK(BM_ReadCaFiles_Ours)->Unit(benchmark::kMillisecond);

void BM_ReadCaFiles_OpenSSL(benchmark::State& state) {
    const auto& files = tree().files;
    for (auto _ : state) {
        for (const fs::path& file : files) {
            const Bytes der = readFile(file);
            const unsigned char* p = der.data();
            X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            benchmark::DoNotOptimize(x);
            X509_free(x);
        }
    }
    state.SetItemsProcessed(state.iterations() * kCaFiles);
}
BENCHMARK(BM_ReadCaFiles_OpenSSL)->Unit(benchmark::kMillisecond);

void BM_BuildChain_Ours(benchmark::State& state) {
    SGServiceWrapper_GetList(Service);
    SGCertificateStorage storage{};
    readStorage(&storage, tree().npki());
    SGX509Certificate leaf{};
    SGBinary der{const_cast<unsigned char*>(tree().leaf.data()),
                 static_cast<uint32_t>(tree().leaf.size())};
    SGX509Certificate_FromBinary(&leaf, &der);
    int result = -1;
    for (auto _ : state) {
        SGCertificateSet chain{};
        result = SGCertificateStorage_GenerateCertificateChain(&chain, &storage, &leaf, 0, nullptr);
        SGCertificateSet_Clear(&chain);
    }
    if (result != 0) state.SkipWithError("the chain was not built");
    SGX509Certificate_Clear(&leaf);
    SGCertificateStorage_Clear(&storage);
}
BENCHMARK(BM_BuildChain_Ours)->Unit(benchmark::kMicrosecond);

void BM_BuildChain_OpenSSL(benchmark::State& state) {
    int result = 0;
    for (auto _ : state) {
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, tree().store, tree().leafX509, nullptr);
        result = X509_verify_cert(ctx);
        X509_STORE_CTX_free(ctx);
    }
    if (result != 1) state.SkipWithError("the chain was not verified");
}
BENCHMARK(BM_BuildChain_OpenSSL)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
