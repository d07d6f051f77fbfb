#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "Alert.h"
#include "CertImportController.h"
#include "CertManagerController.h"
#include "DesktopTestSupport.h"
#include "FilePanel.h"
#include "Pkcs12TestSupport.h"
#include "RightClickTableWidget.h"
#include "ScriptedToken.h"

using namespace brindlow::ui;
using namespace brindlow::test;

namespace {

const QString kDone = QStringLiteral("인증서 가져오기가 완료되었습니다.");
const QString kNoPassword = QStringLiteral("가져올 인증서의 암호를 입력해 주십시오.");
const QString kWrongPassword = QStringLiteral("가져올 인증서의 암호가 틀렸습니다.");
const QString kNotRead = QStringLiteral("인증서 파일을 읽어오지 못했습니다.");
const QString kNotCertificateFile = QStringLiteral("올바른 인증서 파일이 아닙니다.");
// Notice 53 with the line that says the file's protection is not one the medium reads.
const QString kUnsupportedProtection = QStringLiteral(
    "올바른 인증서 파일이 아닙니다. / 이 파일의 보호 방식은 지원하지 않습니다. "
    "SHA-1과 Triple DES로 보호하여 내보낸 파일은 가져올 수 있습니다.");
const QString kAsciiOnly = QStringLiteral(
    "잘못된 입력값 사용 / 새 암호에는 영문자, 숫자와 키보드의 특수문자만 사용할 수 있습니다.");
const QString kTooLong =
    QStringLiteral("잘못된 입력값 사용 / 암호는 127바이트를 넘을 수 없습니다.");
const QString kStorage = QStringLiteral("Abcdef12#$");

struct Entries {
    QString path, filePassword, pass1, pass2;
    bool same = false;
};

class CertImportControllerTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pkcs12Fixtures().empty());
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
        FilePanelSeam::reset();
        volumeId = tokenIdNamed("EMPTYVOL");
        ASSERT_GE(volumeId, 0);
        volume = testVolumes() + "/EMPTYVOL";
        // Tests of one process share the media: each starts with an empty volume.
        std::filesystem::remove_all(volume + "/NPKI");
    }
    void TearDown() override {
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
        FilePanelSeam::reset();
    }

    // Runs the dialog for the medium, fills it (the path through the open panel), confirms
    // once, and cancels when the confirm left it open. The end code.
    int confirmOnce(uint32_t tokenID, const Entries& e, bool* stayedOpen = nullptr) {
        CertImportController dialog(tokenID);
        EXPECT_FALSE(dialog.useSamePassword());
        whenModal<CertImportController>([&](CertImportController* d) {
            EXPECT_EQ(d->pfxPassTextField()->echoMode(), QLineEdit::Password);
            EXPECT_EQ(d->pass1TextField()->echoMode(), QLineEdit::Password);
            FilePanelSeam::nextFileName(e.path);
            QTest::mouseClick(d->findChild<QPushButton*>("selectFileButton"), Qt::LeftButton);
            EXPECT_EQ(d->pathTextField()->text(), e.path);
            d->pfxPassTextField()->setText(e.filePassword);
            d->pass1TextField()->setText(e.pass1);
            d->pass2TextField()->setText(e.pass2);
            if (e.same) {
                d->useSamePasswordCheckBox()->click();
                EXPECT_TRUE(d->useSamePassword());
                EXPECT_FALSE(d->pass1TextField()->isEnabled());
                EXPECT_FALSE(d->pass2TextField()->isEnabled());
            }
            QTest::mouseClick(d->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);
            if (stayedOpen != nullptr) *stayedOpen = d->isVisible();
            if (d->isVisible()) {
                EXPECT_EQ(d->pfxPassTextField()->text(), e.filePassword);
                d->cancel();
            }
        });
        const int code = dialog.runModal();
        EXPECT_TRUE(dialog.pfxPassTextField()->text().isEmpty());
        EXPECT_TRUE(dialog.pass1TextField()->text().isEmpty());
        return code;
    }

    QStringList alerts() {
        QStringList texts;
        for (const AlertRecord& r : AlertSeam::takeRecords()) {
            EXPECT_EQ(r.buttons, QStringList{QStringLiteral("확인")});
            EXPECT_EQ(r.style, AlertStyle::Informational);
            texts << r.messageText + (r.informativeText.isEmpty() ? "" : " / " + r.informativeText);
        }
        return texts;
    }

    static QString fixture(const char* name) {
        return QString::fromStdString(pkcs12Fixtures() + "/" + name);
    }

    long volumeId = -1;
    std::string volume;
};

}  // namespace

