// PKCS #12 import into a disk token and export from it, against real files: openssl's own files
// (testkit recipe pkcs12), files with two pairs built here with libcrypto, and every written key
// and exported file opened by openssl. A refused or failed import must leave the medium's tree
// byte for byte as it was.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FileToken.h"
#include "PkiCache.h"
#include "Pkcs12Build.h"
#include "TestKit.h"
#include "TokenKeySupport.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using tokentest::snapshot;

const std::string kFilePassword = "q1w2e3r4!@";  // the recipe's files
const std::string kStorage = "storage#Pw9";      // the password keys are stored under
// The holder of the recipe's kr/ files (below a CA folder that listings scan), and of its
// chain files (filed below "Brindlow Test", which listings do not scan).
const std::string kHolder = "cn=홍길동()0011,ou=personal4IB,o=yessign,c=KR";
const std::string kChainHolder = "cn=Hong Gildong()0001,ou=personal,o=Brindlow Test,c=KR";

const fs::path& material() {
    static const fs::path folder = testkit::cachedPki("pkcs12");
    return folder;
}
fs::path kr() {
    return material() / "kr";
}
Bytes file(const std::string& name) {
    return testkit::readBytes(material() / name);
}
unsigned char* ptr(Bytes& b) {
    return b.empty() ? nullptr : b.data();
}
unsigned char* ptr(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

// Answers the key password (purpose 15) and the file password (16), and the storage password
// of an import; a purpose set to cancel answers 1.
class Passwords : public InputPINHandler {
  public:
    int inputPIN(char* out, TokenType, InputPINPurpose purpose) override {
        purposes.push_back(purpose);
        if (cancel.count(purpose)) return 1;
        const std::string& p = answers[purpose];
        std::memcpy(out, p.c_str(), p.size() + 1);
        return 0;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        doubles.push_back(purpose);
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }

    std::map<int, std::string> answers;
    std::set<int> cancel;
    std::vector<int> purposes, doubles;
};

// A home folder in a scratch folder with its disk token.
class Medium {
  public:
    Medium() : scratch_("pfx") { fs::create_directories(base()); }
    fs::path base() const { return scratch_.path() / "Preferences"; }
    fs::path holder(const std::string& name = kHolder) const {
        const std::string ca = name == kChainHolder ? "Brindlow Test" : "yessign";
        return base() / "NPKI" / ca / "USER" / name;
    }
    FileToken& token() {
        if (!token_) {
            token_ = std::make_unique<FileToken>("/", "사용자 홈");
            token_->setPKIDir(base().string());
            token_->setSystemDrive(true);
        }
        return *token_;
    }
    // importInit with the storage password, importPFX, importFinal, as the import dialog does.
    int importFile(Bytes pfx, std::string password = kFilePassword) {
        std::string storage = kStorage;
        int rc = token().importInit(ptr(storage), storage.size(), nullptr,
                                    static_cast<InputPINHandler::InputPINPurpose>(13));
        if (rc != 0) return rc;
        rc = token().importPFX(ptr(password), password.size(), ptr(pfx), pfx.size(), 0);
        token().importFinal();
        return rc;
    }
    std::vector<ShortCertificate> list() {
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        EXPECT_EQ(token().getCertificateList(&rows, &count, 0x111, nullptr, nullptr), 0);
        std::vector<ShortCertificate> out(rows, rows + count);
        Token::freeMemory(rows, 0);
        return out;
    }

  private:
    testkit::Scratch scratch_;
    std::unique_ptr<FileToken> token_;
};

std::string publicKeyOfCertificate(const fs::path& der) {
    return testkit::run("openssl x509 -inform DER -noout -pubkey -in " +
                        testkit::quote(der.string()) + " 2>/dev/null");
}

// The public key of a key file opened by openssl with the password; empty when it does not.
std::string publicKeyOfKeyFile(const fs::path& key, const std::string& password) {
    return testkit::run("openssl pkcs8 -inform DER -in " + testkit::quote(key.string()) +
                        " -passin " + testkit::quote("pass:" + password) +
                        " -provider legacy -provider default 2>/dev/null | openssl pkey -pubout "
                        "2>/dev/null");
}

// ---- libcrypto: files with several pairs, and reading what was exported ----------------------

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Pkey readKey(const fs::path& pem) {
    FILE* f = std::fopen(pem.c_str(), "r");
    EVP_PKEY* k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return Pkey(k, EVP_PKEY_free);
}
Cert readCert(const fs::path& pem) {
    FILE* f = std::fopen(pem.c_str(), "r");
    X509* c = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return Cert(c, X509_free);
}

struct PairFiles {
    fs::path cert, key;  // PEM; an empty key path adds the certificate alone
    std::string localKeyId;
};

// A file in the usual shape: the certificates in one safe (triple-DES EncryptedData), the
// shrouded keys in another, each certificate with its key's localKeyId; SHA-1 MAC.
Bytes buildFile(const std::vector<PairFiles>& pairs, const std::string& password = kFilePassword) {
    STACK_OF(PKCS12_SAFEBAG)* certs = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* keys = nullptr;
    const int pbe = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;
    for (const PairFiles& p : pairs) {
        Cert cert = readCert(p.cert);
        PKCS12_SAFEBAG* bag = cert ? PKCS12_add_cert(&certs, cert.get()) : nullptr;
        if (!bag) return {};
        const auto* id = reinterpret_cast<const unsigned char*>(p.localKeyId.data());
        const int idLength = static_cast<int>(p.localKeyId.size());
        if (!p.localKeyId.empty())
            PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(id), idLength);
        if (p.key.empty()) continue;
        Pkey key = readKey(p.key);
        bag = key ? PKCS12_add_key(&keys, key.get(), 0, 2048, pbe, password.c_str()) : nullptr;
        if (!bag) return {};
        if (!p.localKeyId.empty())
            PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(id), idLength);
    }
    STACK_OF(PKCS7)* safes = nullptr;
    if (!PKCS12_add_safe(&safes, certs, pbe, 2048, password.c_str())) return {};
    if (keys && !PKCS12_add_safe(&safes, keys, -1, 0, nullptr)) return {};
    sk_PKCS12_SAFEBAG_pop_free(certs, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
    PKCS12* p12 = PKCS12_add_safes(safes, 0);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    Bytes out;
    if (p12 && PKCS12_set_mac(p12, password.c_str(), -1, nullptr, 0, 2048, EVP_sha1())) {
        unsigned char* der = nullptr;
        const int n = i2d_PKCS12(p12, &der);
        if (n > 0) out.assign(der, der + n);
        OPENSSL_free(der);
    }
    PKCS12_free(p12);
    return out;
}

