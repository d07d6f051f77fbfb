#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "CryptoTestUtil.h"
#include "SGDigest.h"
#include "SGDigestInternal.h"

using namespace cryptotest;

namespace {

struct DigestFile {
    int id;
    const char* file;
};

constexpr DigestFile kShavsFiles[] = {
    {SG_DIGEST_SHA1, "hashes/SHA1/SHA1ShortMsg.rsp"},
    {SG_DIGEST_SHA1, "hashes/SHA1/SHA1LongMsg.rsp"},
    {SG_DIGEST_SHA224, "hashes/SHA2/SHA224ShortMsg.rsp"},
    {SG_DIGEST_SHA224, "hashes/SHA2/SHA224LongMsg.rsp"},
    {SG_DIGEST_SHA256, "hashes/SHA2/SHA256ShortMsg.rsp"},
    {SG_DIGEST_SHA256, "hashes/SHA2/SHA256LongMsg.rsp"},
    {SG_DIGEST_SHA384, "hashes/SHA2/SHA384ShortMsg.rsp"},
    {SG_DIGEST_SHA384, "hashes/SHA2/SHA384LongMsg.rsp"},
    {SG_DIGEST_SHA512, "hashes/SHA2/SHA512ShortMsg.rsp"},
    {SG_DIGEST_SHA512, "hashes/SHA2/SHA512LongMsg.rsp"},
    {SG_DIGEST_MD5, "hashes/MD5/rfc-1321.txt"},
};

// The digest through the context calls, the message fed in pieces of the given size.
std::string digestInPieces(int id, const Bytes& msg, size_t piece) {
    SGDigestContext* ctx = nullptr;
    EXPECT_EQ(SGDigestContext_New(&ctx, id), 0);
    EXPECT_EQ(SGDigest_Init(ctx), 0);
    for (size_t off = 0; off < msg.size(); off += piece) {
        const size_t n = std::min(piece, msg.size() - off);
        EXPECT_EQ(SGDigest_Update(ctx, msg.data() + off, static_cast<uint32_t>(n)), 0);
    }
    unsigned char out[64];
    EXPECT_EQ(SGDigest_Final(ctx, out), 0);
    const std::string result = hex(out, static_cast<size_t>(SGDigest_GetDigestSize(id)));
    EXPECT_EQ(SGDigestContext_Free(ctx), 0);
    return result;
}

std::string oneShot(int id, const Bytes& msg) {
    unsigned char out[64];
    EXPECT_EQ(SGDigest(out, id, msg.data(), static_cast<uint32_t>(msg.size())), 0);
    return hex(out, static_cast<size_t>(SGDigest_GetDigestSize(id)));
}

// One-shot and context calls in pieces of 1, 63, 64 and 65 bytes must all give the expected value.
void checkAllWays(int id, const Bytes& msg, const std::string& expected, const std::string& what) {
    EXPECT_EQ(oneShot(id, msg), expected) << what;
    for (size_t piece : {1, 63, 64, 65})
        EXPECT_EQ(digestInPieces(id, msg, piece), expected) << what << " in pieces of " << piece;
}

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b) v = static_cast<unsigned char>(rng());
    return b;
}

}  // namespace

TEST(SGDigest, PublishedVectorsAllWays) {
    for (const DigestFile& f : kShavsFiles) {
        int count = 0;
        for (const Record& r : readRecords(kVectors + "/" + f.file)) {
            if (!r.count("MD")) continue;
            Bytes msg = unhex(r.at("Msg"));
            msg.resize(std::stoul(r.at("Len")) / 8);  // Len 0 carries a placeholder byte
            checkAllWays(f.id, msg, r.at("MD"), std::string(f.file) + " Len " + r.at("Len"));
            ++count;
        }
        EXPECT_GE(count, 7) << f.file;
    }
}

