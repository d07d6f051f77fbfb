// RSA key records: their DER against OpenSSL's, decoding errors, item access, blinding values
// and key-pair generation (own primes and the platform key store).
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <cstring>
#include <string>
#include <vector>

#include "KeySource.h"
#include "RSATestUtil.h"
#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGCryptoTable.h"
#include "SGDER.h"
#include "SGDigest.h"

using namespace cryptotest;
using namespace rsatest;
using brindlow::crypto::bn::BnPtr;
using brindlow::crypto::bn::CtxPtr;

namespace {

class SGRSATest : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }
};

Bytes encodePrivate(const SGRSAPrivateKey& key) {
    unsigned n = 0;
    EXPECT_EQ(SGRSAPrivateKey_Encode(nullptr, &n, &key), 0);
    Bytes der(n);
    EXPECT_EQ(SGRSAPrivateKey_Encode(der.data(), &n, &key), 0);
    return der;
}

Bytes encodePublic(const SGRSAPublicKey& key) {
    unsigned n = 0;
    EXPECT_EQ(SGRSAPublicKey_Encode(nullptr, &n, &key), 0);
    Bytes der(n);
    EXPECT_EQ(SGRSAPublicKey_Encode(der.data(), &n, &key), 0);
    return der;
}

// OpenSSL's own check of a private key: primes, exponents and CRT values.
bool opensslAcceptsKey(const SGRSAPrivateKey& key) {
    EvpKey evp = evpFromPrivate(key);
    if (!evp) return false;
    EvpCtx ctx(EVP_PKEY_CTX_new(evp.get(), nullptr));
    const bool ok = EVP_PKEY_check(ctx.get()) == 1 && EVP_PKEY_pairwise_check(ctx.get()) == 1;
    ERR_clear_error();
    return ok;
}

}  // namespace

// ---- DER ----

TEST_F(SGRSATest, EncodingsEqualOpenSSLsByteForByte) {
    // Odd sizes put the top bit of some integers at every position.
    for (unsigned bits : {1024u, 1025u, 1031u, 2048u}) {
        EvpKey evp = generateEvp(bits, bits == 1031 ? 3 : 65537);
        const Bytes priv = i2dPrivate(evp.get()), pub = i2dPublic(evp.get());
        KeyPair pair;
        loadFromEvp(pair, evp.get());
        EXPECT_EQ(hex(encodePrivate(pair.priv)), hex(priv)) << bits;
        EXPECT_EQ(hex(encodePublic(pair.pub)), hex(pub)) << bits;

        // The same key built item by item.
        KeyPair built;
        const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                               OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                               OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                               OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
        for (int item = 0; item < 8; ++item) {
            BIGNUM* value = nullptr;
            ASSERT_EQ(EVP_PKEY_get_bn_param(evp.get(), names[item], &value), 1);
            Bytes bytes(BN_num_bytes(value));
            BN_bn2bin(value, bytes.data());
            BN_free(value);
            ASSERT_EQ(SGRSAPrivateKey_SetItem(&built.priv, bytes.data(),
                                              static_cast<int>(bytes.size()), item),
                      0);
            if (item < 2) {
                ASSERT_EQ(SGRSAPublicKey_SetItem(&built.pub, bytes.data(), bytes.size(), item + 1),
                          0);
            }
        }
        EXPECT_EQ(hex(encodePrivate(built.priv)), hex(priv)) << bits;
        EXPECT_EQ(hex(encodePublic(built.pub)), hex(pub)) << bits;
    }
}

