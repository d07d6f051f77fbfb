#include "Token.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "Clock.h"
#include "Logger.h"
#include "SGMemory.h"
#include "TokenLocalKeyStorage.h"
#include "TokenTestSupport.h"

using namespace tokentest;

namespace {

// A token whose own operations answer 4200 + their position in the table of virtual functions,
// so a call through a raw table entry shows which operation it reached.
class TestToken final : public Token {
  public:
    explicit TestToken(bool* destroyed = nullptr, const char* name = "test",
                       const char* kind = "TEST TOKEN")
        : Token(name, kind, InputPINHandler::TOKEN_TYPE_DISK), destroyed_(destroyed) {}
    ~TestToken() override {
        if (destroyed_) *destroyed_ = true;
    }

    int initToken(unsigned char*, unsigned long, unsigned char*) override { return 4202; }
    int setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) override {
        return 4203;
    }
    int setCertificatePIN(const char*, unsigned char*, unsigned long, unsigned char*,
                          unsigned long) override {
        return 4204;
    }
    int verifyPin(const char*, unsigned char*, unsigned long) override { return 4205; }
    int finalizeToken() override { return 4206; }
    int getTokenGrade() override { return 4208; }
    int getTokenStatus() override { return 4209; }
    int getCertificateList(ShortCertificate**, unsigned int*, int, InputPINHandler*,
                           const char*) override {
        return 4210;
    }
    using Token::getCertificate;
    int getCertificate(const char*, unsigned char** der, unsigned long* length) override {
        return handOut("hello", der, length);
    }
    using Token::getPrivateKey;
    int getPrivateKey(const char*, unsigned char** key, unsigned long* length,
                      InputPINHandler*) override {
        return handOut("secret key bytes", key, length);
    }
    using Token::getPath;
    int getPath(const char*, unsigned char** path, unsigned long* length) override {
        return handOut("/Library/Preferences/NPKI/yessign/USER/cn=x", path, length);
    }
    int deleteCertificate(const char*, InputPINHandler*) override { return 4216; }
    int changeCertificatePIN(const char*, InputPINHandler*) override { return 4218; }
    int importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      InputPINHandler*) override {
        return 4220;
    }
    int importInit(unsigned char*, unsigned long, InputPINHandler*,
                   InputPINHandler::InputPINPurpose) override {
        return importInitResult;
    }
    using Token::import;
    int import(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned char*,
               unsigned long, unsigned char*, unsigned long, unsigned int, const bool&) override {
        return 4225;
    }
    int importCAPubs(unsigned char*, unsigned long) override { return 4226; }
    int importFinal() override { return 4227; }
    int setTokenOptions(void*) override { return 4228; }
    int getVIDRandom(unsigned char**, unsigned long*, InputPINHandler*, const char*) override {
        return 4230;
    }
    int getKMID(char**, char**, const char*) override { return 4231; }
    int certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                               unsigned long) override {
        return 4233;
    }
    int generateSignatureRAW(unsigned char*, unsigned long*, InputPINHandler*, unsigned char*,
                             unsigned long, const char*, const char*,
                             TokenGenerateSignatureParameters*) override {
        return 4237;
    }

    bool isImporting() const { return importing; }
    TokenLocalKeyStorage* storage() { return localKeyStorage; }

    int importInitResult = 0;
    bool failHandOut = false;

  private:
    int handOut(const char* text, unsigned char** out, unsigned long* length) {
        if (failHandOut) return 1309;
        const auto n = static_cast<unsigned int>(std::strlen(text));
        *out = duplicateMemory(reinterpret_cast<unsigned char*>(const_cast<char*>(text)), n);
        *length = n;
        return 0;
    }

    bool* destroyed_;
};

// The position in the table of virtual functions that a pointer to a virtual member holds
// (the Itanium C++ ABI stores 1 + the byte offset of the entry).
template <typename Member>
long slotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(void*));
    struct {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    } representation;
    std::memcpy(&representation, &member, sizeof representation);
    if ((representation.pointer & 1) == 0) return -1;  // not virtual
    return static_cast<long>((representation.pointer - 1) / sizeof(void*));
}

unsigned char* bytes(const char* text) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(text));
}

}  // namespace

