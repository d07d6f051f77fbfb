#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "SGBase64.h"
#include "SGBaseTable.h"

namespace {

void** table() {
    static void* t[SG_BASE_TABLE_SLOTS];
    static const int filled = SGBaseWrapper_GetList(t);
    EXPECT_EQ(filled, 0);
    return t;
}

struct Result {
    int rc;
    std::string text;
    uint32_t length;
};

Result encode(const std::string& bytes) {
    char* out = nullptr;
    uint32_t length = 0xFFFFFFFF;
    Result r{SG_BASE_FN(table(), SGBase64_Encode)(&out, &length, bytes.data(),
                                                  static_cast<uint32_t>(bytes.size())),
             "", length};
    if (out) {
        r.text = out;
        EXPECT_EQ(std::strlen(out), length);
        SG_BASE_FN(table(), SGBase64_Free)(out);
    }
    return r;
}

Result decode(const std::string& text) {
    // Exactly the characters, no terminator: the decoder must not read beyond length.
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    char* out = nullptr;
    uint32_t length = 0xFFFFFFFF;
    Result r{SG_BASE_FN(table(), SGBase64_Decode)(&out, &length, exact.get(),
                                                  static_cast<uint32_t>(text.size())),
             "", length};
    if (out) {
        r.text.assign(out, length);
        EXPECT_EQ(out[length], '\0') << "no NUL after the decoded bytes";
        SGBase64_Free(out);
    }
    return r;
}

std::string runOpenssl(const std::string& arguments, const std::string& input) {
    char path[] = "/tmp/sgbase64.XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    const std::string command = "openssl " + arguments + " -in " + path;
    std::string output;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
        EXPECT_EQ(pclose(p), 0) << command;
    }
    unlink(path);
    return output;
}

}  // namespace

// RFC 4648, section 10.
TEST(SGBase64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        const Result e = encode(plain);
        EXPECT_EQ(e.rc, 0);
        EXPECT_EQ(e.text, coded);
        EXPECT_EQ(e.length, std::strlen(coded));
        const Result d = decode(coded);
        EXPECT_EQ(d.rc, 0);
        EXPECT_EQ(d.text, plain);
    }
}

TEST(SGBase64, DecodeCases) {
    struct Case {
        std::string text;
        int rc;
        std::string bytes;
    } cases[] = {
        {"YQ==", 0, "a"},
        {"YWI=", 0, "ab"},
        {"YWJj", 0, "abc"},
        {"YQ==YWJj", 0, "a"},  // a padded group ends the decoding
        {"Y===", 0, ""},
        {"====", 0, ""},
        {"YWJjYQ==", 0, "abca"},
        {"", 0, ""},
        {std::string("AAAA", 4), 0, std::string(3, '\0')},
        {"YQ=", 8002, ""},
        {"YWJjY", 8002, ""},
        {"YW*j", 8002, ""},
        {"YWJj\nYQ==", 8002, ""},
        {"YQ==YW-j", 8002, ""},  // every character is checked, also after the padding
        {std::string("YW\0j", 4), 8002, ""},
    };
    for (const auto& c : cases) {
        const Result r = decode(c.text);
        EXPECT_EQ(r.rc, c.rc) << c.text;
        EXPECT_EQ(r.text, c.bytes) << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(r.length, c.bytes.size()) << c.text;
        }
    }
}

TEST(SGBase64, MissingArguments) {
    uint32_t length = 0;
    char* out = nullptr;
    EXPECT_EQ(SGBase64_Encode(nullptr, &length, "a", 1), 8001);
    EXPECT_EQ(SGBase64_Encode(&out, &length, nullptr, 1), 8001);
    EXPECT_EQ(SGBase64_Decode(nullptr, &length, "YQ==", 4), 8001);
    EXPECT_EQ(SGBase64_Decode(&out, &length, nullptr, 4), 8001);
    EXPECT_EQ(out, nullptr);
    // The length output is optional.
    ASSERT_EQ(SGBase64_Encode(&out, nullptr, "abc", 3), 0);
    EXPECT_STREQ(out, "YWJj");
    SGBase64_Free(out);
    EXPECT_EQ(SGBase64_Free(nullptr), 0);
}

// Random data of every length around the group boundaries, against the openssl tool.
TEST(SGBase64, AgreesWithOpenssl) {
    std::mt19937 rng(20240611);
    for (size_t length : {1, 2, 3, 4, 5, 47, 48, 49, 50, 1000, 4097}) {
        std::string data(length, '\0');
        for (auto& ch : data) ch = static_cast<char>(rng());
        std::string expected = runOpenssl("base64 -A", data);
        while (!expected.empty() && expected.back() == '\n') expected.pop_back();
        const Result e = encode(data);
        ASSERT_EQ(e.rc, 0);
        EXPECT_EQ(e.text, expected) << length;
        const Result d = decode(e.text);
        ASSERT_EQ(d.rc, 0);
        EXPECT_EQ(d.text, data) << length;
        EXPECT_EQ(runOpenssl("base64 -d -A", e.text), data) << length;
    }
}