TEST_F(SGRSATest, EncodeSizesItsOutput) {
    EvpKey evp = generateEvp(1024);
    KeyPair pair;
    loadFromEvp(pair, evp.get());
    const Bytes want = i2dPrivate(evp.get());
    unsigned length = 0;
    ASSERT_EQ(SGRSAPrivateKey_Encode(nullptr, &length, &pair.priv), 0);
    EXPECT_EQ(length, want.size());
    // One byte short: refused, and not a byte written past the end of the exact heap block.
    std::unique_ptr<unsigned char[]> shortBuffer(new unsigned char[want.size() - 1]);
    length = static_cast<unsigned>(want.size() - 1);
    EXPECT_EQ(SGRSAPrivateKey_Encode(shortBuffer.get(), &length, &pair.priv), 14);
    EXPECT_EQ(length, want.size());
    unsigned publicLength = 3;
    std::unique_ptr<unsigned char[]> tiny(new unsigned char[3]);
    EXPECT_EQ(SGRSAPublicKey_Encode(tiny.get(), &publicLength, &pair.pub), 14);
    EXPECT_EQ(publicLength, i2dPublic(evp.get()).size());

    EXPECT_EQ(SGRSAPrivateKey_Encode(nullptr, nullptr, &pair.priv), 11);
    SGRSAPrivateKey partial{};
    ASSERT_EQ(SGRSAPrivateKey_SetItem(&partial, want.data(), 8, SG_RSA_PRIVATE_N), 0);
    EXPECT_EQ(SGRSAPrivateKey_Encode(nullptr, &length, &partial), 11);  // items absent
    SGRSAPrivateKey_Free(&partial);
}

// Items longer than any key size still encode whole (no fixed staging buffer to overrun); such a
// key is refused when it is decoded again, and a key at the size bound round-trips.
TEST_F(SGRSATest, LargeIntegersRoundTrip) {
    KeyPair pair;
    for (int item = 0; item < 8; ++item) {
        Bytes value(3000 + item * 97, static_cast<unsigned char>(0x80 + item));
        ASSERT_EQ(
            SGRSAPrivateKey_SetItem(&pair.priv, value.data(), static_cast<int>(value.size()), item),
            0);
    }
    Bytes der = encodePrivate(pair.priv);
    EXPECT_EQ(hex(Bytes(der.begin(), der.begin() + 13)), "3082688702010002820bb90080");
    KeyPair back;
    EXPECT_EQ(SGRSAPrivateKey_Decode(&back.priv, der.data(), static_cast<int>(der.size())),
              SG_RSA_ERR_KEY_SIZE);
    EXPECT_EQ(back.priv.n, nullptr);

    // 16384 bits of modulus, e = 65537, every other item as long as the modulus may be.
    KeyPair bound;
    const Bytes e = {0x01, 0x00, 0x01};
    for (int item = 0; item < 8; ++item) {
        const Bytes value = item == SG_RSA_PRIVATE_E ? e : Bytes(2048, 0xF1);
        ASSERT_EQ(SGRSAPrivateKey_SetItem(&bound.priv, value.data(), static_cast<int>(value.size()),
                                          item),
                  0);
    }
    der = encodePrivate(bound.priv);
    ASSERT_EQ(SGRSAPrivateKey_Decode(&back.priv, der.data(), static_cast<int>(der.size())), 0);
    EXPECT_EQ(hex(encodePrivate(back.priv)), hex(der));
    EXPECT_EQ(BN_num_bits(back.priv.qInv), 16384);
}

