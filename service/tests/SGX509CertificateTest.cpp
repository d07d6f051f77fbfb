#include "SGX509Certificate.h"

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Certificate.h"
#include "SGASN1C.h"
#include "SGDSKey.h"
#include "SGMemory.h"
#include "SGServiceTable.h"
#include "SGX509Extension.h"
#include "SGX520Name.h"
#include "ServiceTestUtil.h"
#include "X509Fixtures.h"
#include "X509TestUtil.h"

namespace {

namespace fs = std::filesystem;
using x509test::Bytes;
using x509test::fixtures;
using x509test::GuardedBuffer;
using x509test::hexText;
using x509test::readText;

// Every certificate of the fixture set that decodes.
const char* const kFixtures[] = {"root",       "root_aki",    "sub_ca",   "ee_full",
                                 "ee_more",    "ee_dns",      "ee_many",  "ee_v1",
                                 "ee_gentime", "ee_future",   "ee_multi", "ee_escapes",
                                 "ee_bmp",     "ee_longname", "ee_attrs", "ee_ec"};

Bytes fileBytes(const std::string& name) {
    return servicetest::readFile(fixtures() / name);
}

// A decoded certificate, cleared at the end of the scope.
struct Cert {
    SGX509Certificate handle{};
    int result = 0;
    explicit Cert(const Bytes& der) {
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        result = SGX509Certificate_FromBinary(&handle, &in);
    }
    explicit Cert(const char* fixture) : Cert(fileBytes(std::string(fixture) + ".der")) {}
    ~Cert() {
        if (handle.certificate) SGX509Certificate_Clear(&handle);
    }
    struct Entry {
        int result;
        std::string text;
    };
    Entry entry(int id, int flags = 0, size_t size = 8192) const {
        GuardedBuffer buffer(size);
        Entry e;
        e.result = SGX509Certificate_GetEntry(&handle, buffer.data(), static_cast<unsigned>(size),
                                              id, flags);
        EXPECT_TRUE(buffer.guardsIntact()) << "entry " << id << " size " << size;
        e.text = buffer.text();
        return e;
    }
    std::string text(int id, int flags = 0) const {
        Entry e = entry(id, flags);
        EXPECT_EQ(e.result, 0) << "entry " << id;
        return e.text;
    }
};

// Local time is pinned to Korea (UTC+9, no daylight saving) for the date texts.
class X509Certificate : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
    void SetUp() override {
        ASSERT_FALSE(fixtures().empty());
        const char* tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) oldTz_ = tz;
        setenv("TZ", "KST-9", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool hadTz_ = false;
    std::string oldTz_;
};

// --- What openssl reports -------------------------------------------------------------------

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

size_t indentOf(const std::string& line) {
    return line.find_first_not_of(' ');
}

// The value of "key=" in the .ref file.
std::string refValue(const std::string& fixture, const std::string& key) {
    for (const std::string& line : lines(readText(fixtures() / (fixture + ".ref"))))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    ADD_FAILURE() << key << " not in " << fixture << ".ref";
    return std::string();
}

// The lines below the first line that contains the header and that are indented deeper.
std::vector<std::string> block(const std::string& fixture, const std::string& header) {
    std::vector<std::string> all = lines(readText(fixtures() / (fixture + ".txt"))), out;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].find(header) == std::string::npos) continue;
        for (size_t j = i + 1; j < all.size() && indentOf(all[j]) > indentOf(all[i]); ++j)
            out.push_back(trim(all[j]));
        break;
    }
    return out;
}

bool hasLine(const std::string& fixture, const std::string& header) {
    return readText(fixtures() / (fixture + ".txt")).find(header) != std::string::npos;
}

std::string hexDigits(const std::string& colonHex) {
    std::string out;
    for (char c : colonHex)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// "Mar  1 00:00:00 2024 GMT" as the library's local-time text.
std::string localText(const std::string& opensslDate) {
    struct tm tm {};
    EXPECT_NE(strptime(opensslDate.c_str(), "%b %d %H:%M:%S %Y GMT", &tm), nullptr) << opensslDate;
    time_t t = timegm(&tm);
    struct tm local {};
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

// A distinguished-name text split into RDNs of (name, value) pairs, escapes removed, the values
// of each RDN sorted (openssl lists a multi-valued RDN the other way round).
using Dn = std::vector<std::vector<std::pair<std::string, std::string>>>;

Dn splitDn(const std::string& text, char rdnSeparator, bool rfc2253) {
    Dn out(1);
    std::string current;
    auto endValue = [&] {
        size_t eq = current.find('=');
        std::string name = current.substr(0, eq),
                    value = eq == std::string::npos ? "" : current.substr(eq + 1);
        if (rfc2253) {
            static const std::map<std::string, std::string> names = {
                {"ST", "S/ST"},        {"title", "T/TITLE"},      {"GN", "G/GIVENNAME"},
                {"emailAddress", "E"}, {"pseudonym", "-"},        {"serialNumber", "-"},
                {"street", "STREET"},  {"initials", "I/INITIALS"}};
            auto it = names.find(name);
            if (it != names.end()) name = it->second;
        }
        out.back().emplace_back(trim(name), value);
        current.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            // Keep the escape until the name/value split; then drop it.
            current += '\x01';
            current += text[++i];
        } else if (c == '+') {
            endValue();
        } else if (c == rdnSeparator) {
            endValue();
            out.emplace_back();
            if (!rfc2253 && i + 1 < text.size() && text[i + 1] == ' ') ++i;
        } else {
            current += c;
        }
    }
    endValue();
    for (auto& rdn : out) {
        for (auto& [name, value] : rdn)
            value.erase(std::remove(value.begin(), value.end(), '\x01'), value.end());
        std::sort(rdn.begin(), rdn.end());
    }
    return out;
}

std::string opensslAlgorithmName(const std::string& opensslName) {
    if (opensslName == "rsaEncryption") return "RSA Encryption";
    if (opensslName == "sha1WithRSAEncryption") return "SHA1 With RSA Encryption";
    if (opensslName == "sha256WithRSAEncryption") return "SHA256 With RSA Encryption";
    return std::string();
}

std::string firstLineValue(const std::string& fixture, const std::string& prefix) {
    for (const std::string& line : lines(readText(fixtures() / (fixture + ".txt"))))
        if (trim(line).rfind(prefix, 0) == 0) return trim(trim(line).substr(prefix.size()));
    return std::string();
}

std::string signatureHex(const std::string& fixture) {
    std::string hex;
    for (const std::string& line : block(fixture, "    Signature Value:")) hex += hexDigits(line);
    return hex;
}

// "/C=KR/O=Test/CN=x" (openssl's one-line form) as the library's text.
std::string slashDnText(const std::string& slashed) {
    std::vector<std::string> parts;
    std::stringstream in(slashed.substr(1));
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    std::string out;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) out += (out.empty() ? "" : ", ") + *it;
    return out;
}

