#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SGBinary.h"
#include "SGSnowChannel.h"
#include "SGSnowMessage.h"
#include "SGSocket.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

struct MessagePtr {
    SGSnowMessage* m = nullptr;
    explicit MessagePtr(int command = 0) { EXPECT_EQ(SGSnowMessage_Create(&m, command), 0); }
    ~MessagePtr() { SGSnowMessage_Destroy(m); }
    operator SGSnowMessage*() const { return m; }
};

Bytes toBytes(SGSnowMessage* m) {
    uint64_t size = 0;
    EXPECT_EQ(SGSnowMessage_ToBytes(m, nullptr, &size), 0);
    Bytes out(size);
    EXPECT_EQ(SGSnowMessage_ToBytes(m, out.data(), &size), 0);
    return out;
}

Bytes be32(uint32_t v) {
    return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

Bytes framed(const Bytes& body) {
    Bytes out = be32(static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void fill(SGSnowMessage* m) {
    ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "subject"), 0);
    ASSERT_EQ(SGSnowMessage_AddEntryAsInteger(m, 1024), 0);
    ASSERT_EQ(SGSnowMessage_AddEntryAsBinary(m, "\x00\x01\x02", 3), 0);
}

// A connected pair of stream sockets; the channel uses one end, the test the other.
class SGSnowChannelSocket : public testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        mine_ = fds[0];
        peer_ = fds[1];
    }
    void TearDown() override {
        SGSnowChannel_Close();
        if (mine_ >= 0) close(mine_);
        if (peer_ >= 0) close(peer_);
    }
    void open(int* timeout) {
        SGSnowChannelOpen record{&mine_, SG_SNOWCHANNEL_SOCKET, timeout};
        int handle = -1;
        ASSERT_EQ(SGSnowChannel_Open(&handle, &record), 0);
        EXPECT_EQ(handle, 0);
    }
    void send(const Bytes& bytes) {
        ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }
    Bytes receive(size_t n) {
        Bytes out(n);
        EXPECT_EQ(SGSocket_RecvAll(peer_, out.data(), static_cast<int>(n), 5), 0);
        return out;
    }

    int mine_ = -1;
    int peer_ = -1;
    int oneSecond_ = 1;
};

TEST_F(SGSnowChannelSocket, MessageTravelsAsLengthAndBytes) {
    open(&oneSecond_);
    MessagePtr out(12);
    fill(out);
    const Bytes body = toBytes(out);
    ASSERT_EQ(SGSnowChannel_Write(0, out), 0);
    EXPECT_EQ(receive(4 + body.size()), framed(body));

    send(framed(body));
    MessagePtr in;
    EXPECT_EQ(SGSnowChannel_Read(0, in), static_cast<int>(body.size()));
    EXPECT_EQ(toBytes(in), body);
    EXPECT_EQ(SGSnowMessage_GetCommand(in), 12);
}

TEST_F(SGSnowChannelSocket, ReadWaitsTheDefaultFiveSeconds) {
    open(nullptr);
    MessagePtr in;
    const auto start = Clock::now();
    EXPECT_EQ(SGSnowChannel_Read(0, in), -1);
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(waited, 4.9);
    EXPECT_LT(waited, 9.0);
}

TEST_F(SGSnowChannelSocket, PeerClosingBeforeTheLengthGivesMinusOne) {
    open(&oneSecond_);
    send({0, 0});
    close(peer_);
    peer_ = -1;
    MessagePtr in(3);
    const Bytes before = toBytes(in);
    EXPECT_EQ(SGSnowChannel_Read(0, in), -1);
    EXPECT_EQ(toBytes(in), before);
}

