// Fuzz target for the message channel's reading side: arbitrary bytes as a file read through
// the channel, frame after frame, by the final filter and the message parser.
//
// libFuzzer: configure with clang and -DBRINDLOW_FUZZ=ON, build fuzz_snowchannel and run it on
// base/tests/data/fuzz_snowchannel. The tests run it over that corpus and mutations of it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "SGSnowChannel.h"
#include "SGSnowMessage.h"

extern "C" int BrindlowFuzz_SnowChannel(const uint8_t* data, size_t size) {
    if (!data || size == 0) return 0;
    std::vector<unsigned char> copy(data, data + size);
    FILE* file = fmemopen(copy.data(), copy.size(), "rb");
    if (!file) return 0;
    SGSnowChannelOpen record{file, SG_SNOWCHANNEL_FILE, nullptr};
    SGSnowMessage* m = nullptr;
    if (SGSnowChannel_Open(nullptr, &record) == 0 && SGSnowMessage_Create(&m, 0) == 0) {
        for (int i = 0; i < 32; ++i) {
            const int rc = SGSnowChannel_Read(0, m);
            if (rc == -1) break;
            // A message that was read has come out of a whole frame of the input.
            if (rc != SG_SNOWMESSAGE_ERR_KIND && (rc <= 0 || static_cast<size_t>(rc) > size))
                std::abort();
        }
    }
    SGSnowMessage_Destroy(m);
    SGSnowChannel_Close();
    std::fclose(file);
    return 0;
}

#ifndef BRINDLOW_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return BrindlowFuzz_SnowChannel(data, size);
}
#endif