// --- Every entry against openssl -----------------------------------------------------------

TEST_F(X509Certificate, EveryFixtureReadsAsOpensslReportsIt) {
    for (const char* fixture : kFixtures) {
        SCOPED_TRACE(fixture);
        const Bytes der = fileBytes(std::string(fixture) + ".der");
        Cert cert(der);
        ASSERT_EQ(cert.result, 0);

        // The DER goes back out unchanged.
        SGBinary out{};
        ASSERT_EQ(SGX509Certificate_ToBinary(&out, &cert.handle), 0);
        EXPECT_EQ(Bytes(out.data, out.data + out.length), der);
        SGBinary_Reset(&out);

        // Version: openssl's "3 (0x2)" is the INTEGER 2; without the field it says 1 (0x0).
        const std::string version = firstLineValue(fixture, "Version:");
        const std::string raw = version.substr(version.find("(0x") + 3, 1);
        EXPECT_EQ(cert.text(SG_X509_ENTRY_VERSION), raw == "0" ? "1" : raw);

        // Serial: the content bytes, so a leading zero byte stays.
        std::string serial = cert.text(SG_X509_ENTRY_SERIAL_NUMBER);
        const std::string opensslSerial = refValue(fixture, "serial");
        if (serial.size() == opensslSerial.size() + 2 && serial.rfind("00", 0) == 0)
            serial.erase(0, 2);
        EXPECT_EQ(serial, opensslSerial);

        EXPECT_EQ(cert.text(SG_X509_ENTRY_NOT_BEFORE), localText(refValue(fixture, "notBefore")));
        EXPECT_EQ(cert.text(SG_X509_ENTRY_NOT_AFTER), localText(refValue(fixture, "notAfter")));

        EXPECT_EQ(
            splitDn(cert.text(SG_X509_ENTRY_SUBJECT, SG_X509_FLAG_COMPACT_SEPARATOR), ',', false),
            splitDn(refValue(fixture, "subject"), ',', true));
        EXPECT_EQ(splitDn(cert.text(SG_X509_ENTRY_ISSUER), ',', false),
                  splitDn(refValue(fixture, "issuer"), ',', true));

        // Algorithm names: the three the library names; the others have none.
        const std::string signatureName =
            opensslAlgorithmName(firstLineValue(fixture, "Signature Algorithm:"));
        for (int id : {SG_X509_ENTRY_SIGNATURE, SG_X509_ENTRY_SIGNATURE_ALGORITHM}) {
            Cert::Entry e = cert.entry(id);
            EXPECT_EQ(e.result, signatureName.empty() ? SG_X509_ERR_UNKNOWN_NAME : 0) << id;
            EXPECT_EQ(e.text, signatureName) << id;
        }
        const std::string keyName =
            opensslAlgorithmName(firstLineValue(fixture, "Public Key Algorithm:"));
        Cert::Entry keyAlgorithm = cert.entry(SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM);
        EXPECT_EQ(keyAlgorithm.result, keyName.empty() ? SG_X509_ERR_UNKNOWN_NAME : 0);
        EXPECT_EQ(keyAlgorithm.text, keyName);

        // The key bits end the SubjectPublicKeyInfo that openssl writes.
        const std::string spki = hexText(fileBytes(std::string(fixture) + ".spki"));
        const std::string key = cert.text(SG_X509_ENTRY_PUBLIC_KEY);
        ASSERT_GT(key.size(), 0u);
        EXPECT_EQ(spki.substr(spki.size() - key.size()), key);
        EXPECT_EQ(cert.text(SG_X509_ENTRY_SIGNATURE_VALUE), signatureHex(fixture));

        // Extensions that openssl shows.
        if (hasLine(fixture, "X509v3 Subject Key Identifier:")) {
            EXPECT_EQ(cert.text(15),
                      hexDigits(block(fixture, "X509v3 Subject Key Identifier:")[0]));
        }
        if (hasLine(fixture, "X509v3 Basic Constraints:")) {
            std::string bc = block(fixture, "X509v3 Basic Constraints:")[0], expected;
            if (bc.rfind("CA:TRUE", 0) == 0) expected = "cA=true,";
            if (bc.find("pathlen:") != std::string::npos)
                expected += "pathLengthConstraints=" + bc.substr(bc.find("pathlen:") + 8);
            EXPECT_EQ(cert.text(14), expected);
        }
        if (hasLine(fixture, "X509v3 Key Usage:")) {
            static const std::map<std::string, std::string> names = {
                {"Digital Signature", "digitalSignature,"},
                {"Non Repudiation", "nonRepudiation,"},
                {"Key Encipherment", "keyEncipherment,"},
                {"Data Encipherment", "dataEncipherment,"},
                {"Key Agreement", "keyAgreement,"},
                {"Certificate Sign", "keyCertSign,"},
                {"CRL Sign", "cRLSign,"},
                {"Encipher Only", "encipherOnly,"},
                {"Decipher Only", "decipherOnly,"}};
            std::string expected;
            std::stringstream in(block(fixture, "X509v3 Key Usage:")[0]);
            for (std::string usage; std::getline(in, usage, ',');)
                expected += names.at(trim(usage));
            EXPECT_EQ(cert.text(22), expected);
        }
        if (hasLine(fixture, "Authority Information Access:")) {
            std::string expected;
            for (const std::string& line : block(fixture, "Authority Information Access:")) {
                std::string method = line.rfind("CA Issuers", 0) == 0 ? "CAIssuers:" : "OCSP:";
                std::string location = line.substr(line.find(" - ") + 3);
                expected +=
                    method + (location.rfind("URI:", 0) == 0 ? location.substr(4)
                                                             : slashDnText(location.substr(8)));
            }
            EXPECT_EQ(cert.text(20), expected);
        }
        if (hasLine(fixture, "X509v3 Authority Key Identifier:")) {
            std::string expected;
            for (const std::string& line : block(fixture, "X509v3 Authority Key Identifier:")) {
                if (line.rfind("DirName:", 0) == 0)
                    expected += "CertIssuer(" + slashDnText(line.substr(8)) + "), ";
                else if (line.rfind("serial:", 0) == 0)
                    expected += "CertIssuer(" + hexDigits(line.substr(7)) + ")";
                else
                    expected += "KeyIdentifier(" +
                                hexDigits(line.substr(line.rfind("keyid:", 0) == 0 ? 6 : 0)) +
                                "), ";
            }
            EXPECT_EQ(cert.text(13), expected);
        }
        if (hasLine(fixture, "X509v3 CRL Distribution Points:")) {
            const std::string dps = cert.text(19);
            for (const std::string& line : block(fixture, "X509v3 CRL Distribution Points:")) {
                if (line.rfind("URI:", 0) == 0) {
                    EXPECT_NE(dps.find("dp:" + line.substr(4)), std::string::npos) << line;
                }
            }
        }
        if (hasLine(fixture, "X509v3 Certificate Policies:")) {
            const std::string policies = cert.text(16);
            for (const std::string& line : block(fixture, "X509v3 Certificate Policies:")) {
                if (line.rfind("Policy: ", 0) == 0) {
                    EXPECT_NE(policies.find(line.substr(8) + ","), std::string::npos);
                }
                if (line.rfind("CPS: ", 0) == 0) {
                    EXPECT_NE(policies.find(line.substr(5) + ","), std::string::npos);
                }
            }
        }
    }
}

