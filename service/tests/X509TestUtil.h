// Helpers of the name, extension and certificate tests: DER built by hand for the shapes that
// the openssl command line does not write, decoded into the generated structures.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "SGASN1C.h"

namespace x509test {

using Bytes = std::vector<unsigned char>;

inline Bytes tlv(unsigned tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes length;
        for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes seq(std::initializer_list<Bytes> parts) {
    return tlv(0x30, cat(parts));
}
inline Bytes set(std::initializer_list<Bytes> parts) {
    return tlv(0x31, cat(parts));
}
// Context-specific tag n, constructed or primitive.
inline Bytes ctx(unsigned n, const Bytes& content, bool constructed = true) {
    return tlv((constructed ? 0xA0 : 0x80) | n, content);
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline Bytes utf8(const std::string& s) {
    return tlv(0x0C, text(s));
}
inline Bytes printable(const std::string& s) {
    return tlv(0x13, text(s));
}
inline Bytes ia5(const std::string& s) {
    return tlv(0x16, text(s));
}
inline Bytes visible(const std::string& s) {
    return tlv(0x1A, text(s));
}
inline Bytes bmp(const std::u16string& s) {
    Bytes content;
    for (char16_t c : s) {
        content.push_back(static_cast<unsigned char>(c >> 8));
        content.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    return tlv(0x1E, content);
}
inline Bytes universal(const std::u32string& s) {
    Bytes content;
    for (char32_t c : s)
        for (int shift = 24; shift >= 0; shift -= 8)
            content.push_back(static_cast<unsigned char>((c >> shift) & 0xFF));
    return tlv(0x1C, content);
}
inline Bytes octets(const Bytes& b) {
    return tlv(0x04, b);
}
inline Bytes bits(const Bytes& b, unsigned unused = 0) {
    Bytes content{static_cast<unsigned char>(unused)};
    content.insert(content.end(), b.begin(), b.end());
    return tlv(0x03, content);
}
inline Bytes integer(long value) {
    Bytes content;
    unsigned long v = static_cast<unsigned long>(value);
    for (int i = 0; i < 8; ++i)
        content.insert(content.begin(), static_cast<unsigned char>(v >> (8 * i)));
    // Minimal two's complement.
    while (content.size() > 1 && ((content[0] == 0 && !(content[1] & 0x80)) ||
                                  (content[0] == 0xFF && (content[1] & 0x80))))
        content.erase(content.begin());
    return tlv(0x02, content);
}
inline Bytes boolean(bool value) {
    return tlv(0x01, Bytes{static_cast<unsigned char>(value ? 0xFF : 0x00)});
}
inline Bytes null() {
    return Bytes{0x05, 0x00};
}

inline Bytes oid(const std::string& dotted) {
    std::vector<unsigned long long> arcs;
    std::stringstream in(dotted);
    std::string part;
    while (std::getline(in, part, '.')) arcs.push_back(std::stoull(part));
    Bytes content;
    auto arc = [&](unsigned long long v) {
        Bytes b{static_cast<unsigned char>(v & 0x7F)};
        for (v >>= 7; v; v >>= 7)
            b.insert(b.begin(), static_cast<unsigned char>(0x80 | (v & 0x7F)));
        content.insert(content.end(), b.begin(), b.end());
    };
    arc(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) arc(arcs[i]);
    return tlv(0x06, content);
}

inline Bytes atv(const std::string& type, const Bytes& value) {
    return seq({oid(type), value});
}
// A Name from its RDNs, first RDN first.
inline Bytes name(std::initializer_list<std::initializer_list<Bytes>> rdns) {
    Bytes content;
    for (const auto& rdn : rdns) {
        Bytes r = tlv(0x31, cat(rdn));
        content.insert(content.end(), r.begin(), r.end());
    }
    return tlv(0x30, content);
}

// An Extension, not critical.
inline Bytes extension(const std::string& type, const Bytes& value) {
    return seq({oid(type), octets(value)});
}

// A structure decoded from bytes, freed at the end of the scope.
template <typename T>
class Owned {
  public:
    Owned(asn_TYPE_descriptor_t* type, const Bytes& der) : type_(type) {
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        void* out = nullptr;
        result_ = SGASN1CObject_Decode(&out, type, &in);
        value_ = static_cast<T*>(out);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (value_) SGASN1CObject_Free(value_, type_);
    }
    T* get() const { return value_; }
    int result() const { return result_; }

  private:
    asn_TYPE_descriptor_t* type_;
    T* value_ = nullptr;
    int result_;
};

// Upper-case hexadecimal of bytes.
inline std::string hexText(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// A buffer with guard bytes on both sides, so that a write outside the caller's size is seen
// even where the sanitizer would not see it (inside one allocation).
class GuardedBuffer {
  public:
    explicit GuardedBuffer(size_t size) : bytes_(size + 2 * kGuard, kFill), size_(size) {}
    char* data() { return reinterpret_cast<char*>(bytes_.data() + kGuard); }
    size_t size() const { return size_; }
    bool guardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes_[i] != kFill || bytes_[kGuard + size_ + i] != kFill) return false;
        return true;
    }
    // The text, which must end inside the buffer.
    std::string text() {
        const char* p = data();
        const void* end = std::memchr(p, '\0', size_);
        EXPECT_NE(end, nullptr) << "no terminating NUL inside the buffer";
        return end ? std::string(p, static_cast<const char*>(end)) : std::string();
    }

  private:
    static constexpr size_t kGuard = 32;
    static constexpr unsigned char kFill = 0xA5;
    Bytes bytes_;
    size_t size_;
};

}  // namespace x509test
