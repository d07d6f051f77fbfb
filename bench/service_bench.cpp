// The PKI layer's ASN.1 object layer beside OpenSSL: decoding and encoding a certificate, and
// looking an object identifier up.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <vector>

#include "Certificate.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGX509Certificate.h"

namespace {

// A certificate made in process: P-256 key, a few extensions, signed with SHA-256.
const std::vector<unsigned char>& certificateDer() {
    static const std::vector<unsigned char> der = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 0x01020304);
        X509_gmtime_adj(X509_getm_notBefore(x), 0);
        X509_gmtime_adj(X509_getm_notAfter(x), 365L * 86400);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("KR"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Acme"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
        X509_set_issuer_name(x, name);
        X509_set_pubkey(x, key);
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        for (auto [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                                  std::pair{NID_key_usage, "keyCertSign,cRLSign"},
                                  std::pair{NID_subject_key_identifier, "hash"},
                                  std::pair{NID_subject_alt_name, "email:a@example.kr"}}) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
            X509_add_ext(x, ext, -1);
            X509_EXTENSION_free(ext);
        }
        X509_sign(x, key, EVP_sha256());
        unsigned char* out = nullptr;
        int n = i2d_X509(x, &out);
        std::vector<unsigned char> bytes(out, out + n);
        OPENSSL_free(out);
        X509_free(x);
        EVP_PKEY_free(key);
        return bytes;
    }();
    return der;
}

void BM_DecodeCertificate_Ours(benchmark::State& state) {
    const auto& der = certificateDer();
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    for (auto _ : state) {
        void* cert = nullptr;
        if (SGASN1CObject_Decode(&cert, &asn_DEF_Certificate, &in) != 0)
            state.SkipWithError("decode");
        SGASN1CObject_Free(cert, &asn_DEF_Certificate);
    }
    state.SetBytesProcessed(state.iterations() * der.size());
}
BENCHMARK(BM_DecodeCertificate_Ours);

void BM_DecodeCertificate_OpenSSL(benchmark::State& state) {
    const auto& der = certificateDer();
    for (auto _ : state) {
        const unsigned char* p = der.data();
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        if (!x) state.SkipWithError("decode");
        X509_free(x);
    }
    state.SetBytesProcessed(state.iterations() * der.size());
}
BENCHMARK(BM_DecodeCertificate_OpenSSL);

void BM_EncodeCertificate_Ours(benchmark::State& state) {
    const auto& der = certificateDer();
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    SGX509Certificate cert{};
    if (SGX509Certificate_FromBinary(&cert, &in) != 0) state.SkipWithError("decode");
    for (auto _ : state) {
        SGBinary out{};
        if (SGX509Certificate_ToBinary(&out, &cert) != 0) state.SkipWithError("encode");
        SGBinary_Reset(&out);
    }
    SGX509Certificate_Clear(&cert);
    state.SetBytesProcessed(state.iterations() * der.size());
}
BENCHMARK(BM_EncodeCertificate_Ours);

void BM_EncodeCertificate_OpenSSL(benchmark::State& state) {
    const auto& der = certificateDer();
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    for (auto _ : state) {
        // i2d of a parsed certificate reuses its cached encoding; re-encode the TBS part too.
        unsigned char* out = nullptr;
        int n = i2d_re_X509_tbs(x, &out);
        if (n <= 0) state.SkipWithError("encode");
        OPENSSL_free(out);
    }
    X509_free(x);
    state.SetBytesProcessed(state.iterations() * der.size());
}
BENCHMARK(BM_EncodeCertificate_OpenSSL);

// Contents octets of 2.16.840.1.101.3.4.2.3 (SHA-512), near the end of the table's scan.
const unsigned char kSha512[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

void BM_OidLookup_Ours(benchmark::State& state) {
    SGBinary oid{const_cast<unsigned char*>(kSha512), sizeof kSha512};
    for (auto _ : state) benchmark::DoNotOptimize(SGASNObjectID_Search(&oid));
}
BENCHMARK(BM_OidLookup_Ours);

void BM_OidLookup_OpenSSL(benchmark::State& state) {
    ASN1_OBJECT* obj = ASN1_OBJECT_create(NID_undef, const_cast<unsigned char*>(kSha512),
                                          sizeof kSha512, nullptr, nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(OBJ_obj2nid(obj));
    ASN1_OBJECT_free(obj);
}
BENCHMARK(BM_OidLookup_OpenSSL);

}  // namespace

BENCHMARK_MAIN();
