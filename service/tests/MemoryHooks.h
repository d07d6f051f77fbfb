// The PKI layer's allocation slots replaced for a while: allocations that fail from the n-th call
// on, and a free that looks at every released block for secrets before it goes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "SGBaseTable.h"
#include "SGMemory.h"
#include "SGServiceInternal.h"

namespace memhooks {

using Bytes = std::vector<unsigned char>;

// Replaces the layer's allocation slots for the life of the object (null keeps a slot).
class AllocationHook {
  public:
    AllocationHook(void* malloc, void* calloc, void* realloc, void* free) {
        for (int i = 0; i < 4; ++i) saved_[i] = _gbw[kSlots[i]];
        void* hooks[4] = {malloc, calloc, realloc, free};
        for (int i = 0; i < 4; ++i)
            if (hooks[i]) _gbw[kSlots[i]] = hooks[i];
    }
    ~AllocationHook() {
        for (int i = 0; i < 4; ++i) _gbw[kSlots[i]] = saved_[i];
    }
    AllocationHook(const AllocationHook&) = delete;
    AllocationHook& operator=(const AllocationHook&) = delete;

  private:
    static constexpr int kSlots[4] = {SGBaseSlot_SGMemory_malloc, SGBaseSlot_SGMemory_calloc,
                                      SGBaseSlot_SGMemory_realloc, SGBaseSlot_SGMemory_free};
    void* saved_[4];
};

// Allocations that succeed gAllocationsLeft more times, then fail.
inline int gAllocationsLeft = 0;
inline void* failingMalloc(size_t n) {
    return gAllocationsLeft-- > 0 ? SGMemory_malloc(n) : nullptr;
}
inline void* failingCalloc(size_t c, size_t n) {
    return gAllocationsLeft-- > 0 ? SGMemory_calloc(c, n) : nullptr;
}
inline void* failingRealloc(void* p, size_t n) {
    return gAllocationsLeft-- > 0 ? SGMemory_realloc(p, n) : nullptr;
}

// While alive: the layer's allocations fail after the given number have succeeded.
struct FailingAllocations {
    explicit FailingAllocations(int succeeding)
        : hook((gAllocationsLeft = succeeding, reinterpret_cast<void*>(&failingMalloc)),
               reinterpret_cast<void*>(&failingCalloc), reinterpret_cast<void*>(&failingRealloc),
               nullptr) {}
    AllocationHook hook;
};

// Blocks released through the layer's allocator, looked at before they go: none may still hold
// one of the secrets.
struct Released {
    std::mutex mutex;
    std::map<void*, size_t> sizes;
    std::vector<Bytes> secrets;
    int hits = 0, checked = 0;
};
inline Released gReleased;

inline void* trackingMalloc(size_t n) {
    void* p = SGMemory_malloc(n);
    std::lock_guard lock(gReleased.mutex);
    if (p) gReleased.sizes[p] = n;
    return p;
}
inline void* trackingCalloc(size_t c, size_t n) {
    void* p = SGMemory_calloc(c, n);
    std::lock_guard lock(gReleased.mutex);
    if (p) gReleased.sizes[p] = c * n;
    return p;
}
inline void* trackingRealloc(void* old, size_t n) {
    // Moved blocks are looked at as if released.
    {
        std::lock_guard lock(gReleased.mutex);
        gReleased.sizes.erase(old);
    }
    void* p = SGMemory_realloc(old, n);
    std::lock_guard lock(gReleased.mutex);
    if (p) gReleased.sizes[p] = n;
    return p;
}
inline void trackingFree(void* p) {
    {
        std::lock_guard lock(gReleased.mutex);
        if (auto it = gReleased.sizes.find(p); it != gReleased.sizes.end()) {
            const auto* b = static_cast<const unsigned char*>(p);
            const Bytes block(b, b + it->second);
            for (const Bytes& s : gReleased.secrets)
                if (std::search(block.begin(), block.end(), s.begin(), s.end()) != block.end())
                    ++gReleased.hits;
            ++gReleased.checked;
            gReleased.sizes.erase(it);
        }
    }
    SGMemory_free(p);
}

// While alive: every block the layer releases is searched for the secrets (counts restart).
struct TrackedReleases {
    explicit TrackedReleases(std::vector<Bytes> secrets)
        : hook((reset(std::move(secrets)), reinterpret_cast<void*>(&trackingMalloc)),
               reinterpret_cast<void*>(&trackingCalloc), reinterpret_cast<void*>(&trackingRealloc),
               reinterpret_cast<void*>(&trackingFree)) {}
    static int reset(std::vector<Bytes> secrets) {
        std::lock_guard lock(gReleased.mutex);
        gReleased.sizes.clear();
        gReleased.secrets = std::move(secrets);
        gReleased.hits = gReleased.checked = 0;
        return 0;
    }
    AllocationHook hook;
};

}  // namespace memhooks
