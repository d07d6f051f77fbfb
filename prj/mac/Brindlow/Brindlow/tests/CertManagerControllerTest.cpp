#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "Alert.h"
#include "CertManagerController.h"
#include "CertViewController.h"
#include "DesktopTestSupport.h"
#include "Images.h"
#include "ManagerInputPINWindowController.h"
#include "MediumSelectController.h"
#include "RightClickTableWidget.h"
#include "ScriptedToken.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"

using namespace brindlow::ui;
using brindlow::test::testHome;
using brindlow::test::testVolumes;
using brindlow::test::whenModal;

namespace {

struct ExpectedRow {
    int group;
    const char* commonName;
    const char* validTo;
    const char* notice;
};

// The home folder of the fixture script, in the order the listing scans the authority folders.
const ExpectedRow kHomeRows[] = {
    {5, "홍길동()0011", "20280301235959", "개인용 범용 인증서"},
    {5, "박민수()0042", "20270615120000", "두 정책 인증서"},
    {0, "최수진", "20290101000000", "알 수 없는 정책"},
    {1, "김철수", "20271231145959", "법인범용"},
    {2, "Lee Soyoung", "20261010101010", "KICA personal"},
    {0, "Version One", "20300101000000", ""},
    // A name and a notice with line breaks and markup, shown on one line each as plain text.
    {3, "<b>굵게</b> 둘째 줄", "20280101000000", "first line second line"},
};
// Names and a notice longer than the listing's fields: the token hands them out empty.
constexpr int kOverlongRow = 7;
constexpr int kHomeRowCount = 8;

const QString kSelectCertificate = QStringLiteral("인증서를 선택하십시오.");

class CertManagerControllerTest : public testing::Test {
  protected:
    void SetUp() override {
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
        manager = std::make_unique<CertManagerController>();
        table = manager->certTableView();
        manager->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(manager.get()));
    }
    void TearDown() override {
        manager.reset();
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
    }

    // The messages of the alerts shown since the last call.
    QStringList alerts() {
        QStringList texts;
        for (const AlertRecord& r : AlertSeam::takeRecords()) texts << r.messageText;
        return texts;
    }

    QPoint rowPoint(int row) { return table->visualRect(table->model()->index(row, 0)).center(); }
    QPoint emptySpace() {
        // The table is tall enough for its rows and some empty space below them.
        manager->resize(manager->width(), 1400);
        QApplication::processEvents();
        return QPoint(20, table->viewport()->height() - 4);
    }

    void chooseRemovableDisk(const QString& name) {
        whenModal<USBSelectController>([name](USBSelectController* sheet) {
            for (int row = 0; row < sheet->rows().size(); ++row)
                if (sheet->rows()[row].name == name) sheet->tableView()->selectRowAlone(row);
            QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        });
        QTest::mouseClick(manager->viewWithTag(2), Qt::LeftButton);
    }

    std::unique_ptr<CertManagerController> manager;
    RightClickTableWidget* table = nullptr;
};

