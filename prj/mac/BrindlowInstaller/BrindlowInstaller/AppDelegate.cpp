#include "AppDelegate.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Autostart.h"
#include "Bundle.h"
#include "InstallerAlert.h"
#include "Launch.h"
#include "NPKICopy.h"
#include "Processes.h"
#include "RootCert.h"
#include "Trash.h"

namespace fs = std::filesystem;
using brindlow::installer::runConfirmation;
using brindlow::installer::showNotice;

namespace {

constexpr char kApplicationName[] = "Brindlow";

std::string installedBundlePath() {
    return installerApplicationsFolder() + "/Brindlow.app";
}

}  // namespace

std::string installerApplicationsFolder() {
    std::string folder = "/Applications";
    if (const char* env = std::getenv("BRINDLOW_APPLICATIONS"); env && *env) folder = env;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    delete hashWindow_;
}

std::wstring AppDelegate::NSStringToStringW(const QString& text) {
    return text.toStdWString();
}

QString AppDelegate::StringWToNSString(const std::wstring& text) {
    return QString::fromStdWString(text);
}

// The new bundle is copied beside the old one first and swapped in only after the old one is in
// the Trash, so a failed copy never leaves the user without the application.
bool AppDelegate::replaceInstalledBundle(const std::string& source, const std::string& target) {
    const std::string staging = fs::path(target).parent_path() / ".Brindlow.app.installing";
    std::error_code ec;
    auto copyFailed = [&](const std::string& why) {
        fs::remove_all(staging, ec);
        showNotice(QStringLiteral("파일 복사에 실패하였습니다."), QString::fromStdString(why));
        return false;
    };

    fs::remove_all(staging, ec);
    if (source.empty()) return copyFailed("Brindlow.app: " + std::string(std::strerror(ENOENT)));
    fs::create_directories(fs::path(target).parent_path(), ec);
    fs::copy(source, staging, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) return copyFailed(ec.message());

    struct stat st;
    if (lstat(target.c_str(), &st) == 0) {
        std::string error;
        if (!brindlow::platform::moveToTrash(target, nullptr, &error)) {
            fs::remove_all(staging, ec);
            showNotice(QStringLiteral("이미 설치된 버전의 삭제중 문제가 발생하였습니다."));
            return false;
        }
    }
    if (std::rename(staging.c_str(), target.c_str()) != 0)
        return copyFailed(target + ": " + std::strerror(errno));
    return true;
}

void AppDelegate::applicationDidFinishLaunching() {
    if (!runConfirmation(QStringLiteral("Brindlow 설치를 진행합니다. 계속하시겠습니까?"))) return;

    for (pid_t pid : brindlow::platform::runningProcessesNamed(kApplicationName))
        brindlow::platform::signalProcess(pid, SIGKILL);

    const std::string resources = brindlow::platform::mainBundleResources();
    const std::string target = installedBundlePath();
    if (!replaceInstalledBundle(brindlow::platform::bundleResourcePath(resources, "Brindlow.app"),
                                target))
        return;

    if (!registerLoginItem()) {
        showNotice(QStringLiteral("시작 프로그램 등록을 실패하였습니다."));
        return;
    }

    const std::wstring npkiSource = NSStringToStringW(QString::fromStdString(resources + "/NPKI/"));
    if (CopyNPKIFiles(npkiSource, USER_KISA_NPKI_PATH))
        showNotice(QStringLiteral("NPKI 디렉토리 복사에 실패하였습니다."));

    // A root that could not be installed is reported instead of the completion notice.
    bool rootsFailed = false;
    {
        CRootCertManager manager;
        setRootCertManager(manager);
        if (!manager.IsAllFileExist()) {
            std::wstring text;
            manager.GetStringHashValue(text);
            if (showRootCAHashWindow(StringWToNSString(text))) {
                QStringList failed;
                for (const NPKIRow& row : NPKI_KISA) {
                    RootCert* cert = manager.GetRootCertByDerName(row.fileName);
                    if (!cert || !cert->CopyFiletoTarget())
                        failed << StringWToNSString(row.commonName);
                }
                if (!failed.isEmpty()) {
                    rootsFailed = true;
                    showNotice(QStringLiteral("NPKI 디렉토리 복사에 실패하였습니다."),
                               failed.join(QStringLiteral(", ")));
                }
            }
        }
    }

    if (!rootsFailed) showNotice(QStringLiteral("설치가 완료되었습니다."));
    pid_t pid = -1;
    if (brindlow::platform::launchApplication(target, &pid, nullptr)) launchedPid_ = pid;
    QCoreApplication::quit();
}

bool AppDelegate::registerLoginItem() {
    return brindlow::platform::registerAutostart(installedBundlePath());
}

void AppDelegate::setRootCertManager(CRootCertManager& manager) {
    manager.InitMapRootCert();
    const std::string kisa = brindlow::platform::mainBundleResources() + "/NPKI/KISA";
    for (const NPKIRow& row : NPKI_KISA) {
        std::wstring source;
        const std::string path = kisa + "/" + QString::fromStdWString(row.fileName).toStdString();
        if (access(path.c_str(), F_OK) == 0)
            source = NSStringToStringW(QString::fromStdString(path));
        auto* cert =
            new RootCert(row.commonName, USER_KISA_NPKI_PATH + L"KISA/" + row.fileName, source);
        cert->SetHash(cert->MakeHash(source));
        manager.AddMapRootCert(row.fileName, cert);
    }
}

bool AppDelegate::showRootCAHashWindow(const QString& text) {
    if (!hashWindow_) hashWindow_ = new RootCAHashWindowController;
    RootCAHashWindowController* window = hashWindow_;
    window->setCAHash(text);
    const bool confirmed = window->runModal() == RootCAHashWindowController::kConfirmed;
    // The modal run ends only with the window closing: the next call makes a new one.
    if (hashWindow_ == window) hashWindow_ = nullptr;
    delete window;
    return confirmed;
}
