#include "SGSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "SGBaseError.h"
#include "SGIPCInternal.h"
#include "SGMemory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPiece = 2048;
constexpr int kBacklog = 10;
constexpr int kClientTimeout = 30;
// A frame's payload buffer grows with the bytes that actually arrive, from at most this size.
constexpr uint32_t kFirstPayloadChunk = 1024 * 1024;

int setupFailure(int fd, int ipcCode, const char* text) {
    const int error = errno;
    if (fd >= 0) close(fd);
    SGIPC_SetLastError(ipcCode);
    SGBaseError_SetLast(error, text, 0);
    return -1;
}

// Waits until the descriptor is ready for events: 0 ready, 2107 when the time-out passes first,
// -1 for a wait error. Interrupted waits resume with the time that is left.
int waitFor(int fd, short events, int timeout) {
    if (fd < 0 || timeout < 0) return -1;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int wait = static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, wait);
        if (rc > 0) return (p.revents & POLLNVAL) ? -1 : 0;
        if (rc == 0) {
            if (left > INT_MAX) continue;
            return SG_SOCKET_ERR_TIMEOUT;
        }
        if (errno != EINTR) return -1;
    }
}

bool retryable(int error) {
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Sends up to length bytes after one wait: the count, or -1.
int sendOnce(int fd, const void* data, int length, int timeout) {
    const int wait = waitFor(fd, POLLOUT, timeout);
    if (wait != 0) {
        std::printf("SGSocket_Send:%d\n", wait);
        std::fflush(stdout);
        return -1;
    }
    for (;;) {
        // MSG_NOSIGNAL: a reset peer fails the send instead of ending the process.
        const ssize_t n = send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        return -1;
    }
}

int sendAll(int fd, const unsigned char* data, size_t length, int timeout) {
    while (length > 0) {
        const int piece = static_cast<int>(std::min<size_t>(length, kPiece));
        const int n = sendOnce(fd, data, piece, timeout);
        if (n <= 0) return -1;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

int recvAll(int fd, unsigned char* buffer, size_t size, int timeout) {
    size_t got = 0;
    while (got < size) {
        if (waitFor(fd, POLLIN, timeout) != 0) return -1;
        const ssize_t n = recv(fd, buffer + got, size - got, 0);
        if (n == 0) return SG_SOCKET_ERR_CLOSED;
        if (n < 0) {
            if (retryable(errno)) continue;
            return -1;
        }
        got += static_cast<size_t>(n);
    }
    return 0;
}

void formatPeer(const sockaddr_storage& address, char* peer) {
    std::memset(peer, 0, SG_SOCKET_PEER_LENGTH);
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, peer, SG_SOCKET_PEER_LENGTH);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], peer, SG_SOCKET_PEER_LENGTH);
        else
            inet_ntop(AF_INET6, &v6.sin6_addr, peer, SG_SOCKET_PEER_LENGTH);
    }
}

int setOption(int fd, int level, int name, const void* value, socklen_t length) {
    return setsockopt(fd, level, name, value, length);
}

int setFlag(int fd, int name) {
    const int on = 1;
    return setOption(fd, SOL_SOCKET, name, &on, sizeof on);
}

// Connects, within timeout seconds when it is positive: 0; 2107 when the time-out passes;
// -1 when the connection failed after waiting; the platform error number when connect failed
// at once; 2105 for a failure without a time-out.
int connectWithin(int fd, const sockaddr* address, socklen_t length, int timeout) {
    if (timeout <= 0) {
        if (connect(fd, address, length) == 0) return 0;
        if (errno != EINTR) return SG_SOCKET_ERR_REFUSED;
        // An interrupted blocking connect goes on in the background: wait for its outcome.
        pollfd p{fd, POLLOUT, 0};
        while (poll(&p, 1, -1) < 0)
            if (errno != EINTR) return SG_SOCKET_ERR_REFUSED;
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            return SG_SOCKET_ERR_REFUSED;
        return 0;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    int result;
    if (connect(fd, address, length) == 0) {
        result = 0;
    } else if (errno == EINPROGRESS || errno == EINTR) {
        const int wait = waitFor(fd, POLLOUT, timeout);
        if (wait != 0) {
            result = wait;
        } else {
            int error = 0;
            socklen_t size = sizeof error;
            result =
                (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) ? 0 : -1;
        }
    } else {
        result = errno;
    }
    fcntl(fd, F_SETFL, flags);
    return result;
}

// Parses a multicast group of the given type (1 IPv4, 2 IPv6) with its port.
bool multicastGroup(const char* group, int port, int type, sockaddr_storage* address,
                    socklen_t* length) {
    if (!group || port < 0 || port > 65535) return false;
    std::memset(address, 0, sizeof *address);
    if (type == SG_SOCKET_IPV4) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(address);
        if (inet_pton(AF_INET, group, &v4->sin_addr) != 1) return false;
        const uint8_t first = reinterpret_cast<const uint8_t*>(&v4->sin_addr)[0];
        if (first < 224 || first > 239) return false;
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        *length = sizeof *v4;
        return true;
    }
    if (type == SG_SOCKET_IPV6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
        if (inet_pton(AF_INET6, group, &v6->sin6_addr) != 1) return false;
        if (v6->sin6_addr.s6_addr[0] != 0xFF) return false;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        *length = sizeof *v6;
        return true;
    }
    return false;
}

