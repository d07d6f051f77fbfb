// The secure channel beside the work it is made of and beside OpenSSL, in the same run:
// - 8 KiB records sealed and opened (ARIA-128-CBC, HMAC-SHA-256, the DER record around them),
//   beside our own cipher and HMAC doing the same over the same bytes (encrypt, MAC, decrypt,
//   MAC) and OpenSSL's EVP ARIA-128-CBC and HMAC doing it too;
// - one whole handshake in process (request, certificate checks, RSA-2048 PKCS #1 v1.5 of R,
//   its decryption through a key handle, the secret and the key derivation on both sides),
//   beside one RSA-2048 encryption plus decryption of ours and of OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <vector>

#include "PaskKey.h"
#include "SGCipher.h"
#include "SGCryptoHandler.h"
#include "SGDigest.h"
#include "SGHMAC.h"
#include "SGPKCS1.h"
#include "SGRSA.h"
#include "SGServiceTable.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kRecord = 8192;

bool serviceReady() {
    static const bool ready = SGServiceWrapper_GetList(Service) == 0;
    return ready;
}

const unsigned char kKey[16] = {0x9C, 0x27, 0xA3, 0xDB, 0x13, 0xF4, 0x79, 0x68,
                                0x63, 0xA8, 0x24, 0x85, 0x09, 0x01, 0x48, 0x65};
const unsigned char kIv[16] = {0xF4, 0x0A, 0xD2, 0x74, 0xBC, 0x5B, 0x56, 0x83,
                               0xEB, 0x7F, 0x49, 0xD2, 0x1D, 0x0B, 0x2C, 0x0E};
const unsigned char kMacKey[16] = {0xF9, 0xDC, 0x89, 0x3E, 0xC6, 0x7D, 0x3B, 0x68,
                                   0xD6, 0x42, 0x03, 0x7B, 0x85, 0x6B, 0xE2, 0x6B};

const Bytes& plaintext() {
    static const Bytes p = [] {
        Bytes b(kRecord);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 31 + 7);
        return b;
    }();
    return p;
}

// A context of the role with keys from fixed R and S, as the handshake leaves it.
void keyed(PaskKeyContext* c, int role) {
    static const unsigned char r[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static const unsigned char s[16] = {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                                        0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    PaskKey_Init(c, role, 4, 5);
    c->cipherId = 4;
    c->digestId = 5;
    c->mode = SG_CIPHER_MODE_CBC;
    SGCipher_GetInfo(&c->info, 4);
    SGBinary_Set(&c->r, r, 16);
    SGBinary_Set(&c->s, s, 16);
    PaskKey_KDF(c);
    c->step = role == PASKKEY_ROLE_SERVER ? PASKKEY_SERVER_STEPS : PASKKEY_CLIENT_STEPS;
}

void BM_Record8K_SealAndOpen_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    PaskKeyContext client, server;
    keyed(&client, PASKKEY_ROLE_CLIENT);
    keyed(&server, PASKKEY_ROLE_SERVER);
    const SGBinary in{const_cast<unsigned char*>(plaintext().data()), kRecord};
    for (auto _ : state) {
        SGBinary record{}, out{};
        if (PaskKey_Encrypt(&client, &record, &in) != 0 ||
            PaskKey_Decrypt(&server, &out, &record) != 0 || out.length != kRecord) {
            state.SkipWithError("record");
            break;
        }
        benchmark::DoNotOptimize(out.data);
        SGBinary_Reset(&record);
        SGBinary_Cleanse(&out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRecord));
    PaskKeyContext_Final(&client);
    PaskKeyContext_Final(&server);
}
BENCHMARK(BM_Record8K_SealAndOpen_Ours);

// The same cipher and MAC work through our crypto layer alone.
void BM_Aria128CbcHmacSha256_8K_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    const Bytes& in = plaintext();
    Bytes cipher(kRecord + 16), back(kRecord + 16);
    unsigned char mac[32], check[32];
    for (auto _ : state) {
        SGCipherParameter p{};
        p.mode = SG_CIPHER_MODE_CBC;
        p.padding = SG_CIPHER_PADDING_PKCS7;
        std::memcpy(p.iv, kIv, 16);
        p.ivLength = 16;
        uint32_t n = 0, m = 0, macLength = 32, checkLength = 32;
        if (SGCipher_Encrypt(cipher.data(), &n, in.data(), kRecord, kKey, 16, 4, &p) != 0 ||
            SGHMAC(mac, &macLength, 5, in.data(), kRecord, kMacKey, 16) != 0 ||
            SGCipher_Decrypt(back.data(), &m, cipher.data(), n, kKey, 16, 4, &p) != 0 ||
            SGHMAC(check, &checkLength, 5, back.data(), m, kMacKey, 16) != 0 ||
            std::memcmp(mac, check, 32) != 0) {
            state.SkipWithError("ARIA or HMAC");
            break;
        }
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRecord));
}
BENCHMARK(BM_Aria128CbcHmacSha256_8K_Ours);