TEST_F(SGRSATest, DecodeReplacesTheRecordOnlyOnSuccess) {
    EvpKey evp = generateEvp(1024);
    Bytes der = i2dPrivate(evp.get());
    KeyPair pair;
    ASSERT_EQ(SGRSAPrivateKey_Decode(&pair.priv, der.data(), static_cast<int>(der.size())), 0);
    EXPECT_TRUE(BN_is_zero(pair.priv.version));
    SGBigInteger* n = pair.priv.n;

    Bytes versionOne = der;
    // 30 82 xx xx 02 01 00: the version byte follows the SEQUENCE header.
    ASSERT_EQ(versionOne[4], 0x02);
    versionOne[6] = 0x01;
    EXPECT_EQ(
        SGRSAPrivateKey_Decode(&pair.priv, versionOne.data(), static_cast<int>(versionOne.size())),
        2002);
    EXPECT_EQ(pair.priv.n, n);  // unchanged

    const struct {
        const char* name;
        size_t keep;
        int want;
    } truncated[] = {{"empty", 0, 2002},
                     {"header only", 4, 2002},
                     {"in d", 200, 2002},
                     {"last byte missing", der.size() - 1, 2002}};
    for (const auto& t : truncated) {
        std::unique_ptr<unsigned char[]> exact(new unsigned char[t.keep + 1]);
        std::memcpy(exact.get(), der.data(), t.keep);
        EXPECT_EQ(SGRSAPrivateKey_Decode(&pair.priv, exact.get(), static_cast<int>(t.keep)), t.want)
            << t.name;
    }
    Bytes wrongTag = der;
    wrongTag[0] = 0x31;
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGRSAPrivateKey_Decode(&pair.priv, wrongTag.data(), static_cast<int>(der.size())),
              2001);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no diagnostics on standard output
    EXPECT_EQ(SGRSAPrivateKey_Decode(nullptr, der.data(), 10), 11);
    EXPECT_EQ(SGRSAPrivateKey_Decode(&pair.priv, nullptr, 10), 11);

    // A second decode into the same record releases the first key's items (leak-checked).
    Bytes other = i2dPrivate(generateEvp(1024).get());
    ASSERT_EQ(SGRSAPrivateKey_Decode(&pair.priv, other.data(), static_cast<int>(other.size())), 0);
    EXPECT_EQ(hex(encodePrivate(pair.priv)), hex(other));
    Bytes pub = i2dPublic(evp.get());
    ASSERT_EQ(SGRSAPublicKey_Decode(&pair.pub, pub.data(), static_cast<int>(pub.size())), 0);
    ASSERT_EQ(SGRSAPublicKey_Decode(&pair.pub, pub.data(), static_cast<int>(pub.size())), 0);
    int size = 0;
    EXPECT_EQ(SGRSAPublicKey_GetKeySize(&size, &pair.pub), 0);
    EXPECT_EQ(size, 128);
    EXPECT_EQ(SGRSAPrivateKey_GetKeySize(&size, &pair.priv), 0);
    EXPECT_EQ(size, 128);
}

TEST_F(SGRSATest, ItemAccess) {
    KeyPair pair;
    loadFromEvp(pair, generateEvp(1024).get());
    unsigned char one[1];
    unsigned length = 1;
    EXPECT_EQ(SGRSAPrivateKey_GetItem(one, &length, &pair.priv, SG_RSA_PRIVATE_D), 14);
    EXPECT_EQ(length, static_cast<unsigned>(BN_num_bytes(pair.priv.d)));
    Bytes d(length);
    EXPECT_EQ(SGRSAPrivateKey_GetItem(d.data(), &length, &pair.priv, SG_RSA_PRIVATE_D), 0);
    BnPtr back(BN_bin2bn(d.data(), static_cast<int>(d.size()), nullptr));
    EXPECT_EQ(BN_cmp(back.get(), pair.priv.d), 0);
    EXPECT_EQ(SGRSAPrivateKey_GetItem(d.data(), &length, &pair.priv, 8), 600);
    EXPECT_EQ(SGRSAPrivateKey_SetItem(&pair.priv, d.data(), 1, 8), 600);
    EXPECT_EQ(SGRSAPrivateKey_GetItem(d.data(), &length, nullptr, 0), 11);

    unsigned char e[8];
    length = sizeof e;
    EXPECT_EQ(SGRSAPublicKey_GetItem(e, &length, &pair.pub, SG_RSA_PUBLIC_E), 0);
    EXPECT_EQ(hex(e, length), "010001");
    EXPECT_EQ(SGRSAPublicKey_GetItem(e, &length, &pair.pub, 0), 600);
    EXPECT_EQ(SGRSAPublicKey_SetItem(&pair.pub, e, 1, 3), 11);

    SGRSAPublicKey empty{};
    EXPECT_EQ(SGRSAPublicKey_GetItem(e, &length, &empty, SG_RSA_PUBLIC_N), 19);
    EXPECT_EQ(SGRSAPublicKey_SetItem(&empty, e, 3, SG_RSA_PUBLIC_N), 0);  // created
    length = sizeof e;
    EXPECT_EQ(SGRSAPublicKey_GetItem(e, &length, &empty, SG_RSA_PUBLIC_N), 0);
    EXPECT_EQ(length, 3u);
    int size = 0;
    EXPECT_EQ(SGRSAPublicKey_GetKeySize(&size, &empty), 0);
    EXPECT_EQ(size, 3);
    SGRSAPublicKey_Free(&empty);
    for (unsigned char b :
         std::vector<unsigned char>(reinterpret_cast<unsigned char*>(&empty),
                                    reinterpret_cast<unsigned char*>(&empty) + sizeof empty))
        ASSERT_EQ(b, 0);  // overwritten
    EXPECT_EQ(SGRSAPublicKey_GetKeySize(&size, &empty), 11);
    EXPECT_EQ(SGRSAPublicKey_Free(nullptr), 0);
    EXPECT_EQ(SGRSAPrivateKey_Free(nullptr), 0);
}