// --- Exact texts ---------------------------------------------------------------------------

TEST_F(X509Certificate, ExactTextsOfTheAccreditedCertificate) {
    Cert cert("ee_full");
    ASSERT_EQ(cert.result, 0);
    Cert root("root");
    const std::string rootKeyId = root.text(15);
    const std::string rootName = "CN=Brindlow Test Root, OU=Root CA, O=Brindlow Test, C=KR";
    struct Case {
        int id, flags, result;
        std::string text;
    } cases[] = {
        {1, 0, 0, "2"},
        {2, 0, 0, "7F0102030405060708090A0B0C0D0E0F10111213"},
        {3, 0, 0, "SHA256 With RSA Encryption"},
        {4, 0, 0, rootName},
        {5, 0, 0, "20240301090000"},
        {6, 0, 0, "20250301235959"},
        {7, 0, 0, "CN=홍길동()0012345678901234, OU=KMB, OU=personal4IB, O=Test, C=KR"},
        {7, 1, 0, "cn=홍길동()0012345678901234, ou=KMB, ou=personal4IB, o=Test, c=KR"},
        {7, 3, 0, "cn=홍길동()0012345678901234,ou=KMB,ou=personal4IB,o=Test,c=KR"},
        // The issuer uses lower case only with flags exactly 1.
        {4, 1, 0, "cn=Brindlow Test Root, ou=Root CA, o=Brindlow Test, c=KR"},
        {4, 3, 0, "CN=Brindlow Test Root,OU=Root CA,O=Brindlow Test,C=KR"},
        {8, 0, 10004, ""},
        {9, 0, 0, "RSA Encryption"},
        {11, 0, 0, ""},
        {12, 0, 0, ""},
        {13, 0, 0,
         "KeyIdentifier(" + rootKeyId + "), CertIssuer(" + rootName + "), CertIssuer(01)"},
        {14, 0, 0, ""},
        {16, 0, 0,
         "1.2.410.200004.5.2.1.2,http://www.example.kr/cps.html,이 인증서는 공인인증서입니다\n"},
        {16, 1, 0, "1.2.410.200004.5.2.1.2,\n"},
        {16, 4, 0, "이 인증서는 공인인증서입니다\n"},
        {17, 0, 10004, ""},
        {18, 0, 0,
         "realName(홍길동)virtualID(SHA256,"
         "00112233445566778899AABBCCDDEEFF0123456789ABCDEF0011223344556677)"},
        {19, 0, 0,
         "dp:ldap://ldap.example.kr:389/ou=dp5p123,ou=AccreditedCA,o=Test,c=KR?"
         "certificateRevocationList;binary"},
        {20, 0, 0, "CAIssuers:http://ca.example.kr/ca.derOCSP:http://ocsp.example.kr:8080"},
        {21, 0, 10004, ""},
        {22, 0, 0, "digitalSignature,nonRepudiation,"},
        {23, 0, 10004, ""},
        {25, 0, 0, ""},
        {27, 0, 0, "SHA256 With RSA Encryption"},
        {0, 0, 10004, ""},
        {29, 0, 10004, ""},
    };
    for (const Case& c : cases) {
        Cert::Entry e = cert.entry(c.id, c.flags);
        EXPECT_EQ(e.result, c.result) << "entry " << c.id << " flags " << c.flags;
        EXPECT_EQ(e.text, c.text) << "entry " << c.id << " flags " << c.flags;
    }
}

