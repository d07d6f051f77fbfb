// The disk token's import, export, copy and deletion on real trees: certificates and key files
// made by the openssl command line (testkit recipe copy-suite), copies between a home folder and
// a removable volume, the written key files opened and read by openssl alone, refusals and
// injected failures that must leave every byte of the target tree as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FileToken.h"
#include "KeyTreeSupport.h"
#include "KitCache.h"
#include "TestKit.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;
using tokentest::snapshot;

const std::string kPassword = "q1w2e3r4!@";
const std::string kHolder = "cn=홍길동()0011,ou=personal4IB,o=yessign,c=KR";

const fs::path& suiteMaterial() {
    static const fs::path dir = testkit::madeOnce(
        "copy-suite", testkit::recipeKey({"copy-suite"}) + kPassword, [](const fs::path& work) {
            std::string output;
            if (testkit::pki("copy-suite", work, {kPassword}, &output)) return true;
            ADD_FAILURE() << "copy-suite failed:\n" << output;
            return false;
        });
    return dir;
}

Bytes file(const std::string& name) {
    return suiteMaterial().empty() ? Bytes() : testkit::readBytes(suiteMaterial() / name);
}

unsigned char* ptr(Bytes& b) {
    return b.empty() ? nullptr : b.data();
}

// Answers every password request with one password, as the desktop's handler does.
class FixedPassword : public InputPINHandler {
  public:
    explicit FixedPassword(std::string password) : password_(std::move(password)) {}
    int inputPIN(char* out, TokenType, InputPINPurpose purpose) override {
        purposes.push_back(purpose);
        if (answer != 0) return answer;
        std::memcpy(out, password_.c_str(), password_.size() + 1);
        return 0;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }

    int answer = 0;
    std::vector<int> purposes;

  private:
    std::string password_;
};

// A home folder and a removable volume in a scratch folder, each with its disk token.
class Media {
  public:
    Media() : scratch_("copy") {
        fs::create_directories(homeBase());
        fs::create_directories(volume());
    }
    fs::path homeBase() const { return scratch_.path() / "home" / "Preferences"; }
    fs::path volume() const { return scratch_.path() / "Volumes" / "EMPTYVOL"; }
    fs::path homeHolder() const { return homeBase() / "NPKI" / "yessign" / "USER" / kHolder; }
    fs::path volumeHolder() const { return volume() / "NPKI" / "yessign" / "USER" / kHolder; }

    // A suite's files in the folder; an empty part is not written.
    static void put(const fs::path& folder, const std::map<std::string, Bytes>& files) {
        fs::create_directories(folder);
        for (const auto& [name, bytes] : files)
            if (!bytes.empty()) testkit::writeBytes(folder / name, bytes);
    }

    FileToken& home() {
        if (!home_) {
            home_ = std::make_unique<FileToken>("/", "사용자 홈");
            home_->setPKIDir(homeBase().string());
            home_->setSystemDrive(true);
        }
        return *home_;
    }
    FileToken& vol() {
        if (!vol_) {
            vol_ = std::make_unique<FileToken>("EMPTYVOL", "EMPTYVOL");
            vol_->setPKIDir(volume().string());
        }
        return *vol_;
    }
    // The item ids of a token's NPKI and GPKI rows, listed afresh.
    static std::vector<std::string> list(FileToken& token) {
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        EXPECT_EQ(token.getCertificateList(&rows, &count, 0x111, nullptr, nullptr), 0);
        std::vector<std::string> ids;
        for (unsigned int i = 0; i < count; ++i) ids.push_back(rows[i].signCertID);
        Token::freeMemory(rows, 0);
        return ids;
    }

  private:
    testkit::Scratch scratch_;
    std::unique_ptr<FileToken> home_, vol_;
};

std::string publicKeyOfCertificate(const fs::path& der) {
    return testkit::run("openssl x509 -inform DER -noout -pubkey -in " +
                        testkit::quote(der.string()));
}

// The public key of a key file opened by openssl with the password; empty when it does not open.
std::string publicKeyOfKeyFile(const fs::path& key, const std::string& password) {
    return testkit::run("openssl pkcs8 -inform DER -in " + testkit::quote(key.string()) +
                        " -passin pass:" + testkit::quote(password) +
                        " -provider legacy -provider default 2>/dev/null | openssl pkey -pubout "
                        "2>/dev/null");
}

