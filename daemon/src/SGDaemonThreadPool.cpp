#include "SGDaemonThreadPool.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "SGDaemonInternal.h"

using namespace sgdaemon;

namespace {

constexpr int kClosingReadBytes = 10;
constexpr int kClosingReadTimeout = 3;
constexpr char kAdminName[] = "admin";
// Connections waiting for a worker in a pool without a maximum.
constexpr int kUnlimitedPoolQueue = 100;

using Clock = std::chrono::steady_clock;

// Pools in registration order reversed: each new pool is put in front.
std::atomic<SGDaemonThreadPool*> gPools{nullptr};

class PoolLock {
  public:
    explicit PoolLock(SGDaemonThreadPool* pool) : mutex_(pool->mutex) {
        SGB(SGThread_MutexLock)(mutex_);
    }
    ~PoolLock() { SGB(SGThread_MutexUnlock)(mutex_); }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;

  private:
    SGThreadMutex mutex_;
};

void sleepMilliseconds(long ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

// The log lines of worker creation differ between the master's start and a resize.
struct CreateTexts {
    int memoryLevel;
    const char* memory;  // name, hash
    int attributeLevel;
    const char* attribute;  // name, hash, code
    const char* create;     // name, hash, index, code
};
const CreateTexts kMasterTexts{
    SG_LOG_LEVEL_FATAL, "thread pool (%s[%u]) : cannot allocate memory.", SG_LOG_LEVEL_FATAL,
    "thread pool (%s[%u]) : cannot set stacksize of thread attribute. return code [%d].",
    "thread pool(%s[%u]) : cannot create %d working thread. return code [%d]."};
const CreateTexts kResizeTexts{
    SG_LOG_LEVEL_FATAL, "thread pool (%s[%d]): cannot allocate memory!!!", SG_LOG_LEVEL_WARNING,
    "thread pool (%s[%d]): cannot set stack size of thread attribute. return code [%d].",
    "thread pool(%s[%d]) : cannot create %d working thread. return code [%d]"};

// Creates and detaches the worker of the given index, with the pool locked: 0, 6002, or the
// thread-creation error.
int createWorker(SGDaemonThreadPool* pool, int index, const CreateTexts& texts) {
    const unsigned hash = SGDaemon_UtilHash(pool->name);
    auto* worker = static_cast<SGDaemonWorker*>(allocZero(sizeof(SGDaemonWorker)));
    if (!worker) {
        SGLog_Write(texts.memoryLevel, texts.memory, pool->name, hash);
        return SG_DAEMON_ERR_MEMORY;
    }
    worker->index = index;
    SGB(SGOS_strncpy)(worker->name, pool->name, sizeof worker->name - 1);
    SGDaemon_AdaptorCopyHostSymbol(&pool->host, &worker->host);
    worker->admin = pool->admin;
    worker->state = SG_DAEMON_WORKER_IDLE;

    SGThreadAttr attr = nullptr;
    if (pool->stacksize != -1 && SGB(SGThread_AttrInit)(&attr) == 0) {
        if (int rc = SGB(SGThread_AttrSetstacksize)(attr, pool->stacksize)) {
            SGLog_Write(texts.attributeLevel, texts.attribute, pool->name, hash, rc);
            SGB(SGThread_AttrDestroy)(attr);
            attr = nullptr;
        }
    }
    SGThreadId thread = 0;
    int rc = SGB(SGThread_Create)(&thread, attr, SGDaemon_ThreadPoolSlave, worker);
    if (attr) SGB(SGThread_AttrDestroy)(attr);
    if (rc != 0) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, texts.create, pool->name, hash, index, rc);
        release(worker);
        return rc;
    }
    worker->thread = thread;
    SGB(SGThread_Detach)(thread);
    pool->workers[index] = worker;
    return 0;
}

// Room for n workers in the pool's array, with the pool locked.
bool reserveWorkers(SGDaemonThreadPool* pool, int n) {
    if (n <= pool->capacity) return true;
    void* grown = SGB(SGMemory_realloc)(pool->workers, sizeof(SGDaemonWorker*) * n);
    if (!grown) return false;
    pool->workers = static_cast<SGDaemonWorker**>(grown);
    for (int i = pool->capacity; i < n; ++i) pool->workers[i] = nullptr;
    pool->capacity = n;
    return true;
}

