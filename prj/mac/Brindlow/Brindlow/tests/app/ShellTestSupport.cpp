#include "ShellTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

namespace brindlow::apptest {

namespace {

namespace fs = std::filesystem;

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// A connected socket to 127.0.0.1:port, or -1.
int connectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string makeTempFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

bool runCommand(const std::string& commandLine) {
    return std::system(commandLine.c_str()) == 0;
}

int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

AppFolders makeAppFolders(bool withWatchedBundle) {
    AppFolders f;
    const std::string root = makeTempFolder("brindlow-app");
    if (root.empty()) return f;
    f.home = root + "/home";
    f.applications = root + "/Applications";
    f.watched = f.applications + "/Brindlow.app";
    f.volumes = root + "/Volumes";
    f.logFolder = f.home + "/Library/Ostrelworks/Brindlow/log";
    f.oldMonth = f.logFolder + "/2001-01";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char month[16];
    std::snprintf(month, sizeof month, "%04d-%02d", local.tm_year + 1900, local.tm_mon + 1);
    f.currentMonth = f.logFolder + "/" + month;
    f.port = freeLoopbackPort();

    std::error_code error;
    for (const std::string& folder :
         {f.applications, f.volumes, f.oldMonth, f.currentMonth, f.home + "/Library/Brindlow/conf"})
        fs::create_directories(folder, error);
    if (withWatchedBundle) fs::create_directories(f.watched + "/Contents/MacOS", error);
    std::ofstream(f.oldMonth + "/old.log") << "a line of long ago\n";
    std::ofstream(f.home + "/Library/Brindlow/conf/tovelconf.json")
        << "{\"Tovel\": {\"serviceport\": " << f.port << ", \"loglevel\": \"DEBUG\"}}\n";

    const std::string script = std::string(BRINDLOW_APP_TEST_DATA) + "/make_home.sh";
    if (error || f.port == 0 ||
        !runCommand("bash " + shellQuoted(script) + " " + shellQuoted(f.home))) {
        fs::remove_all(root, error);
        return AppFolders{};
    }
    f.root = root;
    return f;
}

void removeFolders(const AppFolders& folders) {
    if (folders.root.empty()) return;
    std::error_code ignored;
    fs::remove_all(folders.root, ignored);
}

std::string askService(int port, const std::string& line, int timeoutMs) {
    const int fd = connectLoopback(port);
    if (fd < 0) return {};
    const std::string request = line + "\n";
    std::string reply;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (reply.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char chunk[512];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            reply.append(chunk, static_cast<size_t>(n));
        }
    }
    close(fd);
    const size_t end = reply.find('\n');
    return end == std::string::npos ? std::string() : reply.substr(0, end);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

}  // namespace brindlow::apptest
