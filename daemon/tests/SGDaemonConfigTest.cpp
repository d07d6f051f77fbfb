#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "DaemonTestSupport.h"
#include "SGBaseTable.h"
#include "SGDaemonConfig.h"

using namespace daemontest;

namespace {

// Each test builds the process-wide record below a fresh home and drops it again.
class DaemonConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGDaemonWrapper_Initialize();
        brindlow::platform::setMainBundleResources(BRINDLOW_TOVEL_RESOURCES);
    }
    void TearDown() override {
        SGDaemon_FinalConfig();
        brindlow::platform::setMainBundleResources("");
    }
    fs::path library() const { return home_.path() / "Library"; }
    fs::path confFile() const { return library() / "Brindlow/conf/tovelconf.json"; }

    TempDir home_;
    EnvOverride homeVariable_{"HOME", home_.str()};
};

std::string str(const char* s) {
    return s ? s : "<null>";
}

int mode(const fs::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST_F(DaemonConfigTest, BuiltInRecordOnAFreshHome) {
    ASSERT_FALSE(fs::exists(library()));
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    const SGDaemonConfig* config = SGDaemon_GetConfig();
    ASSERT_NE(config, nullptr);

    const std::string home = (library() / "Brindlow").string();
    EXPECT_EQ(str(config->home), home);
    EXPECT_EQ(str(config->logpath), home + "/log");
    EXPECT_EQ(str(config->ipaddress), "127.0.0.1");
    EXPECT_EQ(str(config->bindipaddress), "127.0.0.1");
    EXPECT_EQ(config->ipv6, 0);
    EXPECT_EQ(config->bindipv6, 0);
    EXPECT_EQ(str(config->logprefix), "vorn");
    EXPECT_EQ(config->loglevel, 1);  // no file, no marker: fatal lines only
    EXPECT_EQ(config->maxprocess, 1);
    // Library itself was missing; every folder is created owner-only.
    for (const char* folder : {"", "/log", "/conf"}) EXPECT_EQ(mode(home + folder), 0700) << folder;

    const SGDaemonConfigService* service = SGDaemon_GetConfigService("TovelService");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service, &config->auth.next->service);
    EXPECT_EQ(config->auth.next->next, nullptr);
    EXPECT_EQ(service->serviceport, 14461);
    EXPECT_EQ(service->servicetimeout, 10);
    EXPECT_EQ(service->threadcount, 10);
    EXPECT_EQ(service->threadstacksize, -1);
    EXPECT_EQ(service->maxpoolsize, 100);
    EXPECT_EQ(service->loaded, 0);
    EXPECT_EQ(str(service->configfile), "tovelservice.json");
    EXPECT_EQ(str(service->modulepath),
              std::string(BRINDLOW_TOVEL_RESOURCES) + "/TovelSecurityService.bundle");
    EXPECT_EQ(str(service->init), "SGstorage_Init");
    EXPECT_EQ(str(service->initproc), "SGstorage_InitProc");
    EXPECT_EQ(str(service->final), "SGstorage_Final");
    EXPECT_EQ(str(service->service), "SGstorage_Service");

    // The admin and auth records exist and are empty.
    const SGDaemonConfigService* admin = SGDaemon_GetConfigService("admin");
    ASSERT_EQ(admin, &config->admin);
    EXPECT_EQ(admin->name, nullptr);
    EXPECT_EQ(admin->modulepath, nullptr);
    EXPECT_EQ(SGDaemon_GetConfigService("auth"), &config->auth.service);
    EXPECT_EQ(SGDaemon_GetConfigService("tovelservice"), nullptr);
    EXPECT_EQ(SGDaemon_GetConfigService(nullptr), nullptr);
}

TEST_F(DaemonConfigTest, MarkerFileLogsEverything) {
    writeFile(library() / "Brindlow.TovelCake", "");
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    EXPECT_EQ(SGDaemon_GetConfig()->loglevel, 32);
    EXPECT_EQ(SGDaemon_GetConfigService("TovelService")->serviceport, 14461);
}

