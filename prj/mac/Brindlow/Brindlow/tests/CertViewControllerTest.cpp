#include <gtest/gtest.h>

#include <QFile>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

#include "CertViewController.h"
#include "DesktopTestSupport.h"
#include "RightClickTableWidget.h"

using brindlow::test::fixturePath;

namespace {

QByteArray readFixture(const std::string& name) {
    QFile file(QString::fromStdString(fixturePath(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// What the openssl command line says about an extension of a fixture, as one upper-case hex
// string (the key identifiers).
QString opensslKeyId(const std::string& fixture, const char* extension) {
    QProcess openssl;
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("x509"), QStringLiteral("-inform"), QStringLiteral("DER"),
         QStringLiteral("-in"), QString::fromStdString(fixturePath(fixture)),
         QStringLiteral("-noout"), QStringLiteral("-ext"), QString::fromLatin1(extension)});
    openssl.waitForFinished(30000);
    const QStringList lines = QString::fromUtf8(openssl.readAllStandardOutput()).split('\n');
    return lines.size() > 1
               ? lines[1].trimmed().remove(':').remove(QStringLiteral("keyid")).toUpper()
               : QString();
}

const char* const kNames[] = {
    "버전",   "일련번호",        "서명알고리즘", "발급자",     "다음부터 유효함", "다음까지 유효함",
    "주체",   "공개키 알고리즘", "공개키",       "서명",       "키고유번호",      "인증서정책",
    "키사용", "주체 대체 이름",  "분배점",       "사용자알림", "기관정보 액세스",
};

}  // namespace

TEST(CertViewControllerTest, ShowsEveryFieldOfAVersion3CertificateWithExtensions) {
    CertViewController view(readFixture("full.der"));
    ASSERT_EQ(view.numberOfRows(), 17);
    for (int row = 0; row < 17; ++row) {
        EXPECT_EQ(view.certInfoName()[row], QString::fromUtf8(kNames[row]));
        EXPECT_FALSE(view.certInfo()[row].isEmpty()) << kNames[row];
    }
    const QStringList& v = view.certInfo();
    EXPECT_EQ(v[0], QStringLiteral("2"));
    EXPECT_EQ(v[1], QStringLiteral("1001"));
    EXPECT_EQ(v[2], QStringLiteral("SHA256 With RSA Encryption"));
    EXPECT_TRUE(v[3].contains(QStringLiteral("Brindlow Test CA"))) << v[3].toStdString();
    EXPECT_EQ(v[4], QStringLiteral("20250101000000"));
    EXPECT_EQ(v[5], QStringLiteral("20280301235959"));
    EXPECT_TRUE(v[6].startsWith(QStringLiteral("CN=홍길동()0011"))) << v[6].toStdString();
    EXPECT_EQ(v[7], QStringLiteral("RSA Encryption"));
    // The RSA public key: SEQUENCE { 2048-bit modulus, exponent 65537 } in hexadecimal.
    EXPECT_TRUE(v[8].startsWith(QStringLiteral("3082010A0282010100"))) << v[8].toStdString();
    EXPECT_TRUE(v[8].endsWith(QStringLiteral("0203010001")));
    EXPECT_EQ(v[8].size(), 2 * 270);
    // "서명" shows the algorithm inside the signed part, not the signature value.
    EXPECT_EQ(v[9], QStringLiteral("SHA256 With RSA Encryption"));
    const QString authorityKeyId = opensslKeyId("full.der", "authorityKeyIdentifier");
    ASSERT_EQ(authorityKeyId.size(), 40);
    EXPECT_EQ(v[10], QStringLiteral("KeyIdentifier(") + authorityKeyId + QStringLiteral("), "));
    EXPECT_EQ(v[11], QStringLiteral("1.2.410.200005.1.1.1,http://ca.example.kr/cps.html,\n"));
    EXPECT_EQ(v[12], QStringLiteral("digitalSignature,nonRepudiation,"));
    EXPECT_EQ(v[13], QStringLiteral("realName(홍길동)virtualID(SHA256,"
                                    "00112233445566778899AABBCCDDEEFF"
                                    "00112233445566778899AABBCCDDEEFF)"));
    EXPECT_EQ(v[14], QStringLiteral("dp:http://crl.example.kr/dp5p42.crl"));
    EXPECT_EQ(v[15], QStringLiteral("개인용 범용 인증서\n"));
    EXPECT_EQ(v[16], QStringLiteral("CAIssuers:http://ca.example.kr/ca.der"
                                    "OCSP:http://ocsp.example.kr:4612"));
}

TEST(CertViewControllerTest, CertificateWithoutExtensionsLeavesTheExtensionRowsEmpty) {
    CertViewController view(readFixture("v1.der"));
    ASSERT_EQ(view.numberOfRows(), 17);
    for (int row = 0; row < 10; ++row) EXPECT_FALSE(view.certInfo()[row].isEmpty()) << kNames[row];
    for (int row = 10; row < 17; ++row) EXPECT_TRUE(view.certInfo()[row].isEmpty()) << kNames[row];
    EXPECT_EQ(view.certInfo()[0], QStringLiteral("1"));
}

TEST(CertViewControllerTest, BytesThatDoNotDecodeShowEveryValueEmpty) {
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("not a certificate"), readFixture("full.der").left(200)}) {
        CertViewController view(bytes);
        ASSERT_EQ(view.numberOfRows(), 17);
        for (int row = 0; row < 17; ++row) EXPECT_TRUE(view.certInfo()[row].isEmpty()) << row;
        EXPECT_EQ(view.certDetailTableView()->rowCount(), 17);
    }
}

TEST(CertViewControllerTest, OverlongHostileValuesAreCutWithinTheirBuffers) {
    // The subject (a 379-byte common name with a line break and markup, and a 600-character
    // unit) and the notice do not fit their 512-byte buffers.
    CertViewController view(readFixture("hostile.der"));
    ASSERT_EQ(view.numberOfRows(), 17);
    for (int row = 0; row < 17; ++row) {
        const QByteArray utf8 = view.certInfo()[row].toUtf8();
        EXPECT_LT(utf8.size(), row == 8 ? 8192 : 512) << kNames[row];
        EXPECT_FALSE(view.certInfo()[row].contains(QChar(0xFFFD))) << kNames[row];
    }
    // One line per value in the table; the text view gets the value as it is.
    for (int row = 0; row < 17; ++row)
        EXPECT_FALSE(view.certDetailTableView()->item(row, 1)->text().contains('\n')) << row;
}

TEST(CertViewControllerTest, WindowShowsNamesAndValuesAndAClickedValueWhole) {
    CertViewController view(readFixture("full.der"));
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("인증서 상세보기"));
    auto* table = view.certDetailTableView();
    ASSERT_EQ(table->rowCount(), 17);
    EXPECT_EQ(table->item(6, 0)->text(), QStringLiteral("주체"));
    EXPECT_EQ(view.objectValue(QStringLiteral("name"), 6), QStringLiteral("주체"));
    EXPECT_EQ(view.objectValue(QStringLiteral("value"), 0), QStringLiteral("2"));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("2"));

    const QPoint keyRow = table->visualRect(table->model()->index(8, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, keyRow);
    EXPECT_EQ(view.certDetailTextView()->toPlainText(), view.certInfo()[8]);

    // A click below the last row leaves the text as it is.
    table->resize(table->width(), 2000);
    view.resize(view.width(), 2200);
    const QPoint below(10, table->viewport()->height() - 3);
    ASSERT_EQ(table->rowAt(below.y()), -1);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(view.certDetailTextView()->toPlainText(), view.certInfo()[8]);
}
