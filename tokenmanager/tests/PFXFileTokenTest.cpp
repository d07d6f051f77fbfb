// The PKCS #12 file token over real files: made by the openssl command line (testkit recipe
// pkcs12) and, for several pairs in one file, by libcrypto (Pkcs12Build.h). Keys handed out are
// opened again by libcrypto or our PKCS #8, signatures verified by libcrypto, and a copy lands on
// a scratch disk token.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FileToken.h"
#include "PFXFileToken.h"
#include "KitCache.h"
#include "PkiCache.h"
#include "Pkcs12Build.h"
#include "SGPKCS12.h"
#include "SGPKCS8.h"
#include "TokenKeySupport.h"
#include "TestKit.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kPassword = "q1w2e3r4!@";

// The folder a kit recipe made (once per run), or empty with a failure noted.
fs::path recipeFolder(const std::string& recipe) {
    std::string output;
    fs::path made = testkit::cachedPki(recipe, {}, &output);
    if (made.empty()) ADD_FAILURE() << recipe << " recipe failed:\n" << output;
    return made;
}

const fs::path& openSSLFiles() {
    static const fs::path dir = recipeFolder("pkcs12");
    return dir;
}

const fs::path& pairMaterial() {
    static const fs::path dir = recipeFolder("pkcs12-pairs");
    return dir;
}

// The certificates of a holder that a disk token files under a CA folder it knows ("yessign").
const fs::path& copyMaterial() {
    static const fs::path dir = testkit::madeOnce(
        "copy-suite", testkit::recipeKey({"copy-suite"}) + kPassword, [](const fs::path& work) {
            std::string output;
            if (testkit::pki("copy-suite", work, {kPassword}, &output)) return true;
            ADD_FAILURE() << "copy-suite failed:\n" << output;
            return false;
        });
    return dir;
}

// A file of the pair material: certificates and keys by name ("sign" for sign.pem/sign.key).
testkit::Pkcs12Pair pairOf(const std::string& name, const std::string& localKeyId) {
    return {pairMaterial() / (name + ".pem"), pairMaterial() / (name + ".key"), localKeyId, name};
}

// ---- libcrypto helpers ------------------------------------------------------------------------

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Bytes certificateDer(const fs::path& pem) {
    FILE* f = std::fopen(pem.c_str(), "r");
    X509* x = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    Bytes der;
    unsigned char* out = nullptr;
    const int n = x ? i2d_X509(x, &out) : 0;
    if (n > 0) der.assign(out, out + n);
    OPENSSL_free(out);
    X509_free(x);
    return der;
}

Pkey keyOfPem(const fs::path& pem) {
    FILE* f = std::fopen(pem.c_str(), "r");
    EVP_PKEY* k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return Pkey(k);
}

Pkey keyOfPrivateKeyInfo(const unsigned char* der, size_t length) {
    const unsigned char* p = der;
    PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(length));
    EVP_PKEY* k = info ? EVP_PKCS82PKEY(info) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(info);
    return Pkey(k);
}

Pkey publicKeyOfCertificate(const Bytes& der) {
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY* k = x ? X509_get_pubkey(x) : nullptr;
    X509_free(x);
    return Pkey(k);
}

bool sameKey(const Pkey& a, const Pkey& b) {
    return a && b && EVP_PKEY_eq(a.get(), b.get()) == 1;
}

