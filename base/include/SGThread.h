/* Processes, threads, mutexes and condition variables over POSIX.
 *
 * Synchronisation objects are handles: each points to a zero-filled heap block of a fixed size
 * (see the *Length functions) that holds the platform object. Callers may copy a block elsewhere
 * (a shared memory map does) and use the copy's address as the handle. */
#ifndef SG_THREAD_H
#define SG_THREAD_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* Thread result codes; any other non-zero result is the platform's error number. */
enum {
    SG_THREAD_ERR_NULL_ARGUMENT = 3001, /* missing handle or out argument */
    SG_THREAD_ERR_MEMORY = 3002,        /* a block cannot be allocated */
    SG_THREAD_ERR_UNSUPPORTED = 3003    /* operation not offered */
};

/* Block sizes, fixed by the interface. */
#define SG_THREAD_MUTEX_LENGTH 64
#define SG_THREAD_COND_LENGTH 48
#define SG_THREAD_ATTR_LENGTH 64
#define SG_THREAD_MUTEXATTR_LENGTH 16
#define SG_THREAD_CONDATTR_LENGTH 16

typedef void* SGThreadMutex;
typedef void* SGThreadMutexAttr;
typedef void* SGThreadCond;
typedef void* SGThreadCondAttr;
typedef void* SGThreadAttr;

/* The platform's thread identifier. */
typedef uint64_t SGThreadId;

/* Absolute deadline of a timed wait. */
typedef struct SGThreadDeadline {
    int32_t seconds;     /* since 1970-01-01 UTC */
    int32_t nanoseconds; /* 0 to 999999999 */
} SGThreadDeadline;

typedef void* (*SGThreadStart)(void* argument);

/* Options of SGThread_Waitpid: the library's numbers, not the platform's. Any other value is
 * passed to the platform unchanged. */
#define SG_THREAD_WAIT_NOHANG 0
#define SG_THREAD_WAIT_UNTRACED 1
#define SG_THREAD_WAIT_CONTINUED 2

/* Frees a block without destroying the platform object in it (after it was copied). */
int SGThread_FreeTypes(void* block);

int SGThread_Fork(void);
int SGThread_Setsid(void);
int SGThread_Getpid(void);
int SGThread_Getppid(void);
/* Waits for a signal; always 0. */
int SGThread_Pause(void);
int SGThread_Wait(int* status);
int SGThread_Waitpid(int pid, int* status, int options);

int SGThread_MutexAttrInit(SGThreadMutexAttr* out);
int SGThread_MutexAttrDestroy(SGThreadMutexAttr attr);
int SGThread_MutexAttrSettype(SGThreadMutexAttr attr, int type);
int SGThread_MutexAttrGettype(SGThreadMutexAttr attr, int* type);
/* 0 makes the mutex process-shared; any other value process-private. */
int SGThread_MutexAttrSetpshared(SGThreadMutexAttr attr, int processPrivate);
int SGThread_MutexInit(SGThreadMutex* out, SGThreadMutexAttr attr);
/* Destroys the mutex; frees its block unless keep is non-zero. */
int SGThread_MutexDestroy(SGThreadMutex mutex, int keep);
int SGThread_MutexLock(SGThreadMutex mutex);
int SGThread_MutexUnlock(SGThreadMutex mutex);
int SGThread_MutexAttrLength(void);
int SGThread_MutexLength(void);

int SGThread_CondAttrInit(SGThreadCondAttr* out);
int SGThread_CondAttrDestory(SGThreadCondAttr attr);
int SGThread_CondInit(SGThreadCond* out, SGThreadCondAttr attr);
int SGThread_CondSignal(SGThreadCond cond);
int SGThread_CondBroadcast(SGThreadCond cond);
int SGThread_CondWait(SGThreadCond cond, SGThreadMutex mutex);
/* ETIMEDOUT once the deadline has passed. */
int SGThread_CondTimedwait(SGThreadCond cond, SGThreadMutex mutex,
                           const SGThreadDeadline* deadline);
int SGThread_CondDestroy(SGThreadCond cond);
int SGThread_CondAttrLength(void);
int SGThread_CondLength(void);

int SGThread_AttrInit(SGThreadAttr* out);
int SGThread_AttrDestroy(SGThreadAttr attr);
int SGThread_AttrSetdetachstate(SGThreadAttr attr, int state);
int SGThread_AttrGetdetachstate(SGThreadAttr attr, int* state);
int SGThread_AttrSetschedpolicy(SGThreadAttr attr, int policy);
int SGThread_AttrGetschedpolicy(SGThreadAttr attr, int* policy);
/* Not offered: always 3003. */
int SGThread_AttrSetschedparam(SGThreadAttr attr, const void* param);
int SGThread_AttrGetschedparam(SGThreadAttr attr, void* param);
int SGThread_AttrSetinheritsched(SGThreadAttr attr, int inherit);
int SGThread_AttrGetinheritsched(SGThreadAttr attr, int* inherit);
int SGThread_AttrSetscope(SGThreadAttr attr, int scope);
int SGThread_AttrGetscope(SGThreadAttr attr, int* scope);
int SGThread_AttrSetstacksize(SGThreadAttr attr, int bytes);
/* The size read back truncated to 32 bits. */
int SGThread_AttrGetstacksize(SGThreadAttr attr, int* bytes);
int SGThread_AttrLength(void);

/* Writes the new thread's id only on success. */
int SGThread_Create(SGThreadId* thread, SGThreadAttr attr, SGThreadStart start, void* argument);
int SGThread_Join(SGThreadId thread, void** result);
int SGThread_Detach(SGThreadId thread);
SGThreadId SGThread_Self(void);

SG_EXTERN_C_END

#endif