TEST_F(DaemonConfigTest, ConfigurationFileSetsPortAndLevel) {
    struct Case {
        const char* json;
        int port;
        int level;
    };
    const Case cases[] = {
        {R"({"Tovel": {"serviceport": 15000, "loglevel": "info"}})", 15000, 8},
        {R"({"tovel": {"ServicePort": 15001, "LogLevel": "WARNING"}})", 15001, 4},
        {R"({"Tovel": {"serviceport": 15002, "loglevel": "deb"}})", 15002, 16},
        {R"({"Tovel": {"serviceport": 15003, "loglevel": "f"}})", 15003, 1},
        {R"({"Tovel": {"serviceport": 15004, "loglevel": ""}})", 15004, 1},
        {R"({"Tovel": {"serviceport": 15005, "loglevel": "Error"}})", 15005, 2},
        {R"({"Tovel": {"serviceport": 15006, "loglevel": "verbose"}})", 15006, 0},
        {R"({"Tovel": {"serviceport": 15007, "loglevel": "errors"}})", 15007, 0},
        {R"({"Tovel": {"serviceport": 15008, "loglevel": 16}})", 15008, 0},
        {R"({"Tovel": {"serviceport": 15009}})", 15009, 0},
        {R"({"Tovel": {"loglevel": "debug"}})", 0, 16},  // 0: the platform picks a port
        {R"({"Tovel": {"serviceport": "15010", "loglevel": "info"}})", 0, 8},
        // A port outside the TCP range is not wrapped onto another port.
        {R"({"Tovel": {"serviceport": 80000, "loglevel": "info"}})", 0, 8},
        {R"({"Tovel": {"serviceport": -1, "loglevel": "info"}})", 0, 8},
        // Not JSON: the built-in port, and the level of the marker file (present here).
        {R"({"Tovel": {"serviceport": 15000,)", 14461, 32},
        {"", 14461, 32},
    };
    writeFile(library() / "Brindlow.TovelCake", "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        writeFile(confFile(), c.json);
        ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
        EXPECT_EQ(SGDaemon_GetConfigService("TovelService")->serviceport, c.port);
        EXPECT_EQ(SGDaemon_GetConfig()->loglevel, c.level);
        SGDaemon_FinalConfig();
    }
}

TEST_F(DaemonConfigTest, FileWithoutItsObjectLeavesTheRecordEmpty) {
    for (const char* json : {R"({"Rennick": {"serviceport": 15000}})", R"({"Tovel": 3})"}) {
        SCOPED_TRACE(json);
        writeFile(confFile(), json);
        ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
        const SGDaemonConfig* config = SGDaemon_GetConfig();
        EXPECT_EQ(config->home, nullptr);
        EXPECT_EQ(config->logpath, nullptr);
        EXPECT_EQ(config->auth.next, nullptr);
        EXPECT_EQ(SGDaemon_GetConfigService("TovelService"), nullptr);
        SGDaemon_FinalConfig();
    }
}

TEST_F(DaemonConfigTest, SecondBuildIsRefusedAndKeepsTheFirst) {
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    SGDaemonConfig* first = SGDaemon_GetConfig();
    writeFile(confFile(), R"({"Tovel": {"serviceport": 15000, "loglevel": "info"}})");
    EXPECT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 6004);
    writeFile(home_.path() / "full.json", "{}");
    EXPECT_EQ(SGDaemon_InitConfig((home_.path() / "full.json").c_str()), 6004);
    EXPECT_EQ(SGDaemon_GetConfig(), first);
    EXPECT_EQ(SGDaemon_GetConfigService("TovelService")->serviceport, 14461);
    EXPECT_EQ(first->loglevel, 1);
}

