/* Service thread pools: per registered service one master thread that accepts connections on
 * the service's listening socket and queues them, and worker threads that each take one queued
 * connection at a time and hand it to the module's Service entry. A pool starts with its
 * configured workers and grows by one whenever more connections wait than workers are idle, up
 * to the service's maximum. */
#ifndef SG_DAEMON_THREAD_POOL_H
#define SG_DAEMON_THREAD_POOL_H

#include "SGBaseDefs.h"
#include "SGDaemonAdaptor.h"
#include "SGDaemonDefs.h"

SG_EXTERN_C_BEGIN

typedef struct SGDaemonThreadPool SGDaemonThreadPool;
typedef struct SGDaemonProcess SGDaemonProcess;

/* Creates the pool of a registered service: 0; 6001; 6002; 6005 no configuration for the
 * name; or the error of the mutex or condition. */
SG_EXPORT int SGDaemon_ThreadPoolRegister(SGDaemonProcess* process);
/* Starts the pool's master thread: 0 or the thread-creation result; 6001; 6015 unknown pool. */
SG_EXPORT int SGDaemon_ThreadPoolStart(const char* name);
/* Starts every pool (every pool but "admin" when skipAdmin is non-zero), stopping at the first
 * error; 0 when there is no pool. */
SG_EXPORT int SGDaemon_ThreadPoolStartAll(int skipAdmin);
/* Grows or shrinks a pool to workers: 0; 6001 missing name or fewer than 1 worker; 6015 unknown
 * pool; 6005 no configuration; 6017 already at the maximum; 6016 a worker thread cannot be
 * created; 6002 memory. Workers beyond the new size end: at once when they are waiting, after
 * their connection when they are serving. */
SG_EXPORT int SGDaemon_ThreadPoolResize(const char* name, int workers);
/* Not offered: 6003. */
SG_EXPORT int SGDaemon_ThreadPoolStop(void);
/* Sets the service configuration's maxpoolsize: 0; 6001; 6005. */
SG_EXPORT int SGDaemon_ThreadPoolSetMaxPoolSize(const char* name, int size);
/* Sets the stack size of threads the pool creates later: 0; 6001; 6015. */
SG_EXPORT int SGDaemon_ThreadPoolSetStackSize(const char* name, int size);
SG_EXPORT SGDaemonThreadPool* SGDaemon_ThreadPoolGet(const char* name);

/* Service information of the named pool and every pool after it in the list (all pools for
 * null); null when there is none. Release with SGDaemon_ThreadPoolFreeServiceInfo. */
SG_EXPORT SGDaemonServiceInfo* SGDaemon_ThreadPoolGetServiceInfobyName(const char* name);
SG_EXPORT SGDaemonServiceInfo* SGDaemon_ThreadPoolGetServiceInfo(SGDaemonThreadPool* pool);
/* One record per worker of the named pool; null when the pool is unknown or empty. Release with
 * SGDaemon_ThreadPoolFreeThreadInfo. */
SG_EXPORT SGDaemonThreadInfo** SGDaemon_ThreadPoolGetThreadInfobyName(const char* name);
SG_EXPORT SGDaemonThreadInfo** SGDaemon_ThreadPoolGetThreadInfo(SGDaemonWorker** workers,
                                                                int count);
/* Frees a service-information list with its worker arrays. */
SG_EXPORT void SGDaemon_ThreadPoolFreeServiceInfo(SGDaemonServiceInfo* list);
/* Frees a worker-information array and its records. */
SG_EXPORT void SGDaemon_ThreadPoolFreeThreadInfo(SGDaemonThreadInfo** array);
/* Frees every pool; only for pools whose threads were never started. */
SG_EXPORT void SGDaemon_ThreadPoolFree(void);
/* Thread functions: the master of a pool (argument: the pool) and a worker (argument: its
 * worker record, which the worker frees when it ends). */
SG_EXPORT void* SGDaemon_ThreadPoolmaster(void* pool);
SG_EXPORT void* SGDaemon_ThreadPoolSlave(void* worker);
/* The number shown in brackets in the pool's log lines: 0 for every name. */
SG_EXPORT unsigned int SGDaemon_UtilHash(const char* name);

SG_EXTERN_C_END

#endif
