#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Sha256.h"
#include "DesktopPlatformSupport.h"

namespace {

std::string hex(const unsigned char* d, size_t n) {
    static const char* kDigits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[d[i] >> 4];
        s += kDigits[d[i] & 15];
    }
    return s;
}

std::vector<unsigned char> unhex(const std::string& s) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

std::string digestOf(const unsigned char* data, size_t n, size_t chunk = 0) {
    Sha256Context ctx;
    Sha256_Init(&ctx);
    if (chunk == 0) chunk = n ? n : 1;
    for (size_t off = 0; off < n; off += chunk)
        Sha256_Update(&ctx, data + off, std::min(chunk, n - off));
    unsigned char out[32];
    Sha256_Final(&ctx, out);
    return hex(out, 32);
}

// Every "Len/Msg/MD" record of a CAVP response file.
void checkCavpFile(const std::string& file) {
    std::ifstream in(file);
    if (!in) GTEST_SKIP() << "vectors not installed: " << file;
    std::string line, msg;
    long len = -1;
    int checked = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Len = ", 0) == 0)
            len = std::stol(line.substr(6));
        else if (line.rfind("Msg = ", 0) == 0)
            msg = line.substr(6);
        else if (line.rfind("MD = ", 0) == 0) {
            std::vector<unsigned char> bytes = unhex(msg);
            bytes.resize(static_cast<size_t>(len / 8));
            EXPECT_EQ(digestOf(bytes.data(), bytes.size()), line.substr(5)) << "Len = " << len;
            // The same message fed in uneven pieces.
            EXPECT_EQ(digestOf(bytes.data(), bytes.size(), 7), line.substr(5)) << "Len = " << len;
            ++checked;
        }
    }
    EXPECT_GT(checked, 60);
}

}  // namespace

TEST(Sha256, CavpShortMessages) {
    checkCavpFile(BRINDLOW_SHA2_VECTORS "/SHA256ShortMsg.rsp");
}

TEST(Sha256, CavpLongMessages) {
    checkCavpFile(BRINDLOW_SHA2_VECTORS "/SHA256LongMsg.rsp");
}

TEST(Sha256, FipsExamplesAndContextReset) {
    const std::string abc = "abc";
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha256Context ctx;
    Sha256_Init(&ctx);
    Sha256_Update(&ctx, reinterpret_cast<const unsigned char*>(abc.data()), abc.size());
    unsigned char out[32];
    Sha256_Final(&ctx, out);
    EXPECT_EQ(hex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Final leaves the context ready for the next message.
    Sha256_Update(&ctx, reinterpret_cast<const unsigned char*>(two.data()), two.size());
    Sha256_Final(&ctx, out);
    EXPECT_EQ(hex(out, 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    const std::string million(1000000, 'a');
    EXPECT_EQ(
        digestOf(reinterpret_cast<const unsigned char*>(million.data()), million.size(), 4093),
        "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Files around the padding boundaries and the installer's size limit, against openssl dgst.
TEST(Sha256, MatchesOpensslOnFiles) {
    desktop_test::TempDir dir;
    std::mt19937 rng(17);
    for (size_t size : {size_t{0}, size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64},
                        size_t{65}, size_t{119}, size_t{10240}}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const auto file = dir.path() / ("f" + std::to_string(size));
        desktop_test::spit(file, bytes);
        const std::string cmd = "openssl dgst -sha256 -r '" + file.string() + "'";
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buf[128] = {};
        ASSERT_NE(fgets(buf, sizeof(buf), p), nullptr);
        ASSERT_EQ(pclose(p), 0);
        EXPECT_EQ(digestOf(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
                  std::string(buf, 64))
            << size << " bytes";
    }
}
