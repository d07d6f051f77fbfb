#include <gtest/gtest.h>

#include <string>

#include "DaemonTestSupport.h"
#include "SGDaemonAdaptor.h"

using namespace daemontest;

namespace {

const std::string kBundle = std::string(BRINDLOW_TOVEL_RESOURCES) + "/TovelSecurityService.bundle";
const std::string kBrokenRoot = BRINDLOW_TOVEL_BROKEN;

// Module loading logs through the process-wide log, opened here in a temporary folder.
class DaemonAdaptorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGDaemonWrapper_Initialize();
        ASSERT_EQ(SGLog_Initialize(logs_.str().c_str(), "vorn", 32), 0);
        service_.name = sgdaemon::dupString("TovelService");
        setNames("SGstorage");
    }
    void TearDown() override {
        SGDaemon_ConfigServiceReset(&service_);
        SGLog_Finalize();
    }
    void setNames(const char* module) {
        const std::string m(module);
        setField(service_.init, (m + "_Init").c_str());
        setField(service_.initproc, (m + "_InitProc").c_str());
        setField(service_.final, (m + "_Final").c_str());
        setField(service_.service, (m + "_Service").c_str());
    }
    static void setField(char*& field, const char* value) {
        sgdaemon::freeString(field);
        field = sgdaemon::dupString(value);
    }
    bool logged(const std::string& part) const {
        return countContaining(logLinesIn(logs_.path()), part) > 0;
    }

    TempDir logs_;
    SGDaemonConfigService service_{};
};

TEST_F(DaemonAdaptorTest, LoadsTheModuleAndResolvesItsEntryPoints) {
    setField(service_.modulepath, kBundle.c_str());
    SGDaemonGuestSymbol guest{};
    ASSERT_EQ(SGDaemon_AdaptorInitGuestSymbol(&service_, &guest), 0);
    EXPECT_EQ(service_.loaded, 1);
    EXPECT_NE(guest.init, nullptr);
    EXPECT_NE(guest.initproc, nullptr);
    EXPECT_NE(guest.final, nullptr);
    EXPECT_NE(guest.service, nullptr);
    EXPECT_EQ(countContaining(logLinesIn(logs_.path()), "|I|"), 6);
    EXPECT_EQ(countContaining(logLinesIn(logs_.path()), "Load external library : " + kBundle), 2);
    for (const char* line :
         {"(TovelService)'s initial function (before fork()) : SGstorage_Init",
          "(TovelService)'s initial function (after fork()) : SGstorage_InitProc",
          "(TovelService)'s finalize function : SGstorage_Final",
          "(TovelService)'s service function : SGstorage_Service"})
        EXPECT_TRUE(logged(line)) << line;

    // The module binds Base by name and accepts the host table.
    SGDaemonHostSymbol host{};
    SGDaemon_AdaptorInitHostSymbol(&host);
    EXPECT_EQ(SGDaemon_AdaptorInitGuestService(&guest, &host, "tovelservice.json"), 0);
    EXPECT_TRUE(logged("TovelSecurityService: initialised"));
    EXPECT_EQ(SGDaemon_AdaptorInitProcGuestService(&guest, &host, nullptr), 0);
    EXPECT_EQ(SGDaemon_AdaptorFinalGuestService(&guest), 0);

    // A pool keeps only Final and Service.
    SGDaemonGuestSymbol pool{};
    ASSERT_EQ(SGDaemon_AdaptorCopyGuestSymbol(&guest, &pool), 0);
    EXPECT_EQ(pool.init, nullptr);
    EXPECT_EQ(pool.initproc, nullptr);
    EXPECT_EQ(pool.final, guest.final);
    EXPECT_EQ(pool.service, guest.service);
}

