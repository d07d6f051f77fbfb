// The crypto layer's DER codec: the writer's encodings and growth, the reader's tags and
// lengths, and the fuzz target run over its seeds and their mutations.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"
#include "SGDER.h"

#define BRINDLOW_FUZZ_EMBEDDED
#include "fuzz_der.cpp"

using namespace cryptotest;

namespace {

// The finished encoding of a writing context.
Bytes encoding(const ASN1Context& c) {
    return Bytes(c.data + c.position, c.data + c.size);
}

Bytes written(int tag, const Bytes& value) {
    ASN1Context c{};
    EXPECT_EQ(ASN1Context_Create(&c, nullptr, 0, 0), 0);
    EXPECT_EQ(ASN1Write(&c, tag, value.data(), static_cast<unsigned>(value.size())), 0);
    Bytes out = encoding(c);
    ASN1Context_Destroy(&c);
    return out;
}

// A reading context over bytes that the test keeps alive.
struct Reader {
    explicit Reader(Bytes b) : bytes(std::move(b)) {
        EXPECT_EQ(ASN1Context_Create(&c, bytes.data(), static_cast<int>(bytes.size()), 0), 0);
    }
    Bytes bytes;
    ASN1Context c{};
};

std::vector<Bytes> seeds() {
    const std::string dir = std::string(BRINDLOW_TEST_DATA) + "/fuzz_der";
    std::vector<Bytes> out;
    DIR* d = opendir(dir.c_str());
    EXPECT_NE(d, nullptr) << dir;
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
        out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    closedir(d);
    return out;
}

}  // namespace

TEST(SGDER, WriterEncodings) {
    const struct {
        int tag;
        Bytes value;
        std::string want;
    } cases[] = {
        {SG_DER_INTEGER, {0x80}, "02020080"},
        {SG_DER_INTEGER, {0x7F}, "02017f"},
        {SG_DER_INTEGER, {}, "020100"},  // an empty INTEGER is zero
        {SG_DER_BIT_STRING, {0xAB}, "030200ab"},
        {SG_DER_NULL, {}, "0500"},
        {SG_DER_OBJECT_IDENTIFIER, {0x2B, 0x0E, 0x03, 0x02, 0x1A}, "06052b0e03021a"},
        {SG_DER_RAW, {0x01, 0x02}, "0102"},
    };
    for (const auto& c : cases) EXPECT_EQ(hex(written(c.tag, c.value)), c.want) << c.want;

    Bytes octets(200, 0x5A);
    Bytes out = written(SG_DER_OCTET_STRING, octets);
    ASSERT_EQ(out.size(), 203u);
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 3)), "0481c8");
    out = written(SG_DER_OCTET_STRING, Bytes(300, 1));
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 4)), "0482012c");
    out = written(SG_DER_OCTET_STRING, Bytes(70000, 1));
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 5)), "0483011170");
}

TEST(SGDER, SequenceWrapsWhatWasWrittenLastMemberFirst) {
    ASN1Context c{};
    ASSERT_EQ(ASN1Context_Create(&c, nullptr, 0, 0), 0);
    const unsigned char two[] = {0x02}, big[] = {0x81, 0x00};
    ASSERT_EQ(ASN1Write(&c, SG_DER_INTEGER, two, 1), 0);
    ASSERT_EQ(ASN1Write(&c, SG_DER_INTEGER, big, 2), 0);
    ASSERT_EQ(ASN1Write(&c, SG_DER_SEQUENCE, nullptr, 0), 0);
    EXPECT_EQ(hex(encoding(c)), "30080203008100020102");
    ASSERT_EQ(ASN1WriteTypeAndLength(&c, 0xA0, 9), 0);
    EXPECT_EQ(hex(encoding(c)), "a00930080203008100020102");
    ASN1Context_Destroy(&c);
}