// The key-file profile as openssl asn1parse reads it: PBES2, PBKDF2 with 2048 iterations and an
// 8-byte salt, and the scheme.
void expectProfile(const fs::path& key, const std::string& scheme) {
    const keytree::KeyFileFields f = keytree::keyFileFields(key.string());
    EXPECT_TRUE(f.pbes2 && f.pbkdf2) << key;
    EXPECT_EQ(f.salt.size(), 16u) << key;
    EXPECT_EQ(f.iterations, "0800") << key;
    EXPECT_EQ(f.scheme, scheme) << key;
    EXPECT_EQ(f.iv.size(), 32u) << key;
}

int copyTo(FileToken& from, const std::string& itemId, FileToken& to,
           const std::string& password = kPassword, unsigned int keepNewer = 0) {
    FixedPassword handler(password);
    return from.copyCertificate(itemId.c_str(), &handler, &to, keepNewer);
}

std::string idOf(const fs::path& holder, char digit = '1') {
    return FileToken::identifierOf(holder.string()) + digit;
}

class FileTokenCopy : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(suiteMaterial().empty()); }
    Media media;
};

}  // namespace

// ---- Copies ----------------------------------------------------------------------------------

TEST_F(FileTokenCopy, BothPairsGoToTheVolumeAndBackUnderTheirOwnNamesAndOpenWithTheSamePassword) {
    Media::put(media.homeHolder(), {{"signCert.der", file("sign.der")},
                                    {"signPri.key", file("signPri.key")},
                                    {"kmCert.der", file("km-ds.der")},
                                    {"kmPri.key", file("kmPri.key")}});
    ASSERT_EQ(Media::list(media.home()).size(), 1u);
    FixedPassword handler(kPassword);
    ASSERT_EQ(
        media.home().copyCertificate(idOf(media.homeHolder()).c_str(), &handler, &media.vol(), 0),
        0);
    // The destination's password, then each pair's.
    EXPECT_EQ(handler.purposes, (std::vector<int>{11, 15, 15}));

    // The key-management certificate names digitalSignature too: it is still filed as what it
    // was in the source, never over the signing certificate.
    const fs::path target = media.volumeHolder();
    EXPECT_EQ(testkit::readBytes(target / "signCert.der"), file("sign.der"));
    EXPECT_EQ(testkit::readBytes(target / "kmCert.der"), file("km-ds.der"));
    for (const auto& [key, cert] :
         {std::pair{"signPri.key", "signCert.der"}, std::pair{"kmPri.key", "kmCert.der"}}) {
        SCOPED_TRACE(key);
        const std::string pub = publicKeyOfKeyFile(target / key, kPassword);
        EXPECT_FALSE(pub.empty());
        EXPECT_EQ(pub, publicKeyOfCertificate(target / cert));
        expectProfile(target / key, "seed-cbc");
        EXPECT_TRUE(publicKeyOfKeyFile(target / key, "wrong#pass1").empty());
        // Freshly encrypted: a new salt, not the source's bytes.
        EXPECT_NE(testkit::readBytes(target / key), testkit::readBytes(media.homeHolder() / key));
    }
    // Folders the copy made are the owner's only; no temporary file is left.
    EXPECT_EQ(tokentest::modeOf((media.volume() / "NPKI").string()), 0700);
    EXPECT_EQ(tokentest::modeOf(target.string()), 0700);
    EXPECT_TRUE(keytree::strayFiles(target).empty());

    // The volume lists it; copied back into an empty home folder it is the same again.
    const auto volumeRows = Media::list(media.vol());
    ASSERT_EQ(volumeRows.size(), 1u);
    const auto before = testkit::readBytes(media.homeHolder() / "signCert.der");
    fs::remove_all(media.homeBase() / "NPKI");
    ASSERT_EQ(copyTo(media.vol(), volumeRows[0], media.home()), 0);
    EXPECT_EQ(testkit::readBytes(media.homeHolder() / "signCert.der"), before);
    EXPECT_EQ(testkit::readBytes(media.homeHolder() / "kmCert.der"), file("km-ds.der"));
    EXPECT_EQ(publicKeyOfKeyFile(media.homeHolder() / "kmPri.key", kPassword),
              publicKeyOfCertificate(media.homeHolder() / "kmCert.der"));
    EXPECT_EQ(Media::list(media.home()).size(), 1u);
}

