#include "SGASNObjectID.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "SGASN1C.h"
#include "SGMemory.h"
#include "SGServiceInternal.h"

namespace {

struct Entry {
    SGBinary* oid;  // contents octets; null for an empty slot
    int32_t id;
};

struct Row {
    int id;
    int slot;
    const char* dotted;
};

// Load order and slots of the 170 ids. The ids are the library's identifier space and never
// change; the slots only fix the scan order.
constexpr Row kRows[] = {
    {169, 0, "1.2.840.10045.2.1"},
    {1, 1, "1.2.840.113533.7.66.13"},
    {2, 2, "1.2.840.113549.1.1"},
    {3, 3, "1.2.840.113549.1.1.1"},
    {4, 4, "1.2.840.113549.1.1.2"},
    {5, 5, "1.2.840.113549.1.1.4"},
    {6, 6, "1.2.840.113549.1.1.5"},
    {7, 7, "1.2.840.113549.1.1.7"},
    {8, 8, "1.2.840.113549.1.1.8"},
    {9, 9, "1.2.840.113549.1.1.9"},
    {10, 10, "1.2.840.113549.1.1.10"},
    {11, 11, "1.2.840.113549.1.1.14"},
    {12, 12, "1.2.840.113549.1.1.11"},
    {13, 13, "1.2.840.113549.1.1.12"},
    {14, 14, "1.2.840.113549.1.1.13"},
    {15, 15, "1.2.840.113549.1.5"},
    {16, 16, "1.2.840.113549.1.5.1"},
    {17, 17, "1.2.840.113549.1.5.3"},
    {18, 18, "1.2.840.113549.1.5.4"},
    {19, 19, "1.2.840.113549.1.5.6"},
    {20, 20, "1.2.840.113549.1.5.10"},
    {21, 21, "1.2.840.113549.1.5.11"},
    {22, 22, "1.2.840.113549.1.5.12"},
    {23, 23, "1.2.840.113549.1.5.13"},
    {24, 24, "1.2.840.113549.1.5.14"},
    {25, 25, "1.2.840.113549.1.7"},
    {26, 26, "1.2.840.113549.1.7.1"},
    {27, 27, "1.2.840.113549.1.7.2"},
    {28, 28, "1.2.840.113549.1.7.3"},
    {29, 29, "1.2.840.113549.1.7.4"},
    {30, 30, "1.2.840.113549.1.7.5"},
    {31, 31, "1.2.840.113549.1.7.6"},
    {32, 32, "1.2.840.113549.1.9.3"},
    {33, 33, "1.2.840.113549.1.9.4"},
    {34, 34, "1.2.840.113549.1.9.5"},
    {50, 35, "1.2.840.113549.1.9.20"},
    {49, 36, "1.2.840.113549.1.9.21"},
    {35, 37, "1.2.840.113549.1.9.22.1"},
    {36, 38, "1.2.840.113549.1.9.22.2"},
    {37, 39, "1.2.840.113549.1.12.1.1"},
    {38, 40, "1.2.840.113549.1.12.1.2"},
    {39, 41, "1.2.840.113549.1.12.1.3"},
    {40, 42, "1.2.840.113549.1.12.1.4"},
    {41, 43, "1.2.840.113549.1.12.1.5"},
    {42, 44, "1.2.840.113549.1.12.1.6"},
    {43, 45, "1.2.840.113549.1.12.10.1.1"},
    {44, 46, "1.2.840.113549.1.12.10.1.2"},
    {45, 47, "1.2.840.113549.1.12.10.1.3"},
    {46, 48, "1.2.840.113549.1.12.10.1.4"},
    {47, 49, "1.2.840.113549.1.12.10.1.5"},
    {48, 50, "1.2.840.113549.1.12.10.1.6"},
    {51, 51, "1.2.410.100001.1.20"},
    {170, 52, "1.2.410.100001.1.30"},
    {52, 53, "1.2.410.200004.1.1"},
    {53, 54, "1.2.410.200004.1.2"},
    {54, 55, "1.2.410.200004.1.3"},
    {55, 56, "1.2.410.200004.1.4"},
    {56, 57, "1.2.410.200004.1.5"},
    {57, 58, "1.2.410.200004.1.6"},
    {58, 59, "1.2.410.200004.1.7"},
    {59, 60, "1.2.410.200004.1.8"},
    {60, 61, "1.2.410.200004.1.9"},
    {61, 62, "1.2.410.200004.1.10"},
    {62, 63, "1.2.410.200004.1.11"},
    {63, 64, "1.2.410.200004.1.12"},
    {64, 65, "1.2.410.200004.1.13"},
    {65, 66, "1.2.410.200004.1.14"},
    {66, 67, "1.2.410.200004.1.15"},
    {67, 68, "1.2.410.200004.1.16"},
    {68, 69, "1.2.410.200004.1.17"},
    {69, 70, "1.2.410.200004.1.20"},
    {70, 71, "1.2.410.200004.1.21"},
    {71, 72, "1.2.410.200004.1.22"},
    {72, 73, "1.2.410.200004.1.23"},
    {73, 74, "1.2.410.200004.1.24"},
    {74, 75, "1.2.410.200004.1.25"},
    {75, 76, "1.2.410.200004.1.26"},
    {76, 77, "1.2.410.200004.1.27"},
    {77, 78, "1.2.410.200004.1.28"},
    {78, 79, "1.2.410.200004.1.29"},
    {79, 80, "1.2.410.200004.1.30"},
    {80, 81, "1.2.410.200004.1.31"},
    {81, 82, "1.2.410.200004.1.32"},
    {82, 83, "1.2.410.200004.1.33"},
    {83, 84, "1.2.410.200004.1.34"},
    {84, 85, "1.2.410.200004.1.35"},
    {85, 86, "1.2.410.200004.1.36"},
    {86, 87, "1.2.410.200004.1.37"},
    {87, 88, "1.2.410.200004.1.38"},
    {88, 89, "1.2.410.200004.1.39"},
    {89, 90, "1.2.410.200004.1.40"},
    {90, 91, "1.2.410.200004.1.41"},
    {91, 92, "1.2.410.200004.1.100"},
    {92, 93, "1.2.410.200004.10.1.1"},
    {93, 94, "1.2.410.200004.10.1.1.1"},
    {94, 95, "1.2.410.200004.10.1.1.2"},
    {95, 96, "1.2.410.200004.10.1.1.3"},
    {96, 97, "1.2.410.200004.10.1.2"},
    {97, 98, "1.2.410.200005.1.10.1"},
    {98, 99, "1.2.840.113549.2.2"},
    {99, 100, "1.2.840.113549.2.5"},
    {100, 101, "1.2.840.113549.2.7"},
    {101, 102, "1.2.840.113549.3.2"},
    {102, 103, "1.2.840.113549.3.7"},
    {103, 104, "1.2.840.113549.3.9"},
    {104, 105, "2.16.840.1.101.3.4.1.2"},
    {105, 106, "2.16.840.1.101.3.4.1.22"},
    {106, 107, "2.16.840.1.101.3.4.1.42"},
    {107, 108, "1.3.14.3.2.7"},
    {108, 109, "1.3.14.3.2.26"},
    {109, 110, "2.5.4.3"},
    {110, 111, "2.5.4.4"},
    {111, 112, "2.5.4.5"},
    {112, 113, "2.5.4.6"},
    {113, 114, "2.5.4.7"},
    {114, 115, "2.5.4.8"},
    {115, 116, "2.5.4.9"},
    {116, 117, "2.5.4.10"},
    {117, 118, "2.5.4.11"},
    {118, 119, "2.5.4.12"},
    {119, 120, "2.5.4.15"},
    {120, 121, "2.5.4.42"},
    {121, 122, "2.5.4.43"},
    {122, 123, "2.5.4.44"},
    {123, 124, "2.5.4.45"},
    {124, 125, "2.5.4.46"},
    {125, 126, "2.5.4.65"},
    {126, 127, "0.9.2342.19200300.100.1.25"},
    {127, 128, "1.2.840.113549.1.9.1"},
    {128, 129, "0.9.2342.19200300.100.1.3"},
    {129, 130, "1.3.6.1.5.5.7.1.1"},
    {130, 131, "1.3.6.1.5.5.7.1.11"},
    {131, 132, "1.3.6.1.5.5.7.1.24"},
    {132, 133, "1.3.6.1.5.5.7.2.1"},
    {133, 134, "1.3.6.1.5.5.7.2.2"},
    {134, 135, "1.3.6.1.5.5.7.3.1"},
    {135, 136, "1.3.6.1.5.5.7.4.1"},
    {136, 137, "1.3.6.1.5.5.7.5.1.5"},
    {137, 138, "1.3.6.1.5.5.7.48.1"},
    {138, 139, "1.3.6.1.5.5.7.48.2"},
    {139, 140, "2.5.29.9"},
    {140, 141, "2.5.29.14"},
    {141, 142, "2.5.29.15"},
    {142, 143, "2.5.29.16"},
    {143, 144, "2.5.29.17"},
    {144, 145, "2.5.29.18"},
    {145, 146, "2.5.29.19"},
    {146, 147, "2.5.29.20"},
    {147, 148, "2.5.29.21"},
    {148, 149, "2.5.29.23"},
    {149, 150, "2.5.29.24"},
    {150, 151, "2.5.29.27"},
    {151, 152, "2.5.29.28"},
    {152, 153, "2.5.29.29"},
    {153, 154, "2.5.29.30"},
    {154, 155, "2.5.29.31"},
    {155, 156, "2.5.29.32"},
    {156, 157, "2.5.29.32.0"},
    {157, 158, "2.5.29.33"},
    {158, 159, "2.5.29.35"},
    {159, 160, "2.5.29.36"},
    {160, 161, "2.5.29.37"},
    {161, 162, "2.5.29.37.0"},
    {162, 163, "2.5.29.46"},
    {163, 164, "2.5.29.54"},
    {164, 165, "2.16.840.1.101.3.2.1.48.1"},
    {165, 166, "2.16.840.1.101.3.2.1.48.2"},
    {166, 167, "2.16.840.1.101.3.4.2.1"},
    {167, 168, "2.16.840.1.101.3.4.2.2"},
    {168, 169, "2.16.840.1.101.3.4.2.3"},
};
static_assert(sizeof kRows / sizeof kRows[0] == SG_OID_COUNT);

Entry gOIDList[SG_OID_TABLE_SLOTS];
bool gLoaded = false;  // globalASNOIDInitialized
// Changes (loading, freeing, adding) take the lock alone; lookups that cannot use the index
// below share it. A plain rwlock needs no destructor, so the exit routine can still take it
// after other statics are gone.
pthread_rwlock_t gLock = PTHREAD_RWLOCK_INITIALIZER;

// ---- The index: lookups without the lock --------------------------------------------------
// The table only changes when it is loaded, freed or given a row; each change rebuilds a sorted
// index of it under the lock, bracketed by a sequence count that is odd while a change runs. A
// lookup reads the count, searches and reads the count again: the same even count means no
// change overlapped the search. The index keeps its own copies of the encodings in fixed
// storage, so a search that does overlap a change reads stale bytes, never freed memory; it is
// then repeated under the lock. Identifiers longer than the copies hold take the locked scan.

constexpr uint32_t kIndexWords = 3;
constexpr uint32_t kIndexBytes = 8 * kIndexWords;

// An encoding as its length and zero-padded big-endian words: equal keys mean equal bytes for
// encodings of up to kIndexBytes.
struct Key {
    uint32_t length = 0;
    uint64_t word[kIndexWords] = {};

