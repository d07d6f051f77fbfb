// Signing and decryption through key handles: keys in memory and a token's callbacks (which here
// do the private-key operation with the crypto layer), checked by openssl pkeyutl (RSASSA
// v1.5 and PSS, RSAES v1.5 and OAEP made by openssl) and, for KCDSA, by the crypto layer's
// verification with the key pair of the standard's example; what each callback receives, and
// the codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "DerBuilder.h"
#include "PBETestUtil.h"
#include "SGCryptoHandler.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGKCDSA.h"
#include "SGPKCS1.h"
#include "SGRSA.h"
#include "SGServiceTable.h"

namespace {

using namespace pbetest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

constexpr unsigned kV15 = SG_CRYPTO_HANDLER_RSA_PKCS1, kPss = SG_CRYPTO_HANDLER_RSA_PSS,
                   kKcdsa = SG_CRYPTO_HANDLER_KCDSA;
constexpr unsigned word(int hashId, unsigned scheme) {
    return static_cast<unsigned>(hashId) << 16 | scheme;
}

// A token holding the RSA key: signs what it gets (a whole block raw, a DigestInfo padded) and
// decrypts v1.5, through the crypto layer; records what it was handed.
struct Token {
    SGRSAPrivateKey key{};
    unsigned size = 256;
    int keySizeResult = 0, signResult = 0, decryptResult = 0;
    unsigned reportExtra = 0;  // added to the length it reports
    int calls = 0;
    Bytes input;
    unsigned algorithm = 0, lengthGiven = 0;

    explicit Token(const Bytes& der) {
        EXPECT_EQ(SGRSAPrivateKey_Decode(&key, der.data(), static_cast<int>(der.size())), 0);
    }
    ~Token() { SGRSAPrivateKey_Free(&key); }
};

// Notes what a callback was handed.
Token* noted(void* user, const unsigned char* input, unsigned inputLength, unsigned word,
             unsigned length) {
    auto* t = static_cast<Token*>(user);
    ++t->calls;
    t->input.assign(input, input + inputLength);
    t->algorithm = word;
    t->lengthGiven = length;
    return t;
}

int tokenKeySize(unsigned* size, void* user) {
    auto* t = static_cast<Token*>(user);
    if (t->keySizeResult) return t->keySizeResult;
    *size = t->size;
    return 0;
}

int tokenSign(unsigned char* signature, unsigned* length, const unsigned char* input,
              unsigned inputLength, unsigned algorithm, void* user) {
    Token* t = noted(user, input, inputLength, algorithm, *length);
    if (t->signResult) return t->signResult;
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
    p.hashId = SG_PKCS1_HASH_AS_GIVEN;
    p.alreadyHashed = inputLength == t->size ? 1 : 0;
    p.privateKey = &t->key;
    const int r = SGPKCS1_Sign(signature, length, input, inputLength, &p);
    *length += t->reportExtra;
    return r;
}

// Records only: what a KCDSA token or the direct path would sign.
int recordingSign(unsigned char* signature, unsigned* length, const unsigned char* input,
                  unsigned inputLength, unsigned algorithm, void* user) {
    Token* t = noted(user, input, inputLength, algorithm, *length);
    if (t->signResult) return t->signResult;
    std::memset(signature, 0x5A, 7);
    *length = 7 + t->reportExtra;
    return 0;
}

int tokenDecrypt(unsigned char* output, unsigned* length, const unsigned char* ciphertext,
                 unsigned ciphertextLength, unsigned padding, void* user) {
    Token* t = noted(user, ciphertext, ciphertextLength, padding, *length);
    if (t->decryptResult) return t->decryptResult;
    SGPKCS1Parameter p{};
    p.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    p.privateKey = &t->key;
    const int r = SGPKCS1_Decrypt(output, length, ciphertext, ciphertextLength, &p);
    *length += t->reportExtra;
    return r;
}

class CryptoHandler : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
    void SetUp() override {
        rsa_ = materialFile("rsa.der");
        ASSERT_FALSE(rsa_.empty());
    }

