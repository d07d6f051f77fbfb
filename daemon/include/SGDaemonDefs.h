/* Result codes of the service daemon host. */
#ifndef SG_DAEMON_DEFS_H
#define SG_DAEMON_DEFS_H

#include "SGBaseDefs.h"

enum {
    SG_DAEMON_ERR_ARGUMENT = 6001,       /* missing argument or configuration */
    SG_DAEMON_ERR_MEMORY = 6002,         /* exhausted memory */
    SG_DAEMON_ERR_UNSUPPORTED = 6003,    /* operation not offered */
    SG_DAEMON_ERR_CONFIGURED = 6004,     /* the configuration is already built */
    SG_DAEMON_ERR_NO_SERVICE = 6005,     /* no configuration or no service entry */
    SG_DAEMON_ERR_CONFIG_MISSING = 6006, /* the configuration file does not exist */
    SG_DAEMON_ERR_CONFIG_ACCESS = 6007,  /* it cannot be read and written, or no -c value */
    SG_DAEMON_ERR_FORK = 6013,           /* no child process */
    SG_DAEMON_ERR_SETSID = 6014,         /* no new session */
    SG_DAEMON_ERR_NO_POOL = 6015,        /* no thread pool of that name */
    SG_DAEMON_ERR_THREAD = 6016,         /* a worker thread cannot be created */
    SG_DAEMON_ERR_POOL_MAX = 6017,       /* the pool is at its maximum */
    SG_DAEMON_ERR_BUNDLE = 6018,         /* the module bundle cannot be loaded */
    SG_DAEMON_ERR_SYMBOL = 6019,         /* a configured entry point is missing */
    SG_DAEMON_ERR_BIND = 6020,           /* the service port cannot be bound */
    SG_DAEMON_ERR_INIT = 6021,           /* the module's Init refused */
    SG_DAEMON_ERR_PID_FULL = 6022,       /* no free process slot */
    SG_DAEMON_ERR_PID_UNKNOWN = 6023,    /* process id not in the list */
    SG_DAEMON_ERR_FOLDER = 6024,         /* a folder cannot be created */
    SG_DAEMON_ERR_LOG = 6025             /* the log cannot be opened */
};

#endif