// One pair of an exported file as libcrypto reads it.
struct ReadPair {
    Bytes certificate;  // DER
    bool keyMatches = false;
    size_t idLength = 0;
};

// The file's pairs by localKeyId, each certificate checked against the key of the same id; the
// number of bags that carry no localKeyId or find no partner in *loose.
std::map<std::string, ReadPair> readExported(const Bytes& der, const std::string& password,
                                             int* loose) {
    std::map<std::string, ReadPair> pairs;
    std::map<std::string, Pkey> keys;
    std::map<std::string, Cert> certs;
    *loose = 0;
    const unsigned char* p = der.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(der.size()));
    if (!p12 || !PKCS12_verify_mac(p12, password.c_str(), -1)) {
        PKCS12_free(p12);
        *loose = -1;
        return pairs;
    }
    auto idOf = [](const PKCS12_SAFEBAG* bag) {
        const ASN1_TYPE* t = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
        if (!t || t->type != V_ASN1_OCTET_STRING) return std::string();
        return std::string(reinterpret_cast<const char*>(t->value.octet_string->data),
                           t->value.octet_string->length);
    };
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    for (int i = 0; safes && i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        const int nid = OBJ_obj2nid(safe->type);
        STACK_OF(PKCS12_SAFEBAG)* bags = nid == NID_pkcs7_data ? PKCS12_unpack_p7data(safe)
                                         : nid == NID_pkcs7_encrypted
                                             ? PKCS12_unpack_p7encdata(safe, password.c_str(), -1)
                                             : nullptr;
        for (int j = 0; bags && j < sk_PKCS12_SAFEBAG_num(bags); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, j);
            const std::string id = idOf(bag);
            if (id.empty()) ++*loose;
            if (PKCS12_SAFEBAG_get_nid(bag) == NID_certBag) {
                certs.emplace(id, Cert(PKCS12_SAFEBAG_get1_cert(bag), X509_free));
            } else if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
                PKCS8_PRIV_KEY_INFO* info =
                    PKCS12_decrypt_skey(bag, password.c_str(), static_cast<int>(password.size()));
                keys.emplace(id, Pkey(info ? EVP_PKCS82PKEY(info) : nullptr, EVP_PKEY_free));
                PKCS8_PRIV_KEY_INFO_free(info);
            } else {
                ++*loose;
            }
        }
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    PKCS12_free(p12);
    for (auto& [id, cert] : certs) {
        const auto key = keys.find(id);
        if (id.empty() || !cert || key == keys.end()) {
            ++*loose;
            continue;
        }
        ReadPair& pair = pairs[id];
        unsigned char* d = nullptr;
        const int n = i2d_X509(cert.get(), &d);
        if (n > 0) pair.certificate.assign(d, d + n);
        OPENSSL_free(d);
        pair.keyMatches = key->second && X509_check_private_key(cert.get(), key->second.get()) == 1;
        pair.idLength = id.size();
    }
    if (keys.size() != certs.size()) ++*loose;
    return pairs;
}

