#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <optional>
#include <string>

#include "DesktopPlatformSupport.h"
#include "Launch.h"
#include "Processes.h"

extern char** environ;

namespace fs = std::filesystem;
using desktop_test::TempDir;

namespace {

// A copy of sleep under another name, running until killed.
pid_t runDecoy(const fs::path& exe) {
    fs::create_directories(exe.parent_path());
    fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
    std::string path = exe.string(), seconds = "60";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    return pid;
}

bool contains(const std::vector<pid_t>& pids, pid_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

}  // namespace

// Names of their own: unscoped, the listing sees every process of the user.
TEST(Processes, FindsExactNamesOnly) {
    TempDir dir;
    const pid_t upper = runDecoy(dir.path() / "a/Sorrel");
    const pid_t lower = runDecoy(dir.path() / "b/sorrel");
    const pid_t deleted = runDecoy(dir.path() / "c/Sorrel");
    fs::remove(dir.path() / "c/Sorrel");
    // The executable shows up once exec has happened.
    std::vector<pid_t> found;
    for (int i = 0; i < 200 && !(contains(found, upper) && contains(found, deleted)); ++i) {
        usleep(10000);
        found = brindlow::platform::runningProcessesNamed("Sorrel");
    }
    EXPECT_TRUE(contains(found, upper));
    EXPECT_TRUE(contains(found, deleted));
    EXPECT_FALSE(contains(found, lower));
    EXPECT_TRUE(contains(brindlow::platform::runningProcessesNamed("sorrel"), lower));

    for (pid_t pid : {upper, lower, deleted}) {
        EXPECT_EQ(brindlow::platform::signalProcess(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    EXPECT_EQ(brindlow::platform::signalProcess(0, SIGKILL), EINVAL);
}

// The tests' seam: only the listed ids count, so a test ends none but the copies it started.
TEST(Processes, ScopeLimitsTheListingToTheIdsItNames) {
    TempDir dir;
    const pid_t a = runDecoy(dir.path() / "a/Tamsin");
    const pid_t b = runDecoy(dir.path() / "b/Tamsin");
    const std::string sa = std::to_string(a), sb = std::to_string(b);
    const struct {
        std::optional<std::string> scope;
        bool listsA, listsB;
    } cases[] = {
        {std::nullopt, true, true},
        {"", false, false},
        {" \t,", false, false},
        {sa, true, false},
        {" " + sb + ",\t" + sa + " ", true, true},
        {std::to_string(getpid()) + "," + sb, false, true},
        // Words that are not plain decimal ids name no process.
        {"x" + sa + " " + sa + "x -" + sa + " +" + sa + " 0 99999999999999999999", false, false},
    };
    for (const auto& c : cases) {
        desktop_test::Env scope("BRINDLOW_PROCESS_SCOPE", c.scope);
        const std::vector<pid_t> found = brindlow::platform::runningProcessesNamed("Tamsin");
        const std::string label = c.scope ? "\"" + *c.scope + "\"" : "unset";
        EXPECT_EQ(contains(found, a), c.listsA) << label;
        EXPECT_EQ(contains(found, b), c.listsB) << label;
        if (c.scope) EXPECT_EQ(found.size(), size_t{c.listsA} + c.listsB) << label;
    }
    // The name still has to match in the scope.
    desktop_test::Env scope("BRINDLOW_PROCESS_SCOPE", sa);
    EXPECT_TRUE(brindlow::platform::runningProcessesNamed("tamsin").empty());

    for (pid_t pid : {a, b}) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

TEST(Launch, StartsTheBundleInASessionOfItsOwn) {
    TempDir dir;
    const fs::path bundle = dir.path() / "Stand In.app";
    const fs::path exe = bundle / "Contents/MacOS/Stand In";
    EXPECT_EQ(brindlow::platform::applicationExecutablePath(bundle.string() + "/"), exe.string());
    // The stand-in writes its pid and its session id.
    desktop_test::spit(exe,
                       "#!/bin/sh\nread -r a b c d e sid rest < /proc/$$/stat\n"
                       "echo \"$$ $sid\" > \"$LAUNCH_OUT\"\n");
    fs::permissions(exe, fs::perms::owner_all);
    desktop_test::Env out("LAUNCH_OUT", (dir.path() / "out").string());
    pid_t pid = -1;
    std::string error;
    ASSERT_TRUE(brindlow::platform::launchApplication(bundle.string(), &pid, &error)) << error;
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(desktop_test::slurp(dir.path() / "out"),
              std::to_string(pid) + " " + std::to_string(pid) + "\n");

    EXPECT_FALSE(
        brindlow::platform::launchApplication((dir.path() / "None.app").string(), &pid, &error));
    EXPECT_NE(error.find("None.app/Contents/MacOS/None"), std::string::npos);
}

TEST(Launch, RunsAdministratorCommands) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: otherwise pkexec would ask for a password";
    std::string error;
    EXPECT_EQ(brindlow::platform::runAsAdministrator({"/bin/sh", "-c", "exit 0"}, &error), 0);
    EXPECT_EQ(brindlow::platform::runAsAdministrator({"/bin/sh", "-c", "exit 3"}, &error), 3);
    EXPECT_EQ(brindlow::platform::runAsAdministrator({"/no/such/program"}, &error), -1);
}
