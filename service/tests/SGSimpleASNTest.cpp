// Streaming DER: large values stay in the source as windows, openssl's envelopes re-encode byte
// for byte, lengths follow the value streams, and malformed input is refused, never overrun.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