class TokenPFX : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(material().empty()); }
    Medium medium;
};

}  // namespace

// ---- Import ----------------------------------------------------------------------------------

TEST_F(TokenPFX, OpensslFilesImportTheSigningPairUnderTheStoragePassword) {
    const struct {
        const char* file;
        std::string password;
        bool chainHolder;
    } cases[] = {
        {"kr-a.p12", kFilePassword, false},  // -name 홍길동, triple-DES everywhere, SHA-1 MAC
        {"kr-b.p12", kFilePassword, false},  // -legacy: RC2-40 certificates
        {"kr-c.p12", kFilePassword, false},  // -certpbe NONE
        {"hangul.p12", "비밀번호1!", true},  // a Hangul password in its standard form
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Medium m;
        ASSERT_EQ(m.importFile(file(c.file), c.password), 0);
        const fs::path from = c.chainHolder ? material() : kr();
        const fs::path holder = m.holder(c.chainHolder ? kChainHolder : kHolder);
        const std::string pub = publicKeyOfCertificate(from / "sign.der");
        ASSERT_FALSE(pub.empty());
        EXPECT_EQ(testkit::readBytes(holder / "signCert.der"),
                  testkit::readBytes(from / "sign.der"));
        EXPECT_EQ(publicKeyOfKeyFile(holder / "signPri.key", kStorage), pub);
        // Opened under the storage password only.
        EXPECT_EQ(publicKeyOfKeyFile(holder / "signPri.key", c.password), "");
        // The CA certificates of the file are no pairs.
        EXPECT_FALSE(fs::exists(holder / "kmCert.der"));
        EXPECT_FALSE(fs::exists(holder / "kmPri.key"));
        if (c.chainHolder) continue;
        const auto rows = m.list();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_STREQ(rows[0].kmCertID, rows[0].signCertID);
        // The token opens what it wrote with the storage password.
        std::string storage = kStorage;
        EXPECT_EQ(m.token().verifyPin(rows[0].signCertID, ptr(storage), storage.size()), 0);
    }
}

TEST_F(TokenPFX, RefusedFilesLeaveTheMediumAsItWas) {
    const Bytes random = testkit::unhex(
        "6f1e9a0c33d4b2a81177e0c5d9f24b6a0be3c1d2e4f5a6b7c8d9e0f1a2b3c4d5e6f708192a3b4c5d");
    const Bytes certificatesOnly =
        buildFile({{kr() / "sign.pem", {}, "\x01"}, {kr() / "ca.pem", {}, ""}});
    ASSERT_FALSE(certificatesOnly.empty());
    const Bytes whole = file("kr-a.p12");
    const struct {
        const char* what;
        Bytes pfx;
        std::string password;
        int expected;
    } cases[] = {
        {"wrong password", whole, "q1w2e3r4!#", 1031},
        {"wrong password, -legacy", file("kr-b.p12"), "wrong", 1031},
        {"random bytes", random, kFilePassword, 1032},
        {"a certificate", testkit::readBytes(kr() / "sign.der"), kFilePassword, 1032},
        {"the OpenSSL 3 default file", file("kr-h.p12"), kFilePassword, 1030},
        {"certificates without a key", certificatesOnly, kFilePassword, 1030},
        {"a cut file", Bytes(whole.begin(), whole.begin() + 700), kFilePassword, 1032},
    };
    // An earlier certificate of the holder is there and must stay as it is.
    fs::create_directories(medium.holder());
    for (const char* name : {"signPri.key", "kmPri.key"})
        testkit::writeBytes(medium.holder() / name, testkit::readBytes(kr() / name));
    testkit::writeBytes(medium.holder() / "signCert.der", testkit::readBytes(kr() / "older.der"));
    testkit::writeBytes(medium.holder() / "kmCert.der", testkit::readBytes(kr() / "km.der"));
    const auto before = snapshot(medium.base());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(medium.importFile(c.pfx, c.password), c.expected);
        EXPECT_EQ(snapshot(medium.base()), before);
    }
}

