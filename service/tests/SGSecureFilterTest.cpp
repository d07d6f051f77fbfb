// The secure channel over real TCP on 127.0.0.1: our client on the process's message channel and
// our server on a chain of its own in a thread, through a relay that records both directions;
// the openssl command line alone then opens the recording with the server key. Raw peers drive
// each side into its faults: first messages out of place, unfit certificates, broken records,
// the wrong key handle, and each side moving first where the other must.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "ChannelFrames.h"
#include "ChannelTestUtil.h"
#include "MemoryHooks.h"
#include "SGSecureFilter.h"
#include "SGServiceTable.h"
#include "SGSnowChannel.h"
#include "SGSnowMessage.h"
#include "SGSocket.h"

namespace {

using namespace channeltest;

constexpr int kTimeout = 5;

// --- sockets ----------------------------------------------------------------------------------

int listenLoopback(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        ADD_FAILURE() << "cannot listen on the loopback address";
    *port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        ADD_FAILURE() << "cannot connect to port " << port;
    return fd;
}

void sendBytes(int fd, const Bytes& b) {
    if (!b.empty())
        EXPECT_EQ(SGSocket_SendAll(fd, b.data(), static_cast<int>(b.size()), kTimeout), 0);
}

// Everything that arrives until the peer closes or nothing comes for the given time.
Bytes drain(int fd, int quietMs = 3000) {
    Bytes all;
    unsigned char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        all.insert(all.end(), buffer, buffer + n);
    }
    return all;
}

// Exactly n bytes, or fewer when the peer closes first.
Bytes receive(int fd, size_t n) {
    Bytes b(n);
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kTimeout * 1000) <= 0) break;
        const ssize_t r = ::recv(fd, b.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    b.resize(got);
    return b;
}

using channelframes::bigEndian;
using channelframes::frame;
using channelframes::handshakeMessage;

// A handshake message as a raw peer receives it: its type and body.
std::pair<int, Bytes> receiveMessage(int fd) {
    const Bytes header = receive(fd, 5);
    if (header.size() != 5) return {-1, {}};
    return {header[0], receive(fd, bigEndian(header.data() + 1))};
}

// --- chains ------------------------------------------------------------------------------------

int socketRead(void* handle, void* buffer, uint32_t length, int timeout) {
    return SGSocket_RecvAll(*static_cast<int*>(handle), buffer, static_cast<int>(length),
                            timeout) == 0
               ? static_cast<int>(length)
               : 0;
}
// Answers the byte count, as the final filter expects of any transport but the channel's own
// socket template.
int socketWrite(void* handle, const void* buffer, uint32_t length, int timeout) {
    return SGSocket_SendAll(*static_cast<int*>(handle), buffer, static_cast<int>(length),
                            timeout) == 0
               ? static_cast<int>(length)
               : -1;
}

// A chain object of its own over a socket, with one filter.
struct Chain {
    int fd;
    SGSnowChannelSource transport{};
    SGSimpleFilterChain chain{};
    Chain(int socket, const SGSnowChannelFilter& filter) : fd(socket) {
        transport = SGSnowChannelSource{socketRead, socketWrite, &fd, kTimeout};
        EXPECT_EQ(SGSimplerFilterChain_Init(&chain, &transport), 0);
        EXPECT_EQ(SGSimpleFilterChain_AddFilter(&chain, &filter, &transport), 0);
    }
    ~Chain() { SGSimpleFilterChain_Final(&chain); }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // A top-level read: the result, the bytes in *out.
    int read(Bytes* out) {
        chain.nodes->cursor = nullptr;
        // A chain that failed before calls no filter; otherwise the filter empties the output.
        const bool reachesFilter = chain.error == 0;
        SGBinary bytes{reachesFilter ? reinterpret_cast<unsigned char*>(0x1) : nullptr, 5};
        const int rc = chain.read(&chain, &bytes);
        if (reachesFilter)
            EXPECT_TRUE(rc >= 0 || (bytes.data == nullptr && bytes.length == 0)) << rc;
        *out = rc >= 0 ? bytesOf(bytes) : Bytes();
        if (rc >= 0) SGBinary_Cleanse(&bytes);
        return rc;
    }
    int write(const Bytes& message) {
        chain.nodes->cursor = nullptr;
        SGBinary bytes = view(message);
        return chain.write(&chain, &bytes);
    }
};

