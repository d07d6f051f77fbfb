/* Configuration of the service daemon host: one process-wide record, built in code for the
 * product that starts the host (optionally adjusted by a small JSON file in its conf folder), or
 * read from a full JSON description. */
#ifndef SG_DAEMON_CONFIG_H
#define SG_DAEMON_CONFIG_H

#include <stdint.h>

#include "SGBaseDefs.h"
#include "SGDaemonDefs.h"

SG_EXTERN_C_BEGIN

/* One service: its port, its pool sizes and the module that serves it. Every string is a heap
 * copy owned by the record. */
typedef struct SGDaemonConfigService {
    char* name;          /* "admin" and "auth" name the two built-in records */
    int loaded;          /* 1 once the module's entry points are resolved */
    int serviceport;     /* TCP port */
    int servicetimeout;  /* seconds; kept, not used by the host */
    int threadcount;     /* workers created at start */
    int threadstacksize; /* worker and master stack size in bytes; -1 = platform default */
    int maxpoolsize;     /* upper bound of workers; -1 = no bound */
    char* configfile;    /* file name handed to the module's Init */
    char* modulepath;    /* file-system path of the module bundle */
    char* init;          /* names of the module's four entry points */
    char* initproc;
    char* final;
    char* service;
} SGDaemonConfigService;

/* A list node: the service record and the next node behind it. */
typedef struct SGDaemonConfigServiceList {
    SGDaemonConfigService service;
    struct SGDaemonConfigServiceList* next;
} SGDaemonConfigServiceList;

typedef struct SGDaemonConfig {
    char* home;                     /* the pid file lies in ../Resources relative to it */
    int maxprocess;                 /* daemon processes; 1 = in the application's process */
    char* ipaddress;                /* service address */
    int ipv6;                       /* 1 when the service address is IPv6 */
    char* bindipaddress;            /* address the listening sockets bind to */
    int bindipv6;                   /* 1 when the bind address is IPv6 */
    char* logpath;                  /* log folder */
    char* logprefix;                /* log-file prefix */
    int loglevel;                   /* log level bits */
    SGDaemonConfigService admin;    /* registered first when it has a name */
    SGDaemonConfigServiceList auth; /* not registered; its next link heads the services */
} SGDaemonConfig;

/* Command-line options. */
#define SG_DAEMON_OPT_DEBUG 0x1
#define SG_DAEMON_OPT_CONFIG 0x2
typedef struct SGDaemonExopt {
    uint32_t flags;   /* SG_DAEMON_OPT_* */
    int debug;        /* 1 in debug mode */
    char* configfile; /* heap copy of the -c value */
} SGDaemonExopt;

extern SG_EXPORT SGDaemonExopt aSGDaemon_Exopt;

/* Records. New records are zeroed; Reset frees every owned string (and, for a list, every node
 * behind the first) and zeroes the record; Free resets and frees it. */
SG_EXPORT SGDaemonConfig* SGDaemon_ConfigNew(void);
SG_EXPORT void SGDaemon_ConfigReset(SGDaemonConfig* config);
SG_EXPORT void SGDaemon_ConfigFree(SGDaemonConfig* config);
/* Resets and frees the process-wide record; the next reader builds a new one. */
SG_EXPORT void SGDaemon_FinalConfig(void);
SG_EXPORT SGDaemonConfigService* SGDaemon_ConfigServiceNew(void);
SG_EXPORT void SGDaemon_ConfigServiceReset(SGDaemonConfigService* service);
SG_EXPORT void SGDaemon_ConfigServiceFree(SGDaemonConfigService* service);
/* Deep copy into destination, whose own strings are released first: 0; 6001 for a missing
 * argument; -1 when memory runs out (destination left empty). */
SG_EXPORT int SGDaemon_ConfigServiceCopy(SGDaemonConfigService* destination,
                                         const SGDaemonConfigService* source);
SG_EXPORT SGDaemonConfigServiceList* SGDaemon_ConfigServiceListNew(void);
SG_EXPORT void SGDaemon_ConfigServiceListReset(SGDaemonConfigServiceList* list);
SG_EXPORT void SGDaemon_ConfigServiceListFree(SGDaemonConfigServiceList* list);
/* Node-by-node deep copy into destination, which is reset first: 0; 6001; -1 when memory runs
 * out (destination left empty). */
SG_EXPORT int SGDaemon_ConfigServiceListCopy(SGDaemonConfigServiceList* destination,
                                             const SGDaemonConfigServiceList* source);
/* Appends a deep copy of the service at the end of the list: 0; 6001; 6002. */
SG_EXPORT int SGDaemon_ConfigServiceListAdd(SGDaemonConfigServiceList* list,
                                            const SGDaemonConfigService* service);

/* Builds the process-wide record for the product: 0; 6004 when a record exists; 6002 memory;
 * 6024 a folder cannot be created; -1 when the program's own path cannot be read. */
SG_EXPORT int SGDaemon_InitInnerConfig(const char* product);
/* Builds the process-wide record from a full JSON description: 0; 6001; 6004; 6002; -1 for a
 * file that cannot be read or a missing required key. */
SG_EXPORT int SGDaemon_InitConfig(const char* path);
SG_EXPORT SGDaemonConfig* SGDaemon_GetConfig(void);
/* "admin" and "auth" give the built-in records, any other name the first listed service of
 * that exact name; null when none matches. */
SG_EXPORT SGDaemonConfigService* SGDaemon_GetConfigService(const char* name);

/* Creates the folder (and its missing parents) with mode 0700 unless it is readable: 0; 6024. */
SG_EXPORT int SGDaemon_MakeDir(const char* path);
/* -3 missing path; -1 no such file; -2 not readable and writable; 0. */
SG_EXPORT int SGDaemon_CheckFile(const char* path);
/* Options "dc:" (-d debug, -c configuration file), then checks the configuration file: 0; -1
 * unknown option; 6006 missing file; 6007 unusable file or -c without a value. */
SG_EXPORT int SGDaemon_getopt(int argc, char** argv, SGDaemonExopt* options);
SG_EXPORT void SGDaemon_PrintUsage(const char* program);
SG_EXPORT void SGDaemon_PrintWrongConfig(const char* program, const char* file);
SG_EXPORT void SGDaemon_PrintFailtoLog(const char* program, const char* logpath, const char* prefix,
                                       int level);
SG_EXPORT int SGDaemon_PreProcessFunction(void);

SG_EXTERN_C_END

#endif
