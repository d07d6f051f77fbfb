#include "SGDaemonAdaptor.h"

#include <algorithm>
#include <string>

#include "Bundle.h"
#include "SGDaemonInternal.h"

using namespace sgdaemon;

namespace {

// Socket reads and writes of a module wait at most this long.
constexpr int kSocketTimeout = 30;

const char* text(const char* s) {
    return s ? s : "";
}

// Resolves one configured entry point into out: 0 or 6019.
template <typename Function>
int resolve(void* bundle, const char* name, Function* out) {
    void* address = brindlow::platform::bundleFunction(bundle, name);
    if (!address) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to CFBundleGetFunctionPointerForName(%s)", name);
        return SG_DAEMON_ERR_SYMBOL;
    }
    *out = reinterpret_cast<Function>(address);
    return 0;
}

// Looks a section's key up as "section$key" in a temporary buffer.
template <typename Result, typename Lookup>
Result lookupKey(SGConfigDictionary* dictionary, const char* section, const char* key, Result def,
                 Lookup lookup) {
    if (!dictionary || !section || !key) return def;
    const uint32_t size = SGB(SGOS_strlen)(section) + SGB(SGOS_strlen)(key) + 2;
    auto* composed = static_cast<char*>(SGB(SGMemory_malloc)(size));
    if (!composed) return def;
    SGB(SGOS_snprintf)(composed, size, "%s$%s", section, key);
    Result value = lookup(dictionary, composed, def);
    release(composed);
    return value;
}

}  // namespace

extern "C" {

int SGDaemon_AdaptorInitGuestSymbol(SGDaemonConfigService* service, SGDaemonGuestSymbol* guest) {
    if (!service || !guest) return SG_DAEMON_ERR_ARGUMENT;
    *guest = SGDaemonGuestSymbol{};
    if (!service->modulepath) return 0;
    const char* name = text(service->name);
    SGLog_Write(SG_LOG_LEVEL_INFO, "Load external library : %s", service->modulepath);
    SGLog_Write(SG_LOG_LEVEL_INFO, "Load external library : %s", service->modulepath);
    void* bundle = nullptr;
    try {
        bundle = brindlow::platform::loadBundle(service->modulepath, nullptr);
    } catch (...) {
        bundle = nullptr;
    }
    if (!bundle) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "Fail to load bundle(%s)", service->modulepath);
        return SG_DAEMON_ERR_BUNDLE;
    }
    SGDaemonGuestSymbol resolved{};
    if (service->init) {
        SGLog_Write(SG_LOG_LEVEL_INFO, "(%s)'s initial function (before fork()) : %s", name,
                    service->init);
        if (int rc = resolve(bundle, service->init, &resolved.init)) return rc;
    }
    if (service->initproc) {
        SGLog_Write(SG_LOG_LEVEL_INFO, "(%s)'s initial function (after fork()) : %s", name,
                    service->initproc);
        if (int rc = resolve(bundle, service->initproc, &resolved.initproc)) return rc;
    }
    if (service->final) {
        SGLog_Write(SG_LOG_LEVEL_INFO, "(%s)'s finalize function : %s", name, service->final);
        if (int rc = resolve(bundle, service->final, &resolved.final)) return rc;
    }
    if (!service->service) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "(%s)'s service function is not found", name);
        return SG_DAEMON_ERR_NO_SERVICE;
    }
    SGLog_Write(SG_LOG_LEVEL_INFO, "(%s)'s service function : %s", name, service->service);
    if (int rc = resolve(bundle, service->service, &resolved.service)) return rc;
    *guest = resolved;
    service->loaded = 1;
    return 0;
}

int SGDaemon_AdaptorInitGuestService(const SGDaemonGuestSymbol* guest,
                                     const SGDaemonHostSymbol* host, const char* configfile) {
    if (!guest || !host) return SG_DAEMON_ERR_ARGUMENT;
    return guest->init ? guest->init(configfile, host) : 0;
}

int SGDaemon_AdaptorInitProcGuestService(const SGDaemonGuestSymbol* guest,
                                         const SGDaemonHostSymbol* host,
                                         const SGDaemonAdminSymbol* admin) {
    if (!guest || !host) return SG_DAEMON_ERR_ARGUMENT;
    return guest->initproc ? guest->initproc(host, admin) : 0;
}

int SGDaemon_AdaptorFinalGuestService(const SGDaemonGuestSymbol* guest) {
    if (!guest) return SG_DAEMON_ERR_ARGUMENT;
    return guest->final ? guest->final() : 0;
}

int SGDaemon_AdaptorInitHostSymbol(SGDaemonHostSymbol* table) {
    if (!table) return SG_DAEMON_ERR_ARGUMENT;
    table->sharedMalloc = SGDaemon_SharedMalloc;
    table->iniparserNew = SGDaemon_AdaptorIniparserNew;
    table->iniparserFree = SGDaemon_AdaptorIniparserFree;
    table->iniparserGetNSec = SGDaemon_AdaptorIniparserGetNSec;
    table->iniparserGetSecName = SGDaemon_AdaptorIniparserGetSecName;
    table->iniparserGetString = SGDaemon_AdaptorIniparserGetString;
    table->iniparserGetInt = SGDaemon_AdaptorIniparserGetInt;
    table->iniparserGetDouble = SGDaemon_AdaptorIniparserGetDouble;
    table->iniparserGetBoolean = SGDaemon_AdaptorIniparserGetBoolean;
    table->readSocket = SGDaemon_AdaptorReadSocket;
    table->writeSocket = SGDaemon_AdaptorWriteSocket;
    table->maxProcessNum = SGDaemon_AdaptorMaxProcessNum;
    return 0;
}

