// SignedData signing and verification of 1 KiB and 1 MiB (SHA-256, RSA-2048, signed attributes,
// the signer certificate included, content attached) beside OpenSSL's CMS_sign / CMS_verify
// with the same shape (CMS_BINARY | CMS_NOSMIMECAP, DER in and out, no chain verification), and
// our own SHA-256 plus RSA over the same data: what the CMS layer adds to them.
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "SGCryptoHandler.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGPKCS1.h"
#include "SGPKCS7SignedData.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Signer {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    Bytes keyDer, certificateDer;
    SGX509Certificate parsed{};
    bool ready = false;
};

// An RSA-2048 signer with a self-signed certificate (digitalSignature), made once.
const Signer& signer() {
    static const Signer s = [] {
        Signer out;
        if (SGServiceWrapper_GetList(Service) != 0) return out;
        out.key = EVP_RSA_gen(2048);
        X509* x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
        X509_gmtime_adj(X509_getm_notBefore(x), -86400);
        X509_gmtime_adj(X509_getm_notAfter(x), 3650L * 86400);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Bench Signer"), -1, -1,
                                   0);
        X509_set_issuer_name(x, name);
        X509_set_pubkey(x, out.key);
        X509_EXTENSION* usage =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "critical,digitalSignature");
        X509_add_ext(x, usage, -1);
        X509_EXTENSION_free(usage);
        X509_sign(x, out.key, EVP_sha256());
        out.certificate = x;
        unsigned char* der = nullptr;
        int n = i2d_X509(x, &der);
        out.certificateDer.assign(der, der + n);
        OPENSSL_free(der);
        der = nullptr;
        n = i2d_PrivateKey(out.key, &der);  // RSAPrivateKey
        out.keyDer.assign(der, der + n);
        OPENSSL_clear_free(der, static_cast<size_t>(n));
        SGBinary view{out.certificateDer.data(), static_cast<uint32_t>(out.certificateDer.size())};
        out.ready = SGX509Certificate_FromBinary(&out.parsed, &view) == 0;
        return out;
    }();
    return s;
}

Bytes message(size_t size) {
    Bytes m(size);
    for (size_t i = 0; i < size; ++i) m[i] = static_cast<unsigned char>(i * 131 + 7);
    return m;
}

SGPKCS7SignedDataParameters options() {
    SGPKCS7SignedDataParameters o{};
    o.flags = SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_SIGNED_ATTRIBUTES;
    o.digestId = SG_DIGEST_SHA256;
    return o;
}

SGCryptoHandlerKey keyHandle(const Signer& s) {
    SGCryptoHandlerKey k{};
    k.type = 2;
    k.form.key.der = s.keyDer.data();
    k.form.key.length = static_cast<uint32_t>(s.keyDer.size());
    return k;
}

Bytes signOurs(const Signer& s, const Bytes& m) {
    const SGCryptoHandlerKey key = keyHandle(s);
    const SGPKCS7SignedDataParameters o = options();
    SGBinary in{const_cast<unsigned char*>(m.data()), static_cast<uint32_t>(m.size())}, out{};
    Bytes der;
    if (SGPKCS7SignedData_Sign(&out, &in, &s.parsed, nullptr, &key, &o) == 0)
        der.assign(out.data, out.data + out.length);
    SGBinary_Reset(&out);
    return der;
}