// ---- Blinding ----

TEST_F(SGRSATest, BlindingValuesUndoThemselves) {
    KeyPair pair;
    loadFromEvp(pair, generateEvp(1024).get());
    const SGRSAPrivateKey& key = pair.priv;
    CtxPtr ctx(BN_CTX_new());
    BnPtr m(BN_new()), blinded(BN_new()), rInv(BN_new()), s(BN_new()), out(BN_new()),
        want(BN_new());
    BN_rand_range(m.get(), key.n);
    ASSERT_EQ(SGRSABlinding_ConvertMessage(blinded.get(), rInv.get(), m.get(), key.n, key.e), 1);
    EXPECT_NE(BN_cmp(blinded.get(), m.get()), 0);
    // (r^e m)^d rInv = m^d.
    BN_mod_exp(s.get(), blinded.get(), key.d, key.n, ctx.get());
    ASSERT_EQ(SGRSABlinding_InvertMessage(out.get(), s.get(), rInv.get(), key.n, nullptr), 1);
    BN_mod_exp(want.get(), m.get(), key.d, key.n, ctx.get());
    EXPECT_EQ(BN_cmp(out.get(), want.get()), 0);

    // Blinded exponents are congruent to the originals and differ from call to call.
    BnPtr p1(BN_dup(key.p)), q1(BN_dup(key.q)), phi(BN_new()), d1(BN_new()), d2(BN_new()),
        dQ(BN_new()), r(BN_new());
    BN_sub_word(p1.get(), 1);
    BN_sub_word(q1.get(), 1);
    BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
    ASSERT_EQ(SGRSABlinding_Exponent(d1.get(), &key), 0);
    ASSERT_EQ(SGRSABlinding_Exponent(d2.get(), &key), 0);
    EXPECT_NE(BN_cmp(d1.get(), d2.get()), 0);
    BN_mod(r.get(), d1.get(), phi.get(), ctx.get());
    EXPECT_EQ(BN_cmp(r.get(), key.d), 0);
    EXPECT_GT(BN_num_bits(d1.get()), BN_num_bits(key.d) + 512);  // k drawn from [0, n)
    ASSERT_EQ(SGRSABlinding_CRTExponent(d1.get(), dQ.get(), &key), 0);
    BN_mod(r.get(), d1.get(), p1.get(), ctx.get());
    EXPECT_EQ(BN_cmp(r.get(), key.dP), 0);
    BN_mod(r.get(), dQ.get(), q1.get(), ctx.get());
    EXPECT_EQ(BN_cmp(r.get(), key.dQ), 0);

    SGRSAPrivateKey noPrimes{};
    noPrimes.n = key.n;
    noPrimes.d = key.d;
    EXPECT_EQ(SGRSABlinding_Exponent(d1.get(), &noPrimes), -1);
    EXPECT_EQ(SGRSABlinding_CRTExponent(d1.get(), dQ.get(), &noPrimes), -1);
}

