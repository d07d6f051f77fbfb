#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "SGIPC.h"
#include "SGThread.h"

namespace {

// A key of this process that no segment or semaphore set uses: leftovers of an earlier run
// under the same key are removed first.
int freshKey() {
    static int next = 0;
    const int key = 0x53470000 ^ (static_cast<int>(getpid()) << 4) ^ ++next;
    const int shm = shmget(key, 0, 0);
    if (shm >= 0) shmctl(shm, IPC_RMID, nullptr);
    const int sem = semget(key, 0, 0);
    if (sem >= 0) semctl(sem, 0, IPC_RMID);
    return key;
}

// Runs fn in a forked child; returns its exit status (fn's result), or -1 when it did not end
// normally.
int inChild(const std::function<int()>& fn, pid_t* pidOut = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) _exit(fn());
    if (pidOut) {
        *pidOut = pid;
        return 0;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int waitChild(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

struct Segment {
    SGSharedMemory shm{};
    ~Segment() {
        if (shm.address) SGSharedMemory_ReleaseSafely(&shm);
    }
};

int semaphoreValue(int id) {
    return SGSemaphore_Control(id, 0, GETVAL);
}

TEST(SGSharedMemory, SameKeyGivesTheSameSegmentAndSet) {
    const int key = freshKey();
    Segment a, b;
    ASSERT_EQ(SGSharedMemory_GetSafely(&a.shm, key, 4096), 0);
    ASSERT_EQ(SGSharedMemory_GetSafely(&b.shm, key, 4096), 0);
    EXPECT_EQ(a.shm.key, key);
    EXPECT_EQ(a.shm.segmentId, b.shm.segmentId);
    EXPECT_EQ(a.shm.semaphoreId, b.shm.semaphoreId);
    EXPECT_EQ(semaphoreValue(a.shm.semaphoreId), 1);

    ASSERT_EQ(SGSharedMemory_WriteSafely(&a.shm, 100, "shared", 6), 0);
    char out[8] = {};
    ASSERT_EQ(SGSharedMemory_ReadSafely(&b.shm, 100, out, 6), 0);
    EXPECT_STREQ(out, "shared");
    ASSERT_EQ(SGSharedMemory_MoveSafely(&a.shm, 102, 100, 6), 0);  // overlapping
    ASSERT_EQ(SGSharedMemory_ReadSafely(&b.shm, 100, out, 8), 0);
    EXPECT_EQ(std::string(out, 8), "shshared");
    EXPECT_EQ(semaphoreValue(a.shm.semaphoreId), 1);  // each copy gave the lock back

    // The first release leaves the set for the other attachment; the last one removes it.
    const int sem = a.shm.semaphoreId;
    ASSERT_EQ(SGSharedMemory_ReleaseSafely(&a.shm), 0);
    EXPECT_EQ(a.shm.address, nullptr);
    EXPECT_EQ(semaphoreValue(sem), 1);
    ASSERT_EQ(SGSharedMemory_ReleaseSafely(&b.shm), 0);
    EXPECT_EQ(semaphoreValue(sem), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), -1);
}

TEST(SGSharedMemory, CopiesStayInsideTheSegment) {
    Segment s;
    ASSERT_EQ(SGSharedMemory_GetSafely(&s.shm, freshKey(), 64), 0);
    char data[16] = {};
    struct {
        int offset, length;
    } outside[] = {{60, 5}, {-1, 1}, {0, -1}, {65, 0}, {0x7FFFFFFF, 2}};
    for (const auto& r : outside) {
        EXPECT_EQ(SGSharedMemory_WriteSafely(&s.shm, r.offset, data, r.length), 2401);
        EXPECT_EQ(SGSharedMemory_ReadSafely(&s.shm, r.offset, data, r.length), 2401);
        EXPECT_EQ(SGSharedMemory_MoveSafely(&s.shm, 0, r.offset, r.length), 2401);
    }
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2401);
    EXPECT_EQ(SGSharedMemory_WriteSafely(&s.shm, 60, data, 4), 0);
    EXPECT_EQ(SGSharedMemory_WriteSafely(&s.shm, 0, nullptr, 4), 2401);
    EXPECT_EQ(SGSharedMemory_WriteSafely(nullptr, 0, data, 4), 2401);
}

TEST(SGSharedMemory, PlainSegmentAndControl) {
    const int key = freshKey();
    int id = -1;
    void* address = SGSharedMemory_Get(key, 1000, &id);
    ASSERT_NE(address, nullptr);
    int again = -1;
    void* second = SGSharedMemory_Get(key, 1000, &again);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(again, id);
    std::memcpy(address, "seen", 5);
    EXPECT_STREQ(static_cast<char*>(second), "seen");
    EXPECT_EQ(SGSharedMemory_Get(key, 5000, &again), nullptr);  // larger than the segment
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2201);