int datagramFailure(int fd) {
    if (fd >= 0) close(fd);
    SGIPC_SetLastError(SG_SOCKET_ERR_DATAGRAM);
    return -1;
}

}  // namespace

extern "C" {

int SGSocket_Server(const char* bindAddress, int port, int addressType) {
    const bool v6 = addressType == SG_SOCKET_IPV6;
    sockaddr_storage address{};
    socklen_t length;
    const bool any = !bindAddress || std::strcmp(bindAddress, "all") == 0;
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return setupFailure(-1, SG_SOCKET_ERR_BIND, "bind failed");
    }
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        a->sin6_addr = in6addr_any;
        length = sizeof *a;
        if (!any && inet_pton(AF_INET6, bindAddress, &a->sin6_addr) != 1) {
            errno = EINVAL;
            return setupFailure(-1, SG_SOCKET_ERR_BIND, "inet_pton failed");
        }
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(port));
        a->sin_addr.s_addr = htonl(INADDR_ANY);
        length = sizeof *a;
        if (!any && inet_pton(AF_INET, bindAddress, &a->sin_addr) != 1) {
            errno = EINVAL;
            return setupFailure(-1, SG_SOCKET_ERR_BIND, "inet_pton failed");
        }
    }

    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return setupFailure(-1, SG_SOCKET_ERR_SOCKET, "socket failed");
    if (setFlag(fd, SO_REUSEADDR) != 0)
        return setupFailure(fd, SG_SOCKET_ERR_OPTION, "setsockopt failed for REUSE");
    if (setFlag(fd, SO_KEEPALIVE) != 0)
        return setupFailure(fd, SG_SOCKET_ERR_OPTION, "setsockopt failed for KEEPALIVE");
    if (setFlag(fd, SO_BROADCAST) != 0)
        return setupFailure(fd, SG_SOCKET_ERR_OPTION, "setsockopt failed for BROADCAST");
    const linger abortive{1, 0};
    if (setOption(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) != 0)
        return setupFailure(fd, SG_SOCKET_ERR_OPTION, "setsockopt failed for LINGER");
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return setupFailure(fd, SG_SOCKET_ERR_BIND, "bind failed");
    if (listen(fd, kBacklog) != 0) return setupFailure(fd, SG_SOCKET_ERR_LISTEN, "listen failed");
    return fd;
}

int SGSocket_Accept(int listenSocket, char peer[SG_SOCKET_PEER_LENGTH]) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int fd;
    do {
        fd = accept(listenSocket, reinterpret_cast<sockaddr*>(&address), &length);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // The listening socket's zero linger would turn every close into a reset that can drop the
    // last bytes of a response: accepted connections close normally.
    const linger graceful{0, 0};
    setOption(fd, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful);
    if (peer) formatPeer(address, peer);
    return fd;
}

int SGSocket_ClientNB(const char* host, const char* port, int timeout) {
    if (!host || !port) {
        SGIPC_SetLastError(SG_SOCKET_ERR_ADDRESS);
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0 || !found) {
        SGIPC_SetLastError(SG_SOCKET_ERR_ADDRESS);
        return -1;
    }
    const addrinfo* pick = found;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            pick = a;
            break;
        }
    }
    int code = 0;
    const int fd = socket(pick->ai_family, pick->ai_socktype, pick->ai_protocol);
    if (fd < 0) {
        code = SG_SOCKET_ERR_SOCKET;
    } else {
        timeval receive{};
        receive.tv_sec = timeout;
        if (setOption(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) != 0)
            code = SG_SOCKET_ERR_OPTION;
        else if (connectWithin(fd, pick->ai_addr, pick->ai_addrlen, timeout) != 0)
            code = SG_SOCKET_ERR_CONNECT;
    }
    freeaddrinfo(found);
    if (code != 0) {
        if (fd >= 0) close(fd);
        SGIPC_SetLastError(code);
        return -1;
    }
    return fd;
}