// ---- Key-pair generation ----

TEST_F(SGRSATest, GenerationRefusesBadRequestsWithoutTouchingTheRecords) {
    KeyPair pair;
    loadFromEvp(pair, generateEvp(1024).get());
    SGBigInteger* n = pair.priv.n;
    for (unsigned bits : {0u, 512u, 1023u, 4097u, 8192u})
        EXPECT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, bits, 65537), 502) << bits;
    EXPECT_EQ(SGRSA_GenerateKeyPair(nullptr, &pair.pub, 2048, 65537), 553);
    EXPECT_EQ(SGRSA_GenerateKeyPair(&pair.priv, nullptr, 2048, 65537), 553);
    // Even exponents share the factor 2 with every p - 1; they must not loop for ever.
    for (int e : {0, 1, 2, 4, 65536, -3, -65537})
        EXPECT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1024, e), 11) << e;
    EXPECT_EQ(pair.priv.n, n);
}

TEST_F(SGRSATest, OwnGenerationMakesConsistentKeysOfTheExactSize) {
    testing::internal::CaptureStdout();
    const struct {
        unsigned bits;
        int e;
        int pBits, qBits;
    } cases[] = {{1024, 65537, 512, 512},
                 {1025, 3, 513, 512},
                 {2048, 65537, 1024, 1024},
                 {4096, 65537, 2048, 2048}};
    for (const auto& c : cases) {
        KeyPair pair;
        ASSERT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, c.bits, c.e), 0) << c.bits;
        const SGRSAPrivateKey& k = pair.priv;
        EXPECT_EQ(BN_num_bits(k.n), static_cast<int>(c.bits));
        EXPECT_EQ(BN_num_bits(k.p), c.pBits);
        EXPECT_EQ(BN_num_bits(k.q), c.qBits);
        EXPECT_EQ(BN_get_word(k.e), static_cast<BN_ULONG>(c.e));
        EXPECT_EQ(BN_cmp(pair.pub.n, k.n), 0);
        EXPECT_EQ(BN_cmp(pair.pub.e, k.e), 0);
        EXPECT_EQ(SGRSA_ProveKeyPair(&pair.priv, &pair.pub), 0);
        EXPECT_EQ(SGRSA_KeyPairCheck(&pair.priv, &pair.pub), 0);
        EXPECT_TRUE(opensslAcceptsKey(pair.priv)) << c.bits;
    }
    // The missing key store is the normal case and goes unreported.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SGRSATest, MismatchedPairsFailTheChecks) {
    KeyPair a, b;
    loadFromEvp(a, generateEvp(1024).get());
    loadFromEvp(b, generateEvp(1024).get());
    EXPECT_EQ(SGRSA_KeyPairCheck(&a.priv, &b.pub), 96);
    EXPECT_EQ(SGRSA_ProveKeyPair(&a.priv, &b.pub), -1);
    EXPECT_EQ(SGRSA_KeyPairCheck(&a.priv, &a.pub), 0);
    EXPECT_EQ(SGRSA_ProveKeyPair(&a.priv, &a.pub), 0);
}

