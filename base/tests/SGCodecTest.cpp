#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SGBaseTable.h"
#include "SGBinary.h"
#include "SGCodec.h"
#include "SGMemory.h"

namespace {

constexpr const char* kCP949 = "ko_KR.CP949";
constexpr const char* kEUCKR = "ko_KR.euc-kr";
constexpr const char* kUTF8 = "ko_KR.UTF-8";
constexpr const char* kMAC = "ko_KR.UTF-8-MAC";
constexpr const char* kU16LE = "ko_KR.UTF-16-LE";
constexpr const char* kU16BE = "ko_KR.UTF-16-BE";
constexpr const char* kU32LE = "ko_KR.UTF-32-LE";
constexpr const char* kU32BE = "ko_KR.UTF-32-BE";
const char* const kAllNames[] = {kCP949, kEUCKR, kUTF8, kMAC, kU16LE, kU16BE, kU32LE, kU32BE};

void** table() {
    static void* t[SG_BASE_TABLE_SLOTS];
    static const int filled = SGBaseWrapper_GetList(t);
    EXPECT_EQ(filled, 0);
    return t;
}

bool is16(const char* name) {
    return std::strstr(name, "UTF-16") != nullptr;
}

struct Conv {
    int rc;
    std::string out;
    bool operator==(const Conv& o) const { return rc == o.rc && out == o.out; }
};

std::ostream& operator<<(std::ostream& os, const Conv& c) {
    os << "rc " << c.rc << " [";
    for (unsigned char b : c.out) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", b);
        os << hex;
    }
    return os << "]";
}

// Converts input (given without its terminator) and reads the output up to its terminator.
Conv convert(const char* from, const char* to, const std::string& input) {
    // Exactly the input and zeros enough to end it in any unit width.
    std::unique_ptr<char[]> in(new char[input.size() + 8]());
    std::memcpy(in.get(), input.data(), input.size());
    char* const untouched = reinterpret_cast<char*>(&in);
    char* out = untouched;
    Conv c{SG_BASE_FN(table(), SGCodecConvertCodeSet)(from, to, in.get(), &out), ""};
    if (c.rc != 0) {
        EXPECT_EQ(out, untouched) << "output set on failure " << from << " -> " << to;
        return c;
    }
    size_t n = 0;
    if (is16(to)) {
        while (out[n] || out[n + 1]) n += 2;
    } else {
        n = std::strlen(out);
    }
    c.out.assign(out, n);
    SGMemory_free(out);
    return c;
}

std::string utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

std::string utf8(const std::vector<uint32_t>& units) {
    std::string s;
    for (uint32_t u : units) s += utf8(u);
    return s;
}

std::string be16(uint32_t c) {
    return {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

// The dependency itself, for the sweeps.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        EXPECT_NE(cd_, reinterpret_cast<iconv_t>(-1)) << from << " -> " << to;
    }
    ~Iconv() { iconv_close(cd_); }
    // The whole input converted, or false.
    bool run(const std::string& input, std::string& output, size_t* irreversible = nullptr) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string in = input;
        char buffer[64];
        char* ip = in.data();
        size_t il = in.size();
        char* op = buffer;
        size_t ol = sizeof buffer;
        const size_t r = iconv(cd_, &ip, &il, &op, &ol);
        if (r == static_cast<size_t>(-1) || il != 0) return false;
        if (irreversible) *irreversible = r;
        output.assign(buffer, op);
        return true;
    }

  private:
    iconv_t cd_;
};

bool specPair(bool cp949, unsigned lead, unsigned trail) {
    if (!cp949) return lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE;
    const bool letter = (trail >= 'A' && trail <= 'Z') || (trail >= 'a' && trail <= 'z');
    if (lead < 0x81 || lead > 0xFE) return false;
    if (lead <= 0xC6) return letter || (trail >= 0x81 && trail <= 0xFE);
    return trail >= 0xA1 && trail <= 0xFE;
}

// The layer's folder, from its test-data folder (which need not exist).
std::string layerPath(const std::string& relative) {
    const std::string data = BRINDLOW_TEST_DATA;
    return data.substr(0, data.rfind("/tests/data")) + "/" + relative;
}

