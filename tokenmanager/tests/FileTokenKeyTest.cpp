// The disk token's key operations on key files made by the openssl command line: password
// changes checked from outside with openssl alone, refusals that leave every byte in place, the
// completion of a change cut short, and the keys used to sign, decrypt and hand out what they
// hold.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "FileToken.h"
#include "KeyTreeSupport.h"
#include "SGCryptoHandler.h"
#include "TokenKeySupport.h"

using namespace keytree;
using keytest::bytesOf;
using keytest::data;
using keytest::kcdsaVerify;
using keytest::kOtherPassword;
using keytest::opensslEncrypt;
using keytest::opensslVerifies;
using keytest::sha256DigestInfo;
using keytest::text;

namespace {

const std::string kNewPassword = "Brand#new2024pw";

// Answers password requests as the test scripts them, and notes how it was asked.
class Handler : public InputPINHandler {
  public:
    Handler(std::string current, std::string fresh = "")
        : current_(std::move(current)), fresh_(std::move(fresh)) {}
    int inputPIN(char* out, TokenType type, InputPINPurpose purpose) override {
        note(type, purpose);
        write(out, current_);
        return answer;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char* oldOut, char* newOut, TokenType type,
                       InputPINPurpose purpose) override {
        note(type, purpose);
        write(oldOut, current_);
        write(newOut, fresh_);
        return answer;
    }
    int inputTokenPIN(char* out, const char*, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }

    int answer = 0;
    bool fillWhole = false;  // 128 bytes and no end
    int asked = 0;
    int purpose = -1;
    int type = -1;

  private:
    void note(TokenType t, InputPINPurpose p) {
        ++asked;
        type = t;
        purpose = p;
    }
    void write(char* out, const std::string& text) const {
        if (fillWhole)
            std::memset(out, 'x', 128);
        else
            std::strncpy(out, text.c_str(), 127);
    }

    std::string current_, fresh_;
};

int setPin(FileToken& token, const std::string& itemId, const std::string& old,
           const std::string& fresh) {
    return token.setCertificatePIN(itemId.c_str(), text(old), old.size(), text(fresh),
                                   fresh.size());
}

int verify(FileToken& token, const std::string& itemId, const std::string& pin) {
    return token.verifyPin(itemId.c_str(), text(pin), pin.size());
}

std::string shell(const std::string& command) {
    return testkit::run(command + " 2>&1");
}

}  // namespace

