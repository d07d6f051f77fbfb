#include "SGDaemon.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "SGDaemonInternal.h"

using namespace sgdaemon;

namespace {

constexpr char kDaemonName[] = "Ostrel_Daemon";
constexpr char kPidPathFormat[] = "%s/../Resources/%s";
constexpr char kAdminName[] = "admin";
constexpr char kTerminateLine[] = "Caught signal SIGTERM\n";

char* gDaemonName = nullptr;

// Set once by SIGTERM or SGDaemon_Shutdown; lock-free, so the signal handler may write it.
std::atomic<int> gShutdown{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Where the signal handler writes its debug line (a descriptor: nothing else is safe there).
std::atomic<int> gDebugDescriptor{STDERR_FILENO};

// Process slots: pid 0 is a free slot.
int32_t* gPids = nullptr;
int gPidSlots = 0;
int gProcesses = 0;

SGDaemonProcess* gHead = nullptr;
SGDaemonProcess* gTail = nullptr;
int gProcessCount = 0;

const char* text(const char* s) {
    return s ? s : "";
}

bool isAdmin(const char* name) {
    return name && SGB(SGOS_strcmp)(name, kAdminName) == 0;
}

// The pid file's path: "<home>/../Resources/kelbrin.pid"; "" without a home folder.
std::string pidPath(const SGDaemonConfig* config) {
    if (!config || !config->home) return {};
    const size_t size =
        std::strlen(config->home) + sizeof kPidPathFormat + sizeof SG_DAEMON_PID_FILE;
    std::string path(size, '\0');
    int n = SGOS_sprintf(path.data(), kPidPathFormat, config->home, SG_DAEMON_PID_FILE);
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path;
}

void freeProcessList() {
    while (SGDaemonProcess* entry = gHead) {
        gHead = entry->next;
        if (entry->listener >= 0) socketClose(entry->listener);
        freeString(entry->name);
        release(entry);
    }
    gTail = nullptr;
    gProcessCount = 0;
}

void freePidList() {
    // A list of more than one process would live in shared memory, which is never handed out.
    release(gPids);
    gPids = nullptr;
    gPidSlots = 0;
    gProcesses = 0;
}

// After a failed start no thread accepts on the registered ports: close them so that clients
// are refused instead of waiting in the backlog.
void closeIdleListeners() {
    for (SGDaemonProcess* entry = gHead; entry; entry = entry->next) {
        SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(entry->name);
        if (pool) {
            SGB(SGThread_MutexLock)(pool->mutex);
            const bool started = pool->started;
            if (!started) pool->listener = -1;
            SGB(SGThread_MutexUnlock)(pool->mutex);
            if (started) continue;
        }
        if (entry->listener >= 0) socketClose(entry->listener);
        entry->listener = -1;
    }
}

// Console and log lines of one service's registration result.
void reportRegistration(int rc, const SGDaemonConfigService* service, const SGDaemonConfig* config,
                        bool admin) {
    const char* path = text(service->modulepath);
    switch (rc) {
        case 0:
            SGD_CONSOLE("ok\n");
            return;
        case SG_DAEMON_ERR_BUNDLE:
            if (admin)
                SGLog_Write(SG_LOG_LEVEL_FATAL, "[FATAL] Admin module: fail to load library (%s)\n",
                            path);
            else
                SGLog_Write(SG_LOG_LEVEL_FATAL,
                            "[FATAL] Service (%s) module: fail to load library (%s)\n",
                            text(service->name), path);
            SGD_CONSOLE("fail to load library (%s)\n", path);
            return;
        case SG_DAEMON_ERR_SYMBOL:
            if (admin)
                SGLog_Write(SG_LOG_LEVEL_FATAL,
                            "[FATAL] Admin module: fail to load library(%s) symbol\n", path);
            else
                SGLog_Write(SG_LOG_LEVEL_FATAL,
                            "[FATAL] Service (%s) module: fail to load library(%s) symbol\n",
                            text(service->name), path);
            SGD_CONSOLE("fail to load library symbol\n");
            return;
        case SG_DAEMON_ERR_BIND:
            if (admin)
                SGLog_Write(SG_LOG_LEVEL_FATAL,
                            "[FATAL] Admin module: bind address fail. check IP and Port (%s:%d)\n",
                            text(config->bindipaddress), service->serviceport);
            else
                SGLog_Write(
                    SG_LOG_LEVEL_FATAL,
                    "[FATAL] Service (%s) module: bind address fail. check IP and Port (%s:%d)\n",
                    text(service->name), text(config->bindipaddress), service->serviceport);
            SGD_CONSOLE("fail to bind address (%s:%d)\n", text(config->bindipaddress),
                        service->serviceport);
            return;
        default:
            SGD_CONSOLE("fail (%d)\n", rc);
            return;
    }
}

int registerService(SGDaemonConfigService* service, SGDaemonConfig* config, bool admin) {
    SGD_CONSOLE(" service (%s) register ..... ", text(service->name));
    int rc = SGDaemon_ProcessAddProcessList(service, config->bindipaddress, config->bindipv6);
    reportRegistration(rc, service, config, admin);
    return rc;
}

void callInitProcs() {
    for (SGDaemonProcess* entry = gHead; entry; entry = entry->next)
        if (SGDaemon_AdaptorInitProcGuestService(&entry->guest, &entry->host, &entry->admin) != 0)
            break;
}

}  // namespace

namespace sgdaemon {

bool shutdownRequested() {
    return gShutdown.load() != 0;
}

SGDaemonProcess* processList() {
    return gHead;
}

}  // namespace sgdaemon

extern "C" {

int SGDaemonWrapper_Initialize(void) {
    SGBaseWrapper_GetList(Base);
    return 0;
}

int SGDaemonWrapper_Finalize(void) {
    return 0;
}

int SGDaemon_Initialize(const char* product) {
    SGDaemonWrapper_Initialize();
    freeString(aSGDaemon_Exopt.configfile);
    std::memset(&aSGDaemon_Exopt, 0, sizeof aSGDaemon_Exopt);
    freeString(gDaemonName);
    gDaemonName = dupString(kDaemonName);
    if (SGDaemon_InitInnerConfig(product) != 0) return -100;
    const SGDaemonConfig* config = SGDaemon_GetConfig();
    // A configuration file without its object leaves the record empty: no log folder.
    if (!config->logpath || SGDaemon_MakeDir(config->logpath) != 0) return SG_DAEMON_ERR_FOLDER;
    if (SGB(SGLog_Initialize)(config->logpath, text(config->logprefix), config->loglevel) != 0)
        return SG_DAEMON_ERR_LOG;
    return 0;
}

int SGDaemon_startMain(int) {
    return SGDaemon_main(SGDaemon_GetConfig(), 1);
}

int SGDaemon_main(SGDaemonConfig* config, int inProcess) {
    // A record left empty (no home folder) configures nothing to run.
    if (!config || !config->home) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "RESULT");
        return SG_DAEMON_ERR_ARGUMENT;
    }
    const int processes = inProcess ? 1 : config->maxprocess;
    int rc = 0;
    SGD_CONSOLE("process init ..... ");
    rc = SGDaemon_ProcessInit(processes);
    if (rc != 0) {
        SGD_CONSOLE("fail (%d)\n", rc);
        SGLog_Write(SG_LOG_LEVEL_FATAL, "RESULT");
        return rc;
    }
    SGD_CONSOLE("ok\n");