void BM_Aria128CbcHmacSha256_8K_OpenSSL(benchmark::State& state) {
    const Bytes& in = plaintext();
    Bytes cipher(kRecord + 16), back(kRecord + 16);
    unsigned char mac[32], check[32];
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const EVP_CIPHER* aria = EVP_aria_128_cbc();
    for (auto _ : state) {
        int n = 0, last = 0, m = 0, lastBack = 0;
        unsigned macLength = 0, checkLength = 0;
        if (EVP_EncryptInit_ex(ctx, aria, nullptr, kKey, kIv) != 1 ||
            EVP_EncryptUpdate(ctx, cipher.data(), &n, in.data(), kRecord) != 1 ||
            EVP_EncryptFinal_ex(ctx, cipher.data() + n, &last) != 1 ||
            !HMAC(EVP_sha256(), kMacKey, 16, in.data(), kRecord, mac, &macLength) ||
            EVP_DecryptInit_ex(ctx, aria, nullptr, kKey, kIv) != 1 ||
            EVP_DecryptUpdate(ctx, back.data(), &m, cipher.data(), n + last) != 1 ||
            EVP_DecryptFinal_ex(ctx, back.data() + m, &lastBack) != 1 ||
            !HMAC(EVP_sha256(), kMacKey, 16, back.data(), m + lastBack, check, &checkLength) ||
            std::memcmp(mac, check, 32) != 0) {
            state.SkipWithError("EVP");
            break;
        }
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRecord));
    EVP_CIPHER_CTX_free(ctx);
}
BENCHMARK(BM_Aria128CbcHmacSha256_8K_OpenSSL);

// An RSA-2048 server key and a certificate for it that the client accepts.
struct Server {
    EVP_PKEY* key = nullptr;
    Bytes certificate, privateKey, publicKey;
    Server() {
        key = EVP_RSA_gen(2048);
        X509* x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 0x10);
        X509_gmtime_adj(X509_getm_notBefore(x), -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), 365L * 86400);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Channel Bench"), -1, -1,
                                   0);
        X509_set_issuer_name(x, name);
        X509_set_pubkey(x, key);
        X509V3_CTX v3;
        X509V3_set_ctx(&v3, x, x, nullptr, nullptr, 0);
        X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, &v3, NID_key_usage, "critical,keyEncipherment");
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
        X509_sign(x, key, EVP_sha256());
        certificate = der(i2d_X509(x, nullptr), [&](unsigned char** p) { return i2d_X509(x, p); });
        privateKey = der(i2d_PrivateKey(key, nullptr),
                         [&](unsigned char** p) { return i2d_PrivateKey(key, p); });
        publicKey = der(i2d_PublicKey(key, nullptr),
                        [&](unsigned char** p) { return i2d_PublicKey(key, p); });
        X509_free(x);
    }
    ~Server() { EVP_PKEY_free(key); }
    template <typename F>
    static Bytes der(int n, F write) {
        Bytes b(n > 0 ? static_cast<size_t>(n) : 0);
        unsigned char* p = b.data();
        write(&p);
        return b;
    }
};
const Server& server() {
    static const Server s;
    return s;
}

// One step: its first output.
bool step(PaskKeyContext* c, const SGBinary& input, Bytes* out) {
    SGBinaryList outputs{};
    PaskKeyInput in{};
    in.value = input;
    const bool ok = PaskKey_NextOperation(c, &outputs, &in) == 0;
    if (out) out->assign(outputs.value.data, outputs.value.data + outputs.value.length);
    SGBinaryList_Reset(&outputs);
    return ok;
}
SGBinary view(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}