TEST(TokenInterface, VirtualOperationsKeepTheirPositions) {
    using KeyIdImport = int (Token::*)(char*, unsigned char*, unsigned long, unsigned char*,
                                       unsigned long, const bool&);
    using PairImport =
        int (Token::*)(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned char*,
                       unsigned long, unsigned char*, unsigned long, unsigned int, const bool&);
    using GetCertificate = int (Token::*)(const char*, unsigned char**, unsigned long*);
    using GetPrivateKey =
        int (Token::*)(const char*, unsigned char**, unsigned long*, InputPINHandler*);
    using GetPath = int (Token::*)(const char*, unsigned char**, unsigned long*);
    using GenerateKeyPair = int (Token::*)(char**, unsigned char**, unsigned long*,
                                           InputPINHandler*, TokenGenerateKeyPairParameters*);
    using PushCertificate = int (Token::*)(InputPINHandler*, const char*, const unsigned char*,
                                           unsigned long, const unsigned char*, unsigned long);
    using ImportEncrypted =
        int (Token::*)(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned char*,
                       unsigned long, unsigned char*, unsigned long, InputPINHandler*);
    // Entries 0 and 1 are the two destructors.
    const struct {
        const char* name;
        long slot;
    } operations[] = {
        {"initToken", slotOf(&Token::initToken)},
        {"setPIN", slotOf(&Token::setPIN)},
        {"setCertificatePIN", slotOf(&Token::setCertificatePIN)},
        {"verifyPin", slotOf(&Token::verifyPin)},
        {"finalizeToken", slotOf(&Token::finalizeToken)},
        {"generateKeyPair", slotOf(static_cast<GenerateKeyPair>(&Token::generateKeyPair))},
        {"getTokenGrade", slotOf(&Token::getTokenGrade)},
        {"getTokenStatus", slotOf(&Token::getTokenStatus)},
        {"getCertificateList", slotOf(&Token::getCertificateList)},
        {"getCertificate", slotOf(static_cast<GetCertificate>(&Token::getCertificate))},
        {"getPrivateKey", slotOf(static_cast<GetPrivateKey>(&Token::getPrivateKey))},
        {"getPath", slotOf(static_cast<GetPath>(&Token::getPath))},
        {"decrypt", slotOf(&Token::decrypt)},
        {"pushCertificate", slotOf(static_cast<PushCertificate>(&Token::pushCertificate))},
        {"deleteCertificate", slotOf(&Token::deleteCertificate)},
        {"copyCertificate", slotOf(&Token::copyCertificate)},
        {"changeCertificatePIN", slotOf(&Token::changeCertificatePIN)},
        {"exportCertificateAndEncryptPrivateKey",
         slotOf(&Token::exportCertificateAndEncryptPrivateKey)},
        {"importEncryptedPrivateKeyInfo",
         slotOf(static_cast<ImportEncrypted>(&Token::importEncryptedPrivateKeyInfo))},
        {"importInit", slotOf(&Token::importInit)},
        {"getPhysicalBasePath", slotOf(&Token::getPhysicalBasePath)},
        {"checkNPKI", slotOf(&Token::checkNPKI)},
        {"import (key id)", slotOf(static_cast<KeyIdImport>(&Token::import))},
        {"import (pair)", slotOf(static_cast<PairImport>(&Token::import))},
        {"importCAPubs", slotOf(&Token::importCAPubs)},
        {"importFinal", slotOf(&Token::importFinal)},
        {"setTokenOptions", slotOf(&Token::setTokenOptions)},
        {"exportCertificateAndKey", slotOf(&Token::exportCertificateAndKey)},
        {"getVIDRandom", slotOf(&Token::getVIDRandom)},
        {"getKMID", slotOf(&Token::getKMID)},
        {"getNPKIRoot", slotOf(&Token::getNPKIRoot)},
        {"certificateSynchronize", slotOf(&Token::certificateSynchronize)},
        {"enableToken", slotOf(&Token::enableToken)},
        {"accessCert", slotOf(&Token::accessCert)},
        {"getKeySize", slotOf(&Token::getKeySize)},
        {"generateSignatureRAW", slotOf(&Token::generateSignatureRAW)},
    };
    ASSERT_EQ(std::size(operations), 36u);
    for (size_t i = 0; i < std::size(operations); ++i)
        EXPECT_EQ(operations[i].slot, static_cast<long>(i) + 2) << operations[i].name;
    // The non-virtual text forms stay out of the table.
    EXPECT_EQ(slotOf(static_cast<int (Token::*)(const char*, char**)>(&Token::getCertificate)), -1);
}

