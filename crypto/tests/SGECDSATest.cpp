// ECDSA on P-256: the NIST signature generation and verification vectors, signatures crossed
// with OpenSSL both ways, scalar multiplication against OpenSSL's, the signature-value coding
// against OpenSSL's DER, and the refusals of bad scalars, points and encodings.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <memory>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"
#include "FuzzTestUtil.h"
#include "SGCrypto.h"
#include "SGDER.h"
#include "SGDigest.h"
#include "SGECDSA.h"

#define BRINDLOW_FUZZ_EMBEDDED
#include "fuzz_ecdsa.cpp"

using namespace cryptotest;

namespace {

const std::string kEcdsaVectors = kVectors + "/asymmetric/ECDSA/FIPS_186-3";
const char* kOrderHex = "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551";

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
struct PointFree {
    void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using EcPoint = std::unique_ptr<EC_POINT, PointFree>;
struct GroupFree {
    void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct EvpKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyFree>;

Bn bnHex(const std::string& hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex.c_str());
    return Bn(b);
}

Bytes bytesOf(const BIGNUM* b, int width = 0) {
    Bytes out(width ? width : BN_num_bytes(b));
    BN_bn2binpad(b, out.data(), static_cast<int>(out.size()));
    return out;
}

int hashIdOf(const std::string& section) {
    if (section.find("SHA-1]") != std::string::npos) return SG_DIGEST_SHA1;
    if (section.find("SHA-224]") != std::string::npos) return SG_DIGEST_SHA224;
    if (section.find("SHA-256]") != std::string::npos) return SG_DIGEST_SHA256;
    if (section.find("SHA-384]") != std::string::npos) return SG_DIGEST_SHA384;
    if (section.find("SHA-512]") != std::string::npos) return SG_DIGEST_SHA512;
    return 0;
}

Bytes uncompressed(const std::string& qx, const std::string& qy) {
    Bytes out = {4};
    for (const std::string& c : {qx, qy}) {
        Bytes b = unhex(std::string(64 - c.size(), '0') + c);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// A public key record released with the test.
struct PublicKey {
    PublicKey() = default;
    PublicKey(const PublicKey&) = delete;
    PublicKey& operator=(const PublicKey&) = delete;
    ~PublicKey() { SGECPublicKey_Reset(&key); }
    SGECPublicKey key{};
};

// A private scalar released with the test.
struct PrivateKey {
    PrivateKey() = default;
    PrivateKey(const PrivateKey&) = delete;
    PrivateKey& operator=(const PrivateKey&) = delete;
    ~PrivateKey() { SGBigInteger_Free(d); }
    SGBigInteger* d = nullptr;
};

class SGECDSATest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGCrypto_Initialize();
        group_.reset(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
        ctx_ = BN_CTX_new();
        ASSERT_EQ(SGECDomainParameters_Get(&domain_), 0);
    }
    void TearDown() override {
        SGECDomainParameters_Reset(&domain_);
        BN_CTX_free(ctx_);
    }

    // A new OpenSSL key with its private scalar and its uncompressed public point.
    EvpKey newKey(PrivateKey& priv, PublicKey& pub) {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        BIGNUM* d = nullptr;
        EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d), 1);
        const Bytes dBytes = bytesOf(d, 32);
        BN_clear_free(d);
        EXPECT_EQ(SGECPrivateKey_Decode(&priv.d, dBytes.data(), 32), 0);
        unsigned char point[65];
        size_t length = 0;
        EXPECT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                                  &length),
                  1);
        EXPECT_EQ(SGECPublicKey_Decode(&pub.key, point, static_cast<int>(length)), 0);
        return EvpKey(key);
    }

    // k P by OpenSSL, as the affine coordinates or empty for the point at infinity.
    std::pair<Bytes, Bytes> opensslMultiply(const BIGNUM* k, const EC_POINT* p) {
        EcPoint r(EC_POINT_new(group_.get()));
        EXPECT_EQ(p ? EC_POINT_mul(group_.get(), r.get(), nullptr, p, k, ctx_)
                    : EC_POINT_mul(group_.get(), r.get(), k, nullptr, nullptr, ctx_),
                  1);
        if (EC_POINT_is_at_infinity(group_.get(), r.get())) return {};
        Bn x(BN_new()), y(BN_new());
        EC_POINT_get_affine_coordinates(group_.get(), r.get(), x.get(), y.get(), ctx_);
        return {bytesOf(x.get(), 32), bytesOf(y.get(), 32)};
    }

    std::pair<Bytes, Bytes> ourMultiply(const BIGNUM* k, const SGECPoint* p) {
        SGECPoint r{};
        EXPECT_EQ(SGECPoint_Init(&r, &domain_), 0);
        EXPECT_EQ(SGECPoint_ScalarMultiply(&r, k, p, &domain_), 0);
        std::pair<Bytes, Bytes> out;
        if (!r.infinity) out = {bytesOf(r.x, 32), bytesOf(r.y, 32)};
        SGECPoint_Reset(&r);
        return out;
    }

    std::unique_ptr<EC_GROUP, GroupFree> group_;
    BN_CTX* ctx_ = nullptr;
    SGECDomainParameters domain_{};
};

}  // namespace