namespace {

// A key store backed by OpenSSL, for the store path of generation.
struct StoreScript {
    unsigned bitsToMake = 0;  // 0: the requested size
    bool mismatchedPublic = false;
    int privateExportStatus = 0;
    int generateStatus = 0;
    int generateCalls = 0;
    int removeCalls = 0;
};
StoreScript gStore;

struct StorePair {
    EvpKey key, other;
};

int storeGenerate(unsigned bits, const char* label, void** pair) {
    ++gStore.generateCalls;
    EXPECT_STREQ(label, "SSL Keypair for TovelWire Server");
    if (gStore.generateStatus) return gStore.generateStatus;
    auto* p = new StorePair;
    p->key = generateEvp(gStore.bitsToMake ? gStore.bitsToMake : bits);
    if (gStore.mismatchedPublic) p->other = generateEvp(bits);
    *pair = p;
    return 0;
}

int storeExportPrivate(void* pair, std::vector<unsigned char>* der) {
    if (gStore.privateExportStatus) return gStore.privateExportStatus;
    *der = i2dPrivate(static_cast<StorePair*>(pair)->key.get());
    return 0;
}

int storeExportPublic(void* pair, std::vector<unsigned char>* der) {
    auto* p = static_cast<StorePair*>(pair);
    *der = i2dSubjectPublicKeyInfo((p->other ? p->other : p->key).get());
    return 0;
}

void storeRemove(void* pair) {
    ++gStore.removeCalls;
    delete static_cast<StorePair*>(pair);
}

class KeyStoreGuard {
  public:
    explicit KeyStoreGuard(StoreScript script) {
        gStore = script;
        previous_ = brindlow::platform::setKeySource(
            {&storeGenerate, &storeExportPrivate, &storeExportPublic, &storeRemove});
    }
    ~KeyStoreGuard() { brindlow::platform::setKeySource(previous_); }

  private:
    brindlow::platform::KeySource previous_;
};

}  // namespace

TEST_F(SGRSATest, KeyStorePairsAreTakenWhenTheyHaveTheRequestedSize) {
    {
        KeyStoreGuard guard({});
        KeyPair pair;
        ASSERT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1024, 3), 0);
        EXPECT_EQ(gStore.generateCalls, 1);
        EXPECT_EQ(gStore.removeCalls, 1);            // the store's copy is deleted again
        EXPECT_EQ(BN_get_word(pair.pub.e), 65537u);  // the store's exponent is kept
        EXPECT_EQ(BN_cmp(pair.pub.n, pair.priv.n), 0);
    }
    {
        // A store that keeps making the wrong size is given up after three tries.
        KeyStoreGuard guard({.bitsToMake = 1024});
        KeyPair pair;
        ASSERT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1032, 65537), 0);
        EXPECT_EQ(gStore.generateCalls, 3);
        EXPECT_EQ(gStore.removeCalls, 3);
        EXPECT_EQ(BN_num_bits(pair.priv.n), 1032);
    }
    {
        // A store that fails is reported, and the library makes the pair itself.
        KeyStoreGuard guard({.generateStatus = -67585});
        KeyPair pair;
        testing::internal::CaptureStdout();
        ASSERT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1024, 65537), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "keygen fail:-67585\n");
        EXPECT_EQ(gStore.removeCalls, 0);
        EXPECT_TRUE(opensslAcceptsKey(pair.priv));
    }
    {
        KeyStoreGuard guard({.privateExportStatus = -34018});
        KeyPair pair;
        testing::internal::CaptureStdout();
        ASSERT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1024, 65537), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "private key export fail:-34018\n");
        EXPECT_EQ(gStore.removeCalls, 1);
        EXPECT_TRUE(opensslAcceptsKey(pair.priv));
    }
    {
        // A pair whose halves do not match fails the signature self-test.
        KeyStoreGuard guard({.mismatchedPublic = true});
        KeyPair pair;
        EXPECT_EQ(SGRSA_GenerateKeyPair(&pair.priv, &pair.pub, 1024, 65537), 96);
        EXPECT_EQ(pair.priv.n, nullptr);  // released
        EXPECT_EQ(pair.pub.n, nullptr);
    }
}

// ---- Bounds of keys from files and peers ----

