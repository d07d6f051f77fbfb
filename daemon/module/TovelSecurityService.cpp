// A small security-service module for the daemon host. It honours the host's contract: the four
// entry points by name, the host table for every socket read and write, the worker record for
// the connection, and the Base table bound by name from the process that loaded it.
//
// Requests are one line of text ending in "\n" (at most 1023 characters); each gets one line:
//   ECHO <text>           -> <text>
//   INFO                  -> index=<i> served=<n> pool=<name> peer=<address> base=<version>
//                            config=<Init's file name> host=<same|different> processes=<n>
//   SERVICES              -> <name>=<workers>/<idle>/<queued> ... (admin service only)
//   RESIZE <service> <n>  -> the resize result (admin service only)
// anything else gets "ERROR". The module never closes the connection; the host does.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "SGDaemonAdaptor.h"

#ifndef STANDIN_INIT_RESULT
#define STANDIN_INIT_RESULT 0
#endif

namespace {

constexpr int kBaseVersion = 2;
constexpr int kBaseSlotVersion = 1;    // SGBase_GetVersion
constexpr int kBaseSlotLogWrite = 13;  // SGLog_Write
constexpr size_t kLineMax = 1024;

void** gBase = nullptr;
SGDaemonHostSymbol gHost{};
char gConfigFile[256] = {};

const char* baseVersion() {
    return reinterpret_cast<const char* (*)()>(gBase[kBaseSlotVersion])();
}

void logLine(int level, const char* text) {
    reinterpret_cast<void (*)(int, const char*, ...)>(gBase[kBaseSlotLogWrite])(level, "%s", text);
}

// Reads one request line through the host; false when the peer closed or the read failed.
bool readLine(SGDaemonWorker* worker, std::string* line) {
    char chunk[256];
    while (line->size() < kLineMax) {
        int n = worker->host.readSocket(worker->socket, chunk, sizeof chunk);
        if (n <= 0) return false;
        line->append(chunk, static_cast<size_t>(n));
        if (size_t end = line->find('\n'); end != std::string::npos) {
            line->resize(end);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
    }
    return false;
}

bool writeAll(SGDaemonWorker* worker, const std::string& reply) {
    size_t sent = 0;
    while (sent < reply.size()) {
        int n = worker->host.writeSocket(worker->socket, reply.data() + sent,
                                         static_cast<int>(reply.size() - sent));
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string info(const SGDaemonWorker* worker) {
    const bool same = std::memcmp(&worker->host, &gHost, sizeof gHost) == 0;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "index=%d served=%d pool=%s peer=%s base=%s config=%s host=%s processes=%d",
                  worker->index, worker->served, worker->name, worker->address, baseVersion(),
                  gConfigFile, same ? "same" : "different", worker->host.maxProcessNum());
    return text;
}

std::string services(const SGDaemonWorker* worker) {
    if (!worker->admin) return "ERROR";
    SGDaemonServiceInfo* list = worker->admin->getServiceInfo(nullptr);
    std::string out;
    for (SGDaemonServiceInfo* s = list; s; s = s->next) {
        char item[320];
        std::snprintf(item, sizeof item, "%s%s=%d/%d/%d", out.empty() ? "" : " ", s->name,
                      s->workers, s->idle, s->queued);
        out += item;
    }
    // The list's records and its worker arrays come from the host's heap; the host frees them.
    auto freeList = reinterpret_cast<void (*)(SGDaemonServiceInfo*)>(
        dlsym(RTLD_DEFAULT, "SGDaemon_ThreadPoolFreeServiceInfo"));
    if (freeList) freeList(list);
    return out;
}

std::string resize(const SGDaemonWorker* worker, const std::string& arguments) {
    if (!worker->admin) return "ERROR";
    char name[256] = {};
    int count = 0;
    if (std::sscanf(arguments.c_str(), "%255s %d", name, &count) != 2) return "ERROR";
    return std::to_string(worker->admin->resizeThread(name, count));
}

}  // namespace

extern "C" {

SG_EXPORT int SGstorage_Init(const char* configfile, const SGDaemonHostSymbol* host) {
    if (!host) return 1;
    // The module works through the Base table of the process that loaded it.
    gBase = static_cast<void**>(dlsym(RTLD_DEFAULT, "Base"));
    if (!gBase || *reinterpret_cast<const int32_t*>(&gBase[0]) != kBaseVersion) return 2;
    gHost = *host;
    std::snprintf(gConfigFile, sizeof gConfigFile, "%s", configfile ? configfile : "");
    logLine(8, "TovelSecurityService: initialised");
    return STANDIN_INIT_RESULT;
}

SG_EXPORT int SGstorage_InitProc(const SGDaemonHostSymbol* host, const SGDaemonAdminSymbol*) {
    return host ? 0 : 1;
}

#ifndef STANDIN_WITHOUT_FINAL
SG_EXPORT int SGstorage_Final(void) {
    return 0;
}
#endif

SG_EXPORT int SGstorage_Service(SGDaemonWorker* worker) try {
    if (!worker || !gBase) return -1;
    std::string line;
    if (!readLine(worker, &line)) return -1;
    std::string reply;
    if (line.rfind("ECHO ", 0) == 0)
        reply = line.substr(5);
    else if (line == "INFO")
        reply = info(worker);
    else if (line == "SERVICES")
        reply = services(worker);
    else if (line.rfind("RESIZE ", 0) == 0)
        reply = resize(worker, line.substr(7));
    else
        reply = "ERROR";
    return writeAll(worker, reply + "\n") ? 0 : -1;
} catch (...) {
    return -1;
}

}  // extern "C"
