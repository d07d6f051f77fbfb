#include "SGX509Extension.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DisplayText.h"
#include "Extensions.h"
#include "SGASN1C.h"
#include "SGX509Certificate.h"
#include "X509TestUtil.h"

namespace {

using namespace x509test;

const char* const kAKI = "2.5.29.35";
const char* const kBC = "2.5.29.19";
const char* const kSKI = "2.5.29.14";
const char* const kPolicies = "2.5.29.32";
const char* const kSAN = "2.5.29.17";
const char* const kCRLDP = "2.5.29.31";
const char* const kAIA = "1.3.6.1.5.5.7.1.1";
const char* const kKU = "2.5.29.15";
const char* const kCPS = "1.3.6.1.5.5.7.2.1";
const char* const kNotice = "1.3.6.1.5.5.7.2.2";
const char* const kPolicy = "1.2.410.200004.5.2.1.2";

Bytes extensions(std::initializer_list<Bytes> list) {
    return seq(list);
}

struct Rendered {
    int result;
    std::string text;
};

Rendered entry(const Bytes& list, int entryId, int flags = 0, size_t size = 2048) {
    Owned<Extensions_t> ext(&asn_DEF_Extensions, list);
    EXPECT_EQ(ext.result(), 0);
    GuardedBuffer buffer(size);
    Rendered r;
    r.result = SGX509Extension_GetEntry(buffer.data(), static_cast<unsigned>(size), ext.get(),
                                        entryId, flags);
    EXPECT_TRUE(buffer.guardsIntact());
    r.text = buffer.text();
    return r;
}

Bytes cpsQualifier(const std::string& uri) {
    return seq({oid(kCPS), ia5(uri)});
}
Bytes noticeQualifier(const Bytes& displayText) {
    return seq({oid(kNotice), seq({displayText})});
}
Bytes policy(const std::string& id, std::initializer_list<Bytes> qualifiers) {
    if (qualifiers.size() == 0) return seq({oid(id)});
    return seq({oid(id), seq(qualifiers)});
}

Bytes dirName(std::initializer_list<std::initializer_list<Bytes>> rdns) {
    return ctx(4, name(rdns));
}
Bytes uri(const std::string& s) {
    return tlv(0x86, text(s));
}
Bytes dns(const std::string& s) {
    return tlv(0x82, text(s));
}
// The KISA identifyData other name with its VIDs.
Bytes identify(const std::string& realName, std::initializer_list<Bytes> vids) {
    Bytes userInfo;
    for (const Bytes& vid : vids) {
        Bytes a = atv("1.2.410.200004.10.1.1.1", vid);
        userInfo.insert(userInfo.end(), a.begin(), a.end());
    }
    Bytes data = vids.size() ? seq({utf8(realName), tlv(0x30, userInfo)}) : seq({utf8(realName)});
    return ctx(0, cat({oid("1.2.410.200004.10.1.1"), ctx(0, data)}));
}
Bytes vid(const std::string& hash, const Bytes& value) {
    return seq({seq({oid(hash)}), ctx(0, octets(value))});
}

TEST(X509ExtensionLookup, ResultOfTheLastExtensionWhenNotFound) {
    struct Case {
        const char* what;
        Bytes list;
        int entryId;
        int result;
    } cases[] = {
        {"found", extensions({extension(kBC, seq({}))}), 14, 0},
        {"last is one of the fourteen",
         extensions({extension(kBC, seq({})), extension(kKU, bits({0x80}, 7))}), 17, 10004},
        {"last is outside the fourteen",
         extensions({extension(kBC, seq({})), extension("2.5.29.16", seq({}))}), 17, 10010},
        {"last is outside the OID table",
         extensions({extension(kBC, seq({})), extension("1.2.3.4.5", null())}), 17, 20903},
        {"entry ids outside 13 to 26", extensions({extension(kBC, seq({}))}), 8, 10004},
        {"entry ids outside 13 to 26", extensions({extension("2.5.29.16", seq({}))}), 99, 10010},
        {"first of two equal extensions",
         extensions({extension(kBC, seq({boolean(true)})), extension(kBC, seq({}))}), 14, 0},
    };
    for (const Case& c : cases) {
        Owned<Extensions_t> ext(&asn_DEF_Extensions, c.list);
        Extension_t* found = nullptr;
        EXPECT_EQ(SGX509Extension_FindRAWEntry(&found, ext.get(), c.entryId), c.result) << c.what;
        EXPECT_EQ(found != nullptr, c.result == 0) << c.what;
        if (found) {
            EXPECT_EQ(found, ext.get()->list.array[0]) << c.what;
        }
    }
    Extension_t* found = nullptr;
    EXPECT_EQ(SGX509Extension_FindRAWEntry(&found, nullptr, 14), 10004);
    Extensions_t empty{};
    EXPECT_EQ(SGX509Extension_FindRAWEntry(&found, &empty, 14), 10004);
}

TEST(X509ExtensionText, ExactFormsOfEveryRenderedExtension) {
    const Bytes keyId = {0x9F, 0xBD, 0xE1, 0x4A};
    struct Case {
        const char* what;
        Bytes list;
        int entryId, flags, result;
        std::string text;
    } cases[] = {
        {"AKI key identifier", extensions({extension(kAKI, seq({ctx(0, keyId, false)}))}), 13, 0, 0,
         "KeyIdentifier(9FBDE14A), "},
        {"AKI with issuer and serial",
         extensions({extension(kAKI, seq({ctx(0, keyId, false),
                                          ctx(1, cat({dirName({{atv("2.5.4.6", printable("KR"))},
                                                               {atv("2.5.4.3", utf8("Root"))}})})),
                                          ctx(2, Bytes{0x01}, false)}))}),
         13, 0, 0, "KeyIdentifier(9FBDE14A), CertIssuer(CN=Root, C=KR), CertIssuer(01)"},
        {"AKI issuer: the last name with a text remains",
         extensions({extension(
             kAKI, seq({ctx(1, cat({uri("http://a"), dirName({{atv("2.5.4.3", utf8("B"))}}),
                                    dns("c")}))}))}),
         13, 0, 0, "CertIssuer(CN=B), "},
        {"basicConstraints empty", extensions({extension(kBC, seq({}))}), 14, 0, 0, ""},
        {"basicConstraints CA", extensions({extension(kBC, seq({boolean(true)}))}), 14, 0, 0,
         "cA=true,"},
        {"basicConstraints CA path length 0",
         extensions({extension(kBC, seq({boolean(true), integer(0)}))}), 14, 0, 0,
         "cA=true,pathLengthConstraints=0"},
        {"basicConstraints path length alone", extensions({extension(kBC, seq({integer(3)}))}), 14,
         0, 0, "pathLengthConstraints=3"},
        {"basicConstraints cA false", extensions({extension(kBC, seq({boolean(false)}))}), 14, 0, 0,
         ""},
        {"subject key identifier", extensions({extension(kSKI, octets({0x52, 0x7B, 0x0E}))}), 15, 0,
         0, "527B0E"},
        {"policies, default flags",
         extensions(
             {extension(kPolicies, seq({policy(kPolicy, {cpsQualifier("http://x/cps"),
                                                         noticeQualifier(bmp(u"공인인증서"))})}))}),
         16, 0, 0, "1.2.410.200004.5.2.1.2,http://x/cps,공인인증서\n"},
        {"policies, identifiers only",
         extensions({extension(kPolicies, seq({policy(kPolicy, {cpsQualifier("http://x/cps")}),
                                               policy("1.2.410.200004.5.4.1.1", {})}))}),
         16, 1, 0, "1.2.410.200004.5.2.1.2,\n1.2.410.200004.5.4.1.1,\n"},
        {"policies, CPS only",
         extensions(
             {extension(kPolicies, seq({policy(kPolicy, {cpsQualifier("http://x/cps"),
                                                         noticeQualifier(utf8("notice"))})}))}),
         16, 2, 0, "http://x/cps,\n"},
        {"policies, notices only; reference not shown",
         extensions({extension(
             kPolicies,
             seq({policy(kPolicy, {seq({oid(kNotice), seq({seq({ia5("Org"), seq({integer(1)})}),
                                                           visible("visible text")})})})}))}),
         16, 4, 0, "visible text\n"},
        {"policies, unknown qualifier",
         extensions(
             {extension(kPolicies, seq({policy(kPolicy, {cpsQualifier("http://x/cps"),
                                                         seq({oid("1.2.3.4"), null()})})}))}),
         16, 0, -1222, "1.2.410.200004.5.2.1.2,http://x/cps,"},
        {"policies, notice without text",
         extensions({extension(kPolicies, seq({policy(kPolicy, {seq({oid(kNotice), seq({})})})}))}),
         16, 0, 0, "1.2.410.200004.5.2.1.2,\n"},
        {"policies, BMPString with a surrogate pair and U+FFFF",
         extensions({extension(
             kPolicies, seq({policy(kPolicy, {noticeQualifier(bmp(u"a\U0001F600\uFFFFb"))})}))}),
         16, 4, 0,
         "a\xF0\x9F\x98\x80"
         "b\n"},
        {"policies, BMPString of odd length",
         extensions({extension(
             kPolicies,
             seq({policy(kPolicy, {noticeQualifier(tlv(0x1E, Bytes{0xAC, 0x00, 0x41}))})}))}),
         16, 4, 20902, ""},
        {"subject alternative name: only dNSName",
         extensions({extension(kSAN, seq({dns("www.example.kr")}))}), 18, 0, 0, ""},
        {"subject alternative name: KISA identity",
         extensions({extension(
             kSAN,
             seq({dns("a"), identify("홍길동", {vid("2.16.840.1.101.3.4.2.1", {0x01, 0xAB})})}))}),
         18, 0, 0, "realName(홍길동)virtualID(SHA256,01AB)"},
        {"subject alternative name: VIDs of every hash",
         extensions({extension(kSAN, seq({identify("K", {vid("1.3.14.3.2.26", {1}),
                                                         vid("2.16.840.1.101.3.4.2.2", {2}),
                                                         vid("2.16.840.1.101.3.4.2.3", {3}),
                                                         vid("1.2.840.113549.2.5", {4})})}))}),
         18, 0, 0,
         "realName(K)virtualID(SHA1,01)virtualID(SHA384,02)virtualID(SHA512,03)virtualID(,04)"},
        {"subject alternative name: hash outside the OID table",
         extensions({extension(kSAN, seq({identify("K", {vid("1.2.3", {5})})}))}), 18, 0, 20903,
         "realName(K)virtualID(,05)"},
        {"subject alternative name: other name outside the OID table",
         extensions({extension(
             kSAN, seq({identify("K", {}), ctx(0, cat({oid("1.2.3.4"), ctx(0, null())}))}))}),
         18, 0, 20903, "realName(K)"},
        {"CRL distribution point URI",
         extensions(
             {extension(kCRLDP, seq({seq({ctx(0, ctx(0, uri("ldap://l/cn=dp,o=Test?crl")))})}))}),
         19, 0, 0, "dp:ldap://l/cn=dp,o=Test?crl"},
        {"CRL distribution points: directory name, reasons, issuer, relative name",
         extensions(
             {extension(kCRLDP, seq({seq({ctx(0, ctx(0, dirName({{atv("2.5.4.3", utf8("dp1"))}}))),
                                          ctx(1, Bytes{0x05, 0x60}, false),
                                          ctx(2, dirName({{atv("2.5.4.3", utf8("ca"))}}))}),
                                     seq({ctx(0, ctx(1, atv("2.5.4.3", utf8("dp2"))))}),
                                     seq({ctx(0, ctx(0, uri("http://c/2.crl")))})}))}),
         19, 0, 0, "dp:CN=dp1reasonscrlissuerdp:http://c/2.crl"},
        {"CRL distribution point by DNS name only",
         extensions({extension(kCRLDP, seq({seq({ctx(0, ctx(0, dns("c")))})}))}), 19, 0, 0, ""},
        {"authority information access",
         extensions({extension(kAIA, seq({seq({oid("1.3.6.1.5.5.7.48.2"), uri("http://ca/ca.der")}),
                                          seq({oid("1.3.6.1.5.5.7.48.1"), uri("http://ocsp")})}))}),
         20, 0, 0, "CAIssuers:http://ca/ca.derOCSP:http://ocsp"},
        {"authority information access by directory name",
         extensions({extension(kAIA, seq({seq({oid("1.3.6.1.5.5.7.48.2"),
                                               dirName({{atv("2.5.4.6", printable("KR"))},
                                                        {atv("2.5.4.3", utf8("CA"))}})})}))}),
         20, 0, 0, "CAIssuers:CN=CA, C=KR"},
        {"authority information access: other method",
         extensions({extension(kAIA, seq({seq({oid("1.3.6.1.5.5.7.48.1"), uri("http://ocsp")}),
                                          seq({oid("1.3.6.1.5.5.7.48.5"), uri("http://repo")})}))}),
         20, 0, -11, "OCSP:http://ocsp"},
        {"subject information access", extensions({extension("1.3.6.1.5.5.7.1.11", seq({}))}), 21,
         0, 10010, ""},
        {"key usage bits 0 and 1", extensions({extension(kKU, bits({0xC0}, 6))}), 22, 0, 0,
         "digitalSignature,nonRepudiation,"},
        {"key usage of a CA", extensions({extension(kKU, bits({0x06}, 1))}), 22, 0, 0,
         "keyCertSign,cRLSign,"},
        {"key usage bit 8", extensions({extension(kKU, bits({0x00, 0x80}, 7))}), 22, 0, 0,
         "decipherOnly,"},
        {"key usage, all nine", extensions({extension(kKU, bits({0xFF, 0x80}, 7))}), 22, 0, 0,
         "digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,keyAgreement,"
         "keyCertSign,"
         "cRLSign,encipherOnly,decipherOnly,"},
        {"key usage empty", extensions({extension(kKU, bits({}))}), 22, 0, 0, ""},
        {"name constraints", extensions({extension("2.5.29.30", seq({}))}), 17, 0, 0, ""},
        {"extended key usage",
         extensions({extension("2.5.29.37", seq({oid("1.3.6.1.5.5.7.3.1")}))}), 25, 0, 0, ""},
        {"value that does not decode", extensions({extension(kBC, Bytes{0xFF, 0xFF})}), 14, 0,
         20902, ""},
    };
    for (const Case& c : cases) {
        Rendered r = entry(c.list, c.entryId, c.flags);
        EXPECT_EQ(r.result, c.result) << c.what;
        EXPECT_EQ(r.text, c.text) << c.what;
    }
}

// Long texts are cut after whole pieces: never a broken URI, never past the buffer.
TEST(X509ExtensionText, EveryBufferSizeIsRespected) {
    const std::string a(70, 'a'), b(70, 'b');
    struct Case {
        Bytes list;
        int entryId;
        std::vector<std::string> pieces;
    } cases[] = {
        {extensions({extension(kAIA, seq({seq({oid("1.3.6.1.5.5.7.48.2"), uri("http://" + a)}),
                                          seq({oid("1.3.6.1.5.5.7.48.1"), uri("http://" + b)})}))}),
         20,
         {"CAIssuers:http://" + a, "OCSP:http://" + b}},
        {extensions({extension(kPolicies,
                               seq({policy(kPolicy, {cpsQualifier("http://" + a),
                                                     noticeQualifier(bmp(u"가나다라마바사"))})}))}),
         16,
         {"1.2.410.200004.5.2.1.2,", "http://" + a + ",", "가나다라마바사", "\n"}},
        {extensions({extension(kKU, bits({0xFF, 0x80}, 7))}),
         22,
         {"digitalSignature,", "nonRepudiation,", "keyEncipherment,", "dataEncipherment,",
          "keyAgreement,", "keyCertSign,", "cRLSign,", "encipherOnly,", "decipherOnly,"}},
        {extensions({extension(
             kSAN, seq({identify(a, {vid("2.16.840.1.101.3.4.2.1", Bytes(32, 0x11))})}))}),
         18,
         {"realName(" + a + ")", "virtualID(SHA256," + std::string(64, '1') + ")"}},
    };
    for (const Case& c : cases) {
        std::string full;
        for (const std::string& piece : c.pieces) full += piece;
        for (size_t size = 1; size <= full.size() + 2; ++size) {
            Rendered r = entry(c.list, c.entryId, 0, size);
            if (size > full.size()) {
                EXPECT_EQ(r.result, 0) << size;
                EXPECT_EQ(r.text, full) << size;
                continue;
            }
            EXPECT_EQ(r.result, 10009) << size;
            std::string expected, prefix;
            for (const std::string& piece : c.pieces) {
                prefix += piece;
                if (prefix.size() < size) expected = prefix;
            }
            EXPECT_EQ(r.text, expected) << c.entryId << " size " << size;
        }
    }
}

TEST(X509ExtensionText, DisplayTextAndUcs2Conversion) {
    struct Case {
        Bytes der;
        int result;
        std::string text;
    } cases[] = {
        {bmp(u"공인인증서"), 0, "공인인증서"},  // three bytes per character
        {utf8("개인 범용"), 0, "개인 범용"},
        {ia5("ia5"), 0, "ia5"},
        {visible("visible"), 0, "visible"},
        {bmp(u"\u00E9\u0041"), 0,
         "\xC3\xA9"
         "A"},
        {tlv(0x1E, Bytes{0xD8, 0x00, 0x00, 0x41}), 0,
         "\xEF\xBF\xBD"
         "A"},  // lone surrogate
    };
    for (const Case& c : cases) {
        Owned<DisplayText_t> dt(&asn_DEF_DisplayText, c.der);
        ASSERT_EQ(dt.result(), 0);
        GuardedBuffer buffer(64);
        EXPECT_EQ(SGX509DiplayText_ToString(buffer.data(), 64, dt.get()), c.result);
        EXPECT_EQ(buffer.text(), c.text);
        EXPECT_TRUE(buffer.guardsIntact());
    }
    Owned<DisplayText_t> korean(&asn_DEF_DisplayText, bmp(u"공인인증서"));
    GuardedBuffer small(15);
    EXPECT_EQ(SGX509DiplayText_ToString(small.data(), 15, korean.get()), 10009);
    EXPECT_EQ(small.text(), "");
    EXPECT_TRUE(small.guardsIntact());
    DisplayText_t none{};
    char buffer[8];
    EXPECT_EQ(SGX509DiplayText_ToString(buffer, sizeof buffer, &none), -1111);

    unsigned char ucs2[] = {0xD5, 0x5C, 0x00, 0x41, 0xFF, 0xFF};
    SGBinary in{ucs2, sizeof ucs2}, out{};
    ASSERT_EQ(ucs2utf8(&out, &in), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "한A");
    SGBinary_Reset(&out);
    in.length = 3;
    EXPECT_EQ(ucs2utf8(&out, &in), 20902);
    EXPECT_EQ(out.data, nullptr);
}

TEST(X509ExtensionEncoded, ValueOfTheExtension) {
    const Bytes value = seq({boolean(true), integer(0)});
    Owned<Extensions_t> ext(&asn_DEF_Extensions,
                            extensions({extension(kKU, bits({0x06}, 1)), extension(kBC, value)}));
    SGBinary out{};
    ASSERT_EQ(SGX509Extension_GetEncodedEntry(&out, ext.get(), 14), 0);
    EXPECT_EQ(hexText(Bytes(out.data, out.data + out.length)), hexText(value));
    SGBinary_Reset(&out);
    EXPECT_EQ(SGX509Extension_GetEncodedEntry(&out, ext.get(), 15), 10004);
    EXPECT_EQ(out.data, nullptr);
}

// --- Extensions of a generated certificate ---------------------------------------------------

struct Generated {
    int result;
    std::vector<std::string> extensions;  // "oid=value hex" in order
};

Generated generate(const SGX509GenerateParameters& parameters) {
    Extensions_t list{};
    Generated g;
    g.result = SGX509Extension_Generate(&list, &parameters);
    for (int i = 0; i < list.list.count; ++i) {
        const Extension_t* e = list.list.array[i];
        char id[64];
        SGASN1CObjectIdentifier_ToString(id, sizeof id, &e->extnID);
        EXPECT_EQ(e->critical, nullptr);
        g.extensions.push_back(
            std::string(id) + "=" +
            hexText(Bytes(e->extnValue.buf, e->extnValue.buf + e->extnValue.size)));
    }
    SGASN1CObject_Clear(&list, &asn_DEF_Extensions);
    return g;
}

TEST(X509ExtensionGenerate, ExtensionsFromTheParameters) {
    long pathLength = 0;
    unsigned char address[] = {192, 168, 0, 1};
    SGX509AltNameNode ip{SG_X509_ALT_IP, {address, 4}, nullptr};
    unsigned char host[] = "www.example.kr";
    SGX509AltNameNode dnsNode{SG_X509_ALT_DNS, {host, 14}, &ip};
    unsigned char mail[] = "a@b.kr";
    SGX509AltNameNode mailNode{SG_X509_ALT_RFC822, {mail, 6}, &dnsNode};

    SGX509GenerateParameters p{};
    Generated plain = generate(p);
    EXPECT_EQ(plain.result, 0);
    EXPECT_EQ(plain.extensions, std::vector<std::string>{"2.5.29.19=3000"});

    p.cA = 1;
    p.pathLenConstraint = &pathLength;
    p.digitalSignature = 1;
    p.serverAuth = 1;
    p.altNames = &mailNode;
    Generated all = generate(p);
    EXPECT_EQ(all.result, 0);
    EXPECT_EQ(all.extensions, (std::vector<std::string>{
                                  "2.5.29.19=30060101FF020100",
                                  "2.5.29.15=03020780",
                                  "2.5.29.37=300A06082B06010505070301",
                                  "2.5.29.17=301E8106" + hexText(text("a@b.kr")) + "820E" +
                                      hexText(text("www.example.kr")) + "8704C0A80001",
                              }));

    // A name of another kind stops the names; the other extensions stay.
    SGX509AltNameNode uriNode{6, {host, 14}, nullptr};
    p.altNames = &uriNode;
    p.pathLenConstraint = nullptr;
    p.serverAuth = 0;
    Generated refused = generate(p);
    EXPECT_EQ(refused.result, 10010);
    EXPECT_EQ(refused.extensions,
              (std::vector<std::string>{"2.5.29.19=30030101FF", "2.5.29.15=03020780"}));
    EXPECT_EQ(SGX509Extension_Generate(nullptr, &p), 10001);
}

}  // namespace