TEST(FileTokenKeys, ChangedKeysPassTheOutsideChecks) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    Parts withRandom = npkiPair();
    withRandom.signKey = materialFile("random/key.der");
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", withRandom, 0640);
    const std::string signOnly = medium.npki("cn=only,o=yessign,c=kr", signOnlyParts());
    const std::string schemes =
        medium.npki("cn=schemes,o=yessign,c=kr",
                    {materialFile("chain/sign.der"), materialFile("aes256/key.der"),
                     materialFile("chain/km.der"), materialFile("3des/key.der")});
    const std::string gov = medium.gpki("kim", gpkiPair());
    ASSERT_EQ(medium.list(), 4u);
    FileToken& token = medium.token();

    struct Case {
        std::string path;
        bool gpki;
        std::vector<std::string> plain;  // the PrivateKeyInfo each key file must hold
        bool asked;                      // through changeCertificatePIN and a handler
        mode_t mode;
    } cases[] = {
        // The VID random of the signing key survives: its PrivateKeyInfo stays byte for byte.
        {pair, false, {"random/plain.der", "km-plain.der"}, false, 0640},
        {signOnly, false, {"sign-plain.der"}, false, 0600},
        // Keys under other schemes come out in the key-file profile.
        {schemes, false, {"sign-plain.der", "km-plain.der"}, true, 0600},
        {gov, true, {"kcdsa1/plain.der", "kcdsa2/plain.der"}, false, 0600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string id = itemId(c.path, '1');
        if (c.asked) {
            Handler handler(kPassword, kNewPassword);
            EXPECT_EQ(token.changeCertificatePIN(id.c_str(), &handler), 0);
            EXPECT_EQ(handler.asked, 1);
            EXPECT_EQ(handler.purpose, InputPINHandler::PURPOSE_CHANGE_PIN);
            EXPECT_EQ(handler.type, InputPINHandler::TOKEN_TYPE_DISK);
        } else {
            EXPECT_EQ(setPin(token, id, kPassword, kNewPassword), 0);
        }
        const std::vector<std::string> files = keyFiles(c.path);
        for (size_t i = 0; i < c.plain.size(); ++i) {
            SCOPED_TRACE(files[i]);
            const KeyFileFields f = keyFileFields(files[i]);
            EXPECT_TRUE(f.pbes2);
            EXPECT_TRUE(f.pbkdf2);
            EXPECT_FALSE(f.prf);
            EXPECT_EQ(f.salt.size(), 16u) << f.salt;
            EXPECT_EQ(f.iterations, "0800");
            EXPECT_EQ(f.scheme, c.gpki ? "1.2.410.100001.1.20" : "seed-cbc");
            EXPECT_EQ(f.keyLength, c.gpki ? "10" : "");
            EXPECT_EQ(f.iv.size(), 32u) << f.iv;
            EXPECT_EQ(opensslPlaintext(files[i], kNewPassword), materialFile(c.plain[i]));
            EXPECT_NE(opensslPlaintext(files[i], kPassword), materialFile(c.plain[i]));
            EXPECT_EQ(tokentest::modeOf(files[i]), static_cast<int>(c.mode));
        }
        EXPECT_TRUE(strayFiles(fs::path(files[0]).parent_path()).empty());
        // Without listing again the new password opens the keys and the old one does not.
        EXPECT_EQ(verify(token, id, kNewPassword), 0);
        EXPECT_EQ(verify(token, id, kPassword), 1022);
    }

    // openssl opens the NPKI keys with the new password only, into the certificates' keys and
    // the very RSA keys they held.
    testkit::Scratch dir("outside");
    const std::string pem = (dir / "key.pem").string();
    for (const auto& [file, certificate, rsa] :
         {std::tuple{pair + "/signPri.key", "chain/sign.der", "sign-rsa.der"},
          std::tuple{pair + "/kmPri.key", "chain/km.der", "km-rsa.der"}}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(opensslOpens(file, kPassword));
        ASSERT_TRUE(opensslOpens(file, kNewPassword, pem));
        EXPECT_EQ(shell("openssl pkey -in " + testkit::quote(pem) + " -pubout"),
                  shell("openssl x509 -inform DER -noout -pubkey -in " +
                        testkit::quote((material() / certificate).string())));
        EXPECT_TRUE(testkit::succeeds("openssl rsa -in " + testkit::quote(pem) +
                                      " -traditional -outform DER -out " +
                                      testkit::quote((dir / "rsa.der").string())));
        EXPECT_EQ(testkit::readBytes(dir / "rsa.der"), materialFile(rsa));
    }

    // What another run of the program lists opens the same way.
    auto restarted = medium.freshToken();
    for (const Case& c : cases) {
        EXPECT_EQ(verify(*restarted, itemId(c.path, '1'), kNewPassword), 0) << c.path;
        EXPECT_EQ(verify(*restarted, itemId(c.path, '1'), kPassword), 1022) << c.path;
    }
}

