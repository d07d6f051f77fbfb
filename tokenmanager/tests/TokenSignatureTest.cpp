// The token's signing entry points on a disk token over key files made by openssl: PKCS #1
// signatures equal to openssl dgst and pkeyutl byte for byte, CMS signatures of every type and
// input type that openssl cms verifies, the verification after signing, a cancelled password,
// the input limit and the two file operations.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "FileToken.h"
#include "KeyTreeSupport.h"
#include "TokenKeySupport.h"

using namespace keytree;
using keytest::data;
using keytest::kcdsaVerify;
using keytest::Password;

namespace {

std::string base64Of(const Bytes& bytes) {
    testkit::Scratch dir("sig");
    testkit::writeBytes(dir / "in", bytes);
    std::string text = testkit::run("base64 -w0 " + testkit::quote((dir / "in").string()));
    return text;
}
std::string base64Of(const std::string& text) {
    return base64Of(Bytes(text.begin(), text.end()));
}

Bytes unbase64(const char* text) {
    testkit::Scratch dir("sig");
    testkit::writeText(dir / "in", text ? text : "");
    testkit::succeeds("base64 -d " + testkit::quote((dir / "in").string()) + " > " +
                      testkit::quote((dir / "out").string()));
    return testkit::readBytes(dir / "out");
}

// A ContentInfo around a bare SignedData, for openssl.
Bytes wrapSignedData(const Bytes& bare) {
    auto header = [](unsigned char tag, size_t n) {
        Bytes h{tag};
        if (n < 128) {
            h.push_back(static_cast<unsigned char>(n));
        } else if (n < 256) {
            h.push_back(0x81);
            h.push_back(static_cast<unsigned char>(n));
        } else {
            h.push_back(0x82);
            h.push_back(static_cast<unsigned char>(n >> 8));
            h.push_back(static_cast<unsigned char>(n));
        }
        return h;
    };
    const Bytes oid = testkit::unhex("06092A864886F70D010702");
    Bytes explicitTag = header(0xA0, bare.size());
    explicitTag.insert(explicitTag.end(), bare.begin(), bare.end());
    Bytes body = oid;
    body.insert(body.end(), explicitTag.begin(), explicitTag.end());
    Bytes out = header(0x30, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// openssl cms -verify of a DER signature with the kit's chain; the content it finds (or the
// detached content given) in *content.
bool cmsVerifies(const Bytes& signature, const Bytes* detached, Bytes* content,
                 std::string* output) {
    testkit::Scratch dir("sig");
    testkit::writeBytes(dir / "sig.der", signature);
    std::string command = "openssl cms -verify -inform DER -in " +
                          testkit::quote((dir / "sig.der").string()) + " -CAfile " +
                          testkit::quote((keytest::material() / "chain" / "chain.pem").string()) +
                          " -purpose any -out " + testkit::quote((dir / "out").string());
    if (detached) {
        testkit::writeBytes(dir / "content", *detached);
        command += " -binary -content " + testkit::quote((dir / "content").string());
    }
    const bool ok = testkit::succeeds(command, output);
    if (content) *content = testkit::readBytes(dir / "out");
    return ok;
}

class TokenSignature : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = medium_.npki("hong", npkiPair());
        gpki_ = medium_.gpki("kim", gpkiPair());
        ASSERT_EQ(medium_.list(), 2u);
        keyId_ = itemId(path_, '2');
        certId_ = itemId(path_, '1');
    }
    FileToken& token() { return medium_.token(); }
    static std::string signKey() {
        return testkit::quote((keytest::material() / "chain" / "sign.key").string());
    }
    // openssl's PKCS #1 signature of the message with the signing key.
    static Bytes opensslSign(const Bytes& message, const std::string& digest) {
        testkit::Scratch dir("sig");
        testkit::writeBytes(dir / "m", message);
        testkit::succeeds("openssl dgst -" + digest + " -sign " + signKey() + " -out " +
                          testkit::quote((dir / "s").string()) + " " +
                          testkit::quote((dir / "m").string()));
        return testkit::readBytes(dir / "s");
    }
    Bytes sign(const Bytes& message, TokenGenerateSignatureParameters& parameters, SignType type,
               int* rc, InputPINHandler* handler = nullptr) {
        Password password(keytest::kPassword);
        unsigned char* out = nullptr;
        unsigned long length = 0;
        Bytes copy = message;
        *rc = token().generateSignature(&out, &length, handler ? handler : &password,
                                        copy.empty() ? nullptr : copy.data(), copy.size(),
                                        keyId_.c_str(), certId_.c_str(), &parameters, type);
        Bytes signature = out ? Bytes(out, out + length) : Bytes();
        Token::freeMemory(out, length);
        return signature;
    }

    Medium medium_;
    std::string path_, gpki_, keyId_, certId_;
};

TEST_F(TokenSignature, Pkcs1EqualsOpenssl) {
    const Bytes message = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    struct Case {
        const char* hashName;
        const char* digest;
    } const cases[] = {{"sha256", "sha256"},
                       {"SHA1", "sha1"},
                       {"sha1WithRSA", "sha1"},
                       {nullptr, "sha256"},
                       {"md5", "sha256"}};
    for (const Case& c : cases) {
        TokenGenerateSignatureParameters parameters{};
        parameters.hashName = const_cast<char*>(c.hashName);
        parameters.verifyAfterSigning = true;
        int rc = -1;
        const Bytes signature = sign(message, parameters, 0, &rc);
        EXPECT_EQ(rc, 0) << (c.hashName ? c.hashName : "null");
        EXPECT_EQ(testkit::hex(signature), testkit::hex(opensslSign(message, c.digest)))
            << (c.hashName ? c.hashName : "null");
    }
}

// Raw mode: the DigestInfo of SHA-256 with the fixed 10-byte parameters, whatever the hash name.
TEST_F(TokenSignature, RawModeEqualsPkeyutlOverTheFixedDigestInfo) {
    const Bytes message = {'r', 'a', 'w'};
    testkit::Scratch dir("sig");
    testkit::writeBytes(dir / "m", message);
    const std::string digest =
        testkit::run("openssl dgst -sha256 -binary " + testkit::quote((dir / "m").string()) +
                     " | od -An -tx1 -v | tr -d ' \\n'");
    testkit::writeText(dir / "di.cnf",
                       "asn1=SEQUENCE:di\n[di]\nalg=SEQUENCE:alg\n"
                       "digest=FORMAT:HEX,OCTETSTRING:" +
                           digest +
                           "\n[alg]\noid=OID:sha256\n"
                           "parameters=FORMAT:HEX,OCTETSTRING:0F321F3245363739\n");
    ASSERT_TRUE(testkit::succeeds("cd " + testkit::quote(dir.path().string()) +
                                  " && openssl asn1parse -genconf di.cnf -noout -out di.der && "
                                  "openssl pkeyutl -sign -inkey " +
                                  signKey() + " -in di.der -out s"));
    TokenGenerateSignatureParameters parameters{};
    parameters.hashName = const_cast<char*>("sha1");
    int rc = -1;
    const Bytes signature = sign(message, parameters, 3, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testkit::hex(signature), testkit::hex(testkit::readBytes(dir / "s")));
    // The type's option went on a copy.
    EXPECT_FALSE(parameters.pkcs1Raw);
}

TEST_F(TokenSignature, CmsOfEveryTypeVerifiesWithOpenssl) {
    const Bytes message = {'c', 'm', 's', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};
    struct Case {
        SignType type;
        bool signedAttributes;
        bool bare;
        bool detached;
    } const cases[] = {{1, false, true, false}, {2, false, false, false}, {2, true, false, false},
                       {4, false, false, true}, {4, true, false, true},   {7, false, false, false}};
    for (const Case& c : cases) {
        TokenGenerateSignatureParameters parameters{};
        parameters.cmsSignedAttributes = c.signedAttributes;
        int rc = -1;
        Bytes signature = sign(message, parameters, c.type, &rc);
        ASSERT_EQ(rc, 0) << c.type;
        EXPECT_FALSE(parameters.cmsBareSignedData || parameters.cmsDetached ||
                     parameters.cmsSignerBySubject)
            << "the caller's record changed";
        if (c.bare) {
            // The signer is named by its own subject, which openssl does not look up: the
            // library checks it, openssl reads the structure.
            TokenGenerateSignatureParameters bySubject{};
            bySubject.cmsBareSignedData = bySubject.cmsSignerBySubject = true;
            EXPECT_EQ(token().verifySignature(signature.data(), signature.size(), nullptr, 0,
                                              keyId_.c_str(), &bySubject, 2),
                      0);
            testkit::Scratch dir("sig");
            testkit::writeBytes(dir / "sig.der", wrapSignedData(signature));
            const std::string printed = testkit::run("openssl cms -cmsout -print -inform DER -in " +
                                                     testkit::quote((dir / "sig.der").string()));
            const size_t sid = printed.find("d.issuerAndSerialNumber");
            ASSERT_NE(sid, std::string::npos) << printed;
            EXPECT_NE(printed.find("CN=Hong Gildong()0001", sid), std::string::npos) << printed;
            EXPECT_NE(printed.find("cms content"), std::string::npos) << printed;
            continue;
        }
        Bytes content;
        std::string output;
        EXPECT_TRUE(cmsVerifies(signature, c.detached ? &message : nullptr, &content, &output))
            << c.type << ": " << output;
        EXPECT_EQ(content, message) << c.type;
        if (c.detached) {
            Bytes other = message;
            other[0] ^= 1;
            EXPECT_FALSE(cmsVerifies(signature, &other, nullptr, &output)) << c.type;
        }
    }
}

// A DigestInfo or a finished digest as input signs the message they stand for, detached.
TEST_F(TokenSignature, CmsOfADigestInfoOrADigest) {
    const Bytes message = {'d', 'i', 'g', 'e', 's', 't', 'e', 'd'};
    const Bytes digestInfo = keytest::sha256DigestInfo(message);
    ASSERT_EQ(digestInfo.size(), 51u);
    const Bytes digest(digestInfo.end() - 32, digestInfo.end());
    struct Case {
        SignInputType input;
        Bytes data;
    } const cases[] = {{1, digestInfo}, {3, digest}};
    for (const Case& c : cases) {
        TokenGenerateSignatureParameters parameters{};
        parameters.signInputType = c.input;
        int rc = -1;
        const Bytes signature = sign(c.data, parameters, 2, &rc);
        ASSERT_EQ(rc, 0) << c.input;
        std::string output;
        EXPECT_TRUE(cmsVerifies(signature, &message, nullptr, &output)) << c.input << output;
    }
}

TEST_F(TokenSignature, VerifiesWhatItMadeAndKeepsTheSigningCode) {
    const Bytes message = {'v', 'e', 'r', 'i', 'f', 'y'};
    for (SignType type : {0, 2, 4, 7}) {
        TokenGenerateSignatureParameters parameters{};
        parameters.verifyAfterSigning = true;
        parameters.hashName = const_cast<char*>("sha1");
        int rc = -1;
        const Bytes signature = sign(message, parameters, type, &rc);
        EXPECT_EQ(rc, 0) << type;
        EXPECT_FALSE(signature.empty()) << type;
        EXPECT_FALSE(parameters.cmsDetached);
    }
    // A cancelled password stays 1302, with or without the verify flag, and nothing is handed
    // out.
    for (SignType type : {0, 2, 3, 4}) {
        for (bool verify : {false, true}) {
            Password cancel(keytest::kPassword);
            cancel.answer = 2;
            TokenGenerateSignatureParameters parameters{};
            parameters.verifyAfterSigning = verify;
            int rc = -1;
            const Bytes signature = sign(message, parameters, type, &rc, &cancel);
            EXPECT_EQ(rc, 1302) << type << verify;
            EXPECT_TRUE(signature.empty()) << type;
        }
    }
    // A signature that does not hold: verification is its own entry point as well.
    TokenGenerateSignatureParameters parameters{};
    int rc = -1;
    Bytes signature = sign(message, parameters, 0, &rc);
    ASSERT_EQ(rc, 0);
    Bytes copy = message;
    EXPECT_EQ(token().verifySignature(signature.data(), signature.size(), copy.data(), copy.size(),
                                      keyId_.c_str(), &parameters, 0),
              0);
    signature[10] ^= 1;
    EXPECT_NE(token().verifySignature(signature.data(), signature.size(), copy.data(), copy.size(),
                                      keyId_.c_str(), &parameters, 0),
              0);
    EXPECT_EQ(token().verifySignature(signature.data(), signature.size(), copy.data(), copy.size(),
                                      nullptr, &parameters, 0),
              -1);
    EXPECT_EQ(token().verifySignature(signature.data(), signature.size(), nullptr, 0,
                                      keyId_.c_str(), &parameters, 4),
              -1);
}

// The GPKI key signs the data itself with KCDSA (hashing it with SHA-256).
TEST_F(TokenSignature, GpkiKeySignsKcdsa) {
    const Bytes message = {'g', 'o', 'v'};
    Password password(keytest::kPassword);
    TokenGenerateSignatureParameters parameters{};
    const std::string gpkiKey = itemId(gpki_, '1');
    unsigned char* out = nullptr;
    unsigned long length = 0;
    Bytes copy = message;
    ASSERT_EQ(token().generateSignature(&out, &length, &password, copy.data(), copy.size(),
                                        gpkiKey.c_str(), gpkiKey.c_str(), &parameters, 0),
              0);
    const Bytes signature(out, out + length);
    Token::freeMemory(out, length);
    EXPECT_EQ(kcdsaVerify(signature, message), 0);
}

TEST_F(TokenSignature, TextLevelInputsAndLimit) {
    testkit::Scratch dir("sig");
    const fs::path file = dir / "a.txt";
    testkit::writeText(file, "xyz");
    Password password(keytest::kPassword);
    struct Case {
        SignInputType input;
        std::string text;
        std::string signedContent;
    } const cases[] = {{0, base64Of(std::string("plain data")), "plain data"},
                       {2, base64Of(file.string()), "xyz"},
                       {4, base64Of(file.string()), "a.txt^xyz"}};
    for (const Case& c : cases) {
        TokenGenerateSignatureParameters parameters{};
        parameters.signInputType = c.input;
        parameters.inputLimitMiB = 1;
        char* out = nullptr;
        std::string input = c.text;
        ASSERT_EQ(token().generateSignature(&out, &password, input.data(), keyId_.c_str(),
                                            certId_.c_str(), &parameters, 2),
                  0)
            << c.input;
        Bytes content;
        std::string output;
        EXPECT_TRUE(cmsVerifies(unbase64(out), nullptr, &content, &output)) << output;
        EXPECT_EQ(std::string(content.begin(), content.end()), c.signedContent) << c.input;
        Token::freeMemory(out, 0);

        // A limit of 0 refuses any non-empty input, before a password is asked.
        parameters.inputLimitMiB = 0;
        Password untouched(keytest::kPassword);
        EXPECT_EQ(token().generateSignature(&out, &untouched, input.data(), keyId_.c_str(),
                                            certId_.c_str(), &parameters, 2),
                  1029)
            << c.input;
        EXPECT_EQ(untouched.asked, 0);
        EXPECT_EQ(out, nullptr);
    }
    // Exactly the limit is accepted, one byte more refused (for a file, before it is read).
    const Bytes mib(1048576, 'm');
    testkit::writeBytes(dir / "big", mib);
    Bytes oneMore = mib;
    oneMore.push_back('m');
    testkit::writeBytes(dir / "bigger", oneMore);
    TokenGenerateSignatureParameters parameters{};
    parameters.inputLimitMiB = 1;
    parameters.signInputType = 2;
    char* out = nullptr;
    std::string path = base64Of((dir / "big").string());
    EXPECT_EQ(token().generateSignature(&out, &password, path.data(), keyId_.c_str(),
                                        certId_.c_str(), &parameters, 4),
              0);
    Token::freeMemory(out, 0);
    out = nullptr;
    path = base64Of((dir / "bigger").string());
    EXPECT_EQ(token().generateSignature(&out, &password, path.data(), keyId_.c_str(),
                                        certId_.c_str(), &parameters, 4),
              1029);
    parameters.signInputType = 0;
    std::string text = base64Of(oneMore);
    EXPECT_EQ(token().generateSignature(&out, &password, text.data(), keyId_.c_str(),
                                        certId_.c_str(), &parameters, 4),
              1029);
    // A limit whose byte count passes 32 bits is not taken for a small one.
    parameters.inputLimitMiB = 4096;
    EXPECT_EQ(token().generateSignature(&out, &password, text.data(), keyId_.c_str(),
                                        certId_.c_str(), &parameters, 0),
              0);
    Token::freeMemory(out, 0);
}

TEST_F(TokenSignature, FileOperations) {
    testkit::Scratch dir("sig");
    testkit::writeText(dir / "a.txt", "xyz");
    struct Case {
        SignInputType type;
        std::string expected;
    } const cases[] = {{2, "xyz"}, {4, "a.txt^xyz"}, {0, "a.txt^xyz"}};
    for (const Case& c : cases) {
        std::string path = base64Of((dir / "a.txt").string());
        unsigned char* out = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(token().readPlainFromFile(&out, &length, path.data(), c.type), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), c.expected);
        Token::freeMemory(out, length);
    }
    unsigned char* out = nullptr;
    unsigned long length = 0;
    std::string missing = base64Of((dir / "missing").string());
    EXPECT_EQ(token().readPlainFromFile(&out, &length, missing.data(), 2), 1340);
    EXPECT_EQ(token().readPlainFromFile(&out, &length, const_cast<char*>("*not base64*"), 2), -1);

    // The signature written as bytes (from Base64) or as its text.
    std::string target = base64Of((dir / "sig.bin").string());
    std::string signature = base64Of(Bytes{0x30, 0x03, 0x02, 0x01, 0x05});
    EXPECT_EQ(token().writeSignature(target.data(), signature.data(), false), 0);
    EXPECT_EQ(testkit::hex(testkit::readBytes(dir / "sig.bin")), "3003020105");
    EXPECT_EQ(token().writeSignature(target.data(), signature.data(), true), 0);
    EXPECT_EQ(testkit::readText(dir / "sig.bin"), signature);
    EXPECT_EQ(token().writeSignature(target.data(), const_cast<char*>("*"), false), 1341);
    EXPECT_EQ(token().writeSignature(const_cast<char*>("*"), signature.data(), false), 1341);
    // A folder without write permission refuses (not when the tests run as root).
    fs::create_directories(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0500);
    if (::geteuid() != 0) {
        std::string locked = base64Of((dir / "locked" / "s").string());
        EXPECT_EQ(token().writeSignature(locked.data(), signature.data(), false), 1343);
    }
    ::chmod((dir / "locked").c_str(), 0700);
}

}  // namespace