void BM_SignedData_Sign_Ours(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes m = message(static_cast<size_t>(state.range(0)));
    const SGCryptoHandlerKey key = keyHandle(s);
    const SGPKCS7SignedDataParameters o = options();
    SGBinary in{const_cast<unsigned char*>(m.data()), static_cast<uint32_t>(m.size())};
    for (auto _ : state) {
        SGBinary out{};
        if (SGPKCS7SignedData_Sign(&out, &in, &s.parsed, nullptr, &key, &o) != 0)
            state.SkipWithError("sign");
        SGBinary_Reset(&out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SignedData_Sign_Ours)->Arg(1024)->Arg(1 << 20);

void BM_SignedData_Sign_OpenSSL(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes m = message(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        BIO* in = BIO_new_mem_buf(m.data(), static_cast<int>(m.size()));
        CMS_ContentInfo* cms =
            CMS_sign(s.certificate, s.key, nullptr, in, CMS_BINARY | CMS_NOSMIMECAP);
        unsigned char* der = nullptr;
        const int n = cms ? i2d_CMS_ContentInfo(cms, &der) : -1;
        if (n <= 0) state.SkipWithError("CMS_sign");
        OPENSSL_free(der);
        CMS_ContentInfo_free(cms);
        BIO_free(in);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SignedData_Sign_OpenSSL)->Arg(1024)->Arg(1 << 20);

void BM_SignedData_Verify_Ours(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes signedData = signOurs(s, message(static_cast<size_t>(state.range(0))));
    if (signedData.empty()) state.SkipWithError("sign");
    SGBinary in{const_cast<unsigned char*>(signedData.data()),
                static_cast<uint32_t>(signedData.size())};
    for (auto _ : state) {
        SGBinary content{};
        SGCertificateSet signers{};
        if (SGPKCS7SignedData_Verify(&content, &signers, &in, nullptr, nullptr) != 0)
            state.SkipWithError("verify");
        SGBinary_Reset(&content);
        SGCertificateSet_Clear(&signers);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SignedData_Verify_Ours)->Arg(1024)->Arg(1 << 20);

void BM_SignedData_Verify_OpenSSL(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes signedData = signOurs(s, message(static_cast<size_t>(state.range(0))));
    if (signedData.empty()) state.SkipWithError("sign");
    X509_STORE* store = X509_STORE_new();
    for (auto _ : state) {
        const unsigned char* p = signedData.data();
        CMS_ContentInfo* cms =
            d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signedData.size()));
        BIO* out = BIO_new(BIO_s_mem());
        if (!cms || CMS_verify(cms, nullptr, store, nullptr, out,
                               CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
            state.SkipWithError("CMS_verify");
        BIO_free(out);
        CMS_ContentInfo_free(cms);
    }
    X509_STORE_free(store);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SignedData_Verify_OpenSSL)->Arg(1024)->Arg(1 << 20);

// Our own SHA-256 of the data and an RSA-2048 PKCS #1 v1.5 signature of the digest, the key
// decoded once: what the CMS layer builds on.
void BM_SHA256_RSA_Sign_Ours(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes m = message(static_cast<size_t>(state.range(0)));
    SGDSKey key{};
    if (SGDSKey_Decode(&key, s.keyDer.data(), static_cast<int>(s.keyDer.size()),
                       SG_DSKEY_RSA_PRIVATE) != 0)
        state.SkipWithError("key");
    SGDSParameter p{};
    p.kind = SG_DS_RSASSA_PKCS1_V15;
    p.key = &key;
    p.v15HashId = SG_PKCS1_HASH_AS_GIVEN;
    p.alreadyHashed = 1;
    unsigned char digest[32], signature[256];
    unsigned char info[64];
    for (auto _ : state) {
        SGDigest(digest, SG_DIGEST_SHA256, m.data(), static_cast<uint32_t>(m.size()));
        unsigned infoLength = sizeof info, length = sizeof signature;
        SGPKCS1_CreateDigestInfo(info, &infoLength, SG_DIGEST_SHA256, digest, nullptr, 0);
        if (SGDS_Sign(signature, &length, info, static_cast<int>(infoLength), &p) != 0)
            state.SkipWithError("sign");
        benchmark::DoNotOptimize(signature);
    }
    SGDSKey_Clear(&key);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SHA256_RSA_Sign_Ours)->Arg(1024)->Arg(1 << 20);

void BM_SHA256_RSA_Verify_Ours(benchmark::State& state) {
    const Signer& s = signer();
    if (!s.ready) state.SkipWithError("signer");
    const Bytes m = message(static_cast<size_t>(state.range(0)));
    SGDSKey privateKey{}, publicKey{};
    SGDSParameter p{};
    p.kind = SG_DS_RSASSA_PKCS1_V15;
    p.v15HashId = SG_DIGEST_SHA256;
    unsigned char signature[256];
    unsigned length = sizeof signature;
    int keyKind = 0;
    SGBinary bits{};
    if (SGDSKey_Decode(&privateKey, s.keyDer.data(), static_cast<int>(s.keyDer.size()),
                       SG_DSKEY_RSA_PRIVATE) != 0 ||
        SGX509Certificate_GetPublicKeyInfo(&keyKind, nullptr, &bits, nullptr, &s.parsed) != 0 ||
        SGDSKey_Decode(&publicKey, bits.data, static_cast<int>(bits.length), SG_DSKEY_RSA_PUBLIC) !=
            0)
        state.SkipWithError("key");
    p.key = &privateKey;
    if (SGDS_Sign(signature, &length, m.data(), static_cast<int>(m.size()), &p) != 0)
        state.SkipWithError("sign");
    p.key = &publicKey;
    for (auto _ : state) {
        if (SGDS_Verify(signature, static_cast<int>(length), m.data(), static_cast<int>(m.size()),
                        &p) != 0)
            state.SkipWithError("verify");
    }
    SGDSKey_Clear(&privateKey);
    SGDSKey_Clear(&publicKey);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SHA256_RSA_Verify_Ours)->Arg(1024)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
