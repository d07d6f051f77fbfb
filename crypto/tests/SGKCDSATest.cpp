// KCDSA: the examples of the standard's appendix (verification of their (R, S), signing with
// their secret k, the key pair from their XKEY and random input, J, p and q from their seed and
// counter), round trips for every size of q and every hash, and the coding of parameters, keys
// and signature values with their refusals.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"
#include "FuzzTestUtil.h"
#include "SGCrypto.h"
#include "SGDigest.h"
#include "SGKCDSA.h"
#include "SGKCDSAInternal.h"

#define BRINDLOW_FUZZ_EMBEDDED
#include "fuzz_kcdsa.cpp"

using namespace cryptotest;
namespace kcdsa = brindlow::crypto::kcdsa;

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bnHex(const std::string& hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex.c_str());
    return Bn(b);
}

Bytes bytesOf(const BIGNUM* b) {
    Bytes out(BN_num_bytes(b));
    BN_bn2bin(b, out.data());
    return out;
}

std::string hexOf(const BIGNUM* b) {
    return hex(bytesOf(b));
}

// Domain parameters released with the test.
struct Domain {
    Domain() = default;
    Domain(const Domain&) = delete;
    Domain& operator=(const Domain&) = delete;
    ~Domain() { SGKCDSAParameter_Clear(&d); }
    void set(const std::string& p, const std::string& q, const std::string& g) {
        const Bytes items[] = {unhex(p), unhex(q), unhex(g)};
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(
                SGKCDSAParameter_SetItem(&d, items[i].data(), static_cast<int>(items[i].size()), i),
                0);
    }
    SGKCDSAParameter d{};
};

// A key pair released with the test.
struct Keys {
    Keys() = default;
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
    ~Keys() {
        SGKCDSAPrivateKey_Free(&priv);
        SGKCDSAPublicKey_Free(&pub);
    }
    SGKCDSAPrivateKey priv{};
    SGKCDSAPublicKey pub{};
};

// The scheme record over a domain and keys; its copy of the domain is borrowed.
SGKCDSASchemeParameter scheme(const SGKCDSAParameter& domain, Keys& keys, int hashId) {
    SGKCDSASchemeParameter p{};
    p.domain = domain;
    p.privateKey = &keys.priv;
    p.publicKey = &keys.pub;
    p.hashId = hashId;
    return p;
}

Bytes encodeSignature(const Bytes& r, const Bytes& s) {
    unsigned length = 0;
    EXPECT_EQ(SGKCDSA_Encode_SignatureValue(nullptr, &length, r.data(), static_cast<int>(r.size()),
                                            s.data(), static_cast<int>(s.size())),
              0);
    Bytes der(length);
    EXPECT_EQ(
        SGKCDSA_Encode_SignatureValue(der.data(), &length, r.data(), static_cast<int>(r.size()),
                                      s.data(), static_cast<int>(s.size())),
        0);
    return der;
}

int hashForBits(int bits) {
    return bits == 160 ? SG_DIGEST_HAS160 : bits == 224 ? SG_DIGEST_SHA224 : SG_DIGEST_SHA256;
}

// The appendix examples and the values they share.
struct Examples {
    Record common;
    std::vector<Record> sets;
};

const Examples& examples() {
    static const Examples e = [] {
        Examples out;
        std::vector<Record> records =
            readRecords(std::string(BRINDLOW_TEST_DATA) + "/kcdsa_ttak.vec");
        for (Record& r : records) {
            if (r.count("Set"))
                out.sets.push_back(r);
            else
                out.common = r;
        }
        return out;
    }();
    return e;
}

class SGKCDSATest : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }

    // An example's domain, and its keys when asked.
    void load(const Record& r, Domain& domain, Keys* keys) {
        domain.set(r.at("P"), r.at("Q"), r.at("G"));
        if (!keys) return;
        const Bytes x = unhex(r.at("X")), y = unhex(r.at("Y"));
        keys->priv.x = BN_bin2bn(x.data(), static_cast<int>(x.size()), nullptr);
        keys->pub.y = BN_bin2bn(y.data(), static_cast<int>(y.size()), nullptr);
    }
};

