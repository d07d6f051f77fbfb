// Envelopes between a disk token and openssl cms, and the identity-check random encrypted for
// a server certificate, opened again with openssl pkeyutl, enc and cms.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "FileToken.h"
#include "KeyTreeSupport.h"
#include "TokenKeySupport.h"

using namespace keytree;
using keytest::Password;

namespace {

std::string pathOf(const std::string& relative) {
    return testkit::quote((keytest::material() / relative).string());
}

std::string base64Of(const Bytes& bytes) {
    testkit::Scratch dir("env");
    testkit::writeBytes(dir / "in", bytes);
    return testkit::run("base64 -w0 " + testkit::quote((dir / "in").string()));
}

Bytes unbase64(const char* text) {
    testkit::Scratch dir("env");
    testkit::writeText(dir / "in", text ? text : "");
    testkit::succeeds("base64 -d " + testkit::quote((dir / "in").string()) + " > " +
                      testkit::quote((dir / "out").string()));
    return testkit::readBytes(dir / "out");
}

// The length of the DER header at p.
size_t headerLength(const Bytes& der, size_t at) {
    const unsigned char n = der[at + 1];
    return 2 + ((n & 0x80) ? (n & 0x7F) : 0);
}

// The bare EnvelopedData inside a ContentInfo: after its header, the OID and the [0] header.
Bytes bareOf(const Bytes& contentInfo) {
    size_t at = headerLength(contentInfo, 0);
    at += 2 + contentInfo[at + 1];  // the OID
    at += headerLength(contentInfo, at);
    return Bytes(contentInfo.begin() + static_cast<long>(at), contentInfo.end());
}

// openssl cms -encrypt of the content to the key-management certificate.
Bytes opensslEnvelope(const Bytes& content, const std::string& cipher, const std::string& extra) {
    testkit::Scratch dir("env");
    testkit::writeBytes(dir / "m", content);
    std::string output;
    EXPECT_TRUE(testkit::succeeds(
        "openssl cms -encrypt -provider legacy -provider default -binary -" + cipher + " " + extra +
            " -outform DER -in " + testkit::quote((dir / "m").string()) + " -out " +
            testkit::quote((dir / "e").string()) + " " + pathOf("chain/km.pem"),
        &output))
        << output;
    return testkit::readBytes(dir / "e");
}

class TokenEnvelope : public ::testing::Test {
  protected:
    void SetUp() override {
        Parts parts = npkiPair();
        // The signing key file that carries the identity-check random.
        parts.signKey = keytest::materialFile("random/key.der");
        path_ = medium_.npki("hong", parts);
        ASSERT_EQ(medium_.list(), 1u);
    }
    FileToken& token() { return medium_.token(); }
    std::string id(char digit) { return itemId(path_, digit); }

    int open(const Bytes& input, SignInputType type, Bytes* content, Bytes* key = nullptr,
             InputPINHandler* handler = nullptr) {
        Password password(keytest::kPassword);
        std::string text = type == 7 ? std::string() : base64Of(input);
        Bytes raw = input;
        char* out = nullptr;
        char* keyText = nullptr;
        const std::string kmKey = id('4');
        const int rc = type == 7
                           ? token().deenvelope(&out, kmKey.c_str(), handler ? handler : &password,
                                                raw.data(), raw.size(), &keyText, type)
                           : token().deenvelope(&out, kmKey.c_str(), handler ? handler : &password,
                                                reinterpret_cast<unsigned char*>(text.data()),
                                                text.size(), &keyText, type);
        if (out) *content = unbase64(out);
        if (key && keyText) *key = unbase64(keyText);
        Token::freeMemory(out, 0);
        Token::freeMemory(keyText, 0);
        return rc;
    }

