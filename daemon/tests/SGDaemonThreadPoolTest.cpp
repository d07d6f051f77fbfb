#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DaemonTestSupport.h"
#include "SGDaemonThreadPool.h"

using namespace daemontest;

namespace {

const std::string kResources = BRINDLOW_TOVEL_RESOURCES;
constexpr char kRefusalText[] =
    "thread pool (TovelService[0]) : cannot resize thread pool. (resize of thread pool exceed max "
    "pool size.)";

// A daemon host at the debug level on a port of its own, started in a child process.
class PoolTest : public ::testing::Test {
  protected:
    void start(std::function<void()> beforeStart = nullptr, const std::string& level = "debug") {
        port_ = freePort();
        writeTovelConf(home_.path(), port_, level);
        daemon_ = std::make_unique<DaemonChild>(
            DaemonOptions(home_.path(), kResources, std::move(beforeStart)));
        ASSERT_EQ(daemon_->initResult(), 0);
        ASSERT_EQ(daemon_->startResult(), 0);
    }
    bool poolIs(int workers, int idle, int queued, int timeoutMs = 5000,
                const std::string& name = "TovelService") {
        return eventually(
            [&] {
                DaemonChild::PoolState s = daemon_->pool(name);
                return s.workers == workers && s.idle == idle && s.queued == queued;
            },
            timeoutMs);
    }
    std::string poolText() {
        DaemonChild::PoolState s = daemon_->pool();
        return std::to_string(s.workers) + "/" + std::to_string(s.idle) + "/" +
               std::to_string(s.queued);
    }
    // Connections that send nothing yet: each keeps a worker waiting in the module's read.
    std::vector<int> hold(int n) {
        std::vector<int> fds;
        for (int i = 0; i < n; ++i) {
            int fd = connectTo(port_);
            EXPECT_GE(fd, 0) << "connection " << i;
            if (fd >= 0) fds.push_back(fd);
        }
        return fds;
    }
    // Sends a request on every held connection, then reads each reply and closes.
    int serveAll(const std::vector<int>& fds) {
        for (size_t i = 0; i < fds.size(); ++i)
            sendText(fds[i], "ECHO " + std::to_string(i) + "\n");
        int served = 0;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (readLine(fds[i], 10000).value_or("") == std::to_string(i)) ++served;
            close(fds[i]);
        }
        return served;
    }
    int logCount(const std::string& part) { return countContaining(logLines(home_.path()), part); }
    // Lines of threads that go on after the state a test waited for are waited for too.
    bool logged(const std::string& part, int times = 1) {
        return eventually([&] { return logCount(part) == times; }, 2000);
    }

    TempDir home_;
    int port_ = 0;
    std::unique_ptr<DaemonChild> daemon_;
};

TEST_F(PoolTest, EleventhHeldConnectionAddsTheEleventhWorker) {
    start();
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();
    EXPECT_TRUE(logged("thread pool (TovelService[0]) : begin."));
    std::vector<int> held = hold(11);
    ASSERT_TRUE(poolIs(11, 0, 0)) << poolText();
    EXPECT_TRUE(logged("thread pool (TovelService[0]) : increase threadpool to 11."));
    EXPECT_EQ(logCount("increase threadpool to"), 1);
    EXPECT_EQ(serveAll(held), 11);
    EXPECT_TRUE(poolIs(11, 11, 0)) << poolText();
}

TEST_F(PoolTest, GrowthStopsAtTheMaximumAndQueuedConnectionsAreServed) {
    start();
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();
    std::vector<int> held = hold(150);
    ASSERT_EQ(held.size(), 150u);
    ASSERT_TRUE(poolIs(100, 0, 50, 10000)) << poolText();
    // One level-4 refusal per connection beyond the hundredth.
    EXPECT_TRUE(logged(kRefusalText, 50));
    const std::vector<std::string> lines = logLines(home_.path());
    int refusals = 0;
    for (const std::string& line : lines)
        if (line.find(kRefusalText) != std::string::npos) {
            ++refusals;
            EXPECT_NE(line.find("|W|PID("), std::string::npos) << line;
        }
    EXPECT_EQ(refusals, 50);
    EXPECT_EQ(countContaining(lines, "increase threadpool to 100."), 1);
    EXPECT_EQ(countContaining(lines, "increase threadpool to 101."), 0);
    // Every connection is served, the queued ones as workers come free.
    EXPECT_EQ(serveAll(held), 150);
    EXPECT_TRUE(poolIs(100, 100, 0)) << poolText();
    EXPECT_LE(daemon_->tasks(), 100 + 8);
}