    SGCryptoHandlerKey derKey(const Bytes& der, SGBinary* parameters = nullptr) const {
        SGCryptoHandlerKey k{};
        k.type = 2;
        k.form.key.der = der.data();
        k.form.key.length = static_cast<uint32_t>(der.size());
        k.parameters = parameters;
        return k;
    }
    static SGCryptoHandlerKey callbackKey(Token* t, SGSignCallback sign = &tokenSign,
                                          int direct = 0) {
        SGCryptoHandlerKey k{};
        k.type = SG_CRYPTO_HANDLER_CALLBACK;
        k.form.signer.keySize = &tokenKeySize;
        k.form.signer.sign = sign;
        k.form.signer.userData = t;
        k.form.signer.direct = direct;
        return k;
    }

    // Signs into a buffer of the capacity: the code, the signature in *out.
    static int sign(Bytes* out, const Bytes& message, unsigned algorithm,
                    const SGCryptoHandlerKey& key, const int* options = nullptr,
                    unsigned capacity = 512) {
        Bytes buffer(capacity, 0xCC);
        SGBinary signature{buffer.data(), capacity};
        const SGBinary m = view(message);
        const int r = SGCryptoHandler_Sign(&signature, &m, algorithm, &key, options);
        if (r == 0) buffer.resize(signature.length);
        EXPECT_TRUE(r == 0 || signature.length == capacity) << "length changed on failure";
        if (out) *out = r == 0 ? buffer : Bytes();
        return r;
    }

    // openssl pkeyutl's verdict on an RSA signature of the message's digest.
    static bool opensslVerifies(const Bytes& signature, const Bytes& message, const char* digest,
                                bool pss) {
        testkit::Scratch dir("handler");
        testkit::writeBytes(dir / "msg", message);
        testkit::writeBytes(dir / "sig", signature);
        std::string out;
        const bool ok = testkit::succeeds(
            "cd " + quote(dir.str()) + " && openssl dgst -" + digest +
                " -binary msg > dgst && openssl pkeyutl -verify -pubin -inkey " +
                quote((material() / "public.pem").string()) +
                " -in dgst -sigfile sig -pkeyopt digest:" + digest +
                (pss ? " -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:digest" : ""),
            &out);
        return ok && out.find("Signature Verified Successfully") != std::string::npos;
    }

    static Bytes digest(int id, const Bytes& message) {
        Bytes d(static_cast<size_t>(SGDigest_GetDigestSize(id)));
        EXPECT_EQ(SGDigest(d.data(), id, message.data(), static_cast<uint32_t>(message.size())), 0);
        return d;
    }
    static Bytes digestInfo(int id, const Bytes& message) {
        Bytes out(128);
        unsigned n = static_cast<unsigned>(out.size());
        const Bytes d = digest(id, message);
        EXPECT_EQ(SGPKCS1_CreateDigestInfo(out.data(), &n, id, d.data(), nullptr, 0), 0);
        out.resize(n);
        return out;
    }

    Bytes rsa_;
    const Bytes message_ = bytesOf(std::string("The quick brown fox signs a CMS message."));
};