std::string runCommand(const std::string& command, int* status) {
    std::string output;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        *status = -1;
        return output;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
    *status = pclose(p);
    return output;
}

const std::string kGenerator = layerPath("tools/gen_codec_tables.py");

}  // namespace

TEST(SGCodec, VersionAndBuildText) {
    EXPECT_STREQ(SG_BASE_FN(table(), SGCodecGetVersion)(), "2.0.0.0");
    const std::string text = SG_BASE_FN(table(), SGCodecGetBuildInfo)();
    // "Version : 2.0.0.0, Build Date : Jun 11 2024 09:30:05"
    char month[4] = {};
    int day = 0, year = 0, h = -1, m = -1, sec = -1, end = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "Version : 2.0.0.0, Build Date : %3s %d %d %d:%d:%d%n",
                          month, &day, &year, &h, &m, &sec, &end),
              6)
        << text;
    EXPECT_EQ(static_cast<size_t>(end), text.size()) << text;
    EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(month), std::string::npos);
    EXPECT_TRUE(day >= 1 && day <= 31 && year >= 2024 && h <= 23 && m <= 59 && sec <= 60) << text;
    EXPECT_EQ(text.substr(text.size() - 9, 1), " ");
    EXPECT_EQ(text.substr(text.size() - 6, 1), ":");
}

// Each name selects the code set that Convert treats as equal to it (9001 for the same set).
TEST(SGCodec, NameMatching) {
    struct Case {
        const char* name;
        const char* selects;  // null: unknown
    } cases[] = {
        {"ko_KR.CP949", kCP949},
        {"", kCP949},
        {"ko_KR.", kCP949},
        {"KO_kr.cp", kCP949},
        {"ko_KR.EUC-KR", kEUCKR},
        {"ko_kr.utf-8", kUTF8},
        {"ko_KR.UTF", kUTF8},
        {"ko_KR.UTF-8-mac", kMAC},
        {"ko_KR.UTF-16", kU16LE},
        {"ko_KR.UTF-16-BE", kU16BE},
        {"ko_KR.UTF-32", kU32LE},
        {"ko_KR.utf-32-be", kU32BE},
        {"ko_KR.UTF-8-MACX", nullptr},
        {"ko_KR.UTF-16-LEX", nullptr},
        {"UTF-8", nullptr},
        {"ko_KR.CP9499", nullptr},
    };
    for (const auto& c : cases) {
        for (const char* other : kAllNames) {
            const int rc = convert(c.name, other, "A").rc;
            if (!c.selects) {
                EXPECT_EQ(rc, 9003) << c.name;
                EXPECT_EQ(convert(other, c.name, "A").rc, 9003) << c.name;
            } else if (std::strcmp(other, c.selects) == 0) {
                EXPECT_EQ(rc, 9001) << c.name << " vs " << other;
            } else {
                EXPECT_NE(rc, 9001) << c.name << " vs " << other;
            }
        }
    }
}

