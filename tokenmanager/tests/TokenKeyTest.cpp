// Opening stored private keys, local signing and the certificate checks of the token base, against
// key files and certificates made by the openssl command line, KCDSA keys of the standard's
// example, and signatures checked by openssl pkeyutl and by the crypto library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SGCryptoTable.h"
#include "SGPKCS8.h"
#include "SGRSA.h"
#include "TokenCertificate.h"
#include "TokenKeySupport.h"

using namespace keytest;

namespace {

// Outputs of one opening, as a caller of each mode hands them over.
struct Opened {
    SGRSAPrivateKey rsa{};
    SGDSKey ds{};
    SGBinary octets{};
    SGPKCS8PrivateKeyInfo info{};
    SGBinary random{};
    unsigned char* parameters = nullptr;
    unsigned long parametersLength = 0;

    void* key(int mode, PKIType record) {
        if (mode == TOKEN_KEY_OCTETS) return &octets;
        if (mode == TOKEN_KEY_INFO) return &info;
        return record == PKI_TYPE_GPKI ? static_cast<void*>(&ds) : static_cast<void*>(&rsa);
    }
    bool empty() const {
        const SGRSAPrivateKey noRsa{};
        const SGDSKey noDs{};
        const SGPKCS8PrivateKeyInfo noInfo{};
        return std::memcmp(&rsa, &noRsa, sizeof rsa) == 0 &&
               std::memcmp(&ds, &noDs, sizeof ds) == 0 && !octets.data &&
               std::memcmp(&info, &noInfo, sizeof info) == 0 && !random.data && !parameters &&
               parametersLength == 0;
    }
    ~Opened() {
        SGRSAPrivateKey_Free(&rsa);
        if (ds.kind) SGDSKey_Clear(&ds);
        SGBinary_Cleanse(&octets);
        SGPKCS8PrivateKeyInfo_Cleanse(&info);
        SGBinary_Cleanse(&random);
        Token::freeMemory(parameters, 0);
    }
};

// The DER of an RSA private key record, as the crypto library writes it.
Bytes encoded(const SGRSAPrivateKey& key) {
    unsigned int length = 0;
    if (SGRSAPrivateKey_Encode(nullptr, &length, &key) != 0) return {};
    Bytes out(length);
    if (SGRSAPrivateKey_Encode(out.data(), &length, &key) != 0) return {};
    return out;
}

}  // namespace

