// Software key pairs of the token base (generated, or registered from a certificate's current
// key) and the key callbacks through which the PKI layer signs and decrypts with a token's key:
// public keys read and ciphertexts made by the openssl command line, signatures checked by
// openssl pkeyutl and by the crypto library.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "SGBaseTable.h"
#include "SGCryptoHandler.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCS8.h"
#include "TokenCodec.h"
#include "TokenKeySupport.h"
#include "TokenLocalKeyStorage.h"

using namespace keytest;

namespace {

// A pair made by the token, with what it handed out.
struct Pair {
    int rc = -1;
    std::string id;
    Bytes publicKey;
};

// What a call that hands out a key id and a public key gave.
template <typename Call>
Pair handedOut(Call call) {
    Pair p;
    char* id = nullptr;
    unsigned char* publicKey = nullptr;
    unsigned long length = 0;
    p.rc = call(&id, &publicKey, &length);
    if (id) p.id = id;
    if (publicKey) p.publicKey.assign(publicKey, publicKey + length);
    Token::freeMemory(id, 0);
    Token::freeMemory(publicKey, 0);
    return p;
}

Pair generate(Token& token, unsigned int bits) {
    TokenGenerateKeyPairParameters parameters{};
    parameters.keySize = bits;
    return handedOut([&](char** id, unsigned char** publicKey, unsigned long* length) {
        return token.generateKeyPair(id, publicKey, length, nullptr, &parameters);
    });
}

// The signing key of the test chain registered as a local pair through the token's export.
Pair registerSigningKey(KeyToken& token) {
    token.exportKey = materialFile("plain/plain.der");
    token.exportCertificate = materialFile("chain/sign.der");
    return handedOut([&](char** id, unsigned char** publicKey, unsigned long* length) {
        return token.getOldKeyPair(id, publicKey, length, "ID1", nullptr);
    });
}

bool isKeyId(const std::string& id) {
    return id.size() == 40 && std::all_of(id.begin(), id.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
           });
}

// A public key the token handed out (RSAPublicKey DER) as PEM, read by openssl.
std::string publicPem(const Bytes& rsaPublicKey, const testkit::Scratch& dir) {
    testkit::writeBytes(dir / "public.der", rsaPublicKey);
    const std::string pem = (dir / "public.pem").string();
    if (!testkit::succeeds("openssl rsa -pubin -RSAPublicKey_in -inform DER -in " +
                           testkit::quote((dir / "public.der").string()) + " -out " +
                           testkit::quote(pem)))
        return {};
    return pem;
}

// openssl pkeyutl -encrypt (PKCS #1 v1.5, or OAEP) of the message under the public key.
Bytes decrypted(Token& token, const std::string& id, Bytes cipher, int* rc) {
    unsigned char* plain = reinterpret_cast<unsigned char*>(0x1);
    unsigned long length = 9;
    *rc = token.decrypt(&plain, &length, data(cipher), cipher.size(), nullptr, id.c_str(), nullptr);
    Bytes out;
    if (plain) out.assign(plain, plain + length);
    if (*rc != 0 && (plain || length)) ADD_FAILURE() << "a failed decryption handed out data";
    Token::freeMemory(plain, length);
    return out;
}

unsigned long keySize(Token& token, const std::string& id, int* rc) {
    unsigned long size = 0;
    *rc = token.getKeySize(&size, nullptr, id.c_str());
    return size;
}

}  // namespace

