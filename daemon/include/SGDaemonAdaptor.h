/* The contract between the daemon host and a security-service module: the module's four entry
 * points, the host table and the admin table the host hands over, and the worker record passed
 * to the module's Service entry for every connection. A module is a bundle loaded into the
 * host's process; it reads these records by their fixed layouts. */
#ifndef SG_DAEMON_ADAPTOR_H
#define SG_DAEMON_ADAPTOR_H

#include <stddef.h>
#include <stdint.h>

#include "SGBaseDefs.h"
#include "SGConfig.h"
#include "SGDaemonConfig.h"
#include "SGDaemonDefs.h"

SG_EXTERN_C_BEGIN

typedef struct SGDaemonHostSymbol SGDaemonHostSymbol;
typedef struct SGDaemonAdminSymbol SGDaemonAdminSymbol;
typedef struct SGDaemonWorker SGDaemonWorker;

/* Module entry points. */
typedef int (*SGDaemonInitFunction)(const char* configfile, const SGDaemonHostSymbol* host);
typedef int (*SGDaemonInitProcFunction)(const SGDaemonHostSymbol* host,
                                        const SGDaemonAdminSymbol* admin);
typedef int (*SGDaemonFinalFunction)(void);
typedef int (*SGDaemonServiceFunction)(SGDaemonWorker* worker);

/* The resolved entry points, null where no name is configured. */
typedef struct SGDaemonGuestSymbol {
    SGDaemonInitFunction init;
    SGDaemonInitProcFunction initproc;
    SGDaemonFinalFunction final;
    SGDaemonServiceFunction service;
} SGDaemonGuestSymbol;

/* Host table: twelve functions in this slot order. */
struct SGDaemonHostSymbol {
    /* 0 */ void* (*sharedMalloc)(size_t size);
    /* 1 */ SGConfigDictionary* (*iniparserNew)(const char* path);
    /* 2 */ void (*iniparserFree)(SGConfigDictionary* dictionary);
    /* 3 */ int (*iniparserGetNSec)(SGConfigDictionary* dictionary);
    /* 4 */ const char* (*iniparserGetSecName)(SGConfigDictionary* dictionary, int n);
    /* 5 */ const char* (*iniparserGetString)(SGConfigDictionary* dictionary, const char* section,
                                              const char* key, const char* def);
    /* 6 */ int (*iniparserGetInt)(SGConfigDictionary* dictionary, const char* section,
                                   const char* key, int def);
    /* 7 */ double (*iniparserGetDouble)(SGConfigDictionary* dictionary, const char* section,
                                         const char* key, double def);
    /* 8 */ int (*iniparserGetBoolean)(SGConfigDictionary* dictionary, const char* section,
                                       const char* key, int def);
    /* 9 */ int (*readSocket)(int socket, void* buffer, int length);
    /* 10 */ int (*writeSocket)(int socket, const void* buffer, int length);
    /* 11 */ int (*maxProcessNum)(void);
};

/* Records returned through the admin table, owned by the caller. An array holds one pointer per
 * record and then a null pointer; release the arrays with SGDaemon_ProcessFreeProcessInfo and
 * SGDaemon_ThreadPoolFreeThreadInfo, a service list with SGDaemon_ThreadPoolFreeServiceInfo. */
typedef struct SGDaemonProcessInfo {
    int32_t pid;
    int32_t count; /* records in the array */
} SGDaemonProcessInfo;

typedef struct SGDaemonThreadInfo {
    int32_t count;  /* records in the array */
    int32_t index;  /* worker index */
    int32_t served; /* connections served */
    int32_t unused;
    uint64_t thread;  /* thread identifier */
    int32_t state;    /* SG_DAEMON_WORKER_* */
    char address[32]; /* client address text */
} SGDaemonThreadInfo;

typedef struct SGDaemonServiceInfo {
    char* name;
    int32_t workers;
    int32_t idle;
    int32_t queued;
    int32_t stacksize;
    SGDaemonThreadInfo** threads; /* one record per worker, or null */
    struct SGDaemonServiceInfo* next;
} SGDaemonServiceInfo;

/* Admin table: four functions, filled only for the service named "admin". */
struct SGDaemonAdminSymbol {
    /* 0 */ SGDaemonProcessInfo** (*getProcessInfo)(int pid);
    /* 1 */ SGDaemonThreadInfo** (*getThreadInfo)(const char* service);
    /* 2 */ SGDaemonServiceInfo* (*getServiceInfo)(const char* service);
    /* 3 */ int (*resizeThread)(const char* service, int workers);
};

/* Worker states. */
enum {
    SG_DAEMON_WORKER_IDLE = 0,
    SG_DAEMON_WORKER_SERVING = 1,
    SG_DAEMON_WORKER_STOP = 3,
    SG_DAEMON_WORKER_ENDED = 4
};

/* Worker record: one per worker thread, 416 bytes. */
struct SGDaemonWorker {
    int32_t index;              /* 0: worker index in its pool */
    int32_t served;             /* 4: connections served */
    char name[256];             /* 8: pool (service) name */
    uint64_t thread;            /* 264: thread identifier */
    int32_t state;              /* 272: SG_DAEMON_WORKER_* */
    int32_t socket;             /* 276: client socket of the connection being served */
    char address[32];           /* 280: client address text, at most 31 characters */
    SGDaemonHostSymbol host;    /* 312: copy of the host table */
    SGDaemonAdminSymbol* admin; /* 408: admin table of the "admin" service, else null */
};

