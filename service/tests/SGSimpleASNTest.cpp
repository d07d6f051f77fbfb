// Streaming DER: large values stay in the source as windows, openssl's envelopes re-encode byte
// for byte, long-form lengths come out as DER, lengths follow the value streams, an encoding
// that cannot be written whole writes nothing (or, once under way, a prefix), a large flat
// SEQUENCE round-trips, and malformed input is refused, never overrun.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGPKCSError.h"
#include "SGServiceTable.h"
#include "SGSimpleASN.h"
#include "SGStream.h"

namespace {

using namespace pkitest;
using testkit::unhex;

class SimpleASN : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

// A tree parsed from bytes held by the object.
struct Parsed {
    SGBinary bytes{};
    SGStream source{};
    SGSimpleASN root{};
    int result;
    explicit Parsed(const Bytes& der) {
        bytes = SGBinary{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        SGStream_InitWithBinary(&source, &bytes);
        result = SGSimpleASN_Parse(&root, &source);
    }
    ~Parsed() {
        SGSimpleASN_Reset(&root);
        SGStream_Reset(&source);
    }
    int encode(Bytes* out, uint32_t chunk = 0) {
        SGBinary sink{};
        SGStream stream{};
        SGStream_InitWithBinary(&stream, &sink);
        const int r = SGSimpleASN_Encode(&stream, &root, chunk);
        *out = bytesOf(sink);
        SGStream_Reset(&stream);
        SGBinary_Reset(&sink);
        return r;
    }
};

Bytes tlv(const std::string& head, const Bytes& value) {
    Bytes out = unhex(head);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

TEST_F(SimpleASN, LargeValuesStayInTheSource) {
    Bytes big(20000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i);
    const Bytes der =
        tlv("30824E27"
            "020105"
            "04824E20",
            big);
    ASSERT_EQ(der.size(), 4u + 0x4E27);
    Parsed p(der);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.root.childCount, 2);
    SGSimpleASN* octets = p.root.firstChild->next;
    ASSERT_NE(octets, nullptr);
    EXPECT_EQ(octets->length, 20000u);
    EXPECT_EQ(octets->buffer.data, nullptr);  // a window, nothing copied
    EXPECT_EQ(octets->parent, &p.root);
    EXPECT_EQ(octets->previous, p.root.firstChild);
    uint64_t position = 0;
    SGStream_GetPosition(&position, &p.source);
    EXPECT_EQ(position, der.size());
    // A value of 19999 bytes is read into memory.
    const Bytes small = tlv("04824E1F", Bytes(19999, 1));
    Parsed q(small);
    ASSERT_EQ(q.result, 0);
    EXPECT_NE(q.root.buffer.data, nullptr);
    Bytes again;
    ASSERT_EQ(p.encode(&again, 1000), 0);
    EXPECT_EQ(again, der);
}

TEST_F(SimpleASN, OpensslsEnvelopesReencodeByteForByte) {
    const fs::path folder = cached("cms-enveloped", {chain().string()});
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".der" || name == "stream.der") continue;
        SCOPED_TRACE(name);
        const Bytes der = testkit::readBytes(entry.path());
        Parsed p(der);
        ASSERT_EQ(p.result, 0);
        Bytes out;
        ASSERT_EQ(p.encode(&out), 0);
        EXPECT_EQ(out, der);
        ++files;
    }
    EXPECT_GE(files, 20);
    // Indefinite lengths are refused.
    Parsed p(testkit::readBytes(folder / "stream.der"));
    EXPECT_EQ(p.result, SG_ASN_ERR_DECODE);
}

