// Signature keys and the dispatch: every signature kind against every key kind (refusals
// included), RSA through the dispatch against PKCS #1 called directly, KCDSA with its domain
// parameters as DER, keys made from callbacks, and the key object's own operations.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"
#include "RSATestUtil.h"
#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGDSKey.h"
#include "SGDigest.h"

using namespace cryptotest;
using brindlow::crypto::bn::BnPtr;
using rsatest::EvpKey;

static_assert(sizeof(SGDSKey) == 8488);
static_assert(sizeof(SGDSParameter) == 104);
static_assert(SG_DSKEY_RSA_PUBLIC == 1 && SG_DSKEY_RSA_PRIVATE == 2 && SG_DSKEY_KCDSA_PUBLIC == 5 &&
              SG_DSKEY_KCDSA_PRIVATE == 6);
static_assert(SG_DS_RSASSA_PKCS1_V15 == 1 && SG_DS_RSASSA_PSS == 2 && SG_DS_KCDSA == 4);

namespace {

// The appendix example II.3 of the KCDSA standard (2048/256): domain and key pair.
struct KcdsaExample {
    Bytes domainDer, x, y;
};

Bytes integerDer(const Bytes& value) {
    Bytes out = {0x02};
    Bytes content = value;
    if (content[0] & 0x80) content.insert(content.begin(), 0);
    if (content.size() < 128) {
        out.push_back(static_cast<unsigned char>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(content.size() >> 8));
        out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

const KcdsaExample& kcdsaExample() {
    static const KcdsaExample e = [] {
        KcdsaExample out;
        for (const Record& r : readRecords(std::string(BRINDLOW_TEST_DATA) + "/kcdsa_ttak.vec")) {
            if (!r.count("Set") || r.at("Set") != "II.3") continue;
            SGKCDSAParameter d{};
            const Bytes items[] = {unhex(r.at("P")), unhex(r.at("Q")), unhex(r.at("G"))};
            for (int i = 0; i < 3; ++i)
                SGKCDSAParameter_SetItem(&d, items[i].data(), static_cast<int>(items[i].size()), i);
            unsigned length = 2048;
            out.domainDer.resize(length);
            EXPECT_EQ(SGKCDSAParameter_Encode(out.domainDer.data(), &length, &d), 0);
            out.domainDer.resize(length);
            SGKCDSAParameter_Clear(&d);
            out.x = integerDer(unhex(r.at("X")));
            out.y = integerDer(unhex(r.at("Y")));
        }
        return out;
    }();
    return e;
}

struct CallbackLog {
    int calls = 0;
    Bytes input;
    unsigned algorithm = 0;
};

int keySize128(unsigned int* size, void*) {
    *size = 128;
    return 0;
}

int recordingSigner(unsigned char* signature, unsigned int* length, const unsigned char* input,
                    unsigned int inputLength, unsigned int algorithm, void* user) {
    auto* log = static_cast<CallbackLog*>(user);
    ++log->calls;
    log->input.assign(input, input + inputLength);
    log->algorithm = algorithm;
    if (signature && *length > 0) signature[0] = 0xEE;
    *length = 1;
    return 0;
}

// One key of each kind, released with the test.
class SGDSKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGCrypto_Initialize();
        const Bytes priv = rsatest::i2dPrivate(rsaKey().get()),
                    pub = rsatest::i2dPublic(rsaKey().get());
        ASSERT_EQ(SGDSKey_Decode(&rsaPrivate_, priv.data(), static_cast<int>(priv.size()),
                                 SG_DSKEY_RSA_PRIVATE),
                  0);
        ASSERT_EQ(SGDSKey_Decode(&rsaPublic_, pub.data(), static_cast<int>(pub.size()),
                                 SG_DSKEY_RSA_PUBLIC),
                  0);
        const KcdsaExample& k = kcdsaExample();
        ASSERT_EQ(SGDSKey_Decode(&kcdsaPrivate_, k.x.data(), static_cast<int>(k.x.size()),
                                 SG_DSKEY_KCDSA_PRIVATE),
                  0);
        ASSERT_EQ(SGDSKey_Decode(&kcdsaPublic_, k.y.data(), static_cast<int>(k.y.size()),
                                 SG_DSKEY_KCDSA_PUBLIC),
                  0);
        ASSERT_EQ(SGDSKey_FromCallback(&callbackRsa_, &keySize128, &recordingSigner, &log_,
                                       SG_DSKEY_RSA_PRIVATE),
                  0);
        ASSERT_EQ(SGDSKey_FromCallback(&callbackKcdsa_, nullptr, &recordingSigner, &log_,
                                       SG_DSKEY_KCDSA_PRIVATE),
                  0);
    }
    void TearDown() override {
        for (SGDSKey* key : {&rsaPrivate_, &rsaPublic_, &kcdsaPrivate_, &kcdsaPublic_,
                             &callbackRsa_, &callbackKcdsa_})
            EXPECT_EQ(SGDSKey_Clear(key), 0);
    }

    static EvpKey& rsaKey() {
        static EvpKey* key = new EvpKey(rsatest::generateEvp(1024));  // kept for the whole run
        return *key;
    }

    SGDSParameter parameter(int kind, SGDSKey* key) {
        SGDSParameter p{};
        p.kind = kind;
        p.key = key;
        p.v15HashId = SG_DIGEST_SHA256;
        p.pssHashId = SG_DIGEST_SHA256;
        p.pssMaskHashId = SG_DIGEST_SHA256;
        p.pssSaltLength = 32;
        p.kcdsaHashId = SG_DIGEST_SHA256;
        p.kcdsaDomainParameters = kcdsaExample().domainDer.data();
        p.kcdsaDomainParametersLength = static_cast<uint32_t>(kcdsaExample().domainDer.size());
        return p;
    }

    int sign(const SGDSParameter& p, Bytes& signature) {
        signature.assign(512, 0);
        unsigned length = static_cast<unsigned>(signature.size());
        const int r = SGDS_Sign(signature.data(), &length, message_, sizeof message_, &p);
        signature.resize(r == 0 ? length : 0);
        return r;
    }

    int verify(const SGDSParameter& p, const Bytes& signature) {
        return SGDS_Verify(signature.data(), static_cast<int>(signature.size()), message_,
                           sizeof message_, &p);
    }

    const unsigned char message_[12] = {'d', 'i', 's', 'p', 'a', 't', 'c', 'h', ' ', 'm', 'e', '!'};
    SGDSKey rsaPrivate_{}, rsaPublic_{}, kcdsaPrivate_{}, kcdsaPublic_{}, callbackRsa_{},
        callbackKcdsa_{};
    CallbackLog log_;
};

}  // namespace

