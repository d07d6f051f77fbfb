// PKCS #12 beside OpenSSL: decoding a file of the kind openssl pkcs12 -export writes with
// -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -iter 2048 (a key, its certificate,
// CA and root) and selecting the pair (OpenSSL: d2i_PKCS12 and PKCS12_parse), and building and
// encoding one pair with both safes encrypted (OpenSSL: PKCS12_create with triple DES for key and
// certificates, 2048 iterations, a SHA-1 MAC, and i2d_PKCS12; our shrouded key takes 1024
// iterations, as our files have it). The file both sides read is OpenSSL's.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <vector>

#include "BenchCertificates.h"
#include "SGBinary.h"
#include "SGPKCS12.h"
#include "SGServiceTable.h"

namespace {

using Bytes = std::vector<unsigned char>;
using benchpki::derOf;
using benchpki::makeCertificate;

const char kPassword[] = "q1w2e3r4!@";

struct Material {
    EVP_PKEY* key = nullptr;
    X509* leaf = nullptr;
    STACK_OF(X509) * cas = nullptr;
    Bytes keyDer, leafDer, rootDer, caDer, p12;

    Material() {
        if (SGServiceWrapper_GetList(Service) != 0) std::abort();
        EVP_PKEY* rootKey = EVP_RSA_gen(2048);
        EVP_PKEY* caKey = EVP_RSA_gen(2048);
        key = EVP_RSA_gen(2048);
        X509* root = makeCertificate("Bench Root", 1, rootKey, nullptr, rootKey, true, "hash");
        X509* ca = makeCertificate("Bench CA", 2, caKey, root, rootKey, true, "hash");
        leaf = makeCertificate("Bench Leaf", 3, key, ca, caKey, false, "hash");
        cas = sk_X509_new_null();
        sk_X509_push(cas, root);
        sk_X509_push(cas, ca);
        rootDer = derOf(root);
        caDer = derOf(ca);
        leafDer = derOf(leaf);
        unsigned char* out = nullptr;
        PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
        int n = i2d_PKCS8_PRIV_KEY_INFO(info, &out);
        keyDer.assign(out, out + n);
        OPENSSL_free(out);
        PKCS8_PRIV_KEY_INFO_free(info);
        PKCS12* p12Object = create();
        out = nullptr;
        n = i2d_PKCS12(p12Object, &out);
        p12.assign(out, out + n);
        OPENSSL_free(out);
        PKCS12_free(p12Object);
        EVP_PKEY_free(rootKey);
        EVP_PKEY_free(caKey);
    }
    PKCS12* create() const {
        PKCS12* p = PKCS12_create(kPassword, "Bench Leaf", key, leaf, cas,
                                  NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                  NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, -1, 0);
        // The SHA-1 MAC that the files read here carry (the library's default is SHA-256).
        if (!p || !PKCS12_set_mac(p, kPassword, -1, nullptr, 0, 2048, EVP_sha1())) std::abort();
        return p;
    }
};

const Material& material() {
    static const Material m;
    return m;
}

SGBinary view(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}

void BM_Decode_Ours(benchmark::State& state) {
    const Material& m = material();
    const SGBinary der = view(m.p12);
    const SGBinary password{reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword)),
                            sizeof kPassword - 1};
    for (auto _ : state) {
        SGPKCS12PFX pfx{};
        if (SGPKCS12PFX_Decode(&pfx, &der, &password) != 0) state.SkipWithError("decode");
        SGBinary key{}, certificate{};
        SGBinaryList* chain = SGBinaryList_New();
        if (SGPKCS12PFX_GetCertificateAndKey(&key, &certificate, chain, &pfx, 0) != 0)
            state.SkipWithError("select");
        benchmark::DoNotOptimize(key.length);
        SGBinary_Cleanse(&key);
        SGBinary_Reset(&certificate);
        SGBinaryList_Free(chain);
        SGPKCS12PFX_Clear(&pfx);
    }
}
BENCHMARK(BM_Decode_Ours)->Unit(benchmark::kMicrosecond);

void BM_Decode_OpenSSL(benchmark::State& state) {
    const Material& m = material();
    for (auto _ : state) {
        const unsigned char* p = m.p12.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(m.p12.size()));
        EVP_PKEY* key = nullptr;
        X509* certificate = nullptr;
        STACK_OF(X509)* cas = nullptr;
        if (!p12 || !PKCS12_parse(p12, kPassword, &key, &certificate, &cas))
            state.SkipWithError("parse");
        benchmark::DoNotOptimize(key);
        EVP_PKEY_free(key);
        X509_free(certificate);
        sk_X509_pop_free(cas, X509_free);
        PKCS12_free(p12);
    }
}
BENCHMARK(BM_Decode_OpenSSL)->Unit(benchmark::kMicrosecond);

void BM_Encode_Ours(benchmark::State& state) {
    const Material& m = material();
    const SGBinary key = view(m.keyDer), leaf = view(m.leafDer);
    const SGBinary root = view(m.rootDer), ca = view(m.caDer);
    const SGBinary password{reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword)),
                            sizeof kPassword - 1};
    SGBinaryList* cas = SGBinaryList_New();
    SGBinaryList_Add(cas, &root);
    SGBinaryList_Add(cas, &ca);
    for (auto _ : state) {
        SGPKCS12PFX pfx{};
        SGBinary out{};
        if (SGPKCS12PFX_AddCertificateAndKey(&pfx, SG_PKCS12_FLAG_ENCRYPT_SAFE, &key, &leaf, 0, cas,
                                             nullptr, nullptr) != 0 ||
            SGPKCS12PFX_Encode(&out, &pfx, &password, nullptr) != 0)
            state.SkipWithError("encode");
        benchmark::DoNotOptimize(out.length);
        SGBinary_Reset(&out);
        SGPKCS12PFX_Clear(&pfx);
    }
    SGBinaryList_Free(cas);
}
BENCHMARK(BM_Encode_Ours)->Unit(benchmark::kMicrosecond);

void BM_Encode_OpenSSL(benchmark::State& state) {
    const Material& m = material();
    for (auto _ : state) {
        PKCS12* p12 = m.create();
        unsigned char* out = nullptr;
        const int n = i2d_PKCS12(p12, &out);
        benchmark::DoNotOptimize(n);
        OPENSSL_free(out);
        PKCS12_free(p12);
    }
}
BENCHMARK(BM_Encode_OpenSSL)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