// ---- Published vectors ----

TEST_F(SGECDSATest, SigGenVectorsReproduceRAndSWithTheGivenNonce) {
    int checked = 0;
    for (const Record& r : readRecords(kEcdsaVectors + "/SigGen.txt")) {
        const std::string& section = r.at("[section]");
        if (section.rfind("[P-256,", 0) != 0 || !r.count("k")) continue;
        SCOPED_TRACE(section + " d = " + r.at("d"));
        PrivateKey priv;
        const Bytes d = unhex(r.at("d")), k = unhex(r.at("k")), msg = unhex(r.at("Msg"));
        ASSERT_EQ(SGECPrivateKey_Decode(&priv.d, d.data(), static_cast<int>(d.size())), 0);
        SGECDSAParameter p{hashIdOf(section), k.data(), static_cast<int>(k.size())};
        unsigned char rOut[32], sOut[32];
        unsigned rLength = sizeof rOut, sLength = sizeof sOut;
        ASSERT_EQ(SGECDSA_Sign(rOut, &rLength, sOut, &sLength, msg.data(),
                               static_cast<int>(msg.size()), &priv.d, &p),
                  0);
        EXPECT_EQ(hex(rOut, rLength), r.at("R"));
        EXPECT_EQ(hex(sOut, sLength), r.at("S"));
        PublicKey pub;
        const Bytes q = uncompressed(r.at("Qx"), r.at("Qy"));
        ASSERT_EQ(SGECPublicKey_Decode(&pub.key, q.data(), static_cast<int>(q.size())), 0);
        EXPECT_EQ(SGECDSA_Verify(rOut, 32, sOut, 32, msg.data(), static_cast<int>(msg.size()),
                                 &pub.key, &p),
                  0);
        ++checked;
    }
    EXPECT_EQ(checked, 75);  // 15 for each of SHA-1 to SHA-512
}