TEST_F(DaemonAdaptorTest, LoadFailuresGiveTheirCodeAndLogLine) {
    TempDir scratch;
    // A bundle whose shared object is not one.
    const fs::path corrupt = scratch.path() / "TovelSecurityService.bundle";
    writeFile(corrupt / "Contents/MacOS/TovelSecurityService",
              std::string("\x7f"
                          "ELF\x02\x01\x01 this is not a shared object"));
    // A bundle folder without its shared object.
    const fs::path empty = scratch.path() / "Empty.bundle";
    fs::create_directories(empty / "Contents/MacOS");
    const std::string noFinal = kBrokenRoot + "/no-final/TovelSecurityService.bundle";

    struct Case {
        std::string path;
        const char* module;    // entry names from "<module>_..."; null leaves Service unset
        const char* override;  // replaces one name: "field=value"
        int rc;
        std::string line;
    };
    const Case cases[] = {
        {(scratch.path() / "Absent.bundle").string(), "SGstorage", nullptr, 6018,
         "Fail to load bundle(" + (scratch.path() / "Absent.bundle").string() + ")"},
        {corrupt.string(), "SGstorage", nullptr, 6018,
         "Fail to load bundle(" + corrupt.string() + ")"},
        {empty.string(), "SGstorage", nullptr, 6018, "Fail to load bundle(" + empty.string() + ")"},
        // Final is never called in the application, yet a missing Final fails the load.
        {noFinal, "SGstorage", nullptr, 6019,
         "Fail to CFBundleGetFunctionPointerForName(SGstorage_Final)"},
        {kBundle, "SGstorage", "service=SGstorage_Absent", 6019,
         "Fail to CFBundleGetFunctionPointerForName(SGstorage_Absent)"},
        {kBundle, "SGstorage", "init=Other_Init", 6019,
         "Fail to CFBundleGetFunctionPointerForName(Other_Init)"},
        {kBundle, "SGstorage", "service=", 6005, "(TovelService)'s service function is not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        setField(service_.modulepath, c.path.c_str());
        setNames(c.module);
        if (c.override) {
            const std::string o(c.override);
            const std::string field = o.substr(0, o.find('='));
            const std::string value = o.substr(o.find('=') + 1);
            char*& target = field == "init" ? service_.init : service_.service;
            setField(target, value.empty() ? nullptr : value.c_str());
        }
        service_.loaded = 0;
        SGDaemonGuestSymbol guest{};
        EXPECT_EQ(SGDaemon_AdaptorInitGuestSymbol(&service_, &guest), c.rc);
        EXPECT_EQ(service_.loaded, 0);
        EXPECT_EQ(guest.service, nullptr);
        EXPECT_TRUE(logged(c.line));
    }
}

TEST_F(DaemonAdaptorTest, WithoutModulePathNothingIsLoaded) {
    SGDaemonGuestSymbol guest{};
    guest.service = reinterpret_cast<SGDaemonServiceFunction>(1);  // overwritten
    EXPECT_EQ(SGDaemon_AdaptorInitGuestSymbol(&service_, &guest), 0);
    EXPECT_EQ(guest.service, nullptr);
    EXPECT_EQ(service_.loaded, 0);
    EXPECT_FALSE(logged("Load external library"));
    EXPECT_EQ(SGDaemon_AdaptorInitGuestSymbol(nullptr, &guest), 6001);
    EXPECT_EQ(SGDaemon_AdaptorInitGuestSymbol(&service_, nullptr), 6001);
    // Entry points that were not resolved are not called.
    SGDaemonHostSymbol host{};
    EXPECT_EQ(SGDaemon_AdaptorInitGuestService(&guest, &host, "x"), 0);
    EXPECT_EQ(SGDaemon_AdaptorInitProcGuestService(&guest, &host, nullptr), 0);
    EXPECT_EQ(SGDaemon_AdaptorFinalGuestService(&guest), 0);
    EXPECT_EQ(SGDaemon_AdaptorInitGuestService(nullptr, &host, "x"), 6001);
    EXPECT_EQ(SGDaemon_AdaptorInitGuestService(&guest, nullptr, "x"), 6001);
    EXPECT_EQ(SGDaemon_AdaptorInitProcGuestService(&guest, nullptr, nullptr), 6001);
    EXPECT_EQ(SGDaemon_AdaptorFinalGuestService(nullptr), 6001);
}

TEST_F(DaemonAdaptorTest, InitResultReachesTheHost) {
    setField(service_.modulepath,
             (kBrokenRoot + "/init-fails/TovelSecurityService.bundle").c_str());
    SGDaemonGuestSymbol guest{};
    ASSERT_EQ(SGDaemon_AdaptorInitGuestSymbol(&service_, &guest), 0);
    SGDaemonHostSymbol host{};
    SGDaemon_AdaptorInitHostSymbol(&host);
    EXPECT_EQ(SGDaemon_AdaptorInitGuestService(&guest, &host, "tovelservice.json"), 5);
}

TEST_F(DaemonAdaptorTest, TablesHoldTheirFunctionsInSlotOrder) {
    SGDaemonHostSymbol host{};
    ASSERT_EQ(SGDaemon_AdaptorInitHostSymbol(&host), 0);
    void* const expected[12] = {reinterpret_cast<void*>(&SGDaemon_SharedMalloc),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserNew),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserFree),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetNSec),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetSecName),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetString),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetInt),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetDouble),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorIniparserGetBoolean),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorReadSocket),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorWriteSocket),
                                reinterpret_cast<void*>(&SGDaemon_AdaptorMaxProcessNum)};
    void* slots[12];
    std::memcpy(slots, &host, sizeof slots);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(slots[i], expected[i]) << "host slot " << i;
    EXPECT_EQ(host.sharedMalloc(64), nullptr);

    SGDaemonAdminSymbol admin{};
    ASSERT_EQ(SGDaemon_AdaptorInitAdminSymbol(&admin), 0);
    void* const expectedAdmin[4] = {reinterpret_cast<void*>(&SGDaemon_AdaptorGetProcessInfo),
                                    reinterpret_cast<void*>(&SGDaemon_AdaptorGetThreadInfo),
                                    reinterpret_cast<void*>(&SGDaemon_AdaptorGetServiceInfo),
                                    reinterpret_cast<void*>(&SGDaemon_AdaptorResizeThread)};
    void* adminSlots[4];
    std::memcpy(adminSlots, &admin, sizeof adminSlots);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(adminSlots[i], expectedAdmin[i]) << "admin slot " << i;

    SGDaemonHostSymbol hostCopy{};
    SGDaemonAdminSymbol adminCopy{};
    ASSERT_EQ(SGDaemon_AdaptorCopyHostSymbol(&host, &hostCopy), 0);
    ASSERT_EQ(SGDaemon_AdaptorCopyAdminSymbol(&admin, &adminCopy), 0);
    EXPECT_EQ(std::memcmp(&host, &hostCopy, sizeof host), 0);
    EXPECT_EQ(std::memcmp(&admin, &adminCopy, sizeof admin), 0);
    EXPECT_EQ(SGDaemon_AdaptorInitHostSymbol(nullptr), 6001);
    EXPECT_EQ(SGDaemon_AdaptorCopyHostSymbol(nullptr, &hostCopy), 6001);
}

