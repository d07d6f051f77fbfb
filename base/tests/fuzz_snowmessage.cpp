// Fuzz target for the typed message's byte form: SGSnowMessage_FromBytes on arbitrary bytes.
// A parse must agree with the check-only parse, leave the target untouched when it fails, and
// give a message that is written and parsed again unchanged; every entry is then read through
// the typed getters.
//
// libFuzzer: configure with clang and -DBRINDLOW_FUZZ=ON, build fuzz_snowmessage and run it on
// base/tests/data/fuzz_snowmessage. The tests run it over that corpus and mutations of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SGBinary.h"
#include "SGMemory.h"
#include "SGSnowMessage.h"

namespace {

std::vector<unsigned char> serialise(SGSnowMessage* m) {
    uint64_t size = 0;
    if (SGSnowMessage_ToBytes(m, nullptr, &size) != 0) std::abort();
    std::vector<unsigned char> out(size);
    if (SGSnowMessage_ToBytes(m, out.data(), &size) != 0 || size != out.size()) std::abort();
    return out;
}

void readEntries(SGSnowMessage* m) {
    int count = 0;
    if (SGSnowMessage_GetCount(m, &count) != 0) std::abort();
    for (int i = 0; i <= count && i < 256; ++i) {
        uint64_t size = 0;
        if (SGSnowMessage_GetEntry(m, i, nullptr, &size) != 0) std::abort();
        std::vector<unsigned char> record(size);
        SGSnowMessage_GetEntry(m, i, record.data(), &size);
        int32_t i32;
        uint64_t i64;
        char* text = nullptr;
        SGBinary bin{};
        SGSnowMessage_GetEntryAsInteger(m, i, &i32);
        SGSnowMessage_GetEntryAsLong(m, i, &i64);
        if (SGSnowMessage_GetEntryAsString(m, i, &text) == 0) SGMemory_free(text);
        if (SGSnowMessage_GetEntryAsBinary(m, i, &bin) == 0) SGBinary_Reset(&bin);
    }
}

}  // namespace

extern "C" int BrindlowFuzz_SnowMessage(const uint8_t* data, size_t size) {
    static const uint8_t kNone = 0;
    if (!data) data = &kNone;
    const int checked = SGSnowMessage_FromBytes(nullptr, data, size);
    SGSnowMessage* m = nullptr;
    if (SGSnowMessage_Create(&m, 0x7E57) != 0) return 0;
    const int parsed = SGSnowMessage_FromBytes(m, data, size);
    if (parsed != checked) std::abort();
    if (parsed != 0) {
        int count = -1;
        SGSnowMessage_GetCount(m, &count);
        if (count != 1 || m->command != 0x7E57 || m->state != SG_SNOWMESSAGE_STATE_CREATED)
            std::abort();
    } else {
        const std::vector<unsigned char> once = serialise(m);
        SGSnowMessage* again = nullptr;
        if (SGSnowMessage_Create(&again, 0) == 0) {
            if (SGSnowMessage_FromBytes(again, once.data(), once.size()) != 0) std::abort();
            if (serialise(again) != once) std::abort();
            SGSnowMessage_Destroy(again);
        }
        readEntries(m);
    }
    SGSnowMessage_Destroy(m);
    return 0;
}

#ifndef BRINDLOW_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return BrindlowFuzz_SnowMessage(data, size);
}
#endif