TEST(TokenKeys, OpeningStoredKeys) {
    ASSERT_FALSE(material().empty());
    const Bytes rsaDer = materialFile("sign-rsa.der");  // openssl rsa -traditional -outform DER
    const Bytes kcdsaX = derInteger(kcdsaExample().x);
    const Bytes domain = materialFile("kcdsa1/domain.der");
    ASSERT_GT(rsaDer.size(), 1000u);
    ASSERT_FALSE(domain.empty());
    constexpr PKIType npki = PKI_TYPE_NPKI, gpki = PKI_TYPE_GPKI;
    const std::string wrong = "q1w2e3r4!#";
    const struct Case {
        const char* name;
        const char* file;  // in the material; "cut": the NPKI key file cut to 100 bytes
        std::string password;
        int mode;
        PKIType record;
        int expected;
        const char* key;      // what the opened key must be: "rsa" (the key file's), "x" (KCDSA's)
        bool random = false;  // the key carries the randomNum
        bool domain = false;  // the KCDSA domain parameters are handed out
    } cases[] = {
        {"NPKI key file into a record", "chain/signPri.key", kPassword, 0, npki, 0, "rsa"},
        {"NPKI key file as octets", "chain/signPri.key", kPassword, 1, npki, 0, "rsa"},
        {"NPKI key file as a whole record", "chain/signPri.key", kPassword, 2, npki, 0, "rsa"},
        {"wrong password", "chain/signPri.key", wrong, 0, npki, 1328, ""},
        {"empty password", "chain/signPri.key", "", 1, npki, 1328, ""},
        {"a certificate", "chain/sign.der", kPassword, 0, npki, 1017, ""},
        {"a cut key file", "cut", kPassword, 0, npki, 1017, ""},
        {"nothing", "", kPassword, 0, npki, 1017, ""},
        {"plain key, any password", "plain/plain.der", "whatever", 0, npki, 0, "rsa"},
        {"plain key, no password", "plain/plain.der", "", 1, npki, 0, "rsa"},
        {"EC key file", "ec/key.der", kPassword, 0, npki, 1307, ""},
        {"plain EC key", "ec/plain.der", kPassword, 1, npki, 1307, ""},
        {"an unknown attribute", "attribute/key.der", kPassword, 0, npki, 1307, ""},
        {"an unknown attribute, plain", "attribute/plain.der", kPassword, 0, npki, 1307, ""},
        {"an RSA key cut after its version", "cut-rsa/plain.der", kPassword, 0, npki, 1312, ""},
        {"key file under DES-EDE3-CBC", "des3/key.der", kPassword, 0, npki, 1307, ""},
        {"1,000,001 iterations", "ceiling/key.der", kPassword, 0, npki, 1312, ""},
        {"KCDSA (1.2.410.200004.1.1), record", "kcdsa1/key.der", kPassword, 0, gpki, 0, "", false,
         true},
        {"KCDSA (1.2.410.200004.1.21), record", "kcdsa2/key.der", kPassword, 0, gpki, 0, "", false,
         true},
        {"KCDSA as octets", "kcdsa2/key.der", kPassword, 1, gpki, 0, "x"},
        {"KCDSA into an RSA record", "kcdsa1/key.der", kPassword, 0, npki, 1307, ""},
        {"RSA into a DS record", "chain/signPri.key", kPassword, 0, gpki, 1307, ""},
        {"randomNum, record", "random/key.der", kPassword, 0, npki, 0, "rsa", true},
        {"randomNum, octets", "random/key.der", kPassword, 1, npki, 0, "rsa", true},
        {"randomNum, whole record", "random/key.der", kPassword, 2, npki, 0, "rsa", true},
        {"unknown mode", "chain/signPri.key", kPassword, 3, npki, 1307, ""},
        {"unknown record", "chain/signPri.key", kPassword, 0, PKIType(2), 1307, ""},
    };
    KeyToken token;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = std::string(c.file) == "cut" ? materialFile("chain/signPri.key")
                     : *c.file                    ? materialFile(c.file)
                                                  : Bytes();
        if (std::string(c.file) == "cut") file.resize(100);
        Opened out;
        const int rc = token.decryptPrivateKeyFromPKCS8(
            out.key(c.mode, c.record), &out.random, &out.parameters, &out.parametersLength,
            data(file), file.size(), text(c.password), c.password.size(), c.mode, c.record);
        ASSERT_EQ(rc, c.expected);
        if (rc != 0) {
            EXPECT_TRUE(out.empty()) << "a failure wrote an output";
            continue;
        }
        const Bytes& key = std::string(c.key) == "rsa" ? rsaDer : kcdsaX;
        if (c.mode == TOKEN_KEY_RECORD && c.record == npki) {
            EXPECT_EQ(encoded(out.rsa), key);
        } else if (c.mode == TOKEN_KEY_RECORD) {
            EXPECT_EQ(out.ds.kind, SG_DSKEY_KCDSA_PRIVATE);
        } else if (c.mode == TOKEN_KEY_OCTETS) {
            EXPECT_EQ(bytesOf(out.octets), key);
        }
        // The whole record moves to the caller with its random; no copy is handed out.
        const bool randomOut = c.random && c.mode != TOKEN_KEY_INFO;
        EXPECT_EQ(testkit::hex(bytesOf(out.random)), randomOut ? kRandomHex : "");
        if (c.mode == TOKEN_KEY_INFO) {
            EXPECT_EQ(out.info.algorithm, SG_PKCS8_ALGORITHM_RSA);
            EXPECT_EQ(bytesOf(out.info.privateKey), key);
            ASSERT_EQ(out.info.randomNum != nullptr, c.random);
            if (c.random) {
                EXPECT_EQ(testkit::hex(bytesOf(*out.info.randomNum)), kRandomHex);
            }
        }
        if (c.domain) {
            EXPECT_EQ(Bytes(out.parameters, out.parameters + out.parametersLength), domain);
        } else {
            EXPECT_EQ(out.parameters, nullptr);
        }
    }
}

