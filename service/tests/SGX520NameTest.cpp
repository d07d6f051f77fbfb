#include "SGX520Name.h"

#include <gtest/gtest.h>

#include <string>

#include "Name.h"
#include "SGASN1C.h"
#include "X509TestUtil.h"

namespace {

using namespace x509test;

const char* const kCN = "2.5.4.3";
const char* const kSN = "2.5.4.4";
const char* const kC = "2.5.4.6";
const char* const kL = "2.5.4.7";
const char* const kST = "2.5.4.8";
const char* const kO = "2.5.4.10";
const char* const kOU = "2.5.4.11";
const char* const kEmail = "1.2.840.113549.1.9.1";

// C=KR, O=Acme, OU=Sales, CN=Kim, stored country first.
Bytes acmeName() {
    return name({{atv(kC, printable("KR"))},
                 {atv(kO, utf8("Acme"))},
                 {atv(kOU, utf8("Sales"))},
                 {atv(kCN, utf8("Kim"))}});
}

struct Rendered {
    int result;
    std::string text;
};

Rendered render(const Bytes& der, int lowerCase = 0, int compact = 0, int size = 1024) {
    Owned<Name_t> n(&asn_DEF_Name, der);
    EXPECT_EQ(n.result(), 0);
    GuardedBuffer buffer(static_cast<size_t>(size));
    Rendered r;
    r.result = SGX520Name_ToString(buffer.data(), size, n.get(), lowerCase, compact);
    EXPECT_TRUE(buffer.guardsIntact());
    r.text = buffer.text();
    return r;
}

TEST(X520NameTable, SearchByIdAndByExactName) {
    EXPECT_EQ(SGX520Name_Init(), 20);
    SGX520NameEntry entry{};
    ASSERT_EQ(SGX520Name_Search(&entry, 114, nullptr, 0), 0);
    EXPECT_STREQ(entry.name, "S/ST");
    EXPECT_EQ(entry.valueType, SG_X520_DIRECTORY_STRING);
    ASSERT_EQ(SGX520Name_Search(&entry, 120, nullptr, 1), 0);
    EXPECT_STREQ(entry.name, "g/givenname");
    ASSERT_EQ(SGX520Name_Search(&entry, 0, "E", 1), 0);
    EXPECT_EQ(entry.oidId, 127);
    EXPECT_STREQ(entry.name, "e");
    EXPECT_EQ(entry.valueType, SG_X520_IA5_STRING);
    // By name the match is exact: case counts, and "-" finds the first unnamed attribute.
    EXPECT_EQ(SGX520Name_Search(&entry, 0, "cn", 0), -1);
    ASSERT_EQ(SGX520Name_Search(&entry, 0, "-", 0), 0);
    EXPECT_EQ(entry.oidId, 111);
    EXPECT_EQ(SGX520Name_Search(&entry, 131, nullptr, 0), -1);
    EXPECT_EQ(SGX520Name_Search(nullptr, 109, nullptr, 0), 10001);
}

TEST(X520NameRender, OrderSeparatorsAndCase) {
    struct Case {
        int lowerCase, compact;
        const char* text;
    } cases[] = {
        {0, 0, "CN=Kim, OU=Sales, O=Acme, C=KR"},
        {1, 0, "cn=Kim, ou=Sales, o=Acme, c=KR"},
        {0, 1, "CN=Kim,OU=Sales,O=Acme,C=KR"},
        {1, 1, "cn=Kim,ou=Sales,o=Acme,c=KR"},
    };
    for (const Case& c : cases) {
        Rendered r = render(acmeName(), c.lowerCase, c.compact);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.text, c.text) << c.lowerCase << c.compact;
    }
}

