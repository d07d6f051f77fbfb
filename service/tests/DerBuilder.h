// A few lines of DER for hand-made structures in tests: definite lengths, dotted identifiers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace der {

using Bytes = std::vector<unsigned char>;

inline Bytes tlv(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
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

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes seq(std::initializer_list<Bytes> parts) {
    return tlv(0x30, join(parts));
}
inline Bytes set(std::initializer_list<Bytes> parts) {
    return tlv(0x31, join(parts));
}
inline Bytes octets(const Bytes& b) {
    return tlv(0x04, b);
}
inline Bytes octets(const std::string& s) {
    return tlv(0x04, Bytes(s.begin(), s.end()));
}
inline Bytes null() {
    return Bytes{0x05, 0x00};
}
inline Bytes bits(const Bytes& b, unsigned char unused = 0) {
    Bytes content{unused};
    content.insert(content.end(), b.begin(), b.end());
    return tlv(0x03, content);
}

// INTEGER from a signed value, in the fewest bytes.
inline Bytes integer(long long v) {
    Bytes content;
    for (int i = 7; i >= 0; --i) content.push_back(static_cast<unsigned char>(v >> (8 * i)));
    while (content.size() > 1 && ((content[0] == 0x00 && !(content[1] & 0x80)) ||
                                  (content[0] == 0xFF && (content[1] & 0x80))))
        content.erase(content.begin());
    return tlv(0x02, content);
}
// INTEGER with the content bytes as given (for values beyond 64 bits).
inline Bytes integerBytes(const Bytes& content) {
    return tlv(0x02, content);
}

inline Bytes oid(const std::string& dotted) {
    std::vector<uint64_t> arcs;
    uint64_t v = 0;
    for (char c : dotted + ".") {
        if (c == '.') {
            arcs.push_back(v);
            v = 0;
        } else {
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
    }
    Bytes content;
    auto put = [&content](uint64_t a) {
        Bytes base128{static_cast<unsigned char>(a & 0x7F)};
        for (a >>= 7; a; a >>= 7)
            base128.insert(base128.begin(), static_cast<unsigned char>(0x80 | (a & 0x7F)));
        content.insert(content.end(), base128.begin(), base128.end());
    };
    put(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
    return tlv(0x06, content);
}
// The contents octets of an identifier (its DER without tag and length).
inline Bytes oidContents(const std::string& dotted) {
    const Bytes d = oid(dotted);
    return Bytes(d.begin() + 2, d.end());
}

inline Bytes algorithm(const std::string& dotted, const Bytes& parameters = {}) {
    return seq({oid(dotted), parameters});
}

}  // namespace der