// The SHAVS Monte Carlo chains: 100 checkpoints of 1,000 chained digests each.
TEST(SGDigest, ShavsMonteCarlo) {
    const DigestFile files[] = {{SG_DIGEST_SHA1, "hashes/SHA1/SHA1Monte.rsp"},
                                {SG_DIGEST_SHA224, "hashes/SHA2/SHA224Monte.rsp"},
                                {SG_DIGEST_SHA256, "hashes/SHA2/SHA256Monte.rsp"},
                                {SG_DIGEST_SHA384, "hashes/SHA2/SHA384Monte.rsp"},
                                {SG_DIGEST_SHA512, "hashes/SHA2/SHA512Monte.rsp"}};
    for (const DigestFile& f : files) {
        const auto records = readRecords(kVectors + "/" + f.file);
        ASSERT_FALSE(records.empty());
        Bytes seed = unhex(records.front().at("Seed"));
        const size_t size = seed.size();
        int checkpoints = 0;
        for (const Record& r : records) {
            if (!r.count("MD")) continue;
            Bytes md[3] = {seed, seed, seed};
            for (int i = 0; i < 1000; ++i) {
                Bytes m;
                for (const Bytes& part : md) m.insert(m.end(), part.begin(), part.end());
                Bytes next(size);
                ASSERT_EQ(SGDigest(next.data(), f.id, m.data(), static_cast<uint32_t>(m.size())),
                          0);
                md[0] = md[1];
                md[1] = md[2];
                md[2] = next;
            }
            seed = md[2];
            ASSERT_EQ(hex(seed), r.at("MD")) << f.file << " COUNT " << r.at("COUNT");
            ++checkpoints;
        }
        EXPECT_EQ(checkpoints, 100) << f.file;
    }
}

TEST(SGDigest, Has160StandardVectorsAllWays) {
    int count = 0;
    for (const Record& r : readRecords(std::string(BRINDLOW_TEST_DATA) + "/has160.vec")) {
        const std::string text = r.count("Msg") ? r.at("Msg") : "";
        const int repeat = r.count("Repeat") ? std::stoi(r.at("Repeat")) : 1;
        Bytes msg;
        for (int i = 0; i < repeat; ++i) msg.insert(msg.end(), text.begin(), text.end());
        if (msg.size() > 100000) {
            EXPECT_EQ(oneShot(SG_DIGEST_HAS160, msg), r.at("MD"));
            EXPECT_EQ(digestInPieces(SG_DIGEST_HAS160, msg, 65), r.at("MD"));
        } else {
            checkAllWays(SG_DIGEST_HAS160, msg, r.at("MD"), "\"" + text + "\"");
        }
        unsigned char out[20];
        ASSERT_EQ(SGHAS160(out, msg.data(), static_cast<uint32_t>(msg.size())), 0);
        EXPECT_EQ(hex(out, 20), r.at("MD"));
        ++count;
    }
    EXPECT_EQ(count, 8);
}

// Random lengths around the block boundaries against OpenSSL, in every feeding pattern.
TEST(SGDigest, AgreesWithOpenSslAcrossLengths) {
    const struct {
        int id;
        const EVP_MD* md;
    } algs[] = {{SG_DIGEST_MD5, EVP_md5()},       {SG_DIGEST_SHA1, EVP_sha1()},
                {SG_DIGEST_SHA224, EVP_sha224()}, {SG_DIGEST_SHA256, EVP_sha256()},
                {SG_DIGEST_SHA384, EVP_sha384()}, {SG_DIGEST_SHA512, EVP_sha512()}};
    for (size_t len : {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000, 4097}) {
        const Bytes msg = randomBytes(len, static_cast<uint32_t>(len));
        for (const auto& a : algs) {
            unsigned char ref[64];
            unsigned int refLen = 0;
            ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), ref, &refLen, a.md, nullptr), 1);
            checkAllWays(a.id, msg, hex(ref, refLen),
                         "id " + std::to_string(a.id) + " length " + std::to_string(len));
        }
    }
}

TEST(SGDigest, Sizes) {
    const int expected[][3] = {{2, 16, 64},  {3, 20, 64},  {4, 28, 64}, {5, 32, 64},
                               {6, 48, 128}, {7, 64, 128}, {8, 20, 64}};
    for (const auto& e : expected) {
        EXPECT_EQ(SGDigest_GetDigestSize(e[0]), e[1]) << e[0];
        EXPECT_EQ(SGDigest_GetBlockSize(e[0]), e[2]) << e[0];
    }
    for (int bad : {-1, 0, 1, 9, 10}) {
        EXPECT_EQ(SGDigest_GetDigestSize(bad), 202) << bad;
        EXPECT_EQ(SGDigest_GetBlockSize(bad), 202) << bad;
    }
}