TEST(TokenKeys, KcdsaKeyWithoutParameterOutputsOpens) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    Bytes file = materialFile("kcdsa1/key.der");
    SGDSKey key{};
    unsigned char* parameters = nullptr;
    // A length output alone does not ask for the parameters.
    unsigned long length = 7;
    ASSERT_EQ(token.decryptPrivateKeyFromPKCS8(&key, nullptr, &parameters, nullptr, data(file),
                                               file.size(), text(kPassword), kPassword.size(),
                                               TOKEN_KEY_RECORD, PKI_TYPE_GPKI),
              0);
    EXPECT_EQ(parameters, nullptr);
    EXPECT_EQ(key.kind, SG_DSKEY_KCDSA_PRIVATE);
    SGDSKey_Clear(&key);
    // The documented form names an RSA record: a KCDSA key is refused and nothing is written.
    ASSERT_EQ(token.decryptPrivateKeyFromPKCS8(&key, nullptr, &parameters, &length, data(file),
                                               file.size(), text(kPassword), kPassword.size(),
                                               TOKEN_KEY_RECORD),
              1307);
    const SGDSKey none{};
    EXPECT_EQ(std::memcmp(&key, &none, sizeof key), 0);
    EXPECT_EQ(length, 0u);
}

TEST(TokenKeys, LocalPKCS1SignatureVerifiesWithOpenssl) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    Bytes file = materialFile("chain/signPri.key");
    SGRSAPrivateKey key{};
    ASSERT_EQ(
        token.decryptPrivateKeyFromPKCS8(&key, nullptr, nullptr, nullptr, data(file), file.size(),
                                         text(kPassword), kPassword.size(), TOKEN_KEY_RECORD),
        0);
    Bytes digestInfo = sha256DigestInfo(bytesOf(std::string("message to sign")));
    ASSERT_EQ(digestInfo.size(), 51u);

    unsigned long length = 0;
    EXPECT_EQ(token.generateSignatureLocal(nullptr, &length, data(digestInfo), digestInfo.size(),
                                           &key, nullptr, nullptr, nullptr, PKI_TYPE_NPKI),
              0);
    EXPECT_EQ(length, 256u);
    // A short output is refused before anything is written into it.
    Bytes shortOutput(255, 0xAA);
    length = shortOutput.size();
    EXPECT_EQ(token.generateSignatureLocal(shortOutput.data(), &length, data(digestInfo),
                                           digestInfo.size(), &key, nullptr, nullptr, nullptr,
                                           PKI_TYPE_NPKI),
              557);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(shortOutput, Bytes(255, 0xAA));

    Bytes signature(300);
    length = signature.size();
    ASSERT_EQ(
        token.generateSignatureLocal(signature.data(), &length, data(digestInfo), digestInfo.size(),
                                     &key, nullptr, nullptr, nullptr, PKI_TYPE_NPKI),
        0);
    ASSERT_EQ(length, 256u);
    signature.resize(length);
    std::string output;
    EXPECT_TRUE(
        opensslVerifies((material() / "sign-pub.pem").string(), digestInfo, signature, &output))
        << output;
    // A whole padded block is signed as it is: the same signature.
    Bytes block(256 - digestInfo.size(), 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block.back() = 0x00;
    block.insert(block.end(), digestInfo.begin(), digestInfo.end());
    Bytes again(256);
    length = again.size();
    ASSERT_EQ(token.generateSignatureLocal(again.data(), &length, data(block), block.size(), &key,
                                           nullptr, nullptr, nullptr, PKI_TYPE_NPKI),
              0);
    EXPECT_EQ(again, signature);

    length = signature.size();
    EXPECT_EQ(
        token.generateSignatureLocal(signature.data(), &length, data(digestInfo), digestInfo.size(),
                                     &key, nullptr, nullptr, nullptr, PKIType(2)),
        1307);
    EXPECT_EQ(
        token.generateSignatureLocal(signature.data(), &length, data(digestInfo), digestInfo.size(),
                                     nullptr, "0123456789", nullptr, nullptr, PKI_TYPE_NPKI),
        1300);
    EXPECT_EQ(
        token.generateSignatureLocal(signature.data(), &length, data(digestInfo), digestInfo.size(),
                                     nullptr, nullptr, nullptr, nullptr, PKI_TYPE_NPKI),
        1300);
    SGRSAPrivateKey_Free(&key);
}