// PKCS #1 v1.5 encryption to the certificate's key.
Bytes encryptTo(const Bytes& certificate, const std::string& text) {
    Pkey key = publicKeyOfCertificate(certificate);
    Bytes out;
    EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new(key.get(), nullptr) : nullptr;
    size_t n = 0;
    if (ctx && EVP_PKEY_encrypt_init(ctx) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(ctx, nullptr, &n, reinterpret_cast<const unsigned char*>(text.data()),
                         text.size()) == 1) {
        out.resize(n);
        if (EVP_PKEY_encrypt(ctx, out.data(), &n,
                             reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1)
            out.resize(n);
        else
            out.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
}

// The SHA-256 DigestInfo of the text, and its digest.
Bytes sha256(const std::string& text) {
    Bytes digest(32);
    unsigned int n = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &n, EVP_sha256(), nullptr);
    return digest;
}

Bytes digestInfo(const Bytes& digest) {
    Bytes info = testkit::unhex("3031300d060960864801650304020105000420");
    info.insert(info.end(), digest.begin(), digest.end());
    return info;
}

bool verifies(const Bytes& certificate, const Bytes& digest, const unsigned char* signature,
              size_t length) {
    Pkey key = publicKeyOfCertificate(certificate);
    EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new(key.get(), nullptr) : nullptr;
    const bool ok = ctx && EVP_PKEY_verify_init(ctx) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
                    EVP_PKEY_verify(ctx, signature, length, digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

// ---- The token --------------------------------------------------------------------------------

// Answers every request with one password (or a fixed answer) and records the purposes.
class Answers : public InputPINHandler {
  public:
    explicit Answers(std::string password, int answer = 0)
        : password_(std::move(password)), answer_(answer) {}
    int inputPIN(char* out, TokenType type, InputPINPurpose purpose) override {
        types.push_back(type);
        purposes.push_back(purpose);
        if (answer_ != 0) return answer_;
        std::memcpy(out, password_.c_str(), password_.size() + 1);
        return 0;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }

    std::vector<int> types, purposes;

  private:
    std::string password_;
    int answer_;
};

struct Row {
    std::string subject, signCertID, signKeyID, kmCertID, kmKeyID;
};

// Hands the bytes to the token and lists them: the result code and the rows.
int list(PFXFileToken& token, const Bytes& file, InputPINHandler* handler,
         std::vector<Row>* rows = nullptr, bool setBytes = true) {
    if (setBytes) {
        SGBinary options{const_cast<unsigned char*>(file.data()),
                         static_cast<uint32_t>(file.size())};
        EXPECT_EQ(token.setTokenOptions(&options), 0);
    }
    ShortCertificate* out = nullptr;
    unsigned int count = 0;
    const int rc = token.getCertificateList(&out, &count, 0, handler, nullptr);
    if (rc != 0) {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(count, 0u);
    }
    for (unsigned int i = 0; rows && i < count; ++i)
        rows->push_back(
            {out[i].subject, out[i].signCertID, out[i].signKeyID, out[i].kmCertID, out[i].kmKeyID});
    Token::freeMemory(out, 0);
    return rc;
}

Bytes certificateOf(PFXFileToken& token, const std::string& itemId, int* rc = nullptr) {
    unsigned char* der = nullptr;
    unsigned long length = 0;
    const int result = token.getCertificate(itemId.c_str(), &der, &length);
    if (rc) *rc = result;
    Bytes out(der, der + length);
    Token::freeMemory(der, 0);
    return out;
}

std::string withDigit(const std::string& itemId, char digit) {
    return itemId.substr(0, itemId.size() - 1) + digit;
}

// A token that listed the libcrypto file of the pairs under the kit password.
struct Listed {
    PFXFileToken token{"pfx(p12) File"};
    std::vector<Row> rows;
    int rc = -1;
    explicit Listed(const std::vector<testkit::Pkcs12Pair>& pairs) {
        const Bytes file = testkit::buildPkcs12(pairs, kPassword);
        EXPECT_FALSE(file.empty());
        Answers handler(kPassword);
        rc = list(token, file, &handler, &rows);
    }
    std::string id(size_t row = 0) const { return rows.size() > row ? rows[row].signCertID : ""; }
};

}  // namespace

// ---- Listing ----------------------------------------------------------------------------------

TEST(PFXFileToken, ListsFilesOfTheOpenSSLCommandLine) {
    ASSERT_FALSE(openSSLFiles().empty());
    const Bytes sign = testkit::readBytes(openSSLFiles() / "sign.der");
    const struct {
        const char* file;
        std::string password;
    } cases[] = {
        {"a.p12", kPassword},
        {"b.p12", kPassword},
        {"c.p12", kPassword},
        {"d.p12", kPassword},
        {"e.p12", kPassword},
        {"hangul.p12", "비밀번호1!"},
        {"long.p12", testkit::readText(openSSLFiles() / "long.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        PFXFileToken token("pfx(p12) File");
        EXPECT_STREQ(token.kind, "PKCS#12 TOKEN");
        Answers handler(c.password);
        std::vector<Row> rows;
        ASSERT_EQ(list(token, testkit::readBytes(openSSLFiles() / c.file), &handler, &rows), 0);
        // The file password is asked once, by the PKCS #12 token, for a key's use.
        EXPECT_EQ(handler.purposes, std::vector<int>{6});
        EXPECT_EQ(handler.types, std::vector<int>{7});
        // The CA certificates of -certfile are no rows.
        ASSERT_EQ(rows.size(), 1u);
        const Row& row = rows[0];
        EXPECT_NE(row.subject.find("Hong Gildong()0001"), std::string::npos) << row.subject;
        ASSERT_EQ(row.signCertID.size(), 41u);
        EXPECT_EQ(row.signCertID.back(), '1');
        EXPECT_EQ(row.signKeyID, withDigit(row.signCertID, '2'));
        // Only a signing pair: the key-management ids repeat the signing ones.
        EXPECT_EQ(row.kmCertID, row.signCertID);
        EXPECT_EQ(row.kmKeyID, row.signKeyID);
        EXPECT_EQ(certificateOf(token, row.signCertID), sign);
        char *kmKey = nullptr, *kmCert = nullptr;
        EXPECT_EQ(token.getKMID(&kmKey, &kmCert, row.signCertID.c_str()), 1311);
        EXPECT_EQ(kmKey, nullptr);
        // The identifier depends on the subject alone: the same from every file.
        static std::string first;
        if (first.empty()) first = row.signCertID;
        EXPECT_EQ(row.signCertID, first);
    }
}

TEST(PFXFileToken, SigningAndKeyManagementPairOfOneSubjectAreOneRow) {
    ASSERT_FALSE(pairMaterial().empty());
    // Key-management pair first: the role comes from the key usage, not the order.
    Listed listed({pairOf("km", "km-id"), pairOf("sign", "sign-id")});
    ASSERT_EQ(listed.rc, 0);
    ASSERT_EQ(listed.rows.size(), 1u);
    const Row& row = listed.rows[0];
    const std::string id = row.signCertID;
    EXPECT_EQ(row.signKeyID, withDigit(id, '2'));
    EXPECT_EQ(row.kmCertID, withDigit(id, '3'));
    EXPECT_EQ(row.kmKeyID, withDigit(id, '4'));
    EXPECT_EQ(certificateOf(listed.token, id), testkit::readBytes(pairMaterial() / "sign.der"));
    EXPECT_EQ(certificateOf(listed.token, withDigit(id, '3')),
              testkit::readBytes(pairMaterial() / "km.der"));
    // A key id names no certificate: 0 and nothing written.
    int rc = -1;
    EXPECT_TRUE(certificateOf(listed.token, withDigit(id, '2'), &rc).empty());
    EXPECT_EQ(rc, 0);

    char *kmKey = nullptr, *kmCert = nullptr;
    ASSERT_EQ(listed.token.getKMID(&kmKey, &kmCert, id.c_str()), 0);
    EXPECT_EQ(std::string(kmKey), withDigit(id, '4'));
    EXPECT_EQ(std::string(kmCert), withDigit(id, '3'));
    Token::freeMemory(kmKey, 0);
    Token::freeMemory(kmCert, 0);
    EXPECT_EQ(listed.token.sizeCertificateAndKey(), 1);
}

TEST(PFXFileToken, RowsFollowTheIdentifiersNotTheFile) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed forward({pairOf("sign", "1"), pairOf("other", "2")});
    Listed backward({pairOf("other", "2"), pairOf("sign", "1")});
    ASSERT_EQ(forward.rc, 0);
    ASSERT_EQ(backward.rc, 0);
    ASSERT_EQ(forward.rows.size(), 2u);
    ASSERT_EQ(backward.rows.size(), 2u);
    EXPECT_LT(forward.id(0), forward.id(1));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(forward.rows[i].signCertID, backward.rows[i].signCertID);
        EXPECT_EQ(forward.rows[i].subject, backward.rows[i].subject);
    }
    // Each row serves its own certificate.
    const Bytes other = certificateDer(pairMaterial() / "other.pem");
    const Bytes sign = testkit::readBytes(pairMaterial() / "sign.der");
    for (size_t i = 0; i < 2; ++i) {
        const bool isOther = forward.rows[i].subject.find("Kim Cheolsu") != std::string::npos;
        EXPECT_EQ(certificateOf(forward.token, forward.id(i)), isOther ? other : sign);
    }
}

TEST(PFXFileToken, SubjectsThatShareALongPrefixStayApart) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("longa", "a"), pairOf("longb", "b")});
    ASSERT_EQ(listed.rc, 0);
    ASSERT_EQ(listed.rows.size(), 2u);
    EXPECT_NE(listed.id(0), listed.id(1));
    std::vector<Bytes> served = {certificateOf(listed.token, listed.id(0)),
                                 certificateOf(listed.token, listed.id(1))};
    std::vector<Bytes> expected = {certificateDer(pairMaterial() / "longa.pem"),
                                   certificateDer(pairMaterial() / "longb.pem")};
    std::sort(served.begin(), served.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(served, expected);
}