TEST_F(TokenPFX, AKeyThatIsNotItsCertificatesIsRefusedBeforeAnythingIsWritten) {
    // libcrypto puts any key beside any certificate; openssl's own export refuses to.
    ASSERT_FALSE(keytest::material().empty());
    const PairFiles sign{kr() / "sign.pem", kr() / "sign.key", "sign"};
    const struct {
        const char* what;
        std::vector<PairFiles> pairs;
    } cases[] = {
        {"the signing certificate with the key-management key",
         {{kr() / "sign.pem", kr() / "km.key", "x"}}},
        {"a sound signing pair, then its key-management certificate with the signing key",
         {sign, {kr() / "km.pem", kr() / "sign.key", "km"}}},
        {"a sound pair, then another holder's certificate with this holder's key",
         {sign, {material() / "sign.pem", kr() / "km.key", "other"}}},
        // A certificate the key check cannot read does not fit, whatever later steps would
        // make of it.
        {"a certificate whose serial number has 21 bytes, with its key",
         {{keytest::material() / "serial21/cert.pem", keytest::material() / "chain/sign.key",
           "x"}}},
    };
    // The holder's earlier pair, which the sound pair of a file would replace.
    fs::create_directories(medium.holder());
    for (const char* name : {"signPri.key", "kmPri.key"})
        testkit::writeBytes(medium.holder() / name, testkit::readBytes(kr() / name));
    testkit::writeBytes(medium.holder() / "signCert.der", testkit::readBytes(kr() / "older.der"));
    testkit::writeBytes(medium.holder() / "kmCert.der", testkit::readBytes(kr() / "km.der"));
    const auto before = snapshot(medium.base());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes pfx = buildFile(c.pairs);
        ASSERT_FALSE(pfx.empty());
        EXPECT_EQ(medium.importFile(pfx), 1030);
        EXPECT_EQ(snapshot(medium.base()), before);
        EXPECT_FALSE(fs::exists(medium.holder(kChainHolder)));
    }
}

TEST_F(TokenPFX, TwoPairsOfOneHolderTakeTheirOwnNamesInEitherOrder) {
    const std::string signPub = publicKeyOfCertificate(kr() / "sign.der");
    const std::string kmPub = publicKeyOfCertificate(kr() / "km.der");
    ASSERT_NE(signPub, kmPub);
    const PairFiles sign{kr() / "sign.pem", kr() / "sign.key", "sign-id"};
    const PairFiles km{kr() / "km.pem", kr() / "km.key", "km-id"};
    for (const auto& order : {std::vector<PairFiles>{sign, km}, std::vector<PairFiles>{km, sign}}) {
        SCOPED_TRACE(order[0].localKeyId);
        Medium m;
        const Bytes pfx = buildFile(order);
        ASSERT_FALSE(pfx.empty());
        ASSERT_EQ(m.importFile(pfx), 0);
        const fs::path h = m.holder();
        EXPECT_EQ(testkit::readBytes(h / "signCert.der"), testkit::readBytes(kr() / "sign.der"));
        EXPECT_EQ(testkit::readBytes(h / "kmCert.der"), testkit::readBytes(kr() / "km.der"));
        EXPECT_EQ(publicKeyOfKeyFile(h / "signPri.key", kStorage), signPub);
        EXPECT_EQ(publicKeyOfKeyFile(h / "kmPri.key", kStorage), kmPub);
        const auto rows = m.list();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_NE(std::string(rows[0].kmCertID), rows[0].signCertID);
        std::string storage = kStorage;
        EXPECT_EQ(m.token().verifyPin(rows[0].signCertID, ptr(storage), storage.size()), 0);
    }
}

