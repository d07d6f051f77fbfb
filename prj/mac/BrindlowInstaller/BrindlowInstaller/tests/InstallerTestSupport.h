// A temporary world for one installation: home, Trash, autostart folder, applications folder and
// an installer bundle laid out like the built one, plus decoy processes and the window's answer.
// The installer may end only the decoys a test hands it: every other process of the user,
// another test's included, stays out of its reach.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "Bundle.h"
#include "InstallerAlert.h"
#include "NPKITable.h"
#include "RootCAHashWindowController.h"

extern char** environ;

namespace installer_test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void spit(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline int countFiles(const fs::path& root) {
    int n = 0;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root, ec)) n += e.is_regular_file();
    return n;
}

class Env {
  public:
    Env(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~Env() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    Env(const Env&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A copy of sleep under the given name, running until ended.
class Decoy {
  public:
    explicit Decoy(const fs::path& exe) {
        fs::create_directories(exe.parent_path());
        fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
        std::string path = exe.string(), seconds = "120";
        char* argv[] = {path.data(), seconds.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    }
    ~Decoy() { end(SIGKILL); }
    // Sends signal and returns the signal that ended it. A process already sent SIGKILL drops
    // any later signal as it dies, so end(SIGTERM) == SIGTERM shows that nobody else ended it.
    int end(int signal) {
        if (reaped_ || pid_ <= 0) return signal_;
        kill(pid_, signal);
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        reaped_ = true;
        signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        return signal_;
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int signal_ = 0;
};

// What the fingerprint window showed when it was answered.
struct WindowAnswer {
    bool shown = false;
    QString text;
    bool onTop = false;
};

// Answers the next fingerprint window by clicking its control (confirmButton or cancelButton).
inline void answerHashWindow(const char* button, WindowAnswer* seen) {
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, button, seen] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<RootCAHashWindowController*>(w);
            if (!window || !window->isVisible()) continue;
            seen->shown = true;
            seen->text = window->caHash();
            seen->onTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            timer->stop();
            timer->deleteLater();
            window->findChild<QPushButton*>(button)->click();
            return;
        }
    });
    timer->start();
}

class World {
  public:
    explicit World(bool realApplication = false)
        : home_(root() / "home"),
          apps_(root() / "Applications"),
          resources_(root() / "BrindlowInstaller.app/Contents/Resources"),
          vHome_("HOME", home_.string()),
          vApps_("BRINDLOW_APPLICATIONS", apps_.string()),
          vData_("XDG_DATA_HOME", (home_ / ".local/share").string()),
          vConfig_("XDG_CONFIG_HOME", (home_ / ".config").string()),
          vScope_("BRINDLOW_PROCESS_SCOPE", "") {
        fs::create_directories(home_);
        fs::create_directories(resources_);
        fs::copy(fs::path(INSTALLER_RESOURCES) / "NPKI", resources_ / "NPKI",
                 fs::copy_options::recursive);
        const fs::path real = fs::path(INSTALLER_RESOURCES) / "Brindlow.app";
        if (realApplication && fs::exists(real / "Contents/MacOS/Brindlow")) {
            fs::copy(real, resources_ / "Brindlow.app", fs::copy_options::recursive);
        } else {
            fs::create_directories(resources_ / "Brindlow.app/Contents/MacOS");
            fs::copy_file(INSTALLER_STANDIN, resources_ / "Brindlow.app/Contents/MacOS/Brindlow");
        }
        brindlow::platform::setMainBundleResources(resources_.string());
        InitUserKisaNpkiPath();
        brindlow::installer::AlertSeam::reset();
    }
    ~World() {
        brindlow::platform::setMainBundleResources("");
        brindlow::installer::AlertSeam::reset();
        std::error_code ec;
        fs::remove_all(root(), ec);
    }

    static const fs::path& root() {
        static const fs::path dir = [] {
            std::string t = (fs::temp_directory_path() / "brindlow-installer-XXXXXX").string();
            return fs::path(mkdtemp(t.data()));
        }();
        return dir;
    }

    // Lets the installer see decoy among the running processes.
    void mayEnd(const Decoy& decoy) {
        scope_ += " " + std::to_string(decoy.pid());
        setenv("BRINDLOW_PROCESS_SCOPE", scope_.c_str(), 1);
    }

    fs::path home() const { return home_; }
    fs::path apps() const { return apps_; }
    fs::path resources() const { return resources_; }
    fs::path installed() const { return apps_ / "Brindlow.app"; }
    fs::path npki() const { return home_ / "Library/Preferences/NPKI"; }
    fs::path trash() const { return home_ / ".local/share/Trash"; }
    fs::path autostart() const { return home_ / ".config/autostart"; }
    fs::path root(int i) const {
        return npki() / "KISA" / QString::fromStdWString(NPKI_KISA[i].fileName).toStdString();
    }
    fs::path bundledRoot(int i) const {
        return resources_ / "NPKI/KISA" /
               QString::fromStdWString(NPKI_KISA[i].fileName).toStdString();
    }

    // Checks that the delegate started the installed application, then ends it.
    static bool endLaunched(AppDelegate& delegate, const fs::path& installed) {
        const pid_t pid = delegate.launchedPid();
        if (pid <= 0) return false;
        char exe[4096] = {};
        const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, 4095);
        const bool ours = n > 0 && fs::path(exe) == installed / "Contents/MacOS/Brindlow";
        const bool ownSession = getsid(pid) == pid;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return ours && ownSession;
    }

  private:
    fs::path home_, apps_, resources_;
    Env vHome_, vApps_, vData_, vConfig_, vScope_;
    std::string scope_;
};

}  // namespace installer_test