TEST(PFXFileToken, ACertificateWithoutKeyUsageSigns) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("nousage", "n")});
    ASSERT_EQ(listed.rc, 0);
    ASSERT_EQ(listed.rows.size(), 1u);
    const std::string id = listed.id();
    EXPECT_EQ(certificateOf(listed.token, id), certificateDer(pairMaterial() / "nousage.pem"));
    EXPECT_EQ(listed.rows[0].kmCertID, id);
    // Its key signs, and the signature verifies with its certificate.
    Answers handler(kPassword);
    const Bytes digest = sha256("no usage");
    Bytes info = digestInfo(digest);
    unsigned char signature[512];
    unsigned long length = sizeof signature;
    ASSERT_EQ(listed.token.generateSignatureRAW(signature, &length, &handler, info.data(),
                                                info.size(), id.c_str(), id.c_str(), nullptr),
              0);
    EXPECT_TRUE(
        verifies(certificateDer(pairMaterial() / "nousage.pem"), digest, signature, length));
}

TEST(PFXFileToken, FailedListingsLeaveNoSuites) {
    ASSERT_FALSE(openSSLFiles().empty());
    const Bytes a = testkit::readBytes(openSSLFiles() / "a.p12");
    PFXFileToken token("pfx(p12) File");
    Answers right(kPassword);
    std::vector<Row> rows;
    ASSERT_EQ(list(token, a, &right, &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    const std::string id = rows[0].signCertID;

    Bytes random(700);
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<unsigned char>(i * 131 + 7);
    Answers wrong("q1w2e3r4!#"), cancel(kPassword, 1);
    const struct {
        const char* what;
        Bytes file;
        InputPINHandler* handler;
        int expected;
    } cases[] = {
        {"wrong password", a, &wrong, 1031},
        {"cancelled", a, &cancel, 1302},
        {"no handler", a, nullptr, 1305},
        {"not DER", random, &right, 1032},
        {"a certificate", testkit::readBytes(openSSLFiles() / "sign.der"), &right, 1032},
        {"OpenSSL 3 default (SHA-256 MAC)", testkit::readBytes(openSSLFiles() / "h.p12"), &right,
         1030},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Listed first with the right password, then the failing listing of the same token.
        ASSERT_EQ(list(token, a, &right), 0);
        ASSERT_EQ(token.sizeCertificateAndKey(), 1);
        EXPECT_EQ(list(token, c.file, c.handler), c.expected);
        EXPECT_EQ(token.sizeCertificateAndKey(), 0);
        int rc = 0;
        certificateOf(token, id, &rc);
        EXPECT_EQ(rc, 1309);
    }
    // Listing the same bytes again after a wrong password: the same identifier.
    EXPECT_EQ(list(token, a, &wrong, nullptr), 1031);
    rows.clear();
    EXPECT_EQ(list(token, {}, &right, &rows, false), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].signCertID, id);

    // Without bytes nothing is listed and nothing asked; clearOptions keeps the suites.
    token.clearOptions();
    EXPECT_EQ(token.sizeCertificateAndKey(), 1);
    Answers asked(kPassword);
    EXPECT_EQ(list(token, {}, &asked, nullptr, false), 0);
    EXPECT_TRUE(asked.purposes.empty());
    EXPECT_EQ(token.setTokenOptions(nullptr), 0);
    EXPECT_EQ(token.sizeCertificateAndKey(), 0);
}

// ---- Keys -------------------------------------------------------------------------------------

TEST(PFXFileToken, PasswordChecksAcceptExactlyTheFilePassword) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("sign", "s"), pairOf("km", "k")});
    ASSERT_EQ(listed.rc, 0);
    const std::string id = listed.id();
    const std::string identifier = id.substr(0, 40);
    auto verify = [&](const std::string& itemId, const std::string& pin) {
        return listed.token.verifyPin(
            itemId.c_str(), reinterpret_cast<unsigned char*>(const_cast<char*>(pin.c_str())),
            pin.size());
    };
    EXPECT_EQ(verify(id, kPassword), 0);
    EXPECT_EQ(verify(withDigit(id, '4'), kPassword), 0);
    EXPECT_EQ(verify(id, "q1w2e3r4!"), 1022);
    EXPECT_EQ(verify(id, kPassword + "x"), 1022);
    EXPECT_EQ(verify(id, ""), 1022);
    // The identifier, under which the keys are kept inside, is no password of the user's.
    EXPECT_EQ(verify(id, identifier), 1022);
    EXPECT_EQ(verify("0000000000000000000000000000000000000000"
                     "1",
                     kPassword),
              1309);
}