TEST(SGDER, WriterGrowsAndKeepsWhatItWrote) {
    ASN1Context c{};
    ASSERT_EQ(ASN1Context_Create(&c, nullptr, 0, 0), 0);
    EXPECT_EQ(c.size, 32u);
    const unsigned char small[] = {0x11, 0x22};
    ASSERT_EQ(ASN1Write(&c, SG_DER_OCTET_STRING, small, 2), 0);
    EXPECT_EQ(c.size, 32u);
    Bytes forty(40, 0x33);
    ASSERT_EQ(ASN1Write(&c, SG_DER_OCTET_STRING, forty.data(), 40), 0);
    EXPECT_EQ(c.size, 32u + 512u);
    Bytes out = encoding(c);
    ASSERT_EQ(out.size(), 42u + 4u);
    EXPECT_EQ(hex(Bytes(out.end() - 4, out.end())), "04021122");  // the first element, at the end
    ASN1Context_Destroy(&c);
    EXPECT_EQ(c.data, nullptr);

    // Many small writes never leave the position at 0, which would mean "nothing written".
    ASSERT_EQ(ASN1Context_Create(&c, nullptr, 0, 0), 0);
    size_t total = 0;
    for (int i = 0; i < 600; ++i) {
        ASSERT_EQ(ASN1Write(&c, SG_DER_OCTET_STRING, small, 2), 0);
        total += 4;
        ASSERT_GT(c.position, 0u);
        ASSERT_EQ(c.size - c.position, total);
    }
    ASN1Context_Destroy(&c);
}

TEST(SGDER, CallerBufferIsWrittenButNeverReleased) {
    unsigned char own[16];
    std::memset(own, 0xEE, sizeof own);
    for (auto create : {&ASN1Context_Create, &SGCrypto_ASN1Context_Create}) {
        ASN1Context c{};
        ASSERT_EQ(create(&c, own, sizeof own, 0), 0);
        const unsigned char v[] = {0x01};
        ASSERT_EQ(ASN1Write(&c, SG_DER_INTEGER, v, 1), 0);
        EXPECT_EQ(c.data, own);  // fits: written in place, at the end
        EXPECT_EQ(hex(own + 13, 3), "020101");
        Bytes big(64, 7);
        ASSERT_EQ(SGCrypto_ASN1Write(&c, SG_DER_OCTET_STRING, big.data(), 64), 0);
        EXPECT_NE(c.data, own);  // grown into a buffer of the context's own
        EXPECT_EQ(hex(Bytes(c.data + c.size - 3, c.data + c.size)), "020101");
        // Destroying frees the grown buffer only; a free of the stack buffer would abort.
        EXPECT_EQ(ASN1Context_Destroy(&c), 0);
    }
    ASN1Context c{};
    ASSERT_EQ(ASN1Context_Create(&c, own, sizeof own, 0), 0);
    EXPECT_EQ(ASN1Context_Destroy(&c), 0);
    EXPECT_EQ(ASN1Context_Create(nullptr, nullptr, 0, 0), 11);
    EXPECT_EQ(ASN1Context_Create(&c, own, -1, 0), 11);
}

TEST(SGDER, ReaderTagsAndValues) {
    {
        Reader r({0x04, 0x01, 0x00});
        unsigned length = 0;
        testing::internal::CaptureStdout();
        EXPECT_EQ(ASN1Read(&r.c, SG_DER_INTEGER, &length), 2001);
        // Malformed input is reported by its code; nothing reaches standard output.
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(r.c.position, 0u);
    }
    {
        Reader r({0x03, 0x03, 0x00, 0xAB, 0xCD, 0x03, 0x03, 0x01, 0xAB, 0xCD});
        unsigned length = 0;
        ASSERT_EQ(ASN1Read(&r.c, SG_DER_BIT_STRING, &length), 0);
        EXPECT_EQ(length, 2u);
        EXPECT_EQ(hex(r.c.value, 2), "abcd");
        EXPECT_EQ(ASN1Read(&r.c, SG_DER_BIT_STRING, &length), -27311);
    }
    {
        Reader r({0x30, 0x06, 0x02, 0x01, 0x05, 0x05, 0x00, 0x01});
        unsigned length = 0;
        ASSERT_EQ(ASN1Read(&r.c, SG_DER_SEQUENCE, &length), 0);
        EXPECT_EQ(length, 6u);
        EXPECT_EQ(r.c.position, 2u);  // entered: at the first member
        ASSERT_EQ(ASN1Read(&r.c, SG_DER_INTEGER, &length), 0);
        EXPECT_EQ(r.c.value[0], 0x05);
        int tag = 0;
        ASSERT_EQ(ASN1Read_Any(&r.c, &tag, &length), 0);
        EXPECT_EQ(tag, SG_DER_NULL);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(ASN1Read_Any(&r.c, &tag, &length), 2001);  // 0x01 is no supported tag
    }
    {
        // An unchecked tag: the tag byte is taken as read, the position stands at the length.
        Reader r({0x05, 0x00, 0x0A, 0x01, 0x07});
        unsigned length = 9;
        ASSERT_EQ(ASN1ReadType(&r.c, SG_DER_NULL), 0);
        ASSERT_EQ(ASN1Read(&r.c, SG_DER_NULL, &length), 0);
        EXPECT_EQ(length, 0u);
        ASSERT_EQ(ASN1ReadType(&r.c, SG_DER_RAW), 0);  // consumed unchecked
        testing::internal::CaptureStdout();
        EXPECT_EQ(ASN1Read(&r.c, SG_DER_RAW, &length), 2001);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(SGCrypto_ASN1Read(&r.c, SG_DER_RAW, &length), 0);
        EXPECT_EQ(length, 1u);
        EXPECT_EQ(r.c.value[0], 0x07);
    }
}