TEST_F(DaemonConfigTest, ProductNameChoosesTheEdition) {
    struct Case {
        const char* product;
        const char* folder;
        const char* jsonFile;
        const char* object;
        const char* marker;
        int port;
        const char* configfile;
        bool bundleFound;  // only the first edition's bundle ships with the stand-in
    };
    const Case cases[] = {
        {"Brindlow", "Brindlow", "tovelconf.json", "Tovel", "Brindlow.TovelCake", 14461,
         "tovelservice.json", true},
        {"WyncoteService", "Wyncote", "rennick.json", "Rennick", "wyncote.rennick", 14098,
         "rennick.json", false},
        {"WyncoteServiceHost", "Wyncote", "rennick.json", "Rennick", "wyncote.rennick", 14098,
         "rennick.json", false},
        {"wyncoteService", "Brindlow", "tovelconf.json", "Tovel", "Brindlow.TovelCake", 14461,
         "tovelservice.json", true},
        {"Wyncote", "Brindlow", "tovelconf.json", "Tovel", "Brindlow.TovelCake", 14461,
         "tovelservice.json", true},
        {nullptr, "Brindlow", "tovelconf.json", "Tovel", "Brindlow.TovelCake", 14461,
         "tovelservice.json", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product ? c.product : "(null)");
        ASSERT_EQ(SGDaemon_InitInnerConfig(c.product), 0);
        const SGDaemonConfig* config = SGDaemon_GetConfig();
        EXPECT_EQ(str(config->home), (library() / c.folder).string());
        const SGDaemonConfigService* service = SGDaemon_GetConfigService("TovelService");
        ASSERT_NE(service, nullptr);
        EXPECT_EQ(service->serviceport, c.port);
        EXPECT_EQ(str(service->configfile), c.configfile);
        EXPECT_EQ(service->modulepath != nullptr, c.bundleFound);
        EXPECT_EQ(config->loglevel, 1);
        SGDaemon_FinalConfig();

        // The edition's own marker and file are the ones read.
        writeFile(library() / c.marker, "");
        ASSERT_EQ(SGDaemon_InitInnerConfig(c.product), 0);
        EXPECT_EQ(SGDaemon_GetConfig()->loglevel, 32);
        SGDaemon_FinalConfig();
        writeFile(library() / c.folder / "conf" / c.jsonFile,
                  std::string("{\"") + c.object + "\": {\"serviceport\": 15100}}");
        ASSERT_EQ(SGDaemon_InitInnerConfig(c.product), 0);
        EXPECT_EQ(SGDaemon_GetConfigService("TovelService")->serviceport, 15100);
        SGDaemon_FinalConfig();
        fs::remove(library() / c.marker);
        fs::remove(library() / c.folder / "conf" / c.jsonFile);
    }
}

TEST_F(DaemonConfigTest, MissingBundleLeavesTheModulePathUnset) {
    TempDir emptyResources;
    brindlow::platform::setMainBundleResources(emptyResources.str());
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    const SGDaemonConfigService* service = SGDaemon_GetConfigService("TovelService");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->modulepath, nullptr);
    EXPECT_EQ(str(service->service), "SGstorage_Service");
}

TEST_F(DaemonConfigTest, UncreatableFolderGives6024) {
    // Library is a file: nothing can be created below it.
    writeFile(library(), "not a folder");
    EXPECT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 6024);
    // The record stays claimed: the configuration is built once per process.
    EXPECT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 6004);
}

const char kFullConfig[] = R"({
  "sgdaemon": {"home": "/srv/daemon", "ipaddress": "::1", "iptype": "ipv6",
               "bindipaddress": "0.0.0.0", "bindiptype": "ipv4", "logpath": "/srv/daemon/log",
               "logprefix": "svc", "loglevel": "warning", "maxprocess": 3},
  "sgservice": {"serviceport": 16000, "servicetimeout": 20, "threadcount": 4,
                "threadstacksize": 262144, "maxpoolsize": 8, "configfile": "svc.json",
                "modulepath": "/srv/Svc.bundle", "modulename": "Svc"}
})";