SGSnowChannelFilter serverFilter(const Bytes& certificate, KeyHandle& handle) {
    SGSnowChannelFilter filter{};
    const SGBinary c = view(certificate);
    EXPECT_EQ(SGSecureFilter_GetServer(&filter, &c, &handle.binary), 0);
    return filter;
}
SGSnowChannelFilter clientFilter() {
    SGSnowChannelFilter filter{};
    EXPECT_EQ(SGSecureFilter_GetClient(&filter), 0);
    return filter;
}

// Messages of the channel and their byte form.
struct Message {
    SGSnowMessage* m = nullptr;
    Message() = default;
    explicit Message(int command) { SGSnowMessage_Create(&m, command); }
    ~Message() { SGSnowMessage_Destroy(m); }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    Bytes bytes() const {
        uint64_t n = 0;
        SGSnowMessage_ToBytes(m, nullptr, &n);
        Bytes b(n);
        SGSnowMessage_ToBytes(m, b.data(), &n);
        return b;
    }
};

// A server in a thread: accepts one connection and serves it on a chain of its own, answering
// each message it reads with the same message under command + 100, until a read fails or the
// given number of messages was served.
struct Server {
    Bytes certificate;
    KeyHandle handle;
    int listenFd = -1, port = 0;
    std::thread thread;
    // What it saw.
    std::vector<Bytes> received, answered;
    int failedRead = 0, error = 0;

    Server(Bytes cert, Bytes keyDer, int messages)
        : certificate(std::move(cert)), handle(std::move(keyDer)) {
        listenFd = listenLoopback(&port);
        thread = std::thread([this, messages] { serve(messages); });
    }
    ~Server() {
        if (thread.joinable()) thread.join();
        ::close(listenFd);
    }
    void join() { thread.join(); }

    void serve(int messages) {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        {
            Chain c(fd, serverFilter(certificate, handle));
            for (int i = 0; i < messages; ++i) {
                Bytes in;
                const int rc = c.read(&in);
                if (rc < 0) {
                    failedRead = rc;
                    error = c.chain.error;
                    break;
                }
                EXPECT_EQ(rc, static_cast<int>(in.size()));
                received.push_back(in);
                Message m;
                SGSnowMessage_Create(&m.m, 0);
                EXPECT_EQ(SGSnowMessage_FromBytes(m.m, in.data(), in.size()), 0);
                SGSnowMessage_AddEntryAsCommand(m.m, SGSnowMessage_GetCommand(m.m) + 100);
                answered.push_back(m.bytes());
                EXPECT_GT(SGSnowChannel_WriteMessage(&c.chain, m.m), 0) << c.chain.error;
            }
        }
        ::close(fd);
    }
};

// Forwards one connection to the port, recording every piece in the order it passed.
struct Relay {
    struct Piece {
        int direction;  // 0 client to server, 1 server to client
        Bytes bytes;
    };
    int listenFd = -1, port = 0;
    std::vector<Piece> log;
    std::thread thread;

    explicit Relay(int target) {
        listenFd = listenLoopback(&port);
        thread = std::thread([this, target] { run(target); });
    }
    ~Relay() {
        if (thread.joinable()) thread.join();
        ::close(listenFd);
    }
    void join() { thread.join(); }