    static Key of(const unsigned char* bytes, uint32_t length) {
        Key k;
        k.length = length;
        const uint32_t n = std::min(length, kIndexBytes);
        for (uint32_t i = 0; i < n; ++i) k.word[i / 8] |= uint64_t{bytes[i]} << (56 - 8 * (i % 8));
        return k;
    }
    bool operator<(const Key& o) const {
        if (length != o.length) return length < o.length;
        for (uint32_t i = 0; i < kIndexWords; ++i)
            if (word[i] != o.word[i]) return word[i] < o.word[i];
        return false;
    }
    bool operator==(const Key& o) const { return !(*this < o) && !(o < *this); }
};

// Sorted by key, then by slot, so the first of equal keys is the one a scan would meet first.
struct ByBytes {
    std::atomic<uint32_t> length;
    std::atomic<uint64_t> word[kIndexWords];
    std::atomic<int32_t> id;

    Key key() const {
        Key k;
        k.length = length.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < kIndexWords; ++i)
            k.word[i] = word[i].load(std::memory_order_relaxed);
        return k;
    }
};
// Sorted by id, then by slot: where each id's first entry lies in gByBytes.
struct ById {
    std::atomic<int32_t> id;
    std::atomic<int32_t> at;
};

ByBytes gByBytes[SG_OID_TABLE_SLOTS];
ById gById[SG_OID_TABLE_SLOTS];
std::atomic<int32_t> gIndexCount{0};
std::atomic<bool> gIndexReady{false};  // the index mirrors a loaded table
std::atomic<uint32_t> gSequence{0};

