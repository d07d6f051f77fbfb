#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "DesktopPlatformSupport.h"
#include "Platform.h"

using desktop_test::Env;

TEST(PlatformHome, FollowsHomeVariable) {
    Env home("HOME", "/tmp/홈 폴더");
    EXPECT_EQ(brindlow::platform::homeDirectory(), "/tmp/홈 폴더");
}

TEST(PlatformHome, FallsBackToUserDatabaseWhenUnsetOrEmpty) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    for (const std::optional<std::string>& value : {std::optional<std::string>(), {""}}) {
        Env home("HOME", value);
        EXPECT_EQ(brindlow::platform::homeDirectory(), pw->pw_dir);
    }
}

TEST(PlatformExecutable, IsThisTestProgram) {
    std::string path = brindlow::platform::executablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
}