    void run(int target) {
        const int fds[2] = {::accept(listenFd, nullptr, nullptr), connectLoopback(target)};
        bool open[2] = {true, true};
        unsigned char buffer[65536];
        while (open[0] || open[1]) {
            pollfd p[2] = {{fds[0], static_cast<short>(open[0] ? POLLIN : 0), 0},
                           {fds[1], static_cast<short>(open[1] ? POLLIN : 0), 0}};
            if (::poll(p, 2, 20000) <= 0) break;
            for (int side = 0; side < 2; ++side) {
                if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::recv(fds[side], buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open[side] = false;
                    ::shutdown(fds[1 - side], SHUT_WR);
                    continue;
                }
                log.push_back({side, Bytes(buffer, buffer + n)});
                if (SGSocket_SendAll(fds[1 - side], buffer, static_cast<int>(n), kTimeout) != 0)
                    open[0] = open[1] = false;
            }
        }
        ::close(fds[0]);
        ::close(fds[1]);
    }

    Bytes stream(int direction) const {
        Bytes all;
        for (const Piece& p : log)
            if (p.direction == direction) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
        return all;
    }
    // The index of the piece that carried byte offset of the direction's stream.
    size_t pieceAt(int direction, size_t offset) const {
        size_t seen = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            if (log[i].direction != direction) continue;
            if (offset < seen + log[i].bytes.size()) return i;
            seen += log[i].bytes.size();
        }
        return log.size();
    }
};

// A direction's stream cut into its two handshake messages and its record frames.
struct Transcript {
    std::vector<std::pair<int, Bytes>> handshake;  // type, body
    std::vector<Bytes> records;
    std::vector<size_t> offsets;  // of each handshake message
    bool complete = true;
};
Transcript split(const Bytes& stream) {
    Transcript t;
    size_t at = 0;
    for (int i = 0; i < 2 && at + 5 <= stream.size(); ++i) {
        const uint32_t n = bigEndian(&stream[at + 1]);
        t.offsets.push_back(at);
        t.handshake.push_back({stream[at], Bytes(stream.begin() + static_cast<long>(at + 5),
                                                 stream.begin() + static_cast<long>(at + 5 + n))});
        at += 5 + n;
    }
    while (at + 4 <= stream.size()) {
        const uint32_t n = bigEndian(&stream[at]);
        if (at + 4 + n > stream.size()) break;
        t.records.emplace_back(stream.begin() + static_cast<long>(at + 4),
                               stream.begin() + static_cast<long>(at + 4 + n));
        at += 4 + n;
    }
    t.complete = at == stream.size();
    return t;
}

class SecureChannel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

// The client's messages: empty, a text, and 5000 bytes (more than one read of the body).
std::vector<std::unique_ptr<Message>> clientMessages() {
    std::vector<std::unique_ptr<Message>> out;
    out.push_back(std::make_unique<Message>(1));
    out.push_back(std::make_unique<Message>(2));
    SGSnowMessage_AddEntryAsString(out.back()->m, "안녕하세요, server");
    out.push_back(std::make_unique<Message>(3));
    const Bytes big(5000, 0x5A);
    SGSnowMessage_AddEntryAsBinary(out.back()->m, big.data(), big.size());
    SGSnowMessage_AddEntryAsInteger(out.back()->m, 7);
    return out;
}