// Bodies cut short or announced with an impossible length are errors, never a zero-filled or
// huge buffer; the chain stops there, because the stream cannot be followed any further.
TEST_F(SGSnowChannelSocket, BadBodiesAreErrorsAndStopTheChain) {
    MessagePtr good(1);
    const Bytes body = toBytes(good);
    struct Case {
        const char* name;
        Bytes bytes;
        bool closeAfter;
    } cases[] = {
        {"cut body",
         [&] {
             Bytes b = be32(100);
             b.insert(b.end(), body.begin(), body.end());
             return b;
         }(),
         true},
        {"zero length", be32(0), false},
        {"largest length", be32(0xFFFFFFFF), false},
        {"one above the limit", be32(SG_SNOWCHANNEL_MAX_BODY + 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        open(&oneSecond_);
        send(c.bytes);
        if (!c.closeAfter)
            send(framed(body));  // a sound frame behind it is not reached
        else {
            close(peer_);
            peer_ = -1;
        }
        MessagePtr in(9);
        const Bytes before = toBytes(in);
        EXPECT_EQ(SGSnowChannel_Read(0, in), -1);
        EXPECT_EQ(toBytes(in), before);
        EXPECT_EQ(SGSnowChannel_Read(0, in), -1);
        EXPECT_EQ(SGSnowChannel_Write(0, in), -1);
    }
}

TEST_F(SGSnowChannelSocket, MalformedMessageGivesTheParseError) {
    open(&oneSecond_);
    send(framed({'n', 'o', 't', ' ', 'a', ' ', 'm', 'e', 's', 's', 'a', 'g',
                 'e', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'}));
    MessagePtr in(4);
    const Bytes before = toBytes(in);
    EXPECT_EQ(SGSnowChannel_Read(0, in), 1002);
    EXPECT_EQ(toBytes(in), before);
}

// Filters for the chain tests: each appends its tag to what it writes and expects it back at the
// end of what it reads; every call and close is recorded.
struct Tagger {
    char tag;
    std::string* log;
    bool passDown = true;
};

int tagWrite(SGBinary* in, SGSimpleFilterChain* chain) {
    auto* t = static_cast<Tagger*>(chain->current->filter.context);
    *t->log += std::string("w") + t->tag;
    if (!t->passDown) return 0;
    SGBinary tagged{};
    if (SGBinary_Copy(&tagged, in) != 0 || SGBinary_Add(&tagged, &t->tag, 1) != 0) return -1;
    const int rc = chain->write(chain, &tagged);
    SGBinary_Reset(&tagged);
    return rc;
}

int tagRead(SGBinary* out, SGSimpleFilterChain* chain) {
    auto* t = static_cast<Tagger*>(chain->current->filter.context);
    *t->log += std::string("r") + t->tag;
    const int rc = chain->read(chain, out);
    if (rc < 0 || out->length == 0 || out->data[out->length - 1] != t->tag) return -1;
    --out->length;  // the buffer keeps its size; only the length shrinks
    return rc - 1;
}

int tagClose(SGSnowChannelNode* node) {
    auto* t = static_cast<Tagger*>(node->filter.context);
    *t->log += std::string("c") + t->tag;
    return 0;
}

SGSnowChannelFilter tagger(Tagger* t) {
    SGSnowChannelFilter f{};
    f.read = tagRead;
    f.write = tagWrite;
    f.close = tagClose;
    f.context = t;
    return f;
}

TEST_F(SGSnowChannelSocket, FiltersRunNewestFirstAndCloseOnce) {
    open(&oneSecond_);
    std::string log;
    Tagger a{'A', &log}, b{'B', &log};
    const SGSnowChannelFilter fa = tagger(&a), fb = tagger(&b);
    ASSERT_EQ(SGSnowChannel_AddFilter(0, &fa), 0);
    ASSERT_EQ(SGSnowChannel_AddFilter(0, &fb), 0);

    MessagePtr out(21);
    fill(out);
    Bytes body = toBytes(out);
    ASSERT_EQ(SGSnowChannel_Write(0, out), 0);
    Bytes expected = body;
    expected.push_back('B');
    expected.push_back('A');
    EXPECT_EQ(receive(4 + expected.size()), framed(expected));

    send(framed(expected));
    MessagePtr in;
    EXPECT_EQ(SGSnowChannel_Read(0, in), static_cast<int>(body.size()));
    EXPECT_EQ(toBytes(in), body);
    EXPECT_EQ(log, "wBwArBrA");

    ASSERT_EQ(SGSnowChannel_Close(), 0);
    EXPECT_EQ(log, "wBwArBrAcAcB");
    ASSERT_EQ(SGSnowChannel_Close(), 0);  // nothing left to close
    EXPECT_EQ(log, "wBwArBrAcAcB");
}

// A filter that keeps a write to itself must not leave later operations starting below it.
TEST_F(SGSnowChannelSocket, EveryOperationStartsAtTheNewestFilter) {
    open(&oneSecond_);
    std::string log;
    Tagger a{'A', &log}, b{'B', &log, false};
    const SGSnowChannelFilter fa = tagger(&a), fb = tagger(&b);
    ASSERT_EQ(SGSnowChannel_AddFilter(0, &fa), 0);
    ASSERT_EQ(SGSnowChannel_AddFilter(0, &fb), 0);
    MessagePtr out(1);
    ASSERT_EQ(SGSnowChannel_Write(0, out), 0);
    ASSERT_EQ(SGSnowChannel_Write(0, out), 0);
    ASSERT_EQ(SGSnowChannel_Close(), 0);
    EXPECT_EQ(log, "wBwBcAcB");
}

int failingWrite(SGBinary*, SGSimpleFilterChain* chain) {
    chain->error = 10721;
    return -1;
}

TEST_F(SGSnowChannelSocket, ChainErrorRefusesLaterOperations) {
    open(&oneSecond_);
    SGSnowChannelFilter f{};
    f.write = failingWrite;
    ASSERT_EQ(SGSnowChannel_AddFilter(0, &f), 0);
    MessagePtr m(1);
    EXPECT_EQ(SGSnowChannel_Write(0, m), -1);
    MessagePtr good(2);
    send(framed(toBytes(good)));
    EXPECT_EQ(SGSnowChannel_Read(0, m), -1);
    EXPECT_EQ(SGSnowMessage_GetCommand(m), 1);
}

TEST(SGSnowChannel, FileChannelWritesAndReadsBack) {
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    SGSnowChannelOpen record{file, SG_SNOWCHANNEL_FILE, nullptr};
    int handle = -1;
    ASSERT_EQ(SGSnowChannel_Open(&handle, &record), 0);
    MessagePtr first(1), second(2);
    fill(second);
    const Bytes a = toBytes(first), b = toBytes(second);
    EXPECT_EQ(SGSnowChannel_Write(0, first), static_cast<int>(a.size()));
    EXPECT_EQ(SGSnowChannel_Write(0, second), static_cast<int>(b.size()));

    rewind(file);
    MessagePtr in;
    EXPECT_EQ(SGSnowChannel_Read(0, in), static_cast<int>(a.size()));
    EXPECT_EQ(toBytes(in), a);
    EXPECT_EQ(SGSnowChannel_Read(0, in), static_cast<int>(b.size()));
    EXPECT_EQ(toBytes(in), b);
    EXPECT_EQ(SGSnowChannel_Read(0, in), -1);  // end of file
    EXPECT_EQ(toBytes(in), b);
    SGSnowChannel_Close();
    fclose(file);
}

TEST(SGSnowChannel, TruncatedFileBodyIsAnError) {
    MessagePtr m(5);
    fill(m);
    const Bytes whole = framed(toBytes(m));
    const Bytes bytes(whole.begin(), whole.begin() + (whole.size() - 3));
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    rewind(file);
    SGSnowChannelOpen record{file, SG_SNOWCHANNEL_FILE, nullptr};
    ASSERT_EQ(SGSnowChannel_Open(nullptr, &record), 0);
    MessagePtr in(8);
    EXPECT_EQ(SGSnowChannel_Read(0, in), -1);
    EXPECT_EQ(SGSnowMessage_GetCommand(in), 8);
    SGSnowChannel_Close();
    fclose(file);
}

// One end of a pipe for writing, the other for reading; reopening the channel replaces it.
TEST(SGSnowChannel, ThroughAPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* reader = fdopen(fds[0], "rb");
    FILE* writer = fdopen(fds[1], "wb");
    ASSERT_TRUE(reader && writer);
    SGSnowChannelOpen out{writer, SG_SNOWCHANNEL_FILE, nullptr};
    ASSERT_EQ(SGSnowChannel_Open(nullptr, &out), 0);
    MessagePtr m(33);
    fill(m);
    const Bytes body = toBytes(m);
    EXPECT_EQ(SGSnowChannel_Write(0, m), static_cast<int>(body.size()));
    fclose(writer);

    SGSnowChannelOpen in{reader, SG_SNOWCHANNEL_FILE, nullptr};
    ASSERT_EQ(SGSnowChannel_Open(nullptr, &in), 0);
    MessagePtr got;
    EXPECT_EQ(SGSnowChannel_Read(0, got), static_cast<int>(body.size()));
    EXPECT_EQ(toBytes(got), body);
    EXPECT_EQ(SGSnowChannel_Read(0, got), -1);
    SGSnowChannel_Close();
    fclose(reader);
}

TEST(SGSnowChannel, MissingArguments) {
    SGSnowChannel_Close();
    MessagePtr m(1);
    EXPECT_EQ(SGSnowChannel_Open(nullptr, nullptr), -1);
    EXPECT_EQ(SGSnowChannel_Write(0, m), -1);  // not open
    EXPECT_EQ(SGSnowChannel_Read(0, m), -1);
    SGSnowChannelFilter f{};
    EXPECT_EQ(SGSnowChannel_AddFilter(0, &f), -1);
    FILE* file = tmpfile();
    SGSnowChannelOpen record{file, 0, nullptr};
    ASSERT_EQ(SGSnowChannel_Open(nullptr, &record), 0);
    EXPECT_EQ(SGSnowChannel_AddFilter(0, nullptr), -1);
    EXPECT_EQ(SGSnowChannel_Read(0, nullptr), -1);
    EXPECT_EQ(SGSnowChannel_Write(0, nullptr), -1);
    SGBinary empty{};
    SGSimpleFilterChain chain{};
    SGSnowChannelSource source{};
    EXPECT_EQ(SGFinalFilter_Write(&empty, &chain), -1);
    EXPECT_EQ(SGSimplerFilterChain_Init(&chain, nullptr), -1);
    EXPECT_EQ(SGSimplerFilterChain_Init(nullptr, &source), -1);
    SGSnowChannel_Close();
    fclose(file);
}

}  // namespace