    shmid_ds ds{};
    EXPECT_EQ(SGSharedMemory_Control(id, IPC_STAT, nullptr), 1001);
    ASSERT_EQ(SGSharedMemory_Control(id, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, 1000u);
    EXPECT_EQ(ds.shm_nattch, 2u);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0660u);
    EXPECT_EQ(SGSharedMemory_Release(second, id), 0);
    EXPECT_EQ(SGSharedMemory_Release(address, id), 0);  // marking again is harmless
    EXPECT_EQ(SGSharedMemory_Control(id, IPC_STAT, &ds), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), -1);
}

TEST(SGSemaphore, NewSetsStartAtOneAndControlReadsThem) {
    const int key = freshKey();
    const int id = SGSemaphore_Get(key, 3);
    ASSERT_GE(id, 0);
    EXPECT_EQ(SGSemaphore_Get(key, 3), id);
    unsigned short values[3] = {};
    ASSERT_EQ(SGSemaphore_Control(id, 0, GETALL, values), 0);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[2], 1);
    ASSERT_EQ(SGSemaphore_Lock(id), 0);
    EXPECT_EQ(semaphoreValue(id), 0);
    ASSERT_EQ(SGSemaphore_UnLock(id), 0);
    EXPECT_EQ(semaphoreValue(id), 1);
    ASSERT_EQ(SGSemaphore_Control(id, 1, SETVAL, 5), 0);
    EXPECT_EQ(SGSemaphore_Control(id, 1, GETVAL), 5);
    ASSERT_EQ(SGSemaphore_Control(id, 0, IPC_RMID), 0);
    EXPECT_EQ(SGSemaphore_Lock(id), -1);
    EXPECT_EQ(SGSemaphore_Control(id, 0, GETVAL), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), -1);
}

// The child holds the lock while the parent asks for it: the parent must wait until the child
// has written its mark and given the lock back.
TEST(SGSemaphore, LockExcludesAnotherProcess) {
    Segment s;
    ASSERT_EQ(SGSharedMemory_GetSafely(&s.shm, freshKey(), 64), 0);
    auto* mark = static_cast<volatile int*>(s.shm.address);
    int locked[2], go[2];
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t child;
    inChild(
        [&] {
            if (SGSemaphore_Lock(s.shm.semaphoreId) != 0) return 1;
            char c = 'L';
            if (write(locked[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) return 2;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            *mark = 42;
            return SGSemaphore_UnLock(s.shm.semaphoreId) == 0 ? 0 : 3;
        },
        &child);
    char c;
    ASSERT_EQ(read(locked[0], &c, 1), 1);
    EXPECT_EQ(semaphoreValue(s.shm.semaphoreId), 0);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    ASSERT_EQ(SGSemaphore_Lock(s.shm.semaphoreId), 0);
    EXPECT_EQ(*mark, 42);
    ASSERT_EQ(SGSemaphore_UnLock(s.shm.semaphoreId), 0);
    EXPECT_EQ(waitChild(child), 0);
    for (int fd : {locked[0], locked[1], go[0], go[1]}) close(fd);
}

TEST(SGSemaphore, CounterUnderTheLockEndsAtTheTotal) {
    Segment s;
    ASSERT_EQ(SGSharedMemory_GetSafely(&s.shm, freshKey(), 64), 0);
    auto* counter = static_cast<volatile int*>(s.shm.address);
    constexpr int kRounds = 2000;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            if (SGSemaphore_Lock(s.shm.semaphoreId) != 0) return 1;
            const int seen = *counter;
            if (i % 64 == 0) sched_yield();  // widen the window a missing lock would open
            *counter = seen + 1;
            if (SGSemaphore_UnLock(s.shm.semaphoreId) != 0) return 2;
        }
        return 0;
    };
    pid_t child;
    inChild(work, &child);
    EXPECT_EQ(work(), 0);
    EXPECT_EQ(waitChild(child), 0);
    EXPECT_EQ(*counter, 2 * kRounds);
}

TEST(SGSemaphore, LockOfAnEndedProcessIsUndone) {
    Segment s;
    ASSERT_EQ(SGSharedMemory_GetSafely(&s.shm, freshKey(), 64), 0);
    EXPECT_EQ(inChild([&] { return SGSemaphore_Lock(s.shm.semaphoreId) == 0 ? 0 : 1; }), 0);
    EXPECT_EQ(semaphoreValue(s.shm.semaphoreId), 1);
    EXPECT_EQ(SGSharedMemory_WriteSafely(&s.shm, 0, "x", 1), 0);
}

bool pageMapped(const void* page) {
    return msync(const_cast<void*>(page), 4096, MS_ASYNC) == 0 || errno != ENOMEM;
}