TEST_F(FileTokenCopy, AReplacedCertificateTakesItsKeyManagementPairAlongAndANewerOneStays) {
    // The target holds an earlier certificate of the holder with a key-management pair; the
    // source has the signing pair alone.
    Media::put(media.homeHolder(),
               {{"signCert.der", file("sign.der")}, {"signPri.key", file("signPri.key")}});
    Media::put(media.volumeHolder(), {{"signCert.der", file("older.der")},
                                      {"signPri.key", file("signPri.key")},
                                      {"kmCert.der", file("km.der")},
                                      {"kmPri.key", file("kmPri.key")}});
    Media::list(media.home());
    const std::string id = idOf(media.homeHolder());
    ASSERT_EQ(copyTo(media.home(), id, media.vol(), kPassword, 1), 0);
    EXPECT_EQ(testkit::readBytes(media.volumeHolder() / "signCert.der"), file("sign.der"));
    EXPECT_FALSE(fs::exists(media.volumeHolder() / "kmCert.der"));
    EXPECT_FALSE(fs::exists(media.volumeHolder() / "kmPri.key"));

    // Keep-newer: a newer stored certificate of the holder stays, and nothing changes.
    Media::put(media.volumeHolder(), {{"signCert.der", file("newer.der")},
                                      {"kmCert.der", file("km.der")},
                                      {"kmPri.key", file("kmPri.key")}});
    const auto tree = snapshot(media.volume());
    EXPECT_EQ(copyTo(media.home(), id, media.vol(), kPassword, 1), TOKEN_ERR_STORED_NEWER);
    EXPECT_EQ(snapshot(media.volume()), tree);
    // Without it the copy replaces the newer one (the caller asked for exactly that).
    EXPECT_EQ(copyTo(media.home(), id, media.vol(), kPassword, 0), 0);
    EXPECT_EQ(testkit::readBytes(media.volumeHolder() / "signCert.der"), file("sign.der"));
}