TEST(SGDER, ReaderChecksEveryLengthAgainstItsInput) {
    const struct {
        const char* name;
        Bytes der;
        int tag;
        int want;
    } cases[] = {
        {"length of length over 4", {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01}, 4, 2002},
        {"length bytes missing", {0x04, 0x82, 0x01}, 4, 2002},
        {"length past the end", {0x04, 0x03, 0x01, 0x02}, 4, 2002},
        {"huge length", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}, 0x30, 2002},
        {"empty BIT STRING", {0x03, 0x00}, 3, 2002},
        {"no length", {0x02}, 2, 2002},
        {"no tag", {}, 2, 2002},
        {"four-byte length that fits", {0x04, 0x84, 0x00, 0x00, 0x00, 0x01, 0xAA}, 4, 0},
    };
    for (const auto& c : cases) {
        Bytes der = c.der;
        ASN1Context ctx{};
        unsigned char empty = 0;
        ASSERT_EQ(ASN1Context_Create(&ctx, der.empty() ? &empty : der.data(),
                                     static_cast<int>(der.size()), 0),
                  0);
        unsigned length = 0;
        EXPECT_EQ(ASN1Read(&ctx, c.tag, &length), c.want) << c.name;
        EXPECT_EQ(SGCrypto_ASN1Context_Create(&ctx, der.empty() ? &empty : der.data(),
                                              static_cast<int>(der.size()), 0),
                  0);
        EXPECT_EQ(SGCrypto_ASN1Read(&ctx, c.tag, &length), c.want) << c.name;
    }
}

TEST(SGDER, FuzzTargetOverSeedsAndMutations) {
    std::vector<Bytes> corpus = seeds();
    ASSERT_GE(corpus.size(), 7u);
    std::mt19937 rng(8);
    testing::internal::CaptureStdout();  // the reader reports wrong tags on standard output
    for (const Bytes& seed : corpus) fuzzDer(seed.data(), seed.size());
    for (int i = 0; i < 20000; ++i) {
        Bytes b = corpus[rng() % corpus.size()];
        for (int m = 0, n = 1 + rng() % 4; m < n; ++m) {
            const size_t at = b.empty() ? 0 : rng() % b.size();
            switch (rng() % 5) {
                case 0:
                    if (!b.empty()) b[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
                    break;
                case 1:
                    if (!b.empty()) b[at] = static_cast<unsigned char>(rng());
                    break;
                case 2:
                    b.resize(at);
                    break;  // truncated
                case 3:
                    b.insert(b.begin() + at, static_cast<unsigned char>(0x80 | rng()));
                    break;
                case 4:
                    if (!b.empty()) b[at] = static_cast<unsigned char>(0x81 + rng() % 8);
                    break;
            }
        }
        // An exact-size heap copy, so that a read past the end is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() ? b.size() : 1]);
        if (!b.empty()) std::memcpy(exact.get(), b.data(), b.size());
        fuzzDer(exact.get(), b.size());
    }
    testing::internal::GetCapturedStdout();
}