TEST_F(CertImportControllerTest, RefusedEntriesKeepTheDialogOpenAndReadNoFile) {
    // A path that does not exist: a dialog that read it would end with notice 52.
    const QString missing = QString::fromStdString(makeTempFolder("import") + "/none.p12");
    const QString p = QString::fromLatin1(kPkcs12Password);
    struct Case {
        Entries entries;
        QString shown;
    } cases[] = {
        {{missing, QString(), kStorage, kStorage}, kNoPassword},
        {{missing, QString(), QString(), QString(), true}, kNoPassword},
        {{missing, p, kStorage, QStringLiteral("Abcdef12#%")},
         QStringLiteral("입력한 두개의 비밀번호가 일치하지 않습니다.")},
        {{missing, p, QString(), QString()}, QStringLiteral("값이 입력되지 않았습니다.")},
        {{missing, p, QStringLiteral("Ab1#"), QStringLiteral("Ab1#")},
         QStringLiteral("암호는 10글자  이상 입력해 주세요.")},
        // Keys are never stored under a password other programs could not type.
        {{missing, p, QStringLiteral("Abcdef12#한"), QStringLiteral("Abcdef12#한")}, kAsciiOnly},
        {{missing, p, QStringLiteral("Abcdef12#\t$"), QStringLiteral("Abcdef12#\t$")}, kAsciiOnly},
        {{missing, QStringLiteral("비밀번호1!"), QString(), QString(), true}, kAsciiOnly},
        {{missing, QStringLiteral("Abc é12"), QString(), QString(), true}, kAsciiOnly},
        // Nothing over 127 bytes reaches a token, whether it opens the file or stores the keys.
        {{missing, QString(128, 'a'), kStorage, kStorage}, kTooLong},
        {{missing, QString(128, 'a'), QString(), QString(), true}, kTooLong},
        {{missing, QString(43, QChar(0xD55C)), kStorage, kStorage}, kTooLong},
    };
    const auto before = filesBelow(volume);
    for (const Case& c : cases) {
        bool stayedOpen = false;
        EXPECT_EQ(confirmOnce(static_cast<uint32_t>(volumeId), c.entries, &stayedOpen), -1)
            << c.shown.toStdString();
        EXPECT_TRUE(stayedOpen) << c.shown.toStdString();
        EXPECT_EQ(alerts(), QStringList{c.shown});
    }
    EXPECT_EQ(filesBelow(volume), before);
}