TEST(SGCodec, ConvertCases) {
    const std::string han = bytes({0xED, 0x95, 0x9C});  // U+D55C
    const std::string hanMac = bytes({0xE1, 0x84, 0x92, 0xE1, 0x85, 0xA1, 0xE1, 0x86, 0xAB});
    struct Case {
        const char* from;
        const char* to;
        std::string input;
        int rc;
        std::string output;
    } cases[] = {
        // Same set, before the input is looked at.
        {kUTF8, kUTF8, "\xFF", 9001, ""},
        {kUTF8, "ko_kr.utf-8", "a", 9001, ""},
        // UTF-32: measured, never converted.
        {kUTF8, kU32LE, "a", -1, ""},
        {kUTF8, kU32BE, "", 0, ""},
        {kU32LE, kUTF8, bytes({'a', 0, 0, 0}), 9003, ""},
        {kU32BE, kUTF8, "", 0, ""},
        {kCP949, kUTF8, "", 0, ""},
        // Korean byte encodings.
        {kEUCKR, kUTF8, bytes({0xC7, 0xD1}), 0, han},
        {kUTF8, kEUCKR, han, 0, bytes({0xC7, 0xD1})},
        {kEUCKR, kUTF8, "ab" + bytes({0xB0, 0xA1}) + "c", 0, "ab" + utf8(0xAC00) + "c"},
        {kEUCKR, kUTF8, bytes({0xB0}), -2, ""},
        {kEUCKR, kUTF8, bytes({0xB0, 0x41}), -1, ""},
        {kEUCKR, kUTF8, bytes({0x80}), -1, ""},
        {kEUCKR, kUTF8, bytes({0x81, 0x41}), -1, ""},  // extension codes are CP949 only
        {kEUCKR, kUTF8, bytes({0xC9, 0xA1}), -1, ""},
        {kEUCKR, kUTF8, bytes({0xA2, 0xE8}), 0, utf8(0x327E)},
        {kCP949, kUTF8, bytes({0x81, 0x41}), 0, utf8(0xAC02)},
        {kCP949, kUTF8, bytes({0xC6, 0x52}), 0, utf8(0xD7A3)},
        {kCP949, kUTF8, bytes({0xC6, 0x53}), -1, ""},
        {kCP949, kUTF8, bytes({0xA2, 0xE8}), -1, ""},
        {kCP949, kUTF8, bytes({0xC9, 0xA1}), 0, utf8(0xE000)},
        {kCP949, kUTF8, bytes({0xC9, 0xFE}), 0, utf8(0xE05D)},
        {kCP949, kUTF8, bytes({0xFE, 0xA1}), 0, utf8(0xE05E)},
        {kCP949, kUTF8, bytes({0xFE, 0xFE}), 0, utf8(0xE0BB)},
        {kCP949, kUTF8, bytes({0xC9, 0x41}), -1, ""},
        {kCP949, kUTF8, bytes({0x81}), -2, ""},
        {kUTF8, kCP949, utf8(0x327E), -1, ""},
        {kUTF8, kEUCKR, utf8(0x327E), 0, bytes({0xA2, 0xE8})},
        {kUTF8, kCP949, utf8(0xE05E), 0, bytes({0xFE, 0xA1})},
        {kUTF8, kCP949, utf8(0xE0BC), -1, ""},
        {kUTF8, kEUCKR, utf8(0xE000), -1, ""},
        {kUTF8, kEUCKR, utf8(0x20A9), -1, ""},  // no KS X 1001 code (only a look-alike)
        {kUTF8, kEUCKR, utf8(0x0080), -1, ""},
        {kUTF8, kCP949, utf8(0xAC02), 0, bytes({0x81, 0x41})},
        // UTF-8 forms.
        {kUTF8, kU16BE, utf8(0xAC00), 0, bytes({0xAC, 0x00})},
        {kUTF8, kU16LE, "A" + utf8(0xAC00), 0, bytes({'A', 0, 0x00, 0xAC})},
        {kUTF8, kU16BE, bytes({0xE1, 0x84}), -2, ""},
        {kUTF8, kU16BE, bytes({0xFF}), -1, ""},
        {kUTF8, kU16BE, bytes({0xFE}), -1, ""},
        {kUTF8, kU16BE, bytes({0x80}), -1, ""},
        {kUTF8, kU16BE, bytes({0xC0, 0x80}), -1, ""},
        {kUTF8, kU16BE, bytes({0xC1, 0xBF}), -1, ""},
        {kUTF8, kU16BE, bytes({0xE0, 0x80, 0x80}), -1, ""},
        {kUTF8, kU16BE, bytes({0xE0, 0x9F}), -1, ""},  // overlong already after two bytes
        {kUTF8, kU16BE, bytes({0xE1, 0x41, 0x80}), -1, ""},
        {kUTF8, kU16BE, bytes({0xED, 0xA0, 0x80}), -1, ""},  // a surrogate is no character
        {kUTF8, kU16BE, bytes({0xF0, 0x9F, 0x98, 0x80}), -1, ""},
        {kUTF8, kMAC, bytes({0xF0, 0x9F, 0x98, 0x80}), -1, ""},
        {kUTF8, kMAC, bytes({0xF0, 0x9F, 0x98}), -2, ""},
        {kUTF8, kEUCKR, bytes({0xF0, 0x9F, 0x98, 0x80}), -1, ""},
        {kMAC, kUTF8, bytes({0xF0, 0x9F, 0x98, 0x80}), -2, ""},          // above U+FFFF into UTF-8
        {kUTF8, kU16BE, bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), -1, ""},  // five bytes: U+200000
        {kUTF8, kU16BE, bytes({0xF8, 0x87, 0xBF, 0xBF, 0xBF}), -1, ""},  // overlong five
        {kUTF8, kU16BE, bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), -1, ""},
        {kUTF8, kU16BE, bytes({0xFC, 0x84, 0x80, 0x80, 0x80}), -2, ""},
        {kMAC, kU16BE, bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), -1, ""},  // four bytes at most
        // 16-bit forms and their byte-order marks.
        {kU16BE, kUTF8, bytes({0xFE, 0xFF, 0xAC, 0x00}), 0, utf8(0xAC00)},
        {kU16LE, kUTF8, bytes({0xFF, 0xFE, 0x00, 0xAC}), 0, utf8(0xAC00)},
        {kU16LE, kUTF8, bytes({'a', 0, 0xFF, 0xFE, 'b', 0}), 0, "ab"},
        {kU16LE, kUTF8, bytes({0xFE, 0xFF}), 0, ""},
        // U+FFFE swaps the order of the next unit only.
        {kU16LE, kUTF8, bytes({0xFE, 0xFF, 0xAC, 0x00, 0x00, 0xAC}), 0,
         utf8(0xAC00) + utf8(0xAC00)},
        {kU16BE, kUTF8, bytes({0xFF, 0xFE, 0x00, 0xAC, 0xAC, 0x00}), 0,
         utf8(0xAC00) + utf8(0xAC00)},
        {kU16BE, kUTF8, bytes({0xFF, 0xFE}), 0, ""},
        {kU16BE, kUTF8, bytes({0xD8, 0x3D, 0xDE, 0x00}), -1, ""},
        {kU16LE, kUTF8, bytes({0x00, 0xDC}), -1, ""},
        {kU16BE, kU16LE, bytes({0xAC, 0x00, 0x00, 'A'}), 0, bytes({0x00, 0xAC, 'A', 0})},
        {kU16BE, kEUCKR, bytes({0xD5, 0x5C}), 0, bytes({0xC7, 0xD1})},
        {kUTF8, kU16BE, utf8(0xFFFE), -1, ""},
        {kUTF8, kU16BE, bytes({0xEF, 0xBB, 0xBF}) + "a", 0, bytes({0xFE, 0xFF, 0, 'a'})},
        // Decomposed UTF-8.
        {kUTF8, kMAC, han, 0, hanMac},
        {kMAC, kUTF8, hanMac, 0, han},
        {kUTF8, kMAC, utf8(0xAC00), 0, utf8({0x1100, 0x1161})},
        {kUTF8, kMAC, utf8(0x00E9), 0, "e" + utf8(0x0301)},
        {kMAC, kUTF8, "e" + utf8(0x0301), 0, utf8(0x00E9)},
        {kMAC, kUTF8, "a" + utf8(0x0323) + utf8(0x0302), 0, utf8(0x1EAD)},
        {kMAC, kUTF8, "=" + utf8(0x0338), 0, utf8(0x2260)},
        {kUTF8, kMAC, utf8(0x2260), 0, utf8(0x2260)},  // U+2000-U+2FFF stay composed
        {kUTF8, kMAC, utf8(0xF900), 0, utf8(0xF900)},
        {kUTF8, kMAC, utf8(0x00BF) + utf8(0x00A8), 0, utf8(0x00BF) + utf8(0x00A8)},
        {kMAC, kUTF8, utf8(0x0301) + "e", 0, utf8(0x0301) + "e"},
        {kMAC, kUTF8, utf8({0x1100, 0x1161, 0x11AB, 0x1161}), 0, utf8({0xAC04, 0x1161})},
        {kMAC, kUTF8, utf8({0x1100, 0x11AB}), 0, utf8({0x1100, 0x11AB})},
        {kMAC, kUTF8, utf8({0xAC01, 0x11AB}), 0, utf8({0xAC01, 0x11AB})},  // LVT takes no T
        {kMAC, kUTF8, "e" + bytes({0xCC}), -2, ""},
        {kMAC, kEUCKR, hanMac, 0, bytes({0xC7, 0xD1})},
        {kUTF8, kMAC, utf8(0xFFFE), -1, ""},
    };
    for (const auto& c : cases) {
        const Conv got = convert(c.from, c.to, c.input);
        EXPECT_EQ(got, (Conv{c.rc, c.output}))
            << c.from << " -> " << c.to << " " << Conv{0, c.input};
    }
}