// Fresh domain parameters for one size of q, made once for the whole run.
const SGKCDSAParameter& generated(unsigned qBits) {
    static SGKCDSAParameter domains[3] = {};
    SGKCDSAParameter& d = domains[qBits == 160 ? 0 : qBits == 224 ? 1 : 2];
    if (!d.p) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(SGKCDSA_GenerateParameters(&d, 1024, qBits), 0);
        const std::string progress = testing::internal::GetCapturedStdout();
        EXPECT_EQ(progress.rfind("count:1", 0), 0u) << progress;
    }
    return d;
}

}  // namespace

// ---- The appendix examples ----

TEST_F(SGKCDSATest, AppendixSignaturesVerify) {
    const Bytes m = unhex(examples().common.at("M"));
    ASSERT_EQ(examples().sets.size(), 4u);
    for (const Record& r : examples().sets) {
        SCOPED_TRACE(r.at("Set"));
        Domain domain;
        Keys keys;
        load(r, domain, &keys);
        SGKCDSASchemeParameter p = scheme(domain.d, keys, std::stoi(r.at("Hash")));
        const Bytes rBytes = unhex(r.at("R")), s = unhex(r.at("S"));
        const Bytes der = encodeSignature(rBytes, s);
        EXPECT_EQ(SGKCDSA_Verify(der.data(), static_cast<int>(der.size()), m.data(),
                                 static_cast<int>(m.size()), &p),
                  0);
        Bytes other = m;
        other.back() ^= 1;
        EXPECT_EQ(SGKCDSA_Verify(der.data(), static_cast<int>(der.size()), other.data(),
                                 static_cast<int>(other.size()), &p),
                  SG_KCDSA_ERR_INVALID);
        // S + q, 0 and q are outside [1, q); R one byte short is malformed.
        Bn sBn(BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr));
        Bn sPlusQ(BN_new());
        BN_add(sPlusQ.get(), sBn.get(), domain.d.q);
        for (const Bytes& bad : {bytesOf(sPlusQ.get()), Bytes{0}, bytesOf(domain.d.q)}) {
            const Bytes d = encodeSignature(rBytes, bad);
            EXPECT_EQ(SGKCDSA_Verify(d.data(), static_cast<int>(d.size()), m.data(),
                                     static_cast<int>(m.size()), &p),
                      SG_KCDSA_ERR_INVALID);
        }
        const Bytes shortR = encodeSignature(Bytes(rBytes.begin() + 1, rBytes.end()), s);
        EXPECT_EQ(SGKCDSA_Verify(shortR.data(), static_cast<int>(shortR.size()), m.data(),
                                 static_cast<int>(m.size()), &p),
                  SG_CRYPTO_ERR_ARGUMENT);
    }
}

TEST_F(SGKCDSATest, AppendixSignaturesAreReproducedWithTheirSecret) {
    const Bytes m = unhex(examples().common.at("M"));
    for (const Record& r : examples().sets) {
        SCOPED_TRACE(r.at("Set"));
        Domain domain;
        Keys keys;
        load(r, domain, &keys);
        SGKCDSASchemeParameter p = scheme(domain.d, keys, std::stoi(r.at("Hash")));
        const Bytes expected = encodeSignature(unhex(r.at("R")), unhex(r.at("S")));
        Bn k = bnHex(r.at("K"));
        unsigned char signature[128];
        unsigned length = sizeof signature;
        ASSERT_EQ(kcdsa::signWithSecret(signature, &length, m.data(),
                                        static_cast<unsigned>(m.size()), &p, k.get()),
                  0);
        EXPECT_EQ(hex(signature, length), hex(expected));
        // Without the public key, signing computes y from x.
        p.publicKey = nullptr;
        length = sizeof signature;
        ASSERT_EQ(kcdsa::signWithSecret(signature, &length, m.data(),
                                        static_cast<unsigned>(m.size()), &p, k.get()),
                  0);
        EXPECT_EQ(hex(signature, length), hex(expected));
    }
}

