// Texts the token operations hand out: NUL-terminated heap copies, released with
// Token::freeMemory, and the Base64 text of bytes.
#pragma once

#include <cstring>

#include "Token.h"
#include "TokenCodec.h"
#include "TokenDefs.h"
#include "TokenTables.h"

namespace brindlow::token {

inline char* newHeapText(const char* bytes, size_t length) {
    if (length >= UINT32_MAX) return nullptr;
    auto* text = static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(length + 1), 1));
    if (text && length) std::memcpy(text, bytes, length);
    return text;
}

// The Base64 text of the bytes into *out: 0, 1315 without memory, or the encoder's code.
inline int base64Text(char** out, const unsigned char* bytes, unsigned long length) {
    char* text = nullptr;
    unsigned int textLength = 0;
    int rc = Base64::encode(&text, &textLength, bytes, length);
    if (rc == TOKEN_CODEC_ERR_MEMORY) rc = TOKEN_ERR_MEMORY;
    if (rc == 0) {
        *out = newHeapText(text ? text : "", text ? textLength : 0);
        if (!*out) rc = TOKEN_ERR_MEMORY;
    }
    Base64::free(text);
    return rc;
}

}  // namespace brindlow::token
