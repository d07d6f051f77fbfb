#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SGASN1C.h"
#include "SGMemory.h"
#include "ServiceTestUtil.h"

namespace {

using namespace servicetest;

enum Kind {
    kTeletex = DirectoryString_PR_teletexString,
    kPrintable = DirectoryString_PR_printableString,
    kUniversal = DirectoryString_PR_universalString,
    kUtf8 = DirectoryString_PR_utf8String,
    kBmp = DirectoryString_PR_bmpString,
    kIA5 = 100,  // not a DirectoryString alternative
};

struct Ava {
    const char* type;  // dotted
    Kind kind;
    std::string text;
};

Bytes directoryStringDer(Kind kind, const std::string& text) {
    if (kind == kIA5) {
        Bytes der = {0x16, static_cast<unsigned char>(text.size())};
        der.insert(der.end(), text.begin(), text.end());
        return der;
    }
    DirectoryString_t ds{};
    ds.present = static_cast<DirectoryString_PR>(kind);
    EXPECT_EQ(OCTET_STRING_fromBuf(&ds.choice.utf8String, text.data(), text.size()), 0);
    SGBinary out{};
    EXPECT_EQ(SGASN1CObject_Encode(&out, &asn_DEF_DirectoryString, &ds), 0);
    Bytes der = bytesOf(out);
    SGBinary_Reset(&out);
    SGASN1CObject_Clear(&ds, &asn_DEF_DirectoryString);
    return der;
}

AttributeTypeAndValue_t* makeAva(const Ava& a) {
    auto* ava =
        static_cast<AttributeTypeAndValue_t*>(SGMemory_calloc(1, sizeof(AttributeTypeAndValue_t)));
    EXPECT_EQ(SGASN1CObjectIdentifier_FromString(a.type, &ava->type), 0);
    Bytes der = directoryStringDer(a.kind, a.text);
    SGBinary value = viewOf(der);
    EXPECT_EQ(SGASN1CAny_SetCopied(&ava->value, &value), 0);
    return ava;
}

RelativeDistinguishedName_t* makeRdn(const std::vector<Ava>& avas) {
    auto* rdn = static_cast<RelativeDistinguishedName_t*>(
        SGMemory_calloc(1, sizeof(RelativeDistinguishedName_t)));
    for (const Ava& a : avas) EXPECT_EQ(SGASN1CSet_Add(rdn, makeAva(a)), 0);
    return rdn;
}

// Owning wrappers, so every case cleans up after itself.
struct NameBox {
    Name_t name{};
    explicit NameBox(const std::vector<std::vector<Ava>>& rdns) {
        name.present = Name_PR_rdnSequence;
        for (const auto& rdn : rdns)
            EXPECT_EQ(SGASN1CSequence_Add(&name.choice.rdnSequence, makeRdn(rdn)), 0);
    }
    ~NameBox() { SGASN1CObject_Clear(&name, &asn_DEF_Name); }
};

struct RdnBox {
    RelativeDistinguishedName_t* rdn;
    explicit RdnBox(const std::vector<Ava>& avas) : rdn(makeRdn(avas)) {}
    ~RdnBox() { SGASN1CObject_Free(rdn, &asn_DEF_RelativeDistinguishedName); }
};

const char* kCN = "2.5.4.3";
const char* kO = "2.5.4.10";
const char* kC = "2.5.4.6";

TEST(SGASN1CCompare, PrintableStrings) {
    struct Case {
        std::string a, b;
        int result;
    } cases[] = {
        {"Acme Corp", "acme CORP", 0},
        {"  Acme   Corp  ", "Acme Corp", 0},
        {"\t Acme", "Acme", 0},
        {"Acme\t\tCorp", "Acme Corp", 0},
        {"Acme \tCorp", "Acme Corp", 0},
        {"Acme\tCorp", "Acme Corp", 1},  // a single tab stays a tab
        {"Acme", "Acme Corp", 1},
        {"Acme Corq", "Acme Corp", 1},
        {"", "   ", 0},
        {std::string(512, 'x'), std::string(512, 'X'), 0},
        {std::string(511, 'x') + "a", std::string(511, 'x') + "b", 1},  // the whole text counts
        {std::string(513, 'x'), "x", -2},
        {"x", std::string(513, 'x'), -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SGASN1CPrintableString_Compare(c.a.c_str(), c.b.c_str()), c.result)
            << "'" << c.a.substr(0, 20) << "' / '" << c.b.substr(0, 20) << "'";
    EXPECT_EQ(SGASN1CPrintableString_Compare(nullptr, "x"), 10001);
}

TEST(SGASN1CCompare, AttributeTypeAndValueByBytes) {
    AttributeTypeAndValue_t* a = makeAva({kCN, kUtf8, "Kim"});
    AttributeTypeAndValue_t* same = makeAva({kCN, kUtf8, "Kim"});
    AttributeTypeAndValue_t* lower = makeAva({kCN, kUtf8, "kim"});
    AttributeTypeAndValue_t* printable = makeAva({kCN, kPrintable, "Kim"});
    AttributeTypeAndValue_t* org = makeAva({kO, kUtf8, "Kim"});
    EXPECT_EQ(SGASN1CAttributeTypeAndValue_IsEqual(a, same), 0);
    EXPECT_EQ(SGASN1CAttributeTypeAndValue_IsEqual(a, lower), -1);
    EXPECT_EQ(SGASN1CAttributeTypeAndValue_IsEqual(a, printable), -1);
    EXPECT_EQ(SGASN1CAttributeTypeAndValue_IsEqual(a, org), -1);
    EXPECT_EQ(SGASN1CAttributeTypeAndValue_IsEqual(a, nullptr), -1);
    for (auto* p : {a, same, lower, printable, org})
        SGASN1CObject_Free(p, &asn_DEF_AttributeTypeAndValue);
}

TEST(SGASN1CCompare, Names) {
    const std::vector<std::vector<Ava>> base = {
        {{kC, kPrintable, "KR"}}, {{kO, kUtf8, "Acme"}}, {{kCN, kUtf8, "Kim"}}};
    NameBox a(base), same(base);
    NameBox lower({{{kC, kPrintable, "KR"}}, {{kO, kUtf8, "Acme"}}, {{kCN, kUtf8, "kim"}}});
    NameBox shorter({{{kC, kPrintable, "KR"}}, {{kO, kUtf8, "Acme"}}});
    NameBox multi({{{kC, kPrintable, "KR"}},
                   {{kO, kUtf8, "Acme"}},
                   {{kCN, kUtf8, "Kim"}, {"2.5.4.4", kUtf8, "K"}}});
    NameBox reordered({{{kO, kUtf8, "Acme"}}, {{kC, kPrintable, "KR"}}, {{kCN, kUtf8, "Kim"}}});
    NameBox otherString(
        {{{kC, kPrintable, "KR"}}, {{kO, kPrintable, "Acme"}}, {{kCN, kUtf8, "Kim"}}});
    struct Case {
        const Name_t* b;
        int result;
    } cases[] = {{&same.name, 0},      {&lower.name, 20914},     {&shorter.name, 20911},
                 {&multi.name, 20911}, {&reordered.name, 20914}, {&otherString.name, 20914}};
    for (const Case& c : cases) EXPECT_EQ(SGASN1CName_Compare(&a.name, c.b), c.result);
    EXPECT_EQ(
        SGASN1CRDNSequence_Compare(&a.name.choice.rdnSequence, &lower.name.choice.rdnSequence),
        20914);
    Name_t empty{};
    EXPECT_EQ(SGASN1CName_Compare(&a.name, &empty), -1);  // not in rdnSequence form
    EXPECT_EQ(SGASN1CName_Compare(&empty, &a.name), -1);
}

TEST(SGASN1CCompare, RelativeDistinguishedNames) {
    RdnBox utf8({{kCN, kUtf8, "Kim"}});
    struct Case {
        std::vector<Ava> b;
        int result;
    } cases[] = {
        {{{kCN, kUtf8, "Kim"}}, 0},
        {{{kCN, kUtf8, "Kimura"}}, 564161},  // a proper prefix is different
        {{{kCN, kUtf8, "kim"}}, 564161},
        {{{kCN, kPrintable, "Kim"}}, 234234344},
        {{{kCN, kBmp, std::string("\0K\0i\0m", 6)}}, 234234344},
        {{{kO, kUtf8, "Kim"}}, -120398123},
        {{{kCN, kUtf8, "Kim"}, {kO, kUtf8, "Acme"}}, -442131},
        {{{kCN, kIA5, "Kim"}}, 20902},  // not a DirectoryString
    };
    for (const Case& c : cases) {
        RdnBox b(c.b);
        EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(utf8.rdn, b.rdn), c.result)
            << c.b[0].text;
    }
    // Printable strings compare without case and with blank runs folded.
    RdnBox p1({{kO, kPrintable, "  Acme   Corp"}}), p2({{kO, kPrintable, "ACME CORP "}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(p1.rdn, p2.rdn), 0);
    RdnBox p3({{kO, kPrintable, "Acme\tCorp"}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(p1.rdn, p3.rdn), 1);
    RdnBox t1({{kO, kTeletex, "Acme"}}), t2({{kO, kTeletex, "Acme"}}), t3({{kO, kTeletex, "Acmf"}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(t1.rdn, t2.rdn), 0);
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(t1.rdn, t3.rdn), 564161);
    RdnBox u1({{kO, kUniversal, std::string("\0\0\0A", 4)}});
    RdnBox u2({{kO, kUniversal, std::string("\0\0\0A", 4)}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(u1.rdn, u2.rdn), 0);
    // Two attribute types outside the OID table are still told apart.
    RdnBox x1({{"1.2.3.4", kUtf8, "v"}}), x2({{"1.2.3.5", kUtf8, "v"}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(x1.rdn, x2.rdn), -120398123);
    RdnBox x3({{"1.2.3.4", kUtf8, "v"}});
    EXPECT_EQ(SGASN1CRelativeDistinguishedName_Compare(x1.rdn, x3.rdn), 0);
}

// A GeneralName of the given kind from DER.
struct GeneralNameBox {
    GeneralName_t* name = nullptr;
    explicit GeneralNameBox(const std::string& hexDer) {
        Bytes der = unhex(hexDer);
        SGBinary in = viewOf(der);
        void* out = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_GeneralName, &in), 0) << hexDer;
        name = static_cast<GeneralName_t*>(out);
    }
    ~GeneralNameBox() {
        if (name) SGASN1CObject_Free(name, &asn_DEF_GeneralName);
    }
};

TEST(SGASN1CCompare, GeneralNames) {
    struct Case {
        const char* a;
        const char* b;
        int result;
    } cases[] = {
        {"8103612E62", "8103612E62", 0},      // rfc822Name
        {"8103612E62", "8103612E63", 20914},  //
        {"8203612E62", "8203612E62", 0},      // dNSName
        {"8603612E62", "8603612E42", 20914},  // uniformResourceIdentifier, case counts
        {"87047F000001", "87047F000001", 0},  // iPAddress
        {"87047F000001", "87047F000002", 20914},
        {"88032A0304", "88032A0304", 0},  // registeredID
        {"88032A0304", "88032A0305", 20914},
        {"8103612E62", "8203612E62", 20913},  // different kinds
        // otherName: the type and the value both count
        {"A00B06032A0304A004020201FF", "A00B06032A0304A004020201FF", 0},
        {"A00B06032A0304A004020201FF", "A00B06032A0305A004020201FF", 20914},
        {"A00B06032A0304A004020201FF", "A00B06032A0304A004020201FE", 20914},
        {"A50AA1080C06706172747931", "A50AA1080C06706172747931", 20910},  // ediPartyName
        // directoryName C=KR, compared as Names
        {"A40F300D310B3009060355040613024B52", "A40F300D310B3009060355040613024B52", 0},
        {"A40F300D310B3009060355040613024B52", "A40F300D310B3009060355040613024A50", 20914},
    };
    for (const Case& c : cases) {
        GeneralNameBox a(c.a), b(c.b);
        ASSERT_TRUE(a.name && b.name);
        EXPECT_EQ(SGASN1CGeneralName_Compare(a.name, b.name), c.result) << c.a << " " << c.b;
    }
    GeneralName_t none1{}, none2{};
    EXPECT_EQ(SGASN1CGeneralName_Compare(&none1, &none2), 20909);
    EXPECT_EQ(SGASN1CGeneralName_Compare(&none1, nullptr), 10001);
}

struct NamesBox {
    GeneralNames_t* names = nullptr;
    explicit NamesBox(const std::string& hexDer) {
        Bytes der = unhex(hexDer);
        SGBinary in = viewOf(der);
        void* out = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_GeneralNames, &in), 0) << hexDer;
        names = static_cast<GeneralNames_t*>(out);
    }
    ~NamesBox() {
        if (names) SGASN1CObject_Free(names, &asn_DEF_GeneralNames);
    }
};

TEST(SGASN1CCompare, GeneralNameListsAndDistributionPointNames) {
    NamesBox two("300A8103612E628203612E63"), same("300A8103612E628203612E63");
    NamesBox swapped("300A8203612E638103612E62"), one("30058103612E62");
    NamesBox secondDiffers("300A8103612E628203612E64");
    EXPECT_EQ(SGASN1CGeneralNames_Compare(two.names, same.names), 0);
    EXPECT_EQ(SGASN1CGeneralNames_Compare(two.names, one.names), 20911);
    EXPECT_EQ(SGASN1CGeneralNames_Compare(two.names, swapped.names), 20913);
    EXPECT_EQ(SGASN1CGeneralNames_Compare(two.names, secondDiffers.names), 20914);

    auto decodeDpn = [](const char* hexDer) {
        Bytes der = unhex(hexDer);
        SGBinary in = viewOf(der);
        void* out = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_DistributionPointName, &in), 0) << hexDer;
        return static_cast<DistributionPointName_t*>(out);
    };
    // fullName [0] with one URI, and nameRelativeToCRLIssuer [1] with CN=dp1 (utf8).
    DistributionPointName_t* full1 = decodeDpn("A0058603612E62");
    DistributionPointName_t* full2 = decodeDpn("A0058603612E62");
    DistributionPointName_t* full3 = decodeDpn("A0058603612E63");
    DistributionPointName_t* rel1 = decodeDpn("A10C300A06035504030C03647031");
    DistributionPointName_t* rel2 = decodeDpn("A10C300A06035504030C03647031");
    DistributionPointName_t* rel3 = decodeDpn("A10C300A06035504030C03647032");
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(full1, full2), 0);
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(full1, full3), 20914);
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(rel1, rel2), 0);
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(rel1, rel3), 564161);
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(full1, rel1), -1);
    DistributionPointName_t none1{}, none2{};
    EXPECT_EQ(SGASN1CDistributionPointName_Compare(&none1, &none2), -2);
    for (auto* p : {full1, full2, full3, rel1, rel2, rel3})
        SGASN1CObject_Free(p, &asn_DEF_DistributionPointName);
}

}  // namespace