TEST_F(SGECDSATest, SigVerVectorsGiveTheExpectedResult) {
    int checked = 0, valid = 0;
    for (const Record& r : readRecords(kEcdsaVectors + "/SigVer.rsp")) {
        const std::string& section = r.at("[section]");
        if (section.rfind("[P-256,", 0) != 0 || !r.count("Result")) continue;
        SCOPED_TRACE(section + " R = " + r.at("R") + " " + r.at("Result"));
        const bool expected = r.at("Result")[0] == 'P';
        const Bytes msg = unhex(r.at("Msg")), q = uncompressed(r.at("Qx"), r.at("Qy"));
        const Bytes rv = unhex(r.at("R")), sv = unhex(r.at("S"));
        PublicKey pub;
        // A changed public key may leave the curve: then it is refused before verification.
        const int decoded = SGECPublicKey_Decode(&pub.key, q.data(), static_cast<int>(q.size()));
        ASSERT_TRUE(decoded == 0 || decoded == SG_EC_ERR_POINT);
        SGECDSAParameter p{hashIdOf(section), nullptr, 0};
        const int result = decoded
                               ? decoded
                               : SGECDSA_Verify(rv.data(), static_cast<int>(rv.size()), sv.data(),
                                                static_cast<int>(sv.size()), msg.data(),
                                                static_cast<int>(msg.size()), &pub.key, &p);
        if (expected) {
            EXPECT_EQ(result, 0);
            ++valid;
        } else {
            EXPECT_TRUE(result == SG_EC_ERR_INVALID || result == SG_EC_ERR_POINT) << result;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 75);
    EXPECT_GT(valid, 0);
}

// ---- OpenSSL in the same process ----

TEST_F(SGECDSATest, ThousandSignaturesCrossVerifyWithOpenSSL) {
    constexpr int kKeys = 10, kPerKey = 100;  // a thousand signatures each way
    for (int key = 0; key < kKeys; ++key) {
        PrivateKey priv;
        PublicKey pub;
        EvpKey evp = newKey(priv, pub);
        for (int i = 0; i < kPerKey; ++i) {
            unsigned char msg[64];
            const int msgLength = 1 + (i * 7) % 64;
            RAND_bytes(msg, msgLength);
            SGECDSAParameter p{SG_DIGEST_SHA256, nullptr, 0};

            // Ours, checked by OpenSSL.
            unsigned char r[32], s[32], der[80];
            unsigned rLength = 32, sLength = 32, derLength = sizeof der;
            ASSERT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, msg, msgLength, &priv.d, &p), 0);
            ASSERT_EQ(SGECDSA_Encode_SignatureValue(der, &derLength, r, 32, s, 32), 0);
            EVP_MD_CTX* verify = EVP_MD_CTX_new();
            ASSERT_EQ(EVP_DigestVerifyInit(verify, nullptr, EVP_sha256(), nullptr, evp.get()), 1);
            EXPECT_EQ(EVP_DigestVerify(verify, der, derLength, msg, msgLength), 1)
                << hex(der, derLength);
            EVP_MD_CTX_free(verify);

            // OpenSSL's, checked by ours.
            unsigned char theirs[80];
            size_t theirsLength = sizeof theirs;
            EVP_MD_CTX* sign = EVP_MD_CTX_new();
            ASSERT_EQ(EVP_DigestSignInit(sign, nullptr, EVP_sha256(), nullptr, evp.get()), 1);
            ASSERT_EQ(EVP_DigestSign(sign, theirs, &theirsLength, msg, msgLength), 1);
            EVP_MD_CTX_free(sign);
            unsigned char tr[33], ts[33];
            unsigned trLength = sizeof tr, tsLength = sizeof ts;
            ASSERT_EQ(SGECDSA_Decode_SignatureValue(tr, &trLength, ts, &tsLength, theirs,
                                                    static_cast<int>(theirsLength)),
                      0);
            EXPECT_EQ(SGECDSA_Verify(tr, static_cast<int>(trLength), ts, static_cast<int>(tsLength),
                                     msg, msgLength, &pub.key, &p),
                      0);
            // Another message does not verify.
            msg[0] ^= 1;
            EXPECT_EQ(SGECDSA_Verify(tr, static_cast<int>(trLength), ts, static_cast<int>(tsLength),
                                     msg, msgLength, &pub.key, &p),
                      SG_EC_ERR_INVALID);
        }
    }
}

TEST_F(SGECDSATest, ScalarMultiplicationAgreesWithOpenSSL) {
    Bn n = bnHex(kOrderHex);
    Bn nMinus1(BN_dup(n.get())), nPlus1(BN_dup(n.get()));
    BN_sub_word(nMinus1.get(), 1);
    BN_add_word(nPlus1.get(), 1);
    std::vector<Bn> scalars;
    scalars.emplace_back(bnHex("0"));
    scalars.emplace_back(bnHex("1"));
    scalars.emplace_back(bnHex("2"));
    scalars.emplace_back(BN_dup(nMinus1.get()));
    scalars.emplace_back(BN_dup(n.get()));
    scalars.emplace_back(BN_dup(nPlus1.get()));
    for (int i = 0; i < 24; ++i) {
        Bn k(BN_new());
        BN_rand_range(k.get(), n.get());
        scalars.push_back(std::move(k));
    }
    // On the generator, and on a random point of the curve.
    Bn t(BN_new());
    BN_rand_range(t.get(), n.get());
    EcPoint other(EC_POINT_new(group_.get()));
    ASSERT_EQ(EC_POINT_mul(group_.get(), other.get(), t.get(), nullptr, nullptr, ctx_), 1);
    Bn ox(BN_new()), oy(BN_new());
    EC_POINT_get_affine_coordinates(group_.get(), other.get(), ox.get(), oy.get(), ctx_);
    SGECPoint ourOther{};
    ASSERT_EQ(SGECPoint_Init(&ourOther, &domain_), 0);
    ASSERT_EQ(SGECPoint_Set(&ourOther, ox.get(), oy.get()), 0);
    for (const Bn& k : scalars) {
        SCOPED_TRACE(hex(bytesOf(k.get())));
        EXPECT_EQ(ourMultiply(k.get(), &domain_.G), opensslMultiply(k.get(), nullptr));
        EXPECT_EQ(ourMultiply(k.get(), &ourOther), opensslMultiply(k.get(), other.get()));
    }
    EXPECT_TRUE(ourMultiply(scalars[0].get(), &domain_.G).first.empty());  // 0 G: infinity
    EXPECT_TRUE(ourMultiply(n.get(), &domain_.G).first.empty());           // n G: infinity
    SGECPoint_Reset(&ourOther);
}

