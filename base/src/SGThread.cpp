#include "SGThread.h"

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SGMemory.h"
#include "SGThreadInternal.h"

// The block sizes are part of the interface: the platform objects must fit them.
static_assert(sizeof(pthread_mutex_t) <= SG_THREAD_MUTEX_LENGTH);
static_assert(sizeof(pthread_cond_t) <= SG_THREAD_COND_LENGTH);
static_assert(sizeof(pthread_attr_t) <= SG_THREAD_ATTR_LENGTH);
static_assert(sizeof(pthread_mutexattr_t) <= SG_THREAD_MUTEXATTR_LENGTH);
static_assert(sizeof(pthread_condattr_t) <= SG_THREAD_CONDATTR_LENGTH);
static_assert(sizeof(pthread_t) == sizeof(SGThreadId));
static_assert(sizeof(SGThreadDeadline) == 8);
static_assert(sizeof(time_t) == 8, "deadlines need a 64-bit platform time");

namespace {

constexpr int kNull = SG_THREAD_ERR_NULL_ARGUMENT;

// Allocates a zeroed block of the interface size, initialises the platform object in it and
// hands it out only when that succeeded.
template <typename T, typename Init>
int makeBlock(void** out, size_t length, Init init) {
    if (!out) return kNull;
    void* block = SGMemory_calloc(1, length);
    if (!block) return SG_THREAD_ERR_MEMORY;
    int rc = init(static_cast<T*>(block));
    if (rc != 0) {
        SGMemory_free(block);
        return rc;
    }
    *out = block;
    return 0;
}

template <typename T>
T* as(void* handle) {
    return static_cast<T*>(handle);
}

pthread_t toPthread(SGThreadId id) {
    pthread_t t;
    std::memcpy(&t, &id, sizeof t);
    return t;
}

SGThreadId fromPthread(pthread_t t) {
    SGThreadId id;
    std::memcpy(&id, &t, sizeof id);
    return id;
}

}  // namespace

timespec SGThread_DeadlineToTimespec(const SGThreadDeadline& deadline, time_t now) {
    constexpr int64_t kWrap = int64_t{1} << 32;
    constexpr int64_t kAhead = int64_t{1} << 30;
    // Offset of the record's seconds from now, modulo 2^32, placed in [-(2^32 - ahead), ahead).
    uint32_t low = static_cast<uint32_t>(deadline.seconds);
    int64_t delta = static_cast<int64_t>(static_cast<uint32_t>(low - static_cast<uint32_t>(now)));
    if (delta >= kAhead) delta -= kWrap;
    int64_t seconds = static_cast<int64_t>(now) + delta;
    int64_t nanos = deadline.nanoseconds;
    seconds += nanos / 1000000000;
    nanos %= 1000000000;
    if (nanos < 0) {
        nanos += 1000000000;
        seconds -= 1;
    }
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(nanos);
    return ts;
}