TEST(FileTokenKeys, RefusedChangesLeaveBothFilesAsTheyWere) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", npkiPair());
    Parts mixedParts = npkiPair();
    mixedParts.kmKey = materialFile("km-other/key.der");
    const std::string mixed = medium.npki("cn=mixed,o=yessign,c=kr", mixedParts);
    const std::string renewed = medium.npki("cn=renewed,o=yessign,c=kr", npkiPair());
    ASSERT_EQ(medium.list(), 3u);
    FileToken& token = medium.token();

    enum Way { kSet, kAsked };
    struct Row {
        const char* what;
        Way way;
        std::string path;
        std::string id;
        std::string old, fresh;
        int answer;
        bool fillWhole;
        int expected;
        // Written over the signing key after the listing: the same key under the same password
        // in other bytes, as a renewal on disk leaves it.
        std::string renewal = "";
    } rows[] = {
        {"unknown id", kSet, pair, "00000000000000000000000000000000000000001", kPassword,
         kNewPassword, 0, false, 1309},
        {"unknown id", kAsked, pair, "00000000000000000000000000000000000000001", kPassword,
         kNewPassword, 0, false, 1309},
        {"wrong password", kSet, pair, "", "Wrong#pass123", kNewPassword, 0, false, 1328},
        {"wrong password", kAsked, pair, "", "Wrong#pass123", kNewPassword, 0, false, 1022},
        {"km under another password", kSet, mixed, "", kPassword, kNewPassword, 0, false, 1043},
        {"km under another password", kAsked, mixed, "", kPassword, kNewPassword, 0, false, 1043},
        {"handler cancel", kAsked, pair, "", kPassword, kNewPassword, 1, false, 1304},
        {"handler result 2", kAsked, pair, "", kPassword, kNewPassword, 2, false, 1304},
        {"handler text without an end", kAsked, pair, "", kPassword, kNewPassword, 0, true, 1312},
        {"empty new password", kSet, pair, "", kPassword, "", 0, false, 1312},
        {"empty new password", kAsked, pair, "", kPassword, "", 0, false, 1312},
        {"key renewed since the listing", kSet, renewed, "", kPassword, kNewPassword, 0, false,
         1312, "plain/key.der"},
        {"key renewed since the listing", kAsked, renewed, "", kPassword, kNewPassword, 0, false,
         1312, "aes256/key.der"},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + (row.way == kSet ? " (set)" : " (asked)"));
        if (row.id.empty()) row.id = itemId(row.path, '1');
        if (!row.renewal.empty())
            testkit::writeBytes(row.path + "/signPri.key", materialFile(row.renewal));
        const std::vector<std::string> files = keyFiles(row.path);
        const std::vector<std::string> before = digests(files);
        int rc;
        if (row.way == kSet) {
            rc = setPin(token, row.id, row.old, row.fresh);
        } else {
            Handler handler(row.old, row.fresh);
            handler.answer = row.answer;
            handler.fillWhole = row.fillWhole;
            rc = token.changeCertificatePIN(row.id.c_str(), &handler);
        }
        EXPECT_EQ(rc, row.expected);
        EXPECT_EQ(digests(files), before);
        EXPECT_TRUE(strayFiles(row.path).empty());
    }
    // The keys still open with the password they had.
    EXPECT_EQ(verify(token, itemId(pair, '1'), kPassword), 0);
    EXPECT_EQ(verify(token, itemId(mixed, '1'), kPassword), 1043);
    // A refusal leaves the suite with the bytes on disk: the renewed key is changed now.
    EXPECT_EQ(setPin(token, itemId(renewed, '1'), kPassword, kNewPassword), 0);
    EXPECT_EQ(opensslPlaintext(renewed + "/signPri.key", kNewPassword),
              materialFile("sign-plain.der"));
}