TEST_F(DaemonConfigTest, FullJsonDescription) {
    const fs::path file = home_.path() / "daemon.json";
    writeFile(file, kFullConfig);
    ASSERT_EQ(SGDaemon_InitConfig(file.c_str()), 0);
    const SGDaemonConfig* config = SGDaemon_GetConfig();
    EXPECT_EQ(str(config->home), "/srv/daemon");
    EXPECT_EQ(str(config->ipaddress), "::1");
    EXPECT_EQ(config->ipv6, 1);
    EXPECT_EQ(str(config->bindipaddress), "0.0.0.0");
    EXPECT_EQ(config->bindipv6, 0);
    EXPECT_EQ(str(config->logpath), "/srv/daemon/log");
    EXPECT_EQ(str(config->logprefix), "svc");
    EXPECT_EQ(config->loglevel, 4);
    EXPECT_EQ(config->maxprocess, 3);
    const SGDaemonConfigService* service = SGDaemon_GetConfigService("sgservice");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->serviceport, 16000);
    EXPECT_EQ(service->servicetimeout, 20);
    EXPECT_EQ(service->threadcount, 4);
    EXPECT_EQ(service->threadstacksize, 262144);
    EXPECT_EQ(service->maxpoolsize, 8);
    EXPECT_EQ(str(service->configfile), "svc.json");
    EXPECT_EQ(str(service->modulepath), "/srv/Svc.bundle");
    EXPECT_EQ(str(service->init), "Svc_Init");
    EXPECT_EQ(str(service->initproc), "Svc_InitProc");
    EXPECT_EQ(str(service->final), "Svc_Final");
    EXPECT_EQ(str(service->service), "Svc_Service");
}

TEST_F(DaemonConfigTest, FullJsonDefaultsAndRequiredKeys) {
    const fs::path file = home_.path() / "daemon.json";
    const std::string daemon =
        R"("home": "/h", "ipaddress": "127.0.0.1", "iptype": "ipv4", "bindipaddress": "127.0.0.1",
           "bindiptype": "ipv4", "logpath": "/h/log", "logprefix": "p")";
    writeFile(file, "{\"sgdaemon\": {" + daemon + "}, \"sgservice\": {}}");
    ASSERT_EQ(SGDaemon_InitConfig(file.c_str()), 0);
    EXPECT_EQ(SGDaemon_GetConfig()->loglevel, 32);
    EXPECT_EQ(SGDaemon_GetConfig()->maxprocess, 1);
    const SGDaemonConfigService* service = SGDaemon_GetConfigService("sgservice");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->threadcount, 0);
    EXPECT_EQ(service->service, nullptr);
    SGDaemon_FinalConfig();

    for (const char* key :
         {"home", "ipaddress", "iptype", "bindipaddress", "bindiptype", "logpath", "logprefix"}) {
        SCOPED_TRACE(key);
        std::string without = daemon;
        const std::string needle = std::string("\"") + key + "\": ";
        without.replace(without.find(needle), needle.size(), "\"x\": ");
        writeFile(file, "{\"sgdaemon\": {" + without + "}, \"sgservice\": {}}");
        EXPECT_EQ(SGDaemon_InitConfig(file.c_str()), -1);
        SGDaemon_FinalConfig();
    }
    writeFile(file, "{\"sgdaemon\": {" + daemon + "}}");
    EXPECT_EQ(SGDaemon_InitConfig(file.c_str()), -1);
    SGDaemon_FinalConfig();
    EXPECT_EQ(SGDaemon_InitConfig((home_.path() / "absent.json").c_str()), -1);
    EXPECT_EQ(SGDaemon_InitConfig(nullptr), 6001);
}

