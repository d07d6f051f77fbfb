#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SGBaseError.h"
#include "SGMemory.h"
#include "SGMemoryInternal.h"

namespace {

struct Pass {
    const void* ptr;
    int pattern;
    size_t length;
};
std::vector<Pass>* gPasses;

void* recordingFill(void* p, int c, size_t n) {
    gPasses->push_back({p, c, n});
    return std::memset(p, c, n);
}

// Records every pass the wipe makes, through the same indirect call the build keeps.
class RecordFill {
public:
    explicit RecordFill(std::vector<Pass>* passes) : saved_(gSGMemoryFill) {
        gPasses = passes;
        gSGMemoryFill = recordingFill;
    }
    ~RecordFill() { gSGMemoryFill = saved_; }

private:
    void* (*saved_)(void*, int, size_t);
};

}  // namespace

TEST(SGMemory, CleanseWritesFivePassesInOrder) {
    std::vector<unsigned char> buf(37, 0xAA);
    std::vector<Pass> passes;
    {
        RecordFill record(&passes);
        SGMemory_cleanse(buf.data(), buf.size());
    }
    ASSERT_EQ(passes.size(), 5u);
    const int expected[] = {0x3F, 0xC0, 0x73, 0xE7, 0x00};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(passes[i].ptr, buf.data());
        EXPECT_EQ(passes[i].pattern, expected[i]);
        EXPECT_EQ(passes[i].length, buf.size());
    }
    EXPECT_EQ(std::vector<unsigned char>(37, 0), buf);
}

TEST(SGMemory, CleanseOfZeroLengthTouchesNothing) {
    std::vector<Pass> passes;
    unsigned char b = 0x5A;
    {
        RecordFill record(&passes);
        SGMemory_cleanse(&b, 0);
        SGMemory_cleanse(nullptr, 10);
    }
    EXPECT_TRUE(passes.empty());
    EXPECT_EQ(b, 0x5A);
}

// The passes before a free are the ones an optimiser likes to drop: the buffer is dead.
TEST(SGMemory, CleanseBeforeFreeIsKept) {
    std::vector<Pass> passes;
    {
        RecordFill record(&passes);
        auto* p = static_cast<unsigned char*>(SGMemory_malloc(64));
        ASSERT_NE(p, nullptr);
        std::memset(p, 0x11, 64);
        SGMemory_cleanse(p, 64);
        SGMemory_free(p);
    }
    EXPECT_EQ(passes.size(), 5u);
}

TEST(SGMemory, AllocationsRefuseSizesBeyondThirtyTwoBits) {
    EXPECT_EQ(SGMemory_malloc(size_t{1} << 33), nullptr);
    EXPECT_EQ(SGMemory_calloc(size_t{1} << 33, 1), nullptr);
    void* p = SGMemory_malloc(8);
    EXPECT_EQ(SGMemory_realloc(p, size_t{1} << 33), nullptr);
    SGMemory_free(p);
    SGMemory_free(nullptr);
}

TEST(SGBaseError, KeepsCodeDetailAndFirst128Characters) {
    std::string longMessage(200, 'x');
    EXPECT_EQ(SGBaseError_SetLast(1002, longMessage.c_str(), 7), 0);
    EXPECT_EQ(SGBaseError_GetLastCode(), 1002);
    EXPECT_EQ(std::string(SGBaseError_GetLastMessage()), std::string(128, 'x'));
    EXPECT_EQ(SGBaseError_GetLastDetail(), 7);
    SGBaseError_SetLast(5008, "SGLog_Initialize failed", 0);
    EXPECT_EQ(SGBaseError_GetLastCode(), 5008);
    EXPECT_STREQ(SGBaseError_GetLastMessage(), "SGLog_Initialize failed");
    SGBaseError_SetLast(0, nullptr, 0);
    EXPECT_STREQ(SGBaseError_GetLastMessage(), "");
}