TEST_F(SGKCDSATest, AppendixKeyPairsComeFromTheirRandomInput) {
    const Bytes random = unhex(examples().common.at("UserRandom"));
    int checked = 0;
    for (const Record& r : examples().sets) {
        // The library's generator takes its hash from the size of q.
        if (std::stoi(r.at("Generator")) != hashForBits(std::stoi(r.at("QBits")))) continue;
        SCOPED_TRACE(r.at("Set"));
        Domain domain;
        load(r, domain, nullptr);
        const Bytes xkey = unhex(r.at("XKEY"));
        Bn x(BN_new()), y(BN_new());
        ASSERT_EQ(kcdsa::privateKeyFrom(x.get(), domain.d, xkey.data(), xkey.size(), random.data(),
                                        random.size()),
                  0);
        EXPECT_EQ(hexOf(x.get()), r.at("X"));
        ASSERT_EQ(SGKCDSA_Generate_PublicVerificationKey(y.get(), x.get(), &domain.d), 0);
        EXPECT_EQ(hexOf(y.get()), r.at("Y"));
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

TEST_F(SGKCDSATest, AppendixDomainsComeFromTheirSeedAndCounter) {
    int checked = 0;
    for (const Record& r : examples().sets) {
        const int pBits = std::stoi(r.at("PBits")), qBits = std::stoi(r.at("QBits"));
        if (std::stoi(r.at("Generator")) != hashForBits(qBits)) continue;
        SCOPED_TRACE(r.at("Set"));
        const Bytes seed = unhex(r.at("Seed"));
        Bn J(BN_new()), p(BN_new()), q(BN_new());
        ASSERT_EQ(kcdsa::jFromSeed(J.get(), seed.data(), pBits, qBits), 0);
        EXPECT_EQ(hexOf(J.get()), r.at("J"));
        const uint32_t count = static_cast<uint32_t>(std::stoul(r.at("Count")));
        ASSERT_EQ(
            kcdsa::primesAtCounter(p.get(), q.get(), J.get(), seed.data(), count, pBits, qBits), 0);
        EXPECT_EQ(hexOf(p.get()), r.at("P"));
        EXPECT_EQ(hexOf(q.get()), r.at("Q"));
        EXPECT_EQ(
            kcdsa::primesAtCounter(p.get(), q.get(), J.get(), seed.data(), count - 1, pBits, qBits),
            -1);
        // g = h^(2J) mod p, of order q.
        Bn h = bnHex(r.at("H")), twoJ(BN_new()), g(BN_new()), one(BN_new()), pp = bnHex(r.at("P")),
           qq = bnHex(r.at("Q"));
        BN_CTX* ctx = BN_CTX_new();
        BN_lshift1(twoJ.get(), J.get());
        BN_mod_exp(g.get(), h.get(), twoJ.get(), pp.get(), ctx);
        EXPECT_EQ(hexOf(g.get()), r.at("G"));
        BN_mod_exp(one.get(), g.get(), qq.get(), pp.get(), ctx);
        EXPECT_TRUE(BN_is_one(one.get()));
        BN_CTX_free(ctx);
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

// ---- Round trips ----

TEST_F(SGKCDSATest, GeneratedDomainsHaveTheirStructure) {
    for (unsigned qBits : {160u, 224u, 256u}) {
        SCOPED_TRACE(qBits);
        const SGKCDSAParameter& d = generated(qBits);
        ASSERT_NE(d.p, nullptr);
        EXPECT_EQ(BN_num_bits(d.p), 1024);
        EXPECT_EQ(BN_num_bits(d.q), static_cast<int>(qBits));
        EXPECT_EQ(SGBigInteger_isPrime(d.p), 1);
        EXPECT_EQ(SGBigInteger_isPrime(d.q), 1);
        EXPECT_EQ(SGKCDSA_CheckStrongPrime(d.J), 0);
        BN_CTX* ctx = BN_CTX_new();
        Bn t(BN_new());
        BN_mul(t.get(), d.J, d.q, ctx);
        BN_lshift1(t.get(), t.get());
        BN_add_word(t.get(), 1);
        EXPECT_EQ(BN_cmp(t.get(), d.p), 0);  // p = 2Jq + 1
        BN_mod_exp(t.get(), d.g, d.q, d.p, ctx);
        EXPECT_TRUE(BN_is_one(t.get()));
        EXPECT_FALSE(BN_is_one(d.g));
        BN_CTX_free(ctx);
        // The stored seed and counter lead to the same J, p and q.
        ASSERT_EQ(d.seedLength, static_cast<int>(qBits / 8));
        ASSERT_GT(d.counter, 0);
        Bn J(BN_new()), p(BN_new()), q(BN_new());
        ASSERT_EQ(kcdsa::jFromSeed(J.get(), d.seed, 1024, static_cast<int>(qBits)), 0);
        EXPECT_EQ(BN_cmp(J.get(), d.J), 0);
        ASSERT_EQ(
            kcdsa::primesAtCounter(p.get(), q.get(), J.get(), d.seed,
                                   static_cast<uint32_t>(d.counter), 1024, static_cast<int>(qBits)),
            0);
        EXPECT_EQ(BN_cmp(p.get(), d.p), 0);
        EXPECT_EQ(BN_cmp(q.get(), d.q), 0);
    }
}

TEST_F(SGKCDSATest, EverySizeAndHashSignsAndVerifies) {
    const unsigned char message[] = "round trip";
    struct Case {
        unsigned qBits;
        int hashId;
    };
    // SHA-1 with a 160-bit q: how the PKI layer verifies KCDSA-signed certificates and lists.
    const Case cases[] = {{160, SG_DIGEST_HAS160}, {160, SG_DIGEST_SHA1},   {160, SG_DIGEST_SHA224},
                          {160, SG_DIGEST_SHA256}, {224, SG_DIGEST_SHA224}, {224, SG_DIGEST_SHA256},
                          {256, SG_DIGEST_SHA256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.qBits) + "/" + std::to_string(c.hashId));
        const SGKCDSAParameter& d = generated(c.qBits);
        Keys keys;
        SGKCDSASchemeParameter p = scheme(d, keys, c.hashId);
        ASSERT_EQ(SGKCDSA_GenerateKeyPair(&keys.priv.x, &keys.pub.y, &p), 0);
        EXPECT_LT(BN_cmp(keys.priv.x, d.q), 0);
        unsigned char signature[128];
        unsigned length = sizeof signature;
        ASSERT_EQ(SGKCDSA_Sign(signature, &length, message, sizeof message, &p), 0);
        EXPECT_EQ(SGKCDSA_Verify(signature, static_cast<int>(length), message, sizeof message, &p),
                  0);
        // R has |q|/8 bytes whatever the digest's length.
        unsigned char r[64], s[64];
        unsigned rLength = sizeof r, sLength = sizeof s;
        ASSERT_EQ(SGKCDSA_Decode_SignatureValue(r, &rLength, s, &sLength, signature,
                                                static_cast<int>(length)),
                  0);
        EXPECT_EQ(rLength, c.qBits / 8);
        // A digest shorter than |q|/8 cannot make R: refused both ways.
        SGKCDSASchemeParameter shortHash = scheme(d, keys, SG_DIGEST_HAS160);
        if (c.qBits > 160) {
            unsigned n = sizeof signature;
            EXPECT_EQ(SGKCDSA_Sign(signature, &n, message, sizeof message, &shortHash),
                      SG_CRYPTO_ERR_ARGUMENT);
        }
    }
}

TEST_F(SGKCDSATest, AppendixDomainsGenerateWorkingKeyPairs) {
    const unsigned char message[] = "2048";
    for (const Record& r : examples().sets) {
        SCOPED_TRACE(r.at("Set"));
        Domain domain;
        load(r, domain, nullptr);
        Keys keys;
        SGKCDSASchemeParameter p = scheme(domain.d, keys, std::stoi(r.at("Hash")));
        ASSERT_EQ(SGKCDSA_GenerateKeyPair(&keys.priv.x, &keys.pub.y, &p), 0);
        unsigned char signature[128];
        unsigned length = sizeof signature;
        ASSERT_EQ(SGKCDSA_Sign(signature, &length, message, 4, &p), 0);
        EXPECT_EQ(SGKCDSA_Verify(signature, static_cast<int>(length), message, 4, &p), 0);
    }
}

TEST_F(SGKCDSATest, FixedGeneratorValuesMakeSigningRepeatable) {
    const Record& r = examples().sets[2];
    Domain domain;
    Keys keys;
    load(r, domain, &keys);
    SGKCDSASchemeParameter p = scheme(domain.d, keys, SG_DIGEST_SHA256);
    Bn key = bnHex("0123456789abcdef"), seed = bnHex("fedcba9876543210"), other = bnHex("1");
    p.randomKey = key.get();
    p.randomSeed = seed.get();
    const unsigned char m[] = "repeat";
    unsigned char a[128], b[128], c[128];
    unsigned aLength = sizeof a, bLength = sizeof b, cLength = sizeof c;
    ASSERT_EQ(SGKCDSA_Sign(a, &aLength, m, 6, &p), 0);
    ASSERT_EQ(SGKCDSA_Sign(b, &bLength, m, 6, &p), 0);
    EXPECT_EQ(hex(a, aLength), hex(b, bLength));
    p.randomSeed = other.get();
    ASSERT_EQ(SGKCDSA_Sign(c, &cLength, m, 6, &p), 0);
    EXPECT_NE(hex(a, aLength), hex(c, cLength));
    EXPECT_EQ(SGKCDSA_Verify(c, static_cast<int>(cLength), m, 6, &p), 0);
    // Without fixed values every signature has its own secret.
    p.randomKey = p.randomSeed = nullptr;
    aLength = sizeof a;
    bLength = sizeof b;
    ASSERT_EQ(SGKCDSA_Sign(a, &aLength, m, 6, &p), 0);
    ASSERT_EQ(SGKCDSA_Sign(b, &bLength, m, 6, &p), 0);
    EXPECT_NE(hex(a, aLength), hex(b, bLength));
}

// ---- Signing arguments ----

namespace {

struct CallbackLog {
    int calls = 0;
    Bytes input;
    unsigned algorithm = 0;
};

int recordingSigner(unsigned char* signature, unsigned int* length, const unsigned char* input,
                    unsigned int inputLength, unsigned int algorithm, void* user) {
    auto* log = static_cast<CallbackLog*>(user);
    ++log->calls;
    log->input.assign(input, input + inputLength);
    log->algorithm = algorithm;
    if (signature) signature[0] = 0x30;
    *length = 1;
    return 0;
}

}  // namespace

TEST_F(SGKCDSATest, SizeQueriesShortBuffersAndExternalSigners) {
    const Record& r = examples().sets[2];  // 2048/256
    Domain domain;
    Keys keys;
    load(r, domain, &keys);
    SGKCDSASchemeParameter p = scheme(domain.d, keys, SG_DIGEST_SHA256);
    const unsigned char m[] = "size";
    unsigned length = 0;
    EXPECT_EQ(SGKCDSA_Sign(nullptr, &length, m, 4, &p), SG_KCDSA_ERR_BUFFER);
    EXPECT_EQ(length, 77u);
    unsigned char signature[80];
    length = 40;
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 4, &p), SG_KCDSA_ERR_BUFFER);
    EXPECT_GT(length, 40u);
    EXPECT_LE(length, 77u);
    EXPECT_EQ(SGKCDSA_Sign(signature, nullptr, m, 4, &p), SG_CRYPTO_ERR_ARGUMENT);
    // The callback signs the raw message even though a private key is present.
    CallbackLog log;
    p.signCallback = &recordingSigner;
    p.callbackUserData = &log;
    length = sizeof signature;
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 4, &p), 0);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.input, Bytes(m, m + 4));
    EXPECT_EQ(log.algorithm, (5u << 16) | 16u);
    // No key and no callback.
    p.signCallback = nullptr;
    p.privateKey = nullptr;
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 4, &p), SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGKCDSATest, UnusableDomainsAndHashesAreRefused) {
    const Record& r = examples().sets[2];
    Domain domain;
    Keys keys;
    load(r, domain, &keys);
    const unsigned char m[] = "x";
    unsigned char signature[80];
    unsigned length = sizeof signature;
    SGKCDSASchemeParameter sha1 = scheme(domain.d, keys, SG_DIGEST_SHA1);
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 1, &sha1), SG_CRYPTO_ERR_ARGUMENT);
    SGKCDSASchemeParameter sha224 = scheme(domain.d, keys, SG_DIGEST_SHA224);  // 28 < 32 bytes
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 1, &sha224), SG_CRYPTO_ERR_ARGUMENT);
    SGKCDSAParameter noG = domain.d;
    noG.g = nullptr;
    SGKCDSASchemeParameter missing = scheme(noG, keys, SG_DIGEST_SHA256);
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 1, &missing), SG_CRYPTO_ERR_ARGUMENT);
    // q of 192 bits: not a size of the standard.
    Domain odd;
    Bn q192(BN_new());
    BN_set_bit(q192.get(), 191);
    BN_set_bit(q192.get(), 0);
    const Bytes q = bytesOf(q192.get());
    odd.set(r.at("P"), hex(q), r.at("G"));
    SGKCDSASchemeParameter oddScheme = scheme(odd.d, keys, SG_DIGEST_SHA256);
    EXPECT_EQ(SGKCDSA_Sign(signature, &length, m, 1, &oddScheme), SG_KCDSA_ERR_SIZE);
    SGBigInteger *x = nullptr, *y = nullptr;
    EXPECT_EQ(SGKCDSA_GenerateKeyPair(&x, &y, &oddScheme), SG_KCDSA_ERR_SIZE);
    SGKCDSAParameter out{};
    EXPECT_EQ(SGKCDSA_GenerateParameters(&out, 2048, 192), SG_KCDSA_ERR_SIZE);
    EXPECT_EQ(SGKCDSA_GenerateParameters(&out, 200, 160), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(out.p, nullptr);
}

