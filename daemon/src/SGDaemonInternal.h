// Internal to the daemon host: typed calls through the exported Base table, the host's own heap
// strings, and the process-wide state the components share.
#pragma once

#include <cstddef>
#include <cstring>

#include "SGBaseTable.h"
#include "SGConfig.h"
#include "SGDaemon.h"
#include "SGLog.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGSocket.h"
#include "SGThread.h"

// The host reaches the base library through the exported table, as a loaded module does.
#define SGB(name) SG_BASE_FN(Base, name)

namespace sgdaemon {

inline int socketServer(const char* address, int port, int type) {
    return SGB(SGSocket_Server)(address, port, type);
}
inline int socketAccept(int listener, char* peer) {
    return SGB(SGSocket_Accept)(listener, peer);
}
inline void socketClose(int socket) {
    SGB(SGSocket_Close)(socket);
}
inline int socketRecv(int socket, void* buffer, int size, int timeout) {
    return SGB(SGSocket_Recv)(socket, buffer, size, timeout);
}
inline int socketSend(int socket, const void* buffer, int length, int timeout) {
    return SGB(SGSocket_Send)(socket, buffer, length, timeout);
}

inline void* allocZero(size_t size) {
    return SGB(SGMemory_calloc)(1, size);
}
inline void release(void* p) {
    if (p) SGB(SGMemory_free)(p);
}

// A heap copy of text (null for null) that the records own.
inline char* dupString(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(SGB(SGMemory_malloc)(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}
inline void freeString(char*& text) {
    release(text);
    text = nullptr;
}

// Standard output of the start sequence, flushed line by line.
#define SGD_CONSOLE(...)               \
    do {                               \
        SGB(SGOS_printf)(__VA_ARGS__); \
        SGB(SGOS_fflush)(stdout);      \
    } while (0)

// One accepted connection waiting for a worker.
struct Job {
    int socket;
    char address[64];  // as the accept wrote it (at most 46 bytes)
    Job* next;
};

// Process-wide state of the start-up component.
bool shutdownRequested();
SGDaemonProcess* processList();

// ---- Slow and idle clients ------------------------------------------------------------------
// Every accepted connection must deliver a complete request within a deadline from its accept;
// until then no read of the module waits past it (a read past it takes only bytes already
// there), and a connection that missed it is closed at once. The request counts as complete
// when the module first writes on the connection; from then on the per-read time-out alone
// applies. Workers above the pool's starting number end after an idle lifetime.
constexpr int kRequestDeadlineMs = 10000;
constexpr int kIdleWorkerLifetimeMs = 60000;
// Sets both (milliseconds; 0 or less restores the default), for connections accepted and
// workers idle from then on.
void setServiceTimings(int requestDeadlineMs, int idleWorkerLifetimeMs);
int requestDeadlineMs();
int idleWorkerLifetimeMs();

void connectionAccepted(int socket);  // the deadline starts
void connectionAnswered(int socket);  // the module wrote: the request was complete
void connectionClosing(int socket);   // forgotten before the socket is closed
// Milliseconds left before the socket's deadline (0 once it has passed), or -1 when it has
// none (its request is complete, or the host did not accept it).
long long requestTimeLeftMs(int socket);
bool requestExpired(int socket);

}  // namespace sgdaemon

struct SGDaemonThreadPool {
    char* name;
    SGDaemonWorker** workers;  // capacity entries; those below count are live
    int32_t capacity;
    int32_t count;    // workers in use
    int32_t idle;     // workers waiting for a job
    int32_t initial;  // workers the master creates at start
    SGDaemonGuestSymbol guest;
    SGDaemonHostSymbol host;
    SGDaemonAdminSymbol* admin;  // copy for the pool "admin", else null
    int listener;
    int32_t queued;
    sgdaemon::Job* first;
    sgdaemon::Job* last;
    int stacksize;        // -1 = platform default
    SGThreadMutex mutex;  // guards everything above that changes, and the workers' states
    SGThreadCond condition;
    int started;  // the master thread runs
    SGDaemonThreadPool* next;
};
