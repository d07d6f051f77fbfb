#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "DesktopTestSupport.h"
#include "WindowController.h"

using brindlow::test::whenModal;
using brindlow::ui::centerOf;
using brindlow::ui::ModalWindowController;

TEST(WindowControllerTest, EndCodesAreTheDialogsOwn) {
    // 0 and 1 are QDialog's Rejected and Accepted; as end codes they must come through as given,
    // and every dismissal without a code must come through as the cancel code.
    struct Case {
        const char* what;
        std::function<void(ModalWindowController*)> end;
        int expected;
    } cases[] = {
        {"code 0", [](ModalWindowController* w) { w->stopModalWithCode(0); }, 0},
        {"code 1", [](ModalWindowController* w) { w->stopModalWithCode(1); }, 1},
        {"code 7", [](ModalWindowController* w) { w->stopModalWithCode(7); }, 7},
        {"cancel code", [](ModalWindowController* w) { w->stopModalWithCode(-1); }, -1},
        {"window closed", [](ModalWindowController* w) { w->close(); }, -1},
        {"Escape", [](ModalWindowController* w) { QTest::keyClick(w, Qt::Key_Escape); }, -1},
        {"QDialog::accept", [](ModalWindowController* w) { w->accept(); }, -1},
    };
    for (const Case& c : cases) {
        ModalWindowController window;
        whenModal<ModalWindowController>(c.end);
        EXPECT_EQ(window.runModal(), c.expected) << c.what;
        EXPECT_FALSE(window.isVisible()) << c.what;
    }
}

TEST(WindowControllerTest, ASecondRunStartsAsACancel) {
    ModalWindowController window;
    whenModal<ModalWindowController>([](ModalWindowController* w) { w->stopModalWithCode(3); });
    EXPECT_EQ(window.runModal(), 3);
    whenModal<ModalWindowController>([](ModalWindowController* w) { w->reject(); });
    EXPECT_EQ(window.runModal(), -1);
}

TEST(WindowControllerTest, SheetIsModalForItsWindowAndEndsAfterLeavingTheScreen) {
    QWidget owner;
    owner.resize(400, 300);
    owner.move(100, 200);
    owner.show();
    ModalWindowController sheet(&owner);
    sheet.resize(200, 100);

    whenModal<ModalWindowController>([&](ModalWindowController* w) {
        EXPECT_EQ(w->windowModality(), Qt::WindowModal);
        EXPECT_NEAR(w->frameGeometry().center().x(), owner.frameGeometry().center().x(), 1);
        EXPECT_NEAR(w->frameGeometry().center().y(), owner.frameGeometry().center().y(), 1);
        w->stopModalWithCode(0);
    });
    int seen = -5;
    bool visibleAtEnd = true;
    const int code = sheet.runSheet(&owner, [&](int c) {
        seen = c;
        visibleAtEnd = sheet.isVisible();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(seen, 0);
    EXPECT_FALSE(visibleAtEnd);
}

TEST(WindowControllerTest, QuittingWhileADialogRunsIsACancel) {
    ModalWindowController window;
    int code = 99;
    QTimer::singleShot(0, qApp, [&] {
        whenModal<ModalWindowController>([](ModalWindowController*) { QCoreApplication::exit(0); });
        code = window.runModal();
    });
    QApplication::exec();
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(window.isVisible());
}

TEST(WindowControllerTest, CenterOfPutsBothCentresTogether) {
    struct Case {
        QRect other;
        QSize own;
        QPoint expected;
    } cases[] = {
        {QRect(100, 200, 400, 300), QSize(200, 100), QPoint(200, 300)},
        {QRect(0, 0, 401, 301), QSize(100, 100), QPoint(150, 100)},
        {QRect(50, 60, 100, 100), QSize(300, 200), QPoint(-50, 10)},
    };
    for (const Case& c : cases) {
        QWidget other;
        other.setGeometry(c.other);
        QWidget window;
        window.resize(c.own);
        centerOf(&window, &other);
        EXPECT_EQ(window.pos(), c.expected);
    }
    QWidget window;
    window.resize(200, 100);
    centerOf(&window, nullptr);
    EXPECT_EQ(window.pos(), QPoint(-100, -50));
}