TEST(PFXFileToken, PrivateKeysComeOutUnderTheEnteredPassword) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("sign", "s"), pairOf("km", "k")});
    ASSERT_EQ(listed.rc, 0);
    const std::string id = listed.id();
    const struct {
        char digit;
        const char* keyPem;
    } keys[] = {{'1', "sign.key"}, {'2', "sign.key"}, {'3', "km.key"}, {'4', "km.key"}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.digit);
        Answers handler(kPassword);
        unsigned char* key = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(
            listed.token.getPrivateKey(withDigit(id, k.digit).c_str(), &key, &length, &handler), 0);
        EXPECT_EQ(handler.purposes, std::vector<int>{6});
        // An EncryptedPrivateKeyInfo that the file password opens into the file's key; the
        // identifier no longer opens it.
        SGPKCS8PrivateKeyInfo info{};
        std::string password = kPassword;
        ASSERT_EQ(
            listed.token.decryptPrivateKeyFromPKCS8(
                &info, nullptr, nullptr, nullptr, key, length,
                reinterpret_cast<unsigned char*>(password.data()), password.size(), TOKEN_KEY_INFO),
            0);
        SGBinary der{};
        ASSERT_EQ(SGPKCS8PrivateKeyInfo_Encode(&der, &info), 0);
        EXPECT_TRUE(sameKey(keyOfPrivateKeyInfo(der.data, der.length),
                            keyOfPem(pairMaterial() / k.keyPem)));
        SGBinary_Cleanse(&der);
        SGPKCS8PrivateKeyInfo_Cleanse(&info);
        std::string identifier = id.substr(0, 40);
        SGPKCS8PrivateKeyInfo none{};
        EXPECT_EQ(listed.token.decryptPrivateKeyFromPKCS8(
                      &none, nullptr, nullptr, nullptr, key, length,
                      reinterpret_cast<unsigned char*>(identifier.data()), identifier.size(),
                      TOKEN_KEY_INFO),
                  1328);
        Token::freeMemory(key, length);
    }

    Answers wrong("q1w2e3r4!#"), cancel(kPassword, 1);
    const struct {
        const char* what;
        InputPINHandler* handler;
        int expected;
    } refusals[] = {{"wrong password", &wrong, 1022},
                    {"cancelled", &cancel, 1302},
                    {"no handler", nullptr, 1305}};
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        unsigned char* key = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(listed.token.getPrivateKey(id.c_str(), &key, &length, r.handler), r.expected);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(length, 0u);
    }
    unsigned char* key = nullptr;
    unsigned long length = 0;
    Answers handler(kPassword);
    EXPECT_EQ(listed.token.getPrivateKey("00001", &key, &length, &handler), 1309);
    // A file without key-management pair: its key ids give nothing, successfully.
    Listed single({pairOf("sign", "s")});
    EXPECT_EQ(
        single.token.getPrivateKey(withDigit(single.id(), '4').c_str(), &key, &length, &handler),
        0);
    EXPECT_EQ(key, nullptr);
}

