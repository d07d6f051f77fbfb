// Keys at the size bounds that keys from files and peers are held to, and beyond them:
//   - RSA verification at the largest modulus accepted (16384 bits, e = 65537): SGDS_Verify
//     beside EVP_DigestVerify, over the same signature;
//   - the KCDSA key check of a PKCS #12 import at the largest domain the crypto layer accepts
//     (p of 16384 bits, q of 256 bits): importPFX of the pair into a scratch disk token, the
//     file's password-based MAC and decryption and the written key file included;
//   - refusals: a 32768-bit RSA key with a 32768-bit exponent (decoded; pushed into a decoded key
//     and verified, beside OpenSSL's refusal; carried by a signed message) and a KCDSA domain with
//     p and q of 65536 bits (decoded; imported from its PKCS #12 file).
// Material comes from the shared kit (chain, rsa-bounds, kcdsa-forged, kcdsa-cert, kcdsa_key).
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileToken.h"
#include "PkiCache.h"
#include "Pkcs12Build.h"
#include "SGCrypto.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGKCDSA.h"
#include "SGPKCS7SignedData.h"
#include "SGServiceTable.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kFilePassword = "q1w2e3r4!@";
const std::string kStorage = "storage#Pw9";
const unsigned char kMessage[] = "key bounds benchmark message";

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bytes bytesOf(const BIGNUM* b) {
    Bytes out(static_cast<size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

std::string hexOf(const BIGNUM* b) {
    char* text = BN_bn2hex(b);
    std::string out(text);
    OPENSSL_free(text);
    return out;
}

fs::path kit(const std::string& recipe, const std::vector<std::string>& arguments = {}) {
    std::string output;
    const fs::path folder = testkit::cachedPki(recipe, arguments, &output);
    if (folder.empty()) std::fprintf(stderr, "%s: %s\n", recipe.c_str(), output.c_str());
    return folder;
}

EVP_PKEY* opensslPublicKey(const BIGNUM* n, const BIGNUM* e) {
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return key;
}

int opensslVerify(EVP_PKEY* key, const Bytes& signature) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const int r = EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key) == 1
                      ? EVP_DigestVerify(md, signature.data(), signature.size(), kMessage,
                                         sizeof kMessage - 1)
                      : -1;
    EVP_MD_CTX_free(md);
    return r;
}

// A modulus of exactly `bits` bits as a product of primes of about 1024 bits (quick to make,
// and only the product is public), each congruent to 1 modulo `step` when a step is given and
// accepted by `fits`; then the residues of one value per prime combined into one modulo n.
struct MultiPrime {
    std::vector<Bn> primes;
    Bn n{BN_new()};
    BN_CTX* ctx = BN_CTX_new();
    ~MultiPrime() { BN_CTX_free(ctx); }

    template <typename Fits>
    MultiPrime(int bits, const BIGNUM* step, Fits fits) {
        Bn one(BN_new());
        BN_one(one.get());
        BN_one(n.get());
        auto add = [&](int primeBits) {
            Bn prime(BN_new());
            do {
                BN_generate_prime_ex(prime.get(), primeBits, 0, step, step ? one.get() : nullptr,
                                     nullptr);
            } while (!fits(prime.get()));
            return prime;
        };
        while (BN_num_bits(n.get()) <= bits - 2048) {
            primes.push_back(add(1024));
            BN_mul(n.get(), n.get(), primes.back().get(), ctx);
        }
        primes.push_back(add((bits - BN_num_bits(n.get())) / 2));
        BN_mul(n.get(), n.get(), primes.back().get(), ctx);
        // The last prime's size decides the product's: a product has the sum of the sizes or one
        // bit less.
        Bn partial(BN_dup(n.get()));
        int last = bits - BN_num_bits(partial.get()) + 1;
        for (;;) {
            Bn prime = add(last);
            BN_mul(n.get(), partial.get(), prime.get(), ctx);
            const int got = BN_num_bits(n.get());
            if (got == bits) {
                primes.push_back(std::move(prime));
                break;
            }
            if (got > bits) --last;
        }
    }

