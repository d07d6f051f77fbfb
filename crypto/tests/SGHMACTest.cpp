// HMAC against RFC 2202 and RFC 4231 and OpenSSL; CBC-MAC against OpenSSL's DES-CBC.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <random>

#include "CipherTestUtil.h"
#include "SGCMAC.h"
#include "SGCryptoInternal.h"
#include "SGHMAC.h"

using namespace ciphertest;
using cryptotest::hex;
using cryptotest::unhex;

namespace {

class Mac : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }
};

std::string hmac(int digest, const Bytes& key, const Bytes& msg) {
    unsigned char mac[64];
    uint32_t n = 0;
    const unsigned char none = 0;  // an empty key is a valid pointer with length 0
    const int r = SGHMAC(mac, &n, digest, msg.data(), static_cast<uint32_t>(msg.size()),
                         key.empty() ? &none : key.data(), static_cast<uint32_t>(key.size()));
    return r == 0 ? hex(mac, n) : "error " + std::to_string(r);
}

const EVP_MD* opensslDigest(int id) {
    switch (id) {
        case 2:
            return EVP_md5();
        case 3:
            return EVP_sha1();
        case 4:
            return EVP_sha224();
        case 5:
            return EVP_sha256();
        case 6:
            return EVP_sha384();
        default:
            return EVP_sha512();
    }
}

// The CBC-MAC computed independently: OpenSSL's DES-CBC over the zero-padded message (a whole
// block of zeros after aligned data), last block.
std::string opensslCbcMac(const Bytes& key, Bytes msg) {
    msg.resize(msg.size() + 8 - msg.size() % 8, 0);
    loadOpenSslProviders();
    EVP_CIPHER* des = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[8] = {};
    Bytes out(msg.size() + 8);
    int n = 0;
    EVP_EncryptInit_ex2(ctx, des, key.data(), iv, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, msg.data(), static_cast<int>(msg.size()));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(des);
    return hex(out.data() + n - 8, 8);
}

}  // namespace

TEST_F(Mac, HmacPublishedKnownAnswers) {
    const auto records = cryptotest::readRecords(std::string(BRINDLOW_TEST_DATA) + "/hmac.vec");
    ASSERT_GE(records.size(), 30u);
    for (const auto& r : records) {
        const int digest = std::stoi(r.at("Digest"));
        EXPECT_EQ(hmac(digest, unhex(r.at("Key")), unhex(r.at("Msg"))), r.at("Mac"))
            << "digest " << digest << " key " << r.at("Key");
    }
}

TEST_F(Mac, HmacMatchesOpenSslForEveryDigestAndKeyLength) {
    std::mt19937 rng(11);
    for (int digest = 2; digest <= 7; ++digest)
        for (size_t keyLength : {0u, 1u, 20u, 63u, 64u, 65u, 127u, 128u, 129u, 300u}) {
            Bytes key(keyLength), msg(rng() % 300);
            for (auto& b : key) b = static_cast<unsigned char>(rng());
            for (auto& b : msg) b = static_cast<unsigned char>(rng());
            unsigned char expected[64];
            unsigned int n = 0;
            HMAC(opensslDigest(digest), key.data(), static_cast<int>(key.size()), msg.data(),
                 msg.size(), expected, &n);
            EXPECT_EQ(hmac(digest, key, msg), hex(expected, n)) << digest << " " << keyLength;
        }
}

TEST_F(Mac, HmacHas160AndStreaming) {
    // HAS-160 has no published HMAC vectors: check the construction against the digest itself.
    const Bytes key(20, 0x0b), msg = unhex("4869205468657265");
    Bytes inner(64, 0x36), outer(64, 0x5c);
    for (size_t i = 0; i < key.size(); ++i) {
        inner[i] ^= key[i];
        outer[i] ^= key[i];
    }
    inner.insert(inner.end(), msg.begin(), msg.end());
    unsigned char h[20];
    ASSERT_EQ(SGDigest(h, SG_DIGEST_HAS160, inner.data(), static_cast<uint32_t>(inner.size())), 0);
    outer.insert(outer.end(), h, h + 20);
    ASSERT_EQ(SGDigest(h, SG_DIGEST_HAS160, outer.data(), static_cast<uint32_t>(outer.size())), 0);
    EXPECT_EQ(hmac(SG_DIGEST_HAS160, key, msg), hex(h, 20));

    // Pieces give the MAC of the whole.
    SGHMACContext ctx;
    ASSERT_EQ(SGHMAC_Init(&ctx, SG_DIGEST_HAS160, key.data(), 20), 0);
    for (unsigned char b : msg) ASSERT_EQ(SGHMAC_Update(&ctx, &b, 1), 0);
    unsigned char mac[64];
    uint32_t n = 0;
    ASSERT_EQ(SGHMAC_Final(&ctx, mac, &n), 0);
    EXPECT_EQ(hex(mac, n), hex(h, 20));
    SGHMACContext_Clear(&ctx);
}