TEST(TokenInterface, RawTableEntriesReachTheKindsOperations) {
    bool destroyed = false;
    Token* token = new TestToken(&destroyed);
    void** table = *reinterpret_cast<void***>(token);
    auto initToken =
        reinterpret_cast<int (*)(Token*, unsigned char*, unsigned long, unsigned char*)>(table[2]);
    EXPECT_EQ(initToken(token, nullptr, 0, nullptr), 4202);
    auto getTokenStatus = reinterpret_cast<int (*)(Token*)>(table[9]);
    EXPECT_EQ(getTokenStatus(token), 4209);
    auto importCAPubs = reinterpret_cast<int (*)(Token*, unsigned char*, unsigned long)>(table[26]);
    EXPECT_EQ(importCAPubs(token, nullptr, 0), 4226);
    auto signRaw = reinterpret_cast<int (*)(
        Token*, unsigned char*, unsigned long*, InputPINHandler*, unsigned char*, unsigned long,
        const char*, const char*, TokenGenerateSignatureParameters*)>(table[37]);
    EXPECT_EQ(signRaw(token, nullptr, nullptr, nullptr, nullptr, 0, "", "", nullptr), 4237);
    // Entry 1 destroys and frees the object.
    auto deleting = reinterpret_cast<void (*)(Token*)>(table[1]);
    deleting(token);
    EXPECT_TRUE(destroyed);
}

TEST(TokenInterface, ConstructionKeepsNameAndKind) {
    const std::string longName(300, 'n');
    TestToken token(nullptr, longName.c_str(), "DISK DRIVE");
    EXPECT_EQ(std::string(token.name), longName.substr(0, 255));
    EXPECT_STREQ(token.kind, "DISK DRIVE");
    TestToken unnamed(nullptr, nullptr, nullptr);
    EXPECT_STREQ(unnamed.name, "");
}

TEST(TokenBase, CheckPIN) {
    const struct {
        const char* pin;
        int expected;
    } cases[] = {
        {"", 1026},
        {"abc", 1026},
        {"123", 1027},
        {"ab 12", 0},
        {"a  b  c", 1025},
        {"AAaa12", 1024},
        {"aaaa1111", 1024},
        {"1111bbbb", 1023},
        {"zzzZ9", 1024},
        {"a1b2c3d4", 0},
        {"ab\t\n 12", 1025},
        {"12 34 ", 1027},
        {"\xEA\xB0\x80"
         "1",
         0},
    };
    TestToken token;
    for (const auto& c : cases)
        EXPECT_EQ(token.checkPIN(bytes(c.pin), std::strlen(c.pin)), c.expected) << c.pin;
    EXPECT_EQ(token.checkPIN(nullptr, 5), 1026);
}

TEST(TokenBase, MemoryOperations) {
    unsigned char* p = Token::allocMemory(16);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
    Token::freeMemory(p, 16);
    Token::freeMemory(nullptr, 16);  // nothing happens
    unsigned char* copy = Token::duplicateMemory(bytes("abc"), 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, "abc", 3), 0);
    Token::freeMemory(copy, 0);
    EXPECT_EQ(Token::duplicateMemory(nullptr, 3), nullptr);
}

TEST(TokenBase, ErrorSlotAndLastErrorMessage) {
    TestToken token;
    int code = -1;
    const char* message = nullptr;
    token.getError(&code, &message);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(message, "");
    const std::string longText(2000, 'e');
    token.setError(1309, longText.c_str());
    token.getError(&code, &message);
    EXPECT_EQ(code, 1309);
    EXPECT_EQ(std::string(message), longText.substr(0, 1023));
    token.clearError();
    token.getError(&code, &message);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(message, "");

    char* text = reinterpret_cast<char*>(0x1);
    token.getLastTokenErrorMessage(&text);
    EXPECT_EQ(text, nullptr);  // nothing stored: the output is still set
    char x[] = "x";
    token.setLastTokenErrorMessage(x);
    token.getLastTokenErrorMessage(&text);
    EXPECT_STREQ(text, "x");
    Token::freeMemory(text, 0);
    token.getLastTokenErrorMessage(&text);
    EXPECT_STREQ(text, "");
    Token::freeMemory(text, 0);
    token.setRequirePINWhenInitToken();
}

TEST(TokenBase, TextFormsOfBytesAndPaths) {
    TestToken token;
    char* text = nullptr;
    ASSERT_EQ(token.getCertificate("ID1", &text), 0);
    EXPECT_STREQ(text, "aGVsbG8=");
    Token::freeMemory(text, 0);
    ASSERT_EQ(token.getPrivateKey("ID2", &text, nullptr), 0);
    EXPECT_STREQ(text, "c2VjcmV0IGtleSBieXRlcw==");
    Token::freeMemory(text, std::strlen(text));
    ASSERT_EQ(token.getPath("ID1", &text), 0);
    EXPECT_STREQ(text, "/Library/Preferences/NPKI/yessign/USER/cn=x");
    Token::freeMemory(text, 0);

    token.failHandOut = true;
    text = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(token.getCertificate("ID1", &text), 1309);
    EXPECT_EQ(text, nullptr);
    text = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(token.getPath("ID1", &text), 1309);
    EXPECT_EQ(text, nullptr);
}

