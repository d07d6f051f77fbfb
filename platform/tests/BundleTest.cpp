#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Bundle.h"
#include "Platform.h"

namespace fs = std::filesystem;
using namespace brindlow::platform;

namespace {

class BundleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brindlow-bundle-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        setMainBundleResources("");
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(BundleTest, ResourcesLieBesideTheExecutablesFolder) {
    // <bundle>/Contents/MacOS/<executable> -> <bundle>/Contents/Resources
    const fs::path exe = executablePath();
    EXPECT_EQ(mainBundleResources(), (exe.parent_path().parent_path() / "Resources").string());
    setMainBundleResources(dir_.string());
    EXPECT_EQ(mainBundleResources(), dir_.string());
    setMainBundleResources("");
    EXPECT_EQ(mainBundleResources(), (exe.parent_path().parent_path() / "Resources").string());
}

TEST_F(BundleTest, ResourceLookupFindsOnlyEntriesOfTheFolder) {
    fs::create_directories(dir_ / "Module.bundle");
    std::ofstream(dir_ / "padlock.png") << "png";
    EXPECT_EQ(bundleResourcePath(dir_.string(), "Module.bundle"),
              (dir_ / "Module.bundle").string());
    EXPECT_EQ(bundleResourcePath(dir_.string(), "padlock.png"), (dir_ / "padlock.png").string());
    EXPECT_EQ(bundleResourcePath(dir_.string(), "Absent.bundle"), "");
    EXPECT_EQ(bundleResourcePath(dir_.string(), ".."), "");
    EXPECT_EQ(bundleResourcePath(dir_.string(), "../" + dir_.filename().string()), "");
    EXPECT_EQ(bundleResourcePath("", "padlock.png"), "");
    EXPECT_EQ(bundleResourcePath(dir_.string(), ""), "");
}

TEST_F(BundleTest, ExecutableOfAModuleBundle) {
    EXPECT_EQ(bundleExecutablePath("/r/Tovel.bundle"), "/r/Tovel.bundle/Contents/MacOS/Tovel");
    EXPECT_EQ(bundleExecutablePath("/r/Tovel.bundle/"), "/r/Tovel.bundle/Contents/MacOS/Tovel");
    EXPECT_EQ(bundleExecutablePath("/r/Plain"), "/r/Plain/Contents/MacOS/Plain");
}

TEST_F(BundleTest, LoadsASharedObjectLaidOutAsABundle) {
    const fs::path bundle = dir_ / "Maths.bundle";
    fs::create_directories(bundle / "Contents/MacOS");
    fs::create_symlink("/lib/x86_64-linux-gnu/libm.so.6", bundle / "Contents/MacOS/Maths");
    std::string error;
    void* handle = loadBundle(bundle.string(), &error);
    ASSERT_NE(handle, nullptr) << error;
    auto cosine = reinterpret_cast<double (*)(double)>(bundleFunction(handle, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(bundleFunction(handle, "no_such_function_here"), nullptr);
    EXPECT_EQ(bundleFunction(nullptr, "cos"), nullptr);
}

TEST_F(BundleTest, LoadFailuresSayWhy) {
    const fs::path corrupt = dir_ / "Corrupt.bundle";
    fs::create_directories(corrupt / "Contents/MacOS");
    std::ofstream(corrupt / "Contents/MacOS/Corrupt") << "\x7f"
                                                         "ELF but nothing more";
    for (const fs::path& bundle : {dir_ / "Absent.bundle", corrupt}) {
        std::string error;
        EXPECT_EQ(loadBundle(bundle.string(), &error), nullptr) << bundle;
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_EQ(loadBundle("", &error), nullptr);
    EXPECT_EQ(loadBundle((dir_ / "Absent.bundle").string(), nullptr), nullptr);
}

}  // namespace
