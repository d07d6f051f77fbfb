#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "Alert.h"
#include "CertManagerController.h"
#include "ChangeCertPassController.h"
#include "DesktopTestSupport.h"
#include "RightClickTableWidget.h"
#include "ScriptedToken.h"

using namespace brindlow::ui;
using brindlow::test::whenModal;

namespace {

const QString kNote = QStringLiteral("이 매체에서는 지원하지 않는 기능입니다.");
const QString kFailed = QStringLiteral("인증서 암호 변경이 실패하였습니다.");

class ChangeCertPassControllerTest : public testing::Test {
  protected:
    void SetUp() override {
        token().reset();
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
    }
    void TearDown() override { AlertSeam::reset(), AlertSeam::setDefaultAnswer(0); }
    static ScriptedToken& token() { return ScriptedToken::instance(); }

    // Runs the dialog, confirms the three entries once and then cancels unless the confirm
    // ended it. The end code of the run.
    int confirmOnce(const QString& current, const QString& fresh, const QString& again,
                    bool* stayedOpen = nullptr) {
        ChangeCertPassController dialog(token().id, ScriptedToken::kItemId);
        whenModal<ChangeCertPassController>([&](ChangeCertPassController* d) {
            EXPECT_EQ(d->pass()->echoMode(), QLineEdit::Password);
            d->pass()->setText(current);
            d->newpass1()->setText(fresh);
            d->newpass2()->setText(again);
            d->confirm();
            if (stayedOpen != nullptr) *stayedOpen = d->isVisible();
            if (d->isVisible()) {
                // A refusal keeps the entries for correction.
                EXPECT_EQ(d->newpass1()->text(), fresh);
                d->cancel();
            }
        });
        const int code = dialog.runModal();
        // However the dialog ended, the entries are gone from its fields.
        EXPECT_TRUE(dialog.pass()->text().isEmpty());
        EXPECT_TRUE(dialog.newpass1()->text().isEmpty());
        EXPECT_TRUE(dialog.newpass2()->text().isEmpty());
        return code;
    }

    QStringList alerts() {
        QStringList texts;
        for (const AlertRecord& r : AlertSeam::takeRecords()) {
            EXPECT_EQ(r.buttons, QStringList{QStringLiteral("확인")});
            texts << r.messageText + (r.informativeText.isEmpty() ? "" : " / " + r.informativeText);
        }
        return texts;
    }
};

}  // namespace

TEST_F(ChangeCertPassControllerTest, RefusedEntriesShowTheReasonAndKeepTheDialogOpen) {
    const QString good = QStringLiteral("Abcdef12#$");
    struct Case {
        QString current, fresh, again;
        const char* reason;
    } cases[] = {
        {QStringLiteral("old"), QString(), QString(), "값이 입력되지 않았습니다."},
        {QStringLiteral("old"), good, QString(), "값이 입력되지 않았습니다."},
        {QStringLiteral("old"), good, QStringLiteral("Abcdef12#%"),
         "입력한 두개의 비밀번호가 일치하지 않습니다."},
        {QStringLiteral("old"), QStringLiteral("Abc12#"), QStringLiteral("Abc12#"),
         "암호는 10글자  이상 입력해 주세요."},
        {QStringLiteral("old"), QString(31, 'a'), QString(31, 'a'),
         "암호는 10글자  이상 입력해 주세요."},
        {QStringLiteral("old"), QStringLiteral("Abcdef12#|"), QStringLiteral("Abcdef12#|"),
         "\", ', |, \\ 는 사용하실 수 없습니다."},
        {good, good, good, "이전 비밀번호와 새 비밀번호가 동일합니다."},
        // The pair is checked before the comparison with the current password.
        {good, good, QStringLiteral("Abcdef12#%"), "입력한 두개의 비밀번호가 일치하지 않습니다."},
        // A new password other programs could not type: Hangul, Latin-1, a control character.
        {QStringLiteral("old"), QStringLiteral("Abcdef12#한"), QStringLiteral("Abcdef12#한"),
         "잘못된 입력값 사용 / 새 암호에는 영문자, 숫자와 키보드의 특수문자만 사용할 수 "
         "있습니다."},
        {QStringLiteral("old"), QStringLiteral("Abcdéf12#$"), QStringLiteral("Abcdéf12#$"),
         "잘못된 입력값 사용 / 새 암호에는 영문자, 숫자와 키보드의 특수문자만 사용할 수 "
         "있습니다."},
        {QStringLiteral("old"), QStringLiteral("Abcdef12#\t$"), QStringLiteral("Abcdef12#\t$"),
         "잘못된 입력값 사용 / 새 암호에는 영문자, 숫자와 키보드의 특수문자만 사용할 수 "
         "있습니다."},
    };
    for (const Case& c : cases) {
        bool stayedOpen = false;
        EXPECT_EQ(confirmOnce(c.current, c.fresh, c.again, &stayedOpen), -1) << c.reason;
        EXPECT_TRUE(stayedOpen) << c.reason;
        EXPECT_EQ(alerts(), QStringList{QString::fromUtf8(c.reason)});
    }
    EXPECT_TRUE(token().pinChanges.empty());
}