TEST_F(FileTokenCopy, AFailureAnywhereLeavesTheTargetTreeByteForByte) {
    Media::put(media.homeHolder(), {{"signCert.der", file("sign.der")},
                                    {"signPri.key", file("signPri.key")},
                                    {"kmCert.der", file("km.der")},
                                    {"kmPri.key", file("kmPri.key")},
                                    {"CaPubs", file("CaPubs")}});
    Media::list(media.home());
    const std::string id = idOf(media.homeHolder());

    // A wrong password, a cancelled prompt: nothing is made on the empty volume.
    EXPECT_EQ(copyTo(media.home(), id, media.vol(), "Wrong#pass123"), TOKEN_ERR_WRONG_PIN);
    FixedPassword cancel(kPassword);
    cancel.answer = 1;
    EXPECT_EQ(media.home().copyCertificate(id.c_str(), &cancel, &media.vol(), 0),
              TOKEN_ERR_PIN_CANCELLED);
    EXPECT_TRUE(snapshot(media.volume()).empty());

    // Blocked names (a folder where a file goes) stop each step in turn, root included; what
    // the copy made or replaced before is put back.
    struct Case {
        const char* blocked;
        bool earlier;  // the target holds an earlier certificate of the holder
    } cases[] = {{"signPri.key", false}, {"signCert.der", false}, {"kmPri.key", false},
                 {"kmCert.der", false},  {"signPri.key", true},   {"signCert.der", true},
                 {"kmCert.der", true},   {"kmPri.key", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.blocked) + (c.earlier ? " over an earlier one" : ""));
        fs::remove_all(media.volume() / "NPKI");
        if (c.earlier) {
            std::map<std::string, Bytes> files = {{"signCert.der", file("older.der")},
                                                  {"signPri.key", file("signPri.key")},
                                                  {"kmCert.der", file("km.der")},
                                                  {"kmPri.key", file("kmPri.key")}};
            files.erase(c.blocked);
            Media::put(media.volumeHolder(), files);
        }
        fs::create_directories(media.volumeHolder() / c.blocked / "inside");
        const auto tree = snapshot(media.volume());
        EXPECT_EQ(copyTo(media.home(), id, media.vol()), TOKEN_ERR_WRITE);
        EXPECT_EQ(snapshot(media.volume()), tree);
        EXPECT_TRUE(keytree::strayFiles(media.volumeHolder()).empty());
    }
    // A blocked holder folder: the levels the copy made above it go again.
    fs::remove_all(media.volume() / "NPKI");
    fs::create_directories(media.volume() / "NPKI" / "yessign" / "USER");
    testkit::writeText(media.volumeHolder(), "a file where the holder folder goes");
    auto tree = snapshot(media.volume());
    EXPECT_EQ(copyTo(media.home(), id, media.vol()), TOKEN_ERR_WRITE);
    EXPECT_EQ(snapshot(media.volume()), tree);
    fs::remove_all(media.volume() / "NPKI");
    fs::create_directories(media.volume() / "NPKI");
    testkit::writeText(media.volume() / "NPKI" / "yessign", "blocked");
    tree = snapshot(media.volume());
    EXPECT_EQ(copyTo(media.home(), id, media.vol()), TOKEN_ERR_WRITE);
    EXPECT_EQ(snapshot(media.volume()), tree);

    // A link below the volume's NPKI folder is never written through.
    fs::remove_all(media.volume() / "NPKI");
    const fs::path outside = media.volume().parent_path() / "outside";
    fs::create_directories(outside);
    fs::create_directories(media.volume() / "NPKI" / "yessign");
    fs::create_directory_symlink(outside, media.volume() / "NPKI" / "yessign" / "USER");
    EXPECT_EQ(copyTo(media.home(), id, media.vol()), TOKEN_ERR_WRITE);
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(FileTokenCopy, GPKICertificatesAreWrittenUnderGPKINamesWithARIA) {
    const fs::path govBase = media.homeBase() / "GPKI" / "Certificate" / "class2" / "김정부";
    Media::put(govBase.parent_path(), {{"김정부_sig.cer", file("gov.der")},
                                       {"김정부_sig.key", file("signPri.key")},
                                       {"김정부_env.cer", file("gov-km.der")},
                                       {"김정부_env.key", file("kmPri.key")}});
    const auto rows = Media::list(media.home());
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(copyTo(media.home(), rows[0], media.vol()), 0);
    const fs::path target = media.volume() / "GPKI" / "Certificate" / "class2";
    EXPECT_EQ(testkit::readBytes(target / "김정부_sig.cer"), file("gov.der"));
    EXPECT_EQ(testkit::readBytes(target / "김정부_env.cer"), file("gov-km.der"));
    // OpenSSL names ARIA by another identifier: the key files are opened with openssl kdf and
    // openssl enc, and the plaintext's key matches the certificate's.
    for (const auto& [key, cert] : {std::pair{"김정부_sig.key", "김정부_sig.cer"},
                                    std::pair{"김정부_env.key", "김정부_env.cer"}}) {
        SCOPED_TRACE(key);
        expectProfile(target / key, "1.2.410.100001.1.20");
        const Bytes plain = keytree::opensslPlaintext((target / key).string(), kPassword);
        ASSERT_FALSE(plain.empty());
        testkit::Scratch dir("plain");
        testkit::writeBytes(dir.path() / "p.der", plain);
        EXPECT_EQ(testkit::run("openssl pkey -inform DER -pubout -in " +
                               testkit::quote((dir.path() / "p.der").string())),
                  publicKeyOfCertificate(target / cert));
    }
    EXPECT_EQ(Media::list(media.vol()).size(), 1u);
}

// ---- The import operations -------------------------------------------------------------------