TEST_F(Mac, HmacEmptyKeyIsABlockOfZeros) {
    const Bytes msg = unhex("616263");
    const Bytes empty;
    unsigned char mac[64];
    uint32_t n = 0;
    const unsigned char dummy = 0;
    ASSERT_EQ(SGHMAC(mac, &n, SG_DIGEST_SHA256, msg.data(), 3, &dummy, 0), 0);
    EXPECT_EQ(hex(mac, n), hmac(SG_DIGEST_SHA256, Bytes(64, 0), msg));
    EXPECT_EQ(hex(mac, n), hmac(SG_DIGEST_SHA256, Bytes(1, 0), msg));
}

TEST_F(Mac, HmacErrors) {
    SGHMACContext ctx;
    const unsigned char key[4] = {1, 2, 3, 4};
    unsigned char mac[64];
    uint32_t n = 0;
    EXPECT_EQ(SGHMAC_Init(nullptr, SG_DIGEST_SHA1, key, 4), 251);
    EXPECT_EQ(SGHMAC_Init(&ctx, SG_DIGEST_SHA1, nullptr, 4), 251);
    EXPECT_EQ(SGHMAC_Init(&ctx, 9, key, 4), 252);
    SGHMACContext_Clear(&ctx);
    EXPECT_EQ(SGHMAC_Update(nullptr, key, 4), 251);
    EXPECT_EQ(SGHMAC_Final(nullptr, mac, &n), 251);
    EXPECT_EQ(SGHMAC(mac, &n, 1, key, 4, key, 4), 252);
    EXPECT_EQ(SGHMAC(mac, &n, SG_DIGEST_SHA1, key, 4, nullptr, 4), 251);
    SGHMACContext_Clear(nullptr);

    // A null MAC buffer: the length is written, the result is 251.
    ASSERT_EQ(SGHMAC_Init(&ctx, SG_DIGEST_SHA384, key, 4), 0);
    n = 0;
    EXPECT_EQ(SGHMAC_Final(&ctx, nullptr, &n), 251);
    EXPECT_EQ(n, 48u);
    EXPECT_EQ(SGHMAC_Final(&ctx, mac, nullptr), 251);
    SGHMACContext_Clear(&ctx);
}

// A digest failure inside the MAC reaches the caller, and no MAC is written.
TEST_F(Mac, HmacPassesDigestFailuresOn) {
    SGHMACContext ctx;
    const unsigned char key[4] = {1, 2, 3, 4};
    unsigned char mac[20], again[20];
    uint32_t n = 0;
    ASSERT_EQ(SGHMAC_Init(&ctx, SG_DIGEST_SHA1, key, 4), 0);
    ASSERT_EQ(SGHMAC_Final(&ctx, mac, &n), 0);
    EXPECT_EQ(SGHMAC_Update(&ctx, key, 4), 3);  // input after the result
    std::memset(again, 0x55, sizeof again);
    EXPECT_EQ(SGHMAC_Final(&ctx, again, &n), 3);  // the outer digest is already finished
    EXPECT_EQ(hex(again, 20), std::string(40, '5'));
    SGHMACContext_Clear(&ctx);
}

TEST_F(Mac, HmacClearWipesThePadsAndStates) {
    SGHMACContext ctx;
    const Bytes key(32, 0xA5);
    ASSERT_EQ(SGHMAC_Init(&ctx, SG_DIGEST_SHA256, key.data(), 32), 0);
    ASSERT_NE(ctx.inner.state, nullptr);
    SGHMACContext_Clear(&ctx);
    EXPECT_EQ(hex(ctx.innerPad, 128), std::string(256, '0'));
    EXPECT_EQ(hex(ctx.outerPad, 128), std::string(256, '0'));
    EXPECT_EQ(ctx.inner.state, nullptr);
    EXPECT_EQ(ctx.outer.state, nullptr);
}

TEST_F(Mac, CbcMacAgainstDesCbc) {
    const Bytes key = unhex("0123456789abcdef0011");  // only the first 8 bytes are used
    std::mt19937 rng(5);
    for (size_t length : {0u, 1u, 7u, 8u, 9u, 13u, 16u, 17u, 100u, 3000u}) {
        Bytes msg(length);
        for (auto& b : msg) b = static_cast<unsigned char>(rng());
        unsigned char mac[8];
        uint32_t n = 0;
        ASSERT_EQ(SGCMAC(mac, &n, SG_CIPHER_DES, 1, msg.data(), static_cast<uint32_t>(length),
                         key.data(), 10),
                  0);
        EXPECT_EQ(n, 8u);
        EXPECT_EQ(hex(mac, 8), opensslCbcMac(Bytes(key.begin(), key.begin() + 8), msg)) << length;
    }
    int size = 0;
    EXPECT_EQ(SGCMAC_GetMACSize(&size), 0);
    EXPECT_EQ(size, 8);
}