void BM_Handshake_InProcess_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    const Server& s = server();
    SGCryptoHandlerKey handle{};
    handle.type = SG_CRYPTO_HANDLER_RSA_KEY;
    handle.form.key.der = s.privateKey.data();
    handle.form.key.length = static_cast<uint32_t>(s.privateKey.size());
    const SGBinary handleBytes{reinterpret_cast<unsigned char*>(&handle), 24};
    for (auto _ : state) {
        PaskKeyContext client, server;
        PaskKey_Init(&client, 0, 4, 5);
        PaskKey_Init(&server, 1, 0, 0);
        Bytes request, certificate, response, secret;
        const bool ok =
            step(&client, SGBinary{}, &request) && step(&server, view(s.certificate), nullptr) &&
            step(&server, handleBytes, nullptr) && step(&server, view(request), &certificate) &&
            step(&client, view(certificate), &response) && step(&server, view(response), &secret) &&
            step(&client, view(secret), nullptr);
        if (!ok) {
            state.SkipWithError("handshake");
            break;
        }
        benchmark::DoNotOptimize(client.d0.data);
        PaskKeyContext_Final(&client);
        PaskKeyContext_Final(&server);
    }
}
BENCHMARK(BM_Handshake_InProcess_Ours)->Unit(benchmark::kMillisecond);

void BM_Rsa2048_EncryptPlusDecrypt_Ours(benchmark::State& state) {
    if (!serviceReady()) state.SkipWithError("Service table");
    const Server& s = server();
    SGRSAPublicKey publicKey{};
    SGRSAPrivateKey privateKey{};
    if (SGRSAPublicKey_Decode(&publicKey, s.publicKey.data(),
                              static_cast<int>(s.publicKey.size())) ||
        SGRSAPrivateKey_Decode(&privateKey, s.privateKey.data(),
                               static_cast<int>(s.privateKey.size())))
        state.SkipWithError("keys");
    const unsigned char r[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    unsigned char encrypted[256], decrypted[256];
    for (auto _ : state) {
        // As the channel does: the client's record holds the public key, the server's the
        // private one.
        SGPKCS1Parameter encrypt{}, decrypt{};
        encrypt.encryptionScheme = decrypt.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
        encrypt.publicKey = &publicKey;
        decrypt.privateKey = &privateKey;
        unsigned n = sizeof encrypted, m = sizeof decrypted;
        if (SGPKCS1_Encrypt(encrypted, &n, r, sizeof r, &encrypt) != 0 ||
            SGPKCS1_Decrypt(decrypted, &m, encrypted, n, &decrypt) != 0 || m != sizeof r) {
            state.SkipWithError("RSA");
            break;
        }
        benchmark::DoNotOptimize(decrypted);
    }
    SGRSAPublicKey_Free(&publicKey);
    SGRSAPrivateKey_Free(&privateKey);
}
BENCHMARK(BM_Rsa2048_EncryptPlusDecrypt_Ours)->Unit(benchmark::kMillisecond);

void BM_Rsa2048_EncryptPlusDecrypt_OpenSSL(benchmark::State& state) {
    EVP_PKEY* key = server().key;
    EVP_PKEY_CTX* encrypt = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX* decrypt = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_encrypt_init(encrypt);
    EVP_PKEY_CTX_set_rsa_padding(encrypt, RSA_PKCS1_PADDING);
    EVP_PKEY_decrypt_init(decrypt);
    EVP_PKEY_CTX_set_rsa_padding(decrypt, RSA_PKCS1_PADDING);
    const unsigned char r[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    unsigned char encrypted[256], decrypted[256];
    for (auto _ : state) {
        size_t n = sizeof encrypted, m = sizeof decrypted;
        if (EVP_PKEY_encrypt(encrypt, encrypted, &n, r, sizeof r) != 1 ||
            EVP_PKEY_decrypt(decrypt, decrypted, &m, encrypted, n) != 1 || m != sizeof r) {
            state.SkipWithError("EVP RSA");
            break;
        }
        benchmark::DoNotOptimize(decrypted);
    }
    EVP_PKEY_CTX_free(encrypt);
    EVP_PKEY_CTX_free(decrypt);
}
BENCHMARK(BM_Rsa2048_EncryptPlusDecrypt_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