TEST(PFXFileToken, SignsAndDecryptsWithTheKeyOfTheItem) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("sign", "s"), pairOf("km", "k")});
    ASSERT_EQ(listed.rc, 0);
    const std::string id = listed.id();
    const Bytes signCert = testkit::readBytes(pairMaterial() / "sign.der");
    const Bytes kmCert = testkit::readBytes(pairMaterial() / "km.der");

    const Bytes digest = sha256("to be signed");
    Bytes info = digestInfo(digest);
    Answers handler(kPassword);
    unsigned char signature[512];
    unsigned long length = sizeof signature;
    ASSERT_EQ(listed.token.generateSignatureRAW(signature, &length, &handler, info.data(),
                                                info.size(), id.c_str(), id.c_str(), nullptr),
              0);
    EXPECT_EQ(handler.purposes, std::vector<int>{6});
    EXPECT_EQ(length, 256u);
    EXPECT_TRUE(verifies(signCert, digest, signature, length));
    EXPECT_FALSE(verifies(kmCert, digest, signature, length));

    Answers wrong("q1w2e3r4!#"), cancel(kPassword, 1);
    const struct {
        InputPINHandler* handler;
        int expected;
    } refusals[] = {{&wrong, 1022}, {&cancel, 1302}, {nullptr, 1305}};
    for (const auto& r : refusals) {
        length = sizeof signature;
        EXPECT_EQ(listed.token.generateSignatureRAW(signature, &length, r.handler, info.data(),
                                                    info.size(), id.c_str(), id.c_str(), nullptr),
                  r.expected);
    }

    // Decryption: "2" opens with the signing key, "4" with the key-management key; no
    // password is asked.
    const struct {
        char digit;
        const Bytes& certificate;
    } decryptions[] = {{'2', signCert}, {'4', kmCert}};
    for (const auto& d : decryptions) {
        SCOPED_TRACE(d.digit);
        const std::string secret = std::string("secret for ") + d.digit;
        Bytes cipher = encryptTo(d.certificate, secret);
        ASSERT_FALSE(cipher.empty());
        unsigned char* plain = nullptr;
        unsigned long plainLength = 0;
        Answers unused(kPassword);
        ASSERT_EQ(listed.token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), &unused,
                                       withDigit(id, d.digit).c_str(), nullptr),
                  0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), plainLength), secret);
        EXPECT_TRUE(unused.purposes.empty());
        Token::freeMemory(plain, plainLength);
        // The other key does not open it.
        const char other = d.digit == '2' ? '4' : '2';
        EXPECT_NE(listed.token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), nullptr,
                                       withDigit(id, other).c_str(), nullptr),
                  0);
    }
    unsigned char* plain = nullptr;
    unsigned long plainLength = 0;
    Bytes cipher = encryptTo(signCert, "x");
    EXPECT_EQ(listed.token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), nullptr,
                                   nullptr, nullptr),
              1300);
    EXPECT_EQ(listed.token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), nullptr,
                                   "00004", nullptr),
              1309);
    Listed single({pairOf("sign", "s")});
    EXPECT_EQ(single.token.decrypt(&plain, &plainLength, cipher.data(), cipher.size(), nullptr,
                                   withDigit(single.id(), '4').c_str(), nullptr),
              1310);

    // Sizes, and the random that keys made elsewhere do not carry.
    unsigned long size = 0;
    EXPECT_EQ(listed.token.getKeySize(&size, nullptr, id.c_str()), 0);
    EXPECT_EQ(size, 256u);
    int modulus = 0;
    EXPECT_EQ(listed.token.getKeyLength(id.c_str(), &modulus), 0);
    EXPECT_EQ(modulus, 256);
    EXPECT_EQ(listed.token.getKeySize(&size, nullptr, "00001"), 1309);
    unsigned char* random = nullptr;
    unsigned long randomLength = 1;
    EXPECT_EQ(listed.token.getVIDRandom(&random, &randomLength, nullptr, id.c_str()), 0);
    EXPECT_EQ(random, nullptr);
    EXPECT_EQ(randomLength, 0u);
    EXPECT_EQ(listed.token.getVIDRandom(&random, &randomLength, nullptr, "00001"), 1309);
}

// ---- Export and copy --------------------------------------------------------------------------