// Closes every queued connection, with the pool locked: used when the pool has no worker and
// cannot get one, so that clients are refused instead of waiting forever.
void dropQueuedJobs(SGDaemonThreadPool* pool) {
    while (Job* job = pool->first) {
        pool->first = job->next;
        connectionClosing(job->socket);
        socketClose(job->socket);
        release(job);
    }
    pool->last = nullptr;
    pool->queued = 0;
}

SGDaemonThreadInfo** threadInfo(SGDaemonWorker** workers, int count) {
    if (!workers || count <= 0) return nullptr;
    auto** array =
        static_cast<SGDaemonThreadInfo**>(allocZero(sizeof(SGDaemonThreadInfo*) * (count + 1)));
    if (!array) return nullptr;
    for (int i = 0; i < count; ++i) {
        auto* record = static_cast<SGDaemonThreadInfo*>(allocZero(sizeof(SGDaemonThreadInfo)));
        if (!record) {
            SGDaemon_ThreadPoolFreeThreadInfo(array);
            return nullptr;
        }
        array[i] = record;
        record->count = count;
        if (const SGDaemonWorker* worker = workers[i]) {
            record->index = worker->index;
            record->served = worker->served;
            record->thread = worker->thread;
            record->state = worker->state;
            std::memcpy(record->address, worker->address, sizeof record->address);
            record->address[sizeof record->address - 1] = '\0';
        }
    }
    return array;
}

void freePool(SGDaemonThreadPool* pool) {
    for (int i = 0; i < pool->count && pool->workers; ++i) release(pool->workers[i]);
    release(pool->workers);
    while (Job* job = pool->first) {
        pool->first = job->next;
        connectionClosing(job->socket);
        socketClose(job->socket);
        release(job);
    }
    release(pool->admin);
    freeString(pool->name);
    if (pool->condition) SGB(SGThread_CondDestroy)(pool->condition);
    if (pool->mutex) SGB(SGThread_MutexDestroy)(pool->mutex, 0);
    release(pool);
}

// The most accepted connections that wait for a worker, with the pool locked: as many as the
// pool may have workers. Beyond them, connections wait in the kernel's listen queue, which is
// bounded too and holds no descriptor of the process.
int queueLimit(const SGDaemonThreadPool* pool) {
    const SGDaemonConfigService* service = SGDaemon_GetConfigService(pool->name);
    const int max =
        service && service->maxpoolsize != -1 ? service->maxpoolsize : kUnlimitedPoolQueue;
    return std::max({max, pool->initial, 1});
}

// Waits until the pool's queue has room for one more connection.
void waitForQueueRoom(SGDaemonThreadPool* pool, unsigned hash) {
    for (bool logged = false;; sleepMilliseconds(10)) {
        PoolLock lock(pool);
        if (pool->queued < queueLimit(pool)) return;
        if (!logged)
            SGLog_Write(SG_LOG_LEVEL_DEBUG,
                        "thread pool (%s[%u]) : queue full (%d). connections wait to be accepted.",
                        pool->name, hash, pool->queued);
        logged = true;
    }
}

// Waits for a job with the pool locked. The worker at the top of a pool that has more workers
// than it started with leaves it once idle for the idle lifetime: it marks itself stopped, and
// wakes the others so that the next one at the top may follow.
void waitForJob(SGDaemonThreadPool* pool, SGDaemonWorker* worker, Clock::time_point idleSince) {
    const int index = worker->index;
    const bool surplus =
        pool->count > pool->initial && index == pool->count - 1 && pool->workers[index] == worker;
    if (!surplus) {
        SGB(SGThread_CondWait)(pool->condition, pool->mutex);
        return;
    }
    const auto lifetime = std::chrono::milliseconds(idleWorkerLifetimeMs());
    const auto left = idleSince + lifetime - Clock::now();
    if (left > Clock::duration::zero()) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const long long until = now.tv_sec * 1000000000LL + now.tv_nsec +
                                std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const SGThreadDeadline deadline{static_cast<int32_t>(until / 1000000000LL),
                                        static_cast<int32_t>(until % 1000000000LL)};
        SGB(SGThread_CondTimedwait)(pool->condition, pool->mutex, &deadline);
        return;  // the caller looks for a job again, and comes back here
    }
    SGLog_Write(SG_LOG_LEVEL_DEBUG,
                "slave thread (%s[%d]) : idle for %d ms above the pool's %d workers, ending.",
                worker->name, index, idleWorkerLifetimeMs(), pool->initial);
    pool->workers[index] = nullptr;
    --pool->count;
    worker->state = SG_DAEMON_WORKER_STOP;
    SGB(SGThread_CondBroadcast)(pool->condition);
}

}  // namespace

