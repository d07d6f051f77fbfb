#include <gtest/gtest.h>

#include <vector>

#include "DesktopTestSupport.h"
#include "UIString.h"

using brindlow::ui::singleLine;
using brindlow::ui::stringFromEucKr;
using brindlow::ui::stringFromUtf8Field;

namespace {

// A field of exactly these bytes, so reading past its end is caught by the address sanitizer.
std::vector<char> field(std::initializer_list<unsigned char> bytes) {
    return std::vector<char>(bytes.begin(), bytes.end());
}

}  // namespace

TEST(UIStringTest, DecodesEucKrTexts) {
    struct Case {
        std::vector<char> bytes;
        QString expected;
    } cases[] = {
        // "확인" and "취소" in KS X 1001
        {field({0xC8, 0xAE, 0xC0, 0xCE, 0}), QStringLiteral("확인")},
        {field({0xC3, 0xEB, 0xBC, 0xD2, 0}), QStringLiteral("취소")},
        // ASCII passes through, a line feed included
        {field({'B', 'r', '\n', 'x', 0}), QStringLiteral("Br\nx")},
        // a byte that is no EUC-KR becomes U+FFFD and the rest is still shown
        {field({0xC8, 0xAE, 0xFF, 'a', 0}), QStringLiteral("확\uFFFDa")},
        // a lead byte cut off at the end of the text
        {field({'a', 0xC8, 0}), QStringLiteral("a\uFFFD")},
        {field({0}), QString()},
    };
    for (const Case& c : cases) EXPECT_EQ(stringFromEucKr(c.bytes.data()), c.expected);
}

TEST(UIStringTest, EucKrReadStopsAtTheGivenLength) {
    const std::vector<char> bytes = field({0xC8, 0xAE, 0xC0, 0xCE});  // no terminator
    EXPECT_EQ(stringFromEucKr(bytes.data(), bytes.size()), QStringLiteral("확인"));
    EXPECT_EQ(stringFromEucKr(bytes.data(), 2), QStringLiteral("확"));
    EXPECT_TRUE(stringFromEucKr(nullptr).isNull());
}

TEST(UIStringTest, Utf8FieldsAreReadWithinTheirSizeAndCutAtWholeCharacters) {
    // "홍길동" is ED 99 8D EA B8 B8 EB 8F 99.
    struct Case {
        std::vector<char> bytes;
        QString expected;
    } cases[] = {
        {field({'C', 'N', 0, 'x'}), QStringLiteral("CN")},
        // unterminated: read to the end of the field and no further
        {field({'a', 'b', 'c', 'd'}), QStringLiteral("abcd")},
        // the last character cut after one or two of its three bytes is dropped
        {field({'a', 0xED, 0x99, 0x8D, 0xEA}), QStringLiteral("a홍")},
        {field({'a', 0xED, 0x99, 0x8D, 0xEA, 0xB8}), QStringLiteral("a홍")},
        {field({'a', 0xED, 0x99, 0x8D, 0xEA, 0xB8, 0xB8}), QStringLiteral("a홍길")},
        // a cut four-byte character
        {field({'a', 0xF0, 0x9F, 0x98}), QStringLiteral("a")},
        // garbage inside the text is replaced, not dropped
        {field({0xFF, 'b', 0}), QStringLiteral("\uFFFDb")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stringFromUtf8Field(c.bytes.data(), c.bytes.size()), c.expected);
    EXPECT_TRUE(stringFromUtf8Field(nullptr, 4).isEmpty());
}

TEST(UIStringTest, SingleLineTurnsControlCharactersIntoBlanks) {
    EXPECT_EQ(singleLine(QStringLiteral("a\nb\r\nc\td\u2028e\x7F")), QStringLiteral("a b  c d e "));
    EXPECT_EQ(singleLine(QStringLiteral("홍길동")), QStringLiteral("홍길동"));
}