TEST_F(DaemonAdaptorTest, IniFunctionsComposeSectionAndKey) {
    const fs::path ini = logs_.path() / "module.ini";
    writeFile(ini,
              "top = 1\n"
              "[Net]\n"
              "Port = 8080 ; comment\n"
              "Name = \"a b\"\n"
              "Ratio = 2.5\n"
              "Secure = Yes\n"
              "[Other]\n"
              "Port = 9090\n");
    SGConfigDictionary* d = SGDaemon_AdaptorIniparserNew(ini.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetNSec(d), 2);
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetSecName(d, 0), "net");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetSecName(d, 1), "other");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetString(d, "Net", "Name", "-"), "a b");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetString(d, "NET", "PORT", "-"), "8080");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetString(d, "", "top", "-"), "1");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetString(d, "net", "absent", "-"), "-");
    EXPECT_STREQ(SGDaemon_AdaptorIniparserGetString(d, nullptr, "port", "-"), "-");
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetInt(d, "other", "port", -1), 9090);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetInt(d, "other", "absent", -1), -1);
    EXPECT_DOUBLE_EQ(SGDaemon_AdaptorIniparserGetDouble(d, "net", "ratio", 0.0), 2.5);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetBoolean(d, "net", "secure", -1), 1);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetBoolean(d, "net", "name", -1), -1);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetInt(d, "net", nullptr, 7), 7);
    SGDaemon_AdaptorIniparserFree(d);
    EXPECT_EQ(SGDaemon_AdaptorIniparserNew((logs_.path() / "absent.ini").c_str()), nullptr);
    EXPECT_EQ(SGDaemon_AdaptorIniparserGetNSec(nullptr), -1);
}

}  // namespace