TEST_F(CertImportControllerTest, FilesThatAreNotReadOrNotPkcs12EndTheDialogAndWriteNothing) {
    const std::string folder = makeTempFolder("import-files");
    const std::string random = folder + "/random.p12", big = folder + "/big.p12",
                      fifo = folder + "/pipe.p12", empty = folder + "/empty.p12";
    ASSERT_EQ(shell("head -c 2000 /dev/urandom > \"$1\" && head -c 1048577 /dev/urandom > "
                    "\"$2\" && : > \"$3\"",
                    {QString::fromStdString(random), QString::fromStdString(big),
                     QString::fromStdString(empty)}),
              0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The same bytes under the limit are read: only the size refuses the big file.
    const std::string bigPfx = folder + "/big-but-pkcs12.p12";
    std::filesystem::copy_file(pkcs12Fixtures() + "/kr-a.p12", bigPfx);
    const std::string certificate = pkcs12Fixtures() + "/kr/sign.der";
    const QString p = QString::fromLatin1(kPkcs12Password);
    // kr-h.p12 is what openssl pkcs12 -export writes without options: a SHA-256 MAC, PBES2.
    QString info;
    ASSERT_EQ(shell("openssl pkcs12 -info -noout -in \"$1\" -passin \"pass:$2\" 2>&1",
                    {fixture("kr-h.p12"), p}, &info),
              0);
    ASSERT_TRUE(info.contains("MAC: sha256") && info.contains("Shrouded Keybag: PBES2"))
        << info.toStdString();
    struct Case {
        QString path;
        QString password;
        QString shown;
    } cases[] = {
        {QString::fromStdString(folder + "/none.p12"), p, kNotRead},
        {QString(), p, kNotRead},
        {QString::fromStdString(folder), p, kNotRead},
        {QString::fromStdString(fifo), p, kNotRead},
        {QString::fromStdString(big), p, kNotRead},
        {QStringLiteral("/dev/zero"), p, kNotRead},
        {QString::fromStdString(empty), p, kNotCertificateFile},
        {QString::fromStdString(random), p, kNotCertificateFile},
        {QString::fromStdString(certificate), p, kNotCertificateFile},
        {fixture("kr-a.p12"), QStringLiteral("q1w2e3r4!#"), kWrongPassword},
        {fixture("kr-b.p12"), QStringLiteral("wrong"), kWrongPassword},
        // The library does not implement the MAC of the OpenSSL 3 default: the notice says
        // so, whatever the password, since the MAC is never checked.
        {fixture("kr-h.p12"), p, kUnsupportedProtection},
        {fixture("kr-h.p12"), QStringLiteral("q1w2e3r4!#"), kUnsupportedProtection},
        // A SHA-1 MAC, but the certificates in a PBES2 EncryptedData.
        {fixture("i.p12"), p, kUnsupportedProtection},
        // Refused by the library for a bag attribute it does not read, not its protection.
        {fixture("j.p12"), p, kNotCertificateFile},
    };
    const auto before = filesBelow(volume);
    for (const Case& c : cases) {
        bool stayedOpen = true;
        EXPECT_EQ(confirmOnce(static_cast<uint32_t>(volumeId),
                              {c.path, c.password, kStorage, kStorage}, &stayedOpen),
                  0)
            << c.path.toStdString();
        EXPECT_FALSE(stayedOpen);
        EXPECT_EQ(alerts(), QStringList{c.shown}) << c.path.toStdString();
        EXPECT_EQ(filesBelow(volume), before) << c.path.toStdString();
    }
    EXPECT_FALSE(std::filesystem::exists(volume + "/NPKI"));
}

TEST_F(CertImportControllerTest, ImportedCertificateAndKeyOpenUnderTheStoragePassword) {
    struct Case {
        const char* file;
        Entries entries;
        QString opens;  // the password the stored key opens with
    } cases[] = {
        {"kr-a.p12",
         {fixture("kr-a.p12"), QString::fromLatin1(kPkcs12Password), kStorage, kStorage},
         kStorage},
        {"kr-b.p12",
         {fixture("kr-b.p12"), QString::fromLatin1(kPkcs12Password), {}, {}, true},
         QString::fromLatin1(kPkcs12Password)},
        {"kr-c.p12",
         {fixture("kr-c.p12"), QString::fromLatin1(kPkcs12Password), kStorage, kStorage},
         kStorage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::filesystem::remove_all(volume + "/NPKI");
        bool stayedOpen = true;
        EXPECT_EQ(confirmOnce(static_cast<uint32_t>(volumeId), c.entries, &stayedOpen), 0);
        EXPECT_FALSE(stayedOpen);
        EXPECT_EQ(alerts(), QStringList{kDone});
        const auto holders = holderFolders(volume);
        ASSERT_EQ(holders.size(), 1u);
        const std::string holder = holders.begin()->first;
        // The certificate as in the file, its key opening under the storage password only.
        EXPECT_TRUE(holders.begin()->second == fileBytes(pkcs12Fixtures() + "/kr/sign.der"));
        QString publicKey;
        EXPECT_TRUE(keyFileOpens(holder + "/signPri.key", c.opens, &publicKey));
        EXPECT_EQ(publicKey, certificatePublicKey(holder + "/signCert.der"));
        EXPECT_FALSE(keyFileOpens(holder + "/signPri.key", QStringLiteral("Wrong#pass123")));
    }
}

TEST_F(CertImportControllerTest, SamePasswordTakesAShortFilePasswordWithoutTheRules) {
    const std::string folder = makeTempFolder("import-short");
    const std::string file = folder + "/short.p12";
    const std::string kit = pkcs12Fixtures() + "/kr";
    ASSERT_EQ(shell("openssl pkcs12 -export -inkey \"$1/sign.key\" -in \"$1/sign.pem\" "
                    "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -passout pass:ab12! "
                    "-out \"$2\"",
                    {QString::fromStdString(kit), QString::fromStdString(file)}),
              0);
    // Without "same password" the storage pair follows the rules.
    EXPECT_EQ(confirmOnce(static_cast<uint32_t>(volumeId),
                          {QString::fromStdString(file), QStringLiteral("ab12!"),
                           QStringLiteral("ab12!"), QStringLiteral("ab12!")}),
              -1);
    EXPECT_EQ(alerts(), QStringList{QStringLiteral("암호는 10글자  이상 입력해 주세요.")});
    EXPECT_EQ(confirmOnce(static_cast<uint32_t>(volumeId),
                          {QString::fromStdString(file), QStringLiteral("ab12!"), {}, {}, true}),
              0);
    EXPECT_EQ(alerts(), QStringList{kDone});
    const auto holders = holderFolders(volume);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_TRUE(keyFileOpens(holders.begin()->first + "/signPri.key", QStringLiteral("ab12!")));
}

TEST_F(CertImportControllerTest, AMediumThatCannotOpenAnImportStopsTheDialog) {
    ScriptedToken& token = ScriptedToken::instance();
    token.reset();
    bool stayedOpen = true;
    EXPECT_EQ(
        confirmOnce(token.id,
                    {fixture("kr-a.p12"), QString::fromLatin1(kPkcs12Password), kStorage, kStorage},
                    &stayedOpen),
        0);
    EXPECT_FALSE(stayedOpen);
    EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서를 가져오지 못했습니다. / 이 매체에서는 "
                                                   "지원하지 않는 기능입니다.")});
}