TEST_F(TokenPFX, PairsThatWouldShareFileNamesAreRefusedBeforeAnythingIsWritten) {
    const PairFiles sign{kr() / "sign.pem", kr() / "sign.key", "a"};
    const PairFiles km{kr() / "km.pem", kr() / "km.key", "b"};
    const PairFiles km2{kr() / "km.pem", kr() / "km.key", "c"};
    const PairFiles sign2{kr() / "newer.pem", kr() / "sign.key", "d"};
    const struct {
        const char* what;
        std::vector<PairFiles> pairs;
    } cases[] = {
        {"two key-management pairs", {km, km2}},
        {"three pairs of one holder", {sign, km, sign2}},
    };
    const auto before = snapshot(medium.base());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes pfx = buildFile(c.pairs);
        ASSERT_FALSE(pfx.empty());
        EXPECT_EQ(medium.importFile(pfx), 1030);
        EXPECT_EQ(snapshot(medium.base()), before);
    }
}

TEST_F(TokenPFX, ASecondHolderThatCannotBeWrittenTakesTheFirstBackOut) {
    // Two holders in one file; the second holder's key file name is taken by a folder.
    const Bytes pfx = buildFile({{material() / "sign.pem", material() / "sign.key", "first"},
                                 {kr() / "sign.pem", kr() / "sign.key", "second"}});
    ASSERT_FALSE(pfx.empty());
    fs::create_directories(medium.holder() / "signPri.key");
    const auto before = snapshot(medium.base());
    EXPECT_EQ(medium.importFile(pfx), 1336);
    EXPECT_EQ(snapshot(medium.base()), before);
    EXPECT_FALSE(fs::exists(medium.holder(kChainHolder)));

    // Without the obstacle both holders arrive.
    fs::remove_all(medium.holder());
    ASSERT_EQ(medium.importFile(pfx), 0);
    EXPECT_EQ(testkit::readBytes(medium.holder(kChainHolder) / "signCert.der"), file("sign.der"));
    EXPECT_EQ(testkit::readBytes(medium.holder() / "signCert.der"),
              testkit::readBytes(kr() / "sign.der"));
}

TEST_F(TokenPFX, APairTheDiskRefusesLateTakesTheEarlierPairsBackOut) {
    // The second pair is a government certificate whose common name ".." names no file: the
    // disk token refuses it only once the first pair is written.
    const Bytes pfx = buildFile({{kr() / "sign.pem", kr() / "sign.key", "first"},
                                 {kr() / "gov-dotdot.pem", kr() / "sign.key", "second"}});
    ASSERT_FALSE(pfx.empty());
    fs::create_directories(medium.base() / "NPKI");  // the home folder's own, made as a path
    const auto before = snapshot(medium.base());
    EXPECT_EQ(medium.importFile(pfx), 1331);
    EXPECT_EQ(snapshot(medium.base()), before);
    EXPECT_TRUE(medium.list().empty());
}

TEST_F(TokenPFX, AnImportedSigningPairReplacesTheEarlierKeyManagementPair) {
    // The holder has an older signing pair and a key-management pair; the file brings a signing
    // pair alone.
    fs::create_directories(medium.holder());
    for (const char* name : {"signPri.key", "kmPri.key"})
        testkit::writeBytes(medium.holder() / name, testkit::readBytes(kr() / name));
    testkit::writeBytes(medium.holder() / "signCert.der", testkit::readBytes(kr() / "older.der"));
    testkit::writeBytes(medium.holder() / "kmCert.der", testkit::readBytes(kr() / "km.der"));
    ASSERT_EQ(medium.list().size(), 1u);
    ASSERT_EQ(medium.importFile(file("kr-a.p12")), 0);
    EXPECT_EQ(testkit::readBytes(medium.holder() / "signCert.der"),
              testkit::readBytes(kr() / "sign.der"));
    EXPECT_FALSE(fs::exists(medium.holder() / "kmCert.der"));
    EXPECT_FALSE(fs::exists(medium.holder() / "kmPri.key"));
    const auto rows = medium.list();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].kmCertID, rows[0].signCertID);
    // No file of the old pair is left under another name either.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(medium.holder())) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);
}

// ---- KCDSA pairs ------------------------------------------------------------------------------

namespace {

// The standard's example KCDSA pair (2048-bit p, 224-bit q) beside a GPKI certificate of its
// public value, from the key tests' material; a file of one of its keys with a certificate,
// built with libcrypto (openssl has no KCDSA), keys as PrivateKeyInfo DER.
fs::path kcdsaMaterial(const std::string& name) {
    return keytest::material() / name;
}
const fs::path kGovKcdsa = "kcdsa-gov/kcdsa.der";

Bytes kcdsaFile(const fs::path& certificate, const fs::path& key) {
    return testkit::buildPkcs12({{certificate, key, "gov", ""}}, kFilePassword);
}

fs::path gpkiClass2(const Medium& m) {
    return m.base() / "GPKI" / "Certificate" / "class2";
}

}  // namespace