TEST_F(FileTokenCopy, ImportsNeedThePasswordOfAnOpenImportAndWriteOnlyInItsFolder) {
    FileToken& vol = media.vol();
    Bytes key = file("sign-plain.der"), cert = file("sign.der"), ca = file("CaPubs");
    // No importInit: nothing is written under an empty or stray password.
    EXPECT_EQ(vol.importPrivateKeyInfo(ptr(key), key.size(), ptr(cert), cert.size(), 0),
              TOKEN_ERR_NO_PIN);
    EXPECT_EQ(vol.importCAPubs(ptr(ca), ca.size()), TOKEN_ERR_WRITE);
    EXPECT_FALSE(vol.RemoveKmFiles());
    EXPECT_FALSE(fs::exists("/CaPubs") && testkit::readBytes("/CaPubs") == ca);

    // Passwords: none, empty, longer than 127 bytes (refused, never cut), cancelled.
    const std::string longest(127, 'a'), tooLong(128, 'a');
    auto text = [](const std::string& s) {
        return reinterpret_cast<unsigned char*>(const_cast<char*>(s.c_str()));
    };
    EXPECT_EQ(vol.Token::importInit(nullptr, 0, nullptr, InputPINHandler::InputPINPurpose(13)),
              TOKEN_ERR_NO_PIN);
    EXPECT_EQ(vol.Token::importInit(text(""), 1, nullptr, InputPINHandler::InputPINPurpose(13)),
              TOKEN_ERR_NO_PIN);
    EXPECT_EQ(vol.Token::importInit(text(tooLong), tooLong.size(), nullptr,
                                    InputPINHandler::InputPINPurpose(13)),
              TOKEN_ERR_INVALID_DATA);
    FixedPassword cancel("x");
    cancel.answer = 1;
    EXPECT_EQ(vol.Token::importInit(nullptr, 0, &cancel, InputPINHandler::InputPINPurpose(11)),
              TOKEN_ERR_PIN_CANCELLED);
    EXPECT_TRUE(snapshot(media.volume()).empty());

    // A 127-byte password is whole; CaPubs and the key-management removal act in the import's
    // folder.
    ASSERT_EQ(vol.Token::importInit(text(longest), longest.size(), nullptr,
                                    InputPINHandler::InputPINPurpose(13)),
              0);
    ASSERT_EQ(vol.importPrivateKeyInfo(ptr(key), key.size(), ptr(cert), cert.size(), 0), 0);
    Bytes kmKey = file("km-plain.der"), kmCert = file("km.der");
    ASSERT_EQ(vol.importPrivateKeyInfo(ptr(kmKey), kmKey.size(), ptr(kmCert), kmCert.size(), 0), 0);
    EXPECT_EQ(vol.importCAPubs(ptr(ca), ca.size()), 0);
    EXPECT_EQ(testkit::readBytes(media.volumeHolder() / "CaPubs"), ca);
    EXPECT_TRUE(vol.RemoveKmFiles());
    EXPECT_FALSE(fs::exists(media.volumeHolder() / "kmCert.der"));
    EXPECT_EQ(vol.Token::importFinal(), 0);
    EXPECT_EQ(publicKeyOfKeyFile(media.volumeHolder() / "signPri.key", longest),
              publicKeyOfCertificate(media.volumeHolder() / "signCert.der"));
    // Closed: the password is gone.
    EXPECT_EQ(vol.importPrivateKeyInfo(ptr(key), key.size(), ptr(cert), cert.size(), 0),
              TOKEN_ERR_NO_PIN);

    // An encrypted key opened with its password; a wrong one, and bytes that are no key.
    Bytes encrypted = file("kmPri.key");
    ASSERT_EQ(vol.Token::importInit(text(kPassword), kPassword.size(), nullptr,
                                    InputPINHandler::InputPINPurpose(13)),
              0);
    EXPECT_EQ(vol.importEncryptedPrivateKeyInfo(text("Wrong#pass1"), 11, ptr(encrypted),
                                                encrypted.size(), ptr(kmCert), kmCert.size()),
              TOKEN_ERR_KEY_DECRYPT);
    EXPECT_EQ(vol.importEncryptedPrivateKeyInfo(text(kPassword), kPassword.size(), ptr(cert),
                                                cert.size(), ptr(kmCert), kmCert.size()),
              TOKEN_ERR_NOT_PKCS8);
    EXPECT_EQ(vol.importEncryptedPrivateKeyInfo(text(kPassword), kPassword.size(), ptr(encrypted),
                                                encrypted.size(), ptr(kmCert), kmCert.size()),
              0);
    EXPECT_EQ(vol.Token::importFinal(), 0);
    EXPECT_EQ(publicKeyOfKeyFile(media.volumeHolder() / "kmPri.key", kPassword),
              publicKeyOfCertificate(media.volumeHolder() / "kmCert.der"));
}

TEST_F(FileTokenCopy, GPKICommonNamesThatNameNoFileAreRefusedBeforeAnythingIsWritten) {
    FileToken& vol = media.vol();
    Bytes key = file("sign-plain.der"), encrypted = file("signPri.key");
    unsigned char pin[] = "q1w2e3r4!@";
    for (const char* name : {"gov-dotdot.der", "gov-nocn.der"}) {
        SCOPED_TRACE(name);
        Bytes cert = file(name);
        ASSERT_EQ(vol.Token::importInit(pin, sizeof pin - 1, nullptr,
                                        InputPINHandler::InputPINPurpose(13)),
                  0);
        EXPECT_EQ(vol.importPrivateKeyInfo(ptr(key), key.size(), ptr(cert), cert.size(), 0),
                  TOKEN_ERR_NO_SUBJECT_ENTRY);
        EXPECT_EQ(vol.Token::importFinal(), 0);
        EXPECT_EQ(vol.importEncryptedPrivateKeyInfo(ptr(encrypted), encrypted.size(), ptr(cert),
                                                    cert.size(), nullptr, 0, nullptr, 0, nullptr),
                  TOKEN_ERR_NO_SUBJECT_ENTRY);
        EXPECT_TRUE(snapshot(media.volume()).empty());
    }
}

