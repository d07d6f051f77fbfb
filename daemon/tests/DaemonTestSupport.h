// Shared by the daemon tests: temporary homes, log reading, loopback clients, and a daemon
// host run in a forked child (its start, its threads and its SIGTERM handler are process-wide,
// so each scenario gets a process of its own) driven over a control socket.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Bundle.h"
#include "SGDaemon.h"
#include "SGDaemonInternal.h"

namespace daemontest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder below the temporary folder, removed with its content at the end.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "brindlow-daemon-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    fs::path path_;
};

// Sets or unsets an environment variable for one scope.
class EnvOverride {
  public:
    EnvOverride(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Every line of the log files below a log folder (all days, in file order).
inline std::vector<std::string> logLinesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const fs::path& file : files) {
        std::istringstream in(readFile(file));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

// The daemon's log below a home folder.
inline std::vector<std::string> logLines(const fs::path& home) {
    return logLinesIn(home / "Library/Brindlow/log");
}

inline int countContaining(const std::vector<std::string>& lines, const std::string& part) {
    int n = 0;
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) ++n;
    return n;
}

inline bool logHas(const fs::path& home, const std::string& part) {
    return countContaining(logLines(home), part) > 0;
}

// A loopback port nothing listens on at this moment.
inline int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// The configuration file of the built-in edition with a port and a level name.
inline void writeTovelConf(const fs::path& home, int port, const std::string& level) {
    writeFile(home / "Library/Brindlow/conf/tovelconf.json",
              "{\"Tovel\": {\"serviceport\": " + std::to_string(port) + ", \"loglevel\": \"" +
                  level + "\"}}");
}

// A loopback connection, or -1 (connect bounded by timeoutMs).
inline int connectTo(int port, int timeoutMs = 3000) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        int ready;
        while ((ready = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            rc = 0;
        else
            errno = error ? error : ETIMEDOUT;
    }
    if (rc != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    fcntl(fd, F_SETFL, flags);
    return fd;
}

inline bool sendText(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// One line (without its "\n"), or nullopt on close, error or time-out.
inline std::optional<std::string> readLine(int fd, int timeoutMs = 5000) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;  // a signal the test sent to this process
        if (ready != 1) return std::nullopt;
        char c;
        ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return std::nullopt;
        if (c == '\n') return line;
        line += c;
    }
}

// Milliseconds until the peer closes the connection (recv gives 0 or an error), or -1 when it
// stays open longer than timeoutMs.
inline long millisecondsUntilClosed(int fd, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed >= timeoutMs) return -1;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(timeoutMs - elapsed));
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 1) return -1;
        char buffer[64];
        if (recv(fd, buffer, sizeof buffer, 0) <= 0)
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                .count();
    }
}

// A request line and its one-line reply over a new connection, closed afterwards.
inline std::optional<std::string> exchange(int port, const std::string& request) {
    int fd = connectTo(port);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> reply;
    if (sendText(fd, request + "\n")) reply = readLine(fd);
    close(fd);
    return reply;
}

// Polls a condition until it holds or the time is up.
inline bool eventually(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct DaemonOptions {
    DaemonOptions(fs::path home, std::string resources, std::function<void()> beforeStart = {})
        : home(std::move(home)),
          resources(std::move(resources)),
          beforeStart(std::move(beforeStart)) {}
    fs::path home;
    std::string resources;  // the application's resources folder
    std::string product = "Brindlow";
    std::function<void()> beforeStart;  // in the child, between Initialize and startMain
};

// The daemon host started in a forked child: SGDaemon_Initialize and SGDaemon_startMain, then
// the child answers commands on a control socket until the parent closes it.
class DaemonChild {
  public:
    explicit DaemonChild(const DaemonOptions& options) : home_(options.home) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(pair[0]);
            runChild(options, pair[1]);
        }
        close(pair[1]);
        control_ = pair[0];
        std::istringstream started(command("", 20000).value_or("lost"));
        std::string word;
        started >> word >> initResult_ >> startResult_;
        if (word != "started") initResult_ = startResult_ = -99999;
    }
    ~DaemonChild() {
        close(control_);
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    DaemonChild(const DaemonChild&) = delete;
    DaemonChild& operator=(const DaemonChild&) = delete;

    pid_t pid() const { return pid_; }
    int initResult() const { return initResult_; }
    int startResult() const { return startResult_; }
    std::string console() const { return readFile(home_ / "console.txt"); }
    std::string errors() const { return readFile(home_ / "stderr.txt"); }

    // True while the child runs (it has neither ended nor crashed).
    bool alive() const {
        int status = 0;
        return waitpid(pid_, &status, WNOHANG) == 0;
    }

    // Sends one command line (none when empty) and returns the reply line.
    std::optional<std::string> command(const std::string& line, int timeoutMs = 10000) {
        if (!line.empty() && !sendText(control_, line + "\n")) return std::nullopt;
        return readLine(control_, timeoutMs);
    }

    // The pool of the built-in service: workers, idle workers, queued connections.
    struct PoolState {
        int workers = -1, idle = -1, queued = -1;
    };
    PoolState pool(const std::string& name = "TovelService") {
        PoolState state;
        std::istringstream in(command("pool " + name).value_or(""));
        in >> state.workers >> state.idle >> state.queued;
        return state;
    }
    int tasks() { return std::stoi(command("tasks").value_or("-1")); }
    int resize(int workers, const std::string& name = "TovelService") {
        return std::stoi(
            command("resize " + name + " " + std::to_string(workers)).value_or("-99999"));
    }

  private:
    [[noreturn]] static void runChild(const DaemonOptions& options, int control) {
        setenv("HOME", options.home.c_str(), 1);
        int out = open((options.home / "console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open((options.home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(out);
        close(err);
        brindlow::platform::setMainBundleResources(options.resources);
        int init = SGDaemon_Initialize(options.product.c_str());
        if (options.beforeStart) options.beforeStart();
        int start = SGDaemon_startMain(1);
        std::string reply = "started " + std::to_string(init) + " " + std::to_string(start) + "\n";
        sendText(control, reply);
        for (;;) {
            std::optional<std::string> line = readLine(control, 600000);
            if (!line) _exit(0);
            sendText(control, answer(*line) + "\n");
        }
    }

    static std::string answer(const std::string& line) {
        std::istringstream in(line);
        std::string verb, name;
        in >> verb;
        if (verb == "pool") {
            in >> name;
            SGDaemonServiceInfo* info = SGDaemon_ThreadPoolGetServiceInfobyName(name.c_str());
            if (!info) return "none";
            std::string text = std::to_string(info->workers) + " " + std::to_string(info->idle) +
                               " " + std::to_string(info->queued);
            SGDaemon_ThreadPoolFreeServiceInfo(info);
            return text;
        }
        if (verb == "resize") {
            int n = 0;
            in >> name >> n;
            return std::to_string(SGDaemon_ThreadPoolResize(name.c_str(), n));
        }
        if (verb == "tasks") {
            int n = 0;
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
                ++n;
            return std::to_string(n);
        }
        if (verb == "shutdown") return sgdaemon::shutdownRequested() ? "1" : "0";
        return "unknown";
    }

    fs::path home_;
    pid_t pid_ = -1;
    int control_ = -1;
    int initResult_ = -99999;
    int startResult_ = -99999;
};

}  // namespace daemontest