TEST(FileTokenKeys, AChangeCutShortBetweenItsRenamesIsCompletedByRepeatingIt) {
    ASSERT_FALSE(material().empty());
    // Both key files under the new password, as a completed change leaves them.
    Medium source;
    const std::string done = source.npki("cn=done,o=yessign,c=kr", npkiPair());
    ASSERT_EQ(source.list(), 1u);
    ASSERT_EQ(setPin(source.token(), itemId(done, '1'), kPassword, kNewPassword), 0);
    const Bytes newSign = testkit::readBytes(done + "/signPri.key");
    const Bytes newKm = testkit::readBytes(done + "/kmPri.key");

    Medium medium;
    Parts signDone = npkiPair(), kmDone = npkiPair(), bothDone = npkiPair();
    signDone.signKey = bothDone.signKey = newSign;
    kmDone.kmKey = bothDone.kmKey = newKm;
    const std::string a = medium.npki("cn=a,o=yessign,c=kr", signDone);
    const std::string b = medium.npki("cn=b,o=yessign,c=kr", kmDone);
    const std::string c = medium.npki("cn=c,o=yessign,c=kr", bothDone);
    ASSERT_EQ(medium.list(), 3u);
    FileToken& token = medium.token();

    // The key already under the new password is left byte for byte; the other one follows.
    for (const auto& [path, left] : {std::pair{a, 0}, std::pair{b, 1}}) {
        SCOPED_TRACE(path);
        const std::vector<std::string> files = keyFiles(path);
        const Bytes kept = testkit::readBytes(files[left]);
        EXPECT_EQ(setPin(token, itemId(path, '1'), kPassword, kNewPassword), 0);
        EXPECT_EQ(testkit::readBytes(files[left]), kept);
        EXPECT_EQ(opensslPlaintext(files[1 - left], kNewPassword),
                  materialFile(left == 0 ? "km-plain.der" : "sign-plain.der"));
        EXPECT_EQ(verify(token, itemId(path, '1'), kNewPassword), 0);
    }
    // With both done there is nothing the old password opens.
    const std::vector<std::string> before = digests(keyFiles(c));
    EXPECT_EQ(setPin(token, itemId(c, '1'), kPassword, kNewPassword), 1328);
    EXPECT_EQ(digests(keyFiles(c)), before);
    // And a wrong old password does not pass for a split one.
    EXPECT_EQ(setPin(token, itemId(a, '1'), "Wrong#pass123", "Third#pass2024"), 1328);
}

TEST(FileTokenKeys, PasswordsAreReadUpToTheirEndWithinTheGivenLength) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", npkiPair());
    ASSERT_EQ(medium.list(), 1u);
    FileToken& token = medium.token();
    const std::string id = itemId(pair, '1');
    // Buffers of exactly the password's bytes, without an end: AddressSanitizer reports any read
    // past them.
    auto exact = [](const std::string& s) {
        auto buffer = std::make_unique<unsigned char[]>(s.size());
        std::memcpy(buffer.get(), s.data(), s.size());
        return buffer;
    };
    auto old = exact(kPassword);
    EXPECT_EQ(token.verifyPin(id.c_str(), old.get(), kPassword.size()), 0);
    EXPECT_EQ(token.verifyPin(id.c_str(), old.get(), kPassword.size() - 1), 1022);
    EXPECT_EQ(token.verifyPin(id.c_str(), old.get(), 0), 1022);
    // A longer text counts up to the given length; a NUL ends it earlier.
    const std::string longer = kPassword + "tail";
    EXPECT_EQ(token.verifyPin(id.c_str(), text(longer), kPassword.size()), 0);
    std::string withNul = kPassword + '\0' + "tail";
    EXPECT_EQ(token.verifyPin(id.c_str(), text(withNul), withNul.size()), 0);

    auto fresh = exact(kNewPassword);
    EXPECT_EQ(token.setCertificatePIN(id.c_str(), old.get(), kPassword.size(), fresh.get(),
                                      kNewPassword.size()),
              0);
    EXPECT_EQ(verify(token, id, kNewPassword), 0);
}