TEST(TokenLocalKeys, GeneratedPairsSignDecryptAndTellTheirSize) {
    KeyToken token;
    const Pair first = generate(token, 2048);
    const Pair second = generate(token, 2048);
    ASSERT_EQ(first.rc, 0);
    ASSERT_EQ(second.rc, 0);
    EXPECT_TRUE(isKeyId(first.id)) << first.id;
    EXPECT_TRUE(isKeyId(second.id)) << second.id;
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first.publicKey, second.publicKey);
    int rc = -1;
    EXPECT_EQ(keySize(token, first.id, &rc), 256u);
    EXPECT_EQ(rc, 0);

    // openssl reads the public key and encrypts under it; the pair decrypts.
    testkit::Scratch dir("keys");
    const std::string pem = publicPem(first.publicKey, dir);
    ASSERT_FALSE(pem.empty());
    EXPECT_NE(testkit::run("openssl rsa -pubin -in " + testkit::quote(pem) + " -noout -text")
                  .find("Public-Key: (2048 bit)"),
              std::string::npos);
    const Bytes message = bytesOf(std::string("a session key of 32 bytes......."));
    const Bytes cipher = opensslEncrypt(pem, message, dir);
    ASSERT_EQ(cipher.size(), 256u);
    EXPECT_EQ(decrypted(token, first.id, cipher, &rc), message);
    EXPECT_EQ(rc, 0);
    // Under the other pair the padding does not check out: no plaintext is handed out.
    decrypted(token, second.id, cipher, &rc);
    EXPECT_GE(rc, 581);
    EXPECT_LE(rc, 586);
    decrypted(token, first.id, Bytes(cipher.begin(), cipher.end() - 1), &rc);
    EXPECT_EQ(rc, 556);

    // The pair signs when no key is given, and openssl verifies with its public key.
    Bytes digestInfo = sha256DigestInfo(message);
    Bytes signature(256);
    unsigned long length = signature.size();
    ASSERT_EQ(
        token.generateSignatureLocal(signature.data(), &length, data(digestInfo), digestInfo.size(),
                                     nullptr, first.id.c_str(), nullptr, nullptr, PKI_TYPE_NPKI),
        0);
    std::string output;
    EXPECT_TRUE(opensslVerifies(pem, digestInfo, signature, &output)) << output;

    // The text form hands out the public key as Base64.
    char* id = nullptr;
    char* base64 = nullptr;
    TokenGenerateKeyPairParameters parameters{};
    parameters.keySize = 3072;
    ASSERT_EQ(token.generateKeyPair(&id, &base64, nullptr, &parameters), 0);
    ASSERT_NE(id, nullptr);
    ASSERT_NE(base64, nullptr);
    unsigned char* decoded = nullptr;
    unsigned int decodedLength = 0;
    ASSERT_EQ(Base64::decode(&decoded, &decodedLength, base64), 0);
    const Bytes third(decoded, decoded + decodedLength);
    Base64::free(decoded);
    EXPECT_EQ(keySize(token, id, &rc), 384u);
    testkit::Scratch dir3("keys");
    const std::string pem3 = publicPem(third, dir3);
    ASSERT_FALSE(pem3.empty());
    EXPECT_EQ(decrypted(token, id, opensslEncrypt(pem3, message, dir3), &rc), message);
    Token::freeMemory(id, 0);
    Token::freeMemory(base64, 0);
}

TEST(TokenLocalKeys, UnknownIdsAndRefusedSizes) {
    KeyToken token;
    int rc = -1;
    EXPECT_EQ(decrypted(token, "0000000000000000000000000000000000000000", Bytes(256, 1), &rc),
              Bytes());
    EXPECT_EQ(rc, 1300);
    EXPECT_EQ(keySize(token, "0000000000000000000000000000000000000000", &rc), 0u);
    EXPECT_EQ(rc, 1310);
    char unknown[] = "0000000000000000000000000000000000000000";
    Bytes cert = materialFile("chain/sign.der");
    EXPECT_EQ(token.import(unknown, data(cert), cert.size(), nullptr, 0, false), 1310);
    EXPECT_EQ(token.imported.calls, 0);

    // A size the generator refuses stores nothing and hands out nothing.
    const Pair refused = generate(token, 1000);
    EXPECT_EQ(refused.rc, 502);
    EXPECT_EQ(refused.id, "");
    EXPECT_TRUE(refused.publicKey.empty());
    char* id = reinterpret_cast<char*>(0x1);
    char* base64 = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(token.generateKeyPair(&id, &base64, nullptr, nullptr), 502);
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(base64, nullptr);
    unsigned char* publicKey = nullptr;
    EXPECT_EQ(token.generateKeyPair(nullptr, &publicKey, nullptr, nullptr, nullptr), 1312);
}