QImage imageOf(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

TEST_F(CertManagerControllerTest, ListsTheHomeFolderWithIconSubjectExpiryAndNotice) {
    const auto& rows = manager->certArray();
    ASSERT_EQ(rows.size(), kHomeRowCount);
    ASSERT_EQ(table->rowCount(), kHomeRowCount);
    for (int i = 0; i < static_cast<int>(std::size(kHomeRows)); ++i) {
        const ExpectedRow& e = kHomeRows[i];
        EXPECT_EQ(rows[i].group, e.group) << e.commonName;
        EXPECT_EQ(rows[i].displayText, QString::fromUtf8(e.commonName) + '\n' +
                                           QString::fromUtf8(e.validTo) + '\n' +
                                           QString::fromUtf8(e.notice));
        EXPECT_EQ(table->item(i, 0)->text(), rows[i].displayText);
        EXPECT_EQ(imageOf(table->item(i, 0)->icon()),
                  imageOf(iconNamed(CertManagerController::authorityIconName(e.group))))
            << e.commonName;
        EXPECT_EQ(rows[i].itemId.size(), 41u);
        EXPECT_EQ(rows[i].itemId.back(), '1');
    }
    EXPECT_EQ(manager->selectedTokenID(), 0u);
    EXPECT_EQ(manager->selectedButtonTag(), 1);
    EXPECT_FALSE(manager->isHidden());
}

TEST_F(CertManagerControllerTest, OverlongNamesStillGiveThreeLines) {
    const QString text = manager->certArray()[kOverlongRow].displayText;
    const QStringList lines = text.split('\n');
    ASSERT_EQ(lines.size(), 3) << text.toStdString();
    EXPECT_LE(lines[0].toUtf8().size(), 255);
    EXPECT_FALSE(lines[0].contains(QChar(0xFFFD)));
    EXPECT_EQ(lines[1], QStringLiteral("20280202000000"));
    EXPECT_LE(lines[2].toUtf8().size(), 255);
    EXPECT_EQ(manager->certArray()[kOverlongRow].group, 3);
}

TEST_F(CertManagerControllerTest, PolicyGroupsComeFromTheFirstOidOfThePolicyText) {
    struct Case {
        const char* policy;
        int group;
    } cases[] = {
        {"1.2.410.200005.1.1.5", 5},      {"1.2.410.200005.1.1.1,1.2.3.4,\n", 5},
        {"1.2.410.200004.5.4.1.109,", 1}, {"1.2.410.200004.5.2.1.7.3,", 2},
        {"1.2.410.200004.5.1.1.9,", 3},   {"1.2.410.200012.11.44,", 4},
        {"1.2.410.200005.1.1.6.2", 5},    {"1.2.410.200005.1.1.6", 0},
        {"1.2.410.200004.5.4.1.1.1,", 0}, {"", 0},
        {",1.2.410.200005.1.1.1", 0},     {"1.2.3.4,1.2.410.200005.1.1.1", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CertManagerController::groupOfPolicy(QString::fromLatin1(c.policy)), c.group)
            << c.policy;
    EXPECT_EQ(CertManagerController::authorityIconName(5), QStringLiteral("ico_cert_yessign"));
    EXPECT_EQ(CertManagerController::authorityIconName(0), QStringLiteral("ico_cert_unknown"));
    EXPECT_TRUE(CertManagerController::authorityIconName(6).isEmpty());
    EXPECT_TRUE(CertManagerController::authorityIconName(-1).isEmpty());
}

TEST_F(CertManagerControllerTest, EveryActionWithoutASelectedRowShowsMessage20Only) {
    table->clearSelection();
    AlertSeam::takeRecords();
    for (const char* action :
         {"showDetail", "deleteCert", "copyCert", "changeCertPassword", "exportCert"}) {
        ASSERT_TRUE(QMetaObject::invokeMethod(manager.get(), action)) << action;
        const auto records = AlertSeam::takeRecords();
        ASSERT_EQ(records.size(), 1u) << action;
        EXPECT_EQ(records[0].messageText, kSelectCertificate) << action;
        EXPECT_EQ(records[0].buttons, QStringList{QStringLiteral("확인")}) << action;
        EXPECT_EQ(records[0].style, AlertStyle::Informational);
    }
    EXPECT_EQ(manager->certView(), nullptr);
}

TEST_F(CertManagerControllerTest, DoubleClickOpensTheRowsDetailAndOnEmptySpaceShowsMessage20) {
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rowPoint(3));
    ASSERT_NE(manager->certView(), nullptr);
    EXPECT_TRUE(manager->certView()->isVisible());
    EXPECT_EQ(manager->certView()->numberOfRows(), 17);
    EXPECT_TRUE(manager->certView()->certInfo()[6].startsWith(QStringLiteral("CN=김철수")));
    EXPECT_TRUE(alerts().isEmpty());

    CertViewController* first = manager->certView();
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, emptySpace());
    EXPECT_EQ(alerts(), QStringList{kSelectCertificate});
    EXPECT_EQ(manager->certView(), first);
}