namespace {

// An odd number of exactly bits bits.
BnPtr oddOfBits(int bits) {
    BnPtr b(BN_new());
    EXPECT_EQ(BN_rand(b.get(), bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD), 1);
    return b;
}

Bytes bytesOf(const BIGNUM* b) {
    Bytes out(static_cast<size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

// The DER of a public key with these items, and of a private key with them and every other item
// one bit shorter than n.
Bytes publicDer(const BIGNUM* n, const BIGNUM* e) {
    KeyPair k;
    const Bytes nb = bytesOf(n), eb = bytesOf(e);
    EXPECT_EQ(SGRSAPublicKey_SetItem(&k.pub, nb.data(), nb.size(), SG_RSA_PUBLIC_N), 0);
    EXPECT_EQ(SGRSAPublicKey_SetItem(&k.pub, eb.data(), eb.size(), SG_RSA_PUBLIC_E), 0);
    return encodePublic(k.pub);
}
Bytes privateDer(const BIGNUM* n, const BIGNUM* e) {
    KeyPair k;
    BnPtr shorter(BN_dup(n));
    BN_rshift1(shorter.get(), shorter.get());
    for (int item = 0; item < 8; ++item) {
        const Bytes b = bytesOf(item == SG_RSA_PRIVATE_N   ? n
                                : item == SG_RSA_PRIVATE_E ? e
                                                           : shorter.get());
        EXPECT_EQ(SGRSAPrivateKey_SetItem(&k.priv, b.data(), static_cast<int>(b.size()), item), 0);
    }
    return encodePrivate(k.priv);
}

}  // namespace

// Moduli up to 16384 bits; above 3072 bits public exponents of at most 64 bits; an exponent below
// the modulus. Public and private keys are held to the same bounds when they are decoded.
TEST_F(SGRSATest, DecodingHoldsKeysToTheSizeBounds) {
    const struct {
        const char* what;
        int nBits, eBits;  // eBits 0: e = n - 2, as long as n
        bool accepted;
    } cases[] = {
        {"16384-bit modulus, e of 17 bits", 16384, 17, true},
        {"16385-bit modulus", 16385, 17, false},
        {"3072-bit modulus, 65-bit e", 3072, 65, true},
        {"3072-bit modulus, e as long as n", 3072, 0, true},
        {"3073-bit modulus, 64-bit e", 3073, 64, true},
        {"3073-bit modulus, 65-bit e", 3073, 65, false},
        {"4096-bit modulus, 65-bit e", 4096, 65, false},
        {"32768-bit modulus and exponent", 32768, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BnPtr n = oddOfBits(c.nBits), e;
        if (c.eBits) {
            e = oddOfBits(c.eBits);
        } else {
            e.reset(BN_dup(n.get()));
            BN_sub_word(e.get(), 2);
        }
        const int want = c.accepted ? 0 : SG_RSA_ERR_KEY_SIZE;
        const Bytes pub = publicDer(n.get(), e.get()), priv = privateDer(n.get(), e.get());
        KeyPair k;
        EXPECT_EQ(SGRSAPublicKey_Decode(&k.pub, pub.data(), static_cast<int>(pub.size())), want);
        EXPECT_EQ(SGRSAPrivateKey_Decode(&k.priv, priv.data(), static_cast<int>(priv.size())),
                  want);
        EXPECT_EQ(k.pub.n == nullptr, !c.accepted);
        EXPECT_EQ(k.priv.n == nullptr, !c.accepted);
    }

    // An exponent not below the modulus, and a private item longer than it.
    BnPtr n = oddOfBits(2048), e(BN_dup(n.get()));
    const Bytes equal = publicDer(n.get(), e.get());
    KeyPair k;
    EXPECT_EQ(SGRSAPublicKey_Decode(&k.pub, equal.data(), static_cast<int>(equal.size())),
              SG_RSA_ERR_KEY_SIZE);
    KeyPair longD;
    loadFromEvp(longD, generateEvp(1024).get());
    const Bytes d(129, 0x7F);
    ASSERT_EQ(SGRSAPrivateKey_SetItem(&longD.priv, d.data(), static_cast<int>(d.size()),
                                      SG_RSA_PRIVATE_D),
              0);
    const Bytes der = encodePrivate(longD.priv);
    EXPECT_EQ(SGRSAPrivateKey_Decode(&k.priv, der.data(), static_cast<int>(der.size())),
              SG_RSA_ERR_KEY_SIZE);
}

// A key made out of bounds after decoding (items set one by one) is refused by every operation
// before it exponentiates, with the code of an unusable key.
TEST_F(SGRSATest, OperationsRefuseKeysOutsideTheBounds) {
    KeyPair pair;
    loadFromEvp(pair, generateEvp(1024).get());
    const Bytes message(20, 0x5A);
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
    p.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    p.hashId = SG_DIGEST_SHA256;
    p.privateKey = &pair.priv;
    p.publicKey = &pair.pub;
    Bytes signature(128);
    unsigned length = static_cast<unsigned>(signature.size());
    ASSERT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), message.size(), &p), 0);
    ASSERT_EQ(SGPKCS1_Verify(signature.data(), length, message.data(), message.size(), &p), 0);

