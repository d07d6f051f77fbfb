#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Alert.h"
#include "DesktopTestSupport.h"

using namespace brindlow::ui;
using brindlow::test::whenModal;

namespace {

class AlertTest : public testing::Test {
  protected:
    void SetUp() override {
        AlertSeam::reset();
        AlertSeam::startRecording();
    }
    void TearDown() override {
        AlertSeam::reset();
        AlertSeam::setDefaultAnswer(0);
    }
};

QStringList buttonTexts(QMessageBox* box) {
    QStringList texts;
    for (QAbstractButton* b : box->buttons()) texts << b->text();
    texts.sort();
    return texts;
}

}  // namespace

TEST_F(AlertTest, FormsHaveExactlyTheirButtons) {
    AlertSeam::answerNext(0);
    showNotice(nullptr, QStringLiteral("인증서를 선택하십시오."));
    AlertSeam::answerNext(0);
    EXPECT_TRUE(runConfirmation(nullptr, QStringLiteral("인증서를 삭제하시겠습니까?")));
    AlertSeam::answerNext(1);
    EXPECT_FALSE(runConfirmation(nullptr, QStringLiteral("인증서를 삭제하시겠습니까?")));

    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].messageText, QStringLiteral("인증서를 선택하십시오."));
    EXPECT_EQ(records[0].buttons, QStringList{QStringLiteral("확인")});
    EXPECT_EQ(records[0].style, AlertStyle::Informational);
    EXPECT_EQ(records[1].buttons, (QStringList{QStringLiteral("확인"), QStringLiteral("취소")}));
    EXPECT_EQ(records[1].style, AlertStyle::Warning);
    EXPECT_TRUE(AlertSeam::takeRecords().empty());
}

TEST_F(AlertTest, ShownAlertCarriesTheButtonsAndReportsThePressedOne) {
    int answer = -2;
    whenModal<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(buttonTexts(box), (QStringList{QStringLiteral("취소"), QStringLiteral("확인")}));
        EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("확인"));
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QStringLiteral("취소")) QTest::mouseClick(b, Qt::LeftButton);
    });
    answer = runAlert(nullptr, QStringLiteral("<b>x</b>"), QString(),
                      {confirmButtonTitle(), cancelButtonTitle()}, AlertStyle::Warning);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(AlertSeam::takeRecords().at(0).messageText, QStringLiteral("<b>x</b>"));
}

TEST_F(AlertTest, ClosingAConfirmationIsACancel) {
    whenModal<QMessageBox>([](QMessageBox* box) { box->close(); });
    EXPECT_FALSE(runConfirmation(nullptr, QStringLiteral("인증서를 삭제하시겠습니까?")));
    whenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_FALSE(runConfirmation(nullptr, QStringLiteral("인증서를 삭제하시겠습니까?")));
    whenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_TRUE(runConfirmation(nullptr, QStringLiteral("인증서를 삭제하시겠습니까?")));
}

TEST_F(AlertTest, QuittingWhileAnAlertIsUpAnswersNoButton) {
    int answer = -2;
    QTimer::singleShot(0, qApp, [&] {
        whenModal<QMessageBox>([](QMessageBox*) { QCoreApplication::exit(0); });
        answer = runAlert(nullptr, QStringLiteral("x"), QString(),
                          {confirmButtonTitle(), cancelButtonTitle()}, AlertStyle::Warning);
    });
    QApplication::exec();
    EXPECT_EQ(answer, -1);
}

TEST_F(AlertTest, QueuedAnswersOutOfRangeAnswerNoButton) {
    AlertSeam::answerNext(3);
    EXPECT_EQ(runAlert(nullptr, QStringLiteral("x"), QString(), {okButtonTitle()},
                       AlertStyle::Informational),
              -1);
    AlertSeam::setDefaultAnswer(0);
    EXPECT_EQ(runAlert(nullptr, QStringLiteral("Brindlow"), QStringLiteral("info"),
                       {okButtonTitle()}, AlertStyle::Informational),
              0);
    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(records[1].informativeText, QStringLiteral("info"));
}
