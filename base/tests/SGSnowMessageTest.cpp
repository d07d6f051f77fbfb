#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "SGBinary.h"
#include "SGMemory.h"
#include "SGSnowMessage.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct MessagePtr {
    SGSnowMessage* m = nullptr;
    ~MessagePtr() { SGSnowMessage_Destroy(m); }
    SGSnowMessage* operator->() const { return m; }
    operator SGSnowMessage*() const { return m; }
};

MessagePtr make(int command) {
    MessagePtr p;
    EXPECT_EQ(SGSnowMessage_Create(&p.m, command), 0);
    return p;
}

Bytes toBytes(SGSnowMessage* m) {
    uint64_t size = 0;
    EXPECT_EQ(SGSnowMessage_ToBytes(m, nullptr, &size), 0);
    Bytes out(size);
    EXPECT_EQ(SGSnowMessage_ToBytes(m, out.data(), &size), 0);
    EXPECT_EQ(size, out.size());
    return out;
}

Bytes be32(uint32_t v) {
    return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes header(uint32_t command, uint32_t version = 1) {
    return cat({be32(9), be32(0x55334422), be32(16), be32(version), be32(17), be32(command)});
}

int count(SGSnowMessage* m) {
    int n = -1;
    EXPECT_EQ(SGSnowMessage_GetCount(m, &n), 0);
    return n;
}

TEST(SGSnowMessage, NewMessageWritesTheHeaderOnly) {
    auto m = make(5);
    EXPECT_EQ(m->state, 130u);
    EXPECT_EQ(count(m), 1);
    const Bytes expected = {0, 0, 0, 0x09, 0x55, 0x33, 0x44, 0x22, 0, 0, 0, 0x10,
                            0, 0, 0, 0x01, 0,    0,    0,    0x11, 0, 0, 0, 0x05};
    EXPECT_EQ(toBytes(m), expected);
    int type = 0;
    int32_t magic = 0;
    ASSERT_EQ(SGSnowMessage_GetEntryType(m, 0, &type), 0);
    EXPECT_EQ(type, 9);
    ASSERT_EQ(SGSnowMessage_GetEntryAsInteger(m, 0, &magic), 0);
    EXPECT_EQ(static_cast<uint32_t>(magic), 0x55334422u);

    uint64_t size = 0;
    EXPECT_EQ(SGSnowMessage_ToBytes(nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 24u);
}

// Each entry kind's byte form (type, u32 length, value) and its way back.
TEST(SGSnowMessage, EveryEntryKindHasItsByteFormAndRoundTrips) {
    const unsigned char blob[] = {0x00, 0xFF, 0x10};
    struct Case {
        const char* name;
        std::function<int(SGSnowMessage*)> add;
        Bytes body;
    } cases[] = {
        {"integer", [](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsInteger(m, -2); },
         cat({be32(33), be32(4), be32(0xFFFFFFFE)})},
        {"long",
         [](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsLong(m, 0x0102030405060708ull); },
         cat({be32(34), be32(8), Bytes{1, 2, 3, 4, 5, 6, 7, 8}})},
        {"string", [](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsString(m, "인증서"); },
         cat({be32(35), be32(9), Bytes{0xEC, 0x9D, 0xB8, 0xEC, 0xA6, 0x9D, 0xEC, 0x84, 0x9C}})},
        {"empty string", [](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsString(m, ""); },
         cat({be32(35), be32(0)})},
        {"binary",
         [&](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsBinary(m, blob, sizeof blob); },
         cat({be32(36), be32(3), Bytes{0x00, 0xFF, 0x10}})},
        {"empty binary",
         [](SGSnowMessage* m) { return SGSnowMessage_AddEntryAsBinary(m, nullptr, 0); },
         cat({be32(36), be32(0)})},
        {"other type", [](SGSnowMessage* m) { return SGSnowMessage_AddEntry(m, 200, "xy", 2); },
         cat({be32(200), be32(2), Bytes{'x', 'y'}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = make(0x01020304);
        ASSERT_EQ(c.add(m), 0);
        const Bytes bytes = toBytes(m);
        EXPECT_EQ(bytes, cat({header(0x01020304), c.body}));

        auto back = make(0);
        ASSERT_EQ(SGSnowMessage_FromBytes(back, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(back->state, 247u);
        EXPECT_EQ(SGSnowMessage_GetCommand(back), 0x01020304);
        EXPECT_EQ(count(back), 2);
        EXPECT_EQ(toBytes(back), bytes);
        uint64_t a = 0, b = 0;
        ASSERT_EQ(SGSnowMessage_GetEntry(m, 2, nullptr, &a), 0);
        ASSERT_EQ(SGSnowMessage_GetEntry(back, 2, nullptr, &b), 0);
        ASSERT_EQ(a, b);
        Bytes ra(a), rb(b);
        ASSERT_EQ(SGSnowMessage_GetEntry(m, 2, ra.data(), &a), 0);
        ASSERT_EQ(SGSnowMessage_GetEntry(back, 2, rb.data(), &b), 0);
        EXPECT_EQ(ra, rb);
    }
}

TEST(SGSnowMessage, ManyEntriesKeepTheirOrderAndValues) {
    auto m = make(-7);
    ASSERT_EQ(SGSnowMessage_AddEntryAsInteger(m, INT32_MIN), 0);
    ASSERT_EQ(SGSnowMessage_AddEntryAsLong(m, UINT64_MAX), 0);
    ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "last but one"), 0);
    const std::string big(70000, 'q');
    ASSERT_EQ(SGSnowMessage_AddEntryAsBinary(m, big.data(), big.size()), 0);
    const Bytes bytes = toBytes(m);

    auto back = make(0);
    ASSERT_EQ(SGSnowMessage_FromBytes(back, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(SGSnowMessage_GetCommand(back), -7);
    EXPECT_EQ(count(back), 5);
    int32_t i = 0;
    uint64_t l = 0;
    char* s = nullptr;
    SGBinary bin{};
    ASSERT_EQ(SGSnowMessage_GetEntryAsInteger(back, 2, &i), 0);
    EXPECT_EQ(i, INT32_MIN);
    ASSERT_EQ(SGSnowMessage_GetEntryAsLong(back, 3, &l), 0);
    EXPECT_EQ(l, UINT64_MAX);
    ASSERT_EQ(SGSnowMessage_GetEntryAsString(back, 4, &s), 0);
    EXPECT_STREQ(s, "last but one");
    SGMemory_free(s);
    ASSERT_EQ(SGSnowMessage_GetEntryAsBinary(back, 5, &bin), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bin.data), bin.length), big);
    SGBinary_Reset(&bin);
}

TEST(SGSnowMessage, AddEntryWithoutDataWritesZeros) {
    auto m = make(1);
    ASSERT_EQ(SGSnowMessage_AddEntry(m, 36, nullptr, 300), 0);
    uint64_t length = 0;
    ASSERT_EQ(SGSnowMessage_GetEntryLength(m, 2, &length), 0);
    ASSERT_EQ(length, 300u);
    Bytes value(300, 0xAA);
    ASSERT_EQ(SGSnowMessage_GetEntryValue(m, 2, 0, value.data(), value.size()), 0);
    EXPECT_EQ(value, Bytes(300, 0));
    EXPECT_EQ(SGSnowMessage_AddEntry(nullptr, 36, nullptr, 4), 1001);
}

TEST(SGSnowMessage, ReadersCheckTheEntryKindAndIndex) {
    auto m = make(1);
    ASSERT_EQ(SGSnowMessage_AddEntryAsInteger(m, 1), 0);      // 2
    ASSERT_EQ(SGSnowMessage_AddEntryAsLong(m, 2), 0);         // 3
    ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "s"), 0);     // 4
    ASSERT_EQ(SGSnowMessage_AddEntryAsBinary(m, "b", 1), 0);  // 5
    ASSERT_EQ(SGSnowMessage_AddEntry(m, 34, "abc", 3), 0);    // 6: a long that is too short
    int32_t i;
    uint64_t l;
    char* s = nullptr;
    SGBinary b{};
    EXPECT_EQ(SGSnowMessage_GetEntryAsLong(m, 2, &l), 1002);
    EXPECT_EQ(SGSnowMessage_GetEntryAsLong(m, 6, &l), 1002);
    EXPECT_EQ(SGSnowMessage_GetEntryAsInteger(m, 3, &i), 1002);
    EXPECT_EQ(SGSnowMessage_GetEntryAsString(m, 5, &s), 1002);
    EXPECT_EQ(SGSnowMessage_GetEntryAsBinary(m, 4, &b), 1002);
    EXPECT_EQ(SGSnowMessage_GetEntryAsInteger(m, 7, &i), 1001);
    EXPECT_EQ(SGSnowMessage_GetEntryAsInteger(m, -1, &i), 1001);
    int type;
    EXPECT_EQ(SGSnowMessage_GetEntryType(m, 7, &type), 1001);
    EXPECT_EQ(SGSnowMessage_GetEntryType(nullptr, 0, &type), -1);
    uint64_t size;
    EXPECT_EQ(SGSnowMessage_GetEntry(m, 7, nullptr, &size), -1);
    EXPECT_EQ(SGSnowMessage_GetCommand(nullptr), 1001);
    EXPECT_EQ(SGSnowMessage_AddEntryAsCommand(nullptr, 3), 1001);
    EXPECT_EQ(SGSnowMessage_AddEntryAsCommand(m, 3), 0);
    EXPECT_EQ(SGSnowMessage_GetCommand(m), 3);
}

TEST(SGSnowMessage, EntryRecordAndValueRanges) {
    auto m = make(1);
    ASSERT_EQ(SGSnowMessage_AddEntryAsBinary(m, "abcdef", 6), 0);
    uint64_t size = 0;
    ASSERT_EQ(SGSnowMessage_GetEntry(m, 2, nullptr, &size), 0);
    ASSERT_EQ(size, 18u);
    Bytes record(size);
    ASSERT_EQ(SGSnowMessage_GetEntry(m, 2, record.data(), &size), 0);
    uint32_t type;
    uint64_t length;
    std::memcpy(&type, record.data(), 4);
    std::memcpy(&length, record.data() + 4, 8);
    EXPECT_EQ(type, 36u);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::string(record.begin() + 12, record.end()), "abcdef");

    ASSERT_EQ(SGSnowMessage_UpdateEntryValue(m, 2, "XY", 4, 2), 0);
    char out[6];
    ASSERT_EQ(SGSnowMessage_GetEntryValue(m, 2, 0, out, 6), 0);
    EXPECT_EQ(std::string(out, 6), "abcdXY");
    struct {
        uint64_t offset, length;
    } outside[] = {{5, 2}, {7, 0}, {UINT64_MAX, 2}, {2, UINT64_MAX}};
    for (const auto& r : outside) {
        EXPECT_EQ(SGSnowMessage_UpdateEntryValue(m, 2, "XY", r.offset, r.length), -1);
        EXPECT_EQ(SGSnowMessage_GetEntryValue(m, 2, r.offset, out, r.length), -1);
    }
    EXPECT_EQ(SGSnowMessage_GetEntryValue(m, 9, 0, out, 1), 1001);
}

TEST(SGSnowMessage, ClearAndDestroy) {
    auto m = make(4);
    ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "gone"), 0);
    ASSERT_EQ(SGSnowMessage_Clear(m), 0);
    EXPECT_EQ(m->state, 247u);
    EXPECT_EQ(count(m), 0);
    EXPECT_EQ(SGSnowMessage_GetCommand(m), 4);
    EXPECT_EQ(SGSnowMessage_Clear(nullptr), -1);
    EXPECT_EQ(SGSnowMessage_Destroy(nullptr), 0);
    EXPECT_EQ(SGSnowMessage_Create(nullptr, 1), -1);
}

