// Internal to the certificate, extension and name components: decoded values that free
// themselves, text built in memory and written to a caller's buffer only as far as it fits, and
// the UCS-2 and UCS-4 to UTF-8 conversions of the names and display texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SGASN1C.h"

namespace brindlow::service {

// A value decoded from bytes, freed with its descriptor.
template <typename T>
class Decoded {
  public:
    explicit Decoded(asn_TYPE_descriptor_t* type) : type_(type) {}
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    ~Decoded() {
        if (value_) SGASN1CObject_Free(value_, type_);
    }
    // 0, or the object layer's error (20902 for bytes that do not decode).
    int decode(const uint8_t* bytes, int size) {
        SGBinary in{const_cast<uint8_t*>(bytes), size > 0 ? static_cast<uint32_t>(size) : 0u};
        if (!bytes) in.length = 0;
        void* out = nullptr;
        int result = SGASN1CObject_Decode(&out, type_, &in);
        if (result == 0) value_ = static_cast<T*>(out);
        return result;
    }
    T* get() const { return value_; }
    T* operator->() const { return value_; }
    // Hands the value over to the caller.
    T* release() {
        T* value = value_;
        value_ = nullptr;
        return value;
    }

  private:
    asn_TYPE_descriptor_t* type_;
    T* value_ = nullptr;
};

// Text written to a caller's buffer: it is built here whole, and the buffer receives it when it
// fits, otherwise the text up to the last complete piece (marked as it is built) that fits.
class TextOut {
  public:
    // Starts with what the buffer already holds when appending.
    TextOut(char* buffer, size_t size, bool append);
    std::string& text() { return text_; }
    // The text so far is a complete piece: a safe place to cut.
    void mark() { marks_.push_back(text_.size()); }
    // Drops what was written after the last mark (a piece that failed half-way).
    void rewind() { text_.resize(marks_.back()); }
    // Writes the buffer. result is the renderer's own; an overflow gives tooLong when the result
    // was 0.
    int finish(int result, int tooLong);

  private:
    char* buffer_;
    size_t size_;
    std::string text_;
    std::vector<size_t> marks_;
};

// UCS-2 big-endian to UTF-8: surrogate pairs are joined, a lone surrogate becomes U+FFFD,
// U+FFFF is dropped. False for an odd length or a NUL character.
bool ucs2ToUtf8(std::string& out, const uint8_t* bytes, size_t length);
// UCS-4 big-endian to UTF-8; code points beyond U+10FFFF and surrogates become U+FFFD. False for
// a length that is not a multiple of four or a NUL character.
bool ucs4ToUtf8(std::string& out, const uint8_t* bytes, size_t length);
// Bytes copied as they are. False when they hold a NUL, which would cut the text short.
bool copyText(std::string& out, const uint8_t* bytes, size_t length);

// Upper-case hexadecimal through the base library's encoder.
std::string hexOf(const uint8_t* bytes, size_t length);

// A Name as distinguished-name text, unbounded (the callers bound the text they build). With
// out, each complete value is marked as a place to cut.
int renderName(std::string& out, const Name_t* name, bool lowerCase, bool compactSeparator);
int renderName(TextOut& out, const Name_t* name, bool lowerCase, bool compactSeparator);
// A GeneralName's text: a directoryName as distinguished-name text, a URI as its characters.
// *written is false for the other kinds, which have no text.
int renderGeneralName(std::string& out, bool* written, const GeneralName_t* name);

// The OID id of an identifier; 0 for one outside the table.
int oidIdOf(const OBJECT_IDENTIFIER_t* oid);

}  // namespace brindlow::service
