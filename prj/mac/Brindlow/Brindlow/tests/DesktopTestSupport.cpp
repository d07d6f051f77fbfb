#include "DesktopTestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::string fixturePath(const std::string& name) {
    return testRoot() + "/fixtures/" + name;
}

namespace {

// The media the fixture script makes, built once per version of the script and kept in the
// build folder; key generation is what takes the time. Concurrent test processes build it under
// a lock, into a scratch folder that is renamed into place when complete.
std::string cachedFixtures() {
    const std::string script = std::string(BRINDLOW_TEST_DATA) + "/make_npki_tree.sh";
    std::ifstream in(script, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) return {};
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "desktop-test-media-%016llx",
                  static_cast<unsigned long long>(hash));
    const std::filesystem::path cache = std::filesystem::path(BRINDLOW_BUILD_DIR) / name;
    if (std::filesystem::exists(cache)) return cache.string();

    const std::string lockPath = cache.string() + ".lock";
    const int lock = open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock < 0) return {};
    flock(lock, LOCK_EX);
    std::string result;
    if (std::filesystem::exists(cache)) {
        result = cache.string();
    } else {
        const std::string scratch = cache.string() + ".tmp-" + std::to_string(getpid());
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
        const std::string command = "bash '" + script + "' '" + scratch + "'";
        if (std::system(command.c_str()) == 0) {
            std::error_code renamed;
            std::filesystem::rename(scratch, cache, renamed);
            if (!renamed) result = cache.string();
        }
        std::filesystem::remove_all(scratch, ignored);
    }
    flock(lock, LOCK_UN);
    close(lock);
    return result;
}

}  // namespace

bool prepareEnvironment() {
    const std::string media = cachedFixtures();
    if (testRoot().empty() || media.empty()) return false;
    std::error_code error;
    std::filesystem::copy(media, testRoot(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing,
                          error);
    if (error) return false;
    std::filesystem::create_directories(testHome() + "/Library/Preferences");
    setenv("HOME", testHome().c_str(), 1);
    setenv("BRINDLOW_VOLUMES", testVolumes().c_str(), 1);
    // Validity texts are local time; the fixtures' expected texts are in UTC.
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string onlyFolderIn(const std::string& folder) {
    std::string found;
    int count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_directory() && ++count == 1) found = entry.path().string();
    return count == 1 ? found : std::string();
}

}  // namespace brindlow::test