TEST(SGCodec, OutputIsZeroFilledAfterTheText) {
    char* out = nullptr;
    ASSERT_EQ(SGCodecConvertCodeSet(kUTF8, kU16BE, "\xEA\xB0\x80", &out), 0);
    EXPECT_EQ(std::string(out, 4), bytes({0xAC, 0x00, 0x00, 0x00}));
    SGMemory_free(out);
    ASSERT_EQ(SGCodecConvertCodeSet(kCP949, kUTF8, "", &out), 0);
    EXPECT_EQ(std::string(out, 2), std::string(2, '\0'));
    SGMemory_free(out);
    // Decomposition grows the text past twice its input length.
    const std::string many = utf8(0x1F82) + utf8(0x1F82) + utf8(0x1F82);
    ASSERT_EQ(SGCodecConvertCodeSet(kUTF8, kMAC, many.c_str(), &out), 0);
    EXPECT_EQ(std::string(out), utf8({0x03B1, 0x0313, 0x0300, 0x0345, 0x03B1, 0x0313, 0x0300,
                                      0x0345, 0x03B1, 0x0313, 0x0300, 0x0345}));
    SGMemory_free(out);
}

TEST(SGCodec, MissingArguments) {
    char* out = nullptr;
    EXPECT_EQ(SGCodecConvertCodeSet(nullptr, kUTF8, "a", &out), 9001);
    EXPECT_EQ(SGCodecConvertCodeSet(kUTF8, nullptr, "a", &out), 9001);
    EXPECT_EQ(SGCodecConvertCodeSet(kEUCKR, kUTF8, nullptr, &out), 9001);
    EXPECT_EQ(SGCodecConvertCodeSet(kEUCKR, kUTF8, "a", nullptr), 9001);
    EXPECT_EQ(SGCodecEncodeURL(nullptr, &out), 9001);
    EXPECT_EQ(SGCodecDecodeURL("a", nullptr), 9001);
    EXPECT_EQ(SGCodecEscapeString(nullptr, &out), 9001);
    EXPECT_EQ(SGCodecUnescapeString(nullptr, &out), 9001);
    EXPECT_EQ(SGCodecBinToString(nullptr, &out), 9001);
    SGBinary bin{};
    EXPECT_EQ(SGCodecStringToBin(nullptr, &bin), 9001);
    EXPECT_EQ(SGCodecStringToBin("a", nullptr), 9001);
    EXPECT_EQ(out, nullptr);
}