// ---- The generator ----

TEST_F(SGKCDSATest, GeneratorStacksHashBlocksFromTheLeastSignificantEnd) {
    const unsigned char seed[] = {0x01, 0x02, 0x03};
    auto blockOf = [&](int hashId, unsigned char i) {
        Bytes input(seed, seed + 3);
        input.push_back(i);
        Bytes out(SGDigest_GetDigestSize(hashId));
        EXPECT_EQ(SGDigest(out.data(), hashId, input.data(), static_cast<uint32_t>(input.size())),
                  0);
        return Bn(BN_bin2bn(out.data(), static_cast<int>(out.size()), nullptr));
    };
    auto generate = [&](unsigned bits, int hashId) {
        unsigned char out[64];
        unsigned length = 0;
        EXPECT_EQ(SGKCDSA_PRNG(out, &length, seed, 3, bits, hashId), 0);
        return Bn(BN_bin2bn(out, static_cast<int>(length), nullptr));
    };
    // n = 256 with SHA-256: H(seed || 00) alone.
    EXPECT_EQ(BN_cmp(generate(256, SG_DIGEST_SHA256).get(), blockOf(SG_DIGEST_SHA256, 0).get()), 0);
    // n = 300: H(seed || 00) + (H(seed || 01) mod 2^44) 2^256.
    Bn expected = blockOf(SG_DIGEST_SHA256, 1);
    BN_mask_bits(expected.get(), 44);
    BN_lshift(expected.get(), expected.get(), 256);
    BN_add(expected.get(), expected.get(), blockOf(SG_DIGEST_SHA256, 0).get());
    EXPECT_EQ(BN_cmp(generate(300, SG_DIGEST_SHA256).get(), expected.get()), 0);
    // HAS-160 and SHA-224 in the same way.
    EXPECT_EQ(BN_cmp(generate(160, SG_DIGEST_HAS160).get(), blockOf(SG_DIGEST_HAS160, 0).get()), 0);
    Bn two = blockOf(SG_DIGEST_SHA224, 1);
    BN_lshift(two.get(), two.get(), 224);
    BN_add(two.get(), two.get(), blockOf(SG_DIGEST_SHA224, 0).get());
    EXPECT_EQ(BN_cmp(generate(448, SG_DIGEST_SHA224).get(), two.get()), 0);
    unsigned char out[64];
    unsigned length = 0;
    EXPECT_EQ(SGKCDSA_PRNG(out, &length, seed, 3, 160, SG_DIGEST_SHA1), SG_CRYPTO_ERR_ARGUMENT);
}

