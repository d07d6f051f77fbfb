#include "TokenCodec.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "SGBase64.h"
#include "SGDigest.h"
#include "SGHex.h"
#include "TokenTestSupport.h"
#include "Util.h"

using namespace tokentest;

namespace {

// Published vectors: NIST CAVP short messages for SHA-1 and SHA-256, RFC 1321 for MD5.
const std::string kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors/hashes/";

struct DigestVector {
    std::string message;
    std::string digest;  // lower-case hex
};

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string toHex(const unsigned char* data, long length) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (long i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// Blocks of "Len = bits", "Msg = hex", "MD = hex".
std::vector<DigestVector> readVectors(const std::string& file) {
    std::ifstream in(kVectors + file);
    std::vector<DigestVector> vectors;
    long bits = -1;
    std::string message;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Len = ", 0) == 0) bits = std::stol(line.substr(6));
        if (line.rfind("Msg = ", 0) == 0) message = fromHex(line.substr(6)).substr(0, bits / 8);
        if (line.rfind("MD = ", 0) == 0 && bits >= 0 && bits % 8 == 0) {
            vectors.push_back({message, line.substr(5)});
            bits = -1;
        }
    }
    return vectors;
}

std::string opensslDigest(const EVP_MD* md, const std::string& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out, &length, md, nullptr);
    return toHex(out, length);
}

}  // namespace

TEST(Digest, PublishedVectors) {
    const struct {
        const char* file;
        int algorithm;
        size_t minimum;
    } sets[] = {
        {"MD5/rfc-1321.txt", SG_DIGEST_MD5, 7},
        {"SHA1/SHA1ShortMsg.rsp", SG_DIGEST_SHA1, 60},
        {"SHA2/SHA256ShortMsg.rsp", SG_DIGEST_SHA256, 60},
    };
    for (const auto& set : sets) {
        const auto vectors = readVectors(set.file);
        ASSERT_GE(vectors.size(), set.minimum) << set.file;
        for (const auto& v : vectors) {
            unsigned char* out = nullptr;
            long length = 0;
            ASSERT_EQ(Digest::digestData(v.message.data(), static_cast<long>(v.message.size()),
                                         set.algorithm, &out, &length),
                      0);
            EXPECT_EQ(toHex(out, length), v.digest) << set.file;
            Digest::free(out);
            if (set.algorithm != SG_DIGEST_SHA256) continue;
            ASSERT_EQ(Digest::digest(v.message.data(), static_cast<long>(v.message.size()), &out,
                                     &length),
                      0);
            EXPECT_EQ(length, 32);
            EXPECT_EQ(toHex(out, length), v.digest);
            Digest::free(out);
        }
    }
}

TEST(Digest, EndlessRehashesTheDigest) {
    const std::string data = "identity check random";
    const std::string once = opensslDigest(EVP_sha256(), data);
    for (int count : {0, 1, 2, 5}) {
        std::string expected = once;
        for (int i = 0; i < count; ++i) expected = opensslDigest(EVP_sha256(), fromHex(expected));
        unsigned char* out = nullptr;
        long length = 0;
        ASSERT_EQ(Digest::digestEndless(data.data(), static_cast<long>(data.size()), &out, &length,
                                        count),
                  0);
        EXPECT_EQ(toHex(out, length), expected) << count;
        Digest::free(out);
    }
    unsigned char* out = nullptr;
    long length = 0;
    ASSERT_EQ(Digest::digestEndless(data.data(), static_cast<long>(data.size()), &out, &length, -3),
              0);
    EXPECT_EQ(toHex(out, length), once);
    Digest::free(out);
}

TEST(Digest, RefusesWhatItCannotDigestAndLeavesNoOutput) {
    auto* garbage = reinterpret_cast<unsigned char*>(0x1);
    unsigned char* out = garbage;
    long length = 99;
    // An algorithm outside MD5, SHA-1 and SHA-256 is reported, not answered with success.
    EXPECT_EQ(Digest::digestData("abc", 3, SG_DIGEST_SHA224, &out, &length),
              SG_DIGEST_ERR_ALGORITHM);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0);
    out = garbage;
    EXPECT_EQ(Digest::digestData("abc", -1, SG_DIGEST_SHA1, &out, &length), SG_DIGEST_ERR_ARGUMENT);
    EXPECT_EQ(out, nullptr);
    out = garbage;
    EXPECT_EQ(Digest::digest(nullptr, 5, &out, &length), SG_DIGEST_ERR_ARGUMENT);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Digest::digestFile(L"/nonexistent", 99, &out, &length), SG_DIGEST_ERR_ALGORITHM);
    // An empty message is fine.
    ASSERT_EQ(Digest::digest("", 0, &out, &length), 0);
    EXPECT_EQ(toHex(out, length), opensslDigest(EVP_sha256(), ""));
    Digest::free(out);
}