TEST_F(PoolTest, ConnectionIsClosedThreeSecondsAfterTheReply) {
    start(nullptr, "fatal");
    const int fd = connectTo(port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendText(fd, "ECHO wait\n"));
    ASSERT_EQ(readLine(fd).value_or(""), "wait");
    const long closedAfter = millisecondsUntilClosed(fd, 6000);
    close(fd);
    EXPECT_GE(closedAfter, 2500);
    EXPECT_LE(closedAfter, 4500);
    // A client that closes first frees its worker at once.
    const auto begin = Clock::now();
    EXPECT_EQ(exchange(port_, "ECHO quick").value_or(""), "quick");
    EXPECT_TRUE(poolIs(10, 10, 0, 1000)) << poolText();
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(1500));
}

TEST_F(PoolTest, ResizeDownAndUp) {
    start();
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();
    const int base = daemon_->tasks();

    // Waiting workers beyond the new size end at once.
    EXPECT_EQ(daemon_->resize(5), 0);
    EXPECT_TRUE(poolIs(5, 5, 0)) << poolText();
    EXPECT_TRUE(eventually([&] { return daemon_->tasks() == base - 5; }));
    EXPECT_TRUE(logged("stopped after doing 0 service.(OK).", 5));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(exchange(port_, "ECHO small").value_or(""), "small");

    EXPECT_EQ(daemon_->resize(12), 0);
    EXPECT_TRUE(poolIs(12, 12, 0)) << poolText();
    EXPECT_TRUE(eventually([&] { return daemon_->tasks() == base + 2; }));

    // Serving workers beyond the new size end after their connection.
    std::vector<int> held = hold(12);
    ASSERT_TRUE(poolIs(12, 0, 0)) << poolText();
    EXPECT_EQ(daemon_->resize(6), 0);
    EXPECT_EQ(daemon_->pool().workers, 6);
    EXPECT_EQ(daemon_->tasks(), base + 2);
    EXPECT_EQ(serveAll(held), 12);
    EXPECT_TRUE(eventually([&] { return daemon_->tasks() == base - 4; }));
    EXPECT_TRUE(poolIs(6, 6, 0)) << poolText();
    EXPECT_TRUE(logged("stopped after doing 1 service.(OK).", 6));

    // Up to the maximum, and no further.
    EXPECT_EQ(daemon_->resize(150), 0);  // lowered to the maximum
    EXPECT_TRUE(poolIs(100, 100, 0)) << poolText();
    EXPECT_EQ(daemon_->resize(101), 6017);
    EXPECT_TRUE(logged(kRefusalText));
    EXPECT_EQ(daemon_->resize(0), 6001);
    EXPECT_EQ(daemon_->resize(5, "NoSuchService"), 6015);
    EXPECT_EQ(exchange(port_, "ECHO after").value_or(""), "after");
}

