#include <gtest/gtest.h>

#include "NPKICopy.h"
#include "NPKITable.h"
#include "DesktopPlatformSupport.h"
#include "WideFile.h"

namespace fs = std::filesystem;
using desktop_test::TempDir;

namespace {

// A bundle's NPKI folder holding every file of the table, each with its own content.
void layOutSource(const fs::path& root) {
    for (const NPKIAuthority& a : NPKIAuthorities())
        for (const NPKIRow& row : a.rows)
            desktop_test::spit(root / wstringToString(a.folder) / wstringToString(row.fileName),
                               "DER of " + wstringToString(row.fileName));
}

std::wstring folderOf(const fs::path& p) {
    return stringToWstring(p.string() + "/");
}

int countFiles(const fs::path& root) {
    int n = 0;
    for (auto& e : fs::recursive_directory_iterator(root)) n += e.is_regular_file();
    return n;
}

}  // namespace

TEST(NPKITable, HoldsTheAuthoritiesInOrder) {
    std::wstring folders;
    size_t rows = 0;
    for (const NPKIAuthority& a : NPKIAuthorities()) {
        folders += a.folder;
        for (const NPKIRow& row : a.rows) {
            // The second string is "<folder>\<file name>".
            std::wstring folder = a.folder;
            folder.pop_back();
            EXPECT_EQ(std::wstring(row.folderAndName), folder + L"\\" + row.fileName);
            EXPECT_EQ(std::wstring(row.commonName).empty(), folder != L"KISA");
            ++rows;
        }
    }
    EXPECT_EQ(folders, L"CrossCert/KICA/KISA/NCASign/Lindsign/TradeSign/yessign/");
    EXPECT_EQ(rows, 24u);
    EXPECT_EQ(std::wstring(NPKI_KISA[1].commonName), L"KISA RootCA 4");
}

TEST(NPKICopy, FreshHomeGetsTheWholeTreeWithoutRoots) {
    TempDir src, home;
    layOutSource(src.path());
    desktop_test::Env env("HOME", home.path().string());
    InitUserKisaNpkiPath();
    EXPECT_EQ(USER_KISA_NPKI_PATH,
              stringToWstring(home.path().string()) + L"/Library/Preferences/NPKI/");

    EXPECT_FALSE(CopyNPKIFiles(folderOf(src.path()), USER_KISA_NPKI_PATH));
    const fs::path npki = home.path() / "Library/Preferences/NPKI";
    EXPECT_EQ(countFiles(npki), 22);
    EXPECT_TRUE(fs::is_directory(npki / "KISA"));
    EXPECT_TRUE(fs::is_empty(npki / "KISA"));
    EXPECT_EQ(
        desktop_test::slurp(npki / "Lindsign/b063e7eba3dbd862c64427ff65e9316273a7c6cc_10043.der"),
        "DER of b063e7eba3dbd862c64427ff65e9316273a7c6cc_10043.der");
    // The folders created on the way are the user's alone.
    EXPECT_EQ(fs::status(home.path() / "Library").permissions() & fs::perms::all,
              fs::perms::owner_all);
}

TEST(NPKICopy, MissingAuthorityFailsOnlyItsRows) {
    TempDir src, dst;
    layOutSource(src.path());
    fs::remove_all(src.path() / "NCASign");
    EXPECT_TRUE(CopyNPKIFiles(folderOf(src.path()), folderOf(dst.path() / "NPKI")));
    EXPECT_EQ(countFiles(dst.path()), 20);
    EXPECT_TRUE(
        fs::exists(dst.path() / "NPKI/yessign/EFDC44D2C68DC00EA338C07C93C6C341BF4A8FF0_4124.der"));
}

TEST(NPKICopy, SizeLimitsAndUntouchedTargets) {
    TempDir dir;
    const fs::path target = dir.path() / "target.der";
    struct Case {
        size_t size;
        bool copied;
    } cases[] = {{1, true}, {10239, true}, {10240, false}, {0, false}};
    for (const Case& c : cases) {
        desktop_test::spit(target, "previous");
        const fs::path source = dir.path() / ("s" + std::to_string(c.size));
        desktop_test::spit(source, std::string(c.size, 'x'));
        EXPECT_EQ(
            CopyFileByPath(stringToWstring(source.string()), stringToWstring(target.string())),
            c.copied)
            << c.size;
        EXPECT_EQ(desktop_test::slurp(target), c.copied ? std::string(c.size, 'x') : "previous");
    }
    EXPECT_FALSE(CopyFileByPath(stringToWstring((dir.path() / "none").string()),
                                stringToWstring(target.string())));
    EXPECT_EQ(desktop_test::slurp(target), "previous");
}

TEST(NPKICopy, WriteFailureIsReported) {
    TempDir dir;
    const fs::path source = dir.path() / "s.der";
    desktop_test::spit(source, "certificate");
    // A folder stands where the file should go: the copy cannot replace it.
    fs::create_directory(dir.path() / "taken");
    EXPECT_FALSE(CopyFileByPath(stringToWstring(source.string()),
                                stringToWstring((dir.path() / "taken").string())));
    EXPECT_FALSE(CopyFileByPath(stringToWstring(source.string()),
                                stringToWstring((dir.path() / "no/such/folder.der").string())));
}

TEST(NPKICopy, MakeDirectory) {
    TempDir dir;
    desktop_test::spit(dir.path() / "file", "x");
    EXPECT_TRUE(MakeDirectory(stringToWstring((dir.path() / "file").string())));  // any entry
    EXPECT_TRUE(MakeDirectory(stringToWstring((dir.path() / "a/b/c/").string())));
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    EXPECT_FALSE(MakeDirectory(stringToWstring((dir.path() / "file/sub").string())));
    EXPECT_FALSE(MakeDirectory(L""));
}
