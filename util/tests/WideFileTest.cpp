#include <gtest/gtest.h>

#include <sys/stat.h>

#include "DesktopPlatformSupport.h"
#include "WideFile.h"

namespace fs = std::filesystem;
using desktop_test::TempDir;

TEST(WideFile, ConvertsBetweenUtf32AndUtf8) {
    const std::wstring wide = L"/home/홍길동/Library/\U0001F512.der";
    const std::string utf8 =
        "/home/\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99/Library/\xF0\x9F\x94\x92.der";
    EXPECT_EQ(wstringToString(wide), utf8);
    EXPECT_EQ(stringToWstring(utf8), wide);
    // Not Unicode, or not UTF-8: nothing that could name another file.
    EXPECT_EQ(wstringToString(std::wstring(1, static_cast<wchar_t>(0xD800))), "");
    EXPECT_EQ(wstringToString(std::wstring(1, static_cast<wchar_t>(0x110000))), "");
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xFF", "a\x80"})
        EXPECT_EQ(stringToWstring(bad), L"") << bad;
}

TEST(WideFile, OpensNonAsciiPaths) {
    TempDir dir;
    const fs::path file = dir.path() / "인증서.der";
    desktop_test::spit(file, "xyz");
    FILE* f = wfopen(stringToWstring(file.string()).c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    char buf[4] = {};
    EXPECT_EQ(fread(buf, 1, 3, f), 3u);
    fclose(f);
    EXPECT_STREQ(buf, "xyz");
}

TEST(WideFile, ReplaceIsWholeOrNothing) {
    TempDir dir;
    const fs::path file = dir.path() / "target.der";
    desktop_test::spit(file, "old");
    const unsigned char data[] = {'n', 'e', 'w', '!'};
    ASSERT_EQ(replaceFileContents(file.string(), data, 4), 0);
    EXPECT_EQ(desktop_test::slurp(file), "new!");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(file).permissions(), static_cast<fs::perms>(0666 & ~mask));

    // A folder in the target's place: the rename fails and no temporary file stays behind.
    const fs::path folder = dir.path() / "folder";
    fs::create_directory(folder);
    desktop_test::spit(folder / "inside", "kept");
    EXPECT_EQ(replaceFileContents(folder.string(), data, 4), -2);
    EXPECT_EQ(desktop_test::slurp(folder / "inside"), "kept");
    EXPECT_EQ(replaceFileContents((dir.path() / "missing" / "x").string(), data, 4), -1);
    int entries = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2);
}
