#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGServiceInternal.h"
#include "ServiceTestUtil.h"

namespace {

using namespace servicetest;

// The 170 ids and their identifiers.
const std::map<int, std::string> kIds = {
    {1, "1.2.840.113533.7.66.13"},
    {2, "1.2.840.113549.1.1"},
    {3, "1.2.840.113549.1.1.1"},
    {4, "1.2.840.113549.1.1.2"},
    {5, "1.2.840.113549.1.1.4"},
    {6, "1.2.840.113549.1.1.5"},
    {7, "1.2.840.113549.1.1.7"},
    {8, "1.2.840.113549.1.1.8"},
    {9, "1.2.840.113549.1.1.9"},
    {10, "1.2.840.113549.1.1.10"},
    {11, "1.2.840.113549.1.1.14"},
    {12, "1.2.840.113549.1.1.11"},
    {13, "1.2.840.113549.1.1.12"},
    {14, "1.2.840.113549.1.1.13"},
    {15, "1.2.840.113549.1.5"},
    {16, "1.2.840.113549.1.5.1"},
    {17, "1.2.840.113549.1.5.3"},
    {18, "1.2.840.113549.1.5.4"},
    {19, "1.2.840.113549.1.5.6"},
    {20, "1.2.840.113549.1.5.10"},
    {21, "1.2.840.113549.1.5.11"},
    {22, "1.2.840.113549.1.5.12"},
    {23, "1.2.840.113549.1.5.13"},
    {24, "1.2.840.113549.1.5.14"},
    {25, "1.2.840.113549.1.7"},
    {26, "1.2.840.113549.1.7.1"},
    {27, "1.2.840.113549.1.7.2"},
    {28, "1.2.840.113549.1.7.3"},
    {29, "1.2.840.113549.1.7.4"},
    {30, "1.2.840.113549.1.7.5"},
    {31, "1.2.840.113549.1.7.6"},
    {32, "1.2.840.113549.1.9.3"},
    {33, "1.2.840.113549.1.9.4"},
    {34, "1.2.840.113549.1.9.5"},
    {35, "1.2.840.113549.1.9.22.1"},
    {36, "1.2.840.113549.1.9.22.2"},
    {37, "1.2.840.113549.1.12.1.1"},
    {38, "1.2.840.113549.1.12.1.2"},
    {39, "1.2.840.113549.1.12.1.3"},
    {40, "1.2.840.113549.1.12.1.4"},
    {41, "1.2.840.113549.1.12.1.5"},
    {42, "1.2.840.113549.1.12.1.6"},
    {43, "1.2.840.113549.1.12.10.1.1"},
    {44, "1.2.840.113549.1.12.10.1.2"},
    {45, "1.2.840.113549.1.12.10.1.3"},
    {46, "1.2.840.113549.1.12.10.1.4"},
    {47, "1.2.840.113549.1.12.10.1.5"},
    {48, "1.2.840.113549.1.12.10.1.6"},
    {49, "1.2.840.113549.1.9.21"},
    {50, "1.2.840.113549.1.9.20"},
    {51, "1.2.410.100001.1.20"},
    {52, "1.2.410.200004.1.1"},
    {53, "1.2.410.200004.1.2"},
    {54, "1.2.410.200004.1.3"},
    {55, "1.2.410.200004.1.4"},
    {56, "1.2.410.200004.1.5"},
    {57, "1.2.410.200004.1.6"},
    {58, "1.2.410.200004.1.7"},
    {59, "1.2.410.200004.1.8"},
    {60, "1.2.410.200004.1.9"},
    {61, "1.2.410.200004.1.10"},
    {62, "1.2.410.200004.1.11"},
    {63, "1.2.410.200004.1.12"},
    {64, "1.2.410.200004.1.13"},
    {65, "1.2.410.200004.1.14"},
    {66, "1.2.410.200004.1.15"},
    {67, "1.2.410.200004.1.16"},
    {68, "1.2.410.200004.1.17"},
    {69, "1.2.410.200004.1.20"},
    {70, "1.2.410.200004.1.21"},
    {71, "1.2.410.200004.1.22"},
    {72, "1.2.410.200004.1.23"},
    {73, "1.2.410.200004.1.24"},
    {74, "1.2.410.200004.1.25"},
    {75, "1.2.410.200004.1.26"},
    {76, "1.2.410.200004.1.27"},
    {77, "1.2.410.200004.1.28"},
    {78, "1.2.410.200004.1.29"},
    {79, "1.2.410.200004.1.30"},
    {80, "1.2.410.200004.1.31"},
    {81, "1.2.410.200004.1.32"},
    {82, "1.2.410.200004.1.33"},
    {83, "1.2.410.200004.1.34"},
    {84, "1.2.410.200004.1.35"},
    {85, "1.2.410.200004.1.36"},
    {86, "1.2.410.200004.1.37"},
    {87, "1.2.410.200004.1.38"},
    {88, "1.2.410.200004.1.39"},
    {89, "1.2.410.200004.1.40"},
    {90, "1.2.410.200004.1.41"},
    {91, "1.2.410.200004.1.100"},
    {92, "1.2.410.200004.10.1.1"},
    {93, "1.2.410.200004.10.1.1.1"},
    {94, "1.2.410.200004.10.1.1.2"},
    {95, "1.2.410.200004.10.1.1.3"},
    {96, "1.2.410.200004.10.1.2"},
    {97, "1.2.410.200005.1.10.1"},
    {98, "1.2.840.113549.2.2"},
    {99, "1.2.840.113549.2.5"},
    {100, "1.2.840.113549.2.7"},
    {101, "1.2.840.113549.3.2"},
    {102, "1.2.840.113549.3.7"},
    {103, "1.2.840.113549.3.9"},
    {104, "2.16.840.1.101.3.4.1.2"},
    {105, "2.16.840.1.101.3.4.1.22"},
    {106, "2.16.840.1.101.3.4.1.42"},
    {107, "1.3.14.3.2.7"},
    {108, "1.3.14.3.2.26"},
    {109, "2.5.4.3"},
    {110, "2.5.4.4"},
    {111, "2.5.4.5"},
    {112, "2.5.4.6"},
    {113, "2.5.4.7"},
    {114, "2.5.4.8"},
    {115, "2.5.4.9"},
    {116, "2.5.4.10"},
    {117, "2.5.4.11"},
    {118, "2.5.4.12"},
    {119, "2.5.4.15"},
    {120, "2.5.4.42"},
    {121, "2.5.4.43"},
    {122, "2.5.4.44"},
    {123, "2.5.4.45"},
    {124, "2.5.4.46"},
    {125, "2.5.4.65"},
    {126, "0.9.2342.19200300.100.1.25"},
    {127, "1.2.840.113549.1.9.1"},
    {128, "0.9.2342.19200300.100.1.3"},
    {129, "1.3.6.1.5.5.7.1.1"},
    {130, "1.3.6.1.5.5.7.1.11"},
    {131, "1.3.6.1.5.5.7.1.24"},
    {132, "1.3.6.1.5.5.7.2.1"},
    {133, "1.3.6.1.5.5.7.2.2"},
    {134, "1.3.6.1.5.5.7.3.1"},
    {135, "1.3.6.1.5.5.7.4.1"},
    {136, "1.3.6.1.5.5.7.5.1.5"},
    {137, "1.3.6.1.5.5.7.48.1"},
    {138, "1.3.6.1.5.5.7.48.2"},
    {139, "2.5.29.9"},
    {140, "2.5.29.14"},
    {141, "2.5.29.15"},
    {142, "2.5.29.16"},
    {143, "2.5.29.17"},
    {144, "2.5.29.18"},
    {145, "2.5.29.19"},
    {146, "2.5.29.20"},
    {147, "2.5.29.21"},
    {148, "2.5.29.23"},
    {149, "2.5.29.24"},
    {150, "2.5.29.27"},
    {151, "2.5.29.28"},
    {152, "2.5.29.29"},
    {153, "2.5.29.30"},
    {154, "2.5.29.31"},
    {155, "2.5.29.32"},
    {156, "2.5.29.32.0"},
    {157, "2.5.29.33"},
    {158, "2.5.29.35"},
    {159, "2.5.29.36"},
    {160, "2.5.29.37"},
    {161, "2.5.29.37.0"},
    {162, "2.5.29.46"},
    {163, "2.5.29.54"},
    {164, "2.16.840.1.101.3.2.1.48.1"},
    {165, "2.16.840.1.101.3.2.1.48.2"},
    {166, "2.16.840.1.101.3.4.2.1"},
    {167, "2.16.840.1.101.3.4.2.2"},
    {168, "2.16.840.1.101.3.4.2.3"},
    {169, "1.2.840.10045.2.1"},
    {170, "1.2.410.100001.1.30"},
};

// Length of a DER TLV at p; false when it does not fit end.
bool readTlv(const unsigned char*& p, const unsigned char* end, unsigned char* tag, Bytes* value) {
    if (end - p < 2) return false;
    *tag = *p++;
    size_t length = *p++;
    if (length & 0x80) {
        int n = length & 0x7F;
        if (n == 0 || n > 4 || end - p < n) return false;
        length = 0;
        while (n--) length = length << 8 | *p++;
    }
    if (static_cast<size_t>(end - p) < length) return false;
    value->assign(p, p + length);
    p += length;
    return true;
}

// OpenSSL's contents octets for every identifier of the table, from one generated SEQUENCE.
std::map<int, Bytes> opensslEncodings() {
    ScratchDir dir;
    std::string conf = "asn1=SEQUENCE:seq\n[seq]\n";
    for (const auto& [id, dotted] : kIds)
        conf += "o" + std::to_string(id) + "=OID:" + dotted + "\n";
    writeFile(dir / "oids.cnf", conf);
    std::map<int, Bytes> out;
    if (!run(dir, "openssl asn1parse -genconf oids.cnf -noout -out oids.der")) return out;
    Bytes der = readFile(dir / "oids.der");
    const unsigned char* p = der.data();
    unsigned char tag;
    Bytes seq;
    if (!readTlv(p, der.data() + der.size(), &tag, &seq) || tag != 0x30) return out;
    p = seq.data();
    auto id = kIds.begin();
    Bytes oid;
    while (id != kIds.end() && readTlv(p, seq.data() + seq.size(), &tag, &oid) && tag == 0x06)
        out[(id++)->first] = oid;
    return out;
}

TEST(SGASNObjectID, AllIdsMatchOpenSSLEncodingsBothWays) {
    const std::map<int, Bytes> openssl = opensslEncodings();
    ASSERT_EQ(openssl.size(), 170u);
    for (const auto& [id, dotted] : kIds) {
        SCOPED_TRACE("id " + std::to_string(id) + " " + dotted);
        SGBinary* ours = SGASNObjectID_Get(id);
        ASSERT_NE(ours, nullptr);
        EXPECT_EQ(hex(*ours), hex(openssl.at(id)));
        SGBinary_Free(ours);
        SGBinary expected = viewOf(openssl.at(id));
        EXPECT_EQ(SGASNObjectID_Search(&expected), id);
        char text[64];
        ASSERT_EQ(SGASNObjectID_ToString(text, sizeof text, id), 0);
        EXPECT_EQ(text, dotted);
    }
}

TEST(SGASNObjectID, SearchByContents) {
    struct Case {
        const char* contents;
        int id;
    } cases[] = {
        {"551D13", 145},           // 2.5.29.19
        {"2A831A8C9A440104", 55},  // 1.2.410.200004.1.4
        {"2A0304", 0},             // 1.2.3.4, not listed
        {"551D", 0},               // a prefix of listed identifiers
        {"", 0},
    };
    for (const Case& c : cases) {
        Bytes b = unhex(c.contents);
        SGBinary bin = viewOf(b);
        EXPECT_EQ(SGASNObjectID_Search(&bin), c.id) << c.contents;
    }
    EXPECT_EQ(SGASNObjectID_Search(nullptr), 0);
}

TEST(SGASNObjectID, UnknownIdsGiveNothing) {
    char text[64] = "untouched";
    for (int id : {0, -1, 171, 999, 1000}) {
        EXPECT_EQ(SGASNObjectID_Get(id), nullptr) << id;
        EXPECT_EQ(SGASNObjectID_ToString(text, sizeof text, id), -11) << id;
    }
    ASSERT_EQ(SGASNObjectID_ToString(text, 64, 170), 0);
    EXPECT_STREQ(text, "1.2.410.100001.1.30");
    // A buffer too small for the text is reported, not filled silently.
    EXPECT_EQ(SGASNObjectID_ToString(text, 8, 170), 10009);
}

TEST(SGASNObjectID, FixedSlotLayout) {
    EXPECT_EQ(SGASNObjectID_SlotId(0), 169);
    for (int id = 1; id <= 34; ++id) EXPECT_EQ(SGASNObjectID_SlotId(id), id);
    EXPECT_EQ(SGASNObjectID_SlotId(35), 50);
    EXPECT_EQ(SGASNObjectID_SlotId(36), 49);
    for (int id = 35; id <= 48; ++id) EXPECT_EQ(SGASNObjectID_SlotId(id + 2), id);
    EXPECT_EQ(SGASNObjectID_SlotId(51), 51);
    EXPECT_EQ(SGASNObjectID_SlotId(52), 170);
    for (int id = 52; id <= 168; ++id) EXPECT_EQ(SGASNObjectID_SlotId(id + 1), id);
    for (int slot = 170; slot < 1000; ++slot) EXPECT_EQ(SGASNObjectID_SlotId(slot), -1);
    // Ids 49 and 50 are found by id whatever their slot order.
    SGBinary* a = SGASNObjectID_Get(49);
    SGBinary* b = SGASNObjectID_Get(50);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(hex(*a), "2A864886F70D010915");
    EXPECT_EQ(hex(*b), "2A864886F70D010914");
    SGBinary_Free(a);
    SGBinary_Free(b);
}

TEST(SGASNObjectID, LoadOnceFreeAndReload) {
    SGASNObjectID_Load();  // loaded here, or already by an earlier lookup
    EXPECT_EQ(SGASNObjectID_Load(), 1);
    EXPECT_EQ(SGASNObjectID_SlotId(52), 170);  // a second load changed nothing
    SGASNObjectID_Free();
    SGASNObjectID_Free();  // a second free does nothing
    Bytes bc = unhex("551D13");
    SGBinary bin = viewOf(bc);
    EXPECT_EQ(SGASNObjectID_Search(&bin), 145);  // loaded again
    SGASNObjectID_Free();
    EXPECT_EQ(SGASNObjectID_Load(), 0);  // the result of the last row
    EXPECT_EQ(SGASNObjectID_Load(), 1);
}

TEST(SGASNObjectID, AddRefusesBadRowsAndReplacesAnEntry) {
    EXPECT_EQ(SGASNObjectID_Add(500, "not.an.oid", 500), 2);
    EXPECT_EQ(SGASNObjectID_Add(500, "1.2.3x", 500), 2);
    EXPECT_EQ(SGASNObjectID_Add(500, "1", 500), 2);
    EXPECT_EQ(SGASNObjectID_Add(500, nullptr, 500), 2);
    EXPECT_EQ(SGASNObjectID_Add(500, "3.1.2", 500), 3);    // first arc above 2
    EXPECT_EQ(SGASNObjectID_Add(500, "1.2.3", 1000), -1);  // outside the table
    EXPECT_EQ(SGASNObjectID_Add(500, "1.2.3", -1), -1);
    EXPECT_EQ(SGASNObjectID_SlotId(500), -1);
    // An identifier with more than 10 arcs, then replaced in the same slot.
    ASSERT_EQ(SGASNObjectID_Add(500, "1.3.6.1.4.1.99999.1.2.3.4.5.6", 500), 0);
    char text[64];
    ASSERT_EQ(SGASNObjectID_ToString(text, sizeof text, 500), 0);
    EXPECT_STREQ(text, "1.3.6.1.4.1.99999.1.2.3.4.5.6");
    ASSERT_EQ(SGASNObjectID_Add(501, "1.2.3.4", 500), 0);
    EXPECT_EQ(SGASNObjectID_Get(500), nullptr);
    Bytes b = unhex("2A0304");
    SGBinary bin = viewOf(b);
    EXPECT_EQ(SGASNObjectID_Search(&bin), 501);
    SGASNObjectID_Free();  // drops the extra rows too
    EXPECT_EQ(SGASNObjectID_Search(&bin), 0);
}

TEST(SGASNObjectID, AddedRowsAreFoundInSlotOrderWhateverTheirLength) {
    SGASNObjectID_Load();
    // The same identifier in two slots: a search finds the lower slot's id.
    ASSERT_EQ(SGASNObjectID_Add(600, "1.2.3.4.5", 700), 0);
    ASSERT_EQ(SGASNObjectID_Add(601, "1.2.3.4.5", 650), 0);
    Bytes shared = unhex("2A030405");
    SGBinary sharedBin = viewOf(shared);
    EXPECT_EQ(SGASNObjectID_Search(&sharedBin), 601);
    // One id in two slots: a lookup by id takes the lower slot's identifier.
    ASSERT_EQ(SGASNObjectID_Add(602, "1.2.8", 900), 0);
    ASSERT_EQ(SGASNObjectID_Add(602, "1.2.9", 800), 0);
    SGBinary* byId = SGASNObjectID_Get(602);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(hex(*byId), "2A09");
    SGBinary_Free(byId);
    // Identifiers longer than the index keeps (34 bytes) and just within it (24 bytes).
    const struct {
        int id;
        const char* dotted;
        const char* contents;
    } rows[] = {
        {603, "1.3.6.1.4.1.99999.300.301.302.303.304.305.306.307.308.309.310.311.312",
         "2B06010401868D1F822C822D822E822F823082318232823382348235823682378238"},
        {604, "1.3.6.1.4.1.99999.1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16",
         "2B06010401868D1F0102030405060708090A0B0C0D0E0F10"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dotted);
        ASSERT_EQ(SGASNObjectID_Add(row.id, row.dotted, row.id), 0);
        SGBinary* got = SGASNObjectID_Get(row.id);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(hex(*got), row.contents);
        SGBinary_Free(got);
        Bytes contents = unhex(row.contents);
        SGBinary bin = viewOf(contents);
        EXPECT_EQ(SGASNObjectID_Search(&bin), row.id);
        char text[128];
        ASSERT_EQ(SGASNObjectID_ToString(text, sizeof text, row.id), 0);
        EXPECT_STREQ(text, row.dotted);
    }
    SGASNObjectID_Free();  // back to the table as loaded
    EXPECT_EQ(SGASNObjectID_Search(&sharedBin), 0);
}

TEST(SGASNObjectID, LookupsDuringChangesSeeTheTableBeforeOrAfter) {
    // Readers look up listed identifiers without the lock while rows are added (which rebuilds
    // and reorders the index) and the table is freed and reloaded: every answer is right.
    SGASNObjectID_Load();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    const Bytes bc = unhex("551D13"), seed = unhex("2A831A8C9A440104");
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&] {
            while (!stop.load()) {
                SGBinary a = viewOf(bc), b = viewOf(seed);
                if (SGASNObjectID_Search(&a) != 145 || SGASNObjectID_Search(&b) != 55) ++wrong;
                SGBinary* got = SGASNObjectID_Get(145);
                if (!got || hex(*got) != "551D13") ++wrong;
                SGBinary_Free(got);
            }
        });
    for (int round = 0; round < 200; ++round) {
        const std::string dotted = "1.2.3." + std::to_string(round);
        SGASNObjectID_Add(700 + round, dotted.c_str(), 200 + round % 700);
        if (round % 50 == 49) SGASNObjectID_Free();
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    SGASNObjectID_Free();
}

TEST(SGASNObjectID, ConcurrentFirstLookupsAfterFree) {
    for (int round = 0; round < 20; ++round) {
        SGASNObjectID_Free();
        std::vector<std::thread> threads;
        std::vector<int> found(8, -1);
        Bytes bc = unhex("551D13");
        for (size_t i = 0; i < found.size(); ++i)
            threads.emplace_back([&, i] {
                SGBinary bin = viewOf(bc);
                found[i] = SGASNObjectID_Search(&bin);
            });
        for (auto& t : threads) t.join();
        for (int id : found) EXPECT_EQ(id, 145);
    }
}

}  // namespace