// ---- Encodings ----

TEST_F(SGKCDSATest, ParameterEncoding) {
    Domain domain;
    domain.set("17", "0b", "04");
    unsigned length = 0;
    EXPECT_EQ(SGKCDSAParameter_Encode(nullptr, &length, &domain.d), SG_KCDSA_ERR_PARAMETER_OUTPUT);
    EXPECT_EQ(length, 11u);
    unsigned char der[128];
    length = sizeof der;
    ASSERT_EQ(SGKCDSAParameter_Encode(der, &length, &domain.d), 0);
    EXPECT_EQ(hex(der, length), "300902011702010b020104");
    // With J and the generation record (a 32-byte seed, counter 7).
    const Bytes j = {0x80, 0x01};
    ASSERT_EQ(SGKCDSAParameter_SetItem(&domain.d, j.data(), 2, 3), 0);
    for (int i = 0; i < 32; ++i) domain.d.seed[i] = static_cast<unsigned char>(i);
    domain.d.seedLength = 32;
    domain.d.counter = 7;
    length = 20;
    EXPECT_EQ(SGKCDSAParameter_Encode(der, &length, &domain.d), SG_KCDSA_ERR_PARAMETER_OUTPUT);
    EXPECT_EQ(length, 2u + 9 + 5 + 39);
    ASSERT_EQ(SGKCDSAParameter_Encode(der, &length, &domain.d), 0);
    const std::string encoded = hex(der, length);
    EXPECT_EQ(encoded.substr(0, 4 + 18 + 10),
              "3035020117"
              "02010b"
              "020104"
              "0203008001");
    EXPECT_EQ(encoded.substr(encoded.size() - 78), "30250420" + hex(domain.d.seed, 32) + "020107");
    // Decoding takes p, q and g only, of a domain that signing would take: the small one above
    // is none (q of 4 bits), the appendix's 2048/256 domain with the same J and record is.
    Domain back;
    EXPECT_EQ(SGKCDSAParameter_Decode(&back.d, der, static_cast<int>(length)), SG_KCDSA_ERR_SIZE);
    EXPECT_EQ(back.d.p, nullptr);
    Domain real;
    load(examples().sets[2], real, nullptr);
    ASSERT_EQ(SGKCDSAParameter_SetItem(&real.d, j.data(), 2, 3), 0);
    std::memcpy(real.d.seed, domain.d.seed, 32);
    real.d.seedLength = 32;
    real.d.counter = 7;
    Bytes realDer(1024);
    length = static_cast<unsigned>(realDer.size());
    ASSERT_EQ(SGKCDSAParameter_Encode(realDer.data(), &length, &real.d), 0);
    ASSERT_EQ(SGKCDSAParameter_Decode(&back.d, realDer.data(), static_cast<int>(length)), 0);
    EXPECT_EQ(BN_cmp(back.d.p, real.d.p), 0);
    EXPECT_EQ(BN_cmp(back.d.q, real.d.q), 0);
    EXPECT_EQ(BN_cmp(back.d.g, real.d.g), 0);
    EXPECT_EQ(back.d.J, nullptr);
    EXPECT_EQ(back.d.seedLength, 0);
    const Bytes notSequence = unhex("020101");
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGKCDSAParameter_Decode(&back.d, notSequence.data(), 3), SG_KCDSA_ERR_NO_SEQUENCE);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(back.d.p, nullptr);  // a failed decode keeps what the record held
    EXPECT_EQ(SGKCDSAParameter_SetItem(&back.d, j.data(), 2, 4), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGKCDSAParameter_Decode(nullptr, der, 3), SG_CRYPTO_ERR_ARGUMENT);
}