TEST_F(TokenPFX, AKcdsaPairIsWrittenAsAGpkiPairWhoseKeySigns) {
    ASSERT_FALSE(keytest::material().empty());
    const Bytes pfx = kcdsaFile(kcdsaMaterial(kGovKcdsa), kcdsaMaterial("kcdsa1/plain.der"));
    ASSERT_FALSE(pfx.empty());
    ASSERT_EQ(medium.importFile(pfx), 0);
    EXPECT_EQ(testkit::readBytes(gpkiClass2(medium) / "KCDSA Signer_sig.cer"),
              testkit::readBytes(kcdsaMaterial(kGovKcdsa)));
    EXPECT_TRUE(fs::exists(gpkiClass2(medium) / "KCDSA Signer_sig.key"));

    // Listed as GPKI; the stored key opens under the storage password and signs what the
    // crypto library's KCDSA verification accepts with the certificate's public value.
    const auto rows = medium.list();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].pkiType, PKI_TYPE_GPKI);
    Passwords handler;
    handler.answers[6] = kStorage;
    Bytes message = testkit::unhex(keytest::kcdsaExample().message);
    Bytes signature(256);
    unsigned long length = signature.size();
    ASSERT_EQ(medium.token().generateSignatureRAW(signature.data(), &length, &handler,
                                                  message.data(), message.size(), rows[0].signKeyID,
                                                  rows[0].signKeyID, nullptr),
              0);
    signature.resize(length);
    EXPECT_EQ(keytest::kcdsaVerify(signature, message), 0);
    signature.back() ^= 0x01;
    EXPECT_NE(keytest::kcdsaVerify(signature, message), 0);
}

TEST_F(TokenPFX, AKcdsaKeyThatIsNotItsCertificatesIsRefusedBeforeAnythingIsWritten) {
    ASSERT_FALSE(keytest::material().empty());
    const fs::path gov = kcdsaMaterial(kGovKcdsa);
    const struct {
        const char* what;
        fs::path certificate, key;
    } cases[] = {
        {"another x in the certificate's domain", gov, kcdsaMaterial("kcdsa-otherx/plain.der")},
        {"another domain's key pair", gov, kcdsaMaterial("kcdsa-otherdomain/plain.der")},
        {"a certificate of p - y", kcdsaMaterial("kcdsa-negated/kcdsa.der"),
         kcdsaMaterial("kcdsa1/plain.der")},
        {"a GPKI certificate of an RSA key", kr() / "gov.pem", kcdsaMaterial("kcdsa1/plain.der")},
        {"an RSA key", gov, kr() / "sign.key"},
        // Keys whose own domain is no group of prime order but makes y^q = 1 and y^x = g hold
        // for the certificate's y (testkit/recipes/kcdsa-forged.sh).
        {"x = 1 with p = y^2 + y + 1, q = 3, g = y, certificate without domain",
         kcdsaMaterial("kcdsa-forged/nodomain/kcdsa.der"),
         kcdsaMaterial("kcdsa-forged/order3/plain.der")},
        {"the same under a certificate with NULL parameters",
         kcdsaMaterial("kcdsa-forged/nulldomain/kcdsa.der"),
         kcdsaMaterial("kcdsa-forged/order3/plain.der")},
        {"q an odd 160-bit multiple of 3 and g = y^x",
         kcdsaMaterial("kcdsa-forged/nodomain/kcdsa.der"),
         kcdsaMaterial("kcdsa-forged/composite/plain.der")},
        // Checked as it was, y^q alone would run for over a minute.
        {"p and q of 65536 bits", kcdsaMaterial("kcdsa-forged/nodomain/kcdsa.der"),
         kcdsaMaterial("kcdsa-forged/huge/plain.der")},
        // Keys the check cannot read do not fit either.
        {"a KCDSA key without its INTEGER", gov, kcdsaMaterial("cut-kcdsa/plain.der")},
        {"an RSA key cut after its version", kr() / "sign.pem", kcdsaMaterial("cut-rsa/plain.der")},
    };
    // The sound pair is there already: a refused key must not take its place.
    ASSERT_EQ(medium.importFile(kcdsaFile(gov, kcdsaMaterial("kcdsa1/plain.der"))), 0);
    const auto before = snapshot(medium.base());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes pfx = kcdsaFile(c.certificate, c.key);
        ASSERT_FALSE(pfx.empty());
        EXPECT_EQ(medium.importFile(pfx), 1030);
        EXPECT_EQ(snapshot(medium.base()), before);
    }
}

