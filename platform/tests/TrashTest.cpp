#include <gtest/gtest.h>

#include "DesktopPlatformSupport.h"
#include "Trash.h"

namespace fs = std::filesystem;
using desktop_test::TempDir;

TEST(Trash, MovesBundlesWithTheirRecords) {
    TempDir home, data, apps;
    desktop_test::Env h("HOME", home.path().string()), x("XDG_DATA_HOME", data.path().string());
    EXPECT_EQ(brindlow::platform::homeTrashFolder(), data.path().string() + "/Trash");

    // Two bundles of the same name: the second gets a name of its own in the Trash.
    const fs::path bundle = apps.path() / "Brindlow.app";
    for (int round = 1; round <= 2; ++round) {
        desktop_test::spit(bundle / "Contents/MacOS/Brindlow", "round " + std::to_string(round));
        std::string name, error;
        ASSERT_TRUE(brindlow::platform::moveToTrash(bundle.string() + "/", &name, &error)) << error;
        EXPECT_EQ(name, round == 1 ? "Brindlow.app" : "Brindlow.app.2");
        EXPECT_FALSE(fs::exists(bundle));
        const fs::path trash = data.path() / "Trash";
        EXPECT_EQ(desktop_test::slurp(trash / "files" / name / "Contents/MacOS/Brindlow"),
                  "round " + std::to_string(round));
        const std::string info = desktop_test::slurp(trash / "info" / (name + ".trashinfo"));
        EXPECT_EQ(info.find("[Trash Info]\nPath=" + bundle.string() + "\nDeletionDate="), 0u)
            << info;
        EXPECT_EQ(info.size(), std::string("[Trash Info]\nPath=\nDeletionDate=\n").size() +
                                   bundle.string().size() + 19);
    }
}

TEST(Trash, EncodesThePathAndRefusesWhatIsNotThere) {
    TempDir data, dir;
    desktop_test::Env x("XDG_DATA_HOME", data.path().string());
    const fs::path file = dir.path() / "옛 버전%.app";
    desktop_test::spit(file, "x");
    std::string name, error;
    ASSERT_TRUE(brindlow::platform::moveToTrash(file.string(), &name, &error)) << error;
    const std::string info =
        desktop_test::slurp(data.path() / "Trash/info" / (name + ".trashinfo"));
    EXPECT_NE(info.find("/%EC%98%9B%20%EB%B2%84%EC%A0%84%25.app\n"), std::string::npos) << info;

    EXPECT_FALSE(brindlow::platform::moveToTrash((dir.path() / "gone").string(), nullptr, &error));
    EXPECT_FALSE(error.empty());
    // No record is left behind for a failed move.
    EXPECT_EQ(std::distance(fs::directory_iterator(data.path() / "Trash/info"), {}), 1);
}