TEST_F(SGECDSATest, PointAdditionIsComplete) {
    SGECPoint sum{}, twice{}, negated{};
    ASSERT_EQ(SGECPoint_Init(&sum, &domain_), 0);
    ASSERT_EQ(SGECPoint_Init(&twice, &domain_), 0);
    ASSERT_EQ(SGECPoint_Init(&negated, &domain_), 0);
    // G + G equals 2G by scalar multiplication and by doubling.
    EXPECT_EQ(SGECPoint_Add(&sum, &domain_.G, &domain_.G, &domain_), 0);
    Bn two = bnHex("2");
    EXPECT_EQ(SGECPoint_ScalarMultiply(&twice, two.get(), &domain_.G, &domain_), 0);
    EXPECT_EQ(BN_cmp(sum.x, twice.x), 0);
    EXPECT_EQ(BN_cmp(sum.y, twice.y), 0);
    EXPECT_EQ(SGECPoint_Doubling_GFp(&sum, &domain_.G, &domain_), 0);
    EXPECT_EQ(BN_cmp(sum.x, twice.x), 0);
    // 2G - G = G, G - G is the point at infinity, and infinity + G = G.
    EXPECT_EQ(SGECPoint_Sub(&sum, &twice, &domain_.G, &domain_), 0);
    EXPECT_EQ(BN_cmp(sum.x, domain_.G.x), 0);
    EXPECT_EQ(BN_cmp(sum.y, domain_.G.y), 0);
    EXPECT_EQ(SGECPoint_Sub(&sum, &domain_.G, &domain_.G, &domain_), SG_EC_ERR_INFINITY);
    EXPECT_EQ(sum.infinity, 1);
    EXPECT_EQ(SGECPoint_Add(&negated, &sum, &domain_.G, &domain_), 0);
    EXPECT_EQ(BN_cmp(negated.x, domain_.G.x), 0);
    // A Jacobian form of 2G converts back to the same affine point.
    Bn z = bnHex("1234567"), z2(BN_new()), z3(BN_new()), p(BN_dup(domain_.field.p));
    BN_mod_sqr(z2.get(), z.get(), p.get(), ctx_);
    BN_mod_mul(z3.get(), z2.get(), z.get(), p.get(), ctx_);
    BN_mod_mul(sum.x, twice.x, z2.get(), p.get(), ctx_);
    BN_mod_mul(sum.y, twice.y, z3.get(), p.get(), ctx_);
    BN_copy(sum.z, z.get());
    sum.coordinate = SG_EC_JACOBIAN;
    sum.infinity = 0;
    EXPECT_EQ(SGECPoint_Add(&negated, &sum, &domain_.G, &domain_), 0);  // 3G
    EXPECT_EQ(SGECPoint_ConvertCoordination(&sum, SG_EC_AFFINE, &domain_), 0);
    EXPECT_EQ(BN_cmp(sum.x, twice.x), 0);
    EXPECT_EQ(BN_cmp(sum.y, twice.y), 0);
    // A point off the curve is refused.
    BN_add_word(sum.y, 1);
    EXPECT_EQ(SGECPoint_Add(&negated, &sum, &domain_.G, &domain_), SG_CRYPTO_ERR_ARGUMENT);
    for (SGECPoint* point : {&sum, &twice, &negated}) SGECPoint_Reset(point);
}

// ---- Domain parameters and keys ----