// A domain from a file or a peer is held to the rule of signing and verification when it is
// decoded, so that no p or q of any size reaches arithmetic: q of 160, 224 or 256 bits, p odd,
// longer than q and of at most 16384 bits, 1 < g < p.
TEST_F(SGKCDSATest, DecodingHoldsDomainsToTheRuleOfSigning) {
    const Record& r = examples().sets[2];  // 2048/256
    auto odd = [](int bits) {
        Bn b(BN_new());
        EXPECT_EQ(BN_rand(b.get(), bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD), 1);
        return hexOf(b.get());
    };
    const std::string p = r.at("P"), q = r.at("Q"), g = r.at("G");
    std::string pMinusOne = p;
    pMinusOne.back() = static_cast<char>(pMinusOne.back() - 1);  // p ends in an odd digit
    const std::string widest = odd(16384);
    const struct {
        const char* what;
        std::string p, q, g;
        int want;
    } cases[] = {
        {"the appendix's domain", p, q, g, 0},
        {"p of 16384 bits", widest, q, "02", 0},
        {"p of 16385 bits", odd(16385), q, "02", SG_CRYPTO_ERR_ARGUMENT},
        {"p and q of 65536 bits", odd(65536), odd(65536), "02", SG_KCDSA_ERR_SIZE},
        {"q of 192 bits", p, odd(192), g, SG_KCDSA_ERR_SIZE},
        {"q of 2 bits", p, "03", g, SG_KCDSA_ERR_SIZE},
        {"an even p", pMinusOne, q, g, SG_CRYPTO_ERR_ARGUMENT},
        {"p no longer than q", odd(256), q, "02", SG_CRYPTO_ERR_ARGUMENT},
        {"g = 1", p, q, "01", SG_CRYPTO_ERR_ARGUMENT},
        {"g = 0", p, q, "00", SG_CRYPTO_ERR_ARGUMENT},
        {"g = p", p, q, p, SG_CRYPTO_ERR_ARGUMENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Domain domain;
        domain.set(c.p, c.q, c.g);
        unsigned length = 0;
        ASSERT_EQ(SGKCDSAParameter_Encode(nullptr, &length, &domain.d),
                  SG_KCDSA_ERR_PARAMETER_OUTPUT);
        Bytes der(length);
        ASSERT_EQ(SGKCDSAParameter_Encode(der.data(), &length, &domain.d), 0);
        Domain back;
        EXPECT_EQ(SGKCDSAParameter_Decode(&back.d, der.data(), static_cast<int>(der.size())),
                  c.want);
        EXPECT_EQ(back.d.p != nullptr, c.want == 0);
    }
}

TEST_F(SGKCDSATest, SignatureValueCoding) {
    const Bytes r(32, 0xAB), s = {0x00, 0x00, 0x81};
    const Bytes der = encodeSignature(r, s);
    EXPECT_EQ(hex(der),
              "302703210"
              "0" +
                  hex(r) + "02020081");
    unsigned char rOut[32], sOut[32];
    unsigned rLength = 31, sLength = 32;
    EXPECT_EQ(SGKCDSA_Decode_SignatureValue(rOut, &rLength, sOut, &sLength, der.data(),
                                            static_cast<int>(der.size())),
              SG_KCDSA_ERR_BUFFER);
    EXPECT_EQ(rLength, 32u);
    EXPECT_EQ(sLength, 1u);
    ASSERT_EQ(SGKCDSA_Decode_SignatureValue(rOut, &rLength, sOut, &sLength, der.data(),
                                            static_cast<int>(der.size())),
              0);
    EXPECT_EQ(hex(rOut, rLength), hex(r));
    EXPECT_EQ(hex(sOut, sLength), "81");
    unsigned small = 10;
    unsigned char out[64];
    EXPECT_EQ(SGKCDSA_Encode_SignatureValue(out, &small, r.data(), 32, s.data(), 3),
              SG_KCDSA_ERR_BUFFER);
    EXPECT_EQ(small, der.size());
    // Bytes after the SEQUENCE, a BIT STRING with unused bits, an empty s.
    for (const char* bad : {"3007030200ab020101"
                            "00",
                            "3007030201ab020101",
                            "30060302"
                            "00ab0200"}) {
        const Bytes b = unhex(bad);
        rLength = sLength = 32;
        EXPECT_NE(SGKCDSA_Decode_SignatureValue(rOut, &rLength, sOut, &sLength, b.data(),
                                                static_cast<int>(b.size())),
                  0)
            << bad;
    }
}

TEST_F(SGKCDSATest, KeyRecords) {
    const Bytes y = unhex("020300ff01"), x = unhex("020105");
    SGKCDSAPublicKey pub{};
    SGKCDSAPrivateKey priv{};
    ASSERT_EQ(SGKCDSAPublicKey_Decode(&pub, y.data(), static_cast<int>(y.size())), 0);
    int size = 0;
    ASSERT_EQ(SGKCDSAPublicKey_GetKeySize(&size, &pub), 0);
    EXPECT_EQ(size, 2);
    ASSERT_EQ(SGKCDSAPrivateKey_Decode(&priv, x.data(), static_cast<int>(x.size())), 0);
    EXPECT_TRUE(BN_is_word(priv.x, 5));
    // Encoding the records and the private key's size are not supported, and say so.
    unsigned length = 64;
    unsigned char out[64];
    EXPECT_EQ(SGKCDSAPublicKey_Encode(out, &length, &pub), SG_KCDSA_ERR_NOT_SUPPORTED);
    EXPECT_EQ(SGKCDSAPrivateKey_Encode(out, &length, &priv), SG_KCDSA_ERR_NOT_SUPPORTED);
    EXPECT_EQ(SGKCDSAPrivateKey_GetKeySize(&size, &priv), SG_KCDSA_ERR_NOT_SUPPORTED);
    const Bytes negative = unhex("020180"), octets = unhex("040105");
    testing::internal::CaptureStdout();
    EXPECT_NE(SGKCDSAPublicKey_Decode(&pub, negative.data(), 3), 0);
    EXPECT_NE(SGKCDSAPrivateKey_Decode(&priv, octets.data(), 3), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(BN_is_word(priv.x, 5));
    EXPECT_EQ(SGKCDSAPrivateKey_Decode(nullptr, x.data(), 3), SG_CRYPTO_ERR_ARGUMENT);
    SGKCDSAPublicKey_Free(&pub);
    SGKCDSAPrivateKey_Free(&priv);
    EXPECT_EQ(pub.y, nullptr);
    EXPECT_EQ(priv.x, nullptr);
}

// ---- The fuzz target ----

TEST_F(SGKCDSATest, FuzzTargetOverSeedsAndMutations) {
    fuzztest::run("fuzz_kcdsa", 5, 20000, fuzzKcdsa);
}
