#include "SGWrapper.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "SGBaseTable.h"
#include "SGCryptoTable.h"
#include "SGDigest.h"
#include "SGRandom.h"
#include "SGServiceTable.h"
#include "TokenTestSupport.h"

using namespace tokentest;

namespace {

struct Table {
    const char* name;
    void** slots;
    int size;
};

const Table kTables[] = {
    {"Base", Base, SG_BASE_TABLE_SLOTS},
    {"Crypto", Crypto, SG_CRYPTO_TABLE_SLOTS},
    {"Service", Service, SG_SERVICE_TABLE_SLOTS},
};

int versionOf(void** table) {
    int32_t v;
    std::memcpy(&v, &table[0], sizeof v);
    return v;
}

std::vector<void*> snapshot() {
    std::vector<void*> all;
    for (const Table& t : kTables) all.insert(all.end(), t.slots, t.slots + t.size);
    return all;
}

// "stage table version filled" lines of the probe program.
std::map<std::string, std::pair<int, int>> parseReport(const std::string& output) {
    std::map<std::string, std::pair<int, int>> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string stage, table;
        int version = 0, filled = 0;
        if (words >> stage >> table >> version >> filled)
            lines[stage + " " + table] = {version, filled};
    }
    return lines;
}

std::string lineOf(const std::string& output, const std::string& key) {
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

}  // namespace

TEST(SGWrapper, TablesAreFilledAtLoad) {
    for (const Table& t : kTables) {
        EXPECT_EQ(versionOf(t.slots), 2) << t.name;
        for (int i = 1; i < t.size; ++i) EXPECT_NE(t.slots[i], nullptr) << t.name << " slot " << i;
    }
    // The tables reach live libraries: the random generator instantiated at load is still there.
    unsigned char random[16] = {};
    EXPECT_EQ(SG_CRYPTO_FN(Crypto, SGRandom_bytes)(random, sizeof random), 0);
    unsigned char digest[32];
    ASSERT_EQ(SG_CRYPTO_FN(Crypto, SGDigest)(digest, SG_DIGEST_SHA256,
                                             reinterpret_cast<const unsigned char*>("abc"), 3),
              0);
    EXPECT_EQ(digest[0], 0xBA);
    EXPECT_STREQ(SG_BASE_FN(Base, SGBase_GetVersion)(), "4.2.1.0");
    EXPECT_STREQ(SG_SERVICE_FN(Service, SGService_GetVersion)(), "4.2.1.0");
}

TEST(SGWrapper, InitializeRepeatsTheBindingAndFinalizeLeavesTheTables) {
    const std::vector<void*> before = snapshot();
    EXPECT_EQ(SGWrapper_Finalize(), 0);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(SGWrapper_Initialize(), 0);
    EXPECT_EQ(snapshot(), before);
}

TEST(SGWrapper, LoadedModuleReachesTablesAndTokenClassesByName) {
    void* module = dlopen(TOKEN_PROBE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();

    auto tables = reinterpret_cast<int (*)(const char* const*, int, int*, int*, unsigned char*)>(
        dlsym(module, "probe_Tables"));
    ASSERT_NE(tables, nullptr);
    const char* const names[] = {"Base", "Crypto", "Service"};
    int versions[3] = {}, empty[3] = {-1, -1, -1};
    unsigned char digest[32] = {};
    EXPECT_EQ(tables(names, 3, versions, empty, digest), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(versions[i], 2) << names[i];
        EXPECT_EQ(empty[i], 0) << names[i];
    }
    EXPECT_EQ(digest[31], 0xAD);  // SHA-256("abc") ends in 0xAD

    auto token =
        reinterpret_cast<int (*)(int*, int*, int*, char*, char*)>(dlsym(module, "probe_Token"));
    ASSERT_NE(token, nullptr);
    int checkPin = 0, basePath = 0, importFinal = 0;
    char kind[256] = {}, fingerprint[128] = {};
    ASSERT_EQ(token(&checkPin, &basePath, &importFinal, kind, fingerprint), 0);
    EXPECT_EQ(checkPin, 1024);
    EXPECT_EQ(basePath, -1);
    EXPECT_EQ(importFinal, 1330);
    EXPECT_STREQ(kind, "PROBE TOKEN");
    EXPECT_EQ(std::strlen(fingerprint), 79u);
    dlclose(module);
}

TEST(SGWrapper, ProgramLinkingTheLibraryIsBoundAtLoad) {
    int status = -1;
    const std::string output = run(std::string("'") + TOKEN_BINDER_PROBE + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << output;
    const auto report = parseReport(output);
    EXPECT_EQ(report.at("load base"), std::make_pair(2, SG_BASE_TABLE_SLOTS - 1));
    EXPECT_EQ(report.at("load crypto"), std::make_pair(2, SG_CRYPTO_TABLE_SLOTS - 1));
    EXPECT_EQ(report.at("load service"), std::make_pair(2, SG_SERVICE_TABLE_SLOTS - 1));
    EXPECT_EQ(lineOf(output, "digest"), "0");
    EXPECT_EQ(lineOf(output, "hash"), "0");
}

TEST(SGWrapper, FailedSelfTestAtLoadLeavesEmptyTablesThatNothingCalls) {
    int status = -1;
    const std::string output =
        run(std::string("BINDER_PROBE_FAIL_SELFTEST=1 '") + TOKEN_BINDER_PROBE + "' 2>&1", &status);
    // The program ran to its end: no call went through an empty slot.
    ASSERT_EQ(status, 0) << output;
    const auto report = parseReport(output);
    EXPECT_EQ(report.at("load base"), std::make_pair(2, SG_BASE_TABLE_SLOTS - 1));
    EXPECT_EQ(report.at("load crypto"), std::make_pair(0, 0));
    EXPECT_EQ(report.at("load service"), std::make_pair(0, 0));
    EXPECT_EQ(lineOf(output, "digest"), "95");
    EXPECT_EQ(lineOf(output, "hash"), "-1");
    EXPECT_EQ(lineOf(output, "file"), "95");
    EXPECT_EQ(lineOf(output, "compare"), "-1");
    EXPECT_EQ(lineOf(output, "entry"), "95");
    // Once the generator works again, the exported initialisation binds everything.
    EXPECT_EQ(report.at("again crypto"), std::make_pair(2, SG_CRYPTO_TABLE_SLOTS - 1));
    EXPECT_EQ(report.at("again service"), std::make_pair(2, SG_SERVICE_TABLE_SLOTS - 1));
}