TEST_F(SecureChannel, MessagesBothWaysThroughARecordingRelay) {
    auto messages = clientMessages();
    Server server(golden("server.der"), serverRsaDer(), static_cast<int>(messages.size()));
    Relay relay(server.port);

    // The client on the process's channel.
    int fd = connectLoopback(relay.port);
    int timeout = kTimeout;
    SGSnowChannelOpen open{&fd, SG_SNOWCHANNEL_SOCKET, &timeout};
    int handle = -1;
    ASSERT_EQ(SGSnowChannel_Open(&handle, &open), 0);
    SGSnowChannelFilter filter = clientFilter();
    ASSERT_EQ(SGSnowChannel_AddFilter(handle, &filter), 0);
    std::vector<Bytes> sent, replies;
    for (auto& m : messages) {
        sent.push_back(m->bytes());
        ASSERT_EQ(SGSnowChannel_Write(handle, m->m), 0);
        Message reply(0);
        ASSERT_GT(SGSnowChannel_Read(handle, reply.m), 0);
        EXPECT_EQ(SGSnowMessage_GetCommand(reply.m), SGSnowMessage_GetCommand(m->m) + 100);
        replies.push_back(reply.bytes());
    }
    SGSnowChannel_Close();
    ::close(fd);
    server.join();
    relay.join();

    // The server's first read gave the client's first message, and so on.
    EXPECT_EQ(server.failedRead, 0);
    EXPECT_EQ(server.received, sent);
    EXPECT_EQ(server.answered, replies);

    // 0xE0, 0xE1, 0xE2, 0xE3 in this order, then the records.
    const Bytes up = relay.stream(0), down = relay.stream(1);
    const Transcript c2s = split(up), s2c = split(down);
    ASSERT_EQ(c2s.handshake.size(), 2u);
    ASSERT_EQ(s2c.handshake.size(), 2u);
    EXPECT_TRUE(c2s.complete);
    EXPECT_TRUE(s2c.complete);
    EXPECT_EQ(c2s.handshake[0].first, 0xE0);
    EXPECT_EQ(s2c.handshake[0].first, 0xE1);
    EXPECT_EQ(c2s.handshake[1].first, 0xE2);
    EXPECT_EQ(s2c.handshake[1].first, 0xE3);
    const size_t e0 = relay.pieceAt(0, 0), e1 = relay.pieceAt(1, 0),
                 e2 = relay.pieceAt(0, c2s.offsets[1]), e3 = relay.pieceAt(1, s2c.offsets[1]),
                 firstRecord =
                     relay.pieceAt(0, c2s.offsets[1] + 5 + c2s.handshake[1].second.size());
    EXPECT_LT(e0, e1);
    EXPECT_LT(e1, e2);
    EXPECT_LT(e2, e3);
    EXPECT_LT(e3, firstRecord);
    EXPECT_EQ(c2s.handshake[0].second, golden("request.der"));
    EXPECT_EQ(s2c.handshake[0].second, golden("server.der"));
    ASSERT_EQ(c2s.records.size(), sent.size());
    ASSERT_EQ(s2c.records.size(), replies.size());

    // The command line alone: R from the response with the server key, S from the 0xE3 body,
    // the keys by the hash chain, then every record opened and its MAC computed.
    Shell shell;
    const Bytes response = c2s.handshake[1].second;
    const auto r = asn1parse(response);
    ASSERT_EQ(r.size(), 3u);
    shell.put("encR", contents(response, r[1]));
    shell.put("hashedKey", contents(response, r[2]));
    shell.put("e3", s2c.handshake[1].second);
    std::string script =
        "hexof() { od -An -v -tx1 | tr -d ' \\n'; }; "
        "openssl pkeyutl -decrypt -inkey " +
        quote((goldenDir() / "server.key").string()) +
        " -pkeyopt rsa_padding_mode:pkcs1 -in encR -out R && "
        "openssl dgst -sha256 -binary -out HR R && "
        "K=$(head -c 16 HR | hexof) && IV=$(openssl dgst -sha256 -binary HR | head -c 16 | hexof) "
        "&& "
        "openssl enc -d -aria-128-cbc -K $K -iv $IV -in e3 -out S && "
        "cat R S | openssl dgst -sha256 -binary > d0 && "
        "for i in 1 2 3 4 5; do openssl dgst -sha256 -binary -out d$i d$((i - 1)); done && "
        "for i in 0 1 2 3 4 5; do head -c 16 d$i | hexof > D$i; done";
    std::vector<std::vector<Element>> parsed[2];
    for (int side = 0; side < 2; ++side) {
        const Transcript& t = side == 0 ? c2s : s2c;
        const std::string name = side == 0 ? "c" : "s";
        const std::string key = side == 0 ? "D1" : "D4", iv = side == 0 ? "D2" : "D5",
                          mac = side == 0 ? "D0" : "D3";
        for (size_t i = 0; i < t.records.size(); ++i) {
            const auto e = asn1parse(t.records[i]);
            ASSERT_EQ(e.size(), 6u);
            parsed[side].push_back(e);
            const std::string f = name + std::to_string(i);
            shell.put(f + ".cipher", contents(t.records[i], e[4]));
            shell.put(f + ".mac", contents(t.records[i], e[5]));
            script += " && openssl enc -d -aria-128-cbc -K $(cat " + key + ") -iv $(cat " + iv +
                      ") -in " + f + ".cipher -out " + f +
                      ".plain && openssl dgst -sha256 -mac "
                      "HMAC -macopt hexkey:$(cat " +
                      mac + ") -binary -out " + f + ".hmac " + f + ".plain";
        }
    }
    ASSERT_TRUE(shell.run("bash -c " + quote(script)));
    EXPECT_EQ(shell.get("hashedKey"), shell.get("HR"));
    EXPECT_EQ(shell.get("R").size(), 16u);
    EXPECT_EQ(shell.get("S").size(), 16u);
    for (int side = 0; side < 2; ++side) {
        const std::vector<Bytes>& plaintexts = side == 0 ? sent : replies;
        for (size_t i = 0; i < plaintexts.size(); ++i) {
            SCOPED_TRACE((side == 0 ? "client record " : "server record ") + std::to_string(i));
            const std::string f = (side == 0 ? "c" : "s") + std::to_string(i);
            EXPECT_EQ(parsed[side][i][1].value, "01");                     // majorVersion
            EXPECT_EQ(parsed[side][i][2].value, "00");                     // minorVersion
            EXPECT_EQ(parsed[side][i][3].value, "0" + std::to_string(i));  // sequence
            EXPECT_EQ(shell.get(f + ".plain"), plaintexts[i]);
            EXPECT_EQ(shell.get(f + ".hmac"), shell.get(f + ".mac"));
        }
    }
}