extern "C" {

unsigned int SGDaemon_UtilHash(const char*) {
    return 0;
}

SGDaemonThreadPool* SGDaemon_ThreadPoolGet(const char* name) {
    if (!name) return nullptr;
    for (SGDaemonThreadPool* pool = gPools.load(); pool; pool = pool->next)
        if (SGB(SGOS_strcmp)(pool->name, name) == 0) return pool;
    return nullptr;
}

int SGDaemon_ThreadPoolRegister(SGDaemonProcess* process) {
    if (!process || !process->name) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonConfigService* service = SGDaemon_GetConfigService(process->name);
    if (!service) return SG_DAEMON_ERR_NO_SERVICE;
    auto* pool = static_cast<SGDaemonThreadPool*>(allocZero(sizeof(SGDaemonThreadPool)));
    if (!pool) return SG_DAEMON_ERR_MEMORY;
    pool->name = dupString(process->name);
    int initial = service->threadcount;
    if (service->maxpoolsize != -1 && initial > service->maxpoolsize)
        initial = service->maxpoolsize;
    pool->initial = initial > 0 ? initial : 0;
    pool->capacity = pool->initial > 0 ? pool->initial : 1;
    pool->workers =
        static_cast<SGDaemonWorker**>(allocZero(sizeof(SGDaemonWorker*) * pool->capacity));
    if (!pool->name || !pool->workers) {
        freePool(pool);
        return SG_DAEMON_ERR_MEMORY;
    }
    SGDaemon_AdaptorCopyGuestSymbol(&process->guest, &pool->guest);
    SGDaemon_AdaptorCopyHostSymbol(&process->host, &pool->host);
    if (SGB(SGOS_strcmp)(process->name, kAdminName) == 0) {
        pool->admin = static_cast<SGDaemonAdminSymbol*>(allocZero(sizeof(SGDaemonAdminSymbol)));
        if (!pool->admin) {
            freePool(pool);
            return SG_DAEMON_ERR_MEMORY;
        }
        SGDaemon_AdaptorCopyAdminSymbol(&process->admin, pool->admin);
    }
    pool->listener = process->listener;
    pool->stacksize = service->threadstacksize;
    if (int rc = SGB(SGThread_MutexInit)(&pool->mutex, nullptr)) {
        freePool(pool);
        return rc;
    }
    if (int rc = SGB(SGThread_CondInit)(&pool->condition, nullptr)) {
        freePool(pool);
        return rc;
    }
    pool->next = gPools.load();
    gPools.store(pool);
    return 0;
}

void* SGDaemon_ThreadPoolmaster(void* argument) {
    auto* pool = static_cast<SGDaemonThreadPool*>(argument);
    const char* name = pool->name;
    const unsigned hash = SGDaemon_UtilHash(name);
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "thread pool (%s[%u]) : initializing.", name, hash);

    // Every worker exists before the first accept. When fewer could be created than
    // configured, the pool serves with those it has.
    {
        PoolLock lock(pool);
        int created = 0;
        if (reserveWorkers(pool, pool->initial)) {
            while (created < pool->initial && createWorker(pool, created, kMasterTexts) == 0)
                ++created;
        } else {
            SGLog_Write(SG_LOG_LEVEL_FATAL, kMasterTexts.memory, name, hash);
        }
        pool->count = created;
    }
    for (int waited = 0;; ++waited) {
        int missing;
        {
            PoolLock lock(pool);
            missing = pool->count - pool->idle;
        }
        if (missing <= 0) break;
        if (waited % 100 == 0)
            SGLog_Write(SG_LOG_LEVEL_DEBUG,
                        "thread pool (%s[%u]) : waiting %d worker threads are ready.", name, hash,
                        missing);
        sleepMilliseconds(10);
    }
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "thread pool (%s[%u]) : begin.", name, hash);

    for (;;) {
        waitForQueueRoom(pool, hash);
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "thread pool (%s[%u]) : listen socket (%d).", name, hash,
                    pool->listener);
        char peer[1024] = {};
        const int socket = socketAccept(pool->listener, peer);
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "thread pool (%s[%u]) : accept socket (%d).", name, hash,
                    socket);
        if (socket < 0) {
            SGLog_Write(SG_LOG_LEVEL_WARNING, "thread pool (%s[%u]) : accept new job failed.", name,
                        hash);
            SGB(SGOS_sleep)(1);
            continue;
        }
        connectionAccepted(socket);
        auto* job = static_cast<Job*>(allocZero(sizeof(Job)));
        if (!job) {
            SGLog_Write(SG_LOG_LEVEL_FATAL,
                        "thread pool (%s[%u]) : memory allocatioin failed for new job.", name,
                        hash);
            connectionClosing(socket);
            socketClose(socket);
            SGB(SGOS_sleep)(1);
            continue;
        }
        job->socket = socket;
        SGB(SGOS_strncpy)(job->address, peer, sizeof job->address - 1);

        bool grow;
        int target;
        {
            PoolLock lock(pool);
            if (pool->last)
                pool->last->next = job;
            else
                pool->first = job;
            pool->last = job;
            ++pool->queued;
            SGLog_Write(SG_LOG_LEVEL_DEBUG,
                        "thread pool (%s[%u]) : add job to queue. queue size %d.", name, hash,
                        pool->queued);
            SGB(SGThread_CondSignal)(pool->condition);
            grow = pool->idle < pool->queued;
            target = pool->count + 1;
        }
        if (!grow) continue;
        if (SGDaemon_ThreadPoolResize(name, target) == 0) {
            SGLog_Write(SG_LOG_LEVEL_DEBUG, "thread pool (%s[%u]) : increase threadpool to %d.",
                        name, hash, target);
            continue;
        }
        PoolLock lock(pool);
        if (pool->count == 0 && pool->idle == 0 && pool->queued > 0) {
            SGLog_Write(SG_LOG_LEVEL_FATAL,
                        "thread pool (%s[%u]) : no working thread. %d connection(s) closed.", name,
                        hash, pool->queued);
            dropQueuedJobs(pool);
        }
    }
    return nullptr;
}