int SGSocket_Client(const char* host, const char* port) {
    return SGSocket_ClientNB(host, port, kClientTimeout);
}

int SGSocket_Close(int socket) {
    return socket > 0 ? close(socket) : -1;
}

int SGSocket_Send(int socket, const void* data, int length, int timeout) {
    if (length < 0 || (!data && length > 0)) return -1;
    return sendOnce(socket, data, length, timeout);
}

int SGSocket_Recv(int socket, void* buffer, int size, int timeout) {
    if (!buffer || size <= 0) return -1;
    if (waitFor(socket, POLLIN, timeout) != 0) return -1;
    for (;;) {
        const ssize_t n = recv(socket, buffer, static_cast<size_t>(size), 0);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

int SGSocket_SendAll(int socket, const void* data, int length, int timeout) {
    if (!data) return SG_SOCKET_ERR_ARGUMENT;
    if (length <= 0) return 0;
    return sendAll(socket, static_cast<const unsigned char*>(data), static_cast<size_t>(length),
                   timeout);
}

int SGSocket_RecvAll(int socket, void* buffer, int size, int timeout) {
    if (!buffer) return SG_SOCKET_ERR_ARGUMENT;
    if (size <= 0) return 0;
    return recvAll(socket, static_cast<unsigned char*>(buffer), static_cast<size_t>(size), timeout);
}

int SGSocket_SendBinary(int socket, int type, const SGBinary* payload, int timeout) {
    if (!payload || (!payload->data && payload->length > 0)) return SG_SOCKET_ERR_ARGUMENT;
    // The length field counts the type byte too, so the largest payload is one byte short of
    // the field's range.
    if (payload->length == UINT32_MAX) return SG_SOCKET_ERR_ARGUMENT;
    const size_t total = size_t{SG_SOCKET_FRAME_HEADER} + payload->length;
    auto* frame = static_cast<unsigned char*>(SGMemory_malloc(total));
    if (!frame) return SG_SOCKET_ERR_MEMORY;
    const uint32_t length = payload->length + 1;
    frame[0] = static_cast<unsigned char>(length >> 24);
    frame[1] = static_cast<unsigned char>(length >> 16);
    frame[2] = static_cast<unsigned char>(length >> 8);
    frame[3] = static_cast<unsigned char>(length);
    frame[4] = static_cast<unsigned char>(type);
    if (payload->length > 0)
        std::memcpy(frame + SG_SOCKET_FRAME_HEADER, payload->data, payload->length);
    const int rc = sendAll(socket, frame, total, timeout);
    SGMemory_cleanse(frame, total);
    SGMemory_free(frame);
    return rc;
}

int SGSocket_RecvBinary(int socket, char* type, SGBinary* payload, int timeout) {
    if (!type || !payload) return SG_SOCKET_ERR_ARGUMENT;
    payload->data = nullptr;
    payload->length = 0;
    unsigned char header[SG_SOCKET_FRAME_HEADER];
    int rc = recvAll(socket, header, sizeof header, timeout);
    if (rc != 0) return rc;
    const uint32_t length = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) |
                            (uint32_t{header[2]} << 8) | uint32_t{header[3]};
    // A sound frame carries at least its type byte; a larger payload than the limit is refused
    // before anything is allocated for it.
    if (length == 0 || length - 1 > SG_SOCKET_MAX_PAYLOAD) return -1;
    const uint32_t size = length - 1;
    if (size == 0) {
        *type = static_cast<char>(header[4]);
        return 0;
    }
    uint32_t capacity = std::min(size, kFirstPayloadChunk);
    auto* buffer = static_cast<unsigned char*>(SGMemory_malloc(capacity));
    if (!buffer) return SG_SOCKET_ERR_MEMORY;
    uint32_t got = 0;
    rc = 0;
    while (got < size) {
        if (got == capacity) {
            const uint32_t grown =
                static_cast<uint32_t>(std::min<uint64_t>(size, uint64_t{capacity} * 2));
            auto* bigger = static_cast<unsigned char*>(SGMemory_realloc(buffer, grown));
            if (!bigger) {
                rc = SG_SOCKET_ERR_MEMORY;
                break;
            }
            buffer = bigger;
            capacity = grown;
        }
        rc = recvAll(socket, buffer + got, capacity - got, timeout);
        if (rc != 0) break;
        got = capacity;
    }
    if (rc != 0) {
        SGMemory_cleanse(buffer, capacity);
        SGMemory_free(buffer);
        return rc;
    }
    payload->data = buffer;
    payload->length = size;
    *type = static_cast<char>(header[4]);
    return 0;
}

int SGSocket_RecvLine(int socket, char* buffer, int size, int timeout) {
    if (!buffer || size <= 0) return -1;
    int kept = 0;
    while (kept < size - 1) {
        const int wait = waitFor(socket, POLLIN, timeout);
        if (wait != 0) {
            SGBaseError_SetLast(wait, "internal", 0);
            return -1;
        }
        char c;
        const ssize_t n = recv(socket, &c, 1, 0);
        if (n == 0) break;
        if (n < 0) {
            if (retryable(errno)) continue;
            SGBaseError_SetLast(-1, "internal", 0);
            return -1;
        }
        if (c == '\n') break;
        buffer[kept++] = c;
    }
    buffer[kept] = '\0';
    if (kept > 0 && buffer[kept - 1] == '\r') buffer[--kept] = '\0';
    return kept;
}

int SGSocket_MultiSend(const char* group, int port, int hops, const void* data, int length,
                       int addressType) {
    sockaddr_storage address;
    socklen_t addressLength = 0;
    if (!multicastGroup(group, port, addressType, &address, &addressLength)) {
        SGIPC_SetLastError(SG_SOCKET_ERR_ADDRESS);
        return -1;
    }
    if (length < 0 || (!data && length > 0)) return datagramFailure(-1);
    const bool v6 = addressType == SG_SOCKET_IPV6;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        SGIPC_SetLastError(SG_SOCKET_ERR_SOCKET);
        return -1;
    }
    const int rc = v6 ? setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops)
                      : setOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
    if (rc != 0) return datagramFailure(fd);
    ssize_t n;
    do {
        n = sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), addressLength);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return datagramFailure(fd);
    close(fd);
    return static_cast<int>(n);
}