    // The value that is residues[i] modulo primes[i], modulo n.
    Bn combine(const std::vector<Bn>& residues) {
        Bn value(BN_dup(residues[0].get())), modulus(BN_dup(primes[0].get())), t(BN_new()),
            inverse(BN_new());
        for (size_t i = 1; i < primes.size(); ++i) {
            const BIGNUM* p = primes[i].get();
            // value + modulus ((r_i - value) modulus^-1 mod p_i)
            BN_mod_inverse(inverse.get(), modulus.get(), p, ctx);
            BN_mod_sub(t.get(), residues[i].get(), value.get(), p, ctx);
            BN_mod_mul(t.get(), t.get(), inverse.get(), p, ctx);
            BN_mul(t.get(), t.get(), modulus.get(), ctx);
            BN_add(value.get(), value.get(), t.get());
            BN_mul(modulus.get(), modulus.get(), p, ctx);
        }
        return value;
    }
};

// A 16384-bit RSA modulus (a product of primes: the verifier sees n and e only), e = 65537, and
// an RSASSA-PKCS1-v1_5 SHA-256 signature of kMessage made prime by prime.
struct WideRsa {
    Bn e{BN_new()};
    Bytes signature;
    SGDSKey key{};
    EVP_PKEY* evp = nullptr;
    bool ready = false;

    WideRsa() {
        constexpr int kBits = 16384;
        BN_set_word(e.get(), 65537);
        BN_CTX* ctx = BN_CTX_new();
        MultiPrime modulus(kBits, nullptr, [&](const BIGNUM* prime) {
            Bn pm1(BN_dup(prime)), gcd(BN_new());
            BN_sub_word(pm1.get(), 1);
            BN_gcd(gcd.get(), pm1.get(), e.get(), ctx);
            return BN_is_one(gcd.get()) == 1;
        });
        unsigned char digest[32];
        SGDigest(digest, SG_DIGEST_SHA256, kMessage, sizeof kMessage - 1);
        static const unsigned char kPrefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                                0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                0x01, 0x05, 0x00, 0x04, 0x20};
        const size_t k = kBits / 8;
        Bytes em(k, 0xFF);
        em[0] = 0x00;
        em[1] = 0x01;
        em[k - sizeof kPrefix - sizeof digest - 1] = 0x00;
        std::memcpy(&em[k - sizeof kPrefix - sizeof digest], kPrefix, sizeof kPrefix);
        std::memcpy(&em[k - sizeof digest], digest, sizeof digest);
        Bn m(BN_bin2bn(em.data(), static_cast<int>(em.size()), nullptr));
        // s_i = m^(e^-1 mod p_i - 1) mod p_i
        std::vector<Bn> residues;
        for (const Bn& prime : modulus.primes) {
            Bn pm1(BN_dup(prime.get())), d(BN_new()), si(BN_new());
            BN_sub_word(pm1.get(), 1);
            BN_mod_inverse(d.get(), e.get(), pm1.get(), ctx);
            BN_mod_exp(si.get(), m.get(), d.get(), prime.get(), ctx);
            residues.push_back(std::move(si));
        }
        BN_CTX_free(ctx);
        const Bn s = modulus.combine(residues);
        signature.resize(k);
        BN_bn2binpad(s.get(), signature.data(), static_cast<int>(k));