TEST(TokenBase, ImportIsGuardedAgainstNesting) {
    TestToken token;
    EXPECT_EQ(token.Token::importFinal(), 1330);
    EXPECT_EQ(token.Token::importInit(nullptr, 0, nullptr, InputPINHandler::PURPOSE_IMPORT), 0);
    EXPECT_TRUE(token.isImporting());
    EXPECT_EQ(token.Token::importInit(nullptr, 0, nullptr, InputPINHandler::PURPOSE_IMPORT), 1329);
    EXPECT_EQ(token.Token::importFinal(), 4227);  // the kind's own importFinal
    EXPECT_FALSE(token.isImporting());
    EXPECT_EQ(token.Token::importFinal(), 1330);
    // An import that did not start leaves none open.
    token.importInitResult = 1305;
    EXPECT_EQ(token.Token::importInit(nullptr, 0, nullptr, InputPINHandler::PURPOSE_IMPORT), 1305);
    EXPECT_FALSE(token.isImporting());
    // The virtual calls go straight to the kind and leave the guard alone.
    EXPECT_EQ(token.importFinal(), 4227);
}

TEST(TokenBase, OperationsTheBaseAnswersItself) {
    TestToken token;
    std::wstring path = L"unchanged";
    EXPECT_EQ(token.getPhysicalBasePath(path, nullptr, 0), -1);
    EXPECT_TRUE(token.checkNPKI("x1"));
    EXPECT_EQ(token.getNPKIRoot(), nullptr);
    EXPECT_EQ(token.enableToken("yessign"), 0);
    EXPECT_EQ(token.accessCert("x1"), 0);
    EXPECT_EQ(token.pushCertificate(nullptr, "x1", nullptr, 0, nullptr, 0), 1307);
    EXPECT_EQ(token.copyCertificate("x1", nullptr, &token, 0), 1307);

    auto* garbage = reinterpret_cast<unsigned char*>(0x1);
    unsigned char* key = garbage;
    unsigned char* cert = garbage;
    unsigned long keyLength = 9, certLength = 9;
    EXPECT_EQ(
        token.exportCertificateAndKey(&key, &keyLength, &cert, &certLength, nullptr, "x1", "x2"),
        1307);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(cert, nullptr);
    key = cert = garbage;
    EXPECT_EQ(token.exportCertificateAndEncryptPrivateKey(&key, &keyLength, &cert, &certLength,
                                                          "x1", "x2", nullptr),
              1307);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(certLength, 0u);

    unsigned char* out = garbage;
    unsigned long outLength = 9;
    EXPECT_EQ(token.decrypt(&out, &outLength, nullptr, 0, nullptr, "unknown", nullptr), 1300);
    EXPECT_EQ(out, nullptr);
    unsigned long size = 9;
    EXPECT_EQ(token.getKeySize(&size, nullptr, "unknown"), 1310);
    EXPECT_EQ(size, 0u);
    char keyId[] = "unknown";
    EXPECT_EQ(token.import(keyId, nullptr, 0, nullptr, 0, false), 1310);
}

TEST(TokenLocalKeyStorage, KeepsCopiesUnderRandomIds) {
    TestToken token;
    TokenLocalKeyStorage* storage = token.storage();
    ASSERT_NE(storage, nullptr);
    unsigned char publicKey[] = {1, 2, 3};
    unsigned char privateKey[] = {4, 5, 6, 7};
    const std::string first = storage->add(publicKey, 3, privateKey, 4);
    const std::string second = storage->add(publicKey, 3, privateKey, 4);
    for (const std::string& id : {first, second}) {
        ASSERT_EQ(id.size(), 40u);
        for (char c : id) EXPECT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F')) << id;
    }
    EXPECT_NE(first, second);
    privateKey[0] = 0;  // the storage holds its own copy
    LocalKeySet* set = storage->get(first);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->privateKey.length, 4u);
    EXPECT_EQ(set->privateKey.data[0], 4);
    EXPECT_EQ(set->publicKey.length, 3u);
    storage->del(first);
    EXPECT_EQ(storage->get(first), nullptr);
    storage->del(first);
    EXPECT_EQ(storage->get("missing"), nullptr);
    EXPECT_EQ(storage->add(nullptr, 0, privateKey, 4), "");
    // The second pair is released (wiped) with the token.
}