void* SGDaemon_ThreadPoolSlave(void* argument) {
    auto* worker = static_cast<SGDaemonWorker*>(argument);
    SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(worker->name);
    const char* name = worker->name;
    const int index = worker->index;
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "slave thread (%s[%d]) : starting.", name, index);

    SGB(SGThread_MutexLock)(pool->mutex);
    while (worker->state != SG_DAEMON_WORKER_STOP && worker->state != SG_DAEMON_WORKER_ENDED) {
        worker->state = SG_DAEMON_WORKER_IDLE;
        SGLog_Write(SG_LOG_LEVEL_DEBUG, "slave thread (%s[%d]) : mutex lock (%p)", name, index,
                    pool->mutex);
        SGLog_Write(SG_LOG_LEVEL_DEBUG,
                    "slave thread (%s[%d]) : increase available thread count before : %d", name,
                    index, pool->idle);
        ++pool->idle;
        SGLog_Write(SG_LOG_LEVEL_DEBUG,
                    "slave thread (%s[%d]) : increase available thread count after : %d", name,
                    index, pool->idle);
        const Clock::time_point idleSince = Clock::now();
        while (!pool->first && worker->state != SG_DAEMON_WORKER_STOP)
            waitForJob(pool, worker, idleSince);
        --pool->idle;
        if (worker->state == SG_DAEMON_WORKER_STOP) {
            // Marked while waiting: end now, and pass on a wake-up meant for a job.
            if (pool->first) SGB(SGThread_CondSignal)(pool->condition);
            break;
        }
        worker->state = SG_DAEMON_WORKER_SERVING;
        Job* job = pool->first;
        pool->first = job->next;
        if (!pool->first) pool->last = nullptr;
        --pool->queued;
        worker->socket = job->socket;
        std::memset(worker->address, 0, sizeof worker->address);
        SGB(SGOS_strncpy)(worker->address, job->address, sizeof worker->address - 1);
        SGB(SGThread_MutexUnlock)(pool->mutex);

        // A pool is only started with a resolved Service entry; the check keeps a connection
        // from ever reaching a missing one.
        if (pool->guest.service) pool->guest.service(worker);

        if (requestExpired(job->socket)) {
            // No complete request by its deadline: closed at once, the worker is needed.
            SGLog_Write(SG_LOG_LEVEL_WARNING,
                        "slave thread (%s[%d]) : no complete request within %d ms. connection "
                        "closed.",
                        name, index, requestDeadlineMs());
        } else {
            SGLog_Write(SG_LOG_LEVEL_DEBUG, "Dummy Recv Start");
            char rest[kClosingReadBytes];
            socketRecv(job->socket, rest, sizeof rest, kClosingReadTimeout);
        }
        connectionClosing(job->socket);
        socketClose(job->socket);
        release(job);

        SGB(SGThread_MutexLock)(pool->mutex);
        std::memset(worker->address, 0, sizeof worker->address);
        ++worker->served;
    }
    const bool stopped = worker->state == SG_DAEMON_WORKER_STOP;
    const int served = worker->served;
    SGB(SGThread_MutexUnlock)(pool->mutex);
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "slave thread (%s[%d]) : stopped after doing %d service.(%s).",
                name, index, served, stopped ? "OK" : "FAil");
    release(worker);
    return nullptr;
}

