#include "DesktopTestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <filesystem>
#include <memory>

namespace brindlow::test {

void whenModalWidget(const std::function<bool(QWidget*)>& isWanted,
                     const std::function<void(QWidget*)>& fn, int timeoutMs) {
    auto* timer = new QTimer(qApp);
    auto elapsed = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, qApp, [=] {
        *elapsed += 10;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible() && isWanted(modal)) {
            timer->stop();
            timer->deleteLater();
            fn(modal);
            return;
        }
        if (*elapsed >= timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal window did not show within " << timeoutMs << " ms";
            if (modal != nullptr) modal->close();
        }
    });
    timer->start();
}

std::string testRoot() {
    static const std::string root = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brindlow-app-tests-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return std::string();
        return pattern;
    }();
    return root;
}

std::string makeTempFolder(const std::string& name) {
    static int counter = 0;
    const std::filesystem::path folder =
        std::filesystem::path(testRoot()) / (name + "-" + std::to_string(++counter));
    std::filesystem::create_directories(folder);
    return folder.string();
}

std::string testHome() {
    return testRoot() + "/home";
}

std::string testVolumes() {
    return testRoot() + "/Volumes";
}

void prepareEnvironment() {
    std::filesystem::create_directories(testHome() + "/Library/Preferences");
    std::filesystem::create_directories(testVolumes());
    setenv("HOME", testHome().c_str(), 1);
    setenv("BRINDLOW_VOLUMES", testVolumes().c_str(), 1);
}

}  // namespace brindlow::test
