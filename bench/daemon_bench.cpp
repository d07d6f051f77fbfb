// The daemon host's pool serving short request/response exchanges from 100 concurrent loopback
// clients, beside a minimal server of one thread per connection that speaks the same protocol,
// in the same run. Each exchange: connect, send one request line, read the reply line, close.
// Reported: connections per second, median and 99th-percentile latency of an exchange, and the
// connections lost (a run with any lost or hung connection fails).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "Bundle.h"
#include "SGDaemon.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 100;
constexpr int kExchangesPerClient = 5;
constexpr int kTimeoutMs = 10000;    // an exchange slower than this counts as hung
constexpr int kBacklog = SOMAXCONN;  // as the daemon's listening sockets

int freePort() {
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

bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

// One exchange; false when it failed or did not finish in time.
bool exchange(int port, const std::string& request) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    int error = 0;
    socklen_t len = sizeof error;
    if ((connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ||
         (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline) &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)) &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        std::string reply;
        while (waitFor(fd, POLLIN, deadline)) {
            char buffer[256];
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            reply.append(buffer, static_cast<size_t>(n));
            if (reply.find('\n') != std::string::npos) {
                ok = reply == request.substr(5);  // "ECHO <text>\n" answers "<text>\n"
                break;
            }
        }
    }
    close(fd);
    return ok;
}

// The minimal reference: one thread per accepted connection, which reads one line, answers it
// like the stand-in module and reads until the client closes.
class ThreadPerConnectionServer {
  public:
    ThreadPerConnectionServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        listen(listener_, kBacklog);
        std::thread([this] { acceptLoop(); }).detach();
    }
    int port() const { return port_; }

  private:
    void acceptLoop() {
        for (;;) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::thread([fd] { serve(fd); }).detach();
        }
    }
    static void serve(int fd) {
        std::string line;
        char buffer[256];
        for (;;) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            line.append(buffer, static_cast<size_t>(n));
            if (size_t end = line.find('\n'); end != std::string::npos) {
                const std::string reply = line.substr(5, end - 5) + "\n";
                send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                while (recv(fd, buffer, sizeof buffer, 0) > 0) {
                }
                break;
            }
        }
        close(fd);
    }
    int listener_ = -1;
    int port_ = 0;
};

// The temporary home the daemon host runs below; empty until it is made. Removed at the end.
std::string& benchHome() {
    static std::string home;
    return home;
}

// The daemon host of this process, started once below a temporary home with the stand-in.
int daemonPort() {
    static const int port = [] {
        std::string home = (fs::temp_directory_path() / "brindlow-bench-XXXXXX").string();
        if (!mkdtemp(home.data())) return -1;
        benchHome() = home;
        setenv("HOME", home.c_str(), 1);
        const int p = freePort();
        fs::create_directories(fs::path(home) / "Library/Brindlow/conf");
        std::ofstream(fs::path(home) / "Library/Brindlow/conf/tovelconf.json")
            << "{\"Tovel\": {\"serviceport\": " << p << ", \"loglevel\": \"fatal\"}}";
        brindlow::platform::setMainBundleResources(BRINDLOW_TOVEL_RESOURCES);
        // Keep the start's console lines out of the report.
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        const bool started = SGDaemon_Initialize("Brindlow") == 0 && SGDaemon_startMain(1) == 0;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        close(null);
        if (!started) return -1;
        for (int i = 0; i < 500 && !exchange(p, "ECHO ready\n"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return p;
    }();
    return port;
}

void runClients(benchmark::State& state, int port) {
    if (port <= 0) {
        state.SkipWithError("the server did not start");
        return;
    }
    std::vector<double> latencies;
    std::mutex latenciesMutex;
    std::atomic<int64_t> lost{0};
    int64_t exchanges = 0;
    for (auto _ : state) {
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                std::vector<double> mine;
                for (int i = 0; i < kExchangesPerClient; ++i) {
                    const std::string request = "ECHO client " + std::to_string(c) + " exchange " +
                                                std::to_string(i) + "\n";
                    const auto begin = Clock::now();
                    if (!exchange(port, request)) {
                        ++lost;
                        continue;
                    }
                    mine.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
                }
                std::lock_guard lock(latenciesMutex);
                latencies.insert(latencies.end(), mine.begin(), mine.end());
            });
        }
        for (std::thread& t : clients) t.join();
        exchanges += kClients * kExchangesPerClient;
    }
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        if (latencies.empty()) return 0.0;
        size_t at = static_cast<size_t>(p * static_cast<double>(latencies.size() - 1));
        return latencies[at];
    };
    state.counters["connections/s"] = benchmark::Counter(
        static_cast<double>(exchanges - lost.load()), benchmark::Counter::kIsRate);
    state.counters["median_ms"] = percentile(0.5);
    state.counters["p99_ms"] = percentile(0.99);
    state.counters["lost"] = static_cast<double>(lost.load());
    if (lost.load() > 0) state.SkipWithError("connections were lost or hung");
}

void BM_DaemonPool(benchmark::State& state) {
    runClients(state, daemonPort());
}
BENCHMARK(BM_DaemonPool)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ThreadPerConnection(benchmark::State& state) {
    static ThreadPerConnectionServer server;
    runClients(state, server.port());
}
BENCHMARK(BM_ThreadPerConnection)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The daemon's threads live on until exit, but nothing writes below its home any more.
    if (!benchHome().empty()) {
        std::error_code ec;
        fs::remove_all(benchHome(), ec);
    }
    return 0;
}