TEST_F(CertImportControllerTest, ReadsOnlyRegularFilesUpToOneMebibyte) {
    const std::string folder = makeTempFolder("import-read");
    QByteArray bytes;
    const std::string exact = folder + "/exact";
    std::ofstream(exact, std::ios::binary) << std::string(CertImportController::kMaxFileSize, 'x');
    EXPECT_TRUE(CertImportController::readImportFile(QString::fromStdString(exact), &bytes));
    EXPECT_EQ(bytes.size(), CertImportController::kMaxFileSize);
    std::ofstream(exact, std::ios::app | std::ios::binary) << 'y';
    EXPECT_FALSE(CertImportController::readImportFile(QString::fromStdString(exact), &bytes));
    EXPECT_TRUE(bytes.isEmpty());
    // A link to a regular file is read; one to a folder is not.
    std::filesystem::create_symlink(exact, folder + "/link");
    std::filesystem::resize_file(exact, 10);
    EXPECT_TRUE(
        CertImportController::readImportFile(QString::fromStdString(folder + "/link"), &bytes));
    EXPECT_EQ(bytes, QByteArray(10, 'x'));
    std::filesystem::create_directory_symlink(folder, folder + "/dirlink");
    EXPECT_FALSE(
        CertImportController::readImportFile(QString::fromStdString(folder + "/dirlink"), &bytes));
}

TEST_F(CertImportControllerTest, ManagerShowsMessage45OnCancelAndRebuildsTheListOtherwise) {
    ScriptedToken& token = ScriptedToken::instance();
    token.reset();
    CertManagerController manager;
    manager.didEndSheet(static_cast<int>(token.id));
    AlertSeam::takeRecords();
    // Works without a selected row.
    manager.certTableView()->clearSelection();
    const int listed = token.listCalls;
    whenModal<CertImportController>([](CertImportController* d) {
        QTest::mouseClick(d->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    manager.importCert();
    EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서 가져오기가 취소되었습니다.")});
    EXPECT_EQ(token.listCalls, listed);
    whenModal<CertImportController>([](CertImportController* d) { d->close(); });
    manager.importCert();
    EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서 가져오기가 취소되었습니다.")});

    // An attempt that ended the dialog: the list is read again.
    whenModal<CertImportController>([&](CertImportController* d) {
        d->pathTextField()->setText(fixture("kr-a.p12"));
        d->pfxPassTextField()->setText(QString::fromLatin1(kPkcs12Password));
        d->pass1TextField()->setText(kStorage);
        d->pass2TextField()->setText(kStorage);
        d->confirm();
    });
    manager.importCert();
    EXPECT_EQ(alerts().size(), 1);
    EXPECT_EQ(token.listCalls, listed + 1);

    // On a disk medium the new row shows.
    manager.didEndSheet(static_cast<int>(volumeId));
    ASSERT_EQ(manager.certArray().size(), 0);
    whenModal<CertImportController>([&](CertImportController* d) {
        d->pathTextField()->setText(fixture("kr-a.p12"));
        d->pfxPassTextField()->setText(QString::fromLatin1(kPkcs12Password));
        d->pass1TextField()->setText(kStorage);
        d->pass2TextField()->setText(kStorage);
        d->confirm();
    });
    manager.importCert();
    EXPECT_EQ(alerts(), QStringList{kDone});
    ASSERT_EQ(manager.certArray().size(), 1);
    EXPECT_TRUE(manager.certArray()[0].displayText.startsWith(QStringLiteral("홍길동()0011\n")));
    EXPECT_EQ(manager.certTableView()->rowCount(), 1);
}
