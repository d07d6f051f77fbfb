// The whole installation in a real X server (run through run_under_x.sh).
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "InstallerTestSupport.h"

using namespace installer_test;
using brindlow::installer::AlertSeam;

TEST(EndToEnd, FullInstallationAndRerun) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
    World w(true);
    spit(w.installed() / "Contents/MacOS/Brindlow", "old version");
    Decoy running(w.root() / "run/Brindlow");
    Decoy other(w.root() / "run2/brindlow");
    Decoy outside(w.root() / "run3/Brindlow");
    w.mayEnd(running);
    w.mayEnd(other);

    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("confirmButton", &seen);
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
    }

    // The old bundle is in the Trash with its record; the new one is installed.
    EXPECT_EQ(slurp(w.trash() / "files/Brindlow.app/Contents/MacOS/Brindlow"), "old version");
    EXPECT_NE(slurp(w.trash() / "info/Brindlow.app.trashinfo")
                  .find("Path=" + w.installed().string() + "\n"),
              std::string::npos);
    EXPECT_EQ(slurp(w.installed() / "Contents/MacOS/Brindlow"),
              slurp(w.resources() / "Brindlow.app/Contents/MacOS/Brindlow"));
    EXPECT_EQ(countFiles(w.autostart()), 1);
    EXPECT_EQ(countFiles(w.npki()), 24);
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(seen.text.startsWith("KISA RootCA 1 [SHA 256]\n"));
    EXPECT_TRUE(seen.text.contains("\n\nKISA RootCA 4 [SHA 256]\n"));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(slurp(w.root(i)), slurp(w.bundledRoot(i)));
    ASSERT_EQ(AlertSeam::takeRecords().size(), 2u);  // the question and the completion

    // A second run: the roots are current (no window), the login item is not added again, and
    // the bundle installed by the first run goes to the Trash under a name of its own.
    WindowAnswer none;
    answerHashWindow("cancelButton", &none);
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
    }
    EXPECT_FALSE(none.shown);
    EXPECT_EQ(countFiles(w.autostart()), 1);
    EXPECT_TRUE(fs::exists(w.trash() / "info/Brindlow.app.2.trashinfo"));
    EXPECT_EQ(AlertSeam::takeRecords().size(), 2u);
    // Only now are the decoys reaped: an id that stays in the installer's sight is never reused.
    EXPECT_EQ(running.end(SIGTERM), SIGKILL);
    EXPECT_EQ(other.end(SIGTERM), SIGTERM);
    EXPECT_EQ(outside.end(SIGTERM), SIGTERM);
    // The window answerer of the second run is still waiting: stop it.
    for (QTimer* t : QCoreApplication::instance()->findChildren<QTimer*>()) delete t;
}
