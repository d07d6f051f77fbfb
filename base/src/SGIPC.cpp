#include "SGIPC.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "SGIPCInternal.h"
#include "SGMemory.h"
#include "SGThread.h"

static_assert(sizeof(SGSharedMemory) == 24);
static_assert(offsetof(SGSharedMemory, address) == 16);
// The extra-size field sits in what would otherwise be the record's tail padding.
static_assert(sizeof(SGMemoryMap) == 32);
static_assert(offsetof(SGMemoryMap, extraSize) == 28);

namespace {

std::atomic<int> gLastIpcError{0};

constexpr int kPermissions = 0660;
constexpr int kFlagCreate = 1;
constexpr int kFlagExclusive = 2;

// glibc leaves this union to the caller.
union SemArgument {
    int val;
    semid_ds* buf;
    unsigned short* array;
    seminfo* info;
};

char* copyText(const char* text) {
    const size_t n = std::strlen(text);
    auto* out = static_cast<char*>(SGMemory_malloc(n + 1));
    if (out) std::memcpy(out, text, n + 1);
    return out;
}

const char* platformText(int error, char* buffer, size_t size) {
    return strerror_r(error, buffer, size);
}

int fail(int code) {
    SGIPC_SetLastError(code);
    return code;
}

// Creates the segment exclusively, or opens the one that already exists for the key; an
// existing segment smaller than size is refused by the platform.
int createOrOpenSegment(int key, int size, bool* created) {
    *created = false;
    int id = SGIPCLocal_GetSharedMemroy(key, size, kPermissions, kFlagCreate | kFlagExclusive);
    if (id >= 0) {
        *created = true;
        return id;
    }
    if (errno != EEXIST) return -1;
    return SGIPCLocal_GetSharedMemroy(key, size, kPermissions, 0);
}

// A new set starts every semaphore at 1, so the first Lock takes it and the next one waits. A
// process that opens the set before the values are in waits in Lock until they are.
int createOrOpenSemaphores(int key, int count) {
    int id = semget(key, count, kPermissions | IPC_CREAT | IPC_EXCL);
    if (id >= 0) {
        if (count <= 0) return id;
        auto* values = static_cast<unsigned short*>(SGMemory_calloc(static_cast<size_t>(count), 2));
        int rc = -1;
        if (values) {
            for (int i = 0; i < count; ++i) values[i] = 1;
            SemArgument arg{};
            arg.array = values;
            rc = semctl(id, 0, SETALL, arg);
            SGMemory_free(values);
        }
        if (rc != 0) {
            semctl(id, 0, IPC_RMID);
            SGIPC_SetLastError(-1);
            return -1;
        }
        return id;
    }
    if (errno != EEXIST) {
        SGIPC_SetLastError(-1);
        return -1;
    }
    id = semget(key, count, kPermissions);
    if (id < 0) SGIPC_SetLastError(SG_IPC_ERR_SEMAPHORE);
    return id;
}

int semaphoreStep(int id, short delta) {
    sembuf op{};
    op.sem_num = 0;
    op.sem_op = delta;
    op.sem_flg = SEM_UNDO;
    int rc;
    do {
        rc = semop(id, &op, 1);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Checks that [offset, offset + length) lies inside the attached segment.
bool segmentRange(const SGSharedMemory* shm, int offset, int length) {
    if (!shm || !shm->address || offset < 0 || length < 0) return false;
    shmid_ds ds{};
    if (shmctl(shm->segmentId, IPC_STAT, &ds) != 0) return false;
    return static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) <= ds.shm_segsz;
}

template <typename Copy>
int underSemaphore(SGSharedMemory* shm, Copy copy) {
    if (SGSemaphore_Lock(shm->semaphoreId) != 0) return fail(SG_IPC_ERR_SEMAPHORE);
    copy(static_cast<unsigned char*>(shm->address));
    if (SGSemaphore_UnLock(shm->semaphoreId) != 0) return fail(SG_IPC_ERR_SEMAPHORE);
    return 0;
}

uint64_t mappedLength(const SGMemoryMap* map) {
    return uint64_t{map->mutexSize} + 1 + uint64_t{map->elementCount} * uint64_t{map->elementSize} +
           map->extraSize;
}

// Checks that length bytes from element index stay inside the elements and extra bytes.
bool mapRange(const SGMemoryMap* map, uint32_t index, int length) {
    if (!map || !map->region || length < 0 || index >= map->elementCount) return false;
    const uint64_t data = uint64_t{map->elementCount} * map->elementSize + map->extraSize;
    return uint64_t{index} * map->elementSize + static_cast<uint64_t>(length) <= data;
}

template <typename Copy>
int underMutex(SGMemoryMap* map, Copy copy) {
    if (SGThread_MutexLock(map->region) != 0) return fail(SG_IPC_ERR_LOCK);
    copy(map->data);
    if (SGThread_MutexUnlock(map->region) != 0) return fail(SG_IPC_ERR_UNLOCK);
    return 0;
}

}  // namespace

void SGIPC_SetLastError(int code) {
    gLastIpcError.store(code, std::memory_order_relaxed);
}

extern "C" {

int SGIPC_Initialize(void) {
    return 0;
}

int SGIPC_Finalize(void) {
    return 0;
}

int SGIPC_GetSysErrorReason(char** text) {
    const int error = errno;
    if (text) {
        char buffer[256];
        *text = copyText(platformText(error, buffer, sizeof buffer));
    }
    errno = error;
    return error;
}

int SGIPC_GetLastErrorReason(int language, char** text) {
    (void)language;
    const int error = errno;
    const int code = gLastIpcError.exchange(0, std::memory_order_relaxed);
    if (text) {
        char buffer[256];
        const char* platform = platformText(error, buffer, sizeof buffer);
        const char* reason = "Unknown error code";
        const size_t n = std::strlen(reason) + std::strlen(platform) + 3;
        *text = static_cast<char*>(SGMemory_malloc(n));
        if (*text) std::snprintf(*text, n, "%s[%s]", reason, platform);
    }
    errno = error;
    return code;
}

int SGIPCLocal_GetSharedMemroy(int key, int size, int permissions, int flags) {
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    int platformFlags = permissions;
    if (flags & kFlagCreate) platformFlags |= IPC_CREAT;
    if (flags & kFlagExclusive) platformFlags |= IPC_EXCL;
    return shmget(key, static_cast<size_t>(size), platformFlags);
}

void* SGIPCLocal_AttachSharedMemory(int segmentId, const void* hint, int readOnly) {
    void* address = shmat(segmentId, hint, readOnly ? SHM_RDONLY : 0);
    return address == reinterpret_cast<void*>(-1) ? nullptr : address;
}

int SGIPCLocal_SetDeleteFlagSharedMemory(int segmentId) {
    return shmctl(segmentId, IPC_RMID, nullptr);
}

int SGIPCLocal_DetachSharedMemory(const void* address) {
    return shmdt(address);
}

int SGSharedMemory_GetSafely(SGSharedMemory* shm, int key, int size) {
    if (!shm) {
        SGIPC_SetLastError(SG_IPC_ERR_ARGUMENT);
        return -1;
    }
    std::memset(shm, 0, sizeof *shm);
    bool created = false;
    const int segment = createOrOpenSegment(key, size, &created);
    if (segment < 0) {
        SGIPC_SetLastError(SG_IPC_ERR_SEGMENT);
        return -1;
    }
    void* address = SGIPCLocal_AttachSharedMemory(segment, nullptr, 0);
    if (!address) {
        if (created) SGIPCLocal_SetDeleteFlagSharedMemory(segment);
        SGIPC_SetLastError(SG_IPC_ERR_ATTACH);
        return -1;
    }
    const int semaphores = createOrOpenSemaphores(key, 1);
    if (semaphores < 0) {
        // Do not leave a segment behind that this call made and nobody can use.
        if (created) SGIPCLocal_SetDeleteFlagSharedMemory(segment);
        SGIPCLocal_DetachSharedMemory(address);
        return -1;
    }
    shm->key = key;
    shm->segmentId = segment;
    shm->semaphoreId = semaphores;
    shm->address = address;
    return 0;
}

int SGSharedMemory_ReleaseSafely(SGSharedMemory* shm) {
    if (!shm || !shm->address) return fail(SG_IPC_ERR_ARGUMENT);
    int first = 0;
    shmid_ds ds{};
    const int stat = shmctl(shm->segmentId, IPC_STAT, &ds);
    if (stat != 0) first = stat;
    int rc = SGIPCLocal_SetDeleteFlagSharedMemory(shm->segmentId);
    if (rc != 0 && first == 0) first = rc;
    rc = SGIPCLocal_DetachSharedMemory(shm->address);
    if (rc != 0) {
        SGIPC_SetLastError(SG_IPC_ERR_DETACH);
        if (first == 0) first = rc;
    }
    if (stat == 0 && ds.shm_nattch == 1) {
        rc = semctl(shm->semaphoreId, 0, IPC_RMID);
        if (rc != 0 && first == 0) first = rc;
    }
    std::memset(shm, 0, sizeof *shm);
    return first;
}

int SGSharedMemory_WriteSafely(SGSharedMemory* shm, int offset, const void* data, int length) {
    if (!data || !segmentRange(shm, offset, length)) return fail(SG_IPC_ERR_ARGUMENT);
    return underSemaphore(shm, [&](unsigned char* base) {
        if (length > 0) std::memcpy(base + offset, data, static_cast<size_t>(length));
    });
}

int SGSharedMemory_ReadSafely(SGSharedMemory* shm, int offset, void* data, int length) {
    if (!data || !segmentRange(shm, offset, length)) return fail(SG_IPC_ERR_ARGUMENT);
    return underSemaphore(shm, [&](unsigned char* base) {
        if (length > 0) std::memcpy(data, base + offset, static_cast<size_t>(length));
    });
}

int SGSharedMemory_MoveSafely(SGSharedMemory* shm, int toOffset, int fromOffset, int length) {
    if (!segmentRange(shm, toOffset, length) || !segmentRange(shm, fromOffset, length))
        return fail(SG_IPC_ERR_ARGUMENT);
    return underSemaphore(shm, [&](unsigned char* base) {
        if (length > 0)
            std::memmove(base + toOffset, base + fromOffset, static_cast<size_t>(length));
    });
}

void* SGSharedMemory_Get(int key, int size, int* segmentId) {
    bool created = false;
    const int segment = createOrOpenSegment(key, size, &created);
    if (segment < 0) {
        SGIPC_SetLastError(SG_IPC_ERR_SEGMENT);
        return nullptr;
    }
    void* address = SGIPCLocal_AttachSharedMemory(segment, nullptr, 0);
    if (!address) {
        if (created) SGIPCLocal_SetDeleteFlagSharedMemory(segment);
        SGIPC_SetLastError(SG_IPC_ERR_ATTACH);
        return nullptr;
    }
    if (segmentId) *segmentId = segment;
    return address;
}

int SGSharedMemory_Release(void* address, int segmentId) {
    int rc = SGIPCLocal_SetDeleteFlagSharedMemory(segmentId);
    const int detached = SGIPCLocal_DetachSharedMemory(address);
    if (detached != 0) {
        SGIPC_SetLastError(SG_IPC_ERR_DETACH);
        if (rc == 0) rc = detached;
    }
    return rc;
}

int SGSharedMemory_Control(int segmentId, int command, void* status) {
    if (!status) return 1001;
    const int rc = shmctl(segmentId, command, static_cast<shmid_ds*>(status));
    if (rc < 0) SGIPC_SetLastError(rc);
    return rc;
}

int SGSemaphore_Get(int key, int count) {
    return createOrOpenSemaphores(key, count);
}

int SGSemaphore_Lock(int semaphoreId) {
    return semaphoreStep(semaphoreId, -1);
}

int SGSemaphore_UnLock(int semaphoreId) {
    return semaphoreStep(semaphoreId, 1);
}

int SGSemaphore_Control(int semaphoreId, int semaphore, int command, ...) {
    int rc;
    switch (command) {
        case SETVAL:
        case GETALL:
        case SETALL:
        case IPC_STAT:
        case IPC_SET:
        case IPC_INFO:
        case SEM_INFO:
        case SEM_STAT:
        case SEM_STAT_ANY: {
            // The argument arrives as a union semun, which travels like a long; an int given
            // for SETVAL is its low half.
            va_list ap;
            va_start(ap, command);
            const unsigned long raw = va_arg(ap, unsigned long);
            va_end(ap);
            SemArgument arg{};
            if (command == SETVAL)
                arg.val = static_cast<int>(raw);
            else
                std::memcpy(&arg, &raw, sizeof arg);
            rc = semctl(semaphoreId, semaphore, command, arg);
            break;
        }
        default:
            rc = semctl(semaphoreId, semaphore, command);
            break;
    }
    if (rc < 0) SGIPC_SetLastError(rc);
    return rc;
}

int SGMemoryMap_Get(SGMemoryMap* map, uint32_t count, uint32_t size, uint32_t extra) {
    if (!map) return fail(SG_IPC_ERR_ARGUMENT);
    std::memset(map, 0, sizeof *map);
    if (count == 0 || size == 0) return fail(SG_IPC_ERR_ARGUMENT);
    SGMemoryMap m{};
    m.mutexSize = static_cast<uint32_t>(SGThread_MutexLength());
    m.elementSize = size;
    m.elementCount = count;
    m.extraSize = extra;
    const uint64_t length = mappedLength(&m);
    void* region = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return fail(SG_IPC_ERR_MAP);
    std::memset(region, 0, length);

    SGThreadMutexAttr attr = nullptr;
    int code = 0;
    if (SGThread_MutexAttrInit(&attr) != 0) {
        code = SG_IPC_ERR_MUTEX_ATTR;
    } else if (SGThread_MutexAttrSetpshared(attr, 0) != 0) {
        code = SG_IPC_ERR_MUTEX_SHARED;
    } else {
        SGThreadMutex mutex = nullptr;
        if (SGThread_MutexInit(&mutex, attr) != 0) {
            code = SG_IPC_ERR_MUTEX_INIT;
        } else {
            // The new, unlocked mutex is moved into the region; its heap block goes without
            // destroying the mutex that now lives in the map.
            std::memcpy(region, mutex, m.mutexSize);
            SGThread_FreeTypes(mutex);
        }
    }
    if (attr) SGThread_MutexAttrDestroy(attr);
    if (code != 0) {
        munmap(region, length);
        return fail(code);
    }
    m.region = region;
    m.data = static_cast<unsigned char*>(region) + m.mutexSize + 1;
    *map = m;
    return 0;
}

int SGMemoryMap_Release(SGMemoryMap* map) {
    if (!map || !map->region) return fail(SG_IPC_ERR_ARGUMENT);
    if (SGThread_MutexDestroy(map->region, 1) != 0) return fail(SG_IPC_ERR_MUTEX_DESTROY);
    const uint64_t length = mappedLength(map);
    std::memset(map->region, 0, length);
    if (munmap(map->region, length) != 0) return fail(SG_IPC_ERR_UNMAP);
    std::memset(map, 0, sizeof *map);
    return 0;
}

int SGMemoryMap_Write(SGMemoryMap* map, uint32_t index, const void* data, int length) {
    if (!data || !mapRange(map, index, length)) return fail(SG_IPC_ERR_ARGUMENT);
    return underMutex(map, [&](unsigned char* base) {
        if (length > 0)
            std::memcpy(base + uint64_t{index} * map->elementSize, data,
                        static_cast<size_t>(length));
    });
}

int SGMemoryMap_Read(SGMemoryMap* map, uint32_t index, void* data, int length) {
    if (!data || !mapRange(map, index, length)) return fail(SG_IPC_ERR_ARGUMENT);
    return underMutex(map, [&](unsigned char* base) {
        if (length > 0)
            std::memcpy(data, base + uint64_t{index} * map->elementSize,
                        static_cast<size_t>(length));
    });
}

int SGMemoryMap_Move(SGMemoryMap* map, uint32_t toIndex, uint32_t fromIndex, int length) {
    if (!mapRange(map, toIndex, length) || !mapRange(map, fromIndex, length))
        return fail(SG_IPC_ERR_ARGUMENT);
    return underMutex(map, [&](unsigned char* base) {
        if (length > 0)
            std::memmove(base + uint64_t{toIndex} * map->elementSize,
                         base + uint64_t{fromIndex} * map->elementSize,
                         static_cast<size_t>(length));
    });
}

int SGMemoryMap_Lock(SGMemoryMap* map) {
    if (!map || !map->region) return fail(SG_IPC_ERR_ARGUMENT);
    return SGThread_MutexLock(map->region) == 0 ? 0 : fail(SG_IPC_ERR_LOCK);
}

int SGMemoryMap_UnLock(SGMemoryMap* map) {
    if (!map || !map->region) return fail(SG_IPC_ERR_ARGUMENT);
    return SGThread_MutexUnlock(map->region) == 0 ? 0 : fail(SG_IPC_ERR_UNLOCK);
}

}  // extern "C"