// ---- Export ----------------------------------------------------------------------------------

namespace {

// A holder with the chain's signing pair and, when asked, its key-management pair, as key files
// under the recipe's password.
std::string putHolder(Medium& m, bool withKm) {
    fs::create_directories(m.holder());
    testkit::writeBytes(m.holder() / "signCert.der", testkit::readBytes(kr() / "sign.der"));
    testkit::writeBytes(m.holder() / "signPri.key", testkit::readBytes(kr() / "signPri.key"));
    if (withKm) {
        testkit::writeBytes(m.holder() / "kmCert.der", testkit::readBytes(kr() / "km.der"));
        testkit::writeBytes(m.holder() / "kmPri.key", testkit::readBytes(kr() / "kmPri.key"));
    }
    const auto rows = m.list();
    return rows.size() == 1 ? rows[0].signCertID : std::string();
}

const std::string kOutPassword = "export!Pw7";

Passwords exportAnswers() {
    Passwords p;
    p.answers[15] = kFilePassword;  // the stored keys' password
    p.answers[16] = kOutPassword;
    return p;
}

}  // namespace

TEST_F(TokenPFX, ExportWritesEachPairWithItsOwnLocalKeyIdThatOpensslReads) {
    for (const bool withKm : {false, true}) {
        SCOPED_TRACE(withKm ? "with key-management pair" : "signing pair alone");
        Medium m;
        const std::string id = putHolder(m, withKm);
        ASSERT_FALSE(id.empty());
        Passwords handler = exportAnswers();
        unsigned char* out = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(m.token().exportPFX(&out, &length, &handler, id.c_str(), id.c_str(), false), 0);
        ASSERT_NE(out, nullptr);
        ASSERT_GT(length, 0u);
        const Bytes pfx(out, out + length);
        Token::freeMemory(out, length);
        // The file password is asked twice (entered and confirmed), after the key's.
        EXPECT_EQ(handler.doubles, std::vector<int>{16});
        EXPECT_EQ(handler.purposes,
                  withKm ? (std::vector<int>{15, 16, 15}) : (std::vector<int>{15, 16}));

        testkit::Scratch out_dir("pfx-out");
        const fs::path written = out_dir / "out.pfx";
        testkit::writeBytes(written, pfx);
        std::string info;
        EXPECT_TRUE(testkit::succeeds("openssl pkcs12 -info -nodes -in " +
                                          testkit::quote(written.string()) + " -passin " +
                                          testkit::quote("pass:" + kOutPassword),
                                      &info))
            << info;

        int loose = 0;
        const auto pairs = readExported(pfx, kOutPassword, &loose);
        EXPECT_EQ(loose, 0);
        ASSERT_EQ(pairs.size(), withKm ? 2u : 1u);
        std::set<Bytes> certificates;
        for (const auto& [lkid, pair] : pairs) {
            EXPECT_EQ(pair.idLength, 10u);
            EXPECT_TRUE(pair.keyMatches);
            certificates.insert(pair.certificate);
        }
        std::set<Bytes> expected{testkit::readBytes(kr() / "sign.der")};
        if (withKm) expected.insert(testkit::readBytes(kr() / "km.der"));
        EXPECT_EQ(certificates, expected);

        // Read back into an empty medium: the same certificate, keys under the new password.
        Medium back;
        ASSERT_EQ(back.importFile(pfx, kOutPassword), 0);
        const auto rows = back.list();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_STREQ(rows[0].subject, m.list()[0].subject);
        EXPECT_EQ(testkit::readBytes(back.holder() / "signCert.der"),
                  testkit::readBytes(kr() / "sign.der"));
        EXPECT_EQ(fs::exists(back.holder() / "kmCert.der"), withKm);
    }
}