int SGDaemon_ThreadPoolStart(const char* name) {
    if (!name) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(name);
    if (!pool) {
        SGLog_Write(SG_LOG_LEVEL_FATAL,
                    "thread pool [%s] is not registered. threadpool start fail.", name);
        return SG_DAEMON_ERR_NO_POOL;
    }
    SGThreadAttr attr = nullptr;
    int stacksize;
    {
        PoolLock lock(pool);
        stacksize = pool->stacksize;
    }
    if (stacksize != -1 && SGB(SGThread_AttrInit)(&attr) == 0) {
        if (int rc = SGB(SGThread_AttrSetstacksize)(attr, stacksize)) {
            SGLog_Write(SG_LOG_LEVEL_FATAL,
                        "thread pool [%s] cannot set stack size of thread attribute. return code "
                        "[%d]",
                        name, rc);
            SGB(SGThread_AttrDestroy)(attr);
            attr = nullptr;
        }
    }
    SGThreadId thread = 0;
    int rc = SGB(SGThread_Create)(&thread, attr, SGDaemon_ThreadPoolmaster, pool);
    if (attr) SGB(SGThread_AttrDestroy)(attr);
    if (rc != 0) return rc;
    SGB(SGThread_Detach)(thread);
    PoolLock lock(pool);
    pool->started = 1;
    return 0;
}

int SGDaemon_ThreadPoolStartAll(int skipAdmin) {
    for (SGDaemonThreadPool* pool = gPools.load(); pool; pool = pool->next) {
        if (skipAdmin && SGB(SGOS_strcmp)(pool->name, kAdminName) == 0) continue;
        if (int rc = SGDaemon_ThreadPoolStart(pool->name)) return rc;
    }
    return 0;
}

int SGDaemon_ThreadPoolResize(const char* name, int workers) {
    if (!name || workers < 1) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(name);
    if (!pool) return SG_DAEMON_ERR_NO_POOL;
    SGDaemonConfigService* service = SGDaemon_GetConfigService(name);
    if (!service) return SG_DAEMON_ERR_NO_SERVICE;
    const int hash = static_cast<int>(SGDaemon_UtilHash(name));

    PoolLock lock(pool);
    int n = workers;
    const int max = service->maxpoolsize;
    if (max != -1 && max < n) {
        if (pool->count >= max) {
            SGLog_Write(SG_LOG_LEVEL_WARNING,
                        "thread pool (%s[%d]) : cannot resize thread pool. (%s)", name, hash,
                        "resize of thread pool exceed max pool size.");
            return SG_DAEMON_ERR_POOL_MAX;
        }
        n = max;
    }
    if (n < pool->count) {
        // Waiting workers beyond n end at once; serving ones after their connection.
        for (int i = n; i < pool->count; ++i)
            if (pool->workers[i]) pool->workers[i]->state = SG_DAEMON_WORKER_STOP;
        pool->count = n;
        SGB(SGThread_CondBroadcast)(pool->condition);
        return 0;
    }
    if (n == pool->count) return 0;
    if (!reserveWorkers(pool, n)) {
        SGLog_Write(SG_LOG_LEVEL_FATAL, "thread pool (%s[%d]) : cannot reallocate memory!!!", name,
                    hash);
        return SG_DAEMON_ERR_MEMORY;
    }
    for (int i = pool->count; i < n; ++i) {
        if (int rc = createWorker(pool, i, kResizeTexts)) {
            // Keep the workers made so far.
            pool->count = i;
            return rc == SG_DAEMON_ERR_MEMORY ? rc : SG_DAEMON_ERR_THREAD;
        }
    }
    pool->count = n;
    return 0;
}