    Medium medium_;
    std::string path_;
};

TEST_F(TokenEnvelope, OpensslOpensOurEnvelopes) {
    const Bytes km = keytest::materialFile("chain/km.der");
    const std::string message = "enveloped for the holder";
    std::string input = base64Of(Bytes(message.begin(), message.end()));
    Bytes certificate = km;
    char* out = nullptr;
    ASSERT_EQ(token().envelope(&out, certificate.data(), certificate.size(),
                               reinterpret_cast<unsigned char*>(input.data()), input.size(), 0),
              0);
    testkit::Scratch dir("env");
    testkit::writeBytes(dir / "e", unbase64(out));
    Token::freeMemory(out, 0);
    const std::string opened =
        testkit::run("openssl cms -decrypt -provider legacy -provider default -inform DER -in " +
                     testkit::quote((dir / "e").string()) + " -recip " + pathOf("chain/km.pem") +
                     " -inkey " + pathOf("chain/km.key"));
    EXPECT_EQ(opened, message);

    // The certificate of an item id; one that does not decode.
    input = base64Of(Bytes{'x'});
    const std::string kmCert = id('3');
    ASSERT_EQ(token().envelope(&out, kmCert.c_str(), reinterpret_cast<unsigned char*>(input.data()),
                               input.size()),
              0);
    Token::freeMemory(out, 0);
    Bytes notACertificate = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(token().envelope(&out, notACertificate.data(), notACertificate.size(),
                               reinterpret_cast<unsigned char*>(input.data()), input.size(), 0),
              1320);
    EXPECT_EQ(out, nullptr);
}

TEST_F(TokenEnvelope, OpensOpensslEnvelopes) {
    const Bytes message = {'f', 'r', 'o', 'm', ' ', 'o', 'p', 'e', 'n', 's', 's', 'l'};
    for (const char* cipher : {"seed-cbc", "aes-128-cbc"}) {
        Bytes content;
        EXPECT_EQ(open(opensslEnvelope(message, cipher, ""), 0, &content), 0) << cipher;
        EXPECT_EQ(content, message) << cipher;
    }
    // Type 7: the raw DER of a bare EnvelopedData whose recipient is named by key identifier.
    Bytes content;
    EXPECT_EQ(open(bareOf(opensslEnvelope(message, "seed-cbc", "-keyid")), 7, &content), 0);
    EXPECT_EQ(content, message);

    // A cancelled password: the token's code, not the library's.
    Password cancel(keytest::kPassword);
    cancel.answer = 2;
    content.clear();
    EXPECT_EQ(open(opensslEnvelope(message, "seed-cbc", ""), 0, &content, nullptr, &cancel), 1302);
    EXPECT_TRUE(content.empty());
}

// Type 6 hands back the content key: openssl enc opens the content with it.
TEST_F(TokenEnvelope, ReturnsTheContentKey) {
    const Bytes message = {'k', 'e', 'y', ' ', 'b', 'a', 'c', 'k'};
    const Bytes bare = bareOf(opensslEnvelope(message, "seed-cbc", ""));
    Bytes content, key;
    ASSERT_EQ(open(bare, 6, &content, &key), 0);
    EXPECT_EQ(content, message);
    ASSERT_EQ(key.size(), 16u);
    testkit::Scratch dir("env");
    testkit::writeBytes(dir / "bare", bare);
    // The IV (the only 16-byte OCTET STRING) and the encrypted content ([0] IMPLICIT).
    const std::string script =
        "cd " + testkit::quote(dir.path().string()) +
        " && openssl asn1parse -inform DER -in bare > parsed"
        " && iv=$(grep 'l=  16 prim: OCTET STRING' parsed | tail -1 | sed 's/.*HEX DUMP]://')"
        " && line=$(grep 'prim: cont \\[ 0 \\]' parsed | tail -1)"
        " && at=$(echo \"$line\" | cut -d: -f1 | tr -d ' ')"
        " && hl=$(echo \"$line\" | sed 's/.*hl=\\([0-9]*\\).*/\\1/')"
        " && l=$(echo \"$line\" | sed 's/.*l= *\\([0-9]*\\) prim.*/\\1/')"
        " && tail -c +$((at + hl + 1)) bare | head -c $l > c"
        " && openssl enc -d -provider legacy -provider default -seed-cbc -K " +
        testkit::hex(key) + " -iv $iv -in c";
    EXPECT_EQ(testkit::run(script), std::string(message.begin(), message.end()));
}

TEST_F(TokenEnvelope, EncryptsTheIdentityCheckRandom) {
    const Bytes random = testkit::unhex(keytest::kRandomHex);
    // HashContent { "", random } as DER.
    Bytes hashContent = {0x30, static_cast<unsigned char>(random.size() + 5), 0x13, 0x00,
                         0x03, static_cast<unsigned char>(random.size() + 1), 0x00};
    hashContent.insert(hashContent.end(), random.begin(), random.end());

    testkit::Scratch dir("env");
    ASSERT_TRUE(testkit::succeeds(
        "cd " + testkit::quote(dir.path().string()) +
        " && openssl req -x509 -newkey rsa:2047 -nodes -keyout k2047.pem -subj /CN=server2047"
        " -days 1 -outform DER -out c2047.der 2>/dev/null"));
    struct Case {
        std::string certificate, key;
        size_t rsaLength;
    } const cases[] = {
        {(keytest::material() / "chain/km.der").string(),
         (keytest::material() / "chain/km.key").string(), 256},
        {(dir / "c2047.der").string(), (dir / "k2047.pem").string(), 256},
    };
    for (const Case& c : cases) {
        Bytes server = testkit::readBytes(c.certificate);
        Password password(keytest::kPassword);
        unsigned char* out = nullptr;
        unsigned long length = 0;
        const std::string signId = id('1');
        ASSERT_EQ(token().encryptVIDRandom(&out, &length, &password, signId.c_str(), server.data(),
                                           server.size(), 0),
                  0);
        EXPECT_EQ(password.lastPurpose, InputPINHandler::PURPOSE_VID_RANDOM);
        const Bytes sealed(out, out + length);
        Token::freeMemory(out, length);
        ASSERT_GT(sealed.size(), c.rsaLength);
        EXPECT_EQ((sealed.size() - c.rsaLength) % 16, 0u);
        testkit::writeBytes(dir / "rsa", Bytes(sealed.begin(), sealed.begin() + 256));
        testkit::writeBytes(dir / "seed",
                            Bytes(sealed.begin() + static_cast<long>(c.rsaLength), sealed.end()));
        const std::string key = testkit::run(
            "openssl pkeyutl -decrypt -inkey " + testkit::quote(c.key) + " -in " +
            testkit::quote((dir / "rsa").string()) + " | od -An -tx1 -v | tr -d ' \\n'");
        ASSERT_EQ(key.size(), 32u) << c.certificate;
        testkit::succeeds("openssl enc -d -provider legacy -provider default -seed-cbc -K " + key +
                          " -iv 00000000000000000000000000000000 -in " +
                          testkit::quote((dir / "seed").string()) + " -out " +
                          testkit::quote((dir / "plain").string()));
        EXPECT_EQ(testkit::hex(testkit::readBytes(dir / "plain")), testkit::hex(hashContent))
            << c.certificate;
    }

    // Type 1: an EnvelopedData of the random that openssl cms opens; the text form too.
    Bytes km = keytest::materialFile("chain/km.der");
    Password password(keytest::kPassword);
    char* text = nullptr;
    const std::string signId = id('1');
    ASSERT_EQ(token().encryptVIDRandom(&text, &password, signId.c_str(), km.data(), km.size(), 1),
              0);
    testkit::writeBytes(dir / "e", unbase64(text));
    Token::freeMemory(text, 0);
    const std::string opened =
        testkit::run("openssl cms -decrypt -provider legacy -provider default -inform DER -in " +
                     testkit::quote((dir / "e").string()) + " -recip " + pathOf("chain/km.pem") +
                     " -inkey " + pathOf("chain/km.key") + " | od -An -tx1 -v | tr -d ' \\n'");
    std::string expected = testkit::hex(random);
    for (char& ch : expected) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(opened, expected);

    // A cancelled password and a server certificate that does not decode.
    Password cancel(keytest::kPassword);
    cancel.answer = 2;
    unsigned char* out = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(
        token().encryptVIDRandom(&out, &length, &cancel, signId.c_str(), km.data(), km.size(), 0),
        1302);
    Bytes bad = {0x30, 0x00};
    EXPECT_EQ(token().encryptVIDRandom(&out, &length, &password, signId.c_str(), bad.data(),
                                       bad.size(), 0),
              1312);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