TEST_F(TokenPFX, ExportOfTheKeyManagementPairWritesThatPairAlone) {
    const std::string id = putHolder(medium, true);
    ASSERT_FALSE(id.empty());
    const std::string kmId = id.substr(0, id.size() - 1) + "3";
    Passwords handler = exportAnswers();
    unsigned char* out = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(medium.token().exportPFX(&out, &length, &handler, kmId.c_str(), kmId.c_str(), true),
              0);
    const Bytes pfx(out, out + length);
    Token::freeMemory(out, length);
    EXPECT_EQ(handler.purposes, (std::vector<int>{15, 16}));
    EXPECT_TRUE(handler.doubles.empty());  // asked once
    int loose = 0;
    const auto pairs = readExported(pfx, kOutPassword, &loose);
    EXPECT_EQ(loose, 0);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs.begin()->second.certificate, testkit::readBytes(kr() / "km.der"));
    EXPECT_TRUE(pairs.begin()->second.keyMatches);
}

TEST_F(TokenPFX, PasswordsNeverReachTheLog) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks c;
        // Debug lines on: every line a token writes is kept.
        const std::string home = tokentest::freshFolder("pfxlog");
        fs::create_directories(home + "/Library/Ostrelworks");
        tokentest::writeText(home + "/Library/Ostrelworks/Brindlow.TovelCake", "");
        ::setenv("HOME", home.c_str(), 1);
        {
            Medium m;
            c.expect(m.importFile(file("kr-a.p12"), "wrongFilePw1") == 1031, "wrong password");
            c.expect(m.importFile(buildFile({{kr() / "sign.pem", kr() / "km.key", "x"}})) == 1030,
                     "a foreign key");
            c.expect(m.importFile(file("kr-a.p12")) == 0, "imported");
            const auto rows = m.list();
            c.expect(rows.size() == 1, "listed");
            if (rows.size() == 1) {
                Passwords handler;
                handler.answers[15] = kStorage;
                handler.answers[16] = kOutPassword;
                unsigned char* out = nullptr;
                unsigned long length = 0;
                c.expect(m.token().exportPFX(&out, &length, &handler, rows[0].signCertID,
                                             rows[0].signCertID, false) == 0,
                         "exported");
                Token::freeMemory(out, length);
                handler.answers[15] = "wrongKeyPw2";
                c.expect(m.token().exportPFX(&out, &length, &handler, rows[0].signCertID,
                                             rows[0].signCertID, false) == 1022,
                         "wrong key password");
            }
        }
        std::string text;
        std::error_code ec;
        for (const auto& month :
             fs::directory_iterator(home + "/Library/Ostrelworks/TovelToken/log", ec))
            for (const auto& f : fs::directory_iterator(month.path()))
                text += testkit::readText(f.path());
        c.expect(text.find("importPFX") != std::string::npos, "the log was written");
        c.expect(text.find("importPFX - private key does not match certificate...(1030)") !=
                     std::string::npos,
                 "the foreign key was logged");
        for (const std::string& secret : {kFilePassword, kStorage, kOutPassword,
                                          std::string("wrongFilePw1"), std::string("wrongKeyPw2")})
            c.expect(text.find(secret) == std::string::npos, "not logged: " + secret);
        return c.failures;
    });
}

TEST_F(TokenPFX, ExportFailuresHandOutNothing) {
    const std::string id = putHolder(medium, true);
    ASSERT_FALSE(id.empty());
    const struct {
        const char* what;
        std::map<int, std::string> answers;
        std::set<int> cancel;
        int expected;
    } cases[] = {
        {"wrong key password", {{15, "wrong"}, {16, kOutPassword}}, {}, 1022},
        {"key password cancelled", {{16, kOutPassword}}, {15}, 1302},
        {"file password cancelled", {{15, kFilePassword}}, {16}, 1302},
        {"empty file password", {{15, kFilePassword}, {16, ""}}, {}, 1305},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Passwords handler;
        handler.answers = c.answers;
        handler.cancel = c.cancel;
        unsigned char* out = reinterpret_cast<unsigned char*>(&handler);  // must be cleared
        unsigned long length = 99;
        EXPECT_EQ(medium.token().exportPFX(&out, &length, &handler, id.c_str(), id.c_str(), false),
                  c.expected);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(length, 0u);
    }
    // An id that names no certificate, and no handler at all.
    unsigned char* out = nullptr;
    unsigned long length = 0;
    Passwords handler = exportAnswers();
    EXPECT_EQ(medium.token().exportPFX(&out, &length, &handler, "00001", "00001", false), 1309);
    EXPECT_EQ(medium.token().exportPFX(&out, &length, nullptr, id.c_str(), id.c_str(), false),
              1305);
    EXPECT_EQ(out, nullptr);
}