TEST_F(X509Certificate, ExactTextsOfTheOtherShapes) {
    struct Case {
        const char* fixture;
        int id, result;
        std::string text;
    } cases[] = {
        {"ee_more", 16, 0,
         "1.2.410.200004.5.4.1.1,\n1.2.410.200004.5.4.1.2,개인 범용 "
         "인증서http://www.example.kr/cps.html,\n"},
        {"ee_more", 19, 0, "dp:CN=dp1p1, OU=dp, O=Test, C=KRreasonscrlissuer"},
        {"ee_more", 20, 0,
         "CAIssuers:CN=Issuer Directory, O=Test, C=KROCSP:http://ocsp.example.kr"},
        {"ee_more", 22, 0,
         "digitalSignature,keyEncipherment,dataEncipherment,keyAgreement,encipherOnly,"
         "decipherOnly,"},
        {"ee_more", 18, 0, ""},
        {"ee_more", 2, 0, "00FF"},
        {"ee_dns", 18, 0, ""},
        {"ee_dns", 17, 10010, ""},  // the last extension has no entry id
        {"sub_ca", 14, 0, "cA=true,pathLengthConstraints=0"},
        {"sub_ca", 22, 0, "keyCertSign,cRLSign,"},
        {"sub_ca", 17, 0, ""},
        {"sub_ca", 21, 10010, ""},
        {"sub_ca", 23, 0, ""},
        {"sub_ca", 24, 0, ""},
        {"sub_ca", 26, 0, ""},
        {"root", 14, 0, "cA=true,"},
        {"root", 13, 10004, ""},
        {"ee_v1", 1, 0, "1"},
        {"ee_v1", 3, SG_X509_ERR_UNKNOWN_NAME, ""},  // sha384WithRSAEncryption
        {"ee_v1", 14, 10004, ""},
        {"ee_v1", 8, 10004, ""},
        {"ee_multi", 7, 0, "CN=a+SN=b, O=Test, C=KR"},
        {"ee_escapes", 7, 0, "CN=\\<a\\=b\\>\\#1, OU=R\\+D\\;QA, O=Acme\\, Inc., C=KR"},
        {"ee_bmp", 7, 0, "CN=홍길동, O=테스트, C=KR"},
        {"ee_attrs", 7, 0,
         "CN=Attrs, E=hong@example.kr, -=Hong, G/GIVENNAME=Gildong, T/TITLE=Engineer, O=Test, "
         "L=Jung-gu, S/ST=Seoul, C=KR"},
        {"ee_gentime", 6, 0, "20510630210000"},
        {"ee_future", 5, 0, "20500101090000"},
        {"ee_future", 6, 0, "20600101090000"},
        {"ee_ec", 9, SG_X509_ERR_UNKNOWN_NAME, ""},
    };
    for (const Case& c : cases) {
        Cert cert(c.fixture);
        ASSERT_EQ(cert.result, 0) << c.fixture;
        Cert::Entry e = cert.entry(c.id);
        EXPECT_EQ(e.result, c.result) << c.fixture << " entry " << c.id;
        EXPECT_EQ(e.text, c.text) << c.fixture << " entry " << c.id;
    }
}

// Whatever the buffer size, every entry stays inside it and ends with a NUL; a text that does
// not fit is an error, never a success with less.
TEST_F(X509Certificate, EveryEntryAtEveryBufferSize) {
    for (const char* fixture : {"ee_full", "ee_many", "ee_longname", "sub_ca"}) {
        Cert cert(fixture);
        ASSERT_EQ(cert.result, 0);
        for (int id = 1; id <= 28; ++id) {
            const Cert::Entry full = cert.entry(id);
            const size_t limit = std::min<size_t>(full.text.size() + 2, 800);
            for (size_t size = 1; size <= limit; ++size) {
                Cert::Entry e = cert.entry(id, 0, size);
                if (full.text.size() < size) {
                    EXPECT_EQ(e.result, full.result)
                        << fixture << " entry " << id << " size " << size;
                    EXPECT_EQ(e.text, full.text) << fixture << " entry " << id << " size " << size;
                } else {
                    EXPECT_NE(e.result, 0) << fixture << " entry " << id << " size " << size;
                    EXPECT_EQ(full.text.compare(0, e.text.size(), e.text), 0)
                        << fixture << " entry " << id << " size " << size;
                }
            }
        }
    }
    // The errors of the Part where it names one.
    Cert cert("ee_full");
    EXPECT_EQ(cert.entry(2, 0, 40).result, 1003);  // 20 bytes need 41
    EXPECT_EQ(cert.entry(10, 0, 100).result, 1003);
    EXPECT_EQ(cert.entry(28, 0, 100).result, 1003);
    EXPECT_EQ(cert.entry(7, 0, 20).result, -22222);
    EXPECT_EQ(cert.entry(7, 0, 20).text, "");
    Cert longName("ee_longname");
    Cert::Entry cut = longName.entry(7, 0, 128);
    EXPECT_EQ(cut.result, -22222);
    EXPECT_EQ(cut.text, "CN=Long Name, OU=" + std::string(64, 'x'));
    EXPECT_EQ(cert.entry(16, 0, 30).result, 10009);
}

// --- Decoding, errors, structure and DER access ---------------------------------------------

TEST_F(X509Certificate, SerialNumbersOverTwentyBytesAreRefused) {
    Cert twenty("ee_full");
    EXPECT_EQ(twenty.result, 0);
    // A refused certificate leaves what the handle held.
    const Bytes der21 = fileBytes("serial21.der");
    SGBinary in{const_cast<unsigned char*>(der21.data()), static_cast<uint32_t>(der21.size())};
    Certificate_t* before = twenty.handle.certificate;
    EXPECT_EQ(SGX509Certificate_FromBinary(&twenty.handle, &in), 10018);
    EXPECT_EQ(twenty.handle.certificate, before);
    Cert refused(der21);
    EXPECT_EQ(refused.result, 10018);
    EXPECT_EQ(refused.handle.certificate, nullptr);

    // Loading into a handle that holds a certificate replaces it (and frees it: the sanitizer
    // would report the leak).
    const Bytes root = fileBytes("root.der");
    SGBinary rootIn{const_cast<unsigned char*>(root.data()), static_cast<uint32_t>(root.size())};
    EXPECT_EQ(SGX509Certificate_FromBinary(&twenty.handle, &rootIn), 0);
    EXPECT_EQ(twenty.text(2), "01");
}