TEST_F(SGDSKeyTest, SignatureKindsAgainstKeyKinds) {
    struct Key {
        const char* name;
        SGDSKey* key;
    };
    const Key keys[] = {{"rsa public", &rsaPublic_},
                        {"rsa private", &rsaPrivate_},
                        {"kcdsa public", &kcdsaPublic_},
                        {"kcdsa private", &kcdsaPrivate_},
                        {"rsa callback", &callbackRsa_},
                        {"kcdsa callback", &callbackKcdsa_},
                        {"none", nullptr}};
    // Expected results of signing with kinds 1, 2, 3, 4 and 5, key by key.
    const int expected[][5] = {
        {501, 501, 12, 501, 12},  // RSA public
        {0, 0, 12, 501, 12},      // RSA private
        {501, 501, 12, 501, 12},  // KCDSA public
        {501, 501, 12, 0, 12},    // KCDSA private
        // A callback RSA key signs v1.5 only: PSS needs the key's own items.
        {0, SG_PKCS1_ERR_KEY_ITEMS, 12, 501, 12},
        {501, 501, 12, 0, 12},  // KCDSA callback: no domain parameters needed
        {500, 500, 500, 500, 500},
    };
    for (size_t k = 0; k < std::size(keys); ++k) {
        for (int kind = 1; kind <= 5; ++kind) {
            SCOPED_TRACE(std::string(keys[k].name) + ", kind " + std::to_string(kind));
            SGDSParameter p = parameter(kind, keys[k].key);
            if (keys[k].key == &callbackKcdsa_) p.kcdsaDomainParameters = nullptr;
            Bytes signature;
            EXPECT_EQ(sign(p, signature), expected[k][kind - 1]);
        }
    }
    // Verification wants the public keys; the signatures come from the private ones.
    for (int kind : {SG_DS_RSASSA_PKCS1_V15, SG_DS_RSASSA_PSS, SG_DS_KCDSA}) {
        SCOPED_TRACE(kind);
        SGDSKey* signer = kind == SG_DS_KCDSA ? &kcdsaPrivate_ : &rsaPrivate_;
        SGDSKey* verifier = kind == SG_DS_KCDSA ? &kcdsaPublic_ : &rsaPublic_;
        Bytes signature;
        ASSERT_EQ(sign(parameter(kind, signer), signature), 0);
        EXPECT_EQ(verify(parameter(kind, verifier), signature), 0);
        for (const Key& other : keys) {
            if (other.key == verifier) continue;
            EXPECT_EQ(verify(parameter(kind, other.key), signature),
                      other.key ? SG_DS_ERR_KEY_KIND : SG_DS_ERR_NO_KEY)
                << other.name;
        }
        EXPECT_EQ(verify(parameter(3, verifier), signature), SG_DS_ERR_UNKNOWN_KIND);
        signature[signature.size() / 2] ^= 1;
        const int tampered = verify(parameter(kind, verifier), signature);
        // PSS tells which check failed; the others have one code for an invalid signature.
        const int expectedCode = kind == SG_DS_KCDSA              ? int{SG_KCDSA_ERR_INVALID}
                                 : kind == SG_DS_RSASSA_PKCS1_V15 ? int{SG_PKCS1_ERR_SIGNATURE}
                                                                  : tampered;
        EXPECT_EQ(tampered, expectedCode);
        EXPECT_NE(tampered, 0);
    }
    EXPECT_EQ(SGDS_Sign(nullptr, nullptr, message_, 1, nullptr), SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGDSKeyTest, RsaThroughTheDispatchIsPkcs1) {
    const unsigned char salt[32] = {1, 2, 3};
    const unsigned char params[] = {0x05, 0x00};
    for (int kind : {SG_DS_RSASSA_PKCS1_V15, SG_DS_RSASSA_PSS}) {
        for (int variant = 0; variant < 2; ++variant) {
            SCOPED_TRACE(std::to_string(kind) + "/" + std::to_string(variant));
            SGDSParameter ds = parameter(kind, &rsaPrivate_);
            SGPKCS1Parameter direct{};
            direct.privateKey = &rsaPrivate_.material.rsaPrivate;
            const unsigned char* input = message_;
            unsigned inputLength = sizeof message_;
            unsigned char digest[32];
            if (kind == SG_DS_RSASSA_PSS) {
                ds.pssSalt = salt;
                direct.signatureScheme = SG_PKCS1_PSS;
                direct.hashId = SG_DIGEST_SHA256;
                direct.pssMaskGeneration = SG_PKCS1_MGF1;
                direct.pssMaskHashId = variant ? SG_DIGEST_SHA1 : SG_DIGEST_SHA256;
                ds.pssMaskHashId = direct.pssMaskHashId;
                direct.pssSaltLength = 32;
                direct.pssSalt = salt;
            } else {
                direct.signatureScheme = SG_PKCS1_V15_SIGNATURE;
                direct.hashId = SG_DIGEST_SHA256;
                if (variant) {
                    // An already hashed message with explicit DigestInfo parameters.
                    ASSERT_EQ(SGDigest(digest, SG_DIGEST_SHA256, message_, sizeof message_), 0);
                    input = digest;
                    inputLength = 32;
                    ds.alreadyHashed = direct.alreadyHashed = 1;
                    ds.digestInfoParameters = direct.digestInfoParameters = params;
                    ds.digestInfoParametersLength = direct.digestInfoParametersLength = 2;
                }
            }
            unsigned char a[128], b[128];
            unsigned aLength = sizeof a, bLength = sizeof b;
            ASSERT_EQ(SGDS_Sign(a, &aLength, input, static_cast<int>(inputLength), &ds), 0);
            ASSERT_EQ(SGPKCS1_Sign(b, &bLength, input, inputLength, &direct), 0);
            EXPECT_EQ(hex(a, aLength), hex(b, bLength));
            SGDSParameter check = ds;
            check.key = &rsaPublic_;
            EXPECT_EQ(SGDS_Verify(a, static_cast<int>(aLength), input,
                                  static_cast<int>(inputLength), &check),
                      0);
        }
    }
    // Size query and a short buffer, as PKCS #1 gives them.
    SGDSParameter p = parameter(SG_DS_RSASSA_PKCS1_V15, &rsaPrivate_);
    unsigned length = 0;
    EXPECT_EQ(SGDS_Sign(nullptr, &length, message_, sizeof message_, &p), 0);
    EXPECT_EQ(length, 128u);
    unsigned char buffer[128];
    length = 127;
    EXPECT_EQ(SGDS_Sign(buffer, &length, message_, sizeof message_, &p),
              SG_PKCS1_ERR_OUTPUT_TOO_SHORT);
    EXPECT_EQ(length, 128u);
}

namespace {

// An RSA key from libcrypto with a public exponent of any size.
EvpKey rsaKeyWithExponent(int bits, const BIGNUM* e) {
    rsatest::EvpCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(EVP_PKEY_keygen_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), const_cast<BIGNUM*>(e)), 1);
    EXPECT_EQ(EVP_PKEY_keygen(ctx.get(), &key), 1);
    return EvpKey(key);
}