TEST_F(SGECDSATest, DomainParametersAreTheCurvesOwn) {
    Bn p(BN_new()), a(BN_new()), b(BN_new());
    ASSERT_EQ(EC_GROUP_get_curve(group_.get(), p.get(), a.get(), b.get(), ctx_), 1);
    EXPECT_EQ(BN_cmp(domain_.field.p, p.get()), 0);
    EXPECT_EQ(BN_cmp(domain_.a, a.get()), 0);
    EXPECT_EQ(BN_cmp(domain_.b, b.get()), 0);
    EXPECT_EQ(BN_cmp(domain_.n, EC_GROUP_get0_order(group_.get())), 0);
    Bn gx(BN_new()), gy(BN_new());
    EC_POINT_get_affine_coordinates(group_.get(), EC_GROUP_get0_generator(group_.get()), gx.get(),
                                    gy.get(), ctx_);
    EXPECT_EQ(BN_cmp(domain_.G.x, gx.get()), 0);
    EXPECT_EQ(BN_cmp(domain_.G.y, gy.get()), 0);
    // The seed-derived c satisfies b^2 c = -27 (mod p).
    Bn t(BN_new());
    BN_mod_sqr(t.get(), domain_.b, p.get(), ctx_);
    BN_mod_mul(t.get(), t.get(), domain_.c, p.get(), ctx_);
    BN_add_word(t.get(), 27);
    BN_mod(t.get(), t.get(), p.get(), ctx_);
    EXPECT_TRUE(BN_is_zero(t.get()));

    testing::internal::CaptureStdout();
    EXPECT_EQ(SGECDomainParameters_ValidateAll(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "t = 128\n");
    // A generator moved off the curve fails first, before anything else is looked at.
    BN_add_word(domain_.G.y, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGECDomainParameters_Validation_GFp(&domain_), SG_EC_ERR_GENERATOR);
    testing::internal::GetCapturedStdout();
}

TEST_F(SGECDSATest, DomainDecodingTakesOnlyTheP256Identifier) {
    SGECDomainParameters d{};
    const Bytes p256 = unhex("06082a8648ce3d030107");
    ASSERT_EQ(SGECDomainParameters_Decode(&d, p256.data(), static_cast<int>(p256.size())), 0);
    EXPECT_EQ(BN_cmp(d.n, domain_.n), 0);
    EXPECT_EQ(d.G.field, &d.field);
    const Bytes p384 = unhex("06052b81040022");
    EXPECT_EQ(SGECDomainParameters_Decode(&d, p384.data(), static_cast<int>(p384.size())),
              SG_EC_ERR_CURVE);
    const Bytes null = unhex("0500");
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGECDomainParameters_Decode(&d, null.data(), static_cast<int>(null.size())),
              SG_EC_ERR_NOT_OID);
    testing::internal::GetCapturedStdout();
    SGECDomainParameters_Reset(&d);
}