TEST(PFXFileToken, ExportHandsOutAPlainKeyAfterTheFilePassword) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("sign", "s"), pairOf("km", "k")});
    ASSERT_EQ(listed.rc, 0);
    const std::string id = listed.id();
    const struct {
        char digit;
        const char* key;
        const char* cert;
    } pairs[] = {{'1', "sign.key", "sign.der"}, {'3', "km.key", "km.der"}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.digit);
        Answers handler(kPassword);
        unsigned char *key = nullptr, *cert = nullptr;
        unsigned long keyLength = 0, certLength = 0;
        ASSERT_EQ(
            listed.token.exportCertificateAndKey(&key, &keyLength, &cert, &certLength, &handler,
                                                 id.c_str(), withDigit(id, p.digit).c_str()),
            0);
        EXPECT_EQ(handler.purposes, std::vector<int>{15});
        EXPECT_TRUE(sameKey(keyOfPrivateKeyInfo(key, keyLength), keyOfPem(pairMaterial() / p.key)));
        EXPECT_EQ(Bytes(cert, cert + certLength), testkit::readBytes(pairMaterial() / p.cert));
        Token::freeMemory(key, keyLength);
        Token::freeMemory(cert, 0);
    }

    Answers right(kPassword), wrong("q1w2e3r4!#"), cancel(kPassword, 1), other(kPassword, 7);
    const struct {
        const char* what;
        std::string suite, pair;
        InputPINHandler* handler;
        int expected;
    } refusals[] = {
        {"signing key id", id, withDigit(id, '2'), &right, 1309},
        {"key-management key id", id, withDigit(id, '4'), &right, 1309},
        {"unknown suite", "00001", "00001", &right, 1309},
        {"wrong password", id, id, &wrong, 1022},
        {"cancelled", id, id, &cancel, 1302},
        {"another handler answer", id, id, &other, 7},
        {"no handler", id, id, nullptr, 1305},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        unsigned char *key = nullptr, *cert = nullptr;
        unsigned long keyLength = 0, certLength = 0;
        EXPECT_EQ(listed.token.exportCertificateAndKey(&key, &keyLength, &cert, &certLength,
                                                       r.handler, r.suite.c_str(), r.pair.c_str()),
                  r.expected);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(cert, nullptr);
    }
    // Only the signing pair in the file: the key-management pair is missing.
    Listed single({pairOf("sign", "s")});
    unsigned char *key = nullptr, *cert = nullptr;
    unsigned long keyLength = 0, certLength = 0;
    EXPECT_EQ(single.token.exportCertificateAndKey(&key, &keyLength, &cert, &certLength, &right,
                                                   single.id().c_str(),
                                                   withDigit(single.id(), '3').c_str()),
              1309);
    // A certificate whose key the file lacks.
    Listed keyless({{pairMaterial() / "sign.pem", "", "s", "sign"}, pairOf("other", "o")});
    ASSERT_EQ(keyless.rc, 0);
    EXPECT_EQ(keyless.rows.size(), 1u);  // a certificate without its key is no row
}

TEST(PFXFileToken, CopyPutsBothPairsOnADiskToken) {
    ASSERT_FALSE(copyMaterial().empty());
    const fs::path& m = copyMaterial();
    Listed listed(
        {{m / "sign.der", m / "sign.key", "s", "sign"}, {m / "km.der", m / "km.key", "k", "km"}});
    ASSERT_EQ(listed.rc, 0);
    ASSERT_EQ(listed.rows.size(), 1u);
    const std::string id = listed.id();
    testkit::Scratch scratch("pfx-copy");
    fs::create_directories(scratch.path() / "EMPTYVOL");
    FileToken disk("EMPTYVOL", "EMPTYVOL");
    disk.setPKIDir((scratch.path() / "EMPTYVOL").string());

    Answers handler(kPassword);
    ASSERT_EQ(listed.token.copyCertificate(id.c_str(), &handler, &disk, 0), 0);
    EXPECT_EQ(handler.purposes, (std::vector<int>{11, 15, 15}));

    ShortCertificate* rows = nullptr;
    unsigned int count = 0;
    ASSERT_EQ(disk.getCertificateList(&rows, &count, 0, nullptr, nullptr), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::string(rows[0].subject), listed.rows[0].subject);
    const std::string diskId = rows[0].signCertID;
    const std::string diskKmId = rows[0].kmCertID;
    Token::freeMemory(rows, 0);
    EXPECT_EQ(diskKmId, withDigit(diskId, '3'));
    unsigned char* der = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(disk.getCertificate(diskId.c_str(), &der, &length), 0);
    EXPECT_EQ(Bytes(der, der + length), testkit::readBytes(m / "sign.der"));
    Token::freeMemory(der, 0);
    ASSERT_EQ(disk.getCertificate(diskKmId.c_str(), &der, &length), 0);
    EXPECT_EQ(Bytes(der, der + length), testkit::readBytes(m / "km.der"));
    Token::freeMemory(der, 0);
    // Both keys there open under the password given for the destination.
    std::string password = kPassword;
    EXPECT_EQ(disk.verifyPin(diskId.c_str(), reinterpret_cast<unsigned char*>(password.data()),
                             password.size()),
              0);

    // A wrong file password copies nothing.
    testkit::Scratch scratch2("pfx-copy");
    fs::create_directories(scratch2.path() / "EMPTYVOL");
    FileToken empty("EMPTYVOL", "EMPTYVOL");
    empty.setPKIDir((scratch2.path() / "EMPTYVOL").string());
    Answers wrong("q1w2e3r4!#");
    EXPECT_EQ(listed.token.copyCertificate(id.c_str(), &wrong, &empty, 0), 1022);
    ASSERT_EQ(empty.getCertificateList(&rows, &count, 0, nullptr, nullptr), 0);
    EXPECT_EQ(count, 0u);
    Token::freeMemory(rows, 0);
}

// ---- Nothing is written back ------------------------------------------------------------------