// Every buffer the token manager releases is checked for the key, the plaintext and the
// password (BaseAllocationHook).
TEST(TokenLocalKeys, ReleasedBuffersHoldNoKeyPlaintextOrPassword) {
    ASSERT_FALSE(material().empty());
    const Bytes rsa = materialFile("sign-rsa.der");
    ASSERT_GT(rsa.size(), 700u);
    const Bytes message = bytesOf(std::string("the plaintext that must not linger"));
    const std::string password = kPassword + "-longer than any other text here";
    gReleased.secrets = {Bytes(rsa.begin() + 400, rsa.begin() + 432), message, bytesOf(password)};
    KeyToken token;
    testkit::Scratch dir("keys");
    const Bytes cipher = opensslEncrypt((material() / "sign-pub.pem").string(), message, dir);
    Bytes keyFile = materialFile("chain/signPri.key");
    Bytes plainFile = materialFile("plain/plain.der");
    {
        BaseAllocationHook hook;
        // Opening in every mode, with the right and a wrong password, released by the caller.
        for (int mode : {TOKEN_KEY_RECORD, TOKEN_KEY_OCTETS, TOKEN_KEY_INFO}) {
            for (const std::string& pin : {kPassword, password}) {
                SGRSAPrivateKey key{};
                SGBinary octets{};
                SGPKCS8PrivateKeyInfo info{};
                void* out = mode == TOKEN_KEY_RECORD   ? static_cast<void*>(&key)
                            : mode == TOKEN_KEY_OCTETS ? static_cast<void*>(&octets)
                                                       : static_cast<void*>(&info);
                token.decryptPrivateKeyFromPKCS8(out, nullptr, nullptr, nullptr, data(keyFile),
                                                 keyFile.size(), text(pin), pin.size(), mode);
                SGRSAPrivateKey_Free(&key);
                SGBinary_Cleanse(&octets);
                SGPKCS8PrivateKeyInfo_Cleanse(&info);
            }
        }
        // A registered pair decrypts (released with freeMemory and its length), and fails to.
        const Pair registered = registerSigningKey(token);
        ASSERT_EQ(registered.rc, 0);
        const char* id = registered.id.c_str();
        int rc = -1;
        EXPECT_EQ(decrypted(token, id, cipher, &rc), message);
        decrypted(token, id, Bytes(cipher.rbegin(), cipher.rend()), &rc);
        EXPECT_NE(rc, 0);
        // The same through the decrypt callback, and the pair signing.
        TokenKeyCallbackContext context{0, &token, id, nullptr};
        Bytes out(cipher.size());
        unsigned int outLength = static_cast<unsigned>(out.size());
        EXPECT_EQ(DecryptCallback(out.data(), &outLength, cipher.data(),
                                  static_cast<unsigned>(cipher.size()), 0x20, &context),
                  0);
        std::fill(out.begin(), out.end(), 0);
        Bytes digestInfo = sha256DigestInfo(message);
        Bytes signature(256);
        unsigned long signatureLength = signature.size();
        EXPECT_EQ(token.generateSignatureLocal(signature.data(), &signatureLength, data(digestInfo),
                                               digestInfo.size(), nullptr, id, nullptr, nullptr,
                                               PKI_TYPE_NPKI),
                  0);
        // A plain key file opened with the password as given.
        SGBinary octets{};
        token.decryptPrivateKeyFromPKCS8(&octets, nullptr, nullptr, nullptr, data(plainFile),
                                         plainFile.size(), text(password), password.size(),
                                         TOKEN_KEY_OCTETS);
        SGBinary_Cleanse(&octets);

        // Nothing is allocated for an unknown id.
        const int before = gReleased.allocations;
        decrypted(token, "unknown", cipher, &rc);
        EXPECT_EQ(rc, 1300);
        EXPECT_EQ(gReleased.allocations, before);
    }
    EXPECT_GT(gReleased.checked, 10);
    EXPECT_TRUE(gReleased.hits.empty()) << testing::PrintToString(gReleased.hits);
}