int SGDaemon_AdaptorInitAdminSymbol(SGDaemonAdminSymbol* table) {
    if (!table) return SG_DAEMON_ERR_ARGUMENT;
    table->getProcessInfo = SGDaemon_AdaptorGetProcessInfo;
    table->getThreadInfo = SGDaemon_AdaptorGetThreadInfo;
    table->getServiceInfo = SGDaemon_AdaptorGetServiceInfo;
    table->resizeThread = SGDaemon_AdaptorResizeThread;
    return 0;
}

int SGDaemon_AdaptorCopyHostSymbol(const SGDaemonHostSymbol* source,
                                   SGDaemonHostSymbol* destination) {
    if (!source || !destination) return SG_DAEMON_ERR_ARGUMENT;
    *destination = *source;
    return 0;
}

int SGDaemon_AdaptorCopyAdminSymbol(const SGDaemonAdminSymbol* source,
                                    SGDaemonAdminSymbol* destination) {
    if (!source || !destination) return SG_DAEMON_ERR_ARGUMENT;
    *destination = *source;
    return 0;
}

int SGDaemon_AdaptorCopyGuestSymbol(const SGDaemonGuestSymbol* source,
                                    SGDaemonGuestSymbol* destination) {
    if (!source || !destination) return SG_DAEMON_ERR_ARGUMENT;
    destination->final = source->final;
    destination->service = source->service;
    return 0;
}

void* SGDaemon_SharedMalloc(size_t) {
    return nullptr;
}

void SGDaemon_SharedFree(void*) {}

SGConfigDictionary* SGDaemon_AdaptorIniparserNew(const char* path) {
    return path ? SGB(SGConfig_IniparserNew)(path, 0) : nullptr;
}

void SGDaemon_AdaptorIniparserFree(SGConfigDictionary* dictionary) {
    if (dictionary) SGB(SGConfig_IniparserFree)(dictionary);
}

int SGDaemon_AdaptorIniparserGetNSec(SGConfigDictionary* dictionary) {
    return SGB(SGConfig_IniparserGetNSec)(dictionary);
}

const char* SGDaemon_AdaptorIniparserGetSecName(SGConfigDictionary* dictionary, int n) {
    return dictionary ? SGB(SGConfig_IniparserGetSecName)(dictionary, n) : nullptr;
}

const char* SGDaemon_AdaptorIniparserGetString(SGConfigDictionary* dictionary, const char* section,
                                               const char* key, const char* def) {
    return lookupKey<const char*>(
        dictionary, section, key, def,
        [](SGConfigDictionary* d, const char* k, const char* v) -> const char* {
            return SGB(SGConfig_IniparserGetString)(d, k, v);
        });
}

int SGDaemon_AdaptorIniparserGetInt(SGConfigDictionary* dictionary, const char* section,
                                    const char* key, int def) {
    return lookupKey<int>(dictionary, section, key, def, SGB(SGConfig_IniparserGetInt));
}

double SGDaemon_AdaptorIniparserGetDouble(SGConfigDictionary* dictionary, const char* section,
                                          const char* key, double def) {
    return lookupKey<double>(dictionary, section, key, def, SGB(SGConfig_IniparserGetDouble));
}

int SGDaemon_AdaptorIniparserGetBoolean(SGConfigDictionary* dictionary, const char* section,
                                        const char* key, int def) {
    return lookupKey<int>(dictionary, section, key, def, SGB(SGConfig_IniparserGetBoolean));
}

int SGDaemon_AdaptorReadSocket(int socket, void* buffer, int length) {
    // Until its request is complete, a connection's reads end at its deadline (in whole seconds,
    // rounded up); past it, a read takes only what has already arrived.
    int timeout = kSocketTimeout;
    if (const long long left = requestTimeLeftMs(socket); left >= 0)
        timeout = static_cast<int>(std::min<long long>(kSocketTimeout, (left + 999) / 1000));
    return socketRecv(socket, buffer, length, timeout);
}

int SGDaemon_AdaptorWriteSocket(int socket, const void* buffer, int length) {
    // The module answers: the request it read was complete.
    connectionAnswered(socket);
    return socketSend(socket, buffer, length, kSocketTimeout);
}

int SGDaemon_AdaptorMaxProcessNum(void) {
    return SGDaemon_ProcessMaxProcessNum();
}

SGDaemonProcessInfo** SGDaemon_AdaptorGetProcessInfo(int pid) {
    return SGDaemon_ProcessGetProcessInfo(pid);
}

SGDaemonThreadInfo** SGDaemon_AdaptorGetThreadInfo(const char* service) {
    return SGDaemon_ThreadPoolGetThreadInfobyName(service);
}

SGDaemonServiceInfo* SGDaemon_AdaptorGetServiceInfo(const char* service) {
    return SGDaemon_ThreadPoolGetServiceInfobyName(service);
}

int SGDaemon_AdaptorResizeThread(const char* service, int workers) {
    return SGDaemon_ThreadPoolResize(service, workers);
}

}  // extern "C"
