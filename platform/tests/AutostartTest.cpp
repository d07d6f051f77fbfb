#include <gtest/gtest.h>

#include "Autostart.h"
#include "DesktopPlatformSupport.h"

namespace fs = std::filesystem;
using desktop_test::TempDir;

TEST(Autostart, WritesOneEntryPerBundle) {
    TempDir home, apps;
    desktop_test::Env h("HOME", home.path().string()), x("XDG_CONFIG_HOME", "");
    const fs::path folder = home.path() / ".config/autostart";
    EXPECT_EQ(brindlow::platform::autostartFolder(), folder.string());

    // An entry of the same name for another program stays; ours gets the next name.
    desktop_test::spit(folder / "Brindlow.desktop",
                       "[Desktop Entry]\nType=Application\nExec=/opt/old/Brindlow --tray\n");
    const std::string bundle = (apps.path() / "My Apps/Brindlow.app").string();
    ASSERT_TRUE(brindlow::platform::registerAutostart(bundle));
    ASSERT_TRUE(brindlow::platform::registerAutostart(bundle));  // already there: nothing added
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
    const std::string entry = desktop_test::slurp(folder / "Brindlow-2.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"" + bundle + "/Contents/MacOS/Brindlow\"\n"), std::string::npos)
        << entry;
    EXPECT_NE(desktop_test::slurp(folder / "Brindlow.desktop").find("/opt/old/Brindlow"),
              std::string::npos);
}

TEST(Autostart, FollowsConfigHomeAndFailsWhereNoFolderCanBe) {
    TempDir config;
    desktop_test::Env x("XDG_CONFIG_HOME", config.path().string());
    EXPECT_TRUE(brindlow::platform::registerAutostart("/Applications/Brindlow.app"));
    EXPECT_TRUE(fs::exists(config.path() / "autostart/Brindlow.desktop"));

    desktop_test::spit(config.path() / "file", "");
    desktop_test::Env y("XDG_CONFIG_HOME", (config.path() / "file").string());
    EXPECT_FALSE(brindlow::platform::registerAutostart("/Applications/Brindlow.app"));
}
