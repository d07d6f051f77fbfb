#include "SGX509Text.h"

#include <cstring>

#include "SGHex.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

namespace brindlow::service {

namespace {

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool isHighSurrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(uint32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

TextOut::TextOut(char* buffer, size_t size, bool append) : buffer_(buffer), size_(size) {
    if (append && buffer_ && size_) text_.assign(buffer_, strnlen(buffer_, size_ - 1));
    marks_.push_back(text_.size());
}

int TextOut::finish(int result, int tooLong) {
    if (!buffer_ || size_ == 0) return result ? result : tooLong;
    size_t length = text_.size();
    if (length + 1 > size_) {
        // Cut at the last complete piece that fits; the first mark is what the buffer held.
        length = 0;
        for (size_t mark : marks_)
            if (mark + 1 <= size_ && mark > length) length = mark;
        if (result == 0) result = tooLong;
    }
    std::memcpy(buffer_, text_.data(), length);
    buffer_[length] = '\0';
    return result;
}

bool ucs2ToUtf8(std::string& out, const uint8_t* bytes, size_t length) {
    if (length % 2 != 0) return false;
    for (size_t i = 0; i < length; i += 2) {
        uint32_t c = (static_cast<uint32_t>(bytes[i]) << 8) | bytes[i + 1];
        if (c == 0) return false;
        if (c == 0xFFFF) continue;
        if (isHighSurrogate(c)) {
            uint32_t next =
                i + 3 < length ? (static_cast<uint32_t>(bytes[i + 2]) << 8) | bytes[i + 3] : 0;
            if (isLowSurrogate(next)) {
                appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
                i += 2;
                continue;
            }
            c = kReplacement;
        } else if (isLowSurrogate(c)) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    return true;
}

bool ucs4ToUtf8(std::string& out, const uint8_t* bytes, size_t length) {
    if (length % 4 != 0) return false;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t c = (static_cast<uint32_t>(bytes[i]) << 24) |
                     (static_cast<uint32_t>(bytes[i + 1]) << 16) |
                     (static_cast<uint32_t>(bytes[i + 2]) << 8) | bytes[i + 3];
        if (c == 0) return false;
        if (c > 0x10FFFF || isHighSurrogate(c) || isLowSurrogate(c)) c = kReplacement;
        appendUtf8(out, c);
    }
    return true;
}

bool copyText(std::string& out, const uint8_t* bytes, size_t length) {
    if (length && std::memchr(bytes, 0, length)) return false;
    if (length) out.append(reinterpret_cast<const char*>(bytes), length);
    return true;
}

std::string hexOf(const uint8_t* bytes, size_t length) {
    if (!bytes || length == 0) return std::string();
    std::string text(length * 2 + 1, '\0');
    if (SG_GBW(SGHex_Encode)(text.data(), static_cast<uint32_t>(text.size()), bytes,
                             static_cast<uint32_t>(length)) != 0)
        return std::string();
    text.resize(length * 2);
    return text;
}

int renderGeneralName(std::string& out, bool* written, const GeneralName_t* name) {
    *written = false;
    switch (name->present) {
        case GeneralName_PR_directoryName:
            *written = true;
            return renderName(out, &name->choice.directoryName, false, false);
        case GeneralName_PR_uniformResourceIdentifier: {
            const IA5String_t& uri = name->choice.uniformResourceIdentifier;
            *written = true;
            return copyText(out, uri.buf, uri.size) ? 0 : SG_ASN_ERR_RUNTIME;
        }
        default:
            return 0;
    }
}

int oidIdOf(const OBJECT_IDENTIFIER_t* oid) {
    int id = 0;
    if (!oid || SGASN1CObjectIdentifier_Get(&id, oid) != 0) return 0;
    return id;
}

}  // namespace brindlow::service