// Malformed input is refused with 1002 and leaves the target as it was; no length taken from the
// input is trusted beyond the bytes that are there.
TEST(SGSnowMessage, FromBytesRefusesMalformedInput) {
    const Bytes good = cat({header(8), be32(36), be32(2), Bytes{'o', 'k'}});
    struct Case {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"short header", Bytes(good.begin(), good.begin() + 20)},
        {"no command", Bytes(good.begin(), good.begin() + 16)},
        {"wrong magic", cat({be32(9), be32(0x55334423), be32(16), be32(1), be32(17), be32(8)})},
        {"magic type", cat({be32(10), be32(0x55334422), be32(16), be32(1), be32(17), be32(8)})},
        {"version zero", header(8, 0)},
        {"command type", cat({be32(9), be32(0x55334422), be32(16), be32(1), be32(18), be32(8)})},
        {"cut entry header", cat({header(8), Bytes{0, 0, 0, 36, 0, 0}})},
        {"cut value", cat({header(8), be32(36), be32(3), Bytes{'o', 'k'}})},
        {"huge length", cat({header(8), be32(36), be32(0xFFFFFFFF), Bytes{1, 2, 3}})},
        {"integer of 3", cat({header(8), be32(33), be32(3), Bytes{1, 2, 3}})},
        {"long of 4", cat({header(8), be32(34), be32(4), Bytes{1, 2, 3, 4}})},
        {"magic in body", cat({header(8), be32(9), be32(4), be32(0x55334422)})},
        {"version in body", cat({header(8), be32(16), be32(4), be32(1)})},
        {"command in body", cat({header(8), be32(17), be32(4), be32(3)})},
        {"trailing bytes", cat({good, Bytes{0, 0, 0}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = make(77);
        ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "keep"), 0);
        const Bytes before = toBytes(m);
        EXPECT_EQ(SGSnowMessage_FromBytes(m, c.bytes.data() ? c.bytes.data() : good.data(),
                                          c.bytes.size()),
                  1002);
        EXPECT_EQ(SGSnowMessage_FromBytes(nullptr, c.bytes.data() ? c.bytes.data() : good.data(),
                                          c.bytes.size()),
                  1002);
        EXPECT_EQ(toBytes(m), before);
        EXPECT_EQ(m->state, 130u);
    }
    auto m = make(1);
    EXPECT_EQ(SGSnowMessage_FromBytes(m, nullptr, 24), -1);
    EXPECT_EQ(SGSnowMessage_FromBytes(m, good.data(), good.size()), 0);
    EXPECT_EQ(SGSnowMessage_FromBytes(nullptr, good.data(), good.size()), 0);
}

TEST(SGSnowMessage, ParseReplacesEntriesAndKeepsTheVersionRead) {
    auto m = make(1);
    ASSERT_EQ(SGSnowMessage_AddEntryAsString(m, "old"), 0);
    const Bytes bytes = cat({header(9, 3), be32(33), be32(4), be32(12)});
    ASSERT_EQ(SGSnowMessage_FromBytes(m, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(count(m), 2);
    int32_t version = 0, value = 0;
    ASSERT_EQ(SGSnowMessage_GetEntryAsInteger(m, 1, &version), 0);
    EXPECT_EQ(version, 3);
    ASSERT_EQ(SGSnowMessage_GetEntryAsInteger(m, 2, &value), 0);
    EXPECT_EQ(value, 12);
    // Written again, the message carries the current format version.
    EXPECT_EQ(toBytes(m), cat({header(9, 1), be32(33), be32(4), be32(12)}));
}

}  // namespace