TEST(SGCodec, UrlAndEscapeCases) {
    using Fn = int (*)(const char*, char**);
    const Fn encodeUrl = SG_BASE_FN(table(), SGCodecEncodeURL);
    const Fn decodeUrl = SG_BASE_FN(table(), SGCodecDecodeURL);
    const Fn escape = SG_BASE_FN(table(), SGCodecEscapeString);
    const Fn unescape = SG_BASE_FN(table(), SGCodecUnescapeString);
    struct Case {
        Fn fn;
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {encodeUrl, "encode", "a b/c", "a%20b/c"},
        {encodeUrl, "encode", "Az09-./:_\\@", "Az09-./:_\\@"},
        {encodeUrl, "encode", "~+?&=%", "%7e%2b%3f%26%3d%25"},
        {encodeUrl, "encode", utf8(0xD55C), "%ed%95%9c"},
        {encodeUrl, "encode", "", ""},
        {escape, "escape", "a b/c", "a%20b%2fc"},
        {escape, "escape", "Az09-._~", "Az09-._~"},
        {escape, "escape", ":@\\", "%3a%40%5c"},
        {decodeUrl, "decode", "a+b%41", "a bA"},
        {decodeUrl, "decode", "%ed%95%9C", utf8(0xD55C)},
        {decodeUrl, "decode", "100%", "100%"},  // "%" without two digits stays
        {decodeUrl, "decode", "%4", "%4"},
        {decodeUrl, "decode", "%zz+", "%zz "},
        {decodeUrl, "decode", "%4g%41", "%4gA"},
        {decodeUrl, "decode", "%%41", "%A"},
        {unescape, "unescape", "a+b%41", "a+bA"},
        {unescape, "unescape", "50%+", "50%+"},
        {unescape, "unescape", "%2", "%2"},
    };
    for (const auto& c : cases) {
        // Exactly sized input, so reading past its end trips the sanitizer.
        std::unique_ptr<char[]> in(new char[c.in.size() + 1]);
        std::memcpy(in.get(), c.in.c_str(), c.in.size() + 1);
        char* out = nullptr;
        ASSERT_EQ(c.fn(in.get(), &out), 0) << c.name << " " << c.in;
        EXPECT_EQ(std::string(out), c.out) << c.name << " " << c.in;
        SGMemory_free(out);
    }
}