TEST_F(CertManagerControllerTest, ASecondDetailReplacesTheKeptOneWhileTheFirstStaysOnScreen) {
    table->selectRowAlone(0);
    manager->showDetail();
    QPointer<CertViewController> first = manager->certView();
    ASSERT_NE(first, nullptr);
    table->selectRowAlone(1);
    manager->showDetail();
    ASSERT_NE(manager->certView(), nullptr);
    EXPECT_NE(manager->certView(), first.data());
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(manager->certView()->certInfo()[6].startsWith(QStringLiteral("CN=박민수")));
    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);  // closed windows release themselves
}

TEST_F(CertManagerControllerTest, RightClickSelectsTheRowForTheMenusActions) {
    auto rightClick = [&](const QPoint& p) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, p, table->viewport()->mapToGlobal(p));
        QApplication::sendEvent(table->viewport(), &event);
    };
    table->selectRowAlone(0);
    rightClick(rowPoint(4));
    EXPECT_EQ(table->selectedRow(), 4);
    EXPECT_TRUE(manager->certMenu()->isVisible());
    manager->certMenu()->actions().first()->trigger();  // "인증서 보기"
    manager->certMenu()->hide();
    ASSERT_NE(manager->certView(), nullptr);
    EXPECT_TRUE(manager->certView()->certInfo()[6].startsWith(QStringLiteral("CN=Lee Soyoung")));

    rightClick(emptySpace());
    EXPECT_EQ(table->selectedRow(), -1);
    AlertSeam::takeRecords();
    for (QAction* action : manager->certMenu()->actions()) {
        if (action->isSeparator() || action->text() == QStringLiteral("인증서 가져오기")) continue;
        action->trigger();
    }
    manager->certMenu()->hide();
    const QStringList shown = alerts();
    EXPECT_EQ(shown.size(), 5);
    for (const QString& text : shown) EXPECT_EQ(text, kSelectCertificate);
}

TEST_F(CertManagerControllerTest, RemovableDiskListsTheChosenVolumeAndSwapsTheButtonImages) {
    chooseRemovableDisk(QStringLiteral("USBDISK"));
    ASSERT_EQ(manager->certArray().size(), 1);
    EXPECT_EQ(manager->certArray()[0].displayText,
              QStringLiteral("이영희()0077\n20270707070707\n트레이드 개인범용"));
    EXPECT_EQ(manager->certArray()[0].group, 4);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(manager->selectedButtonTag(), 2);
    EXPECT_NE(manager->selectedTokenID(), 0u);
    EXPECT_EQ(imageOf(manager->viewWithTag(2)->icon()),
              imageOf(iconNamed(QStringLiteral("ico_usb"))));
    EXPECT_EQ(imageOf(manager->viewWithTag(1)->icon()),
              imageOf(iconNamed(QStringLiteral("ico_computer_green"))));

    QTest::mouseClick(manager->viewWithTag(1), Qt::LeftButton);
    EXPECT_EQ(manager->certArray().size(), kHomeRowCount);
    EXPECT_EQ(manager->selectedTokenID(), 0u);
    EXPECT_EQ(manager->selectedButtonTag(), 1);
    EXPECT_EQ(imageOf(manager->viewWithTag(1)->icon()),
              imageOf(iconNamed(QStringLiteral("ico_computer"))));
    EXPECT_EQ(imageOf(manager->viewWithTag(2)->icon()),
              imageOf(iconNamed(QStringLiteral("ico_usb_green"))));
}

TEST_F(CertManagerControllerTest, RemovableDiskSheetListsOnlyTheVolumes) {
    QStringList names;
    whenModal<USBSelectController>([&](USBSelectController* sheet) {
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        EXPECT_FALSE(sheet->confirmButton()->isEnabled());
        for (const auto& row : sheet->rows()) names << row.name;
        sheet->cancel();
    });
    QTest::mouseClick(manager->viewWithTag(2), Qt::LeftButton);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("EMPTYVOL"), QStringLiteral("USBDISK")}));
}