TEST_F(FileTokenCopy, TheFiveBufferImportWritesTheGivenBytesWholeOrNotAtAll) {
    FileToken& vol = media.vol();
    Bytes sk = file("signPri.key"), sc = file("sign.der"), kk = file("kmPri.key"),
          kc = file("km.der"), ca = file("CaPubs");
    ASSERT_EQ(vol.import(ptr(sk), sk.size(), ptr(sc), sc.size(), ptr(kk), kk.size(), ptr(kc),
                         kc.size(), ptr(ca), ca.size()),
              0);
    for (const auto& [name, bytes] : std::map<std::string, Bytes>{{"signPri.key", sk},
                                                                  {"signCert.der", sc},
                                                                  {"kmPri.key", kk},
                                                                  {"kmCert.der", kc},
                                                                  {"CaPubs", ca}})
        EXPECT_EQ(testkit::readBytes(media.volumeHolder() / name), bytes) << name;
    // A blocked CaPubs undoes the whole import.
    fs::remove_all(media.volume() / "NPKI");
    fs::create_directories(media.volumeHolder() / "CaPubs");
    const auto tree = snapshot(media.volume());
    EXPECT_EQ(vol.import(ptr(sk), sk.size(), ptr(sc), sc.size(), ptr(kk), kk.size(), ptr(kc),
                         kc.size(), ptr(ca), ca.size()),
              TOKEN_ERR_WRITE);
    EXPECT_EQ(snapshot(media.volume()), tree);
    // GPKI certificates under GPKI names.
    Bytes gov = file("gov.der");
    ASSERT_EQ(vol.importEncryptedPrivateKeyInfo(ptr(sk), sk.size(), ptr(gov), gov.size(), nullptr,
                                                0, nullptr, 0, nullptr),
              0);
    const fs::path class2 = media.volume() / "GPKI" / "Certificate" / "class2";
    EXPECT_EQ(testkit::readBytes(class2 / "김정부_sig.cer"), gov);
    EXPECT_EQ(testkit::readBytes(class2 / "김정부_sig.key"), sk);
    EXPECT_FALSE(fs::exists(class2 / "signCert.der"));
}

// ---- Export ----------------------------------------------------------------------------------

