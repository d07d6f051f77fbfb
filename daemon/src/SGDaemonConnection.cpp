// The request deadline of every accepted connection, and the host's timing settings. A client
// that sends its request a byte at a time, or nothing at all, would otherwise keep a worker for
// as long as each single read stays within its time-out, that is, for ever.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include "SGDaemonInternal.h"

namespace sgdaemon {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> gRequestDeadlineMs{kRequestDeadlineMs};
std::atomic<int> gIdleWorkerLifetimeMs{kIdleWorkerLifetimeMs};

// Sockets whose request is not complete yet, with the moment their deadline passes. A socket
// is entered when it is accepted and leaves when the module first answers on it or when it is
// closed; sockets the module opens itself are never in it.
std::mutex gMutex;
std::unordered_map<int, Clock::time_point> gDeadlines;

}  // namespace

void setServiceTimings(int requestDeadlineMs, int idleWorkerLifetimeMs) {
    gRequestDeadlineMs = requestDeadlineMs > 0 ? requestDeadlineMs : kRequestDeadlineMs;
    gIdleWorkerLifetimeMs = idleWorkerLifetimeMs > 0 ? idleWorkerLifetimeMs : kIdleWorkerLifetimeMs;
}

int requestDeadlineMs() {
    return gRequestDeadlineMs;
}

int idleWorkerLifetimeMs() {
    return gIdleWorkerLifetimeMs;
}

void connectionAccepted(int socket) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(gRequestDeadlineMs.load());
    std::lock_guard lock(gMutex);
    gDeadlines[socket] = deadline;
}

void connectionAnswered(int socket) {
    std::lock_guard lock(gMutex);
    gDeadlines.erase(socket);
}

void connectionClosing(int socket) {
    connectionAnswered(socket);
}

long long requestTimeLeftMs(int socket) {
    Clock::time_point deadline;
    {
        std::lock_guard lock(gMutex);
        const auto it = gDeadlines.find(socket);
        if (it == gDeadlines.end()) return -1;
        deadline = it->second;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return std::max<long long>(left, 0);
}

bool requestExpired(int socket) {
    return requestTimeLeftMs(socket) == 0;
}

}  // namespace sgdaemon