TEST_F(CertManagerControllerTest, CancellingOrClosingTheSheetKeepsTheListAndButtons) {
    chooseRemovableDisk(QStringLiteral("USBDISK"));
    const uint32_t usb = manager->selectedTokenID();
    ASSERT_EQ(manager->certArray().size(), 1);

    struct Case {
        const char* what;
        std::function<void(USBSelectController*)> end;
    } cases[] = {
        {"cancel", [](USBSelectController* s) { s->cancel(); }},
        {"window closed", [](USBSelectController* s) { s->close(); }},
        {"Escape", [](USBSelectController* s) { QTest::keyClick(s, Qt::Key_Escape); }},
        {"confirm without a row",
         [](USBSelectController* s) {
             s->tableView()->clearSelection();
             s->confirm();
             EXPECT_TRUE(s->isVisible());
             s->close();
         }},
    };
    for (const Case& c : cases) {
        whenModal<USBSelectController>(c.end);
        QTest::mouseClick(manager->viewWithTag(2), Qt::LeftButton);
        // A dismissed sheet never reads as token 0, the home folder.
        EXPECT_EQ(manager->selectedTokenID(), usb) << c.what;
        EXPECT_EQ(manager->certArray().size(), 1) << c.what;
        EXPECT_EQ(manager->selectedButtonTag(), 2) << c.what;
        EXPECT_EQ(imageOf(manager->viewWithTag(2)->icon()),
                  imageOf(iconNamed(QStringLiteral("ico_usb"))))
            << c.what;
        EXPECT_EQ(imageOf(manager->viewWithTag(1)->icon()),
                  imageOf(iconNamed(QStringLiteral("ico_computer_green"))))
            << c.what;
    }
    EXPECT_TRUE(alerts().isEmpty());
}

TEST_F(CertManagerControllerTest, DeleteAsksFirstAndACancelChangesNothing) {
    table->selectRowAlone(0);
    const std::string itemId = manager->certArray()[0].itemId;
    AlertSeam::takeRecords();
    AlertSeam::answerNext(1);  // "취소"
    manager->deleteCert();
    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].messageText, QStringLiteral("인증서를 삭제하시겠습니까?"));
    EXPECT_EQ(records[0].buttons, (QStringList{QStringLiteral("확인"), QStringLiteral("취소")}));
    EXPECT_EQ(records[0].style, AlertStyle::Warning);
    EXPECT_EQ(records[1].messageText, QStringLiteral("인증서 삭제가 취소되었습니다."));
    EXPECT_EQ(records[1].buttons, QStringList{QStringLiteral("확인")});
    EXPECT_EQ(manager->certArray().size(), kHomeRowCount);
    EXPECT_EQ(manager->certArray()[0].itemId, itemId);
    EXPECT_TRUE(std::filesystem::exists(testHome() +
                                        "/Library/Preferences/NPKI/yessign/USER/"
                                        "cn=hong,ou=personal4IB,o=yessign,c=kr/signCert.der"));
}

TEST_F(CertManagerControllerTest, CopySheetListsEveryOtherDiskAndItsCancelsShowMessage26) {
    const QString cancelled = QStringLiteral("인증서 복사가 취소되었습니다.");
    table->selectRowAlone(0);
    QStringList names;
    whenModal<CopySelectController>([&](CopySelectController* sheet) {
        for (const auto& row : sheet->rows()) names << row.name;
        sheet->cancel();
    });
    manager->copyCert();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("EMPTYVOL"), QStringLiteral("USBDISK")}));
    EXPECT_EQ(alerts(), QStringList{cancelled});

    // The prompt's cancel reads the same as the sheet's.
    whenModal<CopySelectController>([&](CopySelectController* sheet) {
        sheet->tableView()->selectRowAlone(0);
        whenModal<ManagerInputPINWindowController>(
            [](ManagerInputPINWindowController* prompt) { prompt->cancel(); });
        sheet->confirm();
    });
    manager->copyCert();
    EXPECT_EQ(alerts(), QStringList{cancelled});

    // Closing the sheet's window is a cancel too, not a copy to token 0.
    whenModal<CopySelectController>([](CopySelectController* sheet) { sheet->close(); });
    manager->copyCert();
    EXPECT_EQ(alerts(), QStringList{cancelled});
}