TEST(FileTokenKeys, SuiteKeysSignAndDecrypt) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", npkiPair());
    const std::string gov = medium.gpki("kim", gpkiPair());
    ASSERT_EQ(medium.list(), 2u);
    FileToken& token = medium.token();
    const std::string signId = itemId(pair, '1');
    const Bytes message = bytesOf(std::string("a document to be signed"));

    // A DigestInfo signed with the signing key; a null parameter record counts as a zeroed one.
    Bytes digestInfo = sha256DigestInfo(message);
    Handler handler(kPassword);
    Bytes signature(256);
    unsigned long length = signature.size();
    EXPECT_EQ(
        token.generateSignatureRAW(signature.data(), &length, &handler, data(digestInfo),
                                   digestInfo.size(), signId.c_str(), signId.c_str(), nullptr),
        0);
    EXPECT_EQ(handler.purpose, InputPINHandler::PURPOSE_PRIVATE_KEY);
    EXPECT_EQ(length, 256u);
    EXPECT_TRUE(opensslVerifies((material() / "sign-pub.pem").string(), digestInfo, signature));
    Handler wrong("Wrong#pass123");
    EXPECT_EQ(
        token.generateSignatureRAW(signature.data(), &length, &wrong, data(digestInfo),
                                   digestInfo.size(), signId.c_str(), signId.c_str(), nullptr),
        1328);
    Handler cancel(kPassword);
    cancel.answer = 2;
    EXPECT_EQ(
        token.generateSignatureRAW(signature.data(), &length, &cancel, data(digestInfo),
                                   digestInfo.size(), signId.c_str(), signId.c_str(), nullptr),
        1302);

    // The GPKI key signs KCDSA with the domain parameters inside it, released afterwards.
    TokenGenerateSignatureParameters parameters{};
    Bytes kcdsa(128);
    unsigned long kcdsaLength = kcdsa.size();
    const std::string govId = itemId(gov, '1');
    Bytes messageCopy = message;
    ASSERT_EQ(
        token.generateSignatureRAW(kcdsa.data(), &kcdsaLength, &handler, data(messageCopy),
                                   messageCopy.size(), govId.c_str(), govId.c_str(), &parameters),
        0);
    kcdsa.resize(kcdsaLength);
    EXPECT_EQ(kcdsaVerify(kcdsa, message), 0);
    EXPECT_EQ(parameters.dsParameters, nullptr);
    EXPECT_EQ(parameters.dsParametersLength, 0u);

    // Digits 2 and 4 decrypt openssl's encryption to the signing and key-management keys.
    testkit::Scratch dir("decrypt");
    const Bytes secret = bytesOf(std::string("content encryption key 0123456"));
    for (const auto& [digit, pem] :
         {std::pair{'2', "sign-pub.pem"}, std::pair{'4', "km-pub.pem"}}) {
        SCOPED_TRACE(digit);
        Bytes cipher = opensslEncrypt((material() / pem).string(), secret, dir);
        ASSERT_EQ(cipher.size(), 256u);
        unsigned char* plain = nullptr;
        unsigned long plainLength = 0;
        const std::string id = itemId(pair, digit);
        ASSERT_EQ(token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &handler,
                                id.c_str(), nullptr),
                  0);
        EXPECT_EQ(Bytes(plain, plain + plainLength), secret);
        Token::freeMemory(plain, plainLength);
        EXPECT_EQ(token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &wrong,
                                id.c_str(), nullptr),
                  1328);
        EXPECT_EQ(plain, nullptr);
    }
    Bytes cipher = opensslEncrypt((material() / "sign-pub.pem").string(), secret, dir);
    unsigned char* plain = nullptr;
    unsigned long plainLength = 0;
    const int askedBefore = handler.asked;
    // The certificate's digit names no key; a GPKI key does not decrypt RSA.
    EXPECT_EQ(token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &handler,
                            signId.c_str(), nullptr),
              1312);
    EXPECT_EQ(handler.asked, askedBefore);
    EXPECT_EQ(token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &handler,
                            itemId(gov, '2').c_str(), nullptr),
              1307);
    EXPECT_EQ(token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &cancel,
                            itemId(pair, '2').c_str(), nullptr),
              1302);

    // The PKI layer signs and decrypts through the key callbacks without holding the key.
    TokenKeyCallbackContext context{0, &token, signId.c_str(), &handler};
    const keytest::Signed s = keytest::signThroughHandler(
        context, message, SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PKCS1));
    ASSERT_EQ(s.rc, 0);
    EXPECT_TRUE(opensslVerifies((material() / "sign-pub.pem").string(), digestInfo, s.signature));
    const std::string kmKeyId = itemId(pair, '4');
    TokenKeyCallbackContext decryptContext{0, &token, kmKeyId.c_str(), &handler};
    SGCryptoHandlerKey key{};
    key.type = SG_CRYPTO_HANDLER_CALLBACK;
    key.form.decrypter.decrypt = DecryptCallback;
    key.form.decrypter.userData = &decryptContext;
    Bytes toKm = opensslEncrypt((material() / "km-pub.pem").string(), secret, dir);
    const SGBinary in{toKm.data(), static_cast<uint32_t>(toKm.size())};
    SGBinary opened{};
    ASSERT_EQ(SGCryptoHandler_Decrypt(&opened, &in, SG_CRYPTO_HANDLER_PKCS1_V15, &key, nullptr), 0);
    EXPECT_EQ(keytest::bytesOf(opened), secret);
    SGBinary_Cleanse(&opened);
}