TEST_F(X509Certificate, MissingArgumentsAndEmptyHandles) {
    SGX509Certificate empty{};
    char buffer[64];
    SGBinary out{};
    void* field = nullptr;
    const Bytes garbage = {0x30, 0x03, 0x02, 0x01};
    SGBinary bad{const_cast<unsigned char*>(garbage.data()), static_cast<uint32_t>(garbage.size())};
    EXPECT_EQ(SGX509Certificate_FromBinary(&empty, &bad), 20902);
    EXPECT_EQ(SGX509Certificate_FromBinary(&empty, nullptr), 10001);
    EXPECT_EQ(SGX509Certificate_FromBinary(nullptr, &bad), 10001);
    EXPECT_EQ(SGX509Certificate_ToBinary(&out, &empty), 10300);
    EXPECT_EQ(SGX509Certificate_GetEntry(&empty, buffer, sizeof buffer, 7, 0), 10300);
    EXPECT_EQ(SGX509Certificate_GetEntry(nullptr, buffer, sizeof buffer, 7, 0), 10001);
    EXPECT_EQ(SGX509Certificate_GetEntry(&empty, nullptr, 0, 7, 0), 10001);
    EXPECT_EQ(SGX509Certificate_GetEncodedEntry(&out, &empty, 7), 10300);
    EXPECT_EQ(SGX509Certificate_GetASN1CEntry(&field, &empty, 7), 10300);
    EXPECT_EQ(SGX509Certificate_Clear(&empty), 10300);
    EXPECT_EQ(SGX509Certificate_Clear(nullptr), 10001);
    time_t now = 0;
    EXPECT_EQ(SGX509Certificate_InTime(&empty, &now, nullptr, 0), 10300);
    // Neither a handle nor DER: not a root, not a CA.
    EXPECT_NE(SGX509Certificate_IsRoot(nullptr, nullptr), 0);
    EXPECT_EQ(SGX509Certificate_IsCA(nullptr, nullptr), 0);

    auto* heap = static_cast<SGX509Certificate*>(SGMemory_calloc(1, sizeof(SGX509Certificate)));
    EXPECT_EQ(SGX509Certificate_Free(heap), 10300);  // freed all the same
    heap = static_cast<SGX509Certificate*>(SGMemory_calloc(1, sizeof(SGX509Certificate)));
    const Bytes der = fileBytes("root.der");
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    ASSERT_EQ(SGX509Certificate_FromBinary(heap, &in), 0);
    EXPECT_EQ(SGX509Certificate_Free(heap), 0);
}

TEST_F(X509Certificate, RootAndCATests) {
    struct Case {
        const char* fixture;
        bool root, ca;
    } cases[] = {
        {"root", true, true},       // self-issued CA without authority key identifier
        {"root_aki", false, true},  // the same with one
        {"sub_ca", false, true},    // issued by another
        {"ee_full", false, false},  // basicConstraints without cA
        {"ee_v1", false, false},    // no extensions
    };
    for (const Case& c : cases) {
        Cert cert(c.fixture);
        const Bytes der = fileBytes(std::string(c.fixture) + ".der");
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        EXPECT_EQ(SGX509Certificate_IsRoot(&cert.handle, nullptr) == 0, c.root) << c.fixture;
        EXPECT_EQ(SGX509Certificate_IsRoot(nullptr, &in) == 0, c.root) << c.fixture;
        EXPECT_EQ(SGX509Certificate_IsCA(&cert.handle, nullptr), c.ca ? 1 : 0) << c.fixture;
        EXPECT_EQ(SGX509Certificate_IsCA(nullptr, &in), c.ca ? 1 : 0) << c.fixture;
    }
    // The DER is examined when given, not the handle.
    Cert ee("ee_full");
    const Bytes root = fileBytes("root.der");
    SGBinary in{const_cast<unsigned char*>(root.data()), static_cast<uint32_t>(root.size())};
    EXPECT_EQ(SGX509Certificate_IsRoot(&ee.handle, &in), 0);
    const Bytes der21 = fileBytes("serial21.der");
    SGBinary refused{const_cast<unsigned char*>(der21.data()), static_cast<uint32_t>(der21.size())};
    EXPECT_NE(SGX509Certificate_IsRoot(nullptr, &refused), 0);
}

time_t utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

TEST_F(X509Certificate, ValidityIsJudgedByTheRealTimeInBothForms) {
    struct Case {
        const char* fixture;
        time_t when;
        int result;
    } cases[] = {
        {"ee_full", utc(2025, 3, 1, 14, 59, 59), 0},  // exactly notAfter
        {"ee_full", utc(2025, 3, 1, 15, 0, 0), -1},   // one second after
        {"ee_full", utc(2024, 3, 1, 0, 0, 0), 0},     // exactly notBefore
        {"ee_full", utc(2024, 2, 29, 23, 59, 59), -1},
        {"ee_gentime", utc(2051, 6, 30, 12, 0, 0), 0},  // GeneralizedTime notAfter
        {"ee_gentime", utc(2051, 6, 30, 12, 0, 1), -1},
        {"ee_gentime", utc(2049, 12, 31, 23, 59, 59), 0},
        {"ee_future", utc(2049, 12, 31, 23, 59, 59), -1},  // both GeneralizedTime
        {"ee_future", utc(2055, 1, 1, 0, 0, 0), 0},
        {"ee_future", utc(2060, 1, 1, 0, 0, 1), -1},
    };
    for (const Case& c : cases) {
        Cert cert(c.fixture);
        EXPECT_EQ(SGX509Certificate_InTime(&cert.handle, &c.when, nullptr, 0), c.result)
            << c.fixture << " " << c.when;
        EXPECT_EQ(SGX509Certificate_InTime(&cert.handle, &c.when, nullptr, 1), c.result)
            << c.fixture << " " << c.when;
    }
    // Now: the long-lived certificate is valid today, the future one not yet.
    Cert gentime("ee_gentime"), future("ee_future");
    EXPECT_EQ(SGX509Certificate_InTime(&gentime.handle, nullptr, nullptr, 0), 0);
    EXPECT_EQ(SGX509Certificate_InTime(&future.handle, nullptr, nullptr, 0), -1);
}