TEST_F(FileTokenCopy, ExportsHandOutThePairOrNothing) {
    Media::put(media.homeHolder(), {{"signCert.der", file("sign.der")},
                                    {"signPri.key", file("signPri.key")},
                                    {"kmCert.der", file("km.der")},
                                    {"kmPri.key", file("kmPri.key")}});
    Media::list(media.home());
    const std::string suite = idOf(media.homeHolder());
    struct Case {
        char pair;
        const char* password;
        int answer;
        int result;
        const char* cert;
        const char* plain;
    } cases[] = {
        {'1', "q1w2e3r4!@", 0, 0, "sign.der", "sign.key"},
        {'4', "q1w2e3r4!@", 0, 0, "km.der", "km.key"},
        {'1', "Wrong#pass1", 0, TOKEN_ERR_WRONG_PIN, nullptr, nullptr},
        {'1', "q1w2e3r4!@", 1, TOKEN_ERR_PIN_CANCELLED, nullptr, nullptr},
        {'1', "q1w2e3r4!@", 7, 7, nullptr, nullptr},
        {'9', "q1w2e3r4!@", 0, TOKEN_ERR_NO_CERTIFICATE, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.pair) + " " + c.password);
        FixedPassword handler(c.password);
        handler.answer = c.answer;
        unsigned char *key = reinterpret_cast<unsigned char*>(1), *cert = key;
        unsigned long keyLength = 1, certLength = 1;
        const std::string pair = suite.substr(0, suite.size() - 1) + c.pair;
        EXPECT_EQ(media.home().exportCertificateAndKey(&key, &keyLength, &cert, &certLength,
                                                       &handler, suite.c_str(), pair.c_str()),
                  c.result);
        if (c.result != 0) {
            EXPECT_TRUE(!key && !cert && !keyLength && !certLength);
            continue;
        }
        EXPECT_EQ(Bytes(cert, cert + certLength), file(c.cert));
        testkit::Scratch dir("export");
        testkit::writeBytes(dir.path() / "k.der", Bytes(key, key + keyLength));
        EXPECT_EQ(testkit::run("openssl pkey -inform DER -pubout -in " +
                               testkit::quote((dir.path() / "k.der").string())),
                  testkit::run("openssl pkey -pubout -in " +
                               testkit::quote((suiteMaterial() / c.plain).string())));
        Token::freeMemory(key, keyLength);
        Token::freeMemory(cert, 0);
    }
    // The stored bytes: pairs "1" and "3" only.
    for (char pair : {'1', '3', '2', '4'}) {
        unsigned char *key = nullptr, *cert = nullptr;
        unsigned long keyLength = 0, certLength = 0;
        const std::string id = suite.substr(0, suite.size() - 1) + pair;
        const int rc = media.home().exportCertificateAndEncryptPrivateKey(
            &key, &keyLength, &cert, &certLength, suite.c_str(), id.c_str(), nullptr);
        if (pair == '1' || pair == '3') {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(Bytes(key, key + keyLength), file(pair == '1' ? "signPri.key" : "kmPri.key"));
        } else {
            EXPECT_EQ(rc, TOKEN_ERR_NO_CERTIFICATE);
            EXPECT_TRUE(!key && !cert);
        }
        Token::freeMemory(key, keyLength);
        Token::freeMemory(cert, 0);
    }
}

// ---- Deletion --------------------------------------------------------------------------------

TEST_F(FileTokenCopy, DeletionRemovesTheWholeSuiteAndNothingElse) {
    const fs::path other = media.homeBase() / "NPKI" / "yessign" / "USER" / "cn=other";
    const fs::path outside = media.homeBase().parent_path() / "outside";
    fs::create_directories(outside);
    testkit::writeText(outside / "keep.txt", "keep");
    Media::put(media.homeHolder(), {{"SIGNCERT.DER", file("sign.der")},
                                    {"signPri.key", file("signPri.key")},
                                    {"KmCert.der", file("km.der")},
                                    {"kmPri.key", file("kmPri.key")},
                                    {"CaPubs", file("CaPubs")},
                                    {"notes.txt", {'n'}}});
    fs::create_directory_symlink(outside, media.homeHolder() / "link");
    Media::put(other, {{"signCert.der", file("older.der")}, {"signPri.key", file("signPri.key")}});
    const fs::path gpki = media.homeBase() / "GPKI" / "Certificate" / "class2";
    Media::put(gpki, {{"김정부_sig.cer", file("gov.der")},
                      {"김정부_SIG.KEY", file("signPri.key")},
                      {"김정부_env.cer", file("gov-km.der")},
                      {"김정부_env.key", file("kmPri.key")},
                      {"other_sig.cer", file("gov.der")}});
    ASSERT_EQ(Media::list(media.home()).size(), 4u);

    EXPECT_EQ(media.home().deleteCertificate(idOf(media.homeHolder()).c_str(), nullptr), 0);
    EXPECT_FALSE(fs::exists(media.homeHolder()));
    EXPECT_TRUE(fs::exists(other / "signCert.der"));
    EXPECT_EQ(testkit::readText(outside / "keep.txt"), "keep");  // the link lost only itself
    EXPECT_EQ(media.home().deleteCertificate(idOf(media.homeHolder()).c_str(), nullptr),
              TOKEN_ERR_NO_CERTIFICATE);

    EXPECT_EQ(media.home().deleteCertificate(idOf(gpki / "김정부").c_str(), nullptr), 0);
    EXPECT_EQ(snapshot(gpki), (std::map<std::string, Bytes>{{"other_sig.cer", file("gov.der")}}));
    EXPECT_EQ(Media::list(media.home()).size(), 2u);
}