    SGD_CONSOLE("process register\n");
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "Register");
    rc = SGDaemon_ProcessRegister(config);
    if (rc == 0) {
        SGD_CONSOLE("process initialize resource \n");
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Init Resource");
        rc = SGDaemon_ProcessInitResource();
        if (rc != 0) SGD_CONSOLE("init resource failed:%d\n", rc);
    }
    if (rc == 0) {
        SGD_CONSOLE("process start .... ");
        SGLog_Write(SG_LOG_LEVEL_INFO, "process start");
        rc = SGDaemon_ProcessStart(config->maxprocess, inProcess);
        if (rc != 0) {
            SGD_CONSOLE("fail (%d)\n", rc);
        } else {
            SGD_CONSOLE("ok\n");
            SGLog_Write(SG_LOG_LEVEL_FATAL, "ok");
        }
    }
    if (rc == 0) {
        if (SGDaemon_WritePID(config) != 0)
            SGLog_Write(SG_LOG_LEVEL_FATAL, "Can't write pid file.");
    } else {
        closeIdleListeners();
    }
    SGLog_Write(SG_LOG_LEVEL_FATAL, "RESULT");
    return rc;
}

int SGDaemon_Finalize(void) {
    SGLog_Write(SG_LOG_LEVEL_FATAL, " SGDaemon_Shutdown");
    gShutdown.store(1);
    SGLog_Write(SG_LOG_LEVEL_FATAL, " Daemon kill finalize");
    SGDaemon_FinalConfig();
    SGB(SGLog_Finalize)();
    freeString(gDaemonName);
    return 0;
}