        SGRSAPublicKey record{};
        const Bytes nb = bytesOf(modulus.n.get()), eb = bytesOf(e.get());
        SGRSAPublicKey_SetItem(&record, nb.data(), static_cast<unsigned>(nb.size()), 1);
        SGRSAPublicKey_SetItem(&record, eb.data(), static_cast<unsigned>(eb.size()), 2);
        unsigned length = 0;
        SGRSAPublicKey_Encode(nullptr, &length, &record);
        Bytes der(length);
        SGRSAPublicKey_Encode(der.data(), &length, &record);
        SGRSAPublicKey_Free(&record);
        evp = opensslPublicKey(modulus.n.get(), e.get());
        ready = SGDSKey_Decode(&key, der.data(), static_cast<int>(der.size()),
                               SG_DSKEY_RSA_PUBLIC) == 0 &&
                evp && opensslVerify(evp, signature) == 1;
    }
};

WideRsa& wideRsa() {
    static WideRsa* w = new WideRsa;  // kept for the whole run
    return *w;
}

SGDSParameter v15(SGDSKey* key) {
    SGDSParameter p{};
    p.kind = SG_DS_RSASSA_PKCS1_V15;
    p.key = key;
    p.v15HashId = SG_DIGEST_SHA256;
    return p;
}

void BM_SGDS_Verify_Rsa16384(benchmark::State& state) {
    WideRsa& w = wideRsa();
    if (!w.ready) return state.SkipWithError("no 16384-bit key");
    const SGDSParameter p = v15(&w.key);
    for (auto _ : state) {
        if (SGDS_Verify(w.signature.data(), static_cast<int>(w.signature.size()), kMessage,
                        sizeof kMessage - 1, &p) != 0)
            return state.SkipWithError("verification failed");
    }
}
BENCHMARK(BM_SGDS_Verify_Rsa16384)->Unit(benchmark::kMillisecond);

void BM_OpenSSL_Verify_Rsa16384(benchmark::State& state) {
    WideRsa& w = wideRsa();
    if (!w.ready) return state.SkipWithError("no 16384-bit key");
    for (auto _ : state) {
        if (opensslVerify(w.evp, w.signature) != 1)
            return state.SkipWithError("verification failed");
    }
}
BENCHMARK(BM_OpenSSL_Verify_Rsa16384)->Unit(benchmark::kMillisecond);

// ---- The 32768-bit RSA key with a 32768-bit exponent ----

struct HugeRsa {
    fs::path folder;
    Bytes publicDer, signedData, widePublicDer;
    EVP_PKEY* evp = nullptr;  // libcrypto reads the key; it refuses only to use it
    Bn n, e;
    bool ready = false;
    HugeRsa() {
        const fs::path chain = kit("chain");
        if (chain.empty()) return;
        folder = kit("rsa-bounds", {chain.string()});
        if (folder.empty()) return;
        publicDer = testkit::readBytes(folder / "huge-pub.der");
        signedData = testkit::readBytes(folder / "huge.p7");
        widePublicDer = testkit::readBytes(folder / "wide-pub.der");
        const unsigned char* p = publicDer.data();
        evp = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(publicDer.size()));
        BIGNUM *bn = nullptr, *be = nullptr;
        if (evp) {
            EVP_PKEY_get_bn_param(evp, OSSL_PKEY_PARAM_RSA_N, &bn);
            EVP_PKEY_get_bn_param(evp, OSSL_PKEY_PARAM_RSA_E, &be);
        }
        n.reset(bn);
        e.reset(be);
        ready = n && e && BN_num_bits(n.get()) == 32768 && BN_num_bits(e.get()) == 32768 &&
                !widePublicDer.empty();
    }
};

HugeRsa& hugeRsa() {
    static HugeRsa* h = new HugeRsa;
    return *h;
}

void BM_Refuse_RsaKeyDecode_32768(benchmark::State& state) {
    HugeRsa& h = hugeRsa();
    if (!h.ready) return state.SkipWithError("no material");
    for (auto _ : state) {
        SGRSAPublicKey key{};
        if (SGRSAPublicKey_Decode(&key, h.publicDer.data(), static_cast<int>(h.publicDer.size())) !=
            SG_RSA_ERR_KEY_SIZE)
            return state.SkipWithError("not refused");
    }
}
BENCHMARK(BM_Refuse_RsaKeyDecode_32768)->Unit(benchmark::kMicrosecond);

