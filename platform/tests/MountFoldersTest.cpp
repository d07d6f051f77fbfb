#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "MountFolders.h"

namespace {

class VolumesOverride {
  public:
    explicit VolumesOverride(const char* value) {
        if (const char* old = std::getenv("BRINDLOW_VOLUMES")) old_ = old;
        if (value)
            setenv("BRINDLOW_VOLUMES", value, 1);
        else
            unsetenv("BRINDLOW_VOLUMES");
    }
    ~VolumesOverride() {
        if (old_)
            setenv("BRINDLOW_VOLUMES", old_->c_str(), 1);
        else
            unsetenv("BRINDLOW_VOLUMES");
    }

  private:
    std::optional<std::string> old_;
};

}  // namespace

TEST(MountFolders, VariableReplacesTheSystemFolders) {
    VolumesOverride volumes("/tmp/볼륨 폴더");
    EXPECT_EQ(brindlow::platform::mountFolders(), std::vector<std::string>{"/tmp/볼륨 폴더"});
}

TEST(MountFolders, SystemFoldersOfTheRealUserWithoutTheVariable) {
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        VolumesOverride volumes(value);
        std::vector<std::string> expected;
        if (std::filesystem::is_directory("/Volumes")) expected.emplace_back("/Volumes");
        const passwd* user = getpwuid(getuid());
        ASSERT_NE(user, nullptr);
        expected.push_back(std::string("/media/") + user->pw_name);
        expected.push_back(std::string("/run/media/") + user->pw_name);
        EXPECT_EQ(brindlow::platform::mountFolders(), expected);
    }
}