TEST_F(SGECDSATest, PublicKeysMustBeUncompressedPointsOfTheCurve) {
    PrivateKey priv;
    PublicKey pub;
    EvpKey evp = newKey(priv, pub);
    unsigned char point[65];
    size_t length = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(evp.get(), OSSL_PKEY_PARAM_PUB_KEY, point,
                                              sizeof point, &length),
              1);
    PublicKey other;
    Bytes compressed(point, point + 33);
    compressed[0] = 2;
    EXPECT_EQ(SGECPublicKey_Decode(&other.key, compressed.data(), 33), SG_EC_ERR_POINT);
    Bytes off(point, point + 65);
    off[64] ^= 1;
    EXPECT_EQ(SGECPublicKey_Decode(&other.key, off.data(), 65), SG_EC_ERR_POINT);
    EXPECT_EQ(SGECPublicKey_Decode(&other.key, point, 64), SG_EC_ERR_POINT);  // odd halves
    // x = p is not a field element even though it reduces to one.
    Bytes big = {4};
    const Bytes pBytes = bytesOf(domain_.field.p, 32);
    big.insert(big.end(), pBytes.begin(), pBytes.end());
    big.insert(big.end(), point + 33, point + 65);
    EXPECT_EQ(SGECPublicKey_Decode(&other.key, big.data(), 65), SG_EC_ERR_POINT);
    EXPECT_EQ(other.key.x, nullptr);
    EXPECT_EQ(SGECPublicKey_Decode(&other.key, point, static_cast<int>(length)), 0);
    EXPECT_EQ(SGECPublicKey_Decode(nullptr, point, 65), SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGECDSATest, PrivateScalarsOutsideTheGroupAreRefused) {
    SGBigInteger* d = nullptr;
    const Bytes zero(32, 0), n = bytesOf(domain_.n, 32);
    EXPECT_EQ(SGECPrivateKey_Decode(&d, zero.data(), 32), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGECPrivateKey_Decode(&d, n.data(), 32), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(d, nullptr);
    const Bytes one = {1};
    ASSERT_EQ(SGECPrivateKey_Decode(&d, one.data(), 1), 0);
    EXPECT_TRUE(BN_is_one(d));
    SGBigInteger_Free(d);
}

// ---- Signing and verification edges ----

TEST_F(SGECDSATest, SigningChecksItsBuffersAndScalars) {
    PrivateKey priv;
    PublicKey pub;
    EvpKey evp = newKey(priv, pub);
    const unsigned char msg[] = "abc";
    SGECDSAParameter p{SG_DIGEST_SHA256, nullptr, 0};
    unsigned char r[32], s[32];
    unsigned rLength = 31, sLength = 32;
    EXPECT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, msg, 3, &priv.d, &p), SG_EC_ERR_BUFFER);
    EXPECT_EQ(rLength, 32u);
    EXPECT_EQ(sLength, 32u);
    // A fixed nonce of 0 or n would reveal the key or give nothing.
    const Bytes zero(32, 0), n = bytesOf(domain_.n, 32);
    for (const Bytes* nonce : {&zero, &n}) {
        SGECDSAParameter fixed{SG_DIGEST_SHA256, nonce->data(), 32};
        EXPECT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, msg, 3, &priv.d, &fixed),
                  SG_CRYPTO_ERR_ARGUMENT);
    }
    SGECDSAParameter unknown{99, nullptr, 0};
    EXPECT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, msg, 3, &priv.d, &unknown),
              SG_CRYPTO_ERR_ARGUMENT);
    // Hash id 10 signs the given digest: the same as hashing first.
    unsigned char digest[32];
    ASSERT_EQ(SGDigest(digest, SG_DIGEST_SHA256, msg, 3), 0);
    SGECDSAParameter given{SG_ECDSA_HASH_AS_GIVEN, nullptr, 0};
    ASSERT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, digest, 32, &priv.d, &given), 0);
    EXPECT_EQ(SGECDSA_Verify(r, 32, s, 32, msg, 3, &pub.key, &p), 0);
    // Two signatures of the same message use different nonces.
    unsigned char r2[32], s2[32];
    ASSERT_EQ(SGECDSA_Sign(r2, &rLength, s2, &sLength, msg, 3, &priv.d, &p), 0);
    EXPECT_NE(hex(r, 32), hex(r2, 32));
}

TEST_F(SGECDSATest, VerificationChecksTheRangesOfRAndS) {
    PrivateKey priv;
    PublicKey pub;
    EvpKey evp = newKey(priv, pub);
    const unsigned char msg[] = "range";
    SGECDSAParameter p{SG_DIGEST_SHA256, nullptr, 0};
    unsigned char r[32], s[32];
    unsigned rLength = 32, sLength = 32;
    ASSERT_EQ(SGECDSA_Sign(r, &rLength, s, &sLength, msg, 5, &priv.d, &p), 0);
    ASSERT_EQ(SGECDSA_Verify(r, 32, s, 32, msg, 5, &pub.key, &p), 0);
    const Bytes zero(32, 0), n = bytesOf(domain_.n, 32);
    // r + n and s + n would be the same values modulo n.
    Bn sPlusN(BN_bin2bn(s, 32, nullptr));
    BN_add(sPlusN.get(), sPlusN.get(), domain_.n);
    const Bytes sBig = bytesOf(sPlusN.get());
    const struct {
        const unsigned char* r;
        int rLength;
        const unsigned char* s;
        int sLength;
    } cases[] = {
        {r, 32, zero.data(), 32},
        {r, 32, n.data(), 32},
        {zero.data(), 32, s, 32},
        {n.data(), 32, s, 32},
        {r, 32, sBig.data(), static_cast<int>(sBig.size())},
        {r, 0, s, 32},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SGECDSA_Verify(c.r, c.rLength, c.s, c.sLength, msg, 5, &pub.key, &p),
                  SG_EC_ERR_INVALID);
    SGECPublicKey empty{};
    EXPECT_EQ(SGECDSA_Verify(r, 32, s, 32, msg, 5, &empty, &p), SG_CRYPTO_ERR_ARGUMENT);
}

// ---- Signature values ----

