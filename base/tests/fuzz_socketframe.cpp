// Fuzz target for what a socket peer sends: arbitrary bytes read as framed binary messages
// (SGSocket_RecvBinary) and, over a second connection, as lines (SGSocket_RecvLine).
//
// libFuzzer: configure with clang and -DBRINDLOW_FUZZ=ON, build fuzz_socketframe and run it on
// base/tests/data/fuzz_socketframe. The tests run it over that corpus and mutations of it.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "SGBinary.h"
#include "SGSocket.h"

namespace {

// Less than a local socket buffer holds, so the whole input is queued before reading starts.
constexpr size_t kMaxInput = 64 * 1024;

// A socket from which the input can be read, followed by the peer's close; -1 when none.
int feed(const uint8_t* data, size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(fds[1], data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    close(fds[1]);
    return fds[0];
}

}  // namespace

extern "C" int BrindlowFuzz_SocketFrame(const uint8_t* data, size_t size) {
    if (!data || size > kMaxInput) return 0;
    int fd = feed(data, size);
    if (fd < 0) return 0;
    size_t consumed = 0;
    for (;;) {
        char type = 0;
        SGBinary payload{};
        const int rc = SGSocket_RecvBinary(fd, &type, &payload, 0);
        if (rc != 0) {
            if (payload.data || payload.length) std::abort();
            break;
        }
        consumed += SG_SOCKET_FRAME_HEADER + payload.length;
        if (consumed > size) std::abort();
        if (payload.length &&
            std::memcmp(payload.data, data + consumed - payload.length, payload.length) != 0)
            std::abort();
        SGBinary_Reset(&payload);
    }
    close(fd);

    fd = feed(data, size);
    if (fd < 0) return 0;
    char line[64];
    for (int i = 0; i < 1024; ++i) {
        const int n = SGSocket_RecvLine(fd, line, sizeof line, 0);
        if (n < 0 || n >= static_cast<int>(sizeof line) || line[n] != '\0') std::abort();
        if (n == 0 && i > 0) break;
    }
    close(fd);
    return 0;
}

#ifndef BRINDLOW_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return BrindlowFuzz_SocketFrame(data, size);
}
#endif
