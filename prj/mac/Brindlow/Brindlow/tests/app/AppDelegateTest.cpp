// The delegate launched once per test process as the application launches it: the message
// table, the status item with its menu, the hidden certificate manager over the temporary home
// folder, and the background thread with the real daemon host, the stand-in module from the
// build's bundle and the log clean-up.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Alert.h"
#include "AppDelegate.h"
#include "CertManagerController.h"
#include "Images.h"
#include "ShellTestEnvironment.h"
#include "StatusItem.h"

using namespace std::chrono_literals;
using brindlow::apptest::testFolders;
using brindlow::ui::AlertSeam;

namespace {

AppDelegate* gDelegate = nullptr;

class LaunchedApplication : public testing::Environment {
  public:
    void SetUp() override {
        gDelegate = new AppDelegate;
        gDelegate->applicationDidFinishLaunching();
    }
    // Before the QApplication goes; the background threads live on until the process ends.
    // The process must not end while the daemon host still loads its module: the loader would
    // run the initialisers of libraries that exit is tearing down. Its answer says it is up.
    void TearDown() override {
        brindlow::apptest::waitUntil(
            [] { return brindlow::apptest::askService(testFolders().port, "ECHO up") == "up"; },
            std::chrono::seconds(60));
        delete gDelegate;
        gDelegate = nullptr;
    }
};

const auto* const gEnvironment = testing::AddGlobalTestEnvironment(new LaunchedApplication);

QAction* menuItem(const QString& title) {
    for (QAction* action : gDelegate->statusMenu()->actions())
        if (action->text() == title) return action;
    return nullptr;
}

QList<QWidget*> visibleWindows() {
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) out << w;
    return out;
}

QImage imageOf(const QIcon& icon) {
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

TEST(AppDelegate, MenuHoldsTheItemsInOrder) {
    struct Item {
        const char* title;  // null: a separator
        bool enabled;
    };
    const Item expected[] = {
        {"Brindlow", true},
        {nullptr, true},
        {"인증서 관리자", true},
        {nullptr, true},
        {"보안매체 초기화", false},
        {"보안매체 비밀번호 변경", false},
        {nullptr, true},
        {"종료", true},
    };
    QMenu* menu = gDelegate->statusMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(gDelegate->statusItem()->menu(), menu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(expected)));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i + 1);
        const Item& item = expected[i];
        EXPECT_EQ(actions[i]->isSeparator(), item.title == nullptr);
        if (!item.title) continue;
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(item.title));
        EXPECT_EQ(actions[i]->isEnabled(), item.enabled);
        EXPECT_TRUE(actions[i]->shortcut().isEmpty());
    }
}

TEST(AppDelegate, StatusItemShowsThePadlock) {
    StatusItem* item = gDelegate->statusItem();
    ASSERT_NE(item, nullptr);
    const QImage padlock = imageOf(brindlow::ui::iconNamed(QStringLiteral("padlock.png")));
    ASSERT_FALSE(padlock.isNull()) << "padlock.png is missing from the build's bundle";
    // Exactly one of the two stands in the menu bar's place.
    ASSERT_NE(item->trayIcon() == nullptr, item->fallbackWindow() == nullptr);
    if (item->trayIcon()) {
        EXPECT_TRUE(item->trayIcon()->isVisible());
        EXPECT_EQ(item->trayIcon()->contextMenu(), gDelegate->statusMenu());
        EXPECT_EQ(imageOf(item->trayIcon()->icon()), padlock);
    } else {
        EXPECT_TRUE(item->fallbackWindow()->isVisible());
        EXPECT_TRUE(item->fallbackWindow()->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(imageOf(item->fallbackWindow()->button()->icon()), padlock);
    }
}

TEST(AppDelegate, ManagerWindowIsHiddenAndListsTheHomeFolder) {
    CertManagerController* manager = gDelegate->certManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(manager->isVisible());
    QStringList names;
    for (const auto& row : manager->certArray()) names << row.displayText.section('\n', 0, 0);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("김철수"), QStringLiteral("홍길동()0011")}));
}

TEST(AppDelegate, ManagerItemShowsAndRaisesTheWindowEachTime) {
    CertManagerController* manager = gDelegate->certManager();
    QAction* item = menuItem(QStringLiteral("인증서 관리자"));
    ASSERT_NE(item, nullptr);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        manager->close();
        ASSERT_FALSE(manager->isVisible());
        item->trigger();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(manager));
        EXPECT_TRUE(QTest::qWaitForWindowActive(manager));
    }
    // A minimised window comes back.
    manager->showMinimized();
    item->trigger();
    EXPECT_FALSE(manager->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(manager->isVisible());
    manager->close();
}