TEST_F(SecureChannel, AKeyHandleOfAnotherKeyFailsWith10722AndSendsNoSecret) {
    Server server(golden("server.der"), kit("other.rsa.der"), 1);
    Relay relay(server.port);
    {
        Chain client(connectLoopback(relay.port), clientFilter());
        EXPECT_EQ(client.write(Bytes{1, 2, 3}), -1);
        EXPECT_EQ(client.chain.error, 10722);
        ::close(client.fd);
    }
    server.join();
    relay.join();
    EXPECT_EQ(server.failedRead, -1);
    EXPECT_EQ(server.error, 10722);
    EXPECT_TRUE(server.received.empty());
    const Transcript s2c = split(relay.stream(1)), c2s = split(relay.stream(0));
    ASSERT_EQ(s2c.handshake.size(), 1u);  // the certificate, and no 0xE3
    EXPECT_EQ(s2c.handshake[0].first, 0xE1);
    EXPECT_TRUE(s2c.complete);
    EXPECT_EQ(c2s.handshake.size(), 2u);  // the client sent nothing after its response
    EXPECT_TRUE(c2s.records.empty());
    EXPECT_TRUE(c2s.complete);
}

// A raw client opens with the bytes; the server's first read fails at once with the code and
// sends nothing.
TEST_F(SecureChannel, TheServerTakesOnlyARequestFirst) {
    const Bytes request = golden("request.der");
    const struct {
        const char* what;
        Bytes opening;
        bool keepOpen;
    } cases[] = {
        {"a TLS hello", Bytes{0x16, 0x03, 0x01, 0x00, 0x05, 1, 2, 3, 4, 5}, false},
        {"a response first", handshakeMessage(0xE2, golden("response.der")), false},
        {"a request without body", handshakeMessage(0xE0, {}), false},
        {"a request over 64 KiB, header only", Bytes{0xE0, 0x00, 0x01, 0x00, 0x01}, true},
        {"a request cut short",
         [&] {
             Bytes m = handshakeMessage(0xE0, request);
             m.resize(m.size() - 4);
             return m;
         }(),
         false},
        {"a request that does not decode", handshakeMessage(0xE0, Bytes{1, 2, 3}), false},
        {"nothing", Bytes{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Server server(golden("server.der"), serverRsaDer(), 1);
        const int fd = connectLoopback(server.port);
        const auto start = std::chrono::steady_clock::now();
        sendBytes(fd, c.opening);
        if (!c.keepOpen) ::shutdown(fd, SHUT_WR);
        EXPECT_TRUE(drain(fd).empty());  // the server sent nothing and closed
        server.join();
        // An announced length over the bound is refused without waiting for its bytes.
        if (c.keepOpen)
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kTimeout));
        ::close(fd);
        EXPECT_EQ(server.failedRead, -1);
        EXPECT_EQ(server.error, 10721);
    }
}