TEST(TokenLocalKeys, OldKeyPairIsRegisteredAndImported) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    const Pair registered = registerSigningKey(token);
    ASSERT_EQ(registered.rc, 0);
    const std::string keyId = registered.id;
    EXPECT_TRUE(isKeyId(keyId)) << keyId;
    // The certificate's public key, as openssl writes it as RSAPublicKey.
    EXPECT_EQ(registered.publicKey, materialFile("sign-rsapub.der"));
    int rc = -1;
    EXPECT_EQ(keySize(token, keyId, &rc), 256u);

    // The pair signs as the certificate's key: openssl verifies with the certificate.
    Bytes digestInfo = sha256DigestInfo(bytesOf(std::string("renewal request")));
    Bytes signature(256);
    unsigned long signatureLength = signature.size();
    ASSERT_EQ(token.generateSignatureLocal(signature.data(), &signatureLength, data(digestInfo),
                                           digestInfo.size(), nullptr, keyId.c_str(), nullptr,
                                           nullptr, PKI_TYPE_NPKI),
              0);
    std::string output;
    EXPECT_TRUE(
        opensslVerifies((material() / "sign-pub.pem").string(), digestInfo, signature, &output))
        << output;

    // An import that fails keeps the pair; one that succeeds takes it over.
    Bytes cert = materialFile("chain/sign.der");
    Bytes random = testkit::unhex(kRandomHex);
    std::vector<char> idText(keyId.begin(), keyId.end());
    idText.push_back('\0');
    token.importResult = 1336;
    EXPECT_EQ(
        token.import(idText.data(), data(cert), cert.size(), data(random), random.size(), true),
        1336);
    EXPECT_EQ(token.imported.privateKey, materialFile("sign-rsa.der"));
    EXPECT_EQ(token.imported.certificate, cert);
    EXPECT_EQ(token.imported.vidRandom, random);
    EXPECT_FALSE(token.imported.dsParameters);
    EXPECT_EQ(token.imported.keepNewer, 1u);
    EXPECT_FALSE(token.imported.replaceKM);
    EXPECT_EQ(keySize(token, keyId, &rc), 256u);
    token.importResult = 0;
    EXPECT_EQ(token.import(idText.data(), data(cert), cert.size(), nullptr, 0, false), 0);
    EXPECT_EQ(token.imported.keepNewer, 0u);
    EXPECT_EQ(token.storage()->get(keyId), nullptr);
    EXPECT_EQ(token.import(idText.data(), data(cert), cert.size(), nullptr, 0, false), 1310);
    EXPECT_EQ(token.imported.calls, 2);
}

TEST(TokenLocalKeys, OldKeyPairFailures) {
    ASSERT_FALSE(material().empty());
    Bytes cut = materialFile("chain/sign.der");
    cut.resize(100);
    const struct {
        const char* name;
        int exportResult;
        Bytes key, certificate;
        int expected;
    } cases[] = {
        {"password cancelled", 1302, {}, {}, 1302},
        {"wrong password", 1022, {}, {}, 1022},
        {"no such certificate", 1309, {}, {}, 1332},
        {"nothing exported", 0, {}, {}, 1332},
        {"undecodable certificate", 0, materialFile("plain/plain.der"), cut, 1320},
        {"undecodable key", 0, Bytes(64, 0x30), materialFile("chain/sign.der"), 1332},
    };
    for (const auto& c : cases) {
        KeyToken token;
        token.exportResult = c.exportResult;
        token.exportKey = c.key;
        token.exportCertificate = c.certificate;
        char* id = reinterpret_cast<char*>(0x1);
        unsigned char* publicKey = reinterpret_cast<unsigned char*>(0x1);
        unsigned long length = 9;
        EXPECT_EQ(token.getOldKeyPair(&id, &publicKey, &length, "ID1", nullptr), c.expected)
            << c.name;
        EXPECT_EQ(id, nullptr) << c.name;
        EXPECT_EQ(publicKey, nullptr) << c.name;
        EXPECT_EQ(length, 0u) << c.name;
    }
}

// ---- Key callbacks -------------------------------------------------------------------------