TEST(AppDelegate, AboutAlertHasTheNameAndOneOKButton) {
    AlertSeam::reset();
    AlertSeam::answerNext(0);
    QAction* item = menuItem(QStringLiteral("Brindlow"));
    ASSERT_NE(item, nullptr);
    item->trigger();
    const auto records = AlertSeam::takeRecords();
    AlertSeam::reset();
    AlertSeam::setDefaultAnswer(0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageText, QStringLiteral("Brindlow"));
    EXPECT_EQ(records[0].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(records[0].informativeText.startsWith(
        QStringLiteral("Brindlow는 공인인증서/보안토큰 관리 프로그램 입니다.")));
    EXPECT_EQ(records[0].style, brindlow::ui::AlertStyle::Informational);
}

TEST(AppDelegate, TokenItemsAreDisabledAndDoNothing) {
    AlertSeam::reset();
    AlertSeam::setDefaultAnswer(0);
    const QList<QWidget*> before = visibleWindows();
    for (const char* title : {"보안매체 초기화", "보안매체 비밀번호 변경"}) {
        QAction* item = menuItem(QString::fromUtf8(title));
        ASSERT_NE(item, nullptr) << title;
        EXPECT_FALSE(item->isEnabled()) << title;
        item->trigger();  // refused while disabled
    }
    // Their actions, even when reached directly, show nothing and open nothing.
    gDelegate->click_InitToken();
    gDelegate->click_ChangePINToken();
    QApplication::processEvents();
    EXPECT_TRUE(AlertSeam::takeRecords().empty());
    EXPECT_EQ(visibleWindows(), before);
    EXPECT_FALSE(gDelegate->certManager()->isVisible());
}

TEST(AppDelegate, BackgroundThreadStartsTheLocalServiceAndTheLogCleanUp) {
    const auto& folders = testFolders();
    // The stand-in module answers through the host, bound to this program's Base table.
    std::string reply;
    EXPECT_TRUE(brindlow::apptest::waitUntil(
        [&] {
            return (reply = brindlow::apptest::askService(folders.port, "ECHO 안녕")) == "안녕";
        },
        30s))
        << "last reply: " << reply;
    const std::string info = brindlow::apptest::askService(folders.port, "INFO");
    EXPECT_NE(info.find("base=4.2.1.0"), std::string::npos) << info;
    EXPECT_NE(info.find("pool=TovelService"), std::string::npos) << info;

    // The first clean-up runs as soon as its thread starts: months other than this one and the
    // one before go.
    EXPECT_TRUE(brindlow::apptest::waitUntil(
        [&] { return !brindlow::apptest::exists(folders.oldMonth); }, 30s));
    EXPECT_TRUE(brindlow::apptest::exists(folders.currentMonth));
}

TEST(AppDelegate, WatchedBundleFollowsTheApplicationsFolder) {
    EXPECT_EQ(AppDelegate::watchedBundlePath(), testFolders().watched);
}

// Records the queued calls that reach an object, with the thread they ran on.
class QueuedCallWatch : public QObject {
  public:
    bool onMainThread = false;
    int calls = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) {
            ++calls;
            onMainThread = QThread::currentThread() == qApp->thread();
        }
        return false;
    }
};

// The watch thread's request ends the application on the main thread, also from inside the
// modal run of an alert. Ending the event loops is for good, so it runs in a process of its own.
TEST(AppDelegateDeathTest, TerminationFromAnotherThreadEndsTheLoopsOnTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            AlertSeam::reset();  // the alert runs for real
            QueuedCallWatch watch;
            gDelegate->installEventFilter(&watch);
            int alertResult = 99;
            QTimer::singleShot(0, [&] {
                std::thread(AppDelegate::requestTermination).detach();
                alertResult = brindlow::ui::runAlert(nullptr, QStringLiteral("Brindlow"), {},
                                                     {QStringLiteral("OK")},
                                                     brindlow::ui::AlertStyle::Informational);
            });
            const int result = QApplication::exec();
            brindlow::apptest::removeFolders(testFolders());
            std::fprintf(stderr, "exec %d, queued calls %d on the main thread %d, alert %d\n",
                         result, watch.calls, watch.onMainThread, alertResult);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "exec 0, queued calls 1 on the main thread 1, alert -1");
}
