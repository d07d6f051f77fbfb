#include <gtest/gtest.h>

#include "InstallerTestSupport.h"
#include "RootCert.h"

using namespace installer_test;
using brindlow::installer::AlertRecord;
using brindlow::installer::AlertSeam;
using brindlow::installer::AlertStyle;

namespace {

const QString kConfirm = QStringLiteral("Brindlow 설치를 진행합니다. 계속하시겠습니까?");
const QString kDone = QStringLiteral("설치가 완료되었습니다.");
const QString kNpkiFailed = QStringLiteral("NPKI 디렉토리 복사에 실패하였습니다.");

QStringList messages(const std::vector<AlertRecord>& records) {
    QStringList out;
    for (const AlertRecord& r : records) out << r.messageText;
    return out;
}

void installOld(const World& w) {
    spit(w.installed() / "Contents/MacOS/Brindlow", "old version");
}

}  // namespace

TEST(InstallerFlow, CancelChangesNothing) {
    World w;
    installOld(w);
    Decoy decoy(w.root() / "run/Brindlow");
    w.mayEnd(decoy);
    AlertSeam::answerNext(1);  // "취소"
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageText, kConfirm);
    EXPECT_EQ(records[0].buttons, (QStringList{"확인", "취소"}));
    EXPECT_EQ(records[0].style, AlertStyle::Warning);
    EXPECT_EQ(decoy.end(SIGTERM), SIGTERM);
    EXPECT_EQ(slurp(w.installed() / "Contents/MacOS/Brindlow"), "old version");
    EXPECT_FALSE(fs::exists(w.trash()));
    EXPECT_FALSE(fs::exists(w.autostart()));
    EXPECT_FALSE(fs::exists(w.npki()));
    EXPECT_EQ(delegate.launchedPid(), -1);
}

// Of the processes the installer may see, it ends those named exactly "Brindlow"; a "Brindlow"
// outside its sight runs on.
TEST(InstallerFlow, EndsTheRunningCopiesItMaySeeOnly) {
    World w;
    Decoy running(w.root() / "run/Brindlow");
    Decoy otherCase(w.root() / "case/brindlow");
    Decoy outside(w.root() / "outside/Brindlow");
    w.mayEnd(running);
    w.mayEnd(otherCase);
    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("cancelButton", &seen);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(messages(AlertSeam::takeRecords()), (QStringList{kConfirm, kDone}));
    EXPECT_EQ(running.end(SIGTERM), SIGKILL);
    EXPECT_EQ(otherCase.end(SIGTERM), SIGTERM);
    EXPECT_EQ(outside.end(SIGTERM), SIGTERM);
    EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
}

TEST(InstallerFlow, DecliningTheRootsInstallsNoneAndFinishes) {
    World w;
    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("cancelButton", &seen);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(messages(AlertSeam::takeRecords()), (QStringList{kConfirm, kDone}));
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(countFiles(w.npki()), 22);
    EXPECT_TRUE(fs::is_empty(w.npki() / "KISA"));
    EXPECT_EQ(delegate.rootCAHashWindowController(), nullptr);
    EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
}

TEST(InstallerFlow, FingerprintOfAKnownRootInTheWindow) {
    World w;
    // The first root is the three bytes "abc"; the second is installed already.
    spit(w.bundledRoot(0), "abc");
    fs::create_directories(w.npki() / "KISA");
    fs::copy_file(w.bundledRoot(1), w.root(1));
    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("confirmButton", &seen);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(seen.text,
              "KISA RootCA 1 [SHA 256]\nBA78 16BF 8F01 CFEA 4141 40DE 5DAE 2223 B003 "
              "61A3 9617 7A9C B410 FF61 F200 15AD\n\n");
    EXPECT_TRUE(seen.onTop);
    // Confirming installs both roots.
    EXPECT_EQ(slurp(w.root(0)), "abc");
    EXPECT_EQ(slurp(w.root(1)), slurp(w.bundledRoot(1)));
    EXPECT_EQ(messages(AlertSeam::takeRecords()), (QStringList{kConfirm, kDone}));
    EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
}