TEST_F(CertManagerControllerTest, CopySourceOnAVolumeOffersTheHomeFolder) {
    chooseRemovableDisk(QStringLiteral("USBDISK"));
    table->selectRowAlone(0);
    QStringList names;
    whenModal<CopySelectController>([&](CopySelectController* sheet) {
        for (const auto& row : sheet->rows()) names << row.name;
        sheet->cancel();
    });
    manager->copyCert();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("EMPTYVOL"), QStringLiteral("사용자 홈")}));
}

TEST_F(CertManagerControllerTest, CopyPasswordThatNoTokenBufferHoldsFailsWithoutATry) {
    const std::filesystem::path target = testVolumes() + "/EMPTYVOL";
    for (const QString& entry :
         {QStringLiteral("비밀번호123456"), QString(128, QLatin1Char('a'))}) {
        table->selectRowAlone(0);
        whenModal<CopySelectController>([&](CopySelectController* sheet) {
            for (int row = 0; row < sheet->rows().size(); ++row)
                if (sheet->rows()[row].name == QStringLiteral("EMPTYVOL"))
                    sheet->tableView()->selectRowAlone(row);
            whenModal<ManagerInputPINWindowController>(
                [entry](ManagerInputPINWindowController* prompt) {
                    EXPECT_EQ(prompt->pin()->echoMode(), QLineEdit::Password);
                    prompt->pin()->setText(entry);
                    prompt->click();
                });
            sheet->confirm();
        });
        manager->copyCert();
        EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서 복사중 문제가 발생하였습니다.")});
        EXPECT_FALSE(std::filesystem::exists(target / "NPKI"));
    }
}

TEST_F(CertManagerControllerTest, QuittingWhileTheSheetIsUpEndsCleanlyAndChangesNothing) {
    AlertSeam::reset();  // alerts run for real: a quitting run answers none of them
    AlertSeam::startRecording();
    QTimer::singleShot(0, qApp, [&] {
        whenModal<USBSelectController>([](USBSelectController* sheet) {
            sheet->tableView()->selectRowAlone(0);
            QCoreApplication::exit(0);
        });
        manager->chooseMedium(2);
    });
    QApplication::exec();
    EXPECT_EQ(manager->selectedTokenID(), 0u);
    EXPECT_EQ(manager->certArray().size(), kHomeRowCount);

    // A delete confirmation that the quit ends deletes nothing.
    table->selectRowAlone(0);
    QTimer::singleShot(0, qApp, [&] {
        whenModal<QMessageBox>([](QMessageBox*) { QCoreApplication::exit(0); });
        manager->deleteCert();
    });
    QApplication::exec();
    EXPECT_EQ(manager->certArray().size(), kHomeRowCount);
    EXPECT_TRUE(std::filesystem::exists(testHome() +
                                        "/Library/Preferences/NPKI/yessign/USER/"
                                        "cn=hong,ou=personal4IB,o=yessign,c=kr/signCert.der"));
}

namespace {

const QString kNotSupported = QStringLiteral("이 매체에서는 지원하지 않는 기능입니다.");

// Alerts as "message / informative text".
QStringList alertLines() {
    QStringList lines;
    for (const AlertRecord& r : AlertSeam::takeRecords())
        lines << r.messageText + (r.informativeText.isEmpty() ? "" : " / " + r.informativeText);
    return lines;
}

}  // namespace