void BM_Refuse_SGDS_Verify_32768(benchmark::State& state) {
    HugeRsa& h = hugeRsa();
    if (!h.ready) return state.SkipWithError("no material");
    // A decoded key (the kit's RSA-4096) whose items are then replaced: the verification itself
    // must refuse.
    SGDSKey key{};
    if (SGDSKey_Decode(&key, h.widePublicDer.data(), static_cast<int>(h.widePublicDer.size()),
                       SG_DSKEY_RSA_PUBLIC) != 0)
        return state.SkipWithError("no key");
    const Bytes nb = bytesOf(h.n.get()), eb = bytesOf(h.e.get());
    SGRSAPublicKey_SetItem(&key.material.rsaPublic, nb.data(), static_cast<unsigned>(nb.size()), 1);
    SGRSAPublicKey_SetItem(&key.material.rsaPublic, eb.data(), static_cast<unsigned>(eb.size()), 2);
    const Bytes signature(nb.size(), 0x01);
    const SGDSParameter p = v15(&key);
    for (auto _ : state) {
        if (SGDS_Verify(signature.data(), static_cast<int>(signature.size()), kMessage,
                        sizeof kMessage - 1, &p) != SG_CRYPTO_ERR_ARGUMENT)
            return state.SkipWithError("not refused");
    }
    SGDSKey_Clear(&key);
}
BENCHMARK(BM_Refuse_SGDS_Verify_32768)->Unit(benchmark::kMicrosecond);

void BM_OpenSSL_Refuse_Verify_32768(benchmark::State& state) {
    HugeRsa& h = hugeRsa();
    if (!h.ready) return state.SkipWithError("no material");
    const Bytes signature(4096, 0x01);
    for (auto _ : state) {
        if (opensslVerify(h.evp, signature) == 1) return state.SkipWithError("not refused");
    }
}
BENCHMARK(BM_OpenSSL_Refuse_Verify_32768)->Unit(benchmark::kMicrosecond);

void BM_Refuse_SignedData_32768(benchmark::State& state) {
    HugeRsa& h = hugeRsa();
    if (!h.ready) return state.SkipWithError("no material");
    SGBinary in{h.signedData.data(), static_cast<uint32_t>(h.signedData.size())};
    for (auto _ : state) {
        SGBinary content{};
        SGCertificateSet signers{};
        const int r = SGPKCS7SignedData_Verify(&content, &signers, &in, nullptr, nullptr);
        SGBinary_Reset(&content);
        SGCertificateSet_Clear(&signers);
        if (r != SG_PKCS7_ERR_KEY) return state.SkipWithError("not refused");
    }
}
BENCHMARK(BM_Refuse_SignedData_32768)->Unit(benchmark::kMicrosecond);

// ---- KCDSA ----