TEST_F(SGECDSATest, SignatureValuesAreMinimalDerLikeOpenSSLs) {
    const struct {
        const char* r;
        const char* s;
    } cases[] = {
        {"00000000000000000000000000000000000000000000000000000000000000ff",
         "8000000000000000000000000000000000000000000000000000000000000001"},
        {"7f", "0080"},
        {"01", "00"},
        {"ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550",
         "0000000000000000000000000000000000000000000000000000000000000001"},
    };
    for (const auto& c : cases) {
        const Bytes r = unhex(c.r), s = unhex(c.s);
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(r.data(), static_cast<int>(r.size()), nullptr),
                       BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr));
        unsigned char* expected = nullptr;
        const int expectedLength = i2d_ECDSA_SIG(sig, &expected);
        unsigned length = 0;
        EXPECT_EQ(
            SGECDSA_Encode_SignatureValue(nullptr, &length, r.data(), static_cast<int>(r.size()),
                                          s.data(), static_cast<int>(s.size())),
            SG_EC_ERR_BUFFER);
        EXPECT_EQ(length, static_cast<unsigned>(expectedLength));
        Bytes der(length);
        unsigned shortLength = length - 1;
        EXPECT_EQ(SGECDSA_Encode_SignatureValue(der.data(), &shortLength, r.data(),
                                                static_cast<int>(r.size()), s.data(),
                                                static_cast<int>(s.size())),
                  SG_EC_ERR_BUFFER);
        ASSERT_EQ(
            SGECDSA_Encode_SignatureValue(der.data(), &length, r.data(), static_cast<int>(r.size()),
                                          s.data(), static_cast<int>(s.size())),
            0);
        EXPECT_EQ(hex(der), hex(expected, static_cast<size_t>(expectedLength)));
        // And back: the minimal magnitudes.
        unsigned char rOut[40], sOut[40];
        unsigned rLength = sizeof rOut, sLength = sizeof sOut;
        ASSERT_EQ(SGECDSA_Decode_SignatureValue(rOut, &rLength, sOut, &sLength, der.data(),
                                                static_cast<int>(der.size())),
                  0);
        EXPECT_EQ(hex(rOut, rLength), hex(bytesOf(ECDSA_SIG_get0_r(sig))));
        EXPECT_EQ(hex(sOut, sLength), hex(bytesOf(ECDSA_SIG_get0_s(sig))));
        OPENSSL_free(expected);
        ECDSA_SIG_free(sig);
    }
}

TEST_F(SGECDSATest, SignatureDecodingChecksCapacityAndEncoding) {
    const Bytes der = unhex("3008020300ff01020101");  // r = ff01, s = 1
    unsigned char r[4], s[4];
    unsigned rLength = 1, sLength = 4;
    EXPECT_EQ(SGECDSA_Decode_SignatureValue(r, &rLength, s, &sLength, der.data(),
                                            static_cast<int>(der.size())),
              SG_EC_ERR_BUFFER);
    EXPECT_EQ(rLength, 2u);
    EXPECT_EQ(sLength, 1u);
    rLength = 4;
    EXPECT_EQ(SGECDSA_Decode_SignatureValue(nullptr, &rLength, s, &sLength, der.data(),
                                            static_cast<int>(der.size())),
              SG_EC_ERR_BUFFER);
    EXPECT_EQ(rLength, 2u);
    rLength = sLength = 4;
    ASSERT_EQ(SGECDSA_Decode_SignatureValue(r, &rLength, s, &sLength, der.data(),
                                            static_cast<int>(der.size())),
              0);
    EXPECT_EQ(hex(r, rLength), "ff01");
    EXPECT_EQ(hex(s, sLength), "01");
    // Refused: a negative r, a superfluous zero byte, an empty integer, bytes after the
    // SEQUENCE, a SEQUENCE that runs past the input.
    for (const char* bad : {"3006020281010201", "300702020001020101", "30050200020101",
                            "3006020101020101"
                            "00",
                            "3009020101020101"}) {
        const Bytes b = unhex(bad);
        rLength = sLength = 4;
        EXPECT_NE(SGECDSA_Decode_SignatureValue(r, &rLength, s, &sLength, b.data(),
                                                static_cast<int>(b.size())),
                  0)
            << bad;
    }
}

// ---- The fuzz target ----

TEST_F(SGECDSATest, FuzzTargetOverSeedsAndMutations) {
    fuzztest::run("fuzz_ecdsa", 6, 20000, fuzzEcdsa);
}