TEST_F(CertManagerControllerTest, DeleteShowsTheTokensResultAndRebuildsTheListWhatever_it_is) {
    ScriptedToken& token = ScriptedToken::instance();
    struct Case {
        int result;
        QString notice;
        int rowsAfter;
    } cases[] = {
        {0, QStringLiteral("인증서 삭제가 완료되었습니다."), 0},
        {TOKEN_ERR_DELETE, QStringLiteral("인증서 삭제중 문제가 발생하였습니다."), 1},
        {TOKEN_ERR_NOT_SUPPORTED,
         QStringLiteral("인증서 삭제중 문제가 발생하였습니다. / ") + kNotSupported, 1},
    };
    for (const Case& c : cases) {
        token.reset();
        token.deleteResult = c.result;
        manager->didEndSheet(static_cast<int>(token.id));
        ASSERT_EQ(manager->certArray().size(), 1);
        table->selectRowAlone(0);
        const int listed = token.listCalls;
        AlertSeam::takeRecords();
        manager->deleteCert();
        EXPECT_EQ(alertLines(),
                  (QStringList{QStringLiteral("인증서를 삭제하시겠습니까?"), c.notice}));
        EXPECT_EQ(token.deletedItems, std::vector<std::string>{ScriptedToken::kItemId});
        EXPECT_EQ(token.listCalls, listed + 1);
        EXPECT_EQ(manager->certArray().size(), c.rowsAfter);
    }
    // A cancelled delete neither deletes nor lists again.
    token.reset();
    manager->didEndSheet(static_cast<int>(token.id));
    table->selectRowAlone(0);
    const int listed = token.listCalls;
    AlertSeam::answerNext(1);
    manager->deleteCert();
    EXPECT_TRUE(token.deletedItems.empty());
    EXPECT_EQ(token.listCalls, listed);
}

TEST_F(CertManagerControllerTest, CopyHandsTheEnteredPasswordAndTargetToTheSourceToken) {
    ScriptedToken& token = ScriptedToken::instance();
    struct Case {
        int result;
        QString notice;
    } cases[] = {
        {0, QStringLiteral("인증서 복사가 완료되었습니다.")},
        {TOKEN_ERR_WRONG_PIN, QStringLiteral("인증서 복사중 문제가 발생하였습니다.")},
        {TOKEN_ERR_NOT_SUPPORTED,
         QStringLiteral("인증서 복사중 문제가 발생하였습니다. / ") + kNotSupported},
        {TOKEN_ERR_STORED_NEWER, QStringLiteral("인증서 복사중 문제가 발생하였습니다. / ") +
                                     QStringLiteral("대상 매체에 같은 사용자의 더 최근 인증서가 "
                                                    "있어 복사하지 않았습니다.")},
    };
    for (const Case& c : cases) {
        token.reset();
        token.copyResult = c.result;
        manager->didEndSheet(static_cast<int>(token.id));
        table->selectRowAlone(0);
        const int listed = token.listCalls;
        QStringList names;
        uint32_t target = 0;
        whenModal<CopySelectController>([&](CopySelectController* sheet) {
            for (int row = 0; row < sheet->rows().size(); ++row) {
                names << sheet->rows()[row].name;
                if (sheet->rows()[row].name == QStringLiteral("EMPTYVOL")) {
                    sheet->tableView()->selectRowAlone(row);
                    target = sheet->rows()[row].tokenID;
                }
            }
            whenModal<ManagerInputPINWindowController>([](ManagerInputPINWindowController* p) {
                p->pin()->setText(QStringLiteral("Brindlow#1234"));
                QTest::mouseClick(p->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);
            });
            QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        });
        AlertSeam::takeRecords();
        manager->copyCert();
        EXPECT_EQ(alertLines(), QStringList{c.notice});
        names.sort();
        // Every disk is a target of a medium that is not a disk.
        EXPECT_EQ(names, (QStringList{QStringLiteral("EMPTYVOL"), QStringLiteral("USBDISK"),
                                      QStringLiteral("사용자 홈")}));
        ASSERT_EQ(token.copies.size(), 1u);
        Token* expectedTarget = nullptr;
        TokenManagerUtil::getTokenMaster()->getToken(target, &expectedTarget);
        EXPECT_EQ(token.copies[0].itemId, ScriptedToken::kItemId);
        EXPECT_EQ(token.copies[0].password, "Brindlow#1234");
        EXPECT_EQ(token.copies[0].handlerResult, 0);
        EXPECT_EQ(token.copies[0].destination, expectedTarget);
        // Keep-newer: the window never replaces a newer certificate on the target.
        EXPECT_EQ(token.copies[0].flags, 1u);
        EXPECT_EQ(token.listCalls, listed);  // a copy does not list the medium again
    }
}