TEST(PFXFileToken, WritingOperationsAreRefused) {
    ASSERT_FALSE(pairMaterial().empty());
    Listed listed({pairOf("sign", "s")});
    ASSERT_EQ(listed.rc, 0);
    PFXFileToken& token = listed.token;
    const std::string id = listed.id();
    unsigned char pin[] = "q1w2e3r4!@";
    Answers handler(kPassword);

    EXPECT_EQ(token.deleteCertificate(id.c_str(), &handler), 1307);
    EXPECT_EQ(token.sizeCertificateAndKey(), 1);  // still listed
    EXPECT_EQ(token.deleteCertificate("00001", &handler), 1309);
    EXPECT_EQ(token.initToken(pin, 10, nullptr), 1306);
    EXPECT_EQ(token.setPIN(pin, 10, pin, 10), 1308);
    EXPECT_EQ(token.setCertificatePIN(id.c_str(), pin, 10, pin, 10), 1307);
    EXPECT_EQ(token.changeCertificatePIN(id.c_str(), &handler), 1307);
    EXPECT_EQ(token.pushCertificate(&handler, id.c_str(), pin, 10, nullptr, 0), 1307);
    EXPECT_EQ(token.certificateSynchronize(id.c_str(), pin, 10, pin, 10), 1307);
    EXPECT_EQ(token.importCAPubs(pin, 10), 1307);
    EXPECT_EQ(
        token.importEncryptedPrivateKeyInfo(pin, 10, pin, 10, nullptr, 0, nullptr, 0, &handler),
        1307);
    unsigned char *key = nullptr, *cert = nullptr;
    unsigned long keyLength = 0, certLength = 0;
    EXPECT_EQ(token.exportCertificateAndEncryptPrivateKey(&key, &keyLength, &cert, &certLength,
                                                          id.c_str(), id.c_str(), &handler),
              1307);

    // An import opens, but what would follow is refused.
    EXPECT_EQ(token.importInit(pin, 10, nullptr, InputPINHandler::PURPOSE_IMPORT), 0);
    EXPECT_EQ(token.import(pin, 10, pin, 10, nullptr, 0, nullptr, 0, 0, false), 1307);
    EXPECT_EQ(token.importFinal(), 1307);
    Answers asked(kPassword);
    EXPECT_EQ(token.importInit(nullptr, 0, &asked, InputPINHandler::PURPOSE_COPY_DESTINATION), 0);
    EXPECT_EQ(asked.purposes, std::vector<int>{13});
    Answers cancel(kPassword, 1);
    EXPECT_EQ(token.importInit(nullptr, 0, &cancel, InputPINHandler::PURPOSE_IMPORT), 1302);
    EXPECT_EQ(token.importInit(nullptr, 0, nullptr, InputPINHandler::PURPOSE_IMPORT), 1305);
    // A password longer than the buffer is refused, never cut.
    std::string longPin(128, 'a');
    EXPECT_EQ(token.importInit(reinterpret_cast<unsigned char*>(longPin.data()), longPin.size(),
                               nullptr, InputPINHandler::PURPOSE_IMPORT),
              1312);
    // Copying into this token fails at the import.
    PFXFileToken other("pfx(p12) File");
    EXPECT_EQ(token.copyCertificate(id.c_str(), &handler, &other, 0), 1307);

    unsigned char* path = pin;
    unsigned long pathLength = 5;
    EXPECT_EQ(token.getPath(id.c_str(), &path, &pathLength), 0);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(pathLength, 0u);
}

// ---- A KCDSA key in the file ------------------------------------------------------------------