TEST_F(SimpleASN, MalformedInputIsRefused) {
    // 70 levels of nested SEQUENCEs with definite lengths.
    Bytes nested = unhex("0500");
    for (int i = 0; i < 70; ++i) {
        Bytes outer = {0x30, static_cast<unsigned char>(nested.size())};
        if (nested.size() >= 128) outer = {0x30, 0x81, static_cast<unsigned char>(nested.size())};
        outer.insert(outer.end(), nested.begin(), nested.end());
        nested = outer;
    }
    const struct {
        const char* what;
        Bytes der;
    } cases[] = {
        {"nine length octets", unhex("0489000000000000000001AA")},
        {"length past the source", unhex("04050102")},
        {"length past the enclosing value", unhex("3003040501020304050607")},
        {"child running past its parent", unhex("30040203010203")},
        {"indefinite length", unhex("308004000000")},
        {"multi-octet tag", unhex("1F810100")},
        {"short source", unhex("30")},
        {"empty source", Bytes{}},
        {"huge length", unhex("0488FFFFFFFFFFFFFFFF00")},
        {"too deep", nested},
    };
    for (const auto& c : cases) {
        Parsed p(c.der);
        EXPECT_EQ(p.result, SG_ASN_ERR_DECODE) << c.what;
    }
    EXPECT_EQ(SGSimpleASN_Parse(nullptr, nullptr), 1001);
    EXPECT_EQ(SGSimpleASN_Reset(nullptr), 0);
}

TEST_F(SimpleASN, LengthsFollowTheValueStreams) {
    const Bytes der = unhex(
        "3007"
        "020105"
        "04020102");
    Bytes value(200, 0xAB);
    SGBinary valueBytes = viewOf(value);
    Bytes out;
    {
        // A value stream that delivers other than the node's length fails the encoding.
        Parsed p(der);
        ASSERT_EQ(p.result, 0);
        SGSimpleASN* octets = p.root.firstChild->next;
        SGStream installed{};
        SGStream_InitWithBinary(&installed, &valueBytes);
        SGStream* parsed = octets->value;
        octets->value = &installed;
        EXPECT_EQ(p.encode(&out), SG_ASN_ERR_ENCODE);
        EXPECT_TRUE(out.empty());  // refused before the first byte
        octets->value = parsed;
        SGStream_Reset(&installed);
    }
    // After the update the lengths grow past 127 and the encoding holds the new value.
    Parsed p(der);
    ASSERT_EQ(p.result, 0);
    SGSimpleASN* octets = p.root.firstChild->next;
    SGStream installed{};
    SGStream_InitWithBinary(&installed, &valueBytes);
    SGStream* parsed = octets->value;
    octets->value = &installed;
    ASSERT_EQ(SGSimpleASN_Update(&p.root), 0);
    EXPECT_EQ(octets->length, 200u);
    EXPECT_EQ(p.root.length, 3u + 3u + 200u);
    ASSERT_EQ(p.encode(&out), 0);
    EXPECT_EQ(out, tlv("3081CE"
                       "020105"
                       "0481C8",
                       value));
    octets->value = parsed;
    SGStream_Reset(&installed);
}