TEST(TokenKeys, LocalKcdsaSignatureVerifiesWithTheCryptoLibrary) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    Bytes file = materialFile("kcdsa2/key.der");
    SGDSKey key{};
    TokenGenerateSignatureParameters parameters{};
    ASSERT_EQ(token.decryptPrivateKeyFromPKCS8(&key, nullptr, &parameters.dsParameters,
                                               &parameters.dsParametersLength, data(file),
                                               file.size(), text(kPassword), kPassword.size(),
                                               TOKEN_KEY_RECORD, PKI_TYPE_GPKI),
              0);
    Bytes message = testkit::unhex(kcdsaExample().message);
    unsigned long length = 0;
    ASSERT_EQ(token.generateSignatureLocal(nullptr, &length, data(message), message.size(), &key,
                                           nullptr, nullptr, &parameters, PKI_TYPE_GPKI),
              0);
    EXPECT_EQ(length, 2u * 28 + 13);  // the largest signature of a 224-bit q
    Bytes signature(length);
    ASSERT_EQ(token.generateSignatureLocal(signature.data(), &length, data(message), message.size(),
                                           &key, nullptr, nullptr, &parameters, PKI_TYPE_GPKI),
              0);
    signature.resize(length);
    EXPECT_EQ(kcdsaVerify(signature, message), 0);
    message[0] ^= 1;
    EXPECT_EQ(kcdsaVerify(signature, message), 801);
    // Without the domain parameters KCDSA cannot sign: the library's code comes back.
    TokenGenerateSignatureParameters none{};
    length = signature.size();
    EXPECT_EQ(token.generateSignatureLocal(signature.data(), &length, data(message), message.size(),
                                           &key, nullptr, nullptr, &none, PKI_TYPE_GPKI),
              SG_DS_ERR_DOMAIN);
    Token::freeMemory(parameters.dsParameters, 0);
    SGDSKey_Clear(&key);
}

// ---- Certificate checks --------------------------------------------------------------------

