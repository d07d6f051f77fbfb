#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "DaemonTestSupport.h"
#include "SGDaemon.h"

using namespace daemontest;

namespace {

const std::string kResources = BRINDLOW_TOVEL_RESOURCES;
const std::string kBroken = BRINDLOW_TOVEL_BROKEN;

fs::path pidFile(const fs::path& home) {
    return home / "Library/Resources/kelbrin.pid";
}

bool refused(int port) {
    int fd = connectTo(port, 2000);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    return errno == ECONNREFUSED;
}

TEST(DaemonStart, ConsoleLinesPidFileAndService) {
    TempDir home;
    const int port = freePort();
    writeTovelConf(home.path(), port, "fatal");
    DaemonChild daemon({home.path(), kResources});
    ASSERT_EQ(daemon.initResult(), 0);
    ASSERT_EQ(daemon.startResult(), 0);
    EXPECT_EQ(daemon.console(),
              "process init ..... ok\n"
              "process register\n"
              " service (TovelService) register ..... ok\n"
              "process initialize resource \n"
              "process start .... ok\n");
    // Library/Resources did not exist on this home.
    EXPECT_EQ(readFile(pidFile(home.path())), std::to_string(daemon.pid()) + "\n");

    EXPECT_EQ(exchange(port, "ECHO hello, daemon").value_or("<none>"), "hello, daemon");
    const std::string info = exchange(port, "INFO").value_or("");
    for (const char* part : {"pool=TovelService", "peer=127.0.0.1", "base=4.2.1.0",
                             "config=tovelservice.json", "host=same", "processes=1"})
        EXPECT_NE(info.find(part), std::string::npos) << part << " in " << info;

    // At the fatal level the start's last line is RESULT, after "ok".
    const std::vector<std::string> lines = logLines(home.path());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines.back().ends_with("|RESULT")) << lines.back();
    EXPECT_NE(lines.back().find("|F|PID(" + std::to_string(daemon.pid()) + ")"), std::string::npos);
    EXPECT_TRUE(lines[lines.size() - 2].ends_with("|ok")) << lines[lines.size() - 2];
    EXPECT_TRUE(daemon.alive());
}

TEST(DaemonStart, PortTakenByAnotherProgram) {
    TempDir home;
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
    const int port = ntohs(addr.sin_port);
    writeTovelConf(home.path(), port, "fatal");

    DaemonChild daemon({home.path(), kResources});
    EXPECT_EQ(daemon.initResult(), 0);
    EXPECT_EQ(daemon.startResult(), 6020);
    const std::string where = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(daemon.console(),
              "process init ..... ok\n"
              "process register\n"
              " service (TovelService) register ..... fail to bind address (" +
                  where + ")\n");
    EXPECT_TRUE(logHas(home.path(),
                       "[FATAL] Service (TovelService) module: bind address fail. check IP and "
                       "Port (" +
                           where + ")"));
    EXPECT_FALSE(fs::exists(pidFile(home.path())));
    EXPECT_TRUE(daemon.alive());
    close(blocker);
}

