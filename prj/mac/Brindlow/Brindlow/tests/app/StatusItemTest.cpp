// The status item where no system tray exists: the always-on-top padlock window whose button
// opens the menu.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

#include "StatusItem.h"

TEST(StatusItem, FallbackWindowButtonOpensTheMenuBelowIt) {
    StatusItem item;
    if (item.trayIcon()) GTEST_SKIP() << "this display has a system tray";
    QMenu menu;
    menu.addAction(QStringLiteral("Brindlow"));
    item.setMenu(&menu);
    QPixmap image(16, 16);
    image.fill(Qt::darkYellow);
    item.setImage(QIcon(image));

    StatusFallbackWindow* window = item.fallbackWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Brindlow"));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);

    QTest::mouseClick(window->button(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, 5000));
    EXPECT_EQ(QApplication::activePopupWidget(), &menu);
    // Right below the button, moved sideways only as far as the screen's edge asks.
    const QPoint below = window->button()->mapToGlobal(QPoint(0, window->button()->height()));
    EXPECT_NEAR(menu.y(), below.y(), 2);
    EXPECT_LE(menu.x(), below.x());
    EXPECT_GE(menu.geometry().right(), window->button()->mapToGlobal(QPoint(0, 0)).x());
    menu.close();

    // It is the only way to the menu: closing it is refused.
    window->close();
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
}

TEST(StatusItem, ForgetsAMenuThatIsGone) {
    StatusItem item;
    QMenu menu;
    item.setMenu(&menu);
    EXPECT_EQ(item.menu(), &menu);
    // A menu that is gone is not opened.
    auto* gone = new QMenu;
    item.setMenu(gone);
    delete gone;
    item.popUpMenu(QPoint(10, 10));
    EXPECT_EQ(item.menu(), nullptr);
}