TEST_F(FileTokenCopy, DeletionRefusesWhatItDidNotList) {
    Media::put(media.homeHolder(),
               {{"signCert.der", file("sign.der")}, {"signPri.key", file("signPri.key")}});
    Media::list(media.home());
    const std::string id = idOf(media.homeHolder());
    // Renewed on disk since the listing: not deleted.
    testkit::writeBytes(media.homeHolder() / "signCert.der", file("newer.der"));
    auto tree = snapshot(media.homeBase());
    EXPECT_EQ(media.home().deleteCertificate(id.c_str(), nullptr), TOKEN_ERR_DELETE);
    EXPECT_EQ(snapshot(media.homeBase()), tree);

    // A holder folder swapped for a link after the listing: refused, nothing it leads to goes.
    testkit::writeBytes(media.homeHolder() / "signCert.der", file("sign.der"));
    Media::list(media.home());
    const fs::path elsewhere = media.homeBase().parent_path() / "elsewhere";
    fs::rename(media.homeHolder(), elsewhere);
    fs::create_directory_symlink(elsewhere, media.homeHolder());
    tree = snapshot(elsewhere);
    EXPECT_EQ(media.home().deleteCertificate(id.c_str(), nullptr), TOKEN_ERR_DELETE);
    EXPECT_EQ(snapshot(elsewhere), tree);
    EXPECT_TRUE(fs::is_symlink(media.homeHolder()));
}

// ---- Passwords and logs ----------------------------------------------------------------------

TEST(FileTokenCopyLogs, NoPasswordReachesALogOrTheOutput) {
    ASSERT_FALSE(suiteMaterial().empty());
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks c;
        // Verbose lines on: the marker exists before the first token makes the logger.
        const std::string home = std::getenv("HOME");
        fs::create_directories(home + "/Library/Ostrelworks");
        testkit::writeText(home + "/Library/Ostrelworks/Brindlow.TovelCake", "");
        const std::vector<std::string> passwords = {kPassword, "Wrong#pass123", "Import#pw777"};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        {
            Media media;
            Media::put(media.homeHolder(), {{"signCert.der", file("sign.der")},
                                            {"signPri.key", file("signPri.key")},
                                            {"kmCert.der", file("km.der")},
                                            {"kmPri.key", file("kmPri.key")}});
            Media::list(media.home());
            const std::string id = idOf(media.homeHolder());
            c.expect(copyTo(media.home(), id, media.vol(), passwords[1]) == TOKEN_ERR_WRONG_PIN,
                     "wrong password");
            c.expect(copyTo(media.home(), id, media.vol()) == 0, "copy");
            Bytes key = file("kmPri.key"), cert = file("km.der");
            auto text = [](const std::string& s) {
                return reinterpret_cast<unsigned char*>(const_cast<char*>(s.c_str()));
            };
            c.expect(media.vol().Token::importInit(text(passwords[2]), passwords[2].size(), nullptr,
                                                   InputPINHandler::InputPINPurpose(13)) == 0,
                     "importInit");
            c.expect(media.vol().importEncryptedPrivateKeyInfo(
                         text(passwords[1]), passwords[1].size(), ptr(key), key.size(), ptr(cert),
                         cert.size()) == TOKEN_ERR_KEY_DECRYPT,
                     "decryption failure");
            media.vol().Token::importFinal();
        }
        const std::string output =
            testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        std::string logs;
        for (const auto& entry : fs::recursive_directory_iterator(home + "/Library/Ostrelworks"))
            if (entry.is_regular_file()) logs += testkit::readText(entry.path());
        c.expect(logs.find("importEncryptedPrivateKeyInfo") != std::string::npos,
                 "the failure is logged");
        c.expect(logs.find("copyCertificate start") != std::string::npos, "verbose lines");
        for (const auto& p : passwords) {
            c.expect(logs.find(p) == std::string::npos, "password in the log: " + p);
            c.expect(output.find(p) == std::string::npos, "password in the output: " + p);
        }
        return c.failures;
    });
}

TEST(TokenBase64Push, DecodesBothTextsBeforeTheKindsPush) {
    FileToken token("/", "home");
    // Valid Base64 reaches the disk token, which takes no pushed certificate.
    EXPECT_EQ(token.pushCertificate(nullptr, "x1", "MIIB", "AAEC"), TOKEN_ERR_NOT_SUPPORTED);
    EXPECT_EQ(token.pushCertificate(nullptr, "x1", "MIIB", nullptr), TOKEN_ERR_NOT_SUPPORTED);
    // Text that is no Base64 stops at the decoding, with its code.
    const int rc = token.pushCertificate(nullptr, "x1", "MIIB", "not*base64!");
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, TOKEN_ERR_NOT_SUPPORTED);
}