TEST_F(CertManagerControllerTest, TheDiskTokenDeletesAndCopiesForReal) {
    const std::string npki = testHome() + "/Library/Preferences/NPKI";
    const std::string folder = npki + "/TradeSign/USER/cn=choi,o=TradeSign,c=kr";
    table->selectRowAlone(2);
    ASSERT_TRUE(manager->certArray()[2].displayText.startsWith(QStringLiteral("최수진")));
    AlertSeam::takeRecords();
    manager->deleteCert();
    EXPECT_EQ(alertLines(), (QStringList{QStringLiteral("인증서를 삭제하시겠습니까?"),
                                         QStringLiteral("인증서 삭제가 완료되었습니다.")}));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(std::filesystem::exists(npki + "/Lindsign/USER/cn=park,o=Lindsign,c=kr"));
    ASSERT_EQ(manager->certArray().size(), kHomeRowCount - 1);

    // The first row (with a key-management pair) to the empty volume, under the password that
    // opens its keys.
    auto copyFirstRowTo = [&](const QString& volume, const QString& password) {
        table->selectRowAlone(0);
        whenModal<CopySelectController>([&](CopySelectController* sheet) {
            for (int row = 0; row < sheet->rows().size(); ++row)
                if (sheet->rows()[row].name == volume) sheet->tableView()->selectRowAlone(row);
            whenModal<ManagerInputPINWindowController>([&](ManagerInputPINWindowController* p) {
                p->pin()->setText(password);
                p->click();
            });
            sheet->confirm();
        });
        manager->copyCert();
        return alertLines();
    };
    EXPECT_EQ(copyFirstRowTo(QStringLiteral("EMPTYVOL"), QStringLiteral("Wrong#pass123")),
              QStringList{QStringLiteral("인증서 복사중 문제가 발생하였습니다.")});
    EXPECT_FALSE(std::filesystem::exists(testVolumes() + "/EMPTYVOL/NPKI"));
    EXPECT_EQ(copyFirstRowTo(QStringLiteral("EMPTYVOL"), QStringLiteral("Brindlow#1234")),
              QStringList{QStringLiteral("인증서 복사가 완료되었습니다.")});
    const std::string source = npki + "/yessign/USER/cn=hong,ou=personal4IB,o=yessign,c=kr";
    const std::string copied =
        brindlow::test::onlyFolderIn(testVolumes() + "/EMPTYVOL/NPKI/yessign/USER");
    for (const char* name : {"signCert.der", "kmCert.der"})
        EXPECT_TRUE(brindlow::test::fileBytes(copied + "/" + name) ==
                    brindlow::test::fileBytes(source + "/" + name))
            << name;
    for (const char* name : {"signPri.key", "kmPri.key"})
        EXPECT_FALSE(brindlow::test::fileBytes(copied + "/" + name).empty()) << name;
    // The same certificate again: the stored one is not newer, so it is replaced.
    EXPECT_EQ(copyFirstRowTo(QStringLiteral("EMPTYVOL"), QStringLiteral("Brindlow#1234")),
              QStringList{QStringLiteral("인증서 복사가 완료되었습니다.")});
}