void SGDaemon_Shutdown(void) {
    gShutdown.store(1);
}

int SGDaemon_WritePID(const SGDaemonConfig* config) {
    try {
        const std::string path = pidPath(config);
        if (path.empty()) return -1;
        // The Resources folder beside the daemon's home does not exist on a fresh home.
        SGDaemon_MakeDir((std::string(config->home) + "/../Resources").c_str());
        FILE* file = SGB(SGOS_fopen)(path.c_str(), "w");
        if (!file) return -1;
        int written = SGB(SGOS_fprintf)(file, "%d\n", SGB(SGThread_Getpid)());
        int closed = SGB(SGOS_fclose)(file);
        return written > 0 && closed == 0 ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int SGDaemon_Kill(const SGDaemonConfig* config) {
    try {
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Start the procedure for shutting down the daemon.");
        const std::string path = pidPath(config);
        if (path.empty()) return -1;
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Open pid file : %s", path.c_str());
        FILE* file = SGB(SGOS_fopen)(path.c_str(), "r");
        if (!file) {
            SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to open pid file : %s", path.c_str());
            return -1;
        }
        int pid = 0;
        if (SGB(SGOS_fscanf)(file, "%d", &pid) != 1) pid = 0;
        SGB(SGOS_fclose)(file);
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Parent process id : %d", pid);
        if (SGB(SGOS_remove)(path.c_str()) != 0)
            SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to remove pid file. (%d)", errno);
        // Without a process id the signal would reach the whole process group.
        if (pid <= 0) return -1;
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Send the signal (SIGTERM)");
        return SGB(SGOS_kill)(pid, SGOS_SIGTERM);
    } catch (...) {
        return -1;
    }
}

int SGDaemon_ProcessInit(int processes) {
    SGLog_Write(SG_LOG_LEVEL_INFO, "Total process number is %d.", processes);
    freePidList();
    if (processes < 1) processes = 1;
    const size_t bytes = sizeof(int32_t) * (static_cast<size_t>(processes) + 1);
    void* slots = processes == 1 ? allocZero(bytes) : SGDaemon_SharedMalloc(bytes);
    if (!slots) return SG_DAEMON_ERR_MEMORY;
    gPids = static_cast<int32_t*>(slots);
    gPidSlots = processes + 1;
    gProcesses = processes;
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "Set signal : SIGTERM");
    if (FILE* debug = SGB(SG_LOG_DEBUG_Get_Stream)()) {
        int fd = SGB(SGOS_fileno)(debug);
        if (fd >= 0) gDebugDescriptor.store(fd);
    }
    SGB(SGOS_signal)(SGOS_SIGTERM, SGDaemon_Signal_Terminate);
    return 0;
}

int SGDaemon_ProcessRegister(SGDaemonConfig* config) {
    if (!config) return SG_DAEMON_ERR_ARGUMENT;
    if (config->admin.name) {
        if (int rc = registerService(&config->admin, config, true)) return rc;
    }
    for (SGDaemonConfigServiceList* node = config->auth.next; node; node = node->next)
        if (int rc = registerService(&node->service, config, false)) return rc;
    for (SGDaemonProcess* entry = gHead; entry; entry = entry->next)
        if (int rc = SGDaemon_ThreadPoolRegister(entry)) return rc;
    return 0;
}

int SGDaemon_ProcessAddProcessList(SGDaemonConfigService* service, const char* bindAddress,
                                   int bindIPv6) {
    if (!service || !service->name) return SG_DAEMON_ERR_ARGUMENT;
    const int listener = socketServer(bindAddress, service->serviceport, bindIPv6 ? 2 : 1);
    if (listener < 0) return SG_DAEMON_ERR_BIND;
    // A pool serves up to maxpoolsize connections at once; the server socket's backlog of 10
    // would make a burst of clients wait for their connection attempts to be retried (1 s, 3 s,
    // 7 s later). Listening again only widens the queue of pending connections.
    listen(listener, SOMAXCONN);
    auto* entry = static_cast<SGDaemonProcess*>(allocZero(sizeof(SGDaemonProcess)));
    char* name = dupString(service->name);
    if (!entry || !name) {
        socketClose(listener);
        release(entry);
        release(name);
        return SG_DAEMON_ERR_MEMORY;
    }
    int rc = SGDaemon_AdaptorInitGuestSymbol(service, &entry->guest);
    // A service whose module did not load has no Service entry: it is not started at all, and
    // its port is closed so that clients are refused rather than left waiting.
    if (rc == 0 && !entry->guest.service) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "(%s) has no module to load", service->name);
        rc = SG_DAEMON_ERR_BUNDLE;
    }
    if (rc != 0) {
        socketClose(listener);
        release(entry);
        release(name);
        return rc;
    }
    entry->listener = listener;
    entry->name = name;
    SGDaemon_AdaptorInitHostSymbol(&entry->host);
    if (isAdmin(service->name)) SGDaemon_AdaptorInitAdminSymbol(&entry->admin);
    if (gTail)
        gTail->next = entry;
    else
        gHead = entry;
    gTail = entry;
    ++gProcessCount;
    return 0;
}

