/* Inter-process memory: System V shared-memory segments guarded by a System V semaphore, and
 * anonymous shared memory maps guarded by a process-shared mutex; and the process-wide last IPC
 * error that these and the sockets (SGSocket.h) set.
 *
 * A semaphore of a set created here starts at 1: Lock takes it (waiting while another process
 * holds it), UnLock gives it back, both with undo, so a process that ends while holding the
 * lock releases it. */
#ifndef SG_IPC_H
#define SG_IPC_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* IPC result codes (also stored as the last IPC error). */
enum {
    SG_IPC_ERR_SEGMENT = 2201,       /* segment cannot be created or opened */
    SG_IPC_ERR_ATTACH = 2202,        /* segment cannot be attached */
    SG_IPC_ERR_DETACH = 2203,        /* segment cannot be detached */
    SG_IPC_ERR_SEMAPHORE = 2301,     /* semaphore set cannot be opened, or an operation failed */
    SG_IPC_ERR_ARGUMENT = 2401,      /* missing or out-of-range argument */
    SG_IPC_ERR_MAP = 2405,           /* map cannot be created */
    SG_IPC_ERR_UNMAP = 2406,         /* map cannot be removed */
    SG_IPC_ERR_MUTEX_ATTR = 2407,    /* mutex attributes cannot be created */
    SG_IPC_ERR_MUTEX_SHARED = 2409,  /* mutex attributes cannot be made process-shared */
    SG_IPC_ERR_MUTEX_INIT = 2410,    /* the mutex cannot be created */
    SG_IPC_ERR_MUTEX_DESTROY = 2411, /* the mutex cannot be destroyed */
    SG_IPC_ERR_LOCK = 2412,          /* lock failed */
    SG_IPC_ERR_UNLOCK = 2413         /* unlock failed */
};

/* Nothing to set up: both return 0. */
int SGIPC_Initialize(void);
int SGIPC_Finalize(void);
/* The platform's current error number; with text (may be null) a new copy of its text, released
 * with SGMemory_free. */
int SGIPC_GetSysErrorReason(char** text);
/* Returns the last IPC error and clears it; with text (may be null) a new string "%s[%s]" of the
 * code's text and the platform's text for the current error number, released with
 * SGMemory_free. The language (0 to 3) selects nothing: every code reads "Unknown error code". */
int SGIPC_GetLastErrorReason(int language, char** text);

/* A segment with its semaphore set, filled by SGSharedMemory_GetSafely. */
typedef struct SGSharedMemory {
    int32_t key;
    int32_t segmentId;
    int32_t semaphoreId;
    void* address; /* where the segment is attached */
} SGSharedMemory;

/* Creates (0660, exclusive) or opens the segment of key with at least size bytes, attaches it
 * and creates or opens the one-semaphore set of the same key: 0, or -1 with the last IPC error
 * 2201, 2202, 2301 (an existing set cannot be opened) or -1. */
int SGSharedMemory_GetSafely(SGSharedMemory* shm, int key, int size);
/* Marks the segment for removal and detaches it; removes the semaphore set when this was the
 * last attachment. 0 or the first failing platform result. */
int SGSharedMemory_ReleaseSafely(SGSharedMemory* shm);
/* Under the semaphore, copy length bytes into, out of or within the segment: 0, 2301, or 2401
 * for a missing argument or a range outside the segment. */
int SGSharedMemory_WriteSafely(SGSharedMemory* shm, int offset, const void* data, int length);
int SGSharedMemory_ReadSafely(SGSharedMemory* shm, int offset, void* data, int length);
int SGSharedMemory_MoveSafely(SGSharedMemory* shm, int toOffset, int fromOffset, int length);
/* Creates or opens and attaches a segment: its address (the id in *segmentId), or null with
 * the last IPC error 2201 or 2202. */
void* SGSharedMemory_Get(int key, int size, int* segmentId);
/* Marks the segment for removal and detaches it: 0, or the failing platform result (2203 as
 * the last IPC error when detaching fails). */
int SGSharedMemory_Release(void* address, int segmentId);
/* The platform's segment control (status is a struct shmid_ds): 1001 for a missing status
 * buffer; a failure (-1) is recorded as the last IPC error. */
int SGSharedMemory_Control(int segmentId, int command, void* status);

/* Creates or opens a set of count semaphores (a new set starts each at 1): its id, or -1 with
 * the last IPC error 2301 (an existing set cannot be opened) or -1. */
int SGSemaphore_Get(int key, int count);
/* Take or give back semaphore 0 of the set, with undo: the platform result (0 or -1). */
int SGSemaphore_Lock(int semaphoreId);
int SGSemaphore_UnLock(int semaphoreId);
/* The platform's semaphore control; commands that take an argument read it as a union semun
 * (an int for SETVAL). A failure (-1) is recorded as the last IPC error. */
int SGSemaphore_Control(int semaphoreId, int semaphore, int command, ...);

/* Platform steps, not in the table. flags: 1 adds create, 2 adds exclusive. */
int SGIPCLocal_GetSharedMemroy(int key, int size, int permissions, int flags);
void* SGIPCLocal_AttachSharedMemory(int segmentId, const void* hint, int readOnly);
int SGIPCLocal_SetDeleteFlagSharedMemory(int segmentId);
int SGIPCLocal_DetachSharedMemory(const void* address);

/* An anonymous shared map of count elements of size bytes, filled by SGMemoryMap_Get. The
 * region is the process-shared mutex block, one spare byte, the elements and the extra bytes;
 * processes forked afterwards share it. */
typedef struct SGMemoryMap {
    void* region;        /* start of the mapping; the mutex lives here */
    unsigned char* data; /* region + mutexSize + 1 */
    uint32_t mutexSize;  /* SGThread_MutexLength() */
    uint32_t elementSize;
    uint32_t elementCount;
    uint32_t extraSize; /* extra bytes mapped after the elements, so Release unmaps them too */
} SGMemoryMap;

/* Maps and zeroes mutexSize + 1 + count x size + extra bytes and puts a process-shared mutex at
 * its start: 0; 2401 for a missing record, count or size; 2405, 2407, 2409, 2410. */
int SGMemoryMap_Get(SGMemoryMap* map, uint32_t count, uint32_t size, uint32_t extra);
/* Destroys the mutex and unmaps exactly what was mapped: 0, 2401, 2411 or 2406. */
int SGMemoryMap_Release(SGMemoryMap* map);
/* Under the mutex, copy length bytes into or out of the data at element index, or from one
 * element to another; the range may run on into later elements and the extra bytes but not
 * past them. 0; 2401 for a missing argument or a range outside the data; 2412, 2413. */
int SGMemoryMap_Write(SGMemoryMap* map, uint32_t index, const void* data, int length);
int SGMemoryMap_Read(SGMemoryMap* map, uint32_t index, void* data, int length);
int SGMemoryMap_Move(SGMemoryMap* map, uint32_t toIndex, uint32_t fromIndex, int length);
/* Lock or unlock the region's mutex (across processes): 0, 2401, 2412 or 2413. */
int SGMemoryMap_Lock(SGMemoryMap* map);
int SGMemoryMap_UnLock(SGMemoryMap* map);

SG_EXTERN_C_END

#endif
