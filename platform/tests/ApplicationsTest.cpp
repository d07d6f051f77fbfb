#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "Applications.h"

namespace {

class ApplicationsOverride {
  public:
    explicit ApplicationsOverride(const char* value) {
        if (const char* old = std::getenv("BRINDLOW_APPLICATIONS")) old_ = old;
        if (value)
            setenv("BRINDLOW_APPLICATIONS", value, 1);
        else
            unsetenv("BRINDLOW_APPLICATIONS");
    }
    ~ApplicationsOverride() {
        if (old_)
            setenv("BRINDLOW_APPLICATIONS", old_->c_str(), 1);
        else
            unsetenv("BRINDLOW_APPLICATIONS");
    }

  private:
    std::optional<std::string> old_;
};

}  // namespace

TEST(Applications, FolderAndInstalledBundlePath) {
    struct Case {
        const char* variable;  // null: unset
        const char* folder;
        const char* bundle;
    };
    const Case cases[] = {
        {nullptr, "/Applications", "/Applications/Brindlow.app"},
        {"", "/Applications", "/Applications/Brindlow.app"},  // empty counts as unset
        {"/tmp/앱 폴더", "/tmp/앱 폴더", "/tmp/앱 폴더/Brindlow.app"},
        {"/tmp/apps//", "/tmp/apps//", "/tmp/apps/Brindlow.app"},
        {"/", "/", "/Brindlow.app"},
    };
    for (const Case& c : cases) {
        ApplicationsOverride applications(c.variable);
        SCOPED_TRACE(c.variable ? c.variable : "(unset)");
        EXPECT_EQ(brindlow::platform::applicationsFolder(), c.folder);
        EXPECT_EQ(brindlow::platform::installedApplicationPath("Brindlow"), c.bundle);
    }
}