TEST_F(X509Certificate, EncodedEntriesAndStructures) {
    Cert cert("ee_full");
    SGBinary out{};
    auto encoded = [&](int id) {
        int r = SGX509Certificate_GetEncodedEntry(&out, &cert.handle, id);
        std::string hex =
            r == 0 ? hexText(Bytes(out.data, out.data + out.length)) : std::to_string(r);
        SGBinary_Reset(&out);
        return hex;
    };
    EXPECT_EQ(encoded(1), "020102");
    EXPECT_EQ(encoded(2), "02147F0102030405060708090A0B0C0D0E0F10111213");
    EXPECT_EQ(encoded(3), "300D06092A864886F70D01010B0500");
    EXPECT_EQ(encoded(5), "170D3234303330313030303030305A");
    EXPECT_EQ(encoded(14), "3000");
    EXPECT_EQ(encoded(22), "030206C0");
    EXPECT_EQ(encoded(11), "10010");
    EXPECT_EQ(encoded(17), "10004");
    // The names and the key bits decode back to what the texts show.
    ASSERT_EQ(SGX509Certificate_GetEncodedEntry(&out, &cert.handle, 7), 0);
    {
        x509test::Owned<Name_t> subject(&asn_DEF_Name, Bytes(out.data, out.data + out.length));
        char text[256];
        ASSERT_EQ(SGX520Name_ToString(text, sizeof text, subject.get(), 0, 0), 0);
        EXPECT_EQ(text, cert.text(7));
    }
    SGBinary_Reset(&out);
    const std::string bits = encoded(10);
    EXPECT_EQ(bits.substr(bits.size() - cert.text(10).size()), cert.text(10));
    Cert v1("ee_v1");
    EXPECT_EQ(SGX509Certificate_GetEncodedEntry(&out, &v1.handle, 1), 10004);
    EXPECT_EQ(SGX509Certificate_GetEncodedEntry(&out, &v1.handle, 15), 10004);

    void* field = nullptr;
    const TBSCertificate_t& tbs = cert.handle.certificate->tbsCertificate;
    ASSERT_EQ(SGX509Certificate_GetASN1CEntry(&field, &cert.handle, 4), 0);
    EXPECT_EQ(field, &tbs.issuer);
    ASSERT_EQ(SGX509Certificate_GetASN1CEntry(&field, &cert.handle, 9), 0);
    EXPECT_EQ(field, &tbs.subjectPublicKeyInfo);
    ASSERT_EQ(SGX509Certificate_GetASN1CEntry(&field, &cert.handle, 28), 0);
    EXPECT_EQ(field, &cert.handle.certificate->signature);
    ASSERT_EQ(SGX509Certificate_GetASN1CEntry(&field, &cert.handle, 14), 0);
    EXPECT_EQ(field, tbs.extensions->list.array[2]);  // AKI, SKI, then basicConstraints
    void* untouched = &cert;
    EXPECT_EQ(SGX509Certificate_GetASN1CEntry(&untouched, &cert.handle, 11), 0);
    EXPECT_EQ(untouched, &cert);
    EXPECT_EQ(SGX509Certificate_GetASN1CEntry(&field, &cert.handle, 17), 10004);
    ASSERT_EQ(SGX509Certificate_GetASN1CEntry(&field, &v1.handle, 1), 0);
    EXPECT_EQ(field, nullptr);  // no version field
}

TEST_F(X509Certificate, AlgorithmsAndPublicKeys) {
    struct Case {
        const char* dotted;
        int result, kind, digest;
    } cases[] = {
        {"1.2.840.113549.1.1.1", 0, 1, -1}, {"1.2.840.113549.1.1.5", 0, 1, 3},
        {"1.2.840.113549.1.1.11", 0, 1, 5}, {"1.2.840.113549.1.1.13", 0, 1, 7},
        {"1.2.410.200004.1.1", 0, 4, -1},   {"1.2.410.200004.1.21", 0, 5, -1},
        {"1.2.840.10045.2.1", 0, 3, -1},    {"1.2.840.113549.1.1.12", 10003, -1, -1},
        {"1.2.3.4", 10003, -1, -1},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier_t algorithm{};
        ASSERT_EQ(SGASN1CObjectIdentifier_FromString(c.dotted, &algorithm.algorithm), 0);
        int kind = -1, digest = -1;
        SGBinary parameters{};
        EXPECT_EQ(
            SGX509Certificate_ConvertAlgorithmIdentifier(&kind, &digest, &parameters, &algorithm),
            c.result)
            << c.dotted;
        EXPECT_EQ(kind, c.kind) << c.dotted;
        EXPECT_EQ(digest, c.digest) << c.dotted;
        EXPECT_EQ(parameters.data, nullptr);
        SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
    }

    Cert cert("ee_full");
    int kind = 0, digest = 0, size = 0;
    SGBinary parameters{}, key{};
    ASSERT_EQ(SGX509Certificate_GetSignatureAlgorithm(&kind, &digest, &parameters, &cert.handle),
              0);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(digest, 5);
    EXPECT_EQ(hexText(Bytes(parameters.data, parameters.data + parameters.length)), "0500");
    ASSERT_EQ(SGX509Certificate_GetPublicKeyInfo(&kind, &size, &key, &parameters, &cert.handle), 0);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(size, 256);
    EXPECT_EQ(hexText(Bytes(key.data, key.data + key.length)), cert.text(10));
    EXPECT_EQ(key.data,
              cert.handle.certificate->tbsCertificate.subjectPublicKeyInfo.subjectPublicKey.buf);

    // The same from the SubjectPublicKeyInfo that openssl writes, as copies.
    const Bytes spki = fileBytes("ee_full.spki");
    SGBinary in{const_cast<unsigned char*>(spki.data()), static_cast<uint32_t>(spki.size())};
    SGBinary copy{}, params{};
    ASSERT_EQ(SGX509Certificate_ParsePublicKeyInfo(&kind, &size, &copy, &params, &in), 0);
    EXPECT_EQ(size, 256);
    EXPECT_EQ(hexText(Bytes(copy.data, copy.data + copy.length)), cert.text(10));
    EXPECT_EQ(hexText(Bytes(params.data, params.data + params.length)), "0500");
    SGBinary_Reset(&copy);
    SGBinary_Reset(&params);
    SGBinary empty{};
    EXPECT_EQ(SGX509Certificate_ParsePublicKeyInfo(&kind, nullptr, &copy, nullptr, &empty), 10001);
    const Bytes garbage = {0x30, 0x01, 0x05};
    SGBinary bad{const_cast<unsigned char*>(garbage.data()), 3};
    EXPECT_EQ(SGX509Certificate_ParsePublicKeyInfo(&kind, nullptr, &copy, nullptr, &bad), 20902);

    // An elliptic-curve key: its kind and curve, but no size (the signature keys hold none).
    Cert ec("ee_ec");
    parameters = SGBinary{};
    ASSERT_EQ(SGX509Certificate_GetPublicKeyInfo(&kind, nullptr, &key, &parameters, &ec.handle), 0);
    EXPECT_EQ(kind, 3);
    EXPECT_EQ(hexText(Bytes(parameters.data, parameters.data + parameters.length)),
              "06082A8648CE3D030107");
    EXPECT_EQ(SGX509Certificate_GetPublicKeyInfo(&kind, &size, &key, &parameters, &ec.handle),
              10015);
}