TEST_F(DaemonConfigTest, RecordsCopyDeeplyAndReleaseEverything) {
    SGDaemonConfigService* service = SGDaemon_ConfigServiceNew();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->name, nullptr);
    service->name = sgdaemon::dupString("one");
    service->modulepath = sgdaemon::dupString("/m.bundle");
    service->serviceport = 100;
    service->loaded = 1;

    SGDaemonConfigService copy{};
    copy.name = sgdaemon::dupString("replaced");  // released by the copy
    ASSERT_EQ(SGDaemon_ConfigServiceCopy(&copy, service), 0);
    EXPECT_NE(copy.name, service->name);
    EXPECT_EQ(str(copy.name), "one");
    EXPECT_EQ(str(copy.modulepath), "/m.bundle");
    EXPECT_EQ(copy.configfile, nullptr);
    EXPECT_EQ(copy.serviceport, 100);
    EXPECT_EQ(copy.loaded, 1);
    EXPECT_EQ(SGDaemon_ConfigServiceCopy(nullptr, service), 6001);
    EXPECT_EQ(SGDaemon_ConfigServiceCopy(&copy, nullptr), 6001);

    SGDaemonConfigServiceList* list = SGDaemon_ConfigServiceListNew();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(SGDaemon_ConfigServiceListAdd(list, service), 0);
    service->serviceport = 200;
    ASSERT_EQ(SGDaemon_ConfigServiceListAdd(list, service), 0);
    EXPECT_EQ(SGDaemon_ConfigServiceListAdd(nullptr, service), 6001);
    EXPECT_EQ(SGDaemon_ConfigServiceListAdd(list, nullptr), 6001);
    ASSERT_NE(list->next, nullptr);
    ASSERT_NE(list->next->next, nullptr);
    EXPECT_EQ(list->next->service.serviceport, 100);
    EXPECT_EQ(list->next->next->service.serviceport, 200);
    EXPECT_NE(list->next->service.name, service->name);

    SGDaemonConfigServiceList listCopy{};
    ASSERT_EQ(SGDaemon_ConfigServiceListCopy(&listCopy, list), 0);
    ASSERT_NE(listCopy.next, nullptr);
    ASSERT_NE(listCopy.next->next, nullptr);
    EXPECT_EQ(listCopy.next->next->service.serviceport, 200);
    EXPECT_NE(listCopy.next->service.name, list->next->service.name);
    EXPECT_EQ(listCopy.next->next->next, nullptr);

    SGDaemon_ConfigServiceListReset(&listCopy);
    EXPECT_EQ(listCopy.next, nullptr);
    SGDaemon_ConfigServiceReset(&copy);
    EXPECT_EQ(copy.name, nullptr);
    EXPECT_EQ(copy.serviceport, 0);
    SGDaemon_ConfigServiceListFree(list);
    SGDaemon_ConfigServiceFree(service);

    SGDaemonConfig* config = SGDaemon_ConfigNew();
    ASSERT_NE(config, nullptr);
    config->home = sgdaemon::dupString("/h");
    config->admin.name = sgdaemon::dupString("admin");
    config->loglevel = 8;
    SGDaemonConfigService extra{};
    extra.name = sgdaemon::dupString("extra");
    ASSERT_EQ(SGDaemon_ConfigServiceListAdd(&config->auth, &extra), 0);
    SGDaemon_ConfigServiceReset(&extra);
    SGDaemon_ConfigReset(config);
    EXPECT_EQ(config->home, nullptr);
    EXPECT_EQ(config->admin.name, nullptr);
    EXPECT_EQ(config->auth.next, nullptr);
    EXPECT_EQ(config->loglevel, 0);
    SGDaemon_ConfigFree(config);
    // The sanitizer build fails this test if any string above was not released.
}

