#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "SGBinary.h"
#include "SGStream.h"

namespace {

std::string text(const SGBinary& b) {
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

struct BufferStream {
    SGBinary buffer{};
    SGStream stream{};
    explicit BufferStream(const std::string& content = "") {
        if (!content.empty()) {
            EXPECT_EQ(SGBinary_Set(&buffer, content.data(), static_cast<uint32_t>(content.size())),
                      0);
        }
        EXPECT_EQ(SGStream_InitWithBinary(&stream, &buffer), 0);
    }
    ~BufferStream() {
        SGStream_Reset(&stream);
        SGBinary_Reset(&buffer);
    }
};

// Counts the calls of an output or input stream's callbacks.
struct Calls {
    int flush = 0;
    int close = 0;
    std::vector<uint32_t> reads;
    SGStream* inner = nullptr;  // the stream a counting input reads from
    int failAtRead = -1;
};

int countFlush(void* user) {
    ++static_cast<Calls*>(user)->flush;
    return 0;
}
int countClose(void* user) {
    ++static_cast<Calls*>(user)->close;
    return 7;
}
int discard(void*, const void*, uint32_t) {
    return 0;
}
int countingRead(void* user, void* destination, uint32_t length) {
    auto* calls = static_cast<Calls*>(user);
    if (static_cast<int>(calls->reads.size()) == calls->failAtRead) return 42;
    calls->reads.push_back(length);
    return SGStream_Read(destination, length, calls->inner);
}
uint64_t countingAvailable(void* user) {
    uint64_t n = 0;
    SGStream_ReadAvailable(&n, static_cast<Calls*>(user)->inner);
    return n;
}

TEST(SGStream, BufferStreamWritesAppendAndOverwrite) {
    BufferStream empty;
    ASSERT_EQ(SGStream_Write("abc", 3, &empty.stream), 0);
    ASSERT_EQ(SGStream_Write("de", 2, &empty.stream), 0);
    EXPECT_EQ(text(empty.buffer), "abcde");

    BufferStream four("wxyz");
    ASSERT_EQ(SGStream_MoveTo(&four.stream, 2), 0);
    ASSERT_EQ(SGStream_Write("1234", 4, &four.stream), 0);
    EXPECT_EQ(text(four.buffer), "wx1234");
    ASSERT_EQ(SGStream_WriteByte(0x141, &four.stream), 0);  // the low byte only
    EXPECT_EQ(text(four.buffer), "wx1234A");
}

TEST(SGStream, BufferStreamAppendsInAmortisedConstantTime) {
    // Many small writes: the buffer holds exactly what was written after every one of them, and
    // its block moves only when it doubles, not at every write.
    BufferStream s;
    std::string expected;
    int moves = 0;
    const unsigned char* block = nullptr;
    for (int i = 0; i < 40000; ++i) {
        const char piece[2] = {static_cast<char>('a' + i % 26), static_cast<char>(i)};
        const uint32_t n = 1 + i % 2;
        ASSERT_EQ(SGStream_Write(piece, n, &s.stream), 0);
        expected.append(piece, n);
        ASSERT_EQ(s.buffer.length, expected.size());
        if (s.buffer.data != block) ++moves;
        block = s.buffer.data;
    }
    EXPECT_EQ(text(s.buffer), expected);
    EXPECT_LT(moves, 20);

    // Bytes taken from the buffer's own block survive the block's move.
    BufferStream self("abc");
    ASSERT_EQ(SGStream_MoveTo(&self.stream, 3), 0);
    ASSERT_EQ(SGStream_Write(self.buffer.data, 3, &self.stream), 0);
    EXPECT_EQ(text(self.buffer), "abcabc");
    ASSERT_EQ(SGStream_Write(self.buffer.data + 1, 4, &self.stream), 0);
    EXPECT_EQ(text(self.buffer), "abcabcbcab");
}

TEST(SGStream, BufferResizedBehindTheStreamIsNotOverrun) {
    BufferStream s;
    ASSERT_EQ(SGStream_Write(std::string(100, 'x').data(), 100, &s.stream), 0);
    // Appended to directly, the buffer is reallocated to its new length exactly: the room the
    // stream had kept is gone.
    ASSERT_EQ(SGBinary_Add(&s.buffer, "0123456789", 10), 0);
    ASSERT_EQ(SGStream_Write(std::string(50, 'y').data(), 50, &s.stream), 0);
    EXPECT_EQ(text(s.buffer), std::string(100, 'x') + std::string(50, 'y'));
    ASSERT_EQ(SGStream_Write("z", 1, &s.stream), 0);
    EXPECT_EQ(s.buffer.length, 151u);
}

TEST(SGStream, BufferStreamReadsWithinItsBuffer) {
    BufferStream s("0123456789");
    char out[8] = {};
    ASSERT_EQ(SGStream_Read(out, 4, &s.stream), 0);
    EXPECT_EQ(std::string(out, 4), "0123");
    uint64_t n = 0, position = 0;
    ASSERT_EQ(SGStream_ReadAvailable(&n, &s.stream), 0);
    EXPECT_EQ(n, 6u);

    // A read past the end fails whole: nothing is copied and nothing moves.
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(SGStream_Read(out, 7, &s.stream), -1);
    EXPECT_EQ(out[0], '#');
    ASSERT_EQ(SGStream_GetPosition(&position, &s.stream), 0);
    EXPECT_EQ(position, 4u);

    EXPECT_EQ(SGStream_MoveTo(&s.stream, 7), -1);
    EXPECT_EQ(SGStream_MoveTo(&s.stream, -5), -1);
    ASSERT_EQ(SGStream_GetPosition(&position, &s.stream), 0);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(SGStream_MoveTo(&s.stream, 6), 0);  // exactly at the end
    ASSERT_EQ(SGStream_ReadAvailable(&n, &s.stream), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SGStream_Read(out, 1, &s.stream), -1);
    ASSERT_EQ(SGStream_SetPosition(&s.stream, 8), 0);
    ASSERT_EQ(SGStream_Read(out, 2, &s.stream), 0);
    EXPECT_EQ(std::string(out, 2), "89");
    ASSERT_EQ(SGStream_SetPosition(&s.stream, 1), 0);
    ASSERT_EQ(SGStream_Read(out, 1, &s.stream), 0);
    EXPECT_EQ(out[0], '1');
}

TEST(SGStream, CloseAndFlushRunOnce) {
    Calls calls;
    SGStream out{};
    ASSERT_EQ(SGStream_InitForOutput(&out, discard, nullptr, countFlush, countClose, &calls), 0);
    EXPECT_EQ(out.mode, 2u);
    EXPECT_EQ(SGStream_Close(&out), 7);
    EXPECT_EQ(SGStream_Close(&out), 0);
    EXPECT_EQ(SGStream_Flush(&out), 0);
    EXPECT_EQ(calls.flush, 1);
    EXPECT_EQ(calls.close, 1);

    SGStream noClose{};
    ASSERT_EQ(SGStream_InitForOutput(&noClose, discard, nullptr, countFlush, nullptr, &calls), 0);
    EXPECT_EQ(SGStream_Close(&noClose), 0);
    EXPECT_EQ(noClose.closed, 0u);
    EXPECT_EQ(calls.flush, 2);
}

TEST(SGStream, PipeCopiesInChunksAndFlushesOnce) {
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    BufferStream source(content);
    Calls calls;
    calls.inner = &source.stream;
    SGStream counting{};
    ASSERT_EQ(
        SGStream_InitForInput(&counting, countingRead, countingAvailable, nullptr, nullptr, &calls),
        0);

    SGBinary sink{};
    SGStream destination{};
    ASSERT_EQ(SGStream_InitWithBinary(&destination, &sink), 0);
    Calls flushes;
    SGStream flushed{};
    ASSERT_EQ(SGStream_InitForOutput(&flushed, discard, nullptr, countFlush, nullptr, &flushes), 0);

    ASSERT_EQ(SGStream_Pipe(&destination, &counting, 0), 0);
    EXPECT_EQ(calls.reads, (std::vector<uint32_t>{32768, 32768, 4464}));
    EXPECT_EQ(text(sink), content);
    EXPECT_EQ(destination.flushed, 1u);

    ASSERT_EQ(SGStream_Pipe(&flushed, &counting, 0), 0);  // nothing left: only the flush step
    EXPECT_EQ(flushes.flush, 1);
    SGStream_Reset(&destination);
    SGBinary_Reset(&sink);
}

TEST(SGStream, PipeStopsAtAFailedRead) {
    BufferStream source(std::string(100, 'x'));
    Calls calls;
    calls.inner = &source.stream;
    calls.failAtRead = 1;
    SGStream counting{};
    ASSERT_EQ(
        SGStream_InitForInput(&counting, countingRead, countingAvailable, nullptr, nullptr, &calls),
        0);
    Calls flushes;
    SGStream out{};
    ASSERT_EQ(SGStream_InitForOutput(&out, discard, nullptr, countFlush, nullptr, &flushes), 0);
    EXPECT_EQ(SGStream_Pipe(&out, &counting, 40), 42);
    EXPECT_EQ(calls.reads.size(), 1u);
    EXPECT_EQ(flushes.flush, 0);

    SGStream noData{};
    EXPECT_EQ(SGStream_Pipe(&out, &noData, 0), 1010);
    uint64_t n;
    EXPECT_EQ(SGStream_ReadAvailable(&n, &noData), -1);
}

TEST(SGStream, WindowReadsItsPartAndLeavesTheSourceWhereItWas) {
    std::string content(200, '\0');
    std::iota(content.begin(), content.end(), 0);
    BufferStream source(content);
    ASSERT_EQ(SGStream_MoveTo(&source.stream, 30), 0);

    SGStream window{};
    ASSERT_EQ(SGStream_InitWithStream(&window, &source.stream, 100, 10), 0);
    EXPECT_EQ(window.mode, 3u);
    uint64_t n = 0, position = 0;
    ASSERT_EQ(SGStream_ReadAvailable(&n, &window), 0);
    EXPECT_EQ(n, 10u);
    unsigned char out[10] = {};
    ASSERT_EQ(SGStream_Read(out, 4, &window), 0);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[3], 103);
    ASSERT_EQ(SGStream_GetPosition(&position, &source.stream), 0);
    EXPECT_EQ(position, 30u);
    ASSERT_EQ(SGStream_ReadAvailable(&n, &window), 0);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(SGStream_Read(out, 7, &window), -1);  // past the window's end
    ASSERT_EQ(SGStream_Read(out, 6, &window), 0);
    EXPECT_EQ(out[5], 109);
    SGStream_Reset(&window);

    // A window reaching past the source's end reports what the source holds.
    ASSERT_EQ(SGStream_InitWithStream(&window, &source.stream, 195, 10), 0);
    ASSERT_EQ(SGStream_ReadAvailable(&n, &window), 0);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(SGStream_Read(out, 6, &window), -1);
    ASSERT_EQ(SGStream_GetPosition(&position, &source.stream), 0);
    EXPECT_EQ(position, 30u);
    SGStream_Reset(&window);
}

TEST(SGStream, ResetFreesOwnDataButNotTheBuffer) {
    SGBinary buffer{};
    ASSERT_EQ(SGBinary_SetString(&buffer, "stays"), 0);
    SGStream s{};
    s.mode = 2;  // a mode set before is kept
    ASSERT_EQ(SGStream_InitWithBinary(&s, &buffer), 0);
    EXPECT_EQ(s.mode, 2u);
    EXPECT_EQ(s.owns, 1u);
    ASSERT_EQ(SGStream_Reset(&s), 0);
    const SGStream zero{};
    EXPECT_EQ(std::memcmp(&s, &zero, sizeof s), 0);
    EXPECT_EQ(text(buffer), "stays");
    SGBinary_Reset(&buffer);
}

TEST(SGStream, ChainsAndArguments) {
    SGStream a{}, b{}, c{};
    ASSERT_EQ(SGStream_AddChain(&a, &b), 0);
    ASSERT_EQ(SGStream_AddChain(&a, &c), 0);
    EXPECT_EQ(a.next, &b);
    EXPECT_EQ(b.next, &c);
    EXPECT_EQ(SGStream_AddChain(&a, &b), 1001);  // would loop
    EXPECT_EQ(SGStream_AddChain(&c, &c), 1001);

    SGStream cached{};
    int user = 0;
    ASSERT_EQ(SGStream_InitForInput(&cached, nullptr, nullptr, nullptr, nullptr, &user), 0);
    cached.available = 12;
    uint64_t n = 0;
    ASSERT_EQ(SGStream_ReadAvailable(&n, &cached), 0);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(SGStream_MoveTo(&cached, 5), 0);  // no moveTo: no move
    EXPECT_EQ(cached.position, 0u);
    EXPECT_EQ(SGStream_Read(&n, 1, &cached), 1001);
    EXPECT_EQ(SGStream_Write("x", 1, &cached), 1001);
    EXPECT_EQ(SGStream_InitWithBinary(nullptr, nullptr), 1001);
    EXPECT_EQ(SGStream_InitWithStream(&a, nullptr, 0, 1), 1001);
}

}  // namespace
