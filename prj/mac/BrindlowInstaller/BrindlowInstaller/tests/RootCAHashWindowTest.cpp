#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QKeyEvent>
#include <QTest>

#include "InstallerTestSupport.h"

using namespace installer_test;

namespace {

// Receives the pages the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

}  // namespace

TEST(RootCAHashWindow, EachControlEndsTheRunOnce) {
    AppDelegate delegate;
    WindowAnswer seen;
    answerHashWindow("confirmButton", &seen);
    EXPECT_TRUE(delegate.showRootCAHashWindow("KISA RootCA 1 [SHA 256]\nABCD\n\n"));
    EXPECT_EQ(seen.text, "KISA RootCA 1 [SHA 256]\nABCD\n\n");
    EXPECT_EQ(delegate.rootCAHashWindowController(), nullptr);

    answerHashWindow("cancelButton", &seen);
    EXPECT_FALSE(delegate.showRootCAHashWindow("x"));

    // Escape, or closing the window, declines.
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<RootCAHashWindowController*>(w);
                window && window->isVisible())
                QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_FALSE(delegate.showRootCAHashWindow("y"));
}

TEST(RootCAHashWindow, LinkOpensTheFingerprintPage) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    RootCAHashWindowController window;
    window.findChild<QPushButton*>("webLinkButton")->click();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].scheme(), "https");
    EXPECT_EQ(catcher.urls[0].path(), "/kcac/cert/potency.html");
    EXPECT_FALSE(window.isVisible());  // the window stays as it was
}

#include "RootCAHashWindowTest.moc"