TEST(TokenChecks, CertificateFileNames) {
    KeyToken token;
    const std::wstring base = L"/media/GPKI/Certificate/class2/088홍길동001";
    const struct {
        bool npki, certificate, signing;
        std::wstring expected;
    } cases[] = {
        {true, true, true, L"signCert.der"},      {true, true, false, L"kmCert.der"},
        {true, false, true, L"signPri.key"},      {true, false, false, L"kmPri.key"},
        {false, true, true, base + L"_sig.cer"},  {false, true, false, base + L"_env.cer"},
        {false, false, true, base + L"_sig.key"}, {false, false, false, base + L"_env.key"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(token.getCertFileName(c.npki, c.certificate, c.signing, base), c.expected)
            << c.npki << c.certificate << c.signing;
}

TEST(TokenChecks, KindAndKeyUsageOfCertificates) {
    ASSERT_FALSE(material().empty());
    Bytes cut = materialFile("certs/gov.der");
    cut.resize(cut.size() / 2);
    const struct {
        const char* name;
        Bytes certificate;
        bool npki, digitalSignature;
    } cases[] = {
        {"O=Government of Korea", materialFile("certs/gov.der"), false, true},
        {"o=government of korea", materialFile("certs/gov-lower.der"), true, true},
        {"no O", materialFile("certs/no-o.der"), true, true},
        {"no keyUsage", materialFile("certs/no-ku.der"), false, true},
        {"keyEncipherment only", materialFile("certs/km.der"), false, false},
        {"NPKI signing certificate", materialFile("chain/sign.der"), true, true},
        {"NPKI key-management certificate", materialFile("chain/km.der"), true, false},
        {"cut certificate", cut, true, true},
        {"no certificate", {}, true, true},
    };
    KeyToken token;
    for (const auto& c : cases) {
        Bytes der = c.certificate;
        const unsigned long length = der.size();
        EXPECT_EQ(token.IsNPKI(data(der), length), c.npki) << c.name;
        EXPECT_EQ(token.IsDigitalSignature(data(der), length), c.digitalSignature) << c.name;
    }
}

TEST(TokenChecks, NewerCertificatesReplaceStoredOnes) {
    ASSERT_FALSE(material().empty());
    Bytes garbage = materialFile("certs/gov.der");
    garbage.resize(200);
    const struct {
        const char* stored;
        const char* offered;
        bool replaces;
    } cases[] = {
        {"gov", "newer", true},     // starts and ends later
        {"gov", "gov", true},       // the same validity
        {"gov", "older", false},    // starts and ends earlier
        {"gov", "overlap", false},  // starts later but ends earlier
        {"newer", "gov", false},    //
        {"gov", "garbage", false},  // an unreadable certificate never replaces one
        {"garbage", "gov", true},   // but a readable one replaces an unreadable one
        {"garbage", "garbage", false},
    };
    KeyToken token;
    for (const auto& c : cases) {
        auto load = [&](const std::string& name) {
            return name == "garbage" ? garbage : materialFile("certs/" + name + ".der");
        };
        Bytes stored = load(c.stored), offered = load(c.offered);
        EXPECT_EQ(token.checkCertificate(data(stored), static_cast<unsigned>(stored.size()),
                                         data(offered), static_cast<unsigned>(offered.size())),
                  c.replaces)
            << c.stored << " -> " << c.offered;
    }
}

TEST(TokenChecks, SubjectTextIsCutAt1023) {
    ASSERT_FALSE(material().empty());
    KeyToken token;
    Bytes gov = materialFile("certs/gov.der");
    unsigned long length = gov.size();
    EXPECT_EQ(token.getDNByCert(data(gov), length),
              "CN=Kim Chulsoo, OU=Ministry of Testing, O=Government of Korea, C=KR");

    Bytes long_ = materialFile("certs/long.der");
    length = long_.size();
    const std::string cut = token.getDNByCert(data(long_), length);
    brindlow::token::DecodedCertificate decoded;
    ASSERT_EQ(decoded.decode(long_.data(), long_.size()), 0);
    std::string whole;
    ASSERT_EQ(brindlow::token::entryText(decoded.handle(), SG_X509_ENTRY_SUBJECT, 0, 64, whole), 0);
    ASSERT_GT(whole.size(), 1300u);
    EXPECT_EQ(cut.size(), 1023u);
    EXPECT_EQ(whole.compare(0, cut.size(), cut), 0);
    EXPECT_EQ(cut.rfind("CN=Long Subject, OU=Unit 20 ", 0), 0u);

    Bytes garbage(gov.begin(), gov.begin() + 40);
    length = garbage.size();
    EXPECT_EQ(token.getDNByCert(data(garbage), length), "");
    length = 0;
    EXPECT_EQ(token.getDNByCert(nullptr, length), "");
}