namespace {

const char kNpkiItem[] = "0123456789ABCDEF0123456789ABCDEF012345671";
const char kGpkiItem[] = "FEDCBA9876543210FEDCBA9876543210FEDCBA981";

// openssl's verdict on a PKCS #1 v1.5 signature with SHA-256 over the message.
bool opensslVerifiesMessage(const Bytes& message, const Bytes& signature) {
    testkit::Scratch dir("keys");
    testkit::writeBytes(dir / "m", message);
    testkit::writeBytes(dir / "s", signature);
    return testkit::succeeds("openssl dgst -sha256 -verify " +
                             testkit::quote((material() / "sign-pub.pem").string()) +
                             " -signature " + testkit::quote((dir / "s").string()) + " " +
                             testkit::quote((dir / "m").string()));
}

}  // namespace

TEST(TokenCallbacks, TheCryptoHandlerSignsWithATokensKey) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    token.stored[kNpkiItem] = {materialFile("chain/signPri.key"), PKI_TYPE_NPKI};
    token.stored[kGpkiItem] = {materialFile("kcdsa2/key.der"), PKI_TYPE_GPKI};
    Password password(kPassword);
    TokenKeyCallbackContext context{0, &token, kNpkiItem, &password};
    const Bytes message = bytesOf(std::string("a document to be signed"));
    const unsigned int sha256Pkcs1 = SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PKCS1);

    // The token gets the padded block, or with the external-signer option the DigestInfo.
    for (const int* options : {static_cast<const int*>(nullptr), (const int[]){0, 1}}) {
        const Signed s = signThroughHandler(context, message, sha256Pkcs1, options);
        ASSERT_EQ(s.rc, 0);
        EXPECT_EQ(s.signature.size(), 256u);
        EXPECT_TRUE(opensslVerifiesMessage(message, s.signature));
        EXPECT_EQ(context.result, 0);
    }
    EXPECT_EQ(password.asked, 2);
    EXPECT_EQ(password.lastPurpose, InputPINHandler::PURPOSE_PRIVATE_KEY);

    // The context keeps the token's own code when the library fails.
    password.answer = 1;
    EXPECT_NE(signThroughHandler(context, message, sha256Pkcs1).rc, 0);
    EXPECT_EQ(context.result, 1302);
    Password wrong("not the password");
    context.handler = &wrong;
    EXPECT_NE(signThroughHandler(context, message, sha256Pkcs1).rc, 0);
    EXPECT_EQ(context.result, 1328);

    // KCDSA: the token gets the message and signs it with SHA-256 and the key's domain.
    context = {0, &token, kGpkiItem, &password};
    password.answer = 0;
    const Signed k = signThroughHandler(context, message,
                                        SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_KCDSA));
    ASSERT_EQ(k.rc, 0);
    EXPECT_EQ(kcdsaVerify(k.signature, message), 0);
}

TEST(TokenCallbacks, SignCallbackRefusesWhatTheTokenCannotHonour) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    token.stored[kNpkiItem] = {materialFile("chain/signPri.key"), PKI_TYPE_NPKI};
    Password password(kPassword);
    TokenKeyCallbackContext context{0, &token, kNpkiItem, &password};
    const Bytes message = sha256DigestInfo(bytesOf(std::string("m")));
    const struct {
        const char* name;
        unsigned int algorithm;
    } refused[] = {
        {"PSS", SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PSS)},
        {"KCDSA with SHA-1", SG_CRYPTO_HANDLER_ALGORITHM(3, SG_CRYPTO_HANDLER_KCDSA)},
        {"KCDSA with HAS-160", SG_CRYPTO_HANDLER_ALGORITHM(8, SG_CRYPTO_HANDLER_KCDSA)},
        {"unknown scheme", SG_CRYPTO_HANDLER_ALGORITHM(5, 3)},
    };
    Bytes out(256, 0xAA);
    for (const auto& r : refused) {
        context.result = 0;
        unsigned int length = 256;
        EXPECT_EQ(P1SignCallback(out.data(), &length, message.data(),
                                 static_cast<unsigned>(message.size()), r.algorithm, &context),
                  1307)
            << r.name;
        EXPECT_EQ(context.result, 1307) << r.name;
    }
    // Through the crypto handler's direct path, which hands the word over as it is.
    context.result = 0;
    EXPECT_EQ(signThroughHandler(context, message, refused[0].algorithm, nullptr, 1).rc, 1307);
    EXPECT_EQ(context.result, 1307);
    EXPECT_EQ(token.signCalls, 0);
    EXPECT_EQ(out, Bytes(256, 0xAA));

    // A signature longer than the caller's room is never copied.
    token.reportLonger = true;
    unsigned int length = 256;
    EXPECT_EQ(
        P1SignCallback(out.data(), &length, message.data(), static_cast<unsigned>(message.size()),
                       SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PKCS1), &context),
        1312);
    EXPECT_EQ(out, Bytes(256, 0xAA));
    EXPECT_EQ(length, 256u);
    // Room below the signature: the token refuses before signing, nothing is copied.
    token.reportLonger = false;
    length = 100;
    EXPECT_EQ(
        P1SignCallback(out.data(), &length, message.data(), static_cast<unsigned>(message.size()),
                       SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PKCS1), &context),
        557);
    EXPECT_EQ(out, Bytes(256, 0xAA));
    EXPECT_EQ(context.result, 557);
}

