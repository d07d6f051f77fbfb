#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cstdio>
#include <map>

#include "SGBaseError.h"
#include "SGBaseTable.h"
#include "SGBinary.h"
#include "SGIPC.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGSnowChannel.h"
#include "SGSnowMessage.h"
#include "SGSocket.h"
#include "SGStream.h"

TEST(SGBaseTable, FillWritesVersionAndEverySlot) {
    void* table[SG_BASE_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    ASSERT_EQ(SGBaseWrapper_GetList(table), 0);
    int32_t version;
    std::memcpy(&version, &table[0], sizeof version);
    EXPECT_EQ(version, 2);
    for (int i = 1; i < SG_BASE_TABLE_SLOTS; ++i) EXPECT_NE(table[i], nullptr) << "slot " << i;
    EXPECT_EQ(SGBaseWrapper_GetList(nullptr), 1001);
}

TEST(SGBaseTable, TwoFilledTablesAreIdentical) {
    void* a[SG_BASE_TABLE_SLOTS];
    void* b[SG_BASE_TABLE_SLOTS];
    std::memset(a, 0xEE, sizeof a);
    std::memset(b, 0x11, sizeof b);
    ASSERT_EQ(SGBaseWrapper_GetList(a), 0);
    ASSERT_EQ(SGBaseWrapper_GetList(b), 0);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
    ASSERT_EQ(SGBaseWrapper_GetList(a), 0);  // a second fill rewrites the same values
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

TEST(SGBaseTable, BuiltSlotsHoldTheirFunctions) {
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    struct Case {
        int slot;
        void* fn;
    } cases[] = {
        {1, reinterpret_cast<void*>(&SGBase_GetVersion)},
        {2, reinterpret_cast<void*>(&SGBaseError_SetLast)},
        {3, reinterpret_cast<void*>(&SGBaseError_GetLastCode)},
        {39, reinterpret_cast<void*>(&SGMemory_malloc)},
        {43, reinterpret_cast<void*>(&SGMemory_free)},
        {44, reinterpret_cast<void*>(&SGBinary_New)},
        {57, reinterpret_cast<void*>(&SGBinary_Reverse)},
        {62, reinterpret_cast<void*>(&SGBinaryList_Add)},
        {68, reinterpret_cast<void*>(&SGBinaryTupleList_Add)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;

    SGBinary bin{};
    ASSERT_EQ(SG_BASE_FN(t, SGBinary_SetString)(&bin, "abc"), 0);
    EXPECT_EQ(bin.length, 3u);
    SG_BASE_FN(t, SGBinary_Reset)(&bin);
    EXPECT_STREQ(SG_BASE_FN(t, SGBase_GetVersion)(), "4.2.1.0");
}

// A stand-in shared by several slots, or one function filed under two slots, makes two slots
// equal: every slot must hold a function of its own.
TEST(SGBaseTable, NoSlotHoldsAPlaceholder) {
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    std::map<void*, int> seen;
    for (int i = 1; i < SG_BASE_TABLE_SLOTS; ++i) {
        auto [at, fresh] = seen.emplace(t[i], i);
        EXPECT_TRUE(fresh) << "slot " << i << " holds the function of slot " << at->second;
    }
    struct Case {
        int slot;
        void* fn;
    } cases[] = {
        {86, reinterpret_cast<void*>(&SGStream_InitWithBinary)},
        {101, reinterpret_cast<void*>(&SGStream_Reset)},
        {235, reinterpret_cast<void*>(&SGIPC_Initialize)},
        {244, reinterpret_cast<void*>(&SGSharedMemory_Get)},
        {250, reinterpret_cast<void*>(&SGSemaphore_Control)},
        {257, reinterpret_cast<void*>(&SGMemoryMap_UnLock)},
        {258, reinterpret_cast<void*>(&SGSocket_Client)},
        {272, reinterpret_cast<void*>(&SGSocket_MultiRecv)},
        {273, reinterpret_cast<void*>(&SGSnowMessage_Create)},
        {294, reinterpret_cast<void*>(&SGSnowMessage_FromBytes)},
        {295, reinterpret_cast<void*>(&SGSnowChannel_Open)},
        {299, reinterpret_cast<void*>(&SGSnowChannel_Close)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
}

TEST(SGBaseTable, BuildInfoHasVersionAndBuildDate) {
    char month[4] = {};
    int day = 0, year = 0, h = -1, m = -1, s = -1, used = 0;
    const char* text = SGBase_GetBuildInfo();
    ASSERT_EQ(std::sscanf(text, "Version : 4.2.1.0, Build Date : %3s %d %d %2d:%2d:%2d%n", month,
                          &day, &year, &h, &m, &s, &used),
              6)
        << text;
    EXPECT_EQ(text[used], '\0');
    EXPECT_TRUE(day >= 1 && day <= 31 && year >= 2024 && h >= 0 && h < 24) << text;
}

TEST(SGBaseTable, LoadedModuleFindsTableByName) {
    void* module = dlopen(BASE_PROBE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto bind = reinterpret_cast<int (*)(int*, const char**)>(dlsym(module, "probe_BindBase"));
    ASSERT_NE(bind, nullptr);
    int version = 0;
    const char* baseVersion = nullptr;
    EXPECT_EQ(bind(&version, &baseVersion), 0);
    EXPECT_EQ(version, 2);
    EXPECT_STREQ(baseVersion, "4.2.1.0");
    dlclose(module);
}