TEST(FileTokenKeys, WhatTheKeysHoldIsHandedOutAfterThePassword) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    Parts withRandom = npkiPair();
    withRandom.signKey = materialFile("random/key.der");
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", withRandom);
    const std::string signOnly = medium.npki("cn=only,o=yessign,c=kr", signOnlyParts());
    ASSERT_EQ(medium.list(), 2u);
    FileToken& token = medium.token();
    Handler handler(kPassword);

    // The VID random, asked with purpose 9; any answer but 0 cancels.
    unsigned char* bytes = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(token.getVIDRandom(&bytes, &length, &handler, itemId(pair, '1').c_str()), 0);
    EXPECT_EQ(handler.purpose, InputPINHandler::PURPOSE_VID_RANDOM);
    EXPECT_EQ(testkit::hex(Bytes(bytes, bytes + length)),
              testkit::hex(testkit::unhex(keytest::kRandomHex)));
    Token::freeMemory(bytes, length);
    ASSERT_EQ(token.getVIDRandom(&bytes, &length, &handler, itemId(signOnly, '1').c_str()), 0);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(length, 0u);
    Handler other(kPassword);
    other.answer = 2;
    EXPECT_EQ(token.getVIDRandom(&bytes, &length, &other, itemId(pair, '1').c_str()), 1302);
    Handler wrong("Wrong#pass123");
    EXPECT_EQ(token.getVIDRandom(&bytes, &length, &wrong, itemId(pair, '1').c_str()), 1022);

    // The encrypted key bytes by digit, after the password opened both keys.
    struct KeyRow {
        std::string id;
        Handler* handler;
        int rc;
        Bytes expected;
    } keyRows[] = {
        {itemId(pair, '1'), &handler, 0, materialFile("random/key.der")},
        {itemId(pair, '2'), &handler, 0, materialFile("random/key.der")},
        {itemId(pair, '3'), &handler, 0, materialFile("chain/kmPri.key")},
        {itemId(pair, '4'), &handler, 0, materialFile("chain/kmPri.key")},
        {itemId(signOnly, '3'), &handler, 0, {}},
        {itemId(pair, '2'), &wrong, 1022, {}},
        {itemId(pair, '2'), &other, 1302, {}},
    };
    for (const KeyRow& row : keyRows) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(token.getPrivateKey(row.id.c_str(), &bytes, &length, row.handler), row.rc);
        EXPECT_EQ(bytes ? Bytes(bytes, bytes + length) : Bytes(), row.expected);
        Token::freeMemory(bytes, length);
    }

    // Sizes from the signing certificate.
    unsigned long size = 0;
    EXPECT_EQ(token.getKeySize(&size, &handler, itemId(pair, '2').c_str()), 0);
    EXPECT_EQ(size, 256u);
    int modulus = 0;
    EXPECT_EQ(token.getKeyLength(itemId(pair, '1').c_str(), &modulus), 0);
    EXPECT_EQ(modulus, 256);
    EXPECT_EQ(token.getKeySize(&size, &handler, "unknown1"), 1309);

    // The key-management ids, only for a suite with the pair.
    char* kmKey = nullptr;
    char* kmCert = nullptr;
    ASSERT_EQ(token.getKMID(&kmKey, &kmCert, itemId(pair, '1').c_str()), 0);
    EXPECT_STREQ(kmKey, itemId(pair, '4').c_str());
    EXPECT_STREQ(kmCert, itemId(pair, '3').c_str());
    Token::freeMemory(kmKey, 0);
    Token::freeMemory(kmCert, 0);
    EXPECT_EQ(token.getKMID(&kmKey, &kmCert, itemId(signOnly, '1').c_str()), 1311);
    EXPECT_EQ(kmKey, nullptr);
}