TEST_F(Mac, CbcMacBlocksAndPieces) {
    const Bytes key = unhex("133457799bbcdff1");
    const Bytes data = unhex("00112233445566778899aabbccddeeff");
    // 16 bytes: the third block of the CBC encryption of the data and eight zero bytes.
    Bytes padded = data;
    padded.resize(24, 0);
    const Result cbc = encrypt(SG_CIPHER_DES, key, parameter(2, Bytes(8, 0)), padded);
    ASSERT_EQ(cbc.code, 0);
    unsigned char mac[8];
    uint32_t n = 0;
    ASSERT_EQ(SGCMAC(mac, &n, SG_CIPHER_DES, 1, data.data(), 16, key.data(), 8), 0);
    EXPECT_EQ(hex(mac, 8), hex(Bytes(cbc.out.begin() + 16, cbc.out.end())));
    // 13 bytes: the second block of the data zero-padded to 16.
    Bytes thirteen(data.begin(), data.begin() + 13);
    thirteen.resize(16, 0);
    const Result cbc13 = encrypt(SG_CIPHER_DES, key, parameter(2, Bytes(8, 0)), thirteen);
    ASSERT_EQ(SGCMAC(mac, &n, SG_CIPHER_DES, 1, data.data(), 13, key.data(), 8), 0);
    EXPECT_EQ(hex(mac, 8), hex(Bytes(cbc13.out.begin() + 8, cbc13.out.end())));
    // Pieces of 3, 5 and 8 bytes give the MAC of one call.
    SGCMACContext ctx;
    ASSERT_EQ(SGCMAC_Init(&ctx, SG_CIPHER_DES, 1, key.data(), 8), 0);
    ASSERT_EQ(SGCMAC_Update(&ctx, data.data(), 3), 0);
    ASSERT_EQ(SGCMAC_Update(&ctx, data.data() + 3, 5), 0);
    ASSERT_EQ(SGCMAC_Update(&ctx, data.data() + 8, 8), 0);
    unsigned char pieces[8];
    ASSERT_EQ(SGCMAC_Final(&ctx, pieces, &n), 0);
    SGCMACContext_Clear(&ctx);
    ASSERT_EQ(SGCMAC(mac, &n, SG_CIPHER_DES, 1, data.data(), 16, key.data(), 8), 0);
    EXPECT_EQ(hex(pieces, 8), hex(mac, 8));
}

TEST_F(Mac, CbcMacErrors) {
    const Bytes key(24, 0x11), data(16, 0);
    unsigned char mac[8];
    uint32_t n = 0;
    struct Case {
        int cipher, type;
        uint32_t keyLength;
        bool nullKey;
        int expected;
    } cases[] = {
        {SG_CIPHER_DES, 2, 8, false, 18},      {SG_CIPHER_DES, 1, 7, false, 11},
        {SG_CIPHER_DES, 1, 0, false, 11},      {SG_CIPHER_DES, 1, 8, true, 11},
        {SG_CIPHER_AES128, 1, 16, false, 412}, {SG_CIPHER_SEED, 1, 16, false, 412},
        {SG_CIPHER_TDES, 1, 24, false, 414},   {SG_CIPHER_DES, 1, 8, false, 0},
        {SG_CIPHER_RC2, 1, 8, false, 0},       {14, 1, 8, false, 407},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SGCMAC(mac, &n, c.cipher, c.type, data.data(), 16,
                         c.nullKey ? nullptr : key.data(), c.keyLength),
                  c.expected)
            << c.cipher << " " << c.type << " " << c.keyLength;
        // The context form gives the same code and is released by Clear whatever happened.
        SGCMACContext ctx;
        EXPECT_EQ(
            SGCMAC_Init(&ctx, c.cipher, c.type, c.nullKey ? nullptr : key.data(), c.keyLength),
            c.expected);
        SGCMACContext_Clear(&ctx);
        EXPECT_EQ(ctx.cipher, nullptr);
    }
    EXPECT_EQ(SGCMAC_GetMACSize(nullptr), 11);
    SGCMACContext empty{};
    EXPECT_EQ(SGCMACContext_Clear(&empty), 0);
    EXPECT_EQ(SGCMAC_Update(&empty, data.data(), 16), 11);
    EXPECT_EQ(SGCMAC_Final(&empty, mac, &n), 11);
}