// A change to the table and its index, under the write lock.
struct WriteLock {
    WriteLock() {
        pthread_rwlock_wrlock(&gLock);
        gSequence.store(gSequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    ~WriteLock() {
        gSequence.store(gSequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        pthread_rwlock_unlock(&gLock);
    }
};

// Under the write lock: the index of the table as it now is.
void rebuildIndex() {
    struct Row {
        Key key;
        int32_t id;
        int slot;
        int at;  // position in gByBytes
    };
    static Row rows[SG_OID_TABLE_SLOTS];
    int count = 0;
    for (int slot = 0; slot < SG_OID_TABLE_SLOTS; ++slot) {
        const Entry& e = gOIDList[slot];
        if (!e.oid || (!e.oid->data && e.oid->length)) continue;
        rows[count++] = Row{Key::of(e.oid->data, e.oid->length), e.id, slot, 0};
    }
    std::sort(rows, rows + count, [](const Row& a, const Row& b) {
        return a.key < b.key || (a.key == b.key && a.slot < b.slot);
    });
    for (int i = 0; i < count; ++i) {
        gByBytes[i].length.store(rows[i].key.length, std::memory_order_relaxed);
        for (uint32_t w = 0; w < kIndexWords; ++w)
            gByBytes[i].word[w].store(rows[i].key.word[w], std::memory_order_relaxed);
        gByBytes[i].id.store(rows[i].id, std::memory_order_relaxed);
        rows[i].at = i;
    }
    std::sort(rows, rows + count, [](const Row& a, const Row& b) {
        return a.id < b.id || (a.id == b.id && a.slot < b.slot);
    });
    for (int i = 0; i < count; ++i) {
        gById[i].id.store(rows[i].id, std::memory_order_relaxed);
        gById[i].at.store(rows[i].at, std::memory_order_relaxed);
    }
    gIndexCount.store(count, std::memory_order_relaxed);
    gIndexReady.store(true, std::memory_order_relaxed);
}

void clearIndex() {
    gIndexReady.store(false, std::memory_order_relaxed);
    gIndexCount.store(0, std::memory_order_relaxed);
}

// The id of the first entry with the key; 0 when none has it.
int32_t indexSearch(const Key& key) {
    const int32_t count =
        std::min<int32_t>(gIndexCount.load(std::memory_order_relaxed), SG_OID_TABLE_SLOTS);
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (gByBytes[mid].key() < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < count && gByBytes[lo].key() == key)
        return gByBytes[lo].id.load(std::memory_order_relaxed);
    return 0;
}

// The position in gByBytes of the id's first entry; -1 when it has none.
int32_t indexFind(int32_t id) {
    const int32_t count =
        std::min<int32_t>(gIndexCount.load(std::memory_order_relaxed), SG_OID_TABLE_SLOTS);
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (gById[mid].id.load(std::memory_order_relaxed) < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo >= count || gById[lo].id.load(std::memory_order_relaxed) != id) return -1;
    const int32_t at = gById[lo].at.load(std::memory_order_relaxed);
    return at >= 0 && at < SG_OID_TABLE_SLOTS ? at : -1;
}

// Runs read() on the index without the lock when no change overlaps it; returns false when the
// index is not ready or a change ran meanwhile, and the caller then takes the lock.
template <typename Read>
bool readIndex(Read read) {
    const uint32_t before = gSequence.load(std::memory_order_acquire);
    if ((before & 1) || !gIndexReady.load(std::memory_order_relaxed)) return false;
    read();
    std::atomic_thread_fence(std::memory_order_acquire);
    return gSequence.load(std::memory_order_relaxed) == before;
}

constexpr int kLocalArcs = 10;

void releaseEntry(Entry& e) {
    if (e.oid) SG_GBW(SGBinary_Free)(e.oid);
    e.oid = nullptr;
    e.id = 0;
}

// Under the write lock.
int addLocked(int id, const char* dotted, int slot) {
    if (slot < 0 || slot >= SG_OID_TABLE_SLOTS) return -1;
    if (!dotted) return 2;
    long local[kLocalArcs];
    long* arcs = local;
    const char* end = nullptr;
    int count = OBJECT_IDENTIFIER_parse_arcs(dotted, -1, local, kLocalArcs, &end);
    if (count < 2 || *end != '\0') return 2;
    if (count > kLocalArcs) {
        arcs = static_cast<long*>(SG_GBW(SGMemory_calloc)(count, sizeof(long)));
        if (!arcs) return 1;
        OBJECT_IDENTIFIER_parse_arcs(dotted, -1, arcs, count, nullptr);
    }
    int result = 0;
    auto* value =
        static_cast<OBJECT_IDENTIFIER_t*>(SG_GBW(SGMemory_calloc)(1, sizeof(OBJECT_IDENTIFIER_t)));
    if (!value) {
        result = 1;
    } else if (errno = 0, OBJECT_IDENTIFIER_set_arcs(value, arcs, sizeof(long), count) != 0) {
        result = errno == ENOMEM ? 1 : 3;
    } else if (SGBinary* bin = SG_GBW(SGBinary_New)(0); !bin) {
        result = 4;
    } else if (SG_GBW(SGBinary_Set)(bin, value->buf, static_cast<uint32_t>(value->size)) != 0) {
        SG_GBW(SGBinary_Free)(bin);
        result = 5;
    } else {
        releaseEntry(gOIDList[slot]);
        gOIDList[slot].oid = bin;
        gOIDList[slot].id = id;
    }
    if (arcs != local) SG_GBW(SGMemory_free)(arcs);
    if (value) ASN_STRUCT_FREE(asn_DEF_OBJECT_IDENTIFIER, value);
    return result;
}

long loadLocked() {
    if (gLoaded) return 1;
    long result = 0;
    // A row that cannot be added stays empty; its lookups fail later.
    for (const Row& row : kRows) result = addLocked(row.id, row.dotted, row.slot);
    gLoaded = true;
    rebuildIndex();
    return result;
}

// Takes the read lock with the table loaded.
struct LoadedReadLock {
    LoadedReadLock() {
        for (;;) {
            pthread_rwlock_rdlock(&gLock);
            if (gLoaded) return;
            pthread_rwlock_unlock(&gLock);
            SGASNObjectID_Load();
        }
    }
    ~LoadedReadLock() { pthread_rwlock_unlock(&gLock); }
};

const Entry* findById(int id) {
    if (id <= 0) return nullptr;
    for (const Entry& e : gOIDList)
        if (e.oid && e.id == id) return &e;
    return nullptr;
}

}  // namespace

extern "C" {

int SGASNObjectID_Add(int id, const char* dottedText, int slot) {
    WriteLock lock;
    const int result = addLocked(id, dottedText, slot);
    if (result == 0 && gLoaded) rebuildIndex();
    return result;
}

long SGASNObjectID_Load(void) {
    WriteLock lock;
    return loadLocked();
}

void SGASNObjectID_Free(void) {
    WriteLock lock;
    if (!gLoaded) return;
    clearIndex();
    for (Entry& e : gOIDList) releaseEntry(e);
    gLoaded = false;
}

int SGASNObjectID_Search(const SGBinary* contents) {
    if (!contents) return 0;
    if (contents->length <= kIndexBytes && (contents->data || contents->length == 0)) {
        const Key key = Key::of(contents->data, contents->length);
        for (int attempt = 0; attempt < 2; ++attempt) {
            int32_t id = 0;
            if (readIndex([&] { id = indexSearch(key); })) return id;
            if (!gIndexReady.load(std::memory_order_relaxed)) SGASNObjectID_Load();
        }
    }
    LoadedReadLock lock;
    for (const Entry& e : gOIDList)
        if (e.oid && SG_GBW(SGBinary_Cmp)(e.oid, contents) == 0) return e.id;
    return 0;
}

SGBinary* SGASNObjectID_Get(int id) {
    if (id <= 0) return nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        unsigned char bytes[kIndexBytes];
        uint32_t length = 0;
        bool known = false;
        if (readIndex([&] {
                const int32_t at = indexFind(id);
                known = at >= 0;
                if (!known) return;
                const Key k = gByBytes[at].key();
                length = k.length;
                for (uint32_t i = 0; i < std::min(length, kIndexBytes); ++i)
                    bytes[i] = static_cast<unsigned char>(k.word[i / 8] >> (56 - 8 * (i % 8)));
            })) {
            if (!known) return nullptr;
            if (length > kIndexBytes) break;  // a long identifier: copied under the lock
            SGBinary* copy = SG_GBW(SGBinary_New)(0);
            if (copy && SG_GBW(SGBinary_Set)(copy, bytes, length) != 0) {
                SG_GBW(SGBinary_Free)(copy);
                return nullptr;
            }
            return copy;
        }
        if (!gIndexReady.load(std::memory_order_relaxed)) SGASNObjectID_Load();
    }
    LoadedReadLock lock;
    const Entry* e = findById(id);
    if (!e) return nullptr;
    SGBinary* copy = SG_GBW(SGBinary_Duplicate)(e->oid);
    if (copy && copy->length != e->oid->length) {  // the bytes could not be copied
        SG_GBW(SGBinary_Free)(copy);
        return nullptr;
    }
    return copy;
}

int SGASNObjectID_ToString(char* buffer, int size, int id) {
    SGBinary* copy = SGASNObjectID_Get(id);
    if (!copy) return -11;
    OBJECT_IDENTIFIER_t oid{};
    oid.buf = copy->data;
    oid.size = static_cast<int>(copy->length);
    int result = SGASN1CObjectIdentifier_ToString(buffer, size, &oid);
    SG_GBW(SGBinary_Free)(copy);
    return result;
}

int SGASNObjectID_SlotId(int slot) {
    if (slot < 0 || slot >= SG_OID_TABLE_SLOTS) return -1;
    LoadedReadLock lock;
    return gOIDList[slot].oid ? gOIDList[slot].id : -1;
}

}  // extern "C"