TEST(SGDigest, DuplicateContinuesIndependently) {
    const Bytes head = randomBytes(100, 1), tail = randomBytes(77, 2);
    for (int id = SG_DIGEST_MD5; id <= SG_DIGEST_HAS160; ++id) {
        SGDigestContext* source = nullptr;
        ASSERT_EQ(SGDigestContext_New(&source, id), 0);
        ASSERT_EQ(SGDigest_Init(source), 0);
        ASSERT_EQ(SGDigest_Update(source, head.data(), 100), 0);
        SGDigestContext copy{};
        ASSERT_EQ(SGDigestContext_Duplicate(&copy, source), 0) << id;
        unsigned char a[64], b[64];
        ASSERT_EQ(SGDigest_Update(&copy, tail.data(), 77), 0);
        ASSERT_EQ(SGDigest_Final(&copy, b), 0);
        ASSERT_EQ(SGDigest_Update(source, tail.data(), 77), 0);
        ASSERT_EQ(SGDigest_Final(source, a), 0);
        Bytes whole = head;
        whole.insert(whole.end(), tail.begin(), tail.end());
        const size_t n = static_cast<size_t>(SGDigest_GetDigestSize(id));
        EXPECT_EQ(hex(a, n), hex(b, n)) << id;
        EXPECT_EQ(hex(a, n), oneShot(id, whole)) << id;
        SGDigestContext_Clear(&copy);
        SGDigestContext_Free(source);
    }
    SGDigestContext empty{}, dest{};
    EXPECT_EQ(SGDigestContext_Duplicate(&dest, &empty), 202);
    EXPECT_EQ(SGDigestContext_Duplicate(nullptr, &empty), 11);
    EXPECT_EQ(SGDigestContext_Duplicate(&dest, nullptr), 11);
}