TEST(Digest, FilesInChunksAndTheirErrors) {
    const std::string folder = freshFolder("digest") + "/파일";
    fs::create_directories(folder);
    std::string big;
    for (int i = 0; i < 25000; ++i) big += static_cast<char>(i * 7 + i / 256);
    writeText(folder + "/big.bin", big);
    writeText(folder + "/empty.bin", "");
    const struct {
        const char* name;
        const std::string* data;
        int algorithm;
        const EVP_MD* md;
    } cases[] = {
        {"big.bin", &big, SG_DIGEST_SHA256, EVP_sha256()},
        {"big.bin", &big, SG_DIGEST_SHA1, EVP_sha1()},
        {"big.bin", &big, SG_DIGEST_MD5, EVP_md5()},
    };
    for (const auto& c : cases) {
        unsigned char* out = nullptr;
        long length = 0;
        ASSERT_EQ(Digest::digestFile(Util::stringToWstring(folder + "/" + c.name), c.algorithm,
                                     &out, &length),
                  0);
        EXPECT_EQ(toHex(out, length), opensslDigest(c.md, *c.data));
        Digest::free(out);
    }
    unsigned char* out = nullptr;
    long length = 0;
    ASSERT_EQ(Digest::digestFile(Util::stringToWstring(folder + "/empty.bin"), SG_DIGEST_SHA256,
                                 &out, &length),
              0);
    EXPECT_EQ(toHex(out, length), opensslDigest(EVP_sha256(), ""));
    Digest::free(out);

    out = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(Digest::digestFile(Util::stringToWstring(folder + "/missing"), SG_DIGEST_SHA256, &out,
                                 &length),
              TOKEN_CODEC_ERR_OPEN);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0);
    // A folder is not a file to digest.
    EXPECT_EQ(Digest::digestFile(Util::stringToWstring(folder), SG_DIGEST_SHA256, &out, &length),
              TOKEN_CODEC_ERR_OPEN);
    EXPECT_EQ(out, nullptr);
}

TEST(Base64, RoundTripAndTrailingWhiteSpace) {
    // RFC 4648 section 10.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, text] : vectors) {
        char* encoded = nullptr;
        unsigned int length = 0;
        ASSERT_EQ(
            Base64::encode(&encoded, &length, reinterpret_cast<const unsigned char*>(plain.data()),
                           plain.size()),
            0);
        EXPECT_EQ(std::string(encoded, length), text);
        Base64::free(encoded);
        if (text.empty()) continue;
        for (const std::string& tail :
             {std::string(), std::string("\n"), std::string("\n  \t\r\n"), std::string("\v\f ")}) {
            unsigned char* decoded = nullptr;
            unsigned int decodedLength = 0;
            ASSERT_EQ(Base64::decode(&decoded, &decodedLength, (text + tail).c_str()), 0) << tail;
            EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), decodedLength), plain);
            Base64::free(decoded);
        }
    }
}

TEST(Base64, ErrorsLeaveNoOutput) {
    unsigned char* decoded = reinterpret_cast<unsigned char*>(0x1);
    unsigned int length = 5;
    EXPECT_EQ(Base64::decode(&decoded, &length, "Zm9v!"), SG_BASE64_ERR_INPUT);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(length, 0u);
    decoded = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(Base64::decode(&decoded, &length, " \n"), SG_BASE64_ERR_INPUT);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(Base64::decode(&decoded, &length, nullptr), SG_BASE64_ERR_ARGUMENT);
    EXPECT_EQ(Base64::encode(nullptr, &length, decoded, 0), SG_BASE64_ERR_ARGUMENT);
    Base64::free(nullptr);
}

TEST(Hex, CaseAndBufferForms) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0xFE};
    char text[9];
    ASSERT_EQ(Hex::encode(text, bytes, 4, true), 0);
    EXPECT_STREQ(text, "00ab7ffe");
    ASSERT_EQ(Hex::encode(text, bytes, 4, false), 0);
    EXPECT_STREQ(text, "00AB7FFE");
    char* allocated = nullptr;
    ASSERT_EQ(Hex::encode(&allocated, bytes, 4, true), 0);
    EXPECT_STREQ(allocated, "00AB7FFE");  // the allocating form is always upper case
    Hex::free(allocated);
    EXPECT_EQ(Hex::encode(bytes, 4, true), "00AB7FFE");
    EXPECT_EQ(Hex::encode(bytes, 0, false), "");

    unsigned char* decoded = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(Hex::decode(&decoded, &length, "00ab7FFE"), 0);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(std::memcmp(decoded, bytes, 4), 0);
    Hex::free(decoded);
    unsigned char fixed[4];
    ASSERT_EQ(Hex::decode(fixed, &length, "7f00"), 0);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(fixed[0], 0x7F);

    decoded = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(Hex::decode(&decoded, &length, "abc"), SG_HEX_ERR_BAD_TEXT);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(Hex::decode(&decoded, &length, "zz"), SG_HEX_ERR_BAD_TEXT);
}
