// The in-memory NPKI token with real NPKI files (testkit recipe pkcs12, its kr/ holder made by
// the copy-suite recipe): listing, lookups, the password check, signatures that openssl
// recovers, the fixed answers of everything that would write, and the process-wide instance.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FileToken.h"
#include "PFXNPKIToken.h"
#include "PkiCache.h"
#include "SGBinary.h"
#include "TestKit.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kPassword = "q1w2e3r4!@";  // the key files' password

fs::path kr() {
    static const fs::path folder = testkit::cachedPki("pkcs12");
    return folder.empty() ? folder : folder / "kr";
}
Bytes file(const std::string& name) {
    return testkit::readBytes(kr() / name);
}

// An SGBinary over test bytes (the token copies them).
SGBinary view(Bytes& b) {
    return SGBinary{b.empty() ? nullptr : b.data(), static_cast<uint32_t>(b.size())};
}

std::string sha1Hex(const std::string& text) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    std::string hex = testkit::hex(digest, sizeof digest);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

class Answer : public InputPINHandler {
  public:
    explicit Answer(std::string password, int result = 0)
        : password_(std::move(password)), result_(result) {}
    int inputPIN(char* out, TokenType type, InputPINPurpose purpose) override {
        asked.push_back({type, purpose});
        if (result_ != 0) return result_;
        std::memcpy(out, password_.c_str(), password_.size() + 1);
        return 0;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }
    std::vector<std::pair<int, int>> asked;

  private:
    std::string password_;
    int result_;
};

// A token of its own (not the process-wide one) with the holder's suite under path, with or
// without its key-management pair.
struct Filled {
    PFXNPKIToken token{"test npki"};
    std::string add(const std::string& path, bool withKm) {
        Bytes sign = file("sign.der"), key = file("signPri.key");
        Bytes km = withKm ? file("km.der") : Bytes(), kmKey = withKm ? file("kmPri.key") : Bytes();
        SGBinary s = view(sign), k = view(key), m = view(km), mk = view(kmKey);
        std::string p = path;
        EXPECT_EQ(token.addCertificateAndKey(&s, &k, &m, &mk, p.data()), 0);
        return sha1Hex(path);
    }
};

Bytes certificateOf(Token& token, const std::string& id, int* rc) {
    unsigned char* der = nullptr;
    unsigned long length = 0;
    *rc = token.getCertificate(id.c_str(), &der, &length);
    Bytes out = der ? Bytes(der, der + length) : Bytes();
    Token::freeMemory(der, 0);
    return out;
}

class PFXNPKI : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(kr().empty()); }
};

}  // namespace

