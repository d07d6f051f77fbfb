#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform.h"

namespace {

// Sets or unsets an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvOverride() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(PlatformHome, FollowsHomeVariable) {
    EnvOverride home("HOME", "/tmp/홈 폴더");
    EXPECT_EQ(brindlow::platform::homeDirectory(), "/tmp/홈 폴더");
}

TEST(PlatformHome, FallsBackToUserDatabaseWhenUnsetOrEmpty) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        EnvOverride home("HOME", value);
        EXPECT_EQ(brindlow::platform::homeDirectory(), pw->pw_dir);
    }
}

TEST(PlatformExecutable, IsThisTestProgram) {
    std::string path = brindlow::platform::executablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
}