TEST_F(X509Certificate, VerificationParametersCheckARealSignature) {
    Cert root("root"), ee("ee_full");
    SGDSKey key{};
    SGDSParameter parameter{};
    ASSERT_EQ(SGX509Certificate_ToDSParameters(&key, &parameter, &root.handle), 0);
    EXPECT_EQ(parameter.kind, SG_DS_RSASSA_PKCS1_V15);
    EXPECT_EQ(parameter.v15HashId, 5);
    EXPECT_EQ(parameter.key, &key);
    EXPECT_EQ(key.kind, SG_DSKEY_RSA_PUBLIC);
    // The root's key verifies the signature over the end entity's signed part.
    SGBinary tbs{};
    ASSERT_EQ(
        SGASN1CObject_Encode(&tbs, &asn_DEF_TBSCertificate, &ee.handle.certificate->tbsCertificate),
        0);
    const BIT_STRING_t& signature = ee.handle.certificate->signature;
    EXPECT_EQ(SGDS_Verify(signature.buf, signature.size, tbs.data, static_cast<int>(tbs.length),
                          &parameter),
              0);
    tbs.data[tbs.length / 2] ^= 1;
    EXPECT_NE(SGDS_Verify(signature.buf, signature.size, tbs.data, static_cast<int>(tbs.length),
                          &parameter),
              0);
    SGBinary_Reset(&tbs);
    SGDSKey_Clear(&key);

    Cert ec("ee_ec"), v1("ee_v1");
    EXPECT_EQ(SGX509Certificate_ToDSParameters(&key, &parameter, &ec.handle), 10010);
    EXPECT_EQ(SGX509Certificate_ToDSParameters(&key, &parameter, &v1.handle), 10003);  // SHA-384
}

// --- Generation ----------------------------------------------------------------------------

struct Key {
    SGDSKey key{};
    Key(const char* file, int kind) {
        const Bytes der = fileBytes(file);
        EXPECT_EQ(SGDSKey_Decode(&key, der.data(), static_cast<int>(der.size()), kind), 0) << file;
    }
    ~Key() { SGDSKey_Clear(&key); }
};

// Writes the handle's certificate as PEM for the openssl command line.
void writePem(const SGX509Certificate& handle, const fs::path& path) {
    SGBinary der{};
    ASSERT_EQ(SGX509Certificate_ToBinary(&der, &handle), 0);
    std::ofstream(path.string() + ".der", std::ios::binary)
        .write(reinterpret_cast<char*>(der.data), der.length);
    SGBinary_Reset(&der);
    servicetest::ScratchDir dir;
    ASSERT_TRUE(servicetest::run(dir, "openssl x509 -inform DER -in '" + path.string() +
                                          ".der' -out '" + path.string() + "'"));
}

std::string opensslOutput(const servicetest::ScratchDir& dir, const std::string& command) {
    EXPECT_TRUE(servicetest::run(dir, command));
    return readText(dir / "cmd.log");
}

// The subject in EUC-KR: C=KR, O=Brindlow, CN=홍길동.
const char kKoreanSubject[] = "C=KR,O=Brindlow,CN=\xC8\xAB\xB1\xE6\xB5\xBF";
const char kRootName[] = "C=KR,O=Brindlow Test,OU=Root CA,CN=Brindlow Test Root";

