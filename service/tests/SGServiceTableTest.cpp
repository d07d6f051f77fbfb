#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SGBaseTable.h"
#include "SGCryptoTable.h"
#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGServiceTable.h"

namespace {

using namespace brindlow::service;

int32_t versionOf(void* const* table) {
    int32_t version;
    std::memcpy(&version, &table[0], sizeof version);
    return version;
}

// Restores the fill seams after each test.
class ServiceFill : public ::testing::Test {
  protected:
    void TearDown() override {
        gBaseFill = SGBaseWrapper_GetList;
        gCryptoFill = SGCryptoWrapper_GetList;
        gServiceSlots = builtInServiceSlots();
        ASSERT_EQ(SGBaseWrapper_GetList(_gbw), 0);
        ASSERT_EQ(SGCryptoWrapper_GetList(_gcw), 0);
    }
};

int failingBaseFill(void**) {
    return 1005;
}
int failingCryptoFill(void**) {
    return 95;
}

TEST_F(ServiceFill, FillsVersionAndAllSlotsAndTheLayerCopies) {
    void* table[SG_SERVICE_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    std::memset(_gbw, 0, sizeof _gbw);
    std::memset(_gcw, 0, sizeof _gcw);
    ASSERT_EQ(SGServiceWrapper_GetList(table), 0);
    EXPECT_EQ(versionOf(table), 2);
    for (int i = 1; i < SG_SERVICE_TABLE_SLOTS; ++i) EXPECT_NE(table[i], nullptr) << "slot " << i;
    EXPECT_EQ(table[1], reinterpret_cast<void*>(&SGService_GetVersion));
    EXPECT_EQ(table[2], reinterpret_cast<void*>(&SGPKCSError_GetReason));
    // The private copies were filled on the way.
    EXPECT_EQ(versionOf(_gbw), 2);
    EXPECT_EQ(_gbw[SGBaseSlot_SGMemory_malloc], reinterpret_cast<void*>(&SGMemory_malloc));
    EXPECT_EQ(versionOf(_gcw), 2);
    for (int i = 1; i < SG_CRYPTO_TABLE_SLOTS; ++i) EXPECT_NE(_gcw[i], nullptr) << "slot " << i;
}

TEST_F(ServiceFill, TheExportedTableIsFilledLikeAnyOther) {
    ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    void* copy[SG_SERVICE_TABLE_SLOTS];
    ASSERT_EQ(SGServiceWrapper_GetList(copy), 0);
    EXPECT_EQ(std::memcmp(copy, Service, sizeof copy), 0);
    EXPECT_STREQ(SG_SERVICE_FN(Service, SGService_GetVersion)(), "4.2.1.0");
    EXPECT_STREQ(SG_SERVICE_FN(Service, SGPKCSError_GetReason)(20915), "명시되지 않은 오류.");
}

TEST_F(ServiceFill, OnlyTheUnprovidedSlotAnswersNotImplemented) {
    void* table[SG_SERVICE_TABLE_SLOTS];
    ASSERT_EQ(SGServiceWrapper_GetList(table), 0);
    // Removing from a certificate set is not provided; every other slot holds its component.
    for (int slot = 1; slot < SG_SERVICE_TABLE_SLOTS; ++slot) {
        const bool pending = table[slot] == reinterpret_cast<void*>(&SGService_PendingInt);
        EXPECT_EQ(pending, slot == SGServiceSlot_SGCertificateSet_Remove) << slot;
    }
    EXPECT_EQ(reinterpret_cast<int (*)(void)>(table[SGServiceSlot_SGCertificateSet_Remove])(),
              10010);
    EXPECT_EQ(SGServiceSlot_SGPEM_Encode, 21);
    EXPECT_EQ(SGServiceSlot_SGCertificateValidator_ValidateFullPath, 86);
}

TEST_F(ServiceFill, NullTableIsRefused) {
    std::memset(_gbw, 0, sizeof _gbw);
    EXPECT_EQ(SGServiceWrapper_GetList(nullptr), 10001);
    EXPECT_EQ(_gbw[SGBaseSlot_SGMemory_malloc], nullptr);  // nothing was filled
}

TEST_F(ServiceFill, FailingBaseFillIsPassedOnWithoutWritingASlot) {
    void* table[SG_SERVICE_TABLE_SLOTS];
    std::memset(table, 0x5A, sizeof table);
    void* before[SG_SERVICE_TABLE_SLOTS];
    std::memcpy(before, table, sizeof table);
    gBaseFill = failingBaseFill;
    EXPECT_EQ(SGServiceWrapper_GetList(table), 1005);
    EXPECT_EQ(std::memcmp(before, table, sizeof table), 0);
}

TEST_F(ServiceFill, FailingCryptoFillIsPassedOnAfterTheBaseCopyIsFilled) {
    void* table[SG_SERVICE_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    std::memset(_gbw, 0, sizeof _gbw);
    gCryptoFill = failingCryptoFill;
    EXPECT_EQ(SGServiceWrapper_GetList(table), 95);
    for (void* slot : table) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(_gbw[SGBaseSlot_SGMemory_free], reinterpret_cast<void*>(&SGMemory_free));
}

TEST_F(ServiceFill, AnEmptySlotGives10028AndLeavesNoHalfFilledTable) {
    std::vector<void*> slots(builtInServiceSlots(), builtInServiceSlots() + 86);
    slots[40] = nullptr;  // slot 41
    gServiceSlots = slots.data();
    void* table[SG_SERVICE_TABLE_SLOTS];
    std::memset(table, 0x5A, sizeof table);
    EXPECT_EQ(SGServiceWrapper_GetList(table), 10028);
    for (void* slot : table) EXPECT_EQ(slot, nullptr);
}

TEST(ServiceLayer, VersionAndBuildTexts) {
    EXPECT_STREQ(SGService_GetVersion(), "4.2.1.0");
    const std::string build = SGService_GetBuildInfo();
    EXPECT_EQ(build.rfind("Version : 4.2.1.0, Build Date : ", 0), 0u) << build;
    EXPECT_EQ(build, std::string("Version : 4.2.1.0, Build Date : ") + __DATE__ + " " +
                         build.substr(build.size() - 8));
    EXPECT_EQ(SGService_GetBuildInfo(), SGService_GetBuildInfo());  // one static text
}

TEST(ServiceLayer, InstanceIsSetOnlyOnce) {
    int first = 0, second = 0;
    SGService_SetInstance(&first);
    SGService_SetInstance(&second);
    EXPECT_EQ(SGService_GetInstance(), &first);
}

TEST(ServiceLayer, InitializeFillsTheBaseCopy) {
    std::memset(_gbw, 0, sizeof _gbw);
    EXPECT_EQ(SGService_Initialize(), 0);
    EXPECT_EQ(_gbw[SGBaseSlot_SGMemory_calloc], reinterpret_cast<void*>(&SGMemory_calloc));
}

}  // namespace