int SGDaemon_ProcessInitResource(void) {
    for (SGDaemonProcess* entry = gHead; entry; entry = entry->next) {
        SGDaemonConfigService* service = SGDaemon_GetConfigService(entry->name);
        if (!service) return SG_DAEMON_ERR_NO_SERVICE;
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "SGDaemon_GetConfigService");
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "SGDaemon_AdaptorInitGuestService [%s]", entry->name);
        int rc = SGDaemon_AdaptorInitGuestService(&entry->guest, &entry->host, service->configfile);
        if (rc != 0) {
            SGLog_Write(SG_LOG_LEVEL_FATAL, "SGDaemon_AdaptorInitGuestService [%d]", rc);
            return SG_DAEMON_ERR_INIT;
        }
    }
    return 0;
}

int SGDaemon_ProcessStart(int processes, int inProcess) {
    if (inProcess) {
        if (int rc = SGDaemon_ProcessInsertPID(SGB(SGThread_Getpid)())) return rc;
        callInitProcs();
        return SGDaemon_ThreadPoolStartAll(0);
    }
    for (int i = 0; i < processes; ++i) {
        const int pid = SGB(SGThread_Fork)();
        if (pid < 0) {
            SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to make child process.");
            return SG_DAEMON_ERR_FORK;
        }
        if (pid == 0) {
            SGB(SGOS_signal)(SGOS_SIGTERM, SGDaemon_Die);
            SGDaemon_ProcessInsertPID(SGB(SGThread_Getpid)());
            callInitProcs();
            if (int rc = SGDaemon_ThreadPoolStartAll(0)) return rc;
            // The child serves with its pools until SIGTERM ends it; it never continues the
            // parent's loop.
            for (;;) SGB(SGThread_Pause)();
        }
    }
    return 0;
}

