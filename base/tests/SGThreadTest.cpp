#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "SGBaseTable.h"
#include "SGThread.h"
#include "SGThreadInternal.h"

namespace {

using Clock = std::chrono::steady_clock;

SGThreadDeadline deadlineIn(std::chrono::milliseconds offset) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    int64_t ns = static_cast<int64_t>(now.tv_nsec) + offset.count() * 1000000;
    int64_t s = now.tv_sec + ns / 1000000000;
    ns %= 1000000000;
    if (ns < 0) {
        ns += 1000000000;
        --s;
    }
    return SGThreadDeadline{static_cast<int32_t>(s), static_cast<int32_t>(ns)};
}

// Waits for a child without blocking forever when it misbehaves.
int reap(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "child " << pid << " did not end";
    return status;
}

TEST(SGThread, TableSlotsHoldTheThreadFunctions) {
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    struct {
        int slot;
        void* fn;
    } cases[] = {
        {300, reinterpret_cast<void*>(&SGThread_FreeTypes)},
        {307, reinterpret_cast<void*>(&SGThread_Waitpid)},
        {313, reinterpret_cast<void*>(&SGThread_MutexInit)},
        {320, reinterpret_cast<void*>(&SGThread_CondAttrDestory)},
        {325, reinterpret_cast<void*>(&SGThread_CondTimedwait)},
        {343, reinterpret_cast<void*>(&SGThread_AttrLength)},
        {344, reinterpret_cast<void*>(&SGThread_Create)},
        {347, reinterpret_cast<void*>(&SGThread_Self)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
}

TEST(SGThread, BlockSizesAreFixed) {
    EXPECT_EQ(SGThread_MutexLength(), 64);
    EXPECT_EQ(SGThread_CondLength(), 48);
    EXPECT_EQ(SGThread_AttrLength(), 64);
    EXPECT_EQ(SGThread_MutexAttrLength(), 16);
    EXPECT_EQ(SGThread_CondAttrLength(), 16);
}

TEST(SGThread, MissingHandlesAndOutArgumentsGive3001) {
    SGThreadMutex m = nullptr;
    SGThreadCond c = nullptr;
    SGThreadAttr a = nullptr;
    SGThreadMutexAttr ma = nullptr;
    ASSERT_EQ(SGThread_MutexInit(&m, nullptr), 0);
    ASSERT_EQ(SGThread_CondInit(&c, nullptr), 0);
    ASSERT_EQ(SGThread_AttrInit(&a), 0);
    ASSERT_EQ(SGThread_MutexAttrInit(&ma), 0);
    SGThreadDeadline d{0, 0};
    SGThreadId id = 0;
    int out = 0;
    auto start = [](void*) -> void* { return nullptr; };
    struct {
        const char* what;
        std::function<int()> call;
    } cases[] = {
        {"MutexLock", [] { return SGThread_MutexLock(nullptr); }},
        {"MutexUnlock", [] { return SGThread_MutexUnlock(nullptr); }},
        {"MutexDestroy", [] { return SGThread_MutexDestroy(nullptr, 0); }},
        {"MutexInit", [] { return SGThread_MutexInit(nullptr, nullptr); }},
        {"MutexAttrInit", [] { return SGThread_MutexAttrInit(nullptr); }},
        {"MutexAttrGettype", [&] { return SGThread_MutexAttrGettype(ma, nullptr); }},
        {"MutexAttrSetpshared", [] { return SGThread_MutexAttrSetpshared(nullptr, 0); }},
        {"CondInit", [] { return SGThread_CondInit(nullptr, nullptr); }},
        {"CondSignal", [] { return SGThread_CondSignal(nullptr); }},
        {"CondBroadcast", [] { return SGThread_CondBroadcast(nullptr); }},
        {"CondWait cond", [&] { return SGThread_CondWait(nullptr, m); }},
        {"CondWait mutex", [&] { return SGThread_CondWait(c, nullptr); }},
        {"CondTimedwait deadline", [&] { return SGThread_CondTimedwait(c, m, nullptr); }},
        {"CondTimedwait cond", [&] { return SGThread_CondTimedwait(nullptr, m, &d); }},
        {"AttrInit", [] { return SGThread_AttrInit(nullptr); }},
        {"AttrGetdetachstate out", [&] { return SGThread_AttrGetdetachstate(a, nullptr); }},
        {"AttrGetdetachstate attr", [&] { return SGThread_AttrGetdetachstate(nullptr, &out); }},
        {"AttrGetschedpolicy", [&] { return SGThread_AttrGetschedpolicy(a, nullptr); }},
        {"AttrGetinheritsched", [&] { return SGThread_AttrGetinheritsched(a, nullptr); }},
        {"AttrGetscope", [&] { return SGThread_AttrGetscope(a, nullptr); }},
        {"AttrGetstacksize", [&] { return SGThread_AttrGetstacksize(a, nullptr); }},
        {"AttrSetstacksize", [] { return SGThread_AttrSetstacksize(nullptr, 1 << 20); }},
        {"Create out", [&] { return SGThread_Create(nullptr, nullptr, start, nullptr); }},
        {"Create start", [&] { return SGThread_Create(&id, nullptr, nullptr, nullptr); }},
        {"FreeTypes", [] { return SGThread_FreeTypes(nullptr); }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), 3001) << c.what;
    EXPECT_EQ(id, 0u) << "a failed create writes no id";

    // The mutex was not taken by any of the calls above.
    EXPECT_EQ(SGThread_MutexLock(m), 0);
    EXPECT_EQ(SGThread_MutexUnlock(m), 0);
    EXPECT_EQ(SGThread_AttrSetschedparam(a, nullptr), 3003);
    EXPECT_EQ(SGThread_AttrGetschedparam(a, nullptr), 3003);

    EXPECT_EQ(SGThread_MutexAttrDestroy(ma), 0);
    EXPECT_EQ(SGThread_AttrDestroy(a), 0);
    EXPECT_EQ(SGThread_CondDestroy(c), 0);
    EXPECT_EQ(SGThread_MutexDestroy(m, 0), 0);
}

TEST(SGThread, AttributesReadBackWhatWasSet) {
    SGThreadAttr a = nullptr;
    ASSERT_EQ(SGThread_AttrInit(&a), 0);
    struct {
        const char* what;
        int (*set)(SGThreadAttr, int);
        int (*get)(SGThreadAttr, int*);
        int value;
    } cases[] = {
        {"detached", SGThread_AttrSetdetachstate, SGThread_AttrGetdetachstate,
         PTHREAD_CREATE_DETACHED},
        {"joinable", SGThread_AttrSetdetachstate, SGThread_AttrGetdetachstate,
         PTHREAD_CREATE_JOINABLE},
        {"fifo", SGThread_AttrSetschedpolicy, SGThread_AttrGetschedpolicy, SCHED_FIFO},
        {"other", SGThread_AttrSetschedpolicy, SGThread_AttrGetschedpolicy, SCHED_OTHER},
        {"explicit", SGThread_AttrSetinheritsched, SGThread_AttrGetinheritsched,
         PTHREAD_EXPLICIT_SCHED},
        {"inherit", SGThread_AttrSetinheritsched, SGThread_AttrGetinheritsched,
         PTHREAD_INHERIT_SCHED},
        {"system scope", SGThread_AttrSetscope, SGThread_AttrGetscope, PTHREAD_SCOPE_SYSTEM},
        {"stack 1 MiB", SGThread_AttrSetstacksize, SGThread_AttrGetstacksize, 1 << 20},
        {"stack 3 MiB", SGThread_AttrSetstacksize, SGThread_AttrGetstacksize, 3 << 20},
    };
    for (const auto& c : cases) {
        int out = -12345;
        EXPECT_EQ(c.set(a, c.value), 0) << c.what;
        EXPECT_EQ(c.get(a, &out), 0) << c.what;
        EXPECT_EQ(out, c.value) << c.what;
    }
    // Sizes the platform refuses are its error, not a silently huge stack.
    EXPECT_EQ(SGThread_AttrSetstacksize(a, -1), EINVAL);
    EXPECT_EQ(SGThread_AttrSetstacksize(a, 1), EINVAL);
    EXPECT_EQ(SGThread_AttrSetdetachstate(a, 12345), EINVAL);
    EXPECT_EQ(SGThread_AttrDestroy(a), 0);
}

TEST(SGThread, MutexSerialisesThreadsAndJoinHandsBackResults) {
    struct Shared {
        SGThreadMutex mutex = nullptr;
        long counter = 0;
    } shared;
    ASSERT_EQ(SGThread_MutexInit(&shared.mutex, nullptr), 0);
    auto body = [](void* arg) -> void* {
        auto* s = static_cast<Shared*>(arg);
        for (int i = 0; i < 20000; ++i) {
            SGThread_MutexLock(s->mutex);
            long v = s->counter;
            std::atomic_signal_fence(std::memory_order_seq_cst);
            s->counter = v + 1;
            SGThread_MutexUnlock(s->mutex);
        }
        return reinterpret_cast<void*>(static_cast<uintptr_t>(SGThread_Self()));
    };
    std::vector<SGThreadId> ids(4);
    for (auto& id : ids) ASSERT_EQ(SGThread_Create(&id, nullptr, body, &shared), 0);
    for (auto id : ids) {
        void* result = nullptr;
        ASSERT_EQ(SGThread_Join(id, &result), 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(result), static_cast<uintptr_t>(id))
            << "the thread's own id equals the id Create wrote";
    }
    EXPECT_EQ(shared.counter, 4 * 20000);
    EXPECT_EQ(SGThread_MutexDestroy(shared.mutex, 0), 0);
}

TEST(SGThread, DetachedAndAttributeCreatedThreadsRun) {
    static std::atomic<int> ran{0};
    ran = 0;
    auto body = [](void*) -> void* {
        ran.fetch_add(1);
        return nullptr;
    };
    SGThreadAttr a = nullptr;
    ASSERT_EQ(SGThread_AttrInit(&a), 0);
    ASSERT_EQ(SGThread_AttrSetstacksize(a, 1 << 20), 0);
    SGThreadId first = 0, second = 0;
    ASSERT_EQ(SGThread_Create(&first, a, body, nullptr), 0);
    ASSERT_EQ(SGThread_Join(first, nullptr), 0);
    ASSERT_EQ(SGThread_Create(&second, nullptr, body, nullptr), 0);
    EXPECT_EQ(SGThread_Detach(second), 0);
    for (int i = 0; i < 2000 && ran.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(SGThread_AttrDestroy(a), 0);
}

// A block copied elsewhere works at its new address and is destroyed there in place, the way a
// shared memory map keeps its mutex.
TEST(SGThread, CopiedMutexBlockWorksInPlace) {
    SGThreadMutex original = nullptr;
    ASSERT_EQ(SGThread_MutexInit(&original, nullptr), 0);
    alignas(16) unsigned char region[64 + 8];
    std::memcpy(region, original, SGThread_MutexLength());
    EXPECT_EQ(SGThread_FreeTypes(original), 0);
    SGThreadMutex copy = region;
    EXPECT_EQ(SGThread_MutexLock(copy), 0);
    EXPECT_EQ(pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(region)), EBUSY);
    EXPECT_EQ(SGThread_MutexUnlock(copy), 0);
    // keep = 1: destroyed, not freed (freeing a stack address would abort under the sanitizer)
    EXPECT_EQ(SGThread_MutexDestroy(copy, 1), 0);
}

TEST(SGThread, PrivateFlagZeroMakesTheMutexProcessShared) {
    struct {
        int flag;
        int expected;
    } cases[] = {
        {0, PTHREAD_PROCESS_SHARED}, {1, PTHREAD_PROCESS_PRIVATE}, {7, PTHREAD_PROCESS_PRIVATE}};
    for (const auto& c : cases) {
        SGThreadMutexAttr attr = nullptr;
        ASSERT_EQ(SGThread_MutexAttrInit(&attr), 0);
        ASSERT_EQ(SGThread_MutexAttrSetpshared(attr, c.flag), 0);
        int shared = -1;
        ASSERT_EQ(pthread_mutexattr_getpshared(static_cast<pthread_mutexattr_t*>(attr), &shared),
                  0);
        EXPECT_EQ(shared, c.expected) << "flag " << c.flag;
        EXPECT_EQ(SGThread_MutexAttrDestroy(attr), 0);
    }
}

TEST(SGThread, ProcessSharedMutexExcludesAForkedChild) {
    struct Region {
        alignas(16) unsigned char mutex[64];
        long counter;
    };
    void* map =
        mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* region = static_cast<Region*>(map);
    SGThreadMutexAttr attr = nullptr;
    SGThreadMutex heap = nullptr;
    ASSERT_EQ(SGThread_MutexAttrInit(&attr), 0);
    ASSERT_EQ(SGThread_MutexAttrSettype(attr, PTHREAD_MUTEX_ERRORCHECK), 0);
    int type = -1;
    ASSERT_EQ(SGThread_MutexAttrGettype(attr, &type), 0);
    EXPECT_EQ(type, PTHREAD_MUTEX_ERRORCHECK);
    ASSERT_EQ(SGThread_MutexAttrSetpshared(attr, 0), 0);
    ASSERT_EQ(SGThread_MutexInit(&heap, attr), 0);
    std::memcpy(region->mutex, heap, 64);
    SGThread_FreeTypes(heap);
    SGThread_MutexAttrDestroy(attr);

    auto work = [region] {
        for (int i = 0; i < 20000; ++i) {
            if (SGThread_MutexLock(region->mutex) != 0) return false;
            long v = region->counter;
            std::atomic_signal_fence(std::memory_order_seq_cst);
            region->counter = v + 1;
            if (SGThread_MutexUnlock(region->mutex) != 0) return false;
        }
        return true;
    };
    int pid = SGThread_Fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(work() ? 0 : 1);
    EXPECT_TRUE(work());
    int status = reap(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(region->counter, 40000);
    EXPECT_EQ(SGThread_MutexDestroy(region->mutex, 1), 0);
    munmap(map, sizeof(Region));
}

TEST(SGThread, ConditionSignalAndBroadcastWakeWaiters) {
    struct Shared {
        SGThreadMutex mutex = nullptr;
        SGThreadCond cond = nullptr;
        int released = 0;
        int woke = 0;
    } s;
    ASSERT_EQ(SGThread_MutexInit(&s.mutex, nullptr), 0);
    SGThreadCondAttr attr = nullptr;
    ASSERT_EQ(SGThread_CondAttrInit(&attr), 0);
    ASSERT_EQ(SGThread_CondInit(&s.cond, attr), 0);
    EXPECT_EQ(SGThread_CondAttrDestory(attr), 0);
    auto waiter = [](void* arg) -> void* {
        auto* sh = static_cast<Shared*>(arg);
        SGThread_MutexLock(sh->mutex);
        while (sh->released == 0) SGThread_CondWait(sh->cond, sh->mutex);
        sh->released--;
        sh->woke++;
        SGThread_MutexUnlock(sh->mutex);
        return nullptr;
    };
    std::vector<SGThreadId> ids(3);
    for (auto& id : ids) ASSERT_EQ(SGThread_Create(&id, nullptr, waiter, &s), 0);

    auto wokeCount = [&] {
        SGThread_MutexLock(s.mutex);
        int n = s.woke;
        SGThread_MutexUnlock(s.mutex);
        return n;
    };
    SGThread_MutexLock(s.mutex);
    s.released = 1;
    EXPECT_EQ(SGThread_CondSignal(s.cond), 0);
    SGThread_MutexUnlock(s.mutex);
    for (int i = 0; i < 2000 && wokeCount() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(wokeCount(), 1);

    SGThread_MutexLock(s.mutex);
    s.released = 2;
    EXPECT_EQ(SGThread_CondBroadcast(s.cond), 0);
    SGThread_MutexUnlock(s.mutex);
    for (auto id : ids) ASSERT_EQ(SGThread_Join(id, nullptr), 0);
    EXPECT_EQ(s.woke, 3);
    EXPECT_EQ(SGThread_CondDestroy(s.cond), 0);
    EXPECT_EQ(SGThread_MutexDestroy(s.mutex, 0), 0);
}

TEST(SGThread, TimedWaitEndsAtTheDeadline) {
    SGThreadMutex m = nullptr;
    SGThreadCond c = nullptr;
    ASSERT_EQ(SGThread_MutexInit(&m, nullptr), 0);
    ASSERT_EQ(SGThread_CondInit(&c, nullptr), 0);
    struct {
        const char* what;
        std::function<SGThreadDeadline()> deadline;  // built right before the wait
        int minimumMs;
    } cases[] = {
        {"80 ms ahead", [] { return deadlineIn(std::chrono::milliseconds(80)); }, 70},
        {"in the past", [] { return deadlineIn(std::chrono::milliseconds(-5000)); }, 0},
        {"the epoch",
         [] {
             return SGThreadDeadline{0, 0};
         },
         0},
        // Nanoseconds beyond a second carry into the seconds: 1 s back plus 1.08 s is ahead.
        {"nanoseconds carry",
         [] {
             SGThreadDeadline d = deadlineIn(std::chrono::milliseconds(-1000));
             d.nanoseconds += 1080000000;
             return d;
         },
         60},
    };
    for (auto& k : cases) {
        ASSERT_EQ(SGThread_MutexLock(m), 0);
        SGThreadDeadline deadline = k.deadline();
        auto begin = Clock::now();
        int rc = 0;
        while (rc == 0) rc = SGThread_CondTimedwait(c, m, &deadline);  // nobody signals: spurious
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
        ASSERT_EQ(SGThread_MutexUnlock(m), 0);
        EXPECT_EQ(rc, ETIMEDOUT) << k.what;
        EXPECT_GE(waited.count(), k.minimumMs) << k.what;
        EXPECT_LT(waited.count(), 3000) << k.what;
    }
    EXPECT_EQ(SGThread_CondDestroy(c), 0);
    EXPECT_EQ(SGThread_MutexDestroy(m, 0), 0);
}

// The record's seconds are 32 bits; the deadline they stand for must stay right after 2038.
TEST(SGThread, DeadlineRecordsMapToTheNearbyInstant) {
    constexpr int64_t k2038 = int64_t{1} << 31;
    constexpr int64_t k2106 = int64_t{1} << 32;
    struct {
        const char* what;
        int64_t now;
        int32_t seconds;
        int32_t nanoseconds;
        int64_t expectSeconds;
        long expectNanos;
    } cases[] = {
        {"today, 30 s ahead", 1700000000, 1700000030, 5, 1700000030, 5},
        {"today, past", 1700000000, 1699999000, 0, 1699999000, 0},
        {"the epoch is past", 1700000000, 0, 0, 0, 0},
        {"before 1970 is past", 1700000000, -1, 0, -1, 0},
        {"2038, ahead across the wrap", k2038 - 10, static_cast<int32_t>(k2038 + 20), 0, k2038 + 20,
         0},
        {"after 2038, ahead", k2038 + 1000, static_cast<int32_t>(k2038 + 1030), 0, k2038 + 1030, 0},
        {"after 2038, past", k2038 + 1000, static_cast<int32_t>(k2038 + 900), 0, k2038 + 900, 0},
        {"after 2038, the epoch is past", k2038 + 1000, 0, 0, 0, 0},
        {"after 2106, ahead", k2106 + 100, static_cast<int32_t>(k2106 + 130), 0, k2106 + 130, 0},
        {"nanoseconds carry", 1700000000, 1700000010, 1500000000, 1700000011, 500000000},
        {"negative nanoseconds borrow", 1700000000, 1700000010, -1, 1700000009, 999999999},
    };
    for (const auto& c : cases) {
        timespec ts = SGThread_DeadlineToTimespec(SGThreadDeadline{c.seconds, c.nanoseconds},
                                                  static_cast<time_t>(c.now));
        EXPECT_EQ(static_cast<int64_t>(ts.tv_sec), c.expectSeconds) << c.what;
        EXPECT_EQ(ts.tv_nsec, c.expectNanos) << c.what;
    }
}

TEST(SGThread, ProcessIdsAndSetsid) {
    EXPECT_EQ(SGThread_Getpid(), getpid());
    EXPECT_EQ(SGThread_Getppid(), getppid());
    int pid = SGThread_Fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A child is no group leader, so it can start a session led by itself.
        int sid = SGThread_Setsid();
        _exit(sid == getpid() && getsid(0) == getpid() ? 0 : 1);
    }
    int status = reap(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SGThread, WaitpidMapsTheLibraryOptions) {
    int pid = SGThread_Fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (;;) pause();
    }
    int status = 0;
    // 0 is "do not hang": the running child gives 0 at once.
    EXPECT_EQ(SGThread_Waitpid(pid, &status, 0), 0);

    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    ASSERT_EQ(SGThread_Waitpid(pid, &status, 1), pid);  // 1: WUNTRACED
    EXPECT_TRUE(WIFSTOPPED(status));

    ASSERT_EQ(kill(pid, SIGCONT), 0);
    ASSERT_EQ(SGThread_Waitpid(pid, &status, 2), pid);  // 2: WCONTINUED
    EXPECT_TRUE(WIFCONTINUED(status));

    // Other values go to the platform unchanged: 5 holds a bit waitpid does not take.
    errno = 0;
    EXPECT_EQ(SGThread_Waitpid(pid, &status, 5), -1);
    EXPECT_EQ(errno, EINVAL);

    ASSERT_EQ(kill(pid, SIGKILL), 0);
    EXPECT_EQ(SGThread_Wait(&status), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(SGThread, PauseReturnsZeroAfterAHandledSignal) {
    struct sigaction handler {
    }, previous{};
    handler.sa_handler = [](int) {};
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &handler, &previous), 0);
    int pid = SGThread_Fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(SGThread_Pause() == 0 ? 7 : 1);
    sigaction(SIGUSR1, &previous, nullptr);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 1000 && !ended; ++i) {
        kill(pid, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!ended) status = reap(pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