TEST(DaemonStart, ModuleFailuresStopTheStartAndCloseThePort) {
    TempDir scratch;
    const fs::path empty = scratch.path() / "empty";
    fs::create_directories(empty);
    const fs::path corrupt = scratch.path() / "corrupt";
    const std::string corruptBundle = (corrupt / "TovelSecurityService.bundle").string();
    writeFile(corruptBundle + "/Contents/MacOS/TovelSecurityService", "not a shared object");
    const std::string noFinal = kBroken + "/no-final";

    struct Case {
        const char* what;
        std::string resources;
        int rc;
        std::string consoleTail;
        std::string logLine;
    };
    const Case cases[] = {
        {"missing bundle", empty.string(), 6018, "register ..... fail to load library ()\n",
         "[FATAL] Service (TovelService) module: fail to load library ()"},
        {"corrupt shared object", corrupt.string(), 6018,
         "register ..... fail to load library (" + corruptBundle + ")\n",
         "Fail to load bundle(" + corruptBundle + ")"},
        {"missing entry point", noFinal, 6019, "register ..... fail to load library symbol\n",
         "[FATAL] Service (TovelService) module: fail to load library(" + noFinal +
             "/TovelSecurityService.bundle) symbol"},
        {"Init refuses", kBroken + "/init-fails", 6021,
         "process initialize resource \ninit resource failed:6021\n",
         "SGDaemon_AdaptorInitGuestService [5]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir home;
        const int port = freePort();
        writeTovelConf(home.path(), port, "debug");
        DaemonChild daemon({home.path(), c.resources});
        EXPECT_EQ(daemon.initResult(), 0);
        EXPECT_EQ(daemon.startResult(), c.rc);
        EXPECT_TRUE(daemon.console().ends_with(c.consoleTail)) << daemon.console();
        EXPECT_TRUE(logHas(home.path(), c.logLine)) << c.logLine;
        EXPECT_TRUE(logHas(home.path(), "|RESULT"));
        // No connection is accepted and left hanging: the port is closed and no pool runs.
        EXPECT_TRUE(refused(port));
        EXPECT_FALSE(logHas(home.path(), "thread pool (TovelService[0]) : initializing."));
        EXPECT_FALSE(fs::exists(pidFile(home.path())));
        // The application's process goes on.
        EXPECT_TRUE(daemon.alive());
        EXPECT_EQ(daemon.command("shutdown").value_or(""), "0");
    }
}

TEST(DaemonStart, SigtermOnlyRecordsTheRequest) {
    TempDir home;
    const int port = freePort();
    writeTovelConf(home.path(), port, "fatal");
    DaemonChild daemon({home.path(), kResources});
    ASSERT_EQ(daemon.startResult(), 0);
    EXPECT_EQ(daemon.command("shutdown").value_or(""), "0");
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
        EXPECT_TRUE(eventually([&] { return daemon.command("shutdown").value_or("") == "1"; }));
    }
    EXPECT_TRUE(daemon.alive());
    EXPECT_EQ(exchange(port, "ECHO still here").value_or("<none>"), "still here");
    // The debug line is written once, from the handler, to the debug stream (standard error).
    EXPECT_EQ(countContaining({daemon.errors()}, "Caught signal SIGTERM"), 1);
    const std::string errors = daemon.errors();
    EXPECT_EQ(errors.find("Caught signal SIGTERM"), errors.rfind("Caught signal SIGTERM"));
}

// In this process: a home of its own, Base filled, the record dropped at the end.
class DaemonProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SGDaemonWrapper_Initialize();
        brindlow::platform::setMainBundleResources(kResources);
    }
    void TearDown() override {
        SGDaemon_FinalConfig();
        brindlow::platform::setMainBundleResources("");
    }
    TempDir home_;
    EnvOverride homeVariable_{"HOME", home_.str()};
};

TEST_F(DaemonProcessTest, InitializeOpensTheLogAndFinalizeClosesIt) {
    writeFile(home_.path() / "Library/Brindlow.TovelCake", "");
    ASSERT_EQ(SGDaemon_Initialize("Brindlow"), 0);
    ASSERT_NE(SGDaemon_GetConfig(), nullptr);
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "through the daemon log");
    EXPECT_EQ(SGDaemon_Initialize("Brindlow"), -100);  // built once per process
    EXPECT_EQ(SGDaemon_Finalize(), 0);
    EXPECT_EQ(SGDaemon_GetConfig(), nullptr);
    const std::vector<std::string> lines = logLines(home_.path());
    EXPECT_EQ(countContaining(lines, "|D|"), 1);
    EXPECT_EQ(countContaining(lines, "through the daemon log"), 1);
    EXPECT_EQ(countContaining(lines, "| SGDaemon_Shutdown"), 1);
    EXPECT_EQ(countContaining(lines, "| Daemon kill finalize"), 1);
    EXPECT_TRUE(sgdaemon::shutdownRequested());
    // Everything is released, so the host can be set up again.
    ASSERT_EQ(SGDaemon_Initialize("Brindlow"), 0);
    EXPECT_EQ(SGDaemon_Finalize(), 0);
}