int SGDaemon_ProcessFinal(void) {
    for (SGDaemonProcess* entry = gHead; entry; entry = entry->next) {
        int rc = SGDaemon_AdaptorFinalGuestService(&entry->guest);
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "Service[%s] call final function result [%d]",
                    text(entry->name), rc);
    }
    SGDaemon_ThreadPoolFree();
    freeProcessList();
    freePidList();
    return 0;
}

int SGDaemon_ProcessMakeSession(int* session) {
    const int pid = SGB(SGThread_Fork)();
    if (pid < 0) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to fork new process.");
        return SG_DAEMON_ERR_FORK;
    }
    if (pid == 0) {
        const int sid = SGB(SGThread_Setsid)();
        if (sid == -1) {
            SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to setsid().");
            return SG_DAEMON_ERR_SETSID;
        }
        if (session) *session = sid;
    }
    return pid;
}

int SGDaemon_ProcessInsertPID(int pid) {
    for (int i = 0; i < gPidSlots; ++i) {
        if (gPids[i] == 0) {
            gPids[i] = pid;
            return 0;
        }
    }
    return SG_DAEMON_ERR_PID_FULL;
}

int SGDaemon_ProcessDeletePID(int pid) {
    for (int i = 0; i < gPidSlots; ++i) {
        if (pid != 0 && gPids[i] == pid) {
            gPids[i] = 0;
            return 0;
        }
    }
    return SG_DAEMON_ERR_PID_UNKNOWN;
}

void SGDaemon_ProcessWait(void) {
    while (!gShutdown.load()) {
        int status = 0;
        while (SGB(SGThread_Waitpid)(-1, &status, SG_THREAD_WAIT_NOHANG) > 0) {
        }
        SGB(SGOS_sleep)(1);
    }
}

int SGDaemon_ProcessMaxProcessNum(void) {
    return gProcesses;
}

SGDaemonProcessInfo** SGDaemon_ProcessGetProcessInfo(int pid) {
    int count = 0;
    for (int i = 0; i < gPidSlots; ++i)
        if (gPids[i] != 0 && gPids[i] != pid) ++count;
    if (count == 0) return nullptr;
    auto** array =
        static_cast<SGDaemonProcessInfo**>(allocZero(sizeof(SGDaemonProcessInfo*) * (count + 1)));
    if (!array) return nullptr;
    int at = 0;
    for (int i = 0; i < gPidSlots; ++i) {
        if (gPids[i] == 0 || gPids[i] == pid) continue;
        auto* record = static_cast<SGDaemonProcessInfo*>(allocZero(sizeof(SGDaemonProcessInfo)));
        if (!record) {
            SGDaemon_ProcessFreeProcessInfo(array);
            return nullptr;
        }
        record->pid = gPids[i];
        record->count = count;
        array[at++] = record;
    }
    return array;
}

void SGDaemon_ProcessFreeProcessInfo(SGDaemonProcessInfo** array) {
    if (!array) return;
    for (int i = 0; array[i]; ++i) release(array[i]);
    release(array);
}

void SGDaemon_Signal_Terminate(int) {
    // Only async-signal-safe work here: the flag, and the debug line as one write.
    if (gShutdown.exchange(1) == 0) {
        ssize_t ignored = write(gDebugDescriptor.load(), kTerminateLine, sizeof kTerminateLine - 1);
        (void)ignored;
    }
}

void SGDaemon_Die(int) {
    _exit(0);
}

}  // extern "C"