#ifdef __cplusplus
static_assert(sizeof(SGDaemonHostSymbol) == 96, "host table layout");
static_assert(sizeof(SGDaemonAdminSymbol) == 32, "admin table layout");
static_assert(sizeof(SGDaemonWorker) == 416, "worker record layout");
static_assert(offsetof(SGDaemonWorker, served) == 4, "worker record layout");
static_assert(offsetof(SGDaemonWorker, name) == 8, "worker record layout");
static_assert(offsetof(SGDaemonWorker, thread) == 264, "worker record layout");
static_assert(offsetof(SGDaemonWorker, state) == 272, "worker record layout");
static_assert(offsetof(SGDaemonWorker, socket) == 276, "worker record layout");
static_assert(offsetof(SGDaemonWorker, address) == 280, "worker record layout");
static_assert(offsetof(SGDaemonWorker, host) == 312, "worker record layout");
static_assert(offsetof(SGDaemonWorker, admin) == 408, "worker record layout");
static_assert(sizeof(SGDaemonProcessInfo) == 8, "process record layout");
static_assert(sizeof(SGDaemonThreadInfo) == 64, "worker information layout");
static_assert(offsetof(SGDaemonThreadInfo, thread) == 16, "worker information layout");
static_assert(offsetof(SGDaemonThreadInfo, state) == 24, "worker information layout");
static_assert(offsetof(SGDaemonThreadInfo, address) == 28, "worker information layout");
static_assert(sizeof(SGDaemonServiceInfo) == 40, "service information layout");
#endif

/* Loads the service's module bundle and resolves its entry points: 0 (also when the service has
 * no module path: nothing is loaded); 6001; 6018 bundle; 6019 a configured entry point is
 * missing; 6005 no Service entry configured. Sets the service's loaded flag. */
SG_EXPORT int SGDaemon_AdaptorInitGuestSymbol(SGDaemonConfigService* service,
                                              SGDaemonGuestSymbol* guest);
/* Call the module's Init, InitProc and Final; 0 when the entry is not resolved; 6001. */
SG_EXPORT int SGDaemon_AdaptorInitGuestService(const SGDaemonGuestSymbol* guest,
                                               const SGDaemonHostSymbol* host,
                                               const char* configfile);
SG_EXPORT int SGDaemon_AdaptorInitProcGuestService(const SGDaemonGuestSymbol* guest,
                                                   const SGDaemonHostSymbol* host,
                                                   const SGDaemonAdminSymbol* admin);
SG_EXPORT int SGDaemon_AdaptorFinalGuestService(const SGDaemonGuestSymbol* guest);

/* Fill the tables in their slot orders: 0 (6001 for a missing table). */
SG_EXPORT int SGDaemon_AdaptorInitHostSymbol(SGDaemonHostSymbol* table);
SG_EXPORT int SGDaemon_AdaptorInitAdminSymbol(SGDaemonAdminSymbol* table);
SG_EXPORT int SGDaemon_AdaptorCopyHostSymbol(const SGDaemonHostSymbol* source,
                                             SGDaemonHostSymbol* destination);
SG_EXPORT int SGDaemon_AdaptorCopyAdminSymbol(const SGDaemonAdminSymbol* source,
                                              SGDaemonAdminSymbol* destination);
/* Copies the Final and Service entries (the pool calls only Service). */
SG_EXPORT int SGDaemon_AdaptorCopyGuestSymbol(const SGDaemonGuestSymbol* source,
                                              SGDaemonGuestSymbol* destination);

/* Host-table functions. */
SG_EXPORT void* SGDaemon_SharedMalloc(size_t size); /* shared memory is not offered: null */
SG_EXPORT void SGDaemon_SharedFree(void* pointer);
SG_EXPORT SGConfigDictionary* SGDaemon_AdaptorIniparserNew(const char* path);
SG_EXPORT void SGDaemon_AdaptorIniparserFree(SGConfigDictionary* dictionary);
SG_EXPORT int SGDaemon_AdaptorIniparserGetNSec(SGConfigDictionary* dictionary);
SG_EXPORT const char* SGDaemon_AdaptorIniparserGetSecName(SGConfigDictionary* dictionary, int n);
SG_EXPORT const char* SGDaemon_AdaptorIniparserGetString(SGConfigDictionary* dictionary,
                                                         const char* section, const char* key,
                                                         const char* def);
SG_EXPORT int SGDaemon_AdaptorIniparserGetInt(SGConfigDictionary* dictionary, const char* section,
                                              const char* key, int def);
SG_EXPORT double SGDaemon_AdaptorIniparserGetDouble(SGConfigDictionary* dictionary,
                                                    const char* section, const char* key,
                                                    double def);
SG_EXPORT int SGDaemon_AdaptorIniparserGetBoolean(SGConfigDictionary* dictionary,
                                                  const char* section, const char* key, int def);
/* One receive or send with a 30-second time-out: bytes, 0 when the peer closed (read), -1. */
SG_EXPORT int SGDaemon_AdaptorReadSocket(int socket, void* buffer, int length);
SG_EXPORT int SGDaemon_AdaptorWriteSocket(int socket, const void* buffer, int length);
SG_EXPORT int SGDaemon_AdaptorMaxProcessNum(void);

/* Admin-table functions. */
SG_EXPORT SGDaemonProcessInfo** SGDaemon_AdaptorGetProcessInfo(int pid);
SG_EXPORT SGDaemonThreadInfo** SGDaemon_AdaptorGetThreadInfo(const char* service);
SG_EXPORT SGDaemonServiceInfo* SGDaemon_AdaptorGetServiceInfo(const char* service);
SG_EXPORT int SGDaemon_AdaptorResizeThread(const char* service, int workers);

SG_EXTERN_C_END

#endif
