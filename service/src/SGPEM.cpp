#include "SGPEM.h"

#include <cstdio>
#include <cstring>

#include "SGBase64.h"
#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

namespace {

constexpr size_t kLineLength = 64;

const char* labelOf(int type) {
    switch (type) {
        case SG_PEM_CERTIFICATE:
            return " CERTIFICATE";
        case SG_PEM_PRIVATE_KEY:
            return " PRIVATEKEY";
        default:
            return nullptr;
    }
}

}  // namespace

extern "C" {

int SGPEM_Encode(SGBinary* out, const SGBinary* der, int type) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Reset)(out);
    if (!der || (!der->data && der->length)) return SG_PKI_ERR_ARGUMENT;
    const char* label = labelOf(type);
    if (!label) return SG_PKI_ERR_OUT_OF_RANGE;
    try {
        char* text = nullptr;
        uint32_t textLength = 0;
        static const unsigned char kNothing[1] = {0};
        int result = SG_GBW(SGBase64_Encode)(&text, &textLength, der->data ? der->data : kNothing,
                                             der->length);
        if (result != 0) return result;
        char header[32], footer[32];
        std::snprintf(header, sizeof header, "-----%s%s-----", "BEGIN", label);
        std::snprintf(footer, sizeof footer, "-----%s%s-----", "END", label);
        // One buffer of the final size: a key's text grown piece by piece would leave copies in
        // released memory.
        const size_t lines = (textLength + kLineLength - 1) / kLineLength;
        const size_t total = std::strlen(header) + 2 + textLength + 2 * lines + std::strlen(footer);
        auto* bytes = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(total));
        if (!bytes) result = SG_PKI_ERR_MEMORY;
        if (result == 0) {
            unsigned char* at = bytes;
            auto put = [&at](const void* p, size_t n) {
                std::memcpy(at, p, n);
                at += n;
            };
            put(header, std::strlen(header));
            put("\r\n", 2);
            for (size_t i = 0; i < textLength; i += kLineLength) {
                put(text + i, textLength - i < kLineLength ? textLength - i : kLineLength);
                put("\r\n", 2);
            }
            put(footer, std::strlen(footer));
            out->data = bytes;
            out->length = static_cast<uint32_t>(total);
        }
        SG_GBW(SGMemory_cleanse)(text, textLength);
        SG_GBW(SGBase64_Free)(text);
        return result;
    } catch (...) {
        SG_GBW(SGBinary_Reset)(out);
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPEM_Decode(void) {
    return 0;
}

}  // extern "C"
