/* Start-up and process control of the service daemon host. The application starts the host in
 * its own process: SGDaemon_Initialize (product name), then SGDaemon_startMain, which binds the
 * services' ports, loads and initialises their modules and starts the thread pools, and returns
 * once the master threads run. The host is never stopped; its threads end with the process. */
#ifndef SG_DAEMON_H
#define SG_DAEMON_H

#include "SGBaseDefs.h"
#include "SGDaemonAdaptor.h"
#include "SGDaemonConfig.h"
#include "SGDaemonDefs.h"
#include "SGDaemonThreadPool.h"

SG_EXTERN_C_BEGIN

/* A registered service. */
struct SGDaemonProcess {
    int listener;              /* listening socket, -1 once closed */
    char* name;                /* service name (copy) */
    SGDaemonHostSymbol host;   /* the service's host table */
    SGDaemonGuestSymbol guest; /* the module's entry points */
    SGDaemonAdminSymbol admin; /* filled for the service "admin" only */
    struct SGDaemonProcess* next;
};

/* The pid file below the daemon's home folder: "%s/../Resources/%s". */
#define SG_DAEMON_PID_FILE "kelbrin.pid"

/* Fills Base, builds the configuration and opens the daemon log: 0; -100 the configuration
 * cannot be built; 6024 no log folder; 6025 the log cannot be opened. */
SG_EXPORT int SGDaemon_Initialize(const char* product);
/* Starts the host in the calling process; the argument is not read. */
SG_EXPORT int SGDaemon_startMain(int unused);
/* The start sequence; 0 once the pools run, else the failing step's code; 6001 for a missing
 * configuration. */
SG_EXPORT int SGDaemon_main(SGDaemonConfig* config, int inProcess);
SG_EXPORT int SGDaemon_Finalize(void);
SG_EXPORT void SGDaemon_Shutdown(void);
SG_EXPORT int SGDaemonWrapper_Initialize(void);
SG_EXPORT int SGDaemonWrapper_Finalize(void);

/* Writes the pid file: 0; -1 when it cannot be written. */
SG_EXPORT int SGDaemon_WritePID(const SGDaemonConfig* config);
/* Sends SIGTERM to the process of the pid file (deleted first): the result of the send; -1
 * when the file holds no process id. */
SG_EXPORT int SGDaemon_Kill(const SGDaemonConfig* config);

SG_EXPORT int SGDaemon_ProcessInit(int processes);
SG_EXPORT int SGDaemon_ProcessRegister(SGDaemonConfig* config);
SG_EXPORT int SGDaemon_ProcessAddProcessList(SGDaemonConfigService* service,
                                             const char* bindAddress, int bindIPv6);
SG_EXPORT int SGDaemon_ProcessInitResource(void);
SG_EXPORT int SGDaemon_ProcessStart(int processes, int inProcess);
SG_EXPORT int SGDaemon_ProcessFinal(void);
SG_EXPORT int SGDaemon_ProcessMakeSession(int* session);
SG_EXPORT int SGDaemon_ProcessInsertPID(int pid);
SG_EXPORT int SGDaemon_ProcessDeletePID(int pid);
SG_EXPORT void SGDaemon_ProcessWait(void);
SG_EXPORT int SGDaemon_ProcessMaxProcessNum(void);
/* One record per occupied process slot other than pid; null when there is none. */
SG_EXPORT SGDaemonProcessInfo** SGDaemon_ProcessGetProcessInfo(int pid);
SG_EXPORT void SGDaemon_ProcessFreeProcessInfo(SGDaemonProcessInfo** array);

SG_EXPORT void SGDaemon_Signal_Terminate(int signal);
SG_EXPORT void SGDaemon_Die(int signal);

SG_EXTERN_C_END

#endif