namespace {

// "notBefore=Jan 15 12:00:00 2024 GMT" as the local "%Y%m%d%H%M%S" text.
std::string localDate(const std::string& line) {
    std::tm t{};
    if (!::strptime(line.substr(line.find('=') + 1).c_str(), "%b %d %H:%M:%S %Y", &t)) return {};
    const time_t when = ::timegm(&t);
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

}  // namespace

TEST(TokenBase, ShortCertificateFromOpensslCertificates) {
    const std::string folder = freshFolder("short");
    writeText(folder + "/policy.cnf",
              "[req]\ndistinguished_name = dn\n[dn]\n"
              "[ext]\ncertificatePolicies = @policy\n"
              "keyUsage = critical, digitalSignature, nonRepudiation\n"
              "[policy]\npolicyIdentifier = 1.2.410.200004.5.2.1.2\n"
              "CPS.1 = \"http://www.yessign.or.kr/cps.htm\"\nuserNotice.1 = @notice\n"
              "[notice]\nexplicitText = \"UTF8:이 인증서는 개인범용입니다\"\n");
    const auto sign = makeCertificate(folder, "/C=KR/O=yessign/OU=personal4IB/CN=홍길동()0012345",
                                      "-utf8 -config '" + folder +
                                          "/policy.cnf' -extensions ext "
                                          "-set_serial 0x0123ABCD");
    ASSERT_FALSE(sign.empty());
    const std::string der = folder + "/cert.der";
    const std::string start = run("openssl x509 -inform DER -in '" + der + "' -noout -startdate");
    const std::string end = run("openssl x509 -inform DER -in '" + der + "' -noout -enddate");

    TestToken token;
    ShortCertificate row{};
    const std::vector<unsigned char> junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    // An undecodable key-management certificate changes nothing.
    ASSERT_EQ(token.generateShortCertificateFromBinary(
                  &row, const_cast<unsigned char*>(sign.data()), sign.size(),
                  const_cast<unsigned char*>(junk.data()), junk.size()),
              0);
    EXPECT_STREQ(row.subject, "CN=홍길동()0012345, OU=personal4IB, O=yessign, C=KR");
    EXPECT_STREQ(row.serialNumber, "0123ABCD");
    EXPECT_EQ(std::string(row.validFrom), localDate(start));
    EXPECT_EQ(std::string(row.validTo), localDate(end));
    EXPECT_EQ(std::string(row.policyID), "1.2.410.200004.5.2.1.2,\n");
    EXPECT_EQ(std::string(row.policyUserNotice), "이 인증서는 개인범용입니다\n");
    EXPECT_STREQ(row.signCertID, "");  // the ids are the caller's

    // Without policies the two policy fields stay empty.
    const auto plain = makeCertificate(freshFolder("short"), "/C=KR/O=yessign/CN=plain");
    ASSERT_FALSE(plain.empty());
    ShortCertificate bare{};
    token.generateShortCertificateFromBinary(&bare, const_cast<unsigned char*>(plain.data()),
                                             plain.size(), nullptr, 0);
    EXPECT_STREQ(bare.subject, "CN=plain, O=yessign, C=KR");
    EXPECT_STREQ(bare.policyID, "");
    EXPECT_STREQ(bare.policyUserNotice, "");

    ShortCertificate untouched{};
    EXPECT_EQ(token.generateShortCertificateFromBinary(
                  &untouched, const_cast<unsigned char*>(junk.data()), junk.size(),
                  const_cast<unsigned char*>(sign.data()), sign.size()),
              1312);
    EXPECT_STREQ(untouched.subject, "");
    EXPECT_EQ(token.generateShortCertificateFromBinary(&untouched, nullptr, 0, nullptr, 0), 1312);
}

TEST(TokenBase, DebugLinesOfTokensFollowTheMarkerFile) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const std::string home = freshFolder("tokenlog");
        fs::create_directories(home + "/Library/Ostrelworks");
        writeText(home + "/Library/Ostrelworks/Brindlow.TovelCake", "");
        ::setenv("HOME", home.c_str(), 1);
        { TestToken token(nullptr, "home", "DISK DRIVE"); }
        std::string text;
        std::error_code ec;
        for (const auto& month :
             fs::directory_iterator(home + "/Library/Ostrelworks/TovelToken/log", ec))
            for (const auto& file : fs::directory_iterator(month.path()))
                text += readText(file.path());
        c.expect(text.find("Token is created(home-DISK DRIVE)") != std::string::npos, "created");
        c.expect(text.find("Token is going down(home-DISK DRIVE)") != std::string::npos, "down");
        return c.failures;
    });
}