TEST_F(SimpleASN, LongFormLengthsAreWrittenAsDer) {
    const struct {
        const char* what;
        Bytes in, out;
    } cases[] = {
        {"OCTET STRING in a SEQUENCE", unhex("300404810141"), unhex("3003040141")},
        {"SEQUENCE with leading zero octets", unhex("30820003040141"), unhex("3003040141")},
        {"both levels", unhex("300A30840000000404810141"), unhex("30053003040141")},
        {"long length one octet too long", tlv("0483000080", Bytes(128, 7)),
         tlv("048180", Bytes(128, 7))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p(c.in);
        ASSERT_EQ(p.result, 0);
        Bytes out;
        ASSERT_EQ(p.encode(&out), 0);
        EXPECT_EQ(out, c.out);
        // The tree's lengths are those written.
        Parsed again(out);
        ASSERT_EQ(again.result, 0);
        EXPECT_EQ(p.root.length, again.root.length);
    }
}

// An output that takes writes until the given one, which fails with 77.
struct FailingSink {
    Bytes written;
    int writesLeft;
    SGStream stream{};
    explicit FailingSink(int succeeding) : writesLeft(succeeding) {
        SGStream_InitForOutput(&stream, take, nullptr, nullptr, nullptr, this);
    }
    static int take(void* user, const void* source, uint32_t length) {
        auto* sink = static_cast<FailingSink*>(user);
        if (sink->writesLeft-- <= 0) return 77;
        const auto* bytes = static_cast<const unsigned char*>(source);
        sink->written.insert(sink->written.end(), bytes, bytes + length);
        return 0;
    }
};

// A value stream that announces five bytes and fails to read them.
int failRead(void*, void*, uint32_t) {
    return 5;
}
uint64_t fiveLeft(void*) {
    return 5;
}

TEST_F(SimpleASN, AnEncodingThatCannotBeWrittenWholeWritesNothingOrAPrefix) {
    const Bytes der = unhex(
        "300A"
        "020105"
        "0403010203"
        "0500");
    {
        // A value stream already read holds nothing: the second encoding writes nothing.
        Parsed p(der);
        ASSERT_EQ(p.result, 0);
        Bytes out;
        ASSERT_EQ(p.encode(&out), 0);
        EXPECT_EQ(out, der);
        FailingSink sink(100);
        EXPECT_EQ(SGSimpleASN_Encode(&sink.stream, &p.root, 0), SG_ASN_ERR_ENCODE);
        EXPECT_TRUE(sink.written.empty());
    }
    {
        // Nesting deeper than the reader takes is refused before the first byte.
        std::vector<SGSimpleASN> chain(SG_SIMPLE_ASN_MAX_DEPTH + 2);
        for (size_t i = 0; i < chain.size(); ++i) {
            chain[i].identifier = 0x30;
            chain[i].tagNumber = 16;
            if (i + 1 < chain.size()) {
                chain[i].firstChild = &chain[i + 1];
                chain[i].childCount = 1;
            }
        }
        FailingSink sink(1000);
        EXPECT_EQ(SGSimpleASN_Encode(&sink.stream, &chain[0], 0), SG_ASN_ERR_ENCODE);
        EXPECT_TRUE(sink.written.empty());
    }
    // Once under way: the output's own error, or 20900 for a value stream that fails to deliver
    // what it announced; what was written is the start of the encoding.
    for (int succeeding : {0, 1, 3, 4}) {
        SCOPED_TRACE(succeeding);
        Parsed p(der);
        ASSERT_EQ(p.result, 0);
        FailingSink sink(succeeding);
        EXPECT_EQ(SGSimpleASN_Encode(&sink.stream, &p.root, 2), 77);
        ASSERT_LE(sink.written.size(), der.size());
        EXPECT_TRUE(std::equal(sink.written.begin(), sink.written.end(), der.begin()));
    }
    Parsed p(der);
    ASSERT_EQ(p.result, 0);
    SGSimpleASN* octets = p.root.firstChild->next;
    SGStream broken{};
    int user = 0;
    SGStream_InitForInput(&broken, failRead, fiveLeft, nullptr, nullptr, &user);
    SGStream* parsed = octets->value;
    octets->value = &broken;
    ASSERT_EQ(SGSimpleASN_Update(&p.root), 0);
    FailingSink sink(100);
    EXPECT_EQ(SGSimpleASN_Encode(&sink.stream, &p.root, 0), SG_ASN_ERR_ENCODE);
    EXPECT_EQ(sink.written, unhex("300C"
                                  "020105"
                                  "0405"));
    octets->value = parsed;
}

TEST_F(SimpleASN, LargeFlatSequenceRoundTrips) {
    // 400 KB of three-byte OCTET STRINGs: parsing and writing stay linear in the element count.
    constexpr size_t kElements = 400000 / 3;
    constexpr size_t kContent = kElements * 3;
    Bytes der = {0x30, 0x83, static_cast<unsigned char>(kContent >> 16),
                 static_cast<unsigned char>(kContent >> 8), static_cast<unsigned char>(kContent)};
    for (size_t i = 0; i < kElements; ++i) {
        der.insert(der.end(), {0x04, 0x01, static_cast<unsigned char>(i)});
    }
    Parsed p(der);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.root.childCount, static_cast<int>(kElements));
    Bytes out;
    ASSERT_EQ(p.encode(&out), 0);
    EXPECT_EQ(out, der);
}

}  // namespace