// After a proper request the server sends its certificate; a second message out of place ends
// the handshake with 10722 and no 0xE3.
TEST_F(SecureChannel, TheServerTakesOnlyAResponseSecond) {
    const struct {
        const char* what;
        Bytes second;
    } cases[] = {
        {"a second request", handshakeMessage(0xE0, golden("request.der"))},
        {"a response without body", handshakeMessage(0xE2, {})},
        {"a response over 64 KiB", Bytes{0xE2, 0x00, 0x01, 0x00, 0x01}},
        {"a response that does not decode", handshakeMessage(0xE2, Bytes{0x30, 0x00})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Server server(golden("server.der"), serverRsaDer(), 1);
        const int fd = connectLoopback(server.port);
        sendBytes(fd, handshakeMessage(0xE0, golden("request.der")));
        const auto [type, body] = receiveMessage(fd);
        EXPECT_EQ(type, 0xE1);
        EXPECT_EQ(body, golden("server.der"));
        sendBytes(fd, c.second);
        EXPECT_TRUE(drain(fd).empty());
        server.join();
        ::close(fd);
        EXPECT_EQ(server.error, 10722);
    }
}

// A raw server answers the request with the certificate message; the client refuses before it
// sends anything more.
TEST_F(SecureChannel, TheClientRefusesUnfitCertificates) {
    const struct {
        const char* what;
        Bytes answer;
    } cases[] = {
        {"expired", handshakeMessage(0xE1, kit("expired.der"))},
        {"not yet valid", handshakeMessage(0xE1, kit("future.der"))},
        {"RSA-1024", handshakeMessage(0xE1, kit("small.der"))},
        {"an EC key", handshakeMessage(0xE1, kit("ec.der"))},
        {"signing only", handshakeMessage(0xE1, kit("signonly.der"))},
        {"not a certificate", handshakeMessage(0xE1, Bytes{0x30, 0x03, 0x02, 0x01, 0x01})},
        {"another type", handshakeMessage(0xE3, kit("server.der"))},
        {"a body over 64 KiB", Bytes{0xE1, 0x00, 0x01, 0x00, 0x01}},
        {"an empty body", handshakeMessage(0xE1, {})},
        {"nothing", Bytes{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int port = 0;
        const int listening = listenLoopback(&port);
        Bytes afterRequest;
        std::pair<int, Bytes> request;
        std::thread rawServer([&] {
            const int fd = ::accept(listening, nullptr, nullptr);
            request = receiveMessage(fd);
            sendBytes(fd, c.answer);
            if (c.answer.empty()) ::shutdown(fd, SHUT_WR);
            afterRequest = drain(fd);
            ::close(fd);
        });
        {
            Chain client(connectLoopback(port), clientFilter());
            EXPECT_EQ(client.write(Bytes{1}), -1);
            EXPECT_EQ(client.chain.error, 10721);
            ::close(client.fd);
        }
        rawServer.join();
        ::close(listening);
        EXPECT_EQ(request.first, 0xE0);
        EXPECT_TRUE(afterRequest.empty());  // no response, no record
    }
}

// A raw client runs the handshake with the key agreement itself, then sends one record frame;
// the server's read fails with the code, leaves its output empty and refuses every later read.
TEST_F(SecureChannel, RecordFaultsFailTheServersRead) {
    const Bytes message(100, 0x33);
    auto sealed = [&](Context& client) {
        Bytes record;
        EXPECT_EQ(client.seal(message, &record), 0);
        return record;
    };
    auto changed = [&](Context& client, const std::function<void(RecordFields&)>& change) {
        RecordFields f = fieldsOf(sealed(client));
        change(f);
        return frame(f.encode());
    };
    const struct {
        const char* what;
        std::function<Bytes(Context&)> frame;
        int expected;
    } cases[] = {
        {"a good record", [&](Context& c) { return frame(sealed(c)); }, 0},
        {"majorVersion 2",
         [&](Context& c) { return changed(c, [](RecordFields& f) { f.major = {0x02}; }); }, 222},
        {"a flipped cipher byte",
         [&](Context& c) { return changed(c, [](RecordFields& f) { f.cipher[0] ^= 1; }); }, 10725},
        {"a flipped mac byte",
         [&](Context& c) { return changed(c, [](RecordFields& f) { f.mac[5] ^= 1; }); }, 10725},
        {"sequence 1 first",
         [&](Context& c) { return changed(c, [](RecordFields& f) { f.sequence = {0x01}; }); },
         10725},
        {"not a record",
         [](Context&) {
             return frame(Bytes{0x05, 0x00});
         },
         20902},
        {"an empty frame",
         [](Context&) {
             return Bytes{0, 0, 0, 0};
         },
         SG_SNOWCHANNEL_ERR_BODY},
        {"a frame cut short", [](Context&) { return Bytes{0, 0, 1, 0, 0x30, 0x82}; },
         SG_SNOWCHANNEL_ERR_BODY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int port = 0;
        const int listening = listenLoopback(&port);
        KeyHandle handle(serverRsaDer());
        int rc = 0, error = 0, again = 0;
        Bytes out{0x01};
        std::thread server([&] {
            const int fd = ::accept(listening, nullptr, nullptr);
            {
                Chain chain(fd, serverFilter(golden("server.der"), handle));
                rc = chain.read(&out);
                error = chain.chain.error;
                Bytes more;
                again = chain.read(&more);
            }
            ::close(fd);
        });
        const int fd = connectLoopback(port);
        Context client(0);
        Bytes request, response;
        ASSERT_EQ(client.step({}, &request), 0);
        sendBytes(fd, handshakeMessage(0xE0, request));
        ASSERT_EQ(client.step(receiveMessage(fd).second, &response), 0);
        sendBytes(fd, handshakeMessage(0xE2, response));
        ASSERT_EQ(client.step(receiveMessage(fd).second), 0);
        sendBytes(fd, c.frame(client));
        ::shutdown(fd, SHUT_WR);
        server.join();
        ::close(fd);
        ::close(listening);
        if (c.expected == 0) {
            EXPECT_EQ(rc, 100);
            EXPECT_EQ(out, message);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(error, c.expected);
            EXPECT_TRUE(out.empty());
            EXPECT_EQ(again, -1);
        }
    }
}

// A record that cannot be sealed is not sent: the write fails with the code, the chain is done,
// and the server sees the connection end where a length would start.
TEST_F(SecureChannel, AFailedSealingSendsNothing) {
    Server server(golden("server.der"), serverRsaDer(), 2);
    {
        Chain client(connectLoopback(server.port), clientFilter());
        const Message first(5), second(6);
        ASSERT_GT(client.write(first.bytes()), 0);
        Bytes reply;
        ASSERT_GT(client.read(&reply), 0);
        const Bytes secondBytes = second.bytes();
        int rc;
        {
            memhooks::FailingAllocations noMemory(0);
            rc = client.write(secondBytes);
        }
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(client.chain.error, 10002);
        EXPECT_EQ(client.write(secondBytes), -1);  // the chain is done
        ::close(client.fd);
    }
    server.join();
    EXPECT_EQ(server.received.size(), 1u);
    EXPECT_EQ(server.failedRead, -1);
    EXPECT_EQ(server.error, -1);  // no frame began: not even a length arrived
}

// Each side's handshake belongs to its first move: a server that writes first and a client
// that reads first fail without running the other side's steps, and send nothing.
TEST_F(SecureChannel, EachSideRefusesTheOthersFirstMove) {
    KeyHandle handle(serverRsaDer());
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    {
        Chain server(pair[0], serverFilter(golden("server.der"), handle));
        EXPECT_EQ(server.write(Bytes{1, 2, 3}), -1);
        EXPECT_EQ(server.chain.error, 10726);
        Chain client(pair[1], clientFilter());
        Bytes out;
        EXPECT_EQ(client.read(&out), -1);
        EXPECT_EQ(client.chain.error, 10727);
    }
    ::shutdown(pair[0], SHUT_WR);
    ::shutdown(pair[1], SHUT_WR);
    EXPECT_TRUE(drain(pair[0], 200).empty());
    EXPECT_TRUE(drain(pair[1], 200).empty());
    ::close(pair[0]);
    ::close(pair[1]);
}

// The constructors through the Service table, their refusals, and close.
TEST_F(SecureChannel, ConstructorsThroughTheServiceTable) {
    EXPECT_EQ(Service[SGServiceSlot_SGSecureFilter_GetClient],
              reinterpret_cast<void*>(&SGSecureFilter_GetClient));
    EXPECT_EQ(Service[SGServiceSlot_SGSecureFilter_GetServer],
              reinterpret_cast<void*>(&SGSecureFilter_GetServer));
    SGSnowChannelFilter filter{};
    ASSERT_EQ(SG_SERVICE_FN(Service, SGSecureFilter_GetClient)(&filter), 0);
    EXPECT_EQ(filter.read, &filter_read);
    EXPECT_EQ(filter.write, &filter_write);
    EXPECT_EQ(filter.close, &closeFilter);
    ASSERT_NE(filter.context, nullptr);
    SGSnowChannelNode node{};
    node.filter = filter;
    EXPECT_EQ(closeFilter(&node), 0);
    EXPECT_EQ(node.filter.context, nullptr);

    KeyHandle handle(serverRsaDer());
    const Bytes certificate = golden("server.der");
    const SGBinary c = view(certificate), empty{};
    SGBinary shortHandle = handle.binary;
    shortHandle.length = 16;
    KeyHandle none(Bytes{}, SG_CRYPTO_HANDLER_NO_KEY);
    SGSnowChannelFilter untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    const struct {
        const SGBinary* certificate;
        const SGBinary* handle;
        int expected;
    } cases[] = {
        {&c, &shortHandle, 10013},       {&c, &none.binary, 10013},        {&c, nullptr, 10013},
        {&empty, &handle.binary, 10001}, {nullptr, &handle.binary, 10001},
    };
    for (const auto& k : cases) {
        SGSnowChannelFilter f = untouched;
        EXPECT_EQ(SG_SERVICE_FN(Service, SGSecureFilter_GetServer)(&f, k.certificate, k.handle),
                  k.expected);
        EXPECT_EQ(std::memcmp(&f, &untouched, sizeof f), 0);
    }
    EXPECT_EQ(SGSecureFilter_GetClient(nullptr), 10001);
    EXPECT_EQ(SGSecureFilter_GetServer(nullptr, &c, &handle.binary), 10001);
    EXPECT_EQ(closeFilter(nullptr), 0);
}

}  // namespace