TEST_F(PoolTest, SilentAndDrippingClientsLoseTheirWorkersAndThePoolShrinksBack) {
    constexpr int kDeadlineMs = 3000;
    start([] { sgdaemon::setServiceTimings(kDeadlineMs, 300); });
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();

    // More clients than the pool's maximum of workers and its queue together: silent ones, and
    // ones that send a byte of a request that never ends every 300 ms.
    const auto burst = Clock::now();
    std::vector<int> silent = hold(100);
    std::vector<int> dripping = hold(105);
    ASSERT_EQ(silent.size() + dripping.size(), 205u);
    std::atomic<bool> stop{false};
    std::thread drip([&] {
        while (!stop) {
            for (int fd : dripping) send(fd, "E", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    // Every worker is taken and the queue holds as many connections as the pool has workers;
    // the last five wait in the kernel, not accepted.
    EXPECT_TRUE(poolIs(100, 0, 100, 2500)) << poolText();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(daemon_->pool().queued, 100) << poolText();

    // A normal client behind all of them is answered once their deadline has passed.
    const int client = connectTo(port_);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(sendText(client, "ECHO normal\n"));
    EXPECT_EQ(readLine(client, kDeadlineMs + 5000).value_or("no answer"), "normal");
    close(client);
    EXPECT_LT(Clock::now() - burst, std::chrono::milliseconds(kDeadlineMs + 3000));

    // The host closed every connection of the burst, the five accepted last within their own
    // deadline after the others.
    const auto allClosed = burst + std::chrono::milliseconds(3 * kDeadlineMs + 3000);
    int open = 0;
    for (const std::vector<int>* fds : {&silent, &dripping})
        for (int fd : *fds) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(allClosed - Clock::now());
            if (millisecondsUntilClosed(fd, static_cast<int>(std::max<long>(left.count(), 1))) < 0)
                ++open;
        }
    stop = true;
    drip.join();
    for (const std::vector<int>* fds : {&silent, &dripping})
        for (int fd : *fds) close(fd);
    EXPECT_EQ(open, 0);
    EXPECT_TRUE(logged("no complete request within 3000 ms. connection closed.", 205));

    // Idle again, the pool returns to the workers it started with.
    EXPECT_TRUE(poolIs(10, 10, 0, 10000)) << poolText();
    EXPECT_TRUE(logged("idle for 300 ms above the pool's 10 workers, ending.", 90));
    EXPECT_EQ(exchange(port_, "ECHO after").value_or(""), "after");
}

// Thread creation that fails after a number of threads, as when the process runs out of them.
using CreateFunction = decltype(&SGThread_Create);
std::atomic<int> gThreadsLeft{0};
CreateFunction gRealCreate = nullptr;
int limitedCreate(SGThreadId* thread, SGThreadAttr attr, SGThreadStart start, void* argument) {
    if (gThreadsLeft.fetch_sub(1) <= 0) return EAGAIN;
    return gRealCreate(thread, attr, start, argument);
}
void limitThreads(int n) {
    gThreadsLeft = n;
    gRealCreate = reinterpret_cast<CreateFunction>(Base[SGBaseSlot_SGThread_Create]);
    Base[SGBaseSlot_SGThread_Create] = reinterpret_cast<void*>(&limitedCreate);
}

TEST_F(PoolTest, FewerWorkersThanConfiguredStillServe) {
    start([] { limitThreads(1 + 4); });  // the master and four workers
    ASSERT_TRUE(poolIs(4, 4, 0, 3000)) << poolText();
    EXPECT_EQ(logCount("thread pool(TovelService[0]) : cannot create 4 working thread. return "
                       "code [11]."),
              1);
    EXPECT_TRUE(logged("thread pool (TovelService[0]) : begin."));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(exchange(port_, "ECHO few").value_or(""), "few");
}

TEST_F(PoolTest, WithoutAnyWorkerConnectionsAreClosedNotLeftWaiting) {
    start([] { limitThreads(1); });  // the master only
    ASSERT_TRUE(poolIs(0, 0, 0, 3000)) << poolText();
    const int fd = connectTo(port_);
    ASSERT_GE(fd, 0);
    sendText(fd, "ECHO nobody\n");
    EXPECT_GE(millisecondsUntilClosed(fd, 3000), 0);
    close(fd);
    EXPECT_TRUE(
        logged("thread pool (TovelService[0]) : no working thread. 1 connection(s) closed."));
    EXPECT_TRUE(daemon_->alive());
}

// Accepting that waits until a file exists, as a master busy elsewhere would.
using AcceptFunction = decltype(&SGSocket_Accept);
AcceptFunction gRealAccept = nullptr;
std::string gAcceptGate;
int gatedAccept(int listener, char* peer) {
    while (access(gAcceptGate.c_str(), F_OK) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return gRealAccept(listener, peer);
}

TEST_F(PoolTest, BurstOfConnectionsWaitsInTheKernelQueue) {
    const std::string gate = (home_.path() / "gate").string();
    start([gate] {
        gAcceptGate = gate;
        gRealAccept = reinterpret_cast<AcceptFunction>(Base[SGBaseSlot_SGSocket_Accept]);
        Base[SGBaseSlot_SGSocket_Accept] = reinterpret_cast<void*>(&gatedAccept);
    });
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();
    // Every connection of the burst completes at once, although none is accepted yet.
    std::vector<int> burst;
    for (int i = 0; i < 60; ++i) {
        const int fd = connectTo(port_, 500);
        ASSERT_GE(fd, 0) << "connection " << i << " was not queued";
        burst.push_back(fd);
    }
    writeFile(gate, "");
    EXPECT_EQ(serveAll(burst), 60);
}

TEST_F(PoolTest, ConnectionsAboveDescriptor1023) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 1200)
        GTEST_SKIP() << "the descriptor limit is below 1200";
    start([] {
        rlimit l{};
        getrlimit(RLIMIT_NOFILE, &l);
        l.rlim_cur = l.rlim_max == RLIM_INFINITY ? 4096 : std::min<rlim_t>(l.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &l);
        int fd = open("/dev/null", O_RDONLY);
        while (fd >= 0 && fd < 1100) fd = dup(fd);
    });
    const int fd = connectTo(port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendText(fd, "ECHO high\n"));
    EXPECT_EQ(readLine(fd).value_or(""), "high");
    close(fd);
    int highest = -1;
    for (const std::string& line : logLines(home_.path())) {
        const std::string mark = ": accept socket (";
        if (size_t at = line.find(mark); at != std::string::npos)
            highest = std::max(highest, std::stoi(line.substr(at + mark.size())));
    }
    EXPECT_GT(highest, 1023);
    EXPECT_TRUE(poolIs(10, 10, 0, 1500)) << poolText();  // the closing read saw the close
}

TEST_F(PoolTest, ResetClientsDoNotEndTheProcess) {
    start(nullptr, "fatal");
    for (int i = 0; i < 20; ++i) {
        const int fd = connectTo(port_);
        ASSERT_GE(fd, 0);
        sendText(fd, "INFO\n");
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(fd);  // reset, maybe before the reply is written
    }
    // Every worker comes back (the pool may have grown while resets were closing).
    EXPECT_TRUE(eventually([&] {
        DaemonChild::PoolState s = daemon_->pool();
        return s.workers >= 10 && s.idle == s.workers && s.queued == 0;
    })) << poolText();
    EXPECT_TRUE(daemon_->alive());
    EXPECT_EQ(exchange(port_, "ECHO alive").value_or(""), "alive");
}

TEST_F(PoolTest, AdminServiceGetsTheAdminTable) {
    const int adminPort = freePort();
    start([adminPort] {
        SGDaemonConfig* config = SGDaemon_GetConfig();
        SGDaemonConfigService& admin = config->admin;
        const SGDaemonConfigService* tovel = SGDaemon_GetConfigService("TovelService");
        admin.name = sgdaemon::dupString("admin");
        admin.serviceport = adminPort;
        admin.threadcount = 2;
        admin.maxpoolsize = 4;
        admin.threadstacksize = 1000;  // below the platform's minimum: the default is used
        admin.configfile = sgdaemon::dupString("admin.json");
        for (auto field : {&SGDaemonConfigService::modulepath, &SGDaemonConfigService::init,
                           &SGDaemonConfigService::initproc, &SGDaemonConfigService::final,
                           &SGDaemonConfigService::service})
            admin.*field = sgdaemon::dupString(tovel->*field);
        // The ordinary service runs on stacks of a chosen size.
        SGDaemon_GetConfigService("TovelService")->threadstacksize = 512 * 1024;
    });
    EXPECT_EQ(daemon_->console(),
              "process init ..... ok\n"
              "process register\n"
              " service (admin) register ..... ok\n"
              " service (TovelService) register ..... ok\n"
              "process initialize resource \n"
              "process start .... ok\n");
    ASSERT_TRUE(poolIs(2, 2, 0, 3000, "admin")) << daemon_->command("pool admin").value_or("");
    ASSERT_TRUE(poolIs(10, 10, 0)) << poolText();
    EXPECT_EQ(logCount("thread pool [admin] cannot set stack size of thread attribute. return "
                       "code [22]"),
              1);
    EXPECT_EQ(logCount("thread pool (admin[0]) : cannot set stacksize of thread attribute. "
                       "return code [22]."),
              2);
    EXPECT_EQ(logCount("cannot set stack"), 3);

    EXPECT_EQ(exchange(adminPort, "SERVICES").value_or(""), "TovelService=10/10/0 admin=2/1/0");
    EXPECT_EQ(exchange(adminPort, "RESIZE TovelService 12").value_or(""), "0");
    EXPECT_TRUE(poolIs(12, 12, 0)) << poolText();
    EXPECT_EQ(exchange(adminPort, "RESIZE admin 9").value_or(""), "0");  // lowered to 4
    EXPECT_EQ(exchange(adminPort, "RESIZE admin 9").value_or(""), "6017");
    // Only the service named "admin" has the table.
    EXPECT_EQ(exchange(port_, "SERVICES").value_or(""), "ERROR");
    EXPECT_NE(exchange(port_, "INFO").value_or("").find("pool=TovelService"), std::string::npos);
}

TEST(ThreadPool, RegisteredPoolWithoutThreads) {
    TempDir home;
    EnvOverride homeVariable("HOME", home.str());
    SGDaemonWrapper_Initialize();
    brindlow::platform::setMainBundleResources(kResources);
    ASSERT_EQ(SGDaemon_InitInnerConfig("Brindlow"), 0);
    SGDaemonProcess process{};
    process.listener = -1;
    process.name = const_cast<char*>("TovelService");
    ASSERT_EQ(SGDaemon_ThreadPoolRegister(&process), 0);
    SGDaemonProcess unknown{};
    unknown.name = const_cast<char*>("Unknown");
    EXPECT_EQ(SGDaemon_ThreadPoolRegister(&unknown), 6005);
    EXPECT_EQ(SGDaemon_ThreadPoolRegister(nullptr), 6001);

    EXPECT_NE(SGDaemon_ThreadPoolGet("TovelService"), nullptr);
    EXPECT_EQ(SGDaemon_ThreadPoolGet("Unknown"), nullptr);
    EXPECT_EQ(SGDaemon_ThreadPoolStop(), 6003);
    EXPECT_EQ(SGDaemon_ThreadPoolStart("Unknown"), 6015);
    EXPECT_EQ(SGDaemon_ThreadPoolStart(nullptr), 6001);
    EXPECT_EQ(SGDaemon_ThreadPoolSetStackSize("Unknown", 1), 6015);
    EXPECT_EQ(SGDaemon_ThreadPoolSetStackSize("TovelService", 65536), 0);
    EXPECT_EQ(SGDaemon_ThreadPoolSetMaxPoolSize("Unknown", 1), 6005);
    EXPECT_EQ(SGDaemon_ThreadPoolSetMaxPoolSize("TovelService", 7), 0);
    EXPECT_EQ(SGDaemon_GetConfigService("TovelService")->maxpoolsize, 7);
    EXPECT_EQ(SGDaemon_UtilHash("TovelService"), 0u);

    SGDaemonServiceInfo* info = SGDaemon_ThreadPoolGetServiceInfobyName(nullptr);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->name, "TovelService");
    EXPECT_EQ(info->workers, 0);  // workers come with the master thread
    EXPECT_EQ(info->stacksize, 65536);
    EXPECT_EQ(info->threads, nullptr);
    EXPECT_EQ(info->next, nullptr);
    SGDaemon_ThreadPoolFreeServiceInfo(info);
    EXPECT_EQ(SGDaemon_ThreadPoolGetThreadInfobyName("TovelService"), nullptr);
    EXPECT_EQ(SGDaemon_ThreadPoolGetServiceInfobyName("Unknown"), nullptr);

    // Worker information of records the caller made.
    SGDaemonWorker a{}, b{};
    a.index = 0;
    a.served = 3;
    a.state = 1;
    std::strcpy(a.address, "127.0.0.1");
    b.index = 1;
    b.thread = 42;
    SGDaemonWorker* workers[] = {&a, &b};
    SGDaemonThreadInfo** threads = SGDaemon_ThreadPoolGetThreadInfo(workers, 2);
    ASSERT_NE(threads, nullptr);
    EXPECT_EQ(threads[0]->count, 2);
    EXPECT_EQ(threads[0]->served, 3);
    EXPECT_EQ(threads[0]->state, 1);
    EXPECT_STREQ(threads[0]->address, "127.0.0.1");
    EXPECT_EQ(threads[1]->index, 1);
    EXPECT_EQ(threads[1]->thread, 42u);
    EXPECT_EQ(threads[2], nullptr);
    SGDaemon_ThreadPoolFreeThreadInfo(threads);

    SGDaemon_ThreadPoolFree();
    EXPECT_EQ(SGDaemon_ThreadPoolGet("TovelService"), nullptr);
    EXPECT_EQ(SGDaemon_ThreadPoolStartAll(0), 0);  // no pool
    SGDaemon_FinalConfig();
    brindlow::platform::setMainBundleResources("");
}

}  // namespace