TEST_F(X509Certificate, GeneratedCertificatesVerifyWithOpenssl) {
    servicetest::ScratchDir dir;
    Key rootKey("root.rsa", SG_DSKEY_RSA_PRIVATE);
    Key eeKey("ee.pub", SG_DSKEY_RSA_PUBLIC);

    // A root signed by its own key (the subject key is the private key: its public half is
    // written) valid past 2049.
    unsigned char serial[] = {0x4B, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    SGBinary serialBytes{serial, sizeof serial};
    long pathLength = 1;
    SGX509GenerateParameters p{};
    p.version = 3;
    p.serialBytes = &serialBytes;
    p.subject = kRootName;
    p.issuer = kRootName;
    p.notBefore = utc(2024, 1, 1, 0, 0, 0);
    p.notAfter = utc(2051, 1, 1, 0, 0, 0);
    p.subjectKey = &rootKey.key;
    p.signerKey = &rootKey.key;
    p.digestId = 5;
    p.cA = 1;
    p.pathLenConstraint = &pathLength;
    SGX509Certificate root{};
    ASSERT_EQ(SGX509Certificate_Generate(&root, &p), 0);

    // An end entity under it, with alternative names, valid until the end of 2049.
    unsigned char host[] = "www.example.kr";
    unsigned char address[] = {10, 0, 0, 1};
    SGX509AltNameNode ip{SG_X509_ALT_IP, {address, 4}, nullptr};
    SGX509AltNameNode dnsName{SG_X509_ALT_DNS, {host, 14}, &ip};
    SGX509GenerateParameters e{};
    e.version = 3;
    e.serialNumber = 4660;
    e.subject = kKoreanSubject;
    e.issuer = kRootName;
    e.notBefore = 0;
    e.notAfter = utc(2049, 12, 31, 23, 59, 59);
    e.subjectKey = &eeKey.key;
    e.signerKey = &rootKey.key;
    e.digestId = 5;
    e.digitalSignature = 1;
    e.serverAuth = 1;
    e.altNames = &dnsName;
    SGX509Certificate ee{};
    ASSERT_EQ(SGX509Certificate_Generate(&ee, &e), 0);

    writePem(root, dir / "root.pem");
    writePem(ee, dir / "ee.pem");
    EXPECT_NE(opensslOutput(dir, "openssl verify -CAfile root.pem ee.pem").find("ee.pem: OK"),
              std::string::npos);
    EXPECT_NE(opensslOutput(dir, "openssl verify -CAfile root.pem root.pem").find("root.pem: OK"),
              std::string::npos);

    // What openssl reads from them.
    const std::string rootText = opensslOutput(dir, "openssl asn1parse -in root.pem");
    EXPECT_NE(rootText.find("GENERALIZEDTIME   :20510101000000Z"), std::string::npos) << rootText;
    EXPECT_NE(rootText.find("UTCTIME           :240101000000Z"), std::string::npos);
    const std::string eeText = opensslOutput(
        dir, "openssl x509 -in ee.pem -noout -text -subject -serial -nameopt RFC2253,-esc_msb");
    EXPECT_NE(eeText.find("subject=CN=홍길동,O=Brindlow,C=KR"), std::string::npos) << eeText;
    EXPECT_NE(eeText.find("serial=1234"), std::string::npos);
    EXPECT_NE(eeText.find("Public Key Algorithm: rsaEncryption"), std::string::npos);
    EXPECT_NE(eeText.find("Not After : Dec 31 23:59:59 2049 GMT"), std::string::npos);
    EXPECT_NE(eeText.find("DNS:www.example.kr, IP Address:10.0.0.1"), std::string::npos);
    EXPECT_NE(eeText.find("TLS Web Server Authentication"), std::string::npos);
    const std::string modulus = opensslOutput(dir, "openssl x509 -in ee.pem -noout -modulus");
    const std::string expected =
        opensslOutput(dir, "openssl rsa -pubin -inform DER -RSAPublicKey_in -in '" +
                               (fixtures() / "ee.pub").string() + "' -noout -modulus");
    EXPECT_EQ(modulus, expected);

    // And what the library reads.
    GuardedBuffer buffer(256);
    ASSERT_EQ(SGX509Certificate_GetEntry(&root, buffer.data(), 256, 6, 0), 0);
    EXPECT_EQ(buffer.text(), "20510101090000");
    ASSERT_EQ(SGX509Certificate_GetEntry(&root, buffer.data(), 256, 14, 0), 0);
    EXPECT_EQ(buffer.text(), "cA=true,pathLengthConstraints=1");
    EXPECT_EQ(SGX509Certificate_IsRoot(&root, nullptr), 0);
    ASSERT_EQ(SGX509Certificate_GetEntry(&ee, buffer.data(), 256, 7, 0), 0);
    EXPECT_EQ(buffer.text(), "CN=홍길동, O=Brindlow, C=KR");
    ASSERT_EQ(SGX509Certificate_GetEntry(&ee, buffer.data(), 256, 22, 0), 0);
    EXPECT_EQ(buffer.text(), "digitalSignature,");
    SGX509Certificate_Clear(&root);
    SGX509Certificate_Clear(&ee);
}

TEST_F(X509Certificate, GenerationFailuresLeaveTheHandle) {
    Key rootKey("root.rsa", SG_DSKEY_RSA_PRIVATE);
    Key eePublic("ee.pub", SG_DSKEY_RSA_PUBLIC);
    SGDSKey kcdsa{};
    kcdsa.kind = SG_DSKEY_KCDSA_PUBLIC;
    unsigned char longSerial[21] = {0x01};
    SGBinary serial21{longSerial, sizeof longSerial};
    unsigned char host[] = "x";
    SGX509AltNameNode uri{6, {host, 1}, nullptr};

    SGX509GenerateParameters base{};
    base.version = 3;
    base.serialNumber = 1;
    base.subject = "CN=x";
    base.issuer = kRootName;
    base.notBefore = utc(2024, 1, 1, 0, 0, 0);
    base.notAfter = utc(2025, 1, 1, 0, 0, 0);
    base.subjectKey = &eePublic.key;
    base.signerKey = &rootKey.key;
    base.digestId = 5;

    struct Case {
        const char* what;
        void (*change)(SGX509GenerateParameters&, SGDSKey*, SGBinary*, SGX509AltNameNode*);
        int result;
    } cases[] = {
        {"signer is a public key",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary*, SGX509AltNameNode*) {
             p.signerKey = p.subjectKey;
         },
         20903},
        {"digest outside 1 to 8",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary*, SGX509AltNameNode*) {
             p.digestId = 9;
         },
         10001},
        {"subject key that is not RSA",
         [](SGX509GenerateParameters& p, SGDSKey* k, SGBinary*, SGX509AltNameNode*) {
             p.subjectKey = k;
         },
         10003},
        {"serial of 21 bytes",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary* s, SGX509AltNameNode*) {
             p.serialBytes = s;
         },
         10018},
        {"alternative name of another kind",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary*, SGX509AltNameNode* n) {
             p.altNames = n;
         },
         10010},
        {"attribute outside the table",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary*, SGX509AltNameNode*) {
             p.subject = "X=1";
         },
         -1},
        {"no subject",
         [](SGX509GenerateParameters& p, SGDSKey*, SGBinary*, SGX509AltNameNode*) {
             p.subject = nullptr;
         },
         10001},
    };
    Cert held("root");
    Certificate_t* before = held.handle.certificate;
    for (const Case& c : cases) {
        SGX509GenerateParameters p = base;
        c.change(p, &kcdsa, &serial21, &uri);
        EXPECT_EQ(SGX509Certificate_Generate(&held.handle, &p), c.result) << c.what;
        EXPECT_EQ(held.handle.certificate, before) << c.what;
    }

    // Version 1: no version field and no extensions, even with extension fields set.
    SGX509GenerateParameters v1 = base;
    v1.version = 1;
    v1.cA = 1;
    ASSERT_EQ(SGX509Certificate_Generate(&held.handle, &v1), 0);
    EXPECT_EQ(held.handle.certificate->tbsCertificate.version, nullptr);
    EXPECT_EQ(held.handle.certificate->tbsCertificate.extensions, nullptr);
    EXPECT_EQ(held.text(1), "1");
    SGX509GenerateParameters v2 = base;
    v2.version = 2;
    ASSERT_EQ(SGX509Certificate_Generate(&held.handle, &v2), 0);
    EXPECT_EQ(held.text(1), "1");
    EXPECT_EQ(held.handle.certificate->tbsCertificate.extensions, nullptr);
    SGX509GenerateParameters other = base;
    other.version = 7;  // any other number means v3
    ASSERT_EQ(SGX509Certificate_Generate(&held.handle, &other), 0);
    EXPECT_EQ(held.text(1), "2");
    EXPECT_EQ(held.text(14), "");
}

}  // namespace