TEST_F(ChangeCertPassControllerTest, TokensAnswerDecidesTheNoticeAndWhetherTheDialogEnds) {
    struct Case {
        int result;
        int endCode;
        QString shown;
    } cases[] = {
        {0, 0, QStringLiteral("인증서 암호가 변경되었습니다.")},
        // A wrong current password is told apart from a file that could not be written or read.
        {TOKEN_ERR_KEY_DECRYPT, -1, kFailed + QStringLiteral(" / 비밀번호가 일치하지 않습니다.")},
        {TOKEN_ERR_WRONG_PIN, -1, kFailed + QStringLiteral(" / 비밀번호가 일치하지 않습니다.")},
        {TOKEN_ERR_KM_WRONG_PIN, -1, kFailed + QStringLiteral(" / 비밀번호가 일치하지 않습니다.")},
        {TOKEN_ERR_WRITE_FILE, -1, kFailed + QStringLiteral(" / 파일을 저장하지 못했습니다.")},
        {TOKEN_ERR_READ_FILE, -1,
         kFailed + QStringLiteral(" / 인증서 파일을 읽어오지 못했습니다.")},
        {TOKEN_ERR_INVALID_DATA, -1, kFailed},
        {TOKEN_ERR_NOT_SUPPORTED, -1, kFailed + QStringLiteral(" / ") + kNote},
    };
    for (const Case& c : cases) {
        token().reset();
        token().setPinResult = c.result;
        bool stayedOpen = true;
        EXPECT_EQ(confirmOnce(QStringLiteral("Brindlow#1234"), QStringLiteral("Newpass#5678"),
                              QStringLiteral("Newpass#5678"), &stayedOpen),
                  c.endCode);
        EXPECT_EQ(stayedOpen, c.endCode != 0);
        EXPECT_EQ(alerts(), QStringList{c.shown});
        ASSERT_EQ(token().pinChanges.size(), 1u);
        EXPECT_EQ(token().pinChanges[0].itemId, ScriptedToken::kItemId);
        EXPECT_EQ(token().pinChanges[0].oldPin, "Brindlow#1234");
        EXPECT_EQ(token().pinChanges[0].newPin, "Newpass#5678");
    }
}

TEST_F(ChangeCertPassControllerTest, ManagerShowsMessage23WhenTheDialogIsCancelled) {
    CertManagerController manager;
    manager.didEndSheet(static_cast<int>(token().id));
    ASSERT_EQ(manager.certArray().size(), 1);
    manager.certTableView()->selectRowAlone(0);
    AlertSeam::takeRecords();
    for (auto end :
         {std::function<void(ChangeCertPassController*)>([](ChangeCertPassController* d) {
              QTest::mouseClick(d->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
          }),
          std::function<void(ChangeCertPassController*)>(
              [](ChangeCertPassController* d) { d->close(); })}) {
        whenModal<ChangeCertPassController>(end);
        manager.changeCertPassword();
        EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서 암호 변경이 취소되었습니다.")});
    }
    // A completed change shows only the dialog's own notice; the list is not rebuilt.
    token().setPinResult = 0;
    const int listed = token().listCalls;
    whenModal<ChangeCertPassController>([](ChangeCertPassController* d) {
        d->pass()->setText(QStringLiteral("Brindlow#1234"));
        d->newpass1()->setText(QStringLiteral("Newpass#5678"));
        d->newpass2()->setText(QStringLiteral("Newpass#5678"));
        QTest::mouseClick(d->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);
    });
    manager.changeCertPassword();
    EXPECT_EQ(alerts(), QStringList{QStringLiteral("인증서 암호가 변경되었습니다.")});
    EXPECT_EQ(token().listCalls, listed);
}
