// The secure channel's framing as a peer writes it by hand: handshake messages (type, 4-byte
// big-endian length, body) and record frames (4-byte big-endian length, record).
#pragma once

#include <cstdint>
#include <vector>

namespace channelframes {

using Bytes = std::vector<unsigned char>;

inline void appendLength(Bytes& out, uint32_t n) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(n >> shift));
}

inline Bytes handshakeMessage(unsigned char type, const Bytes& body) {
    Bytes m{type};
    appendLength(m, static_cast<uint32_t>(body.size()));
    m.insert(m.end(), body.begin(), body.end());
    return m;
}

inline Bytes frame(const Bytes& record) {
    Bytes f;
    appendLength(f, static_cast<uint32_t>(record.size()));
    f.insert(f.end(), record.begin(), record.end());
    return f;
}

inline uint32_t bigEndian(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace channelframes