int SGSocket_MultiReceiver(const char* group, int port, int addressType) {
    sockaddr_storage address;
    socklen_t addressLength = 0;
    if (!multicastGroup(group, port, addressType, &address, &addressLength)) {
        SGIPC_SetLastError(SG_SOCKET_ERR_ADDRESS);
        return -1;
    }
    const bool v6 = addressType == SG_SOCKET_IPV6;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    int code = 0;
    if (fd < 0) {
        SGIPC_SetLastError(SG_SOCKET_ERR_SOCKET);
        return -1;
    }
    if (setFlag(fd, SO_REUSEADDR) != 0) {
        code = SG_SOCKET_ERR_OPTION;
    } else if (bind(fd, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0) {
        code = SG_SOCKET_ERR_BIND;
    } else if (v6) {
        ipv6_mreq join{};
        join.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        join.ipv6mr_interface = 0;
        if (setOption(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &join, sizeof join) != 0)
            code = SG_SOCKET_ERR_OPTION;
    } else {
        ip_mreq join{};
        join.imr_multiaddr = reinterpret_cast<const sockaddr_in&>(address).sin_addr;
        join.imr_interface.s_addr = htonl(INADDR_ANY);
        if (setOption(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            code = SG_SOCKET_ERR_OPTION;
    }
    if (code != 0) {
        close(fd);
        SGIPC_SetLastError(code);
        return -1;
    }
    return fd;
}

int SGSocket_MultiRecv(int socket, void** data, uint32_t* length,
                       char peer[SG_SOCKET_PEER_LENGTH]) {
    if (!data || !length) return datagramFailure(-1);
    unsigned char buffer[SG_SOCKET_DATAGRAM_MAX];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    ssize_t n;
    do {
        n = recvfrom(socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                     &fromLength);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return datagramFailure(-1);
    auto* copy = static_cast<unsigned char*>(SGMemory_malloc(n > 0 ? static_cast<size_t>(n) : 1));
    if (!copy) return datagramFailure(-1);
    std::memcpy(copy, buffer, static_cast<size_t>(n));
    *data = copy;
    *length = static_cast<uint32_t>(n);
    if (peer) formatPeer(from, peer);
    return static_cast<int>(n);
}

}  // extern "C"