// The standard's example II.2 (p, q, g, y) from the crypto tests' vectors.
std::map<std::string, std::string> kcdsaExample() {
    std::map<std::string, std::string> values;
    std::istringstream in(testkit::readText(std::string(BRINDLOW_TESTKIT_DIR) +
                                            "/../crypto/tests/data/kcdsa_ttak.vec"));
    bool inSet = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Set = ", 0) == 0) inSet = line == "Set = II.2";
        const size_t eq = line.find(" = ");
        if (inSet && eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return values;
}

class Answer : public InputPINHandler {
  public:
    int inputPIN(char*, TokenType, InputPINPurpose) override { return 1; }
    int inputDoublePin(char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }
};

// importInit, importPFX and importFinal of a fresh disk token below base, as the import dialog
// runs them.
int importInto(const fs::path& base, Bytes& pfx) {
    fs::create_directories(base);
    FileToken token("/", "bench");
    token.setPKIDir(base.string());
    token.setSystemDrive(true);
    std::string storage = kStorage, password = kFilePassword;
    int rc = token.importInit(reinterpret_cast<unsigned char*>(storage.data()), storage.size(),
                              nullptr, static_cast<InputPINHandler::InputPINPurpose>(13));
    if (rc != 0) return rc;
    rc = token.importPFX(reinterpret_cast<unsigned char*>(password.data()), password.size(),
                         pfx.data(), pfx.size(), 0);
    token.importFinal();
    return rc;
}

// A PKCS #12 file of a GPKI certificate and its KCDSA key at the largest domain the crypto layer
// accepts: q a 256-bit prime, p of 16384 bits a product of primes 1 modulo 2q (so q divides
// p - 1; the import check does not test p itself, and a 16384-bit prime would take hours to
// find), g of order q (made prime by prime), x below q, y = g^(x^-1 mod q).
struct WideKcdsa {
    testkit::Scratch scratch{"key-bounds-bench"};
    Bytes pfx, examplePfx, hugePfx, hugeDomain;
    bool ready = false;
    WideKcdsa() {
        const fs::path chain = kit("chain");
        if (chain.empty()) return;
        // GPKI media take certificates of a government authority: the chain CA's key under
        // "O=Government of Korea".
        const fs::path gov = scratch.path() / "gov-ca";
        fs::create_directories(gov);
        fs::copy_file(chain / "ca.key", gov / "ca.key");
        std::string output;
        if (!testkit::succeeds("openssl req -x509 -new -key " +
                                   testkit::quote((gov / "ca.key").string()) +
                                   " -subj '/C=KR/O=Government of Korea/CN=GPKI Bench CA' "
                                   "-days 3650 -out " +
                                   testkit::quote((gov / "ca.pem").string()),
                               &output)) {
            std::fprintf(stderr, "gov-ca: %s\n", output.c_str());
            return;
        }
        BN_CTX* ctx = BN_CTX_new();
        Bn q(BN_new()), step(BN_new()), x(BN_new()), inverse(BN_new()), y(BN_new());
        BN_generate_prime_ex(q.get(), 256, 0, nullptr, nullptr, nullptr);
        BN_lshift1(step.get(), q.get());
        MultiPrime p(16384, step.get(), [](const BIGNUM*) { return true; });
        // g_i = 2^((p_i - 1) / q) mod p_i, of order q (or 1, then 3 is taken).
        std::vector<Bn> residues;
        for (const Bn& prime : p.primes) {
            Bn exponent(BN_dup(prime.get())), gi(BN_new()), base(BN_new());
            BN_sub_word(exponent.get(), 1);
            BN_div(exponent.get(), nullptr, exponent.get(), q.get(), ctx);
            for (BN_ULONG b = 2; BN_is_zero(gi.get()) || BN_is_one(gi.get()); ++b) {
                BN_set_word(base.get(), b);
                BN_mod_exp(gi.get(), base.get(), exponent.get(), prime.get(), ctx);
            }
            residues.push_back(std::move(gi));
        }
        const Bn g = p.combine(residues);
        BN_rand_range(x.get(), q.get());
        if (BN_is_zero(x.get())) BN_one(x.get());
        BN_mod_inverse(inverse.get(), x.get(), q.get(), ctx);
        BN_mod_exp(y.get(), g.get(), inverse.get(), p.n.get(), ctx);
        BN_CTX_free(ctx);

        const fs::path work = scratch.path() / "material";
        if (!testkit::pki(
                "kcdsa-cert", work / "cert",
                {gov.string(), hexOf(p.n.get()), hexOf(q.get()), hexOf(g.get()), hexOf(y.get()),
                 "1.2.410.200004.1.1", "50", "Government of Korea", "Wide Domain"},
                &output) ||
            !testkit::pki("kcdsa_key", work / "key",
                          {hexOf(p.n.get()), hexOf(q.get()), hexOf(g.get()), hexOf(x.get())},
                          &output)) {
            std::fprintf(stderr, "kcdsa material: %s\n", output.c_str());
            return;
        }
        pfx = testkit::buildPkcs12(
            {{work / "cert" / "kcdsa.der", work / "key" / "plain.der", "gov", ""}}, kFilePassword);

        // The standard's example pair (2048-bit p, 224-bit q), the size GPKI media hold.
        auto example = kcdsaExample();
        if (!testkit::pki("kcdsa-cert", work / "example-cert",
                          {gov.string(), example["P"], example["Q"], example["G"], example["Y"],
                           "1.2.410.200004.1.1", "51", "Government of Korea", "Example Pair"},
                          &output) ||
            !testkit::pki("kcdsa_key", work / "example-key",
                          {example["P"], example["Q"], example["G"], example["X"]}, &output)) {
            std::fprintf(stderr, "kcdsa example: %s\n", output.c_str());
            return;
        }
        examplePfx = testkit::buildPkcs12(
            {{work / "example-cert" / "kcdsa.der", work / "example-key" / "plain.der", "gov", ""}},
            kFilePassword);
        const fs::path forged = kit("kcdsa-forged", {chain.string(), example["P"], example["Q"],
                                                     example["G"], example["Y"]});
        if (forged.empty()) return;
        hugePfx = testkit::buildPkcs12(
            {{forged / "nodomain" / "kcdsa.der", forged / "huge" / "plain.der", "gov", ""}},
            kFilePassword);
        hugeDomain = testkit::readBytes(forged / "huge" / "domain.der");
        ready = !pfx.empty() && !hugePfx.empty() &&
                importInto(scratch.path() / "check", pfx) == 0 &&
                importInto(scratch.path() / "example", examplePfx) == 0;
    }
};

WideKcdsa& wideKcdsa() {
    static WideKcdsa* w = new WideKcdsa;
    return *w;
}

// The whole import of a pair (file MAC and decryption, key check, key file written under the
// storage password): at the example's 2048-bit p, and at 16384 bits, where the key check's three
// exponentiations modulo p make most of the time.
void BM_ImportPFX_Kcdsa(benchmark::State& state) {
    WideKcdsa& w = wideKcdsa();
    if (!w.ready) return state.SkipWithError("no material");
    Bytes& file = state.range(0) == 16384 ? w.pfx : w.examplePfx;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path base = w.scratch.path() / ("import" + std::to_string(round++));
        state.ResumeTiming();
        if (importInto(base, file) != 0) return state.SkipWithError("import failed");
        state.PauseTiming();
        fs::remove_all(base);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportPFX_Kcdsa)->Arg(2048)->Arg(16384)->Unit(benchmark::kMillisecond);

void BM_Refuse_KcdsaDomainDecode_65536(benchmark::State& state) {
    WideKcdsa& w = wideKcdsa();
    if (!w.ready) return state.SkipWithError("no material");
    for (auto _ : state) {
        SGKCDSAParameter d{};
        if (SGKCDSAParameter_Decode(&d, w.hugeDomain.data(),
                                    static_cast<int>(w.hugeDomain.size())) != SG_KCDSA_ERR_SIZE)
            return state.SkipWithError("not refused");
    }
}
BENCHMARK(BM_Refuse_KcdsaDomainDecode_65536)->Unit(benchmark::kMicrosecond);

// The whole import of the file: most of it is the file's MAC and key decryption (PBE, 2048
// iterations each), which every import pays before the key check.
void BM_Refuse_ImportPFX_Kcdsa65536(benchmark::State& state) {
    WideKcdsa& w = wideKcdsa();
    if (!w.ready) return state.SkipWithError("no material");
    const fs::path base = w.scratch.path() / "refused";
    for (auto _ : state) {
        if (importInto(base, w.hugePfx) != 1030) return state.SkipWithError("not refused");
    }
}
BENCHMARK(BM_Refuse_ImportPFX_Kcdsa65536)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    SGCrypto_Initialize();
    if (SGServiceWrapper_GetList(Service) != 0) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
