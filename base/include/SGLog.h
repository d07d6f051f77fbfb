/* Daily log files, one folder per month, and a debug stream.
 *
 * A context writes the lines of one day into directory/YYYY-MM/prefix_YYYY-MM-DD.log. The first
 * message of a new day switches the context to that day's file: the caller's context pointer is
 * replaced, and the context it held stays open until the next switch of the same log, so a
 * writer still holding it can finish. */
#ifndef SG_LOG_H
#define SG_LOG_H

#include <stdarg.h>
#include <stdio.h>

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* Message levels (bits). A message is written when its level is not above the context's. */
enum {
    SG_LOG_LEVEL_FATAL = 1,
    SG_LOG_LEVEL_ERROR = 2,
    SG_LOG_LEVEL_WARNING = 4,
    SG_LOG_LEVEL_INFO = 8,
    SG_LOG_LEVEL_DEBUG = 16,
    SG_LOG_LEVEL_ALL = 32
};

/* Log result codes. */
enum {
    SG_LOG_ERR_ARGUMENT = 5001,     /* directory or prefix missing */
    SG_LOG_ERR_MEMORY = 5002,       /* exhausted memory */
    SG_LOG_ERR_DIRECTORY = 5004,    /* the log directory is not accessible */
    SG_LOG_ERR_MONTH_FOLDER = 5005, /* the month folder cannot be created */
    SG_LOG_ERR_OPEN = 5006,         /* the day's file cannot be opened */
    SG_LOG_ERR_INITIALIZED = 5007,  /* the process-wide log is already set up */
    SG_LOG_ERR_CONTEXT = 5008       /* the process-wide log cannot be set up */
};

typedef struct SGLogCtx SGLogCtx;

const char* SGLog_GetVersion(void);
const char* SGLog_GetBuildInfo(void);

/* A new context with today's file open, or null after recording the error code with
 * SGBaseError_SetLast (message "SGLog_Initialize failed"). */
SGLogCtx* _SGLog_Initialize(const char* directory, const char* prefix, int level);
/* Writes one line; *context may be replaced by a day switch. A null context writes nothing. */
void _SGLog_Write(SGLogCtx** context, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void _SGLog_WriteVaList(SGLogCtx** context, int level, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
/* Closes and frees the context, and the context its last day switch replaced. */
void _SGLog_Finalize(SGLogCtx* context);

/* The process-wide log: 5007 when already set up, 5008 when the context cannot be created. */
int SGLog_Initialize(const char* directory, const char* prefix, int level);
/* Writes through the process-wide log; nothing before SGLog_Initialize. */
void SGLog_Write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void SGLog_Finalize(void);

/* Sets up the debug stream once: SG_DEBUG_PATH/SG_DEBUG_FILE.log when both variables are set and
 * usable, standard error otherwise. */
void SG_LOG_DEBUG_Initialize(void);
/* The debug stream; standard error when it was never set up. */
FILE* SG_LOG_DEBUG_Get_Stream(void);

SG_EXTERN_C_END

#endif