TEST(X520NameRender, ValuesAndAttributes) {
    struct Case {
        const char* what;
        Bytes der;
        int result;
        const char* text;
    } cases[] = {
        {"escapes", name({{atv(kO, utf8("Acme, Inc."))}, {atv(kCN, utf8("#a+b;c<d=e>"))}}), 0,
         "CN=\\#a\\+b\\;c\\<d\\=e\\>, O=Acme\\, Inc."},
        {"backslash itself is kept", name({{atv(kCN, utf8("a\\b"))}}), 0, "CN=a\\b"},
        {"multi-valued RDN",
         name({{atv(kCN, utf8("a")), atv(kSN, utf8("b"))}, {atv(kC, printable("KR"))}}), 0,
         "C=KR, CN=a+SN=b"},
        {"slash names", name({{atv(kST, utf8("Seoul"))}, {atv("2.5.4.12", utf8("Eng"))}}), 0,
         "T/TITLE=Eng, S/ST=Seoul"},
        {"unnamed attribute", name({{atv("2.5.4.65", utf8("Hong"))}}), 0, "-=Hong"},
        {"no value handling", name({{atv("2.5.4.45", bits(Bytes{0x01}))}}), 0, "-="},
        {"IA5 values",
         name({{atv(kEmail, ia5("hong@example.kr"))},
               {atv("0.9.2342.19200300.100.1.25", ia5("kr"))}}),
         0, "DC=kr, E=hong@example.kr"},
        {"UTF-8 Korean", name({{atv(kL, utf8("중구"))}, {atv(kCN, utf8("홍길동"))}}), 0,
         "CN=홍길동, L=중구"},
        // Two-byte and four-byte characters become UTF-8 (openssl shows them so).
        {"BMPString", name({{atv(kCN, bmp(u"홍길동A"))}}), 0, "CN=홍길동A"},
        {"UniversalString", name({{atv(kCN, universal(U"길\U0001F600"))}}), 0,
         "CN=길\xF0\x9F\x98\x80"},
        {"TeletexString copied", name({{atv(kCN, tlv(0x14, text("abc")))}}), 0, "CN=abc"},
        {"empty rdnSequence", Bytes{0x30, 0x00}, 0, ""},
        // The values before a failure stay.
        {"attribute outside the table",
         name({{atv(kC, printable("KR"))}, {atv("1.3.6.1.5.5.7.1.24", utf8("x"))}}), -1, ""},
        {"failure keeps earlier values",
         name({{atv("1.3.6.1.5.5.7.1.24", utf8("x"))}, {atv(kC, printable("KR"))}}), -1, "C=KR"},
        {"type outside the OID table", name({{atv("1.2.3.4", utf8("x"))}}), 20903, ""},
        {"value that is no string", name({{atv(kCN, integer(7))}}), 20902, ""},
        {"NUL inside a value", name({{atv(kCN, utf8(std::string("a\0b", 3)))}}), 20902, ""},
        {"BMPString of odd length", name({{atv(kCN, tlv(0x1E, Bytes{0xD5, 0x5C, 0x00}))}}), 20902,
         ""},
    };
    for (const Case& c : cases) {
        Rendered r = render(c.der);
        EXPECT_EQ(r.result, c.result) << c.what;
        EXPECT_EQ(r.text, c.text) << c.what;
    }
}

TEST(X520NameRender, EveryBufferSizeGivesWholeValuesOrTheFullText) {
    const Bytes der = name({{atv(kC, printable("KR"))},
                            {atv(kO, utf8("Acme, Inc."))},
                            {atv(kCN, utf8("홍길동")), atv(kSN, utf8("Hong"))}});
    const std::string full = "CN=홍길동+SN=Hong, O=Acme\\, Inc., C=KR";
    // Cuts fall after whole values only.
    const std::vector<std::string> pieces = {"", "CN=홍길동", "CN=홍길동+SN=Hong",
                                             "CN=홍길동+SN=Hong, O=Acme\\, Inc.", full};
    for (int size = 1; size <= static_cast<int>(full.size()) + 4; ++size) {
        Rendered r = render(der, 0, 0, size);
        if (size > static_cast<int>(full.size())) {
            EXPECT_EQ(r.result, 0) << size;
            EXPECT_EQ(r.text, full) << size;
            continue;
        }
        EXPECT_EQ(r.result, SG_X520_ERR_TOO_LONG) << size;
        std::string expected;
        for (const std::string& piece : pieces)
            if (piece.size() < static_cast<size_t>(size)) expected = piece;
        EXPECT_EQ(r.text, expected) << size;
    }
}

TEST(X520NameRender, RefusesMissingArgumentsAndOtherForms) {
    Owned<Name_t> n(&asn_DEF_Name, acmeName());
    char buffer[64];
    EXPECT_EQ(SGX520Name_ToString(nullptr, 64, n.get(), 0, 0), 10001);
    EXPECT_EQ(SGX520Name_ToString(buffer, 0, n.get(), 0, 0), 10001);
    EXPECT_EQ(SGX520Name_ToString(buffer, 64, nullptr, 0, 0), 10001);
    Name_t empty{};
    EXPECT_EQ(SGX520Name_ToString(buffer, 64, &empty, 0, 0), -1);
}

