#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SGBaseError.h"
#include "SGBinary.h"
#include "SGIPC.h"
#include "SGMemory.h"
#include "SGSocket.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

int portOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

void closeIf(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// A listening server and one connection to it: client and accepted ends.
struct Connection {
    int server = -1;
    int client = -1;
    int accepted = -1;
    char peer[SG_SOCKET_PEER_LENGTH] = {};
    ~Connection() {
        closeIf(client);
        closeIf(accepted);
        closeIf(server);
    }
};

void connect(Connection& c, const char* bind, int type, const char* host) {
    c.server = SGSocket_Server(bind, 0, type);
    ASSERT_GE(c.server, 0) << SGBaseError_GetLastMessage();
    const std::string port = std::to_string(portOf(c.server));
    c.client = SGSocket_ClientNB(host, port.c_str(), 5);
    ASSERT_GE(c.client, 0);
    c.accepted = SGSocket_Accept(c.server, c.peer);
    ASSERT_GE(c.accepted, 0);
}

Bytes readRaw(int fd, size_t n) {
    Bytes out(n);
    EXPECT_EQ(SGSocket_RecvAll(fd, out.data(), static_cast<int>(n), 5), 0);
    return out;
}

void sendRaw(int fd, const Bytes& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Family {
    const char* name;
    const char* bind;
    int type;
    const char* host;
    const char* peer;
};

class SGSocketFamily : public testing::TestWithParam<Family> {};

TEST_P(SGSocketFamily, FramesHaveTheirBytesAndComeBack) {
    const Family& f = GetParam();
    Connection c;
    connect(c, f.bind, f.type, f.host);
    EXPECT_STREQ(c.peer, f.peer);

    SGBinary payload{};
    ASSERT_EQ(SGBinary_Set(&payload, "abc", 3), 0);
    ASSERT_EQ(SGSocket_SendBinary(c.client, 7, &payload, 5), 0);
    EXPECT_EQ(readRaw(c.accepted, 8), (Bytes{0, 0, 0, 4, 7, 'a', 'b', 'c'}));
    SGBinary empty{};
    ASSERT_EQ(SGSocket_SendBinary(c.client, 7, &empty, 5), 0);
    EXPECT_EQ(readRaw(c.accepted, 5), (Bytes{0, 0, 0, 1, 7}));

    ASSERT_EQ(SGSocket_SendBinary(c.accepted, 7, &empty, 5), 0);
    char type = 0;
    SGBinary got{};
    ASSERT_EQ(SGSocket_RecvBinary(c.client, &type, &got, 5), 0);
    EXPECT_EQ(type, 7);
    EXPECT_EQ(got.length, 0u);
    EXPECT_EQ(got.data, nullptr);

    ASSERT_EQ(SGSocket_SendBinary(c.accepted, -2, &payload, 5), 0);
    ASSERT_EQ(SGSocket_RecvBinary(c.client, &type, &got, 5), 0);
    EXPECT_EQ(static_cast<unsigned char>(type), 0xFE);
    EXPECT_EQ(SGBinary_Cmp(&got, &payload), 0);
    SGBinary_Reset(&got);
    SGBinary_Reset(&payload);
}

TEST_P(SGSocketFamily, LargeFramesAndBuffersArriveWhole) {
    const Family& f = GetParam();
    Connection c;
    connect(c, f.bind, f.type, f.host);
    const uint32_t size = 3 * 1024 * 1024 + 17;  // grows the receive buffer several times
    SGBinary payload{};
    ASSERT_EQ(SGBinary_Init(&payload, size), 0);
    for (uint32_t i = 0; i < size; ++i) payload.data[i] = static_cast<unsigned char>(i * 31 + 7);
    int sent = -1;
    std::thread sender([&] { sent = SGSocket_SendBinary(c.accepted, 1, &payload, 10); });
    char type = 0;
    SGBinary got{};
    EXPECT_EQ(SGSocket_RecvBinary(c.client, &type, &got, 10), 0);
    sender.join();
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(SGBinary_Cmp(&got, &payload), 0);
    SGBinary_Reset(&got);

    Bytes out(5000), in(5000);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(SGSocket_SendAll(c.client, out.data(), 5000, 5), 0);
    ASSERT_EQ(SGSocket_RecvAll(c.accepted, in.data(), 5000, 5), 0);
    EXPECT_EQ(in, out);
    SGBinary_Reset(&payload);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SGSocketFamily,
                         testing::Values(Family{"IPv4", "127.0.0.1", 1, "127.0.0.1", "127.0.0.1"},
                                         Family{"IPv6", "::1", 2, "::1", "::1"},
                                         Family{"IPv4MappedOnIPv6", "all", 2, "127.0.0.1",
                                                "127.0.0.1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SGSocket, RecvBinaryRefusesBadLengthsAndCutFrames) {
    struct Case {
        const char* name;
        Bytes bytes;
        int expected;
    } cases[] = {
        {"zero length", {0, 0, 0, 0, 7}, -1},
        {"largest length", {0xFF, 0xFF, 0xFF, 0xFF, 7}, -1},
        {"one above the limit", {0x04, 0x00, 0x00, 0x02, 7}, -1},
        {"closed in the header", {0, 0}, 2104},
        {"closed in the payload", {0, 0, 0, 0x10, 7, 'a', 'b'}, 2104},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn;
        connect(conn, "127.0.0.1", 1, "127.0.0.1");
        sendRaw(conn.accepted, c.bytes);
        closeIf(conn.accepted);
        char type = 0x55;
        SGBinary got{};
        EXPECT_EQ(SGSocket_RecvBinary(conn.client, &type, &got, 5), c.expected);
        EXPECT_EQ(got.data, nullptr);
        EXPECT_EQ(got.length, 0u);
        EXPECT_EQ(type, 0x55);
    }
    char type;
    SGBinary got{};
    EXPECT_EQ(SGSocket_RecvBinary(0, nullptr, &got, 1), 2101);
    EXPECT_EQ(SGSocket_RecvBinary(0, &type, nullptr, 1), 2101);
    EXPECT_EQ(SGSocket_SendBinary(0, 1, nullptr, 1), 2101);
}

TEST(SGSocket, ReceiveTimesOutAfterTheConfiguredTime) {
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    char buffer[4];
    auto start = Clock::now();
    EXPECT_EQ(SGSocket_Recv(c.client, buffer, sizeof buffer, 1), -1);
    double waited = secondsSince(start);
    EXPECT_GE(waited, 0.95);
    EXPECT_LT(waited, 4.0);

    sendRaw(c.accepted, {0, 0, 0, 9, 1, 'x'});  // a frame that stops arriving
    char type;
    SGBinary got{};
    start = Clock::now();
    EXPECT_EQ(SGSocket_RecvBinary(c.client, &type, &got, 1), -1);
    waited = secondsSince(start);
    EXPECT_GE(waited, 0.95);
    EXPECT_LT(waited, 4.0);
    EXPECT_EQ(got.data, nullptr);
}

TEST(SGSocket, RecvAllAndSendAllResults) {
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    EXPECT_EQ(SGSocket_SendAll(c.client, nullptr, 3, 1), 2101);
    EXPECT_EQ(SGSocket_SendAll(c.client, "x", 0, 1), 0);
    EXPECT_EQ(SGSocket_RecvAll(c.client, nullptr, 3, 1), 2101);
    char in[8];
    EXPECT_EQ(SGSocket_RecvAll(c.client, in, 0, 1), 0);
    sendRaw(c.accepted, {'a', 'b', 'c'});
    closeIf(c.accepted);
    EXPECT_EQ(SGSocket_RecvAll(c.client, in, 8, 5), 2104);
    EXPECT_EQ(SGSocket_Recv(c.client, in, 8, 5), 0);  // the peer has closed
    EXPECT_EQ(SGSocket_Close(0), -1);
    EXPECT_EQ(SGSocket_Close(-1), -1);
}

TEST(SGSocket, RecvLineCases) {
    struct Case {
        const char* name;
        std::string sent;
        int size;
        std::vector<std::string> lines;  // successive calls; a line ends the peer's bytes
    } cases[] = {
        {"carriage return and line feed", "abc\r\n", 64, {"abc", ""}},
        {"line feed", "abc\ndef\n", 64, {"abc", "def", ""}},
        {"empty line", "\r\n", 64, {"", ""}},
        {"one character then close", "a", 64, {"a", ""}},
        {"nothing then close", "", 64, {""}},
        {"cut by the size", "abcdef\n", 4, {"abc", "def", ""}},
        {"only one carriage return dropped", "x\r\r\n", 64, {"x\r", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn;
        connect(conn, "127.0.0.1", 1, "127.0.0.1");
        if (!c.sent.empty()) sendRaw(conn.accepted, Bytes(c.sent.begin(), c.sent.end()));
        closeIf(conn.accepted);
        for (const auto& line : c.lines) {
            std::vector<char> buffer(c.size, '#');
            ASSERT_EQ(SGSocket_RecvLine(conn.client, buffer.data(), c.size, 5),
                      static_cast<int>(line.size()));
            EXPECT_STREQ(buffer.data(), line.c_str());
        }
    }
}

TEST(SGSocket, RecvLineTimeOutIsRecorded) {
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    char buffer[16];
    EXPECT_EQ(SGSocket_RecvLine(c.client, buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(SGBaseError_GetLastCode(), 2107);
    EXPECT_STREQ(SGBaseError_GetLastMessage(), "internal");
    EXPECT_EQ(SGSocket_RecvLine(c.client, nullptr, 16, 0), -1);
}

// A peer that resets must fail the send, not raise SIGPIPE. The child restores the default
// action, so a raised SIGPIPE ends it.
TEST(SGSocket, ResetPeerDoesNotEndTheProcess) {
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    const linger abortive{1, 0};
    ASSERT_EQ(setsockopt(c.accepted, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    closeIf(c.accepted);  // sends a reset
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        Bytes data(4096, 'z');
        int failures = 0;
        for (int i = 0; i < 50; ++i) {
            if (SGSocket_SendAll(c.client, data.data(), static_cast<int>(data.size()), 1) != 0)
                ++failures;
            SGBinary payload{data.data(), 16};
            if (SGSocket_SendBinary(c.client, 1, &payload, 1) != 0) ++failures;
        }
        _exit(failures > 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The accepted side sends a long response and closes at once: every byte must arrive, which a
// reset on close would prevent.
TEST(SGSocket, AcceptedConnectionClosesGracefully) {
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    const int size = 8 * 1024 * 1024;
    Bytes out(size);
    for (int i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(i ^ (i >> 8));
    std::thread server([&] {
        EXPECT_EQ(SGSocket_SendAll(c.accepted, out.data(), size, 10), 0);
        SGSocket_Close(c.accepted);
        c.accepted = -1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the send buffer fill
    Bytes in(size);
    EXPECT_EQ(SGSocket_RecvAll(c.client, in.data(), size, 10), 0);
    server.join();
    EXPECT_TRUE(in == out);
    char extra;
    EXPECT_EQ(SGSocket_Recv(c.client, &extra, 1, 5), 0);  // an orderly end, not a reset
}

TEST(SGSocket, ServerBindsEveryAddressAndReusesItsPort) {
    int server = SGSocket_Server(nullptr, 0, 1);
    ASSERT_GE(server, 0);
    const std::string port = std::to_string(portOf(server));
    for (const char* host : {"127.0.0.1", "127.0.0.2"}) {
        int client = SGSocket_ClientNB(host, port.c_str(), 5);
        EXPECT_GE(client, 0) << host;
        int accepted = SGSocket_Accept(server, nullptr);
        EXPECT_GE(accepted, 0);
        // The server closes first, leaving its port in TIME_WAIT.
        SGSocket_Close(accepted);
        char end;
        EXPECT_EQ(SGSocket_Recv(client, &end, 1, 5), 0);
        SGSocket_Close(client);
    }
    SGSocket_Close(server);
    server = SGSocket_Server("all", std::stoi(port), 1);
    EXPECT_GE(server, 0) << SGBaseError_GetLastMessage();
    SGSocket_Close(server);

    const int local = SGSocket_Server("127.0.0.1", 0, 1);
    ASSERT_GE(local, 0);
    const std::string localPort = std::to_string(portOf(local));
    EXPECT_EQ(SGSocket_ClientNB("127.0.0.2", localPort.c_str(), 5), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2112);
    SGSocket_Close(local);
}

TEST(SGSocket, SetUpFailuresAreReported) {
    struct Case {
        const char* name;
        const char* address;
        int port;
        int type;
        int ipc;
        const char* message;
    } cases[] = {
        {"not an address", "999.1.1.1", 0, 1, 2109, "inet_pton failed"},
        {"IPv6 text for IPv4", "::1", 0, 1, 2109, "inet_pton failed"},
        {"port out of range", nullptr, 70000, 1, 2109, "bind failed"},
        {"address not here", "192.0.2.250", 0, 1, 2109, "bind failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SGSocket_Server(c.address, c.port, c.type), -1);
        EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), c.ipc);
        EXPECT_STREQ(SGBaseError_GetLastMessage(), c.message);
        EXPECT_NE(SGBaseError_GetLastCode(), 0);
    }
    const int first = SGSocket_Server("127.0.0.1", 0, 1);
    ASSERT_GE(first, 0);
    EXPECT_EQ(SGSocket_Server("127.0.0.1", portOf(first), 1), -1);  // a listener holds it
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2109);
    EXPECT_EQ(SGBaseError_GetLastCode(), EADDRINUSE);
    SGSocket_Close(first);

    EXPECT_EQ(SGSocket_ClientNB("127.0.0.1", "no-port", 1), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2115);
    EXPECT_EQ(SGSocket_ClientNB(nullptr, "1", 1), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2115);
    EXPECT_EQ(SGSocket_Accept(-1, nullptr), -1);
}

TEST(SGSocket, ConnectTimesOutWhenNobodyAnswers) {
    // A listener whose queue is full drops further handshakes, so connecting hangs.
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 0), 0);
    const std::string port = std::to_string(portOf(server));
    std::vector<int> queued;
    int timedOut = -1;
    for (int i = 0; i < 8 && timedOut < 0; ++i) {
        const auto start = Clock::now();
        const int fd = SGSocket_ClientNB("127.0.0.1", port.c_str(), 1);
        if (fd >= 0) {
            queued.push_back(fd);
            continue;
        }
        EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2112);
        const double waited = secondsSince(start);
        EXPECT_GE(waited, 0.95);
        EXPECT_LT(waited, 4.0);
        timedOut = i;
    }
    EXPECT_GE(timedOut, 0) << "every connection was taken";
    for (int fd : queued) close(fd);
    close(server);
}

TEST(SGSocket, DescriptorsAbove1023Work) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 1600) {
        limit.rlim_cur = std::min<rlim_t>(1600, limit.rlim_max);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    Connection c;
    connect(c, "127.0.0.1", 1, "127.0.0.1");
    ASSERT_EQ(dup2(c.client, 1500), 1500);
    ASSERT_EQ(dup2(c.accepted, 1501), 1501);
    ASSERT_EQ(SGSocket_SendAll(1501, "hi\n", 3, 5), 0);
    char line[8];
    EXPECT_EQ(SGSocket_RecvLine(1500, line, sizeof line, 5), 2);
    EXPECT_STREQ(line, "hi");
    EXPECT_EQ(SGSocket_Send(1500, "ok", 2, 5), 2);
    char in[2];
    EXPECT_EQ(SGSocket_RecvAll(1501, in, 2, 5), 0);
    close(1500);
    close(1501);
}

TEST(SGSocket, LastIpcErrorIsReadOnce) {
    EXPECT_EQ(SGSocket_MultiReceiver("10.1.2.3", 5000, 1), -1);
    char* text = nullptr;
    errno = EINVAL;
    EXPECT_EQ(SGIPC_GetLastErrorReason(2, &text), 2115);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), std::string("Unknown error code[") + std::strerror(EINVAL) + "]");
    SGMemory_free(text);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 0);

    errno = ENOENT;
    EXPECT_EQ(SGIPC_GetSysErrorReason(&text), ENOENT);
    EXPECT_STREQ(text, std::strerror(ENOENT));
    SGMemory_free(text);
    EXPECT_EQ(SGIPC_Initialize(), 0);
    EXPECT_EQ(SGIPC_Finalize(), 0);
}

TEST(SGSocket, MulticastAddressesAreChecked) {
    struct Case {
        const char* group;
        int type;
    } cases[] = {{"10.0.0.1", 1},  {"240.0.0.1", 1}, {"223.255.255.255", 1},
                 {"ff02::1", 1},   {"239.1.1.1", 2}, {"fe80::1", 2},
                 {"239.1.1.1", 0}, {"239.1.1.1", 3}, {nullptr, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.group ? c.group : "null");
        EXPECT_EQ(SGSocket_MultiReceiver(c.group, 5000, c.type), -1);
        EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2115);
        EXPECT_EQ(SGSocket_MultiSend(c.group, 5000, 1, "x", 1, c.type), -1);
        EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2115);
    }
}

struct Group {
    const char* name;
    const char* group;
    int type;
};

class SGSocketMulticast : public testing::TestWithParam<Group> {};

TEST_P(SGSocketMulticast, DatagramReachesTheGroup) {
    const Group& g = GetParam();
    const int receiver = SGSocket_MultiReceiver(g.group, 0, g.type);
    ASSERT_GE(receiver, 0) << SGIPC_GetLastErrorReason(0, nullptr);
    const int port = portOf(receiver);
    const std::string message = "group " + std::string(g.group);
    errno = 0;
    const int sent = SGSocket_MultiSend(g.group, port, 1, message.data(),
                                        static_cast<int>(message.size()), g.type);
    if (sent < 0 && (errno == ENETUNREACH || errno == ENODEV)) {
        close(receiver);
        GTEST_SKIP() << "no multicast route here: " << std::strerror(errno);
    }
    ASSERT_EQ(sent, static_cast<int>(message.size()));
    void* data = nullptr;
    uint32_t length = 0;
    char peer[SG_SOCKET_PEER_LENGTH];
    std::memset(peer, '#', sizeof peer);
    ASSERT_EQ(SGSocket_MultiRecv(receiver, &data, &length, peer), static_cast<int>(message.size()));
    EXPECT_EQ(std::string(static_cast<char*>(data), length), message);
    EXPECT_GT(std::strlen(peer), 0u);
    SGMemory_free(data);
    EXPECT_EQ(SGSocket_MultiRecv(receiver, nullptr, &length, peer), -1);
    EXPECT_EQ(SGIPC_GetLastErrorReason(0, nullptr), 2116);
    close(receiver);
}

INSTANTIATE_TEST_SUITE_P(Groups, SGSocketMulticast,
                         testing::Values(Group{"IPv4", "239.255.71.83", 1},
                                         Group{"IPv6", "ff15::7153", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
