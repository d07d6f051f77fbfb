#include "AppDelegate.h"

#include <QApplication>
#include <QMenu>
#include <QMetaObject>
#include <QStyle>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "Alert.h"
#include "Applications.h"
#include "CertManagerController.h"
#include "Images.h"
#include "LoggerManagerMac.h"
#include "MessageRes.h"
#include "SGDaemon.h"
#include "StatusItem.h"

#ifndef BRINDLOW_VERSION
#define BRINDLOW_VERSION ""
#endif

namespace {

// The delegate that termination requests go to. The watch thread outlives main, so the state
// is never destroyed, and a request is posted only while the delegate exists.
struct TerminationTarget {
    std::mutex mutex;
    AppDelegate* delegate = nullptr;
};

TerminationTarget& terminationTarget() {
    static auto* target = new TerminationTarget;
    return *target;
}

bool pathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    std::lock_guard lock(terminationTarget().mutex);
    terminationTarget().delegate = this;
}

AppDelegate::~AppDelegate() {
    {
        std::lock_guard lock(terminationTarget().mutex);
        if (terminationTarget().delegate == this) terminationTarget().delegate = nullptr;
    }
    delete statusItem_;
    delete certManager_;
    delete statusMenu_;
}

void AppDelegate::applicationDidFinishLaunching() {
    MessageRes::initialize();

    statusItem_ = new StatusItem;
    QIcon padlock = brindlow::ui::iconNamed(QString::fromLatin1(kStatusImage));
    // Without the image the item must still be there to reach the menu.
    if (padlock.isNull()) padlock = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    statusMenu_ = buildMenu();
    statusItem_->setMenu(statusMenu_);
    statusItem_->setImage(padlock);

    // Lists the home folder's certificates and so builds the token registry; stays hidden until
    // the menu asks for it.
    certManager_ = new CertManagerController;

    try {
        std::thread(goDaemon, nullptr).detach();
    } catch (const std::system_error& error) {
        // Without the thread there is no local service and no watch; the windows still work.
        std::fprintf(stderr, "can't start the background thread: %s\n", error.what());
    }
}

void AppDelegate::applicationWillTerminate() {}

QMenu* AppDelegate::buildMenu() {
    auto* menu = new QMenu;
    menu->setObjectName(QStringLiteral("statusMenu"));
    // Every item is enabled unless disabled here; nothing enables them automatically.
    auto add = [&](const char* title, void (AppDelegate::*action)(), bool enabled) {
        QAction* item = menu->addAction(QString::fromUtf8(title));
        connect(item, &QAction::triggered, this, action);
        item->setEnabled(enabled);
    };
    add("Brindlow", &AppDelegate::click_Brindlow, true);
    menu->addSeparator();
    add("인증서 관리자", &AppDelegate::click_CertManager, true);
    menu->addSeparator();
    add("보안매체 초기화", &AppDelegate::click_InitToken, false);
    add("보안매체 비밀번호 변경", &AppDelegate::click_ChangePINToken, false);
    menu->addSeparator();
    add("종료", &AppDelegate::click_exit, true);
    return menu;
}

void AppDelegate::click_Brindlow() {
    QString informative = QStringLiteral("Brindlow는 공인인증서/보안토큰 관리 프로그램 입니다.");
    if (*BRINDLOW_VERSION)
        informative += QStringLiteral("\n버전 ") + QStringLiteral(BRINDLOW_VERSION);
    brindlow::ui::runAlert(nullptr, QStringLiteral("Brindlow"), informative,
                           {brindlow::ui::okButtonTitle()},
                           brindlow::ui::AlertStyle::Informational);
}

void AppDelegate::click_CertManager() {
    if (!certManager_) return;
    certManager_->setWindowState(certManager_->windowState() & ~Qt::WindowMinimized);
    certManager_->show();
    certManager_->raise();
    certManager_->activateWindow();
}

void AppDelegate::click_InitToken() {}

void AppDelegate::click_ChangePINToken() {}

void AppDelegate::click_exit() {
    terminate();
}

void AppDelegate::terminate() {
    // Leaves every running event loop, the modal runs of dialogs and alerts included, and makes
    // any loop started after this return at once; main then returns from the application's run.
    QCoreApplication::exit(0);
}

std::string AppDelegate::watchedBundlePath() {
    return brindlow::platform::installedApplicationPath(kBundleName);
}

void AppDelegate::requestTermination() {
    TerminationTarget& target = terminationTarget();
    std::lock_guard lock(target.mutex);
    if (!target.delegate) return;
    // Windows belong to the main thread: the request is carried out there.
    QMetaObject::invokeMethod(target.delegate, &AppDelegate::terminate, Qt::QueuedConnection);
}

void AppDelegate::goDaemon(void*) {
    // When the host cannot start, the application runs on without the local service.
    SGDaemon_Initialize(kProductName);
    SGDaemon_startMain(1);

    LoggerManagerMac();

    const std::string watched = watchedBundlePath();
    for (;;) {
        if (!pathExists(watched)) requestTermination();
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatchIntervalMs));
    }
}