TEST(InstallerFlow, FailedCopyKeepsTheOldBundle) {
    World w;
    installOld(w);
    fs::remove_all(w.resources() / "Brindlow.app");
    AlertSeam::setDefaultAnswer(0);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].messageText, QStringLiteral("파일 복사에 실패하였습니다."));
    EXPECT_FALSE(records[1].informativeText.isEmpty());
    EXPECT_EQ(records[1].buttons, QStringList{"확인"});
    EXPECT_EQ(records[1].style, AlertStyle::Informational);
    EXPECT_EQ(slurp(w.installed() / "Contents/MacOS/Brindlow"), "old version");
    EXPECT_EQ(countFiles(w.trash()), 0);
    EXPECT_FALSE(fs::exists(w.autostart()));
    EXPECT_EQ(std::distance(fs::directory_iterator(w.apps()), {}), 1);  // no copy left behind
    EXPECT_EQ(delegate.launchedPid(), -1);
}

TEST(InstallerFlow, FailedMoveToTrashStops) {
    World w;
    installOld(w);
    spit(w.root() / "not-a-folder", "");
    Env data("XDG_DATA_HOME", (w.root() / "not-a-folder").string());
    AlertSeam::setDefaultAnswer(0);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(messages(AlertSeam::takeRecords()),
              (QStringList{kConfirm,
                           QStringLiteral("이미 설치된 버전의 삭제중 문제가 발생하였습니다.")}));
    EXPECT_EQ(slurp(w.installed() / "Contents/MacOS/Brindlow"), "old version");
    EXPECT_EQ(std::distance(fs::directory_iterator(w.apps()), {}), 1);
    EXPECT_FALSE(fs::exists(w.autostart()));
}

TEST(InstallerFlow, FailedLoginItemStops) {
    World w;
    spit(w.root() / "not-a-folder", "");
    Env config("XDG_CONFIG_HOME", (w.root() / "not-a-folder").string());
    AlertSeam::setDefaultAnswer(0);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(messages(AlertSeam::takeRecords()),
              (QStringList{kConfirm, QStringLiteral("시작 프로그램 등록을 실패하였습니다.")}));
    EXPECT_TRUE(fs::exists(w.installed() / "Contents/MacOS/Brindlow"));
    EXPECT_FALSE(fs::exists(w.npki()));
    EXPECT_EQ(delegate.launchedPid(), -1);
}

TEST(InstallerFlow, FailedCaCopyIsReportedAndTheInstallationGoesOn) {
    World w;
    fs::remove_all(w.resources() / "NPKI/NCASign");
    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("confirmButton", &seen);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(messages(AlertSeam::takeRecords()), (QStringList{kConfirm, kNpkiFailed, kDone}));
    EXPECT_EQ(countFiles(w.npki()), 22);  // 20 authorities' files and both roots
    EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
}

TEST(InstallerFlow, RootThatCannotBeInstalledIsReported) {
    World w;
    fs::remove(w.bundledRoot(1));
    AlertSeam::setDefaultAnswer(0);
    WindowAnswer seen;
    answerHashWindow("confirmButton", &seen);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    // The missing root shows its name over an empty fingerprint.
    EXPECT_TRUE(seen.text.endsWith("\n\nKISA RootCA 4 [SHA 256]\n\n\n")) << seen.text.toStdString();
    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(messages(records), (QStringList{kConfirm, kNpkiFailed}));
    EXPECT_EQ(records[1].informativeText, "KISA RootCA 4");
    EXPECT_TRUE(fs::exists(w.root(0)));
    EXPECT_FALSE(fs::exists(w.root(1)));
    EXPECT_TRUE(World::endLaunched(delegate, w.installed()));
}