TEST(X520NameRender, StringHelpersCopyWhatFits) {
    Owned<DirectoryString_t> ds(&asn_DEF_DirectoryString, bmp(u"가A"));
    GuardedBuffer exact(5), small(4);
    EXPECT_EQ(SGX520DirectoryString_ToString(exact.data(), 5, ds.get()), 0);
    EXPECT_EQ(exact.text(), "가A");
    EXPECT_EQ(SGX520DirectoryString_ToString(small.data(), 4, ds.get()), -22222);
    EXPECT_EQ(small.text(), "");
    EXPECT_TRUE(exact.guardsIntact() && small.guardsIntact());
    DirectoryString_t none{};
    char buffer[4] = "xyz";
    EXPECT_EQ(SGX520DirectoryString_ToString(buffer, 4, &none), 0);
    EXPECT_STREQ(buffer, "");

    Owned<IA5String_t> ia5String(&asn_DEF_IA5String, ia5("a@b"));
    GuardedBuffer fits(4), tooSmall(3);
    EXPECT_EQ(SGX520IA5String_ToString(fits.data(), 4, ia5String.get()), 0);
    EXPECT_EQ(fits.text(), "a@b");
    EXPECT_EQ(SGX520IA5String_ToString(tooSmall.data(), 3, ia5String.get()), -22222);
    EXPECT_TRUE(fits.guardsIntact() && tooSmall.guardsIntact());
}

// Parsing builds the DER that openssl writes for the same name (C as PrintableString, the
// directory strings as UTF8String, the IA5 attributes as IA5String).
struct Parsed {
    int result;
    Bytes der;
};

Parsed parse(const char* text) {
    Name_t n{};
    Parsed p;
    p.result = SGX520Name_FromString(&n, text);
    SGBinary out{};
    if (SGASN1CObject_Encode(&out, &asn_DEF_Name, &n) == 0)
        p.der.assign(out.data, out.data + out.length);
    SGBinary_Reset(&out);
    SGASN1CObject_Clear(&n, &asn_DEF_Name);
    return p;
}

TEST(X520NameParse, PiecesBecomeRdnsInTextOrder) {
    struct Case {
        const char* text;
        int result;
        Bytes der;
    } cases[] = {
        {"CN=Kim,O=Acme,C=KR", 0,
         name({{atv(kCN, utf8("Kim"))}, {atv(kO, utf8("Acme"))}, {atv(kC, printable("KR"))}})},
        // Blanks before a name are skipped, after "=" they stay.
        {"  CN= Kim ,\tO=Acme", 0, name({{atv(kCN, utf8(" Kim "))}, {atv(kO, utf8("Acme"))}})},
        {"cn=홍길동,e=hong@example.kr,dc=kr", 0,
         name({{atv(kCN, utf8("홍길동"))},
               {atv(kEmail, ia5("hong@example.kr"))},
               {atv("0.9.2342.19200300.100.1.25", ia5("kr"))}})},
        {"s/st=Seoul,G/GIVENNAME=Gil,i/Initials=GD", 0,
         name({{atv(kST, utf8("Seoul"))},
               {atv("2.5.4.42", utf8("Gil"))},
               {atv("2.5.4.43", utf8("GD"))}})},
        // An unnamed attribute stands for the first of them, serialNumber.
        {"-=123", 0, name({{atv("2.5.4.5", printable("123"))}})},
        {"CN=a=b", 0, name({{atv(kCN, utf8("a=b"))}})},
        {"CN=", 0, name({{atv(kCN, utf8(""))}})},
        {",,CN=x,,", 0, name({{atv(kCN, utf8("x"))}})},
        {"", 0, Bytes{0x30, 0x00}},
        {"ST=Seoul", -1, Bytes{0x30, 0x00}},
        {"CN=x,GIVENNAME=y", -1, name({{atv(kCN, utf8("x"))}})},
        {"CN=x,SURNAME=y", -1, name({{atv(kCN, utf8("x"))}})},
        {"CN=x,no equals", -1, name({{atv(kCN, utf8("x"))}})},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.result, c.result) << c.text;
        EXPECT_EQ(hexText(p.der), hexText(c.der)) << c.text;
    }
    Name_t n{};
    EXPECT_EQ(SGX520Name_FromString(&n, nullptr), 10001);
    EXPECT_EQ(SGX520Name_FromString(nullptr, "CN=x"), 10001);
}

TEST(X520NameParse, RenderingShowsTheParsedPiecesReversed) {
    Name_t n{};
    ASSERT_EQ(SGX520Name_FromString(&n, "C=KR,O=Acme\\,Inc,CN=Kim"), -1);  // no escapes in input
    SGASN1CObject_Clear(&n, &asn_DEF_Name);
    ASSERT_EQ(SGX520Name_FromString(&n, "C=KR,O=Acme,OU=Sales,CN=Kim"), 0);
    char buffer[128];
    ASSERT_EQ(SGX520Name_ToString(buffer, sizeof buffer, &n, 0, 0), 0);
    EXPECT_STREQ(buffer, "CN=Kim, OU=Sales, O=Acme, C=KR");
    SGASN1CObject_Clear(&n, &asn_DEF_Name);
}

}  // namespace