TEST(SGCodec, BinaryAndStringCopies) {
    SGBinary bin{};
    ASSERT_EQ(SG_BASE_FN(table(), SGCodecStringToBin)("abc", &bin), 0);
    EXPECT_EQ(bin.length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bin.data), 4), std::string("abc\0", 4));
    char* text = nullptr;
    ASSERT_EQ(SG_BASE_FN(table(), SGCodecBinToString)(&bin, &text), 0);
    EXPECT_STREQ(text, "abc");
    SGMemory_free(text);
    SGBinary_Reset(&bin);
    ASSERT_EQ(SGCodecBinToString(&bin, &text), 0);  // an empty record gives ""
    EXPECT_STREQ(text, "");
    SGMemory_free(text);
}

// Every two-byte code of both Korean code sets against the dependency's own tables.
TEST(SGCodec, KoreanCodesAgreeWithIconvAndRoundTrip) {
    for (const bool cp949 : {false, true}) {
        const char* name = cp949 ? kCP949 : kEUCKR;
        Iconv reference("UTF-16BE", cp949 ? "CP949" : "EUC-KR");
        int decodable = 0;
        for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
            for (unsigned trail = 0x00; trail <= 0xFF; ++trail) {
                const std::string code =
                    trail ? bytes({int(lead), int(trail)}) : bytes({int(lead)});
                Conv expected{-1, ""};
                const bool leadOk =
                    cp949 ? lead >= 0x81 && lead <= 0xFE : lead >= 0xA1 && lead <= 0xFE;
                std::string ref;
                if (leadOk && trail == 0) {
                    expected = {-2, ""};
                } else if (!specPair(cp949, lead, trail)) {
                    expected = {-1, ""};
                } else if (cp949 && (lead == 0xC9 || lead == 0xFE)) {
                    // User-defined rows: private use, which the library leaves out.
                    expected = {0, be16(0xE000 + (lead == 0xFE ? 94 : 0) + trail - 0xA1)};
                } else if (cp949 && lead == 0xA2 && trail == 0xE8) {
                    expected = {-1, ""};
                } else if (reference.run(code, ref) && ref.size() == 2) {
                    expected = {0, ref};
                }
                const Conv got = convert(name, kU16BE, code);
                ASSERT_EQ(got, expected) << name << " " << Conv{0, code};
                if (got.rc != 0) continue;
                ++decodable;
                ASSERT_EQ(convert(kU16BE, name, got.out), (Conv{0, code})) << name;
            }
        }
        // KS X 1001 (with the euro sign, the registered sign and U+327E), plus for CP949 the
        // 8822 extension syllables and the 188 user-defined codes, less U+327E.
        EXPECT_EQ(decodable, cp949 ? 17048 + 188 : 8227) << name;
    }
}