TEST_F(DaemonProcessTest, FileWithoutItsObjectFailsBeforeAnyPathIsFormatted) {
    writeFile(home_.path() / "Library/Brindlow/conf/tovelconf.json", R"({"Other": {}})");
    EXPECT_EQ(SGDaemon_Initialize("Brindlow"), 6024);
    // The application starts the host whatever Initialize answered.
    testing::internal::CaptureStdout();
    EXPECT_EQ(SGDaemon_startMain(1), 6001);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(SGDaemon_WritePID(SGDaemon_GetConfig()), -1);
    EXPECT_FALSE(fs::exists(home_.path() / "Library/Resources"));
    EXPECT_EQ(SGDaemon_main(nullptr, 1), 6001);
}

TEST_F(DaemonProcessTest, PidFileWriteAndKill) {
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    const SGDaemonConfig* config = SGDaemon_GetConfig();
    const fs::path file = pidFile(home_.path());
    ASSERT_EQ(SGDaemon_WritePID(config), 0);
    EXPECT_EQ(readFile(file), std::to_string(getpid()) + "\n");

    // A process of ours to end.
    std::fflush(nullptr);
    const pid_t sleeper = fork();
    if (sleeper == 0) {
        for (;;) pause();
    }
    writeFile(file, std::to_string(sleeper) + "\n");
    EXPECT_EQ(SGDaemon_Kill(config), 0);
    int status = 0;
    ASSERT_EQ(waitpid(sleeper, &status, 0), sleeper);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(fs::exists(file));

    // No process id in the file: nothing is sent (0 would reach our whole process group).
    for (const char* content : {"", "garbage\n", "0\n", "-1\n"}) {
        writeFile(file, content);
        EXPECT_EQ(SGDaemon_Kill(config), -1) << content;
        EXPECT_FALSE(fs::exists(file));
    }
    EXPECT_EQ(SGDaemon_Kill(config), -1);  // no file at all
    EXPECT_EQ(SGDaemon_Kill(nullptr), -1);
}

TEST_F(DaemonProcessTest, ProcessSlots) {
    ASSERT_EQ(SGDaemon_ProcessInit(1), 0);
    EXPECT_EQ(SGDaemon_ProcessMaxProcessNum(), 1);
    EXPECT_EQ(SGDaemon_AdaptorMaxProcessNum(), 1);
    EXPECT_EQ(SGDaemon_ProcessGetProcessInfo(0), nullptr);
    EXPECT_EQ(SGDaemon_ProcessInsertPID(100), 0);
    EXPECT_EQ(SGDaemon_ProcessInsertPID(200), 0);
    EXPECT_EQ(SGDaemon_ProcessInsertPID(300), 6022);
    SGDaemonProcessInfo** info = SGDaemon_ProcessGetProcessInfo(100);
    ASSERT_NE(info, nullptr);
    ASSERT_NE(info[0], nullptr);
    EXPECT_EQ(info[0]->pid, 200);
    EXPECT_EQ(info[0]->count, 1);
    EXPECT_EQ(info[1], nullptr);
    SGDaemon_ProcessFreeProcessInfo(info);
    EXPECT_EQ(SGDaemon_ProcessDeletePID(300), 6023);
    EXPECT_EQ(SGDaemon_ProcessDeletePID(100), 0);
    EXPECT_EQ(SGDaemon_ProcessGetProcessInfo(200), nullptr);
    // More than one process needs shared memory, which is not offered.
    EXPECT_EQ(SGDaemon_ProcessInit(2), 6002);
    EXPECT_EQ(SGDaemon_SharedMalloc(16), nullptr);
    signal(SIGTERM, SIG_DFL);
}

}  // namespace