extern "C" {

int SGThread_FreeTypes(void* block) {
    if (!block) return kNull;
    SGMemory_free(block);
    return 0;
}

int SGThread_Fork(void) {
    return fork();
}
int SGThread_Setsid(void) {
    return setsid();
}
int SGThread_Getpid(void) {
    return getpid();
}
int SGThread_Getppid(void) {
    return getppid();
}

int SGThread_Pause(void) {
    pause();
    return 0;
}

int SGThread_Wait(int* status) {
    return wait(status);
}

int SGThread_Waitpid(int pid, int* status, int options) {
    int platform = options;
    switch (options) {
        case SG_THREAD_WAIT_NOHANG:
            platform = WNOHANG;
            break;
        case SG_THREAD_WAIT_UNTRACED:
            platform = WUNTRACED;
            break;
        case SG_THREAD_WAIT_CONTINUED:
            platform = WCONTINUED;
            break;
        default:
            break;
    }
    return waitpid(pid, status, platform);
}

// Mutex attributes.

int SGThread_MutexAttrInit(SGThreadMutexAttr* out) {
    return makeBlock<pthread_mutexattr_t>(
        out, SG_THREAD_MUTEXATTR_LENGTH,
        [](pthread_mutexattr_t* a) { return pthread_mutexattr_init(a); });
}

int SGThread_MutexAttrDestroy(SGThreadMutexAttr attr) {
    if (!attr) return kNull;
    int rc = pthread_mutexattr_destroy(as<pthread_mutexattr_t>(attr));
    SGMemory_free(attr);
    return rc;
}

int SGThread_MutexAttrSettype(SGThreadMutexAttr attr, int type) {
    if (!attr) return kNull;
    return pthread_mutexattr_settype(as<pthread_mutexattr_t>(attr), type);
}

int SGThread_MutexAttrGettype(SGThreadMutexAttr attr, int* type) {
    if (!attr || !type) return kNull;
    return pthread_mutexattr_gettype(as<pthread_mutexattr_t>(attr), type);
}

int SGThread_MutexAttrSetpshared(SGThreadMutexAttr attr, int processPrivate) {
    if (!attr) return kNull;
    return pthread_mutexattr_setpshared(
        as<pthread_mutexattr_t>(attr),
        processPrivate == 0 ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE);
}

// Mutexes.

int SGThread_MutexInit(SGThreadMutex* out, SGThreadMutexAttr attr) {
    return makeBlock<pthread_mutex_t>(out, SG_THREAD_MUTEX_LENGTH, [attr](pthread_mutex_t* m) {
        return pthread_mutex_init(m, as<pthread_mutexattr_t>(attr));
    });
}

int SGThread_MutexDestroy(SGThreadMutex mutex, int keep) {
    if (!mutex) return kNull;
    int rc = pthread_mutex_destroy(as<pthread_mutex_t>(mutex));
    if (!keep) SGMemory_free(mutex);
    return rc;
}

int SGThread_MutexLock(SGThreadMutex mutex) {
    if (!mutex) return kNull;
    return pthread_mutex_lock(as<pthread_mutex_t>(mutex));
}

int SGThread_MutexUnlock(SGThreadMutex mutex) {
    if (!mutex) return kNull;
    return pthread_mutex_unlock(as<pthread_mutex_t>(mutex));
}

int SGThread_MutexAttrLength(void) {
    return SG_THREAD_MUTEXATTR_LENGTH;
}
int SGThread_MutexLength(void) {
    return SG_THREAD_MUTEX_LENGTH;
}

// Condition variables.

int SGThread_CondAttrInit(SGThreadCondAttr* out) {
    return makeBlock<pthread_condattr_t>(out, SG_THREAD_CONDATTR_LENGTH, [](pthread_condattr_t* a) {
        return pthread_condattr_init(a);
    });
}

int SGThread_CondAttrDestory(SGThreadCondAttr attr) {
    if (!attr) return kNull;
    int rc = pthread_condattr_destroy(as<pthread_condattr_t>(attr));
    SGMemory_free(attr);
    return rc;
}

int SGThread_CondInit(SGThreadCond* out, SGThreadCondAttr attr) {
    return makeBlock<pthread_cond_t>(out, SG_THREAD_COND_LENGTH, [attr](pthread_cond_t* c) {
        return pthread_cond_init(c, as<pthread_condattr_t>(attr));
    });
}

int SGThread_CondSignal(SGThreadCond cond) {
    if (!cond) return kNull;
    return pthread_cond_signal(as<pthread_cond_t>(cond));
}

int SGThread_CondBroadcast(SGThreadCond cond) {
    if (!cond) return kNull;
    return pthread_cond_broadcast(as<pthread_cond_t>(cond));
}

int SGThread_CondWait(SGThreadCond cond, SGThreadMutex mutex) {
    if (!cond || !mutex) return kNull;
    return pthread_cond_wait(as<pthread_cond_t>(cond), as<pthread_mutex_t>(mutex));
}

int SGThread_CondTimedwait(SGThreadCond cond, SGThreadMutex mutex,
                           const SGThreadDeadline* deadline) {
    if (!cond || !mutex || !deadline) return kNull;
    // Conditions made here wait on the real-time clock, which the deadline is relative to.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    timespec until = SGThread_DeadlineToTimespec(*deadline, now.tv_sec);
    return pthread_cond_timedwait(as<pthread_cond_t>(cond), as<pthread_mutex_t>(mutex), &until);
}

int SGThread_CondDestroy(SGThreadCond cond) {
    if (!cond) return kNull;
    int rc = pthread_cond_destroy(as<pthread_cond_t>(cond));
    SGMemory_free(cond);
    return rc;
}

int SGThread_CondAttrLength(void) {
    return SG_THREAD_CONDATTR_LENGTH;
}
int SGThread_CondLength(void) {
    return SG_THREAD_COND_LENGTH;
}

// Thread attributes.

int SGThread_AttrInit(SGThreadAttr* out) {
    return makeBlock<pthread_attr_t>(out, SG_THREAD_ATTR_LENGTH,
                                     [](pthread_attr_t* a) { return pthread_attr_init(a); });
}

int SGThread_AttrDestroy(SGThreadAttr attr) {
    if (!attr) return kNull;
    int rc = pthread_attr_destroy(as<pthread_attr_t>(attr));
    SGMemory_free(attr);
    return rc;
}

int SGThread_AttrSetdetachstate(SGThreadAttr attr, int state) {
    if (!attr) return kNull;
    return pthread_attr_setdetachstate(as<pthread_attr_t>(attr), state);
}

int SGThread_AttrGetdetachstate(SGThreadAttr attr, int* state) {
    if (!attr || !state) return kNull;
    return pthread_attr_getdetachstate(as<pthread_attr_t>(attr), state);
}

int SGThread_AttrSetschedpolicy(SGThreadAttr attr, int policy) {
    if (!attr) return kNull;
    return pthread_attr_setschedpolicy(as<pthread_attr_t>(attr), policy);
}

int SGThread_AttrGetschedpolicy(SGThreadAttr attr, int* policy) {
    if (!attr || !policy) return kNull;
    return pthread_attr_getschedpolicy(as<pthread_attr_t>(attr), policy);
}

int SGThread_AttrSetschedparam(SGThreadAttr, const void*) {
    return SG_THREAD_ERR_UNSUPPORTED;
}
int SGThread_AttrGetschedparam(SGThreadAttr, void*) {
    return SG_THREAD_ERR_UNSUPPORTED;
}

int SGThread_AttrSetinheritsched(SGThreadAttr attr, int inherit) {
    if (!attr) return kNull;
    return pthread_attr_setinheritsched(as<pthread_attr_t>(attr), inherit);
}

int SGThread_AttrGetinheritsched(SGThreadAttr attr, int* inherit) {
    if (!attr || !inherit) return kNull;
    return pthread_attr_getinheritsched(as<pthread_attr_t>(attr), inherit);
}

int SGThread_AttrSetscope(SGThreadAttr attr, int scope) {
    if (!attr) return kNull;
    return pthread_attr_setscope(as<pthread_attr_t>(attr), scope);
}

int SGThread_AttrGetscope(SGThreadAttr attr, int* scope) {
    if (!attr || !scope) return kNull;
    return pthread_attr_getscope(as<pthread_attr_t>(attr), scope);
}

int SGThread_AttrSetstacksize(SGThreadAttr attr, int bytes) {
    if (!attr) return kNull;
    // A negative size would turn into an enormous size_t that the platform accepts, and every
    // thread created with it would then fail.
    if (bytes < 0) return EINVAL;
    return pthread_attr_setstacksize(as<pthread_attr_t>(attr), static_cast<size_t>(bytes));
}

int SGThread_AttrGetstacksize(SGThreadAttr attr, int* bytes) {
    if (!attr || !bytes) return kNull;
    size_t size = 0;
    int rc = pthread_attr_getstacksize(as<pthread_attr_t>(attr), &size);
    if (rc == 0) *bytes = static_cast<int>(static_cast<uint32_t>(size));
    return rc;
}

int SGThread_AttrLength(void) {
    return SG_THREAD_ATTR_LENGTH;
}

// Threads.

int SGThread_Create(SGThreadId* thread, SGThreadAttr attr, SGThreadStart start, void* argument) {
    if (!thread || !start) return kNull;
    pthread_t t;
    int rc = pthread_create(&t, as<pthread_attr_t>(attr), start, argument);
    if (rc == 0) *thread = fromPthread(t);
    return rc;
}

int SGThread_Join(SGThreadId thread, void** result) {
    return pthread_join(toPthread(thread), result);
}

int SGThread_Detach(SGThreadId thread) {
    return pthread_detach(toPthread(thread));
}

SGThreadId SGThread_Self(void) {
    return fromPthread(pthread_self());
}

}  // extern "C"