// Our own PKCS #12 layer writes the file: openssl has no KCDSA. The certificate is an RSA one;
// only the key matters here.
TEST(PFXFileToken, AKcdsaKeyKeepsItsDomainAndSigns) {
    ASSERT_FALSE(keytest::material().empty());
    Bytes plain = keytest::materialFile("kcdsa1/plain.der");
    Bytes certificate = keytest::materialFile("chain/sign.der");
    ASSERT_FALSE(plain.empty());
    SGPKCS12PFX built{};
    const SGBinary key{plain.data(), static_cast<uint32_t>(plain.size())};
    const SGBinary cert{certificate.data(), static_cast<uint32_t>(certificate.size())};
    ASSERT_EQ(
        SGPKCS12PFX_AddCertificateAndKey(&built, 1, &key, &cert, 0, nullptr, nullptr, nullptr), 0);
    SGBinary password{reinterpret_cast<unsigned char*>(const_cast<char*>(kPassword.data())),
                      static_cast<uint32_t>(kPassword.size())};
    SGBinary der{};
    ASSERT_EQ(SGPKCS12PFX_Encode(&der, &built, &password, nullptr), 0);
    const Bytes file(der.data, der.data + der.length);
    SGBinary_Cleanse(&der);
    SGPKCS12PFX_Clear(&built);

    PFXFileToken token("pfx(p12) File");
    Answers handler(kPassword);
    std::vector<Row> rows;
    ASSERT_EQ(list(token, file, &handler, &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    const std::string id = rows[0].signCertID;

    // Handed out whole: the domain parameters travel with the key.
    unsigned char *exported = nullptr, *exportedCert = nullptr;
    unsigned long exportedLength = 0, exportedCertLength = 0;
    ASSERT_EQ(token.exportCertificateAndKey(&exported, &exportedLength, &exportedCert,
                                            &exportedCertLength, &handler, id.c_str(), id.c_str()),
              0);
    EXPECT_EQ(Bytes(exported, exported + exportedLength), plain);
    Token::freeMemory(exported, exportedLength);
    Token::freeMemory(exportedCert, 0);
    unsigned char* encrypted = nullptr;
    unsigned long encryptedLength = 0;
    ASSERT_EQ(token.getPrivateKey(id.c_str(), &encrypted, &encryptedLength, &handler), 0);
    SGPKCS8PrivateKeyInfo info{};
    std::string pin = kPassword;
    ASSERT_EQ(token.decryptPrivateKeyFromPKCS8(
                  &info, nullptr, nullptr, nullptr, encrypted, encryptedLength,
                  reinterpret_cast<unsigned char*>(pin.data()), pin.size(), TOKEN_KEY_INFO),
              0);
    SGBinary reencoded{};
    ASSERT_EQ(SGPKCS8PrivateKeyInfo_Encode(&reencoded, &info), 0);
    EXPECT_EQ(Bytes(reencoded.data, reencoded.data + reencoded.length), plain);
    SGBinary_Cleanse(&reencoded);
    SGPKCS8PrivateKeyInfo_Cleanse(&info);
    Token::freeMemory(encrypted, encryptedLength);

    // It signs the message with KCDSA, and is no key for PKCS #1 decryption.
    Bytes message = {'p', 'f', 'x'};
    unsigned char signature[512];
    unsigned long length = sizeof signature;
    ASSERT_EQ(token.generateSignatureRAW(signature, &length, &handler, message.data(),
                                         message.size(), id.c_str(), id.c_str(), nullptr),
              0);
    EXPECT_EQ(keytest::kcdsaVerify(Bytes(signature, signature + length), message), 0);
    Bytes cipher = encryptTo(certificate, "x");
    unsigned char* out = nullptr;
    unsigned long outLength = 0;
    EXPECT_EQ(token.decrypt(&out, &outLength, cipher.data(), cipher.size(), nullptr,
                            withDigit(id, '2').c_str(), nullptr),
              1307);
}

// A kit-built file with the example key and a GPKI certificate of its public value: the key
// length is that of the domain's prime p, which is all a KCDSA key has of a modulus.
TEST(PFXFileToken, KeyLengthOfAKcdsaPairIsThatOfItsPrime) {
    ASSERT_FALSE(keytest::material().empty());
    Listed listed({{keytest::material() / "kcdsa-gov" / "kcdsa.der",
                    keytest::material() / "kcdsa1" / "plain.der", "gov", ""}});
    ASSERT_EQ(listed.rc, 0);
    ASSERT_EQ(listed.rows.size(), 1u);
    int length = 0;
    EXPECT_EQ(listed.token.getKeyLength(listed.id().c_str(), &length), 0);
    // The example's p has 2048 bits.
    EXPECT_EQ(length, static_cast<int>(testkit::unhex(keytest::kcdsaExample().p).size()));
    EXPECT_EQ(length, 256);
    EXPECT_EQ(listed.token.getKeyLength("00001", &length), 1309);
}

// ---- Secrets ----------------------------------------------------------------------------------

// Every buffer the token releases through the Base table is searched for the file password and
// for bytes of the private key: the file itself (here with a plain key bag), the password
// buffers, the suites and the keys handed out are all wiped before they go.
TEST(PFXFileToken, NothingReleasedHoldsThePasswordOrTheKey) {
    ASSERT_FALSE(openSSLFiles().empty());
    Pkey key = keyOfPem(openSSLFiles() / "sign.key");
    ASSERT_TRUE(key);
    unsigned char* rsa = nullptr;
    const int rsaLength = i2d_PrivateKey(key.get(), &rsa);
    ASSERT_GT(rsaLength, 600);
    const Bytes keySlice(rsa + 400, rsa + 432);
    OPENSSL_free(rsa);
    const Bytes file = testkit::readBytes(openSSLFiles() / "d.p12");

    keytest::gReleased = {};
    keytest::gReleased.secrets = {keySlice, Bytes(kPassword.begin(), kPassword.end())};
    {
        keytest::BaseAllocationHook hook;
        auto token = std::make_unique<PFXFileToken>("pfx(p12) File");
        Answers handler(kPassword);
        std::vector<Row> rows;
        ASSERT_EQ(list(*token, file, &handler, &rows), 0);
        ASSERT_EQ(rows.size(), 1u);
        const std::string id = rows[0].signCertID;
        unsigned char* out = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(token->getPrivateKey(id.c_str(), &out, &length, &handler), 0);
        Token::freeMemory(out, length);
        unsigned char* cert = nullptr;
        unsigned long certLength = 0;
        ASSERT_EQ(token->exportCertificateAndKey(&out, &length, &cert, &certLength, &handler,
                                                 id.c_str(), id.c_str()),
                  0);
        Token::freeMemory(out, length);
        Token::freeMemory(cert, 0);
        Bytes info = digestInfo(sha256("secret"));
        unsigned char signature[512];
        unsigned long signatureLength = sizeof signature;
        ASSERT_EQ(token->generateSignatureRAW(signature, &signatureLength, &handler, info.data(),
                                              info.size(), id.c_str(), id.c_str(), nullptr),
                  0);
        Answers wrong("q1w2e3r4!#");
        EXPECT_EQ(token->getPrivateKey(id.c_str(), &out, &length, &wrong), 1022);
        // The import password is wiped when the import closes.
        std::string pin = kPassword;
        EXPECT_EQ(token->importInit(reinterpret_cast<unsigned char*>(pin.data()), pin.size(),
                                    nullptr, InputPINHandler::PURPOSE_IMPORT),
                  0);
        EXPECT_EQ(token->importFinal(), 1307);
        token.reset();
    }
    EXPECT_GT(keytest::gReleased.checked, 10);
    EXPECT_TRUE(keytest::gReleased.hits.empty()) << testing::PrintToString(keytest::gReleased.hits);
}