TEST_F(DaemonConfigTest, MakeDirCreatesParentsAndCheckFileTellsWhy) {
    const fs::path nested = home_.path() / "a/b/c";
    EXPECT_EQ(SGDaemon_MakeDir(nested.c_str()), 0);
    EXPECT_EQ(mode(nested), 0700);
    EXPECT_EQ(mode(home_.path() / "a"), 0700);
    EXPECT_EQ(SGDaemon_MakeDir(nested.c_str()), 0);
    writeFile(home_.path() / "file", "x");
    EXPECT_EQ(SGDaemon_MakeDir((home_.path() / "file/below").c_str()), 6024);
    EXPECT_EQ(SGDaemon_MakeDir(nullptr), 6024);

    EXPECT_EQ(SGDaemon_CheckFile(nullptr), -3);
    EXPECT_EQ(SGDaemon_CheckFile((home_.path() / "absent").c_str()), -1);
    EXPECT_EQ(SGDaemon_CheckFile((home_.path() / "file").c_str()), 0);
    if (geteuid() != 0) {  // root reads and writes everything
        chmod((home_.path() / "file").c_str(), 0400);
        EXPECT_EQ(SGDaemon_CheckFile((home_.path() / "file").c_str()), -2);
    }
}

TEST_F(DaemonConfigTest, CommandLineOptions) {
    const std::string conf = (home_.path() / "given.json").string();
    writeFile(conf, "{}");
    const std::string cwd = fs::current_path();
    ASSERT_EQ(chdir(home_.str().c_str()), 0);  // where the default "tovelconf.json" is looked up
    struct Case {
        std::vector<std::string> args;
        int rc;
        uint32_t flags;
        const char* configfile;
    };
    const Case cases[] = {
        {{"daemon"}, 6006, 0, nullptr},
        {{"daemon", "-d"}, 6006, 1, nullptr},
        {{"daemon", "-d", "-c", conf}, 0, 3, conf.c_str()},
        {{"daemon", "-c" + conf}, 0, 2, conf.c_str()},
        {{"daemon", "-c", "absent.json"}, 6006, 2, "absent.json"},
        {{"daemon", "-c"}, 6007, 0, nullptr},
        {{"daemon", "-x"}, -1, 0, nullptr},
        {{"daemon", "-e", "external.json"}, -1, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<char*> argv;
        std::vector<std::string> storage = c.args;
        for (std::string& a : storage) argv.push_back(a.data());
        argv.push_back(nullptr);
        SGDaemonExopt options{};
        EXPECT_EQ(SGDaemon_getopt(static_cast<int>(storage.size()), argv.data(), &options), c.rc);
        EXPECT_EQ(options.flags, c.flags);
        EXPECT_EQ(options.debug, (c.flags & 1) ? 1 : 0);
        EXPECT_EQ(str(options.configfile), str(c.configfile));
        sgdaemon::freeString(options.configfile);
    }
    writeFile(home_.path() / "tovelconf.json", "{}");
    char program[] = "daemon";
    char* argv[] = {program, nullptr};
    SGDaemonExopt options{};
    EXPECT_EQ(SGDaemon_getopt(1, argv, &options), 0);
    EXPECT_EQ(SGDaemon_getopt(1, argv, nullptr), 6001);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

TEST_F(DaemonConfigTest, ConsoleTexts) {
    testing::internal::CaptureStdout();
    SGDaemon_PrintUsage("brindlowd");
    SGDaemon_PrintWrongConfig("brindlowd", "x.json");
    SGDaemon_PrintFailtoLog("brindlowd", "/log", "vorn", 8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Usage] brindlowd -d -c [configfile] -e [external config file] -l [log path]\n"
              "-d : debug mode [optional]\n"
              "-c : intend for config file [optional]\n"
              "-e : intend for external config file [optional]\n"
              "-l : intend for log file path [optional]\n"
              "[ERROR] brindlowd : invalid config file.(x.json)\n"
              "Check your config file.\n"
              "[ERROR] brindlowd : initialize log.\n"
              "Log path : /log\n"
              "Log prefix : vorn\n"
              "Log level : 8\n"
              "Check your log path input.\n");
    EXPECT_EQ(SGDaemon_PreProcessFunction(), 0);
}

}  // namespace