TEST(SGDigest, ShaContextKeepsItsResult) {
    SGDigestContext ctx{};
    ASSERT_EQ(SGDigestContext_Init(&ctx, SG_DIGEST_SHA256), 0);
    ASSERT_EQ(SGDigest_Init(&ctx), 0);
    ASSERT_EQ(SGDigest_Update(&ctx, reinterpret_cast<const unsigned char*>("abc"), 3), 0);
    unsigned char first[32], second[32];
    ASSERT_EQ(SGDigest_Final(&ctx, first), 0);
    EXPECT_EQ(SGDigest_Update(&ctx, reinterpret_cast<const unsigned char*>("x"), 1), 3);
    ASSERT_EQ(SGDigest_Final(&ctx, second), 0);
    EXPECT_EQ(hex(second, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(std::memcmp(first, second, 32), 0);
    // Restarting makes the context usable again.
    ASSERT_EQ(SGDigest_Init(&ctx), 0);
    EXPECT_EQ(SGDigest_Update(&ctx, reinterpret_cast<const unsigned char*>("x"), 1), 0);
    SGDigestContext_Clear(&ctx);
}

TEST(SGDigest, ArgumentErrors) {
    unsigned char out[64];
    const unsigned char data[1] = {0};
    EXPECT_EQ(SGDigest(nullptr, SG_DIGEST_SHA256, data, 1), 201);
    EXPECT_EQ(SGDigest(out, 9, data, 1), 202);
    EXPECT_EQ(SGDigest(out, SG_DIGEST_SHA1, nullptr, 1), 1);  // the SHA family's null-data code
    EXPECT_EQ(SGDigest(out, SG_DIGEST_MD5, nullptr, 1), 201);
    EXPECT_EQ(SGDigest(out, SG_DIGEST_SHA256, nullptr, 0), 0);  // empty input needs no data
    EXPECT_EQ(hex(out, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    EXPECT_EQ(SGDigestContext_Init(nullptr, SG_DIGEST_SHA1), 11);
    EXPECT_EQ(SGDigest_Update(nullptr, data, 1), 201);
    EXPECT_EQ(SGDigest_Final(nullptr, out), 201);
    SGDigestContext ctx{};
    EXPECT_EQ(SGDigest_Init(&ctx), 202);  // never initialised
    ASSERT_EQ(SGDigestContext_Init(&ctx, SG_DIGEST_MD5), 0);
    ASSERT_EQ(SGDigest_Init(&ctx), 0);
    EXPECT_EQ(SGDigest_Final(&ctx, nullptr), 201);
    // A failed initialisation releases the state the record held and leaves none.
    EXPECT_EQ(SGDigestContext_Init(&ctx, 1), 202);
    EXPECT_EQ(ctx.state, nullptr);
    EXPECT_EQ(ctx.family, 202);
    EXPECT_EQ(SGDigest_Update(&ctx, data, 1), 202);
    SGDigestContext_Clear(&ctx);

    // New hands out nothing when the initialisation fails.
    SGDigestContext* created = reinterpret_cast<SGDigestContext*>(&ctx);
    EXPECT_EQ(SGDigestContext_New(&created, 9), 202);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(SGDigestContext_New(nullptr, SG_DIGEST_SHA1), 11);
    EXPECT_EQ(SGDigestContext_Free(nullptr), 0);
    EXPECT_EQ(SGDigestContext_Clear(nullptr), 0);
}

TEST(SGDigest, Md5AndHas160MustBeRestartedAfterFinal) {
    for (int id : {SG_DIGEST_MD5, SG_DIGEST_HAS160}) {
        SGDigestContext ctx{};
        ASSERT_EQ(SGDigestContext_Init(&ctx, id), 0);
        ASSERT_EQ(SGDigest_Init(&ctx), 0);
        unsigned char first[20], second[20];
        ASSERT_EQ(SGDigest_Final(&ctx, first), 0);
        ASSERT_EQ(SGDigest_Init(&ctx), 0);
        ASSERT_EQ(SGDigest_Final(&ctx, second), 0);
        const size_t n = static_cast<size_t>(SGDigest_GetDigestSize(id));
        EXPECT_EQ(hex(first, n), hex(second, n));
        EXPECT_EQ(hex(first, n), oneShot(id, {}));
        SGDigestContext_Clear(&ctx);
        // Clear wipes the whole record.
        const SGDigestContext zero{};
        EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
    }
}

// The SHA-extension block functions and the portable ones agree on every block count.
TEST(SGDigest, ShaExtensionsMatchPortableCode) {
    using namespace brindlow::crypto;
    if (!cpuHasShaNi()) GTEST_SKIP() << "no SHA extensions on this processor";
    const Bytes data = randomBytes(64 * 40, 7);
    for (size_t blocks : {1, 2, 3, 17, 40}) {
        uint32_t a1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
        uint32_t b1[5];
        std::memcpy(b1, a1, sizeof a1);
        sha1BlocksPortable(a1, data.data(), blocks);
        sha1BlocksShaNi(b1, data.data(), blocks);
        EXPECT_EQ(std::memcmp(a1, b1, sizeof a1), 0) << "SHA-1, " << blocks << " blocks";
        uint32_t a2[8], b2[8];
        for (int i = 0; i < 8; ++i) a2[i] = b2[i] = 0x01234567u * static_cast<uint32_t>(i + 1);
        sha256BlocksPortable(a2, data.data(), blocks);
        sha256BlocksShaNi(b2, data.data(), blocks);
        EXPECT_EQ(std::memcmp(a2, b2, sizeof a2), 0) << "SHA-256, " << blocks << " blocks";
    }
}

TEST(SGDigest, Sha512VariantsAgree) {
    using namespace brindlow::crypto;
    if (!__builtin_cpu_supports("bmi2")) GTEST_SKIP() << "no BMI2 on this processor";
    const Bytes data = randomBytes(128 * 9, 8);
    for (size_t blocks : {1, 2, 9}) {
        uint64_t a[8], b[8];
        for (int i = 0; i < 8; ++i)
            a[i] = b[i] = 0x0123456789ABCDEFull * static_cast<uint64_t>(i + 1);
        sha512Portable(a, data.data(), blocks);
        sha512Bmi2(b, data.data(), blocks);
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << blocks << " blocks";
    }
}

// The vector message schedule against the portable code, over block counts and start values.
TEST(SGDigest, Sha512VectorScheduleMatchesPortableCode) {
    using namespace brindlow::crypto;
    if (!cpuHasAvxAndBmi2()) GTEST_SKIP() << "no AVX and BMI2 on this processor";
    const Bytes data = randomBytes(128 * 33, 9);
    for (size_t blocks : {1, 2, 5, 33}) {
        for (uint64_t seed : {0x0123456789ABCDEFull, 0xFFFFFFFFFFFFFFFFull}) {
            uint64_t a[8], b[8];
            for (int i = 0; i < 8; ++i) a[i] = b[i] = seed * static_cast<uint64_t>(i + 1);
            sha512Portable(a, data.data(), blocks);
            sha512Avx(b, data.data(), blocks);
            EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << blocks << " blocks";
            if (!cpuHasAvx512AndBmi2()) continue;
            for (int i = 0; i < 8; ++i) b[i] = seed * static_cast<uint64_t>(i + 1);
            sha512Avx512(b, data.data(), blocks);
            EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << blocks << " blocks, AVX-512";
        }
    }
}