TEST(FileTokenKeys, SynchronizingPutsTheKeyManagementKeyUnderTheSigningPassword) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    Parts mixedParts = npkiPair();
    mixedParts.kmKey = materialFile("km-other/key.der");
    const std::string mixed = medium.npki("cn=mixed,o=yessign,c=kr", mixedParts);
    const std::string signOnly = medium.npki("cn=only,o=yessign,c=kr", signOnlyParts());
    ASSERT_EQ(medium.list(), 2u);
    FileToken& token = medium.token();
    const std::string id = itemId(mixed, '1');
    auto sync = [&](const std::string& itemId, const std::string& sign, const std::string& km) {
        return token.certificateSynchronize(itemId.c_str(), text(sign), sign.size(), text(km),
                                            km.size());
    };
    const std::vector<std::string> before = digests(keyFiles(mixed));
    EXPECT_EQ(sync(id, "Wrong#pass123", kOtherPassword), 1022);
    EXPECT_EQ(sync(id, kPassword, "Wrong#pass123"), 1043);
    EXPECT_EQ(sync(itemId(signOnly, '1'), kPassword, kPassword), 1311);
    EXPECT_EQ(digests(keyFiles(mixed)), before);

    EXPECT_EQ(verify(token, id, kPassword), 1043);
    EXPECT_EQ(sync(id, kPassword, kOtherPassword), 0);
    EXPECT_EQ(verify(token, id, kPassword), 0);
    EXPECT_EQ(digests(keyFiles(mixed))[0], before[0]);
    EXPECT_EQ(opensslPlaintext(mixed + "/kmPri.key", kPassword), materialFile("km-plain.der"));
}

TEST(FileTokenKeys, PasswordsAndPlainKeysAreWipedOnEveryPath) {
    ASSERT_FALSE(material().empty());
    Medium medium;
    const std::string pair = medium.npki("cn=pair,o=yessign,c=kr", npkiPair());
    ASSERT_EQ(medium.list(), 1u);
    FileToken& token = medium.token();
    const Bytes rsa = materialFile("sign-rsa.der");
    const std::string current = kPassword + "-and a tail no other text has";
    const std::string fresh = kNewPassword + "-and another tail";
    // The suite's keys under passwords long enough to be told apart from anything else.
    ASSERT_EQ(setPin(token, itemId(pair, '1'), kPassword, current), 0);
    testkit::Scratch dir("wipe");
    Bytes cipher = opensslEncrypt((material() / "sign-pub.pem").string(),
                                  bytesOf(std::string("the secret plaintext")), dir);
    Bytes digestInfo = sha256DigestInfo(bytesOf(std::string("message")));
    keytest::gReleased = {};
    keytest::gReleased.secrets = {Bytes(rsa.begin() + 400, rsa.begin() + 432), bytesOf(current),
                                  bytesOf(fresh), bytesOf(std::string("the secret plaintext"))};
    {
        keytest::BaseAllocationHook hook;
        for (const std::string& pin : {current, std::string("Wrong#pass123")}) {
            Handler handler(pin, fresh);
            const std::string sign = itemId(pair, '2');
            unsigned char* out = nullptr;
            unsigned long outLength = 0;
            verify(token, sign, pin);
            token.getPrivateKey(sign.c_str(), &out, &outLength, &handler);
            Token::freeMemory(out, outLength);
            token.decrypt(&out, &outLength, cipher.data(), cipher.size(), &handler, sign.c_str(),
                          nullptr);
            Token::freeMemory(out, outLength);
            Bytes signature(256);
            unsigned long length = signature.size();
            token.generateSignatureRAW(signature.data(), &length, &handler, data(digestInfo),
                                       digestInfo.size(), sign.c_str(), sign.c_str(), nullptr);
            token.getVIDRandom(&out, &outLength, &handler, sign.c_str());
            Token::freeMemory(out, outLength);
            handler.answer = 1;
            token.changeCertificatePIN(sign.c_str(), &handler);
        }
        Handler change(current, fresh);
        EXPECT_EQ(token.changeCertificatePIN(itemId(pair, '1').c_str(), &change), 0);
    }
    EXPECT_GT(keytest::gReleased.checked, 20);
    EXPECT_TRUE(keytest::gReleased.hits.empty()) << testing::PrintToString(keytest::gReleased.hits);
}