TEST_F(PFXNPKI, ListsOneRowPerPathInIdentifierOrder) {
    Filled f;
    const std::string a = f.add("/NPKI/yessign/USER/holder-a", true);
    const std::string b = f.add("/NPKI/yessign/USER/holder-b", false);
    ShortCertificate* rows = nullptr;
    unsigned int count = 0;
    ASSERT_EQ(f.token.getCertificateList(&rows, &count, 0, nullptr, nullptr), 0);
    ASSERT_EQ(count, 2u);
    const bool aFirst = a < b;
    const ShortCertificate& withKm = rows[aFirst ? 0 : 1];
    const ShortCertificate& signOnly = rows[aFirst ? 1 : 0];
    EXPECT_EQ(std::string(withKm.signCertID), a + "1");
    EXPECT_EQ(std::string(withKm.signKeyID), a + "2");
    EXPECT_EQ(std::string(withKm.kmCertID), a + "3");
    EXPECT_EQ(std::string(withKm.kmKeyID), a + "4");
    // Without a key-management pair its ids copy the signing ones.
    EXPECT_EQ(std::string(signOnly.signCertID), b + "1");
    EXPECT_STREQ(signOnly.kmCertID, signOnly.signCertID);
    EXPECT_STREQ(signOnly.kmKeyID, signOnly.signKeyID);
    for (unsigned int i = 0; i < count; ++i) {
        EXPECT_NE(std::string(rows[i].subject).find("홍길동()0011"), std::string::npos);
        EXPECT_EQ(rows[i].pkiType, 0);
    }
    Token::freeMemory(rows, 0);

    // The same path again keeps its first suite (the signing certificate, not this one).
    Bytes other = file("km.der"), key = file("kmPri.key"), none;
    SGBinary s = view(other), k = view(key), e1 = view(none), e2 = view(none);
    std::string path = "/NPKI/yessign/USER/holder-b";
    EXPECT_EQ(f.token.addCertificateAndKey(&s, &k, &e1, &e2, path.data()), 0);
    int rc = 0;
    EXPECT_EQ(certificateOf(f.token, b + "1", &rc), file("sign.der"));

    f.token.clearMap();
    ASSERT_EQ(f.token.getCertificateList(&rows, &count, 0, nullptr, nullptr), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(f.token.findCert((a + "1").c_str()), nullptr);
}

TEST_F(PFXNPKI, MissingArgumentsAreRefusedAndNothingIsStored) {
    Bytes sign = file("sign.der"), key = file("signPri.key"), none;
    SGBinary s = view(sign), k = view(key), e = view(none), e2 = view(none);
    std::string path = "/NPKI/yessign/USER/x";
    PFXNPKIToken token("test npki");
    const struct {
        const char* what;
        void *sign, *key, *km, *kmKey;
        char* path;
    } cases[] = {
        {"no signing certificate", nullptr, &k, &e, &e2, path.data()},
        {"no signing key", &s, nullptr, &e, &e2, path.data()},
        {"empty signing certificate", &e, &k, &e, &e2, path.data()},
        {"no key-management buffer", &s, &k, nullptr, &e2, path.data()},
        {"no key-management key buffer", &s, &k, &e, nullptr, path.data()},
        {"no path", &s, &k, &e, &e2, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(token.addCertificateAndKey(c.sign, c.key, c.km, c.kmKey, c.path), 1312) << c.what;
    }
    EXPECT_FALSE(token.addCertificateAndKey(nullptr, &token));
    EXPECT_FALSE(token.addCertificateAndKey("ABC", nullptr));
    ShortCertificate* rows = nullptr;
    unsigned int count = 7;
    EXPECT_EQ(token.getCertificateList(&rows, &count, 0, nullptr, nullptr), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rows, nullptr);
}

TEST_F(PFXNPKI, CertificatesAndPathByItemId) {
    Filled f;
    const std::string path = "/NPKI/yessign/USER/holder";
    const std::string id = f.add(path, true);
    const struct {
        char digit;
        Bytes expected;
    } cases[] = {
        {'1', file("sign.der")}, {'2', file("sign.der")},  // the signing key's id names the signing
                                                           // certificate
        {'3', file("km.der")},   {'4', file("km.der")},   {'5', {}},
    };
    for (const auto& c : cases) {
        int rc = -1;
        EXPECT_EQ(certificateOf(f.token, id + c.digit, &rc), c.expected) << c.digit;
        EXPECT_EQ(rc, 0) << c.digit;
    }
    int rc = 0;
    EXPECT_TRUE(certificateOf(f.token,
                              "0000000000000000000000000000000000000000"
                              "1",
                              &rc)
                    .empty());
    EXPECT_EQ(rc, 1309);

    unsigned char* text = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(f.token.getPath((id + "3").c_str(), &text, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), length), path);
    Token::freeMemory(text, 0);
    EXPECT_EQ(f.token.getPath("nope1", &text, &length), 1309);

    unsigned long size = 0;
    EXPECT_EQ(f.token.getKeySize(&size, nullptr, (id + "1").c_str()), 0);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(f.token.getKeySize(&size, nullptr, "nope1"), 1309);
}

TEST_F(PFXNPKI, VerifyPinTellsWhetherThePasswordOpensTheKey) {
    Filled f;
    const std::string id = f.add("/NPKI/yessign/USER/holder", true);
    const struct {
        std::string password;
        int expected;
    } cases[] = {{kPassword, 0}, {"q1w2e3r4!#", 1022}, {"", 1022}, {kPassword + "x", 1022}};
    for (auto c : cases) {
        EXPECT_EQ(f.token.verifyPin((id + "1").c_str(),
                                    reinterpret_cast<unsigned char*>(c.password.data()),
                                    c.password.size()),
                  c.expected)
            << c.password;
    }
    std::string password = kPassword;
    EXPECT_EQ(f.token.verifyPin("nope1", reinterpret_cast<unsigned char*>(password.data()),
                                password.size()),
              1309);
}

TEST_F(PFXNPKI, SignaturesOpensslRecoversAndWrongPasswords) {
    Filled f;
    const std::string id = f.add("/NPKI/yessign/USER/holder", false) + "1";
    // A SHA-256 DigestInfo of "hello".
    Bytes digestInfo = testkit::unhex(
        "3031300d060960864801650304020105000420"
        "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
    Answer right(kPassword);
    unsigned char signature[256] = {};
    unsigned long length = sizeof signature;
    ASSERT_EQ(f.token.generateSignatureRAW(signature, &length, &right, digestInfo.data(),
                                           digestInfo.size(), id.c_str(), id.c_str(), nullptr),
              0);
    ASSERT_EQ(length, 256u);
    // Asked once, by the in-memory token (9), for a private key (6).
    EXPECT_EQ(right.asked, (std::vector<std::pair<int, int>>{{9, 6}}));

    testkit::Scratch dir("npki-sig");
    testkit::writeBytes(dir / "sig.bin", Bytes(signature, signature + length));
    const std::string pub = testkit::run("openssl x509 -inform DER -noout -pubkey -in " +
                                         testkit::quote((kr() / "sign.der").string()));
    testkit::writeText(dir / "pub.pem", pub);
    const std::string recovered =
        testkit::run("openssl pkeyutl -verifyrecover -pubin -inkey " +
                     testkit::quote((dir / "pub.pem").string()) + " -in " +
                     testkit::quote((dir / "sig.bin").string()) + " 2>/dev/null");
    EXPECT_EQ(Bytes(recovered.begin(), recovered.end()), digestInfo);

    // A wrong password fails where the key opens; a cancelled one is 1302.
    Answer wrong("q1w2e3r4!#"), cancel("", 1);
    length = sizeof signature;
    EXPECT_EQ(f.token.generateSignatureRAW(signature, &length, &wrong, digestInfo.data(),
                                           digestInfo.size(), id.c_str(), id.c_str(), nullptr),
              1328);
    EXPECT_EQ(f.token.generateSignatureRAW(signature, &length, &cancel, digestInfo.data(),
                                           digestInfo.size(), id.c_str(), id.c_str(), nullptr),
              1302);
}

TEST_F(PFXNPKI, EverythingThatWouldWriteOrExportIsNotSupported) {
    Filled f;
    const std::string id = f.add("/NPKI/yessign/USER/holder", true) + "1";
    const char* item = id.c_str();
    unsigned char* out = nullptr;
    unsigned long length = 0;
    char* kmKey = nullptr;
    char* kmCert = nullptr;
    std::wstring path;
    Answer handler(kPassword);
    EXPECT_EQ(f.token.initToken(nullptr, 0, nullptr), 1306);
    EXPECT_EQ(f.token.setPIN(nullptr, 0, nullptr, 0), 1308);
    EXPECT_EQ(f.token.getTokenStatus(), 0);
    EXPECT_EQ(f.token.decrypt(&out, &length, out, 0, &handler, item, nullptr), 1307);
    EXPECT_EQ(f.token.deleteCertificate(item, &handler), 1307);
    EXPECT_EQ(f.token.importInit(nullptr, 0, &handler, InputPINHandler::PURPOSE_IMPORT), 1307);
    EXPECT_EQ(f.token.importFinal(), 1307);
    EXPECT_EQ(f.token.exportCertificateAndKey(&out, &length, &out, &length, &handler, item, item),
              1307);
    EXPECT_EQ(f.token.getKMID(&kmKey, &kmCert, item), 1307);
    EXPECT_EQ(f.token.getPhysicalBasePath(path, nullptr, 0), 1307);
    EXPECT_EQ(f.token.sizeCertificateAndKey(), 1307);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(handler.asked.empty());
    // exportPFX ends at the export: no bytes.
    EXPECT_EQ(f.token.exportPFX(&out, &length, &handler, item, item, false), 1307);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0u);

    // A copy fails after the destination's import was opened, and that import is closed again
    // with nothing written.
    testkit::Scratch scratch("npki-copy");
    FileToken disk("EMPTYVOL", "EMPTYVOL");
    disk.setPKIDir(scratch.str());
    Answer storage(kPassword);
    EXPECT_EQ(f.token.copyCertificate(item, &storage, &disk, 0), 1307);
    EXPECT_EQ(storage.asked, (std::vector<std::pair<int, int>>{{3, 11}}));
    EXPECT_EQ(disk.importPIN[0], '\0');  // the destination's importFinal wiped its password
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

TEST(PFXNPKIInstance, OneInstanceForEveryThreadAndItsKind) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        std::vector<std::thread> threads;
        std::vector<PFXNPKIToken*> seen(8, nullptr);
        std::atomic<bool> go{false};
        for (size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&, i] {
                while (!go) std::this_thread::yield();
                seen[i] = PFXNPKIToken::getInstance();
            });
        go = true;
        for (auto& t : threads) t.join();
        const std::set<PFXNPKIToken*> distinct(seen.begin(), seen.end());
        checks.expect(distinct.size() == 1 && *distinct.begin() != nullptr, "one instance");
        PFXNPKIToken* token = PFXNPKIToken::getInstance();
        checks.expect(std::string(token->kind) == "PFX NPKI", "kind");
        checks.expect(std::string(token->name) == "pfx npki", "name");
        return checks.failures;
    });
}