TEST(TokenCallbacks, TheCryptoHandlerDecryptsWithATokensKey) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    const Pair registered = registerSigningKey(token);
    ASSERT_EQ(registered.rc, 0);
    const char* id = registered.id.c_str();
    TokenKeyCallbackContext context{0, &token, id, nullptr};
    SGCryptoHandlerKey key{};
    key.type = SG_CRYPTO_HANDLER_CALLBACK;
    key.form.decrypter.decrypt = DecryptCallback;
    key.form.decrypter.userData = &context;

    testkit::Scratch dir("keys");
    const std::string pem = (material() / "sign-pub.pem").string();
    const Bytes message = bytesOf(std::string("content encryption key 0123456"));
    const Bytes pkcs1 = opensslEncrypt(pem, message, dir);
    ASSERT_EQ(pkcs1.size(), 256u);
    SGBinary plain{};
    const SGBinary in{const_cast<unsigned char*>(pkcs1.data()), 256};
    ASSERT_EQ(SGCryptoHandler_Decrypt(&plain, &in, SG_CRYPTO_HANDLER_PKCS1_V15, &key, nullptr), 0);
    EXPECT_EQ(bytesOf(plain), message);
    EXPECT_EQ(context.result, 0);
    SGBinary_Cleanse(&plain);

    // An OAEP block is refused before the token is asked: it would not come back as plaintext.
    const Bytes oaep = opensslEncrypt(pem, message, dir, "-pkeyopt rsa_padding_mode:oaep");
    ASSERT_EQ(oaep.size(), 256u);
    const int callsBefore = token.decryptCalls;
    const SGBinary oaepIn{const_cast<unsigned char*>(oaep.data()), 256};
    EXPECT_EQ(
        SGCryptoHandler_Decrypt(&plain, &oaepIn, 3u << 16 | SG_CRYPTO_HANDLER_OAEP, &key, nullptr),
        SG_CRYPTO_HANDLER_ERR_DECRYPT_CALLBACK);
    EXPECT_EQ(context.result, 1307);
    EXPECT_EQ(token.decryptCalls, callsBefore);
    EXPECT_EQ(plain.data, nullptr);

    // The token's own failures reach the context.
    context.keyId = "unknown";
    EXPECT_EQ(SGCryptoHandler_Decrypt(&plain, &in, SG_CRYPTO_HANDLER_PKCS1_V15, &key, nullptr),
              SG_CRYPTO_HANDLER_ERR_DECRYPT_CALLBACK);
    EXPECT_EQ(context.result, 1300);

    // The key-size callback answers the token's getKeySize.
    context.keyId = id;
    unsigned int size = 0;
    EXPECT_EQ(P1GetKeySizeCallback(&size, &context), 0);
    EXPECT_EQ(size, 256u);
    context.keyId = "unknown";
    EXPECT_EQ(P1GetKeySizeCallback(&size, &context), 1310);
    EXPECT_EQ(context.result, 1310);
}