TEST_F(CryptoHandler, RsaPkcs1SignaturesVerifyWithOpenssl) {
    Token token(rsa_);
    const int digestInfoGiven[2] = {1, 0}, externalInput[2] = {0, 1}, both[2] = {1, 1};
    struct Case {
        const char* name;
        bool callback;
        int hashId;
        const char* digest;
        const int* options;
        bool messageIsDigestInfo;
        size_t callbackInput;  // bytes the token received
        unsigned callbackWord;
    } cases[] = {
        {"key in memory, SHA-256", false, SG_DIGEST_SHA256, "sha256", nullptr, false, 0, 0},
        {"key in memory, SHA-1", false, SG_DIGEST_SHA1, "sha1", nullptr, false, 0, 0},
        {"key in memory, DigestInfo given", false, SG_DIGEST_SHA256, "sha256", digestInfoGiven,
         true, 0, 0},
        {"token, SHA-256: the padded block", true, SG_DIGEST_SHA256, "sha256", nullptr, false, 256,
         word(5, 1)},
        {"token, SHA-512: the padded block", true, SG_DIGEST_SHA512, "sha512", nullptr, false, 256,
         word(7, 1)},
        {"token, external input: the DigestInfo", true, SG_DIGEST_SHA256, "sha256", externalInput,
         false, 51, word(5, 1)},
        {"token, DigestInfo given, external input", true, SG_DIGEST_SHA256, "sha256", both, true,
         51, word(SG_PKCS1_HASH_AS_GIVEN, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        token.calls = 0;
        const SGCryptoHandlerKey key = c.callback ? callbackKey(&token) : derKey(rsa_);
        const Bytes input = c.messageIsDigestInfo ? digestInfo(c.hashId, message_) : message_;
        Bytes signature;
        ASSERT_EQ(sign(&signature, input, word(c.hashId, kV15), key, c.options), 0);
        EXPECT_EQ(signature.size(), 256u);
        EXPECT_TRUE(opensslVerifies(signature, message_, c.digest, false));
        EXPECT_EQ(token.calls, c.callback ? 1 : 0);
        if (!c.callback) continue;
        EXPECT_EQ(token.algorithm, c.callbackWord);
        EXPECT_EQ(token.lengthGiven, 256u);
        ASSERT_EQ(token.input.size(), c.callbackInput);
        const Bytes info = digestInfo(c.hashId, message_);
        if (c.callbackInput == 256) {
            // 00 01 FF .. FF 00 DigestInfo
            EXPECT_EQ(hex(Bytes(token.input.begin(), token.input.begin() + 4)), "0001FFFF");
            EXPECT_EQ(token.input[256 - info.size() - 1], 0x00);
            EXPECT_EQ(Bytes(token.input.end() - static_cast<long>(info.size()), token.input.end()),
                      info);
            EXPECT_EQ(std::count(token.input.begin(), token.input.end(), 0xFF),
                      static_cast<long>(256 - info.size() - 3));
        } else {
            EXPECT_EQ(token.input, info);
        }
    }
}

// The DigestInfo parameters of the handle take the place of NULL in the AlgorithmIdentifier.
TEST_F(CryptoHandler, DigestInfoParametersOfTheHandle) {
    Token token(rsa_);
    Bytes parameters = unhex("0400");
    SGBinary p = view(parameters);
    SGCryptoHandlerKey key = callbackKey(&token);
    key.parameters = &p;
    const int external[2] = {0, 1};
    ASSERT_EQ(sign(nullptr, message_, word(SG_DIGEST_SHA256, kV15), key, external), 0);
    Bytes expected(128);
    unsigned n = static_cast<unsigned>(expected.size());
    const Bytes d = digest(SG_DIGEST_SHA256, message_);
    ASSERT_EQ(SGPKCS1_CreateDigestInfo(expected.data(), &n, SG_DIGEST_SHA256, d.data(),
                                       parameters.data(), 2),
              0);
    expected.resize(n);
    EXPECT_EQ(token.input, expected);
    EXPECT_NE(token.input, digestInfo(SG_DIGEST_SHA256, message_));
}

TEST_F(CryptoHandler, RsaPssWithTheKeyInMemoryOnly) {
    Bytes signature;
    ASSERT_EQ(sign(&signature, message_, word(SG_DIGEST_SHA256, kPss), derKey(rsa_)), 0);
    EXPECT_TRUE(opensslVerifies(signature, message_, "sha256", true));
    EXPECT_FALSE(opensslVerifies(signature, message_, "sha256", false));
    // A token cannot run PSS through the padding layer: refused before it is called.
    Token token(rsa_);
    EXPECT_EQ(sign(nullptr, message_, word(SG_DIGEST_SHA256, kPss), callbackKey(&token)), 588);
    EXPECT_EQ(token.calls, 0);
}

// The direct path: the token gets the raw message and the word as given, after its size is
// checked against the buffer; what it reports is checked too.
TEST_F(CryptoHandler, DirectPath) {
    Token token(rsa_);
    for (unsigned algorithm : {word(SG_DIGEST_SHA256, kV15), word(SG_DIGEST_SHA1, kPss),
                               word(SG_DIGEST_SHA256, kKcdsa)}) {
        token.calls = 0;
        Bytes signature;
        ASSERT_EQ(sign(&signature, message_, algorithm, callbackKey(&token, &recordingSign, 1),
                       nullptr, 300),
                  0);
        EXPECT_EQ(token.calls, 1);
        EXPECT_EQ(token.input, message_);
        EXPECT_EQ(token.algorithm, algorithm);
        EXPECT_EQ(token.lengthGiven, 300u);
        EXPECT_EQ(signature, Bytes(7, 0x5A));
    }
    struct Case {
        const char* name;
        unsigned size, capacity, reportExtra;
        int keySizeResult, signResult, expected, calls;
    } cases[] = {
        {"key larger than the buffer", 300, 256, 0, 0, 0, 10009, 0},
        {"key as large as the buffer", 256, 256, 0, 0, 0, 0, 1},
        {"reports beyond the buffer", 256, 256, 250, 0, 0, 10009, 1},
        {"key-size callback fails", 256, 256, 0, 1234, 0, 1234, 0},
        {"sign callback fails", 256, 256, 0, 0, 4321, 4321, 1},
    };
    for (const Case& c : cases) {
        token.calls = 0;
        token.size = c.size;
        token.reportExtra = c.reportExtra;
        token.keySizeResult = c.keySizeResult;
        token.signResult = c.signResult;
        EXPECT_EQ(sign(nullptr, message_, word(5, kV15), callbackKey(&token, &recordingSign, 1),
                       nullptr, c.capacity),
                  c.expected)
            << c.name;
        EXPECT_EQ(token.calls, c.calls) << c.name;
    }
}

// The KCDSA key pair of the standard's example II.3 (2048/256): the domain and the private key
// as DER.
struct KcdsaExample {
    Bytes domain, x, y;
};
KcdsaExample kcdsaExample() {
    KcdsaExample e;
    std::ifstream in(std::string(BRINDLOW_TEST_DATA) +
                     "/../../../crypto/tests/data/kcdsa_ttak.vec");
    EXPECT_TRUE(in.good());
    std::map<std::string, std::string> r;
    bool inSet = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Set = ", 0) == 0) inSet = line == "Set = II.3";
        const size_t eq = line.find(" = ");
        if (inSet && eq != std::string::npos) r[line.substr(0, eq)] = line.substr(eq + 3);
    }
    auto integer = [](const std::string& h) {
        Bytes v = unhex(h);
        if (v[0] & 0x80) v.insert(v.begin(), 0);
        return der::integerBytes(v);
    };
    e.domain = der::seq({integer(r["P"]), integer(r["Q"]), integer(r["G"])});
    e.x = integer(r["X"]);
    e.y = integer(r["Y"]);
    return e;
}

TEST_F(CryptoHandler, KcdsaSignaturesVerifyWithTheExampleKeyPair) {
    const KcdsaExample k = kcdsaExample();
    SGBinary domain = view(k.domain);
    Bytes signature;
    ASSERT_EQ(sign(&signature, message_, word(SG_DIGEST_SHA256, kKcdsa), derKey(k.x, &domain)), 0);
    SGDSKey publicKey{};
    ASSERT_EQ(
        SGDSKey_Decode(&publicKey, k.y.data(), static_cast<int>(k.y.size()), SG_DSKEY_KCDSA_PUBLIC),
        0);
    SGDSParameter p{};
    p.kind = SG_DS_KCDSA;
    p.key = &publicKey;
    p.kcdsaHashId = SG_DIGEST_SHA256;
    p.kcdsaDomainParameters = k.domain.data();
    p.kcdsaDomainParametersLength = static_cast<uint32_t>(k.domain.size());
    EXPECT_EQ(SGDS_Verify(signature.data(), static_cast<int>(signature.size()), message_.data(),
                          static_cast<int>(message_.size()), &p),
              0);
    Bytes other = message_;
    other[0] ^= 1;
    EXPECT_EQ(SGDS_Verify(signature.data(), static_cast<int>(signature.size()), other.data(),
                          static_cast<int>(other.size()), &p),
              SG_KCDSA_ERR_INVALID);
    SGDSKey_Clear(&publicKey);

    // A token gets the raw message and the KCDSA word, and needs no domain.
    Token token(rsa_);
    ASSERT_EQ(sign(&signature, message_, word(SG_DIGEST_SHA256, kKcdsa),
                   callbackKey(&token, &recordingSign)),
              0);
    EXPECT_EQ(token.input, message_);
    EXPECT_EQ(token.algorithm, word(SG_DIGEST_SHA256, kKcdsa));
    EXPECT_EQ(signature, Bytes(7, 0x5A));
}

TEST_F(CryptoHandler, SigningCodes) {
    Token token(rsa_);
    const Bytes garbage = unhex("0102030405");
    SGCryptoHandlerKey noSign = callbackKey(&token), noSize = callbackKey(&token);
    noSign.form.signer.sign = nullptr;
    noSize.form.signer.keySize = nullptr;
    struct Case {
        const char* name;
        SGCryptoHandlerKey key;
        unsigned algorithm, capacity;
        int expected;
    } cases[] = {
        {"callback handle without sign callback", noSign, word(5, kV15), 512, 20006},
        {"callback handle without key-size callback", noSize, word(5, kV15), 512, 20006},
        {"KCDSA key in memory without domain (not even decoded)", derKey(garbage), word(5, kKcdsa),
         512, 10020},
        {"PSS through a token", callbackKey(&token), word(5, kPss), 512, 588},
        {"unknown scheme", derKey(rsa_), word(5, 3), 512, 11},
        {"RSA key DER that does not decode", derKey(garbage), word(5, kV15), 512, -1},
        {"buffer smaller than the modulus", derKey(rsa_), word(5, kV15), 255,
         SG_PKCS1_ERR_OUTPUT_TOO_SHORT},
    };
    for (const Case& c : cases) {
        const int r = sign(nullptr, message_, c.algorithm, c.key, nullptr, c.capacity);
        if (c.expected == -1)
            EXPECT_NE(r, 0) << c.name;
        else
            EXPECT_EQ(r, c.expected) << c.name;
    }
    EXPECT_EQ(token.calls, 0);
    // A token that reports a longer signature than the 512-byte buffer holds.
    token.reportExtra = 300;
    EXPECT_EQ(sign(nullptr, message_, word(5, kV15), callbackKey(&token)), 10009);
    // Missing arguments.
    const SGCryptoHandlerKey key = derKey(rsa_);
    SGBinary m = view(message_), s{nullptr, 0};
    EXPECT_EQ(SGCryptoHandler_Sign(&s, &m, word(5, kV15), &key, nullptr), 10001);
    EXPECT_EQ(SGCryptoHandler_Sign(nullptr, &m, word(5, kV15), &key, nullptr), 10001);
}

// ---------------------------------------------------------------------------------------------
// Decryption

class CryptoHandlerDecrypt : public CryptoHandler {
  protected:
    // openssl pkeyutl -encrypt with the public key and the options.
    static Bytes opensslEncrypt(const Bytes& message, const std::string& options) {
        testkit::Scratch dir("handler");
        testkit::writeBytes(dir / "msg", message);
        std::string out;
        EXPECT_TRUE(testkit::succeeds(
            "cd " + quote(dir.str()) + " && openssl pkeyutl -encrypt -pubin -inkey " +
                quote((material() / "public.pem").string()) + " -in msg -out ct " + options,
            &out))
            << out;
        return testkit::readBytes(dir / "ct");
    }
    int decrypt(Bytes* out, const Bytes& ciphertext, unsigned padding,
                const SGCryptoHandlerKey& key, const SGCryptoHandlerOAEP* oaep = nullptr) const {
        SGBinary plain{};
        const SGBinary c = view(ciphertext);
        const int r = SGCryptoHandler_Decrypt(&plain, &c, padding, &key, oaep);
        if (r != 0) {
            EXPECT_EQ(plain.data, nullptr);
        }
        if (out) *out = bytesOf(plain);
        SGBinary_Cleanse(&plain);
        return r;
    }
    SGCryptoHandlerKey rsaKey() const {
        SGCryptoHandlerKey k{};
        k.type = SG_CRYPTO_HANDLER_RSA_KEY;
        k.form.key.der = rsa_.data();
        k.form.key.length = static_cast<uint32_t>(rsa_.size());
        return k;
    }
};

TEST_F(CryptoHandlerDecrypt, OpensslCiphertextsOpen) {
    const Bytes label = bytesOf(std::string("brindlow"));
    const SGCryptoHandlerOAEP sha256{SG_PKCS1_MGF1, SG_DIGEST_SHA256, nullptr, 0, nullptr};
    const SGCryptoHandlerOAEP labelled{SG_PKCS1_MGF1, SG_DIGEST_SHA1, label.data(),
                                       static_cast<int>(label.size()), nullptr};
    struct Case {
        const char* name;
        std::string options;
        unsigned padding;
        const SGCryptoHandlerOAEP* oaep;
        int expected;
    } cases[] = {
        {"v1.5", "", 0x20, nullptr, 0},
        {"OAEP SHA-1", "-pkeyopt rsa_padding_mode:oaep", word(SG_DIGEST_SHA1, 0x21), nullptr, 0},
        {"OAEP SHA-256, MGF1 SHA-256", "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256",
         word(SG_DIGEST_SHA256, 0x21), &sha256, 0},
        {"OAEP SHA-256, MGF1 SHA-256 without the block (MGF1 SHA-1 assumed)",
         "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256", word(SG_DIGEST_SHA256, 0x21),
         nullptr, SG_PKCS1_ERR_OAEP_DECRYPT},
        {"OAEP SHA-256, MGF1 SHA-1 without the block",
         "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha1",
         word(SG_DIGEST_SHA256, 0x21), nullptr, 0},
        {"OAEP with a label",
         "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_label:" + hex(label),
         word(SG_DIGEST_SHA1, 0x21), &labelled, 0},
        {"OAEP with a label not given (the empty label assumed)",
         "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_label:" + hex(label),
         word(SG_DIGEST_SHA1, 0x21), nullptr, SG_PKCS1_ERR_OAEP_DECRYPT},
        {"v1.5 ciphertext read as OAEP", "", word(SG_DIGEST_SHA1, 0x21), nullptr,
         SG_PKCS1_ERR_OAEP_DECRYPT},
    };
    const Bytes message = bytesOf(std::string("a 16-byte CEK..."));
    for (const Case& c : cases) {
        const Bytes ciphertext = opensslEncrypt(message, c.options);
        ASSERT_EQ(ciphertext.size(), 256u) << c.name;
        Bytes plain;
        EXPECT_EQ(decrypt(&plain, ciphertext, c.padding, rsaKey(), c.oaep), c.expected) << c.name;
        if (c.expected == 0) {
            EXPECT_EQ(plain, message) << c.name;
        }
    }
}

TEST_F(CryptoHandlerDecrypt, TokenCallbackAndCodes) {
    Token token(rsa_);
    const Bytes message = bytesOf(std::string("session key"));
    const Bytes ciphertext = opensslEncrypt(message, "");
    SGCryptoHandlerKey callback{};
    callback.type = SG_CRYPTO_HANDLER_CALLBACK;
    callback.form.decrypter.decrypt = &tokenDecrypt;
    callback.form.decrypter.userData = &token;
    Bytes plain;
    ASSERT_EQ(decrypt(&plain, ciphertext, 0x12345, callback), 0);
    EXPECT_EQ(plain, message);
    EXPECT_EQ(token.input, ciphertext);
    EXPECT_EQ(token.algorithm, 0x12345u);  // the padding word as given
    EXPECT_EQ(token.lengthGiven, 256u);

    token.reportExtra = 300;  // beyond the 256 bytes it was given
    EXPECT_EQ(decrypt(&plain, ciphertext, 0x20, callback), 20005);
    token.reportExtra = 0;
    token.decryptResult = 77;
    EXPECT_EQ(decrypt(&plain, ciphertext, 0x20, callback), 20005);

    const Bytes garbage = unhex("300302010A");
    SGCryptoHandlerKey none{}, two{}, badKey = rsaKey();
    two.type = 2;
    badKey.form.key.der = garbage.data();
    badKey.form.key.length = static_cast<uint32_t>(garbage.size());
    struct Case {
        const char* name;
        SGCryptoHandlerKey key;
        unsigned padding;
        int expected;
    } cases[] = {
        {"no key: nothing to do", none, 0x20, 0},
        {"handle type 2", two, 0x20, 10011},
        {"padding 0x22", rsaKey(), 0x22, 20004},
        {"key DER that does not decode", badKey, 0x20, 10014},
    };
    for (const Case& c : cases) {
        Bytes out = {1};
        EXPECT_EQ(decrypt(&out, ciphertext, c.padding, c.key), c.expected) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
    // A decryption handle of 24 bytes is all that is read.
    struct {
        int type;
        SGDecryptCallback decrypt;
        void* user;
    } shortHandle{SG_CRYPTO_HANDLER_CALLBACK, &tokenDecrypt, &token};
    static_assert(sizeof shortHandle == 24);
    auto* heap = static_cast<unsigned char*>(std::malloc(24));
    std::memcpy(heap, &shortHandle, 24);
    token.decryptResult = 0;
    SGBinary out{};
    const SGBinary c = view(ciphertext);
    EXPECT_EQ(SGCryptoHandler_Decrypt(&out, &c, 0x20, reinterpret_cast<SGCryptoHandlerKey*>(heap),
                                      nullptr),
              0);
    EXPECT_EQ(bytesOf(out), message);
    SGBinary_Cleanse(&out);
    std::free(heap);
}

}  // namespace