int SGDaemon_ThreadPoolStop(void) {
    return SG_DAEMON_ERR_UNSUPPORTED;
}

int SGDaemon_ThreadPoolSetMaxPoolSize(const char* name, int size) {
    if (!name) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonConfigService* service = SGDaemon_GetConfigService(name);
    if (!service) return SG_DAEMON_ERR_NO_SERVICE;
    if (SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(name)) {
        PoolLock lock(pool);
        service->maxpoolsize = size;
    } else {
        service->maxpoolsize = size;
    }
    return 0;
}

int SGDaemon_ThreadPoolSetStackSize(const char* name, int size) {
    if (!name) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(name);
    if (!pool) return SG_DAEMON_ERR_NO_POOL;
    PoolLock lock(pool);
    pool->stacksize = size;
    return 0;
}

SGDaemonThreadInfo** SGDaemon_ThreadPoolGetThreadInfo(SGDaemonWorker** workers, int count) {
    return threadInfo(workers, count);
}

SGDaemonThreadInfo** SGDaemon_ThreadPoolGetThreadInfobyName(const char* name) {
    SGDaemonThreadPool* pool = SGDaemon_ThreadPoolGet(name);
    if (!pool) return nullptr;
    PoolLock lock(pool);
    return threadInfo(pool->workers, pool->count);
}

SGDaemonServiceInfo* SGDaemon_ThreadPoolGetServiceInfo(SGDaemonThreadPool* pool) {
    SGDaemonServiceInfo* head = nullptr;
    SGDaemonServiceInfo** tail = &head;
    for (; pool; pool = pool->next) {
        auto* record = static_cast<SGDaemonServiceInfo*>(allocZero(sizeof(SGDaemonServiceInfo)));
        if (!record) {
            SGDaemon_ThreadPoolFreeServiceInfo(head);
            return nullptr;
        }
        *tail = record;
        tail = &record->next;
        PoolLock lock(pool);
        record->name = dupString(pool->name);
        record->workers = pool->count;
        record->idle = pool->idle;
        record->queued = pool->queued;
        record->stacksize = pool->stacksize;
        record->threads = threadInfo(pool->workers, pool->count);
        if (!record->name || (pool->count > 0 && !record->threads)) {
            SGDaemon_ThreadPoolFreeServiceInfo(head);
            return nullptr;
        }
    }
    return head;
}

SGDaemonServiceInfo* SGDaemon_ThreadPoolGetServiceInfobyName(const char* name) {
    SGDaemonThreadPool* pool = name ? SGDaemon_ThreadPoolGet(name) : gPools.load();
    return pool ? SGDaemon_ThreadPoolGetServiceInfo(pool) : nullptr;
}

void SGDaemon_ThreadPoolFreeServiceInfo(SGDaemonServiceInfo* list) {
    while (list) {
        SGDaemonServiceInfo* next = list->next;
        release(list->name);
        SGDaemon_ThreadPoolFreeThreadInfo(list->threads);
        release(list);
        list = next;
    }
}

void SGDaemon_ThreadPoolFreeThreadInfo(SGDaemonThreadInfo** array) {
    if (!array) return;
    // The array ends at its first empty entry (records of a partial build included).
    for (int i = 0; array[i]; ++i) release(array[i]);
    release(array);
}

void SGDaemon_ThreadPoolFree(void) {
    SGDaemonThreadPool* pool = gPools.exchange(nullptr);
    while (pool) {
        SGDaemonThreadPool* next = pool->next;
        freePool(pool);
        pool = next;
    }
}

}  // extern "C"