TEST(SGMemoryMap, LayoutOfTheRegion) {
    SGMemoryMap map{};
    ASSERT_EQ(SGMemoryMap_Get(&map, 4, 16, 16), 0);
    EXPECT_EQ(map.mutexSize, 64u);
    EXPECT_EQ(map.elementCount, 4u);
    EXPECT_EQ(map.elementSize, 16u);
    EXPECT_EQ(map.extraSize, 16u);
    EXPECT_EQ(map.data, static_cast<unsigned char*>(map.region) + 65);
    for (int i = 0; i < 64 + 16; ++i) ASSERT_EQ(map.data[i], 0);  // elements and extra bytes
    ASSERT_EQ(SGMemoryMap_Write(&map, 3, "0123456789abcdefEXTRA", 21), 0);  // runs into extra
    char out[21];
    ASSERT_EQ(SGMemoryMap_Read(&map, 3, out, 21), 0);
    EXPECT_EQ(std::string(out, 21), "0123456789abcdefEXTRA");
    ASSERT_EQ(SGMemoryMap_Move(&map, 0, 3, 16), 0);
    EXPECT_EQ(std::memcmp(map.data, "0123456789abcdef", 16), 0);
    ASSERT_EQ(SGMemoryMap_Release(&map), 0);
    EXPECT_EQ(map.region, nullptr);
}

// What Release unmaps is what Get mapped, also when the extra bytes span several pages.
TEST(SGMemoryMap, ReleaseUnmapsExactlyWhatWasMapped) {
    SGMemoryMap map{};
    ASSERT_EQ(SGMemoryMap_Get(&map, 1, 16, 3 * 4096), 0);
    auto* region = static_cast<unsigned char*>(map.region);
    for (int page = 0; page < 4; ++page) ASSERT_TRUE(pageMapped(region + page * 4096));
    region[64 + 1 + 16 + 3 * 4096 - 1] = 1;  // the last extra byte is there
    ASSERT_EQ(SGMemoryMap_Release(&map), 0);
    for (int page = 0; page < 4; ++page)
        EXPECT_FALSE(pageMapped(region + page * 4096)) << "page " << page;
}

TEST(SGMemoryMap, ArgumentsAndRanges) {
    SGMemoryMap map{};
    EXPECT_EQ(SGMemoryMap_Get(nullptr, 1, 1, 0), 2401);
    EXPECT_EQ(SGMemoryMap_Get(&map, 0, 16, 0), 2401);
    EXPECT_EQ(SGMemoryMap_Get(&map, 4, 0, 0), 2401);
    EXPECT_EQ(SGMemoryMap_Release(&map), 2401);
    EXPECT_EQ(SGMemoryMap_Lock(&map), 2401);
    EXPECT_EQ(SGMemoryMap_UnLock(nullptr), 2401);
    ASSERT_EQ(SGMemoryMap_Get(&map, 4, 8, 0), 0);
    char data[40] = {};
    EXPECT_EQ(SGMemoryMap_Write(&map, 4, data, 1), 2401);
    EXPECT_EQ(SGMemoryMap_Write(&map, 3, data, 9), 2401);
    EXPECT_EQ(SGMemoryMap_Write(&map, 0, data, 33), 2401);
    EXPECT_EQ(SGMemoryMap_Read(&map, 0, data, -1), 2401);
    EXPECT_EQ(SGMemoryMap_Read(&map, 0, nullptr, 1), 2401);
    EXPECT_EQ(SGMemoryMap_Move(&map, 3, 0, 9), 2401);
    EXPECT_EQ(SGMemoryMap_Move(&map, 0, 0xFFFFFFFF, 1), 2401);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2401);
    EXPECT_EQ(SGMemoryMap_Write(&map, 0, data, 32), 0);
    ASSERT_EQ(SGMemoryMap_Release(&map), 0);
}

// Two processes add to one counter in the map under its mutex.
TEST(SGMemoryMap, CounterFromTwoProcessesEndsAtTheTotal) {
    SGMemoryMap map{};
    ASSERT_EQ(SGMemoryMap_Get(&map, 1, sizeof(int), 0), 0);
    constexpr int kRounds = 20000;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            if (SGMemoryMap_Lock(&map) != 0) return 1;
            int value;
            std::memcpy(&value, map.data, sizeof value);
            if (i % 256 == 0) sched_yield();
            ++value;
            std::memcpy(map.data, &value, sizeof value);
            if (SGMemoryMap_UnLock(&map) != 0) return 2;
        }
        return 0;
    };
    pid_t child;
    inChild(work, &child);
    EXPECT_EQ(work(), 0);
    EXPECT_EQ(waitChild(child), 0);
    int total = 0;
    ASSERT_EQ(SGMemoryMap_Read(&map, 0, &total, sizeof total), 0);
    EXPECT_EQ(total, 2 * kRounds);
    ASSERT_EQ(SGMemoryMap_Release(&map), 0);
}

}  // namespace
