#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SGBaseTable.h"
#include "SGHex.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A heap copy of exactly the text and its NUL, so that reading past it trips the sanitizer.
std::unique_ptr<char[]> exactCopy(const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

void** table() {
    static void* t[SG_BASE_TABLE_SLOTS];
    static const int filled = SGBaseWrapper_GetList(t);
    EXPECT_EQ(filled, 0);
    return t;
}

}  // namespace

TEST(SGHex, EncodeCases) {
    struct Case {
        Bytes bytes;
        uint32_t capacity;
        int rc;
        const char* text;
    } cases[] = {
        {{0x00, 0xAB, 0xFF}, 7, 0, "00ABFF"},
        {{0x00, 0xAB, 0xFF}, 100, 0, "00ABFF"},
        {{0x00, 0xAB, 0xFF}, 6, 1003, ""},  // no room for the NUL
        {{0x01}, 1, 1003, ""},
        {{}, 1, 0, ""},
        {{0x0F, 0xF0, 0x5A}, 7, 0, "0FF05A"},
    };
    for (const auto& c : cases) {
        std::vector<char> out(c.capacity + 1, 'x');
        EXPECT_EQ(SG_BASE_FN(table(), SGHex_Encode)(out.data(), c.capacity, c.bytes.data(),
                                                    static_cast<uint32_t>(c.bytes.size())),
                  c.rc)
            << c.text;
        EXPECT_STREQ(out.data(), c.text);
    }
    char untouched = 'x';
    EXPECT_EQ(SGHex_Encode(&untouched, 0, "\x01", 1), 1003);
    EXPECT_EQ(untouched, 'x');  // no room even for the empty string
    EXPECT_EQ(SGHex_Encode(nullptr, 10, "\x01", 1), 1001);
}

TEST(SGHex, EncodesEveryByteAsTwoUpperCaseDigits) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    std::vector<char> out(513);
    ASSERT_EQ(SGHex_Encode(out.data(), 513, all.data(), 256), 0);
    for (int i = 0; i < 256; ++i) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", i);
        EXPECT_EQ(std::string(&out[2 * i], 2), expected);
    }
}

TEST(SGHex, DecodeCases) {
    struct Case {
        std::string text;
        int rc;
        Bytes bytes;
    } cases[] = {
        {"0a 0B", 0, {0x0A, 0x0B}},
        {"00ABff", 0, {0x00, 0xAB, 0xFF}},
        {" 7f  80 ", 0, {0x7F, 0x80}},
        {"", 0, {}},
        {"   ", 0, {}},
        // Malformed text fails and never reads past its end.
        {"0", 1004, {}},
        {"0a0", 1004, {}},
        {"0 a", 1004, {}},  // a space inside a pair
        {"0g", 1004, {}},
        {"g0", 1004, {}},
        {"0a\n", 1004, {}},
        {"0x10", 1004, {}},
    };
    for (const auto& c : cases) {
        const auto text = exactCopy(c.text);
        // Exactly the room the caller provides: half the text's length.
        const size_t room = c.text.size() / 2;
        std::unique_ptr<unsigned char[]> out(new unsigned char[room + 1]);
        std::memset(out.get(), 0xEE, room + 1);
        int count = -1;
        EXPECT_EQ(SG_BASE_FN(table(), SGHex_Decode)(out.get(), &count, text.get()), c.rc)
            << '"' << c.text << '"';
        EXPECT_EQ(count, static_cast<int>(c.bytes.size())) << c.text;
        EXPECT_EQ(Bytes(out.get(), out.get() + c.bytes.size()), c.bytes) << c.text;
        if (c.rc != 0) {
            EXPECT_EQ(out[0], 0xEE) << "output written for " << c.text;
        }
    }
    int count = 0;
    unsigned char out[4];
    EXPECT_EQ(SGHex_Decode(out, &count, nullptr), 1001);
    EXPECT_EQ(SGHex_Decode(nullptr, &count, "00"), 1001);
    EXPECT_EQ(SGHex_Decode(out, nullptr, "00"), 1001);
}

TEST(SGHex, DecodeReversesEncode) {
    Bytes bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    std::vector<char> text(2 * bytes.size() + 1);
    ASSERT_EQ(SGHex_Encode(text.data(), text.size(), bytes.data(), bytes.size()), 0);
    Bytes back(bytes.size());
    int count = 0;
    ASSERT_EQ(SGHex_Decode(back.data(), &count, text.data()), 0);
    EXPECT_EQ(count, 300);
    EXPECT_EQ(back, bytes);
}

TEST(SGHex, DebugLinesGoToStandardOutput) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGBase_DebugHex("unit.c", 42, "\x00\xAB\xFF", 3), 0);
    EXPECT_EQ(SGBase_DebugHex("empty.c", 7, nullptr, 0), 0);
    EXPECT_EQ(SGBase_Debug("msg.c", 9, "%s=%d", "value", 5), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[unit.c:42]00ABFF\n[empty.c:7]\n[msg.c:9]value=5\n");

    // Longer messages are cut at the 10240-byte buffer.
    const std::string longText(20000, 'z');
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGBase_Debug("long.c", 1, "%s", longText.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[long.c:1]" + std::string(10239, 'z') + "\n");
}