// libcrypto's RSASSA-PKCS1-v1_5 signature with SHA-256.
Bytes opensslSignature(EVP_PKEY* key, const unsigned char* message, size_t length) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    size_t size = 0;
    Bytes signature;
    if (EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(md, nullptr, &size, message, length) == 1) {
        signature.resize(size);
        if (EVP_DigestSign(md, signature.data(), &size, message, length) != 1) signature.clear();
    }
    EVP_MD_CTX_free(md);
    return signature;
}

}  // namespace

// Keys within the bounds verify what libcrypto signs with them, at the edges a real authority's
// keys may reach; a key pushed out of the bounds after decoding is refused before the modular
// exponentiation that its 32768-bit modulus and exponent would make last seconds.
TEST_F(SGDSKeyTest, RsaVerificationKeepsToTheKeyBounds) {
    BnPtr f4(BN_new()), e65(BN_new());
    BN_set_word(f4.get(), 65537);
    BN_set_bit(e65.get(), 64);
    BN_set_bit(e65.get(), 0);  // 2^64 + 1, 65 bits
    const struct {
        const char* what;
        int bits;
        const BIGNUM* e;
    } keys[] = {{"RSA-4096, e = 65537", 4096, f4.get()}, {"RSA-3072, 65-bit e", 3072, e65.get()}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.what);
        EvpKey evp = rsaKeyWithExponent(k.bits, k.e);
        ASSERT_TRUE(evp);
        const Bytes pub = rsatest::i2dPublic(evp.get());
        SGDSKey key{};
        ASSERT_EQ(
            SGDSKey_Decode(&key, pub.data(), static_cast<int>(pub.size()), SG_DSKEY_RSA_PUBLIC), 0);
        Bytes signature = opensslSignature(evp.get(), message_, sizeof message_);
        ASSERT_EQ(signature.size(), static_cast<size_t>(k.bits / 8));
        const SGDSParameter p = parameter(SG_DS_RSASSA_PKCS1_V15, &key);
        EXPECT_EQ(verify(p, signature), 0);
        signature[10] ^= 0x01;
        EXPECT_EQ(verify(p, signature), SG_PKCS1_ERR_SIGNATURE);
        EXPECT_EQ(SGDSKey_Clear(&key), 0);
    }

    BnPtr n(BN_new()), e(BN_new());
    ASSERT_EQ(BN_rand(n.get(), 32768, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD), 1);
    ASSERT_EQ(BN_rand(e.get(), 32767, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD), 1);
    Bytes nb(4096), eb(static_cast<size_t>(BN_num_bytes(e.get())));
    BN_bn2bin(n.get(), nb.data());
    BN_bn2bin(e.get(), eb.data());
    SGRSAPublicKey* material = &rsaPublic_.material.rsaPublic;
    ASSERT_EQ(SGRSAPublicKey_SetItem(material, nb.data(), nb.size(), SG_RSA_PUBLIC_N), 0);
    ASSERT_EQ(SGRSAPublicKey_SetItem(material, eb.data(), eb.size(), SG_RSA_PUBLIC_E), 0);
    const Bytes signature(4096, 0x01);
    EXPECT_EQ(verify(parameter(SG_DS_RSASSA_PKCS1_V15, &rsaPublic_), signature),
              SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(verify(parameter(SG_DS_RSASSA_PSS, &rsaPublic_), signature), SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGDSKeyTest, KcdsaNeedsItsDomainParameters) {
    SGDSParameter p = parameter(SG_DS_KCDSA, &kcdsaPrivate_);
    Bytes signature;
    ASSERT_EQ(sign(p, signature), 0);
    // The same signature checked by the scheme directly.
    SGKCDSASchemeParameter direct{};
    ASSERT_EQ(SGKCDSAParameter_Decode(&direct.domain, p.kcdsaDomainParameters,
                                      static_cast<int>(p.kcdsaDomainParametersLength)),
              0);
    direct.publicKey = &kcdsaPublic_.material.kcdsaPublic;
    direct.hashId = SG_DIGEST_SHA256;
    EXPECT_EQ(SGKCDSA_Verify(signature.data(), static_cast<int>(signature.size()), message_,
                             sizeof message_, &direct),
              0);
    SGKCDSAParameter_Clear(&direct.domain);
    // Size query: twice the bytes of q plus 13.
    unsigned length = 0;
    EXPECT_EQ(SGDS_Sign(nullptr, &length, message_, sizeof message_, &p), SG_KCDSA_ERR_BUFFER);
    EXPECT_EQ(length, 77u);

    SGDSParameter missing = p;
    missing.kcdsaDomainParametersLength = 0;
    EXPECT_EQ(sign(missing, signature), SG_DS_ERR_DOMAIN);
    const unsigned char notSequence[] = {0x02, 0x01, 0x01};
    SGDSParameter bad = p;
    bad.kcdsaDomainParameters = notSequence;
    bad.kcdsaDomainParametersLength = sizeof notSequence;
    testing::internal::CaptureStdout();
    EXPECT_EQ(sign(bad, signature), SG_DS_ERR_DOMAIN);
    SGDSParameter badVerify = bad;
    badVerify.key = &kcdsaPublic_;
    EXPECT_EQ(verify(badVerify, signature), SG_KCDSA_ERR_NO_SEQUENCE);
    testing::internal::GetCapturedStdout();
    badVerify.kcdsaDomainParameters = nullptr;
    EXPECT_EQ(verify(badVerify, signature), SG_DS_ERR_DOMAIN);
}

TEST_F(SGDSKeyTest, CallbackKeysHandTheirInputToTheSigner) {
    SGDSKey key;
    EXPECT_EQ(
        SGDSKey_FromCallback(&key, &keySize128, &recordingSigner, &log_, SG_DSKEY_KCDSA_PUBLIC),
        SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGDSKey_FromCallback(nullptr, &keySize128, &recordingSigner, &log_, 2),
              SG_CRYPTO_ERR_ARGUMENT);
    // KCDSA: the raw message, hash id << 16 | 16, no domain parameters.
    SGDSParameter p = parameter(SG_DS_KCDSA, &callbackKcdsa_);
    p.kcdsaDomainParameters = nullptr;
    p.kcdsaDomainParametersLength = 0;
    Bytes signature;
    ASSERT_EQ(sign(p, signature), 0);
    EXPECT_EQ(log_.input, Bytes(message_, message_ + sizeof message_));
    EXPECT_EQ(log_.algorithm, (5u << 16) | 16u);
    EXPECT_EQ(hex(signature), "ee");
    // RSA v1.5 with the external-signer flag: the 51-byte DigestInfo, hash id << 16 | 1.
    SGDSParameter r = parameter(SG_DS_RSASSA_PKCS1_V15, &callbackRsa_);
    r.v15ExternalSignerInput = 1;
    ASSERT_EQ(sign(r, signature), 0);
    EXPECT_EQ(log_.input.size(), 51u);
    EXPECT_EQ(log_.algorithm, (5u << 16) | 1u);
    // Without the flag the signer gets the padded block of the callback's key size.
    r.v15ExternalSignerInput = 0;
    ASSERT_EQ(sign(r, signature), 0);
    EXPECT_EQ(log_.input.size(), 128u);
    EXPECT_EQ(log_.calls, 3);
}

TEST_F(SGDSKeyTest, KeyInformation) {
    int size = 0;
    EXPECT_EQ(SGDSKey_GetInfo(&rsaPrivate_, SG_DSKEY_INFO_KEY_SIZE, &size), 0);
    EXPECT_EQ(size, 128);
    size = 0;
    EXPECT_EQ(SGDSKey_GetInfo(&rsaPublic_, SG_DSKEY_INFO_KEY_SIZE, &size), 0);
    EXPECT_EQ(size, 128);
    EXPECT_EQ(SGDSKey_GetInfo(&kcdsaPublic_, SG_DSKEY_INFO_KEY_SIZE, &size), 0);
    EXPECT_EQ(size, 256);  // the bytes of y
    // Keys that cannot tell their size say so instead of leaving the output unwritten.
    EXPECT_EQ(SGDSKey_GetInfo(&kcdsaPrivate_, SG_DSKEY_INFO_KEY_SIZE, &size),
              SG_DS_ERR_NOT_SUPPORTED);
    EXPECT_EQ(SGDSKey_GetInfo(&callbackRsa_, SG_DSKEY_INFO_KEY_SIZE, &size),
              SG_DS_ERR_NOT_SUPPORTED);
    SGDSKey zeroed;
    std::memset(&zeroed, 0, sizeof zeroed);
    EXPECT_EQ(SGDSKey_GetInfo(&zeroed, SG_DSKEY_INFO_KEY_SIZE, &size), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGDSKey_GetInfo(&rsaPrivate_, 2, &size), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGDSKey_GetInfo(&rsaPrivate_, SG_DSKEY_INFO_KEY_SIZE, nullptr),
              SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(rsaPrivate_.algorithmClass, SG_DSKEY_CLASS_RSA);
    EXPECT_EQ(kcdsaPublic_.algorithmClass, SG_DSKEY_CLASS_KCDSA);
    // Each key holds the operations of its own side only.
    EXPECT_NE(rsaPublic_.operations->publicEncode, nullptr);
    EXPECT_EQ(rsaPublic_.operations->privateEncode, nullptr);
    EXPECT_EQ(kcdsaPrivate_.operations->publicDecode, nullptr);
    EXPECT_NE(kcdsaPrivate_.operations->privateDecode, nullptr);
    EXPECT_EQ(callbackRsa_.operations->publicKeySize, nullptr);
    EXPECT_EQ(callbackRsa_.operations->privateKeySize, nullptr);
}

TEST_F(SGDSKeyTest, EncodingAndKeysFromObjects) {
    const Bytes pub = rsatest::i2dPublic(rsaKey().get()),
                priv = rsatest::i2dPrivate(rsaKey().get());
    unsigned length = 0;
    ASSERT_EQ(SGDSKey_Encode(nullptr, &length, &rsaPublic_), 0);
    EXPECT_EQ(length, pub.size());
    Bytes out(length);
    unsigned shortLength = length - 1;
    EXPECT_EQ(SGDSKey_Encode(out.data(), &shortLength, &rsaPublic_), SG_RSA_ERR_BUFFER);
    ASSERT_EQ(SGDSKey_Encode(out.data(), &length, &rsaPublic_), 0);
    EXPECT_EQ(out, pub);
    length = 4096;
    out.assign(length, 0);
    ASSERT_EQ(SGDSKey_Encode(out.data(), &length, &rsaPrivate_), 0);
    out.resize(length);
    EXPECT_EQ(out, priv);
    EXPECT_EQ(SGDSKey_Encode(out.data(), &length, &kcdsaPublic_), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGDSKey_Encode(out.data(), &length, &callbackRsa_), SG_CRYPTO_ERR_ARGUMENT);

    // A key from an in-memory record signs like the decoded one.
    SGDSKey fromObject;
    ASSERT_EQ(
        SGDSKey_FromObject(&fromObject, &rsaPrivate_.material.rsaPrivate, SG_DSKEY_RSA_PRIVATE), 0);
    Bytes a, b;
    ASSERT_EQ(sign(parameter(SG_DS_RSASSA_PKCS1_V15, &fromObject), a), 0);
    ASSERT_EQ(sign(parameter(SG_DS_RSASSA_PKCS1_V15, &rsaPrivate_), b), 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(SGDSKey_Clear(&fromObject), 0);
    EXPECT_EQ(SGDSKey_FromObject(&fromObject, &kcdsaPrivate_.material, SG_DSKEY_KCDSA_PRIVATE),
              SG_DS_ERR_NOT_SUPPORTED);
    EXPECT_EQ(SGDSKey_FromObject(&fromObject, nullptr, SG_DSKEY_RSA_PUBLIC),
              SG_CRYPTO_ERR_ARGUMENT);
    SGRSAPublicKey empty{};
    EXPECT_EQ(SGDSKey_FromObject(&fromObject, &empty, SG_DSKEY_RSA_PUBLIC), SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGDSKeyTest, ClearingAndFailedDecoding) {
    // A zeroed key is refused and left as it is.
    SGDSKey zeroed, copy;
    std::memset(&zeroed, 0, sizeof zeroed);
    std::memcpy(&copy, &zeroed, sizeof zeroed);
    EXPECT_EQ(SGDSKey_Clear(&zeroed), SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(std::memcmp(&zeroed, &copy, sizeof zeroed), 0);
    // A decoded key is overwritten whole.
    SGDSKey key;
    const Bytes pub = rsatest::i2dPublic(rsaKey().get());
    ASSERT_EQ(SGDSKey_Decode(&key, pub.data(), static_cast<int>(pub.size()), SG_DSKEY_RSA_PUBLIC),
              0);
    EXPECT_EQ(SGDSKey_Clear(&key), 0);
    EXPECT_EQ(std::memcmp(&key, &copy, sizeof key), 0);
    // Failed decodings leave a zeroed key and nothing allocated.
    const Bytes truncated(pub.begin(), pub.begin() + 20);
    EXPECT_NE(SGDSKey_Decode(&key, truncated.data(), static_cast<int>(truncated.size()),
                             SG_DSKEY_RSA_PUBLIC),
              0);
    EXPECT_EQ(std::memcmp(&key, &copy, sizeof key), 0);
    testing::internal::CaptureStdout();
    EXPECT_NE(
        SGDSKey_Decode(&key, pub.data(), static_cast<int>(pub.size()), SG_DSKEY_KCDSA_PRIVATE),
        0);  // a SEQUENCE is not a bare INTEGER
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::memcmp(&key, &copy, sizeof key), 0);
    for (int kind : {0, 3, 4, 7}) {
        EXPECT_EQ(SGDSKey_Decode(&key, pub.data(), static_cast<int>(pub.size()), kind),
                  SG_CRYPTO_ERR_ARGUMENT);
    }
    EXPECT_EQ(SGDSKey_Decode(nullptr, pub.data(), 10, SG_DSKEY_RSA_PUBLIC), SG_CRYPTO_ERR_ARGUMENT);
}