    const Bytes hugeN = bytesOf(oddOfBits(32768).get()), hugeE = bytesOf(oddOfBits(32767).get());
    ASSERT_EQ(SGRSAPublicKey_SetItem(&pair.pub, hugeN.data(), hugeN.size(), SG_RSA_PUBLIC_N), 0);
    ASSERT_EQ(SGRSAPublicKey_SetItem(&pair.pub, hugeE.data(), hugeE.size(), SG_RSA_PUBLIC_E), 0);
    Bytes big(4096, 0x01);
    EXPECT_EQ(SGPKCS1_Verify(big.data(), static_cast<unsigned>(big.size()), message.data(),
                             message.size(), &p),
              SG_CRYPTO_ERR_ARGUMENT);
    length = static_cast<unsigned>(big.size());
    EXPECT_EQ(SGPKCS1_Encrypt(big.data(), &length, message.data(), message.size(), &p),
              SG_CRYPTO_ERR_ARGUMENT);
    EXPECT_EQ(SGRSA_ProveKeyPair(&pair.priv, &pair.pub), -1);

    // A private exponent longer than the modulus.
    const Bytes longD(129, 0x7F);
    ASSERT_EQ(SGRSAPrivateKey_SetItem(&pair.priv, longD.data(), static_cast<int>(longD.size()),
                                      SG_RSA_PRIVATE_D),
              0);
    length = static_cast<unsigned>(signature.size());
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), message.size(), &p),
              SG_CRYPTO_ERR_ARGUMENT);
    Bytes plain(128);
    unsigned plainLength = static_cast<unsigned>(plain.size());
    EXPECT_EQ(SGPKCS1_Decrypt(plain.data(), &plainLength, signature.data(), 128, &p),
              SG_CRYPTO_ERR_ARGUMENT);
}

TEST_F(SGRSATest, TableSlotsHoldTheKeyFunctions) {
    void* t[SG_CRYPTO_TABLE_SLOTS];
    ASSERT_EQ(SGCryptoWrapper_GetList(t), 0);
    const struct {
        int slot;
        void* fn;
    } cases[] = {
        {106, reinterpret_cast<void*>(&SGRSAPublicKey_Free)},
        {108, reinterpret_cast<void*>(&SGRSAPublicKey_Decode)},
        {111, reinterpret_cast<void*>(&SGRSAPublicKey_GetItem)},
        {113, reinterpret_cast<void*>(&SGRSAPrivateKey_Encode)},
        {117, reinterpret_cast<void*>(&SGRSAPrivateKey_GetItem)},
        {118, reinterpret_cast<void*>(&SGRSA_GenerateKeyPair)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
    EXPECT_EQ(SG_CRYPTO_FN(t, SGRSA_GenerateKeyPair)(nullptr, nullptr, 1000, 65537), 502);
}