// Every BMP character into both Korean code sets against the dependency's tables; a code is
// only taken when it decodes back to the same character.
TEST(SGCodec, BmpCharactersAgreeWithIconvAndRoundTrip) {
    for (const bool cp949 : {false, true}) {
        const char* name = cp949 ? kCP949 : kEUCKR;
        Iconv toKorean(cp949 ? "CP949" : "EUC-KR", "UTF-16BE");
        Iconv fromKorean("UTF-16BE", cp949 ? "CP949" : "EUC-KR");
        int encodable = 0;
        for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
            if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFEFF || c == 0xFFFE) continue;
            Conv expected{-1, ""};
            std::string ref, back;
            size_t irreversible = 0;
            if (cp949 && c >= 0xE000 && c <= 0xE0BB) {
                const uint32_t i = c - 0xE000;
                expected = {0, bytes({i < 94 ? 0xC9 : 0xFE, int(0xA1 + i % 94)})};
            } else if (cp949 && c == 0x327E) {
                expected = {-1, ""};
            } else if (toKorean.run(be16(c), ref, &irreversible) && irreversible == 0 &&
                       ref.size() == 2 && fromKorean.run(ref, back) && back == be16(c)) {
                expected = {0, ref};
            }
            const Conv got = convert(kU16BE, name, be16(c));
            ASSERT_EQ(got, expected) << name << " U+" << std::hex << c;
            if (got.rc != 0) continue;
            ++encodable;
            ASSERT_EQ(convert(name, kU16BE, got.out), (Conv{0, be16(c)})) << name;
        }
        EXPECT_EQ(encodable, cp949 ? 17048 + 188 : 8227) << name;
    }
}

// Every BMP character through decomposition and back, against Unicode 3.2 as Python's
// unicodedata computes it.
TEST(SGCodec, Utf8MacAgreesWithUnicode32) {
    int status = 0;
    const std::string reference = runCommand("python3 " + kGenerator + " --reference", &status);
    ASSERT_EQ(status, 0) << "python3 " << kGenerator;
    std::map<uint32_t, std::vector<uint32_t>> nfd, nfc;
    struct Pair {
        uint32_t base, mark, composite;
    };
    std::vector<Pair> pairs;
    std::istringstream lines(reference);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind, first;
        fields >> kind >> first;
        const uint32_t c = std::stoul(first, nullptr, 16);
        std::vector<uint32_t> units;
        for (std::string u; fields >> u;) units.push_back(std::stoul(u, nullptr, 16));
        if (kind == "D")
            nfd[c] = units;
        else if (kind == "C")
            nfc[c] = units;
        else if (kind == "P")
            pairs.push_back({c, units.at(0), units.at(1)});
    }
    ASSERT_GT(nfd.size(), 11172u);
    ASSERT_EQ(pairs.size(), 917u);
    std::set<uint32_t> marks;
    for (const auto& p : pairs) marks.insert(p.mark);
    EXPECT_EQ(marks.size(), 53u);

    for (uint32_t c = 1; c <= 0xFFFF; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE) continue;
        const bool kept = c < 0xC0 || (c >= 0x2000 && c <= 0x2FFF) || (c >= 0xF900 && c <= 0xFAFF);
        const auto d = nfd.find(c);
        const auto r = nfc.find(c);
        const std::string decomposed = kept || d == nfd.end() ? utf8(c) : utf8(d->second);
        const std::string recomposed = kept || r == nfc.end() ? utf8(c) : utf8(r->second);
        const Conv down = convert(kUTF8, kMAC, utf8(c));
        ASSERT_EQ(down, (Conv{0, decomposed})) << "U+" << std::hex << c;
        ASSERT_EQ(convert(kMAC, kUTF8, down.out), (Conv{0, recomposed})) << "U+" << std::hex << c;
    }
    for (const auto& p : pairs)
        EXPECT_EQ(convert(kMAC, kUTF8, utf8({p.base, p.mark})), (Conv{0, utf8(p.composite)}))
            << std::hex << p.base << " " << p.mark;
}

TEST(SGCodec, GeneratedTablesAreUpToDate) {
    int status = 0;
    const std::string output = runCommand("python3 " + kGenerator + " --check", &status);
    EXPECT_EQ(status, 0) << output;
}
