#include "Util.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <pwd.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "SGOS.h"
#include "SGX509Certificate.h"
#include "TokenCodec.h"
#include "TokenManagerUtil.h"
#include "TokenTestSupport.h"

using namespace tokentest;

namespace {

std::wstring wide(const std::string& s) {
    return Util::stringToWstring(s);
}

}  // namespace

// ---- Text conversions ----------------------------------------------------------------------

TEST(UtilText, ConversionsNeverDependOnTheLocale) {
    // The program never changes the locale: glibc's own conversion would refuse these texts.
    ASSERT_STREQ(setlocale(LC_ALL, nullptr), "C");
    EXPECT_EQ(Util::stringToWstring("홍길동"), L"홍길동");
    EXPECT_EQ(Util::utf8ToWstring("cn=홍길동,o=yessign"), L"cn=홍길동,o=yessign");
    EXPECT_EQ(Util::wstringToString(L"가나다/라"), "가나다/라");
    EXPECT_EQ(Util::wstringToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
    // ASCII keeps its values in the wide form, so wide searches for "o=" and "," work.
    const std::wstring dn = Util::stringToWstring("cn=김,ou=사람,o=정부,c=kr");
    EXPECT_EQ(dn.find(L"o="), dn.find(L",o=") + 1);
}

TEST(UtilText, EveryByteStringRoundTripsUnchanged) {
    const std::string cases[] = {
        "",
        "/Users/홍길동/Library/Preferences/NPKI/yessign/USER/cn=홍길동()0001234,ou=우리은행",
        "ascii only",
        "\xB1\xE8\xC3\xB6\xBC\xF6",    // EUC-KR bytes of a file name, not UTF-8
        "\x80\x81 lone continuation",  // continuation bytes without a lead
        "\xC0\xAF",                    // overlong encoding of "/"
        "\xED\xA0\x80",                // an encoded surrogate
        "\xF4\x90\x80\x80",            // above U+10FFFF
        "cut at the end \xE1\x84",     // truncated sequence
        "\xF0\x9F\x98\x80 emoji",
        "mixed \xEA\xB0\x80 \xFF \xEA\xB0",
    };
    for (const std::string& bytes : cases) {
        const std::wstring w = Util::stringToWstring(bytes);
        EXPECT_EQ(Util::wstringToString(w), bytes) << bytes;
        EXPECT_EQ(Util::wstringToUtf8(Util::utf8ToWstring(bytes)), bytes) << bytes;
    }
    // Bytes that are not UTF-8 never turn into ASCII (no "/" sneaks into a path).
    EXPECT_EQ(Util::stringToWstring("\xC0\xAF").find(L'/'), std::wstring::npos);
}

TEST(UtilText, WideTextThatHasNoUtf8FormIsReplaced) {
    EXPECT_EQ(Util::wstringToString(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Util::wstringToString(std::wstring(1, static_cast<wchar_t>(0x110000))),
              "\xEF\xBF\xBD");
    // Both directions stop at the first NUL.
    EXPECT_EQ(Util::wstringToString(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Util::stringToWstring(std::string("ab\0cd", 5)), L"ab");
}

// ---- Files and folders ---------------------------------------------------------------------

TEST(UtilFiles, KoreanPathsReachTheFileSystemByteForByte) {
    const std::string base = freshFolder("files");
    const std::string folder = base + "/인증서 폴더/하위";
    ASSERT_EQ(Util::createDirectory(wide(folder)), 0);
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));
    const std::string file = folder + "/signCert.der";
    unsigned char data[] = {1, 2, 3, 0, 4};
    ASSERT_EQ(Util::writeFile(wide(file), data, sizeof data), 0);
    EXPECT_EQ(readBytes(file), std::vector<unsigned char>(data, data + sizeof data));
    EXPECT_TRUE(Util::fileExist(wide(file)));

    // A name in another code set (EUC-KR bytes) is reached through its escaped wide form.
    const std::string legacy = base + "/\xB1\xE8\xC3\xB6\xBC\xF6.der";
    writeText(legacy, "legacy");
    unsigned char* read = nullptr;
    unsigned int length = 0;
    ASSERT_EQ(Util::readFile(wide(legacy), &read, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read), length), "legacy");
    SGOS_free(read);
    FILE* f = Util::wfopen(wide(legacy).c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}

TEST(UtilFiles, CreateDirectoryMakesEveryMissingLevelOwnerOnly) {
    const std::string base = freshFolder("mkdir");
    const std::string path = base + "/a/b/c";
    ASSERT_EQ(Util::createDirectory(wide(path)), 0);
    for (const std::string& level : {base + "/a", base + "/a/b", path}) {
        EXPECT_TRUE(fs::is_directory(level)) << level;
        EXPECT_EQ(modeOf(level), 0700) << level;
    }
    // Existing levels stay as they are.
    ::chmod((base + "/a").c_str(), 0755);
    EXPECT_EQ(Util::createDirectory(wide(path)), 0);
    EXPECT_EQ(Util::createDirectory(wide(path + "/")), 0);
    EXPECT_EQ(modeOf(base + "/a"), 0755);
    // A file in the way is an error, with the errno of the failed creation.
    writeText(base + "/file", "x");
    EXPECT_EQ(Util::createDirectory(wide(base + "/file/sub")), ENOTDIR);
    EXPECT_NE(Util::createDirectory(wide(base + "/file")), 0);
}

TEST(UtilFiles, DeleteDirectoryRemovesTheTreeButNeverFollowsLinks) {
    const std::string base = freshFolder("rmdir");
    const std::string outside = base + "/outside";
    fs::create_directories(outside + "/deep");
    writeText(outside + "/keep.txt", "keep");
    writeText(outside + "/deep/keep.txt", "keep");

    const std::string tree = base + "/tree";
    fs::create_directories(tree + "/a/b");
    writeText(tree + "/a/b/file", "x");
    writeText(tree + "/top", "x");
    fs::create_directory_symlink(outside, tree + "/a/link-to-outside");
    fs::create_symlink(outside + "/keep.txt", tree + "/file-link");

    EXPECT_EQ(Util::deleteDirectory(wide(tree)), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ(readText(outside + "/keep.txt"), "keep");
    EXPECT_EQ(readText(outside + "/deep/keep.txt"), "keep");

    // A link given as the folder itself is not followed into its target either.
    fs::create_directory_symlink(outside, base + "/link");
    EXPECT_EQ(Util::deleteDirectory(wide(base + "/link")), ENOTDIR);
    EXPECT_EQ(readText(outside + "/keep.txt"), "keep");
    EXPECT_EQ(readText(outside + "/deep/keep.txt"), "keep");

    EXPECT_EQ(Util::deleteDirectory(wide(base + "/missing")), ENOENT);
    EXPECT_EQ(Util::deleteFile(wide(base + "/missing")), ENOENT);
    EXPECT_EQ(Util::deleteFile(wide(outside + "/keep.txt")), 0);
    EXPECT_FALSE(fs::exists(outside + "/keep.txt"));
}

TEST(UtilFiles, WriteFileReplacesAtomicallyAndKeepsTheMode) {
    const std::string base = freshFolder("write");
    const std::string file = base + "/signPri.key";
    unsigned char first[] = "first content";
    unsigned char second[] = "2nd";
    ASSERT_EQ(Util::writeFile(wide(file), first, sizeof first - 1), 0);
    EXPECT_EQ(modeOf(file), 0600);
    ::chmod(file.c_str(), 0640);
    ASSERT_EQ(Util::writeFile(wide(file), second, sizeof second - 1), 0);
    EXPECT_EQ(readText(file), "2nd");
    EXPECT_EQ(modeOf(file), 0640);
    ASSERT_EQ(Util::writeFile(wide(file), nullptr, 0), 0);
    EXPECT_EQ(readText(file), "");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(base), fs::directory_iterator()), 1);

    EXPECT_EQ(Util::writeFile(wide(base + "/missing/file"), first, 3), -1);
    EXPECT_EQ(Util::writeFile(wide(base), first, 3), -1);  // a folder
    EXPECT_EQ(Util::writeFile(wide(file), nullptr, 3), -2);
    EXPECT_EQ(readText(file), "");
}

TEST(UtilFiles, PreparedFilesReplaceTogetherAndAKeptFileUndoesACommit) {
    const std::string base = freshFolder("prepared");
    const std::string outside = freshFolder("prepared-outside");
    writeText(base + "/a", "old a");
    ::chmod((base + "/a").c_str(), 0640);
    writeText(base + "/b", "old b");
    writeText(outside + "/target", "outside");
    fs::create_symlink(outside + "/target", base + "/link");
    const int folder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    auto bytes = [](const char* text) { return reinterpret_cast<const unsigned char*>(text); };

    // Prepared files change nothing until they are committed; they have the target's mode.
    Util::PreparedFile a, b, keptA;
    ASSERT_EQ(Util::prepareFileAt(folder, "a", bytes("new a"), 5, &a), 0);
    ASSERT_EQ(Util::prepareFileAt(folder, "b", bytes("new b"), 5, &b), 0);
    EXPECT_EQ(a.temporary.rfind(".sgtmp.", 0), 0u);
    EXPECT_EQ(modeOf(base + "/" + a.temporary), 0640);
    EXPECT_EQ(readText(base + "/a"), "old a");
    // The kept file is the old file itself (a second link), not a copy.
    ASSERT_EQ(Util::keepFileAt(folder, "a", bytes("old a"), 5, &keptA), 0);
    struct stat original {
    }, kept{};
    ::stat((base + "/a").c_str(), &original);
    ::stat((base + "/" + keptA.temporary).c_str(), &kept);
    EXPECT_EQ(original.st_ino, kept.st_ino);

    ASSERT_EQ(Util::commitFile(&a), 0);
    EXPECT_EQ(readText(base + "/a"), "new a");
    EXPECT_EQ(modeOf(base + "/a"), 0640);
    Util::discardFile(&a);  // committed: nothing to remove
    EXPECT_EQ(readText(base + "/a"), "new a");
    ASSERT_EQ(Util::commitFile(&keptA), 0);  // the undo
    EXPECT_EQ(readText(base + "/a"), "old a");
    Util::discardFile(&b);
    EXPECT_EQ(readText(base + "/b"), "old b");
    EXPECT_EQ(Util::syncFolder(folder), 0);

    // A link in the target's place is replaced, never written through; a folder, a name that
    // leaves the folder and a missing file to keep are refused.
    Util::PreparedFile linked, refused;
    ASSERT_EQ(Util::prepareFileAt(folder, "link", bytes("new"), 3, &linked), 0);
    ASSERT_EQ(Util::commitFile(&linked), 0);
    EXPECT_EQ(readText(outside + "/target"), "outside");
    EXPECT_FALSE(fs::is_symlink(base + "/link"));
    fs::create_directory(base + "/folder");
    EXPECT_EQ(Util::prepareFileAt(folder, "folder", bytes("x"), 1, &refused), -1);
    EXPECT_EQ(refused.error, EISDIR);
    EXPECT_EQ(Util::prepareFileAt(folder, "../a", bytes("x"), 1, &refused), -1);
    EXPECT_EQ(Util::keepFileAt(folder, "missing", bytes("x"), 1, &refused), -1);
    EXPECT_EQ(Util::commitFile(&refused), -2);
    ::close(folder);

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(base))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "folder", "link"}));
}

TEST(UtilFiles, ReadFileSetsItsOutputsOnEveryPath) {
    const std::string base = freshFolder("read");
    auto* garbage = reinterpret_cast<unsigned char*>(0x1);
    unsigned char* data = garbage;
    unsigned int length = 77;
    EXPECT_EQ(Util::readFile(wide(base + "/missing"), &data, &length), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);
    data = garbage;
    EXPECT_EQ(Util::readFile(wide(base), &data, &length), -1);  // a folder
    EXPECT_EQ(data, nullptr);

    writeText(base + "/empty", "");
    ASSERT_EQ(Util::readFile(wide(base + "/empty"), &data, &length), 0);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(length, 0u);
    SGOS_free(data);
}

TEST(UtilFiles, CheckFileAuthRewritesInPlaceAndCleansUp) {
    const std::string base = freshFolder("auth");
    const std::string file = base + "/kmPri.key";
    writeText(file, "key bytes");
    EXPECT_EQ(Util::checkFileAuth(wide(file)), 0);
    EXPECT_EQ(readText(file), "key bytes");
    EXPECT_FALSE(fs::exists(file + ".backup"));

    EXPECT_EQ(Util::checkFileAuth(wide(base + "/missing")), -1);

    // The backup cannot be written (a folder holds its name): the file is left untouched.
    fs::create_directory(file + ".backup");
    EXPECT_EQ(Util::checkFileAuth(wide(file)), -2);
    EXPECT_EQ(readText(file), "key bytes");
}

// ---- Media that anyone may have prepared ---------------------------------------------------

// A medium's folder with one entry of every kind a hostile medium can hold, and a file outside.
struct MediaFolder {
    std::string root = freshFolder("media");
    std::string outside = freshFolder("outside");
    MediaFolder() {
        fs::create_directories(root + "/CA/USER/holder");
        writeText(root + "/CA/USER/holder/signCert.der", "certificate");
        writeText(root + "/CA/USER/holder/empty", "");
        writeText(outside + "/secret", "outside the medium");
        fs::create_directories(outside + "/holder");
        writeText(outside + "/holder/signCert.der", "outside the medium");
        const std::string h = root + "/CA/USER/holder";
        fs::create_symlink(outside + "/secret", h + "/link-out");
        fs::create_symlink("signCert.der", h + "/link-in");  // even a link inside is not followed
        fs::create_symlink("loop", h + "/loop");
        ::mkfifo((h + "/fifo").c_str(), 0600);
        ::mkfifo((outside + "/fifo").c_str(), 0600);
        fs::create_symlink(outside + "/fifo", h + "/fifo-out");
        fs::create_directory(h + "/folder");
        fs::create_symlink(outside + "/holder", root + "/CA/USER/linked");
        fs::create_symlink(root + "/CA", root + "/OTHER");
        // Sparse: nothing is stored, but it measures more than any certificate.
        writeText(h + "/sparse", "");
        fs::resize_file(h + "/sparse", std::uintmax_t{2} << 30);
        writeText(h + "/at-bound", std::string(Util::kMaxCertificateFileSize, 'x'));
        writeText(h + "/over-bound", std::string(Util::kMaxCertificateFileSize + 1, 'x'));
    }
};

TEST(UtilMedia, FilesAreReadOnlyAsRegularFilesWithinTheBound) {
    MediaFolder media;
    const int folder = Util::openFolderBelow(media.root, media.root + "/CA/USER/holder");
    ASSERT_GE(folder, 0);
    const struct {
        const char* name;
        int result;
        std::string content;
    } cases[] = {
        {"signCert.der", 0, "certificate"},
        {"empty", 0, ""},
        {"at-bound", 0, std::string(Util::kMaxCertificateFileSize, 'x')},
        {"over-bound", Util::MEDIA_TOO_LARGE, ""},
        {"sparse", Util::MEDIA_TOO_LARGE, ""},
        {"link-out", Util::MEDIA_LINK, ""},
        {"link-in", Util::MEDIA_LINK, ""},
        {"loop", Util::MEDIA_LINK, ""},
        {"fifo", Util::MEDIA_WRONG_TYPE, ""},  // never waited on for a writer
        {"fifo-out", Util::MEDIA_LINK, ""},
        {"folder", Util::MEDIA_WRONG_TYPE, ""},
        {"missing", Util::MEDIA_NOT_FOUND, ""},
        {"..", Util::MEDIA_OUTSIDE, ""},
        {"../USER/holder/signCert.der", Util::MEDIA_OUTSIDE, ""},
        {"", Util::MEDIA_OUTSIDE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char* data = reinterpret_cast<unsigned char*>(0x1);
        unsigned int length = 99;
        EXPECT_EQ(Util::readFileAt(folder, c.name, Util::kMaxCertificateFileSize, &data, &length),
                  c.result);
        if (c.result != 0) {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(length, 0u);
            continue;
        }
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), length), c.content);
        SGOS_free(data);
    }
    ::close(folder);

    // The larger bound of other files lets the same file through.
    unsigned char* data = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(Util::readFileBelow(media.root, media.root + "/CA/USER/holder/over-bound",
                                  Util::kMaxPFXFileSize, &data, &length),
              0);
    EXPECT_EQ(length, Util::kMaxCertificateFileSize + 1);
    SGOS_free(data);

    // A file the user chose follows links, but is still read only as a bounded regular file.
    const std::string h = media.root + "/CA/USER/holder/";
    const struct {
        std::string path;
        int result;
        unsigned int length;
    } chosen[] = {
        {h + "link-out", 0, 18},
        {h + "over-bound", 0, Util::kMaxCertificateFileSize + 1},
        {h + "sparse", Util::MEDIA_TOO_LARGE, 0},
        {h + "fifo-out", Util::MEDIA_WRONG_TYPE, 0},
        {h + "folder", Util::MEDIA_WRONG_TYPE, 0},
        {h + "loop", Util::MEDIA_NOT_FOUND, 0},
        {"", Util::MEDIA_NOT_FOUND, 0},
    };
    for (const auto& c : chosen) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Util::readChosenFile(c.path, Util::kMaxPFXFileSize, &data, &length), c.result);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(data != nullptr, c.result == 0);
        SGOS_free(data);
    }
}

TEST(UtilMedia, FoldersBelowTheRootAreOpenedWithoutFollowingLinks) {
    MediaFolder media;
    // The root itself may be reached through a link (the medium's own top).
    const std::string linkedRoot = freshFolder("roots") + "/root";
    fs::create_symlink(media.root, linkedRoot);
    const struct {
        std::string root, path;
        int result;  // 0: a descriptor
    } cases[] = {
        {media.root, media.root, 0},
        {media.root, media.root + "/CA/USER/holder", 0},
        {media.root, media.root + "//CA/USER/holder/", 0},
        {linkedRoot, linkedRoot + "/CA/USER", 0},
        {media.root, media.root + "/OTHER/USER/holder", Util::MEDIA_LINK},
        {media.root, media.root + "/CA/USER/linked", Util::MEDIA_LINK},
        {media.root, media.root + "/CA/USER/holder/loop", Util::MEDIA_LINK},
        {media.root, media.root + "/CA/USER/holder/signCert.der", Util::MEDIA_WRONG_TYPE},
        {media.root, media.root + "/CA/missing", Util::MEDIA_NOT_FOUND},
        {media.root, media.root + "/CA/../CA/USER", Util::MEDIA_OUTSIDE},
        {media.root, media.root + "x/CA", Util::MEDIA_OUTSIDE},
        {media.root, media.outside, Util::MEDIA_OUTSIDE},
        {media.root + "/missing", media.root + "/missing/CA", Util::MEDIA_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const int fd = Util::openFolderBelow(c.root, c.path);
        if (c.result != 0) {
            EXPECT_EQ(fd, c.result);
            continue;
        }
        ASSERT_GE(fd, 0);
        EXPECT_FALSE(Util::listFolderAt(fd).empty());
        ::close(fd);
    }
    // A read through a link in the middle of the path is refused as well.
    unsigned char* data = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(Util::readFileBelow(media.root, media.root + "/CA/USER/linked/signCert.der",
                                  Util::kMaxCertificateFileSize, &data, &length),
              Util::MEDIA_LINK);
    EXPECT_EQ(data, nullptr);
}

TEST(UtilMedia, ListingAFolderLeavesTheCallersDescriptorUsable) {
    MediaFolder media;
    const int folder = Util::openFolderBelow(media.root, media.root + "/CA/USER/holder");
    ASSERT_GE(folder, 0);
    const auto first = Util::listFolderAt(folder);
    EXPECT_EQ(Util::listFolderAt(folder), first);  // not consumed by the first listing
    EXPECT_EQ(std::count(first.begin(), first.end(), "."), 0);
    EXPECT_EQ(std::count(first.begin(), first.end(), "signCert.der"), 1);
    EXPECT_EQ(first.size(), 11u);
    ::close(folder);
    EXPECT_TRUE(Util::listFolderAt(-1).empty());
}

// ---- Text from certificates ----------------------------------------------------------------

TEST(UtilShownText, ControlCharactersAreBlankedAndLongTextsCutAtAWholeCharacter) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string ellipsis = "\xE2\x80\xA6";
    std::string hangul;
    for (int i = 0; i < 100; ++i) hangul += "가";
    const struct {
        std::string text;
        unsigned int size;
        std::string shown;
    } cases[] = {
        {"CN=홍길동, O=yessign, C=KR", 256, "CN=홍길동, O=yessign, C=KR"},
        {"", 256, ""},
        {"CN=a\rb\nc\x1B[2Jd\te\x7F", 256, "CN=a b c [2Jd e "},
        {std::string("CN=a\0b", 6), 256, "CN=a b"},
        // A C1 control (CSI) and a line separator.
        {"CN=\xC2\x9B"
         "2J\xE2\x80\xA8.",
         256, "CN= 2J ."},
        {"CN=\xB1\xE8 x", 256, "CN=" + fffd + fffd + " x"},  // bytes that are not UTF-8
        // Exactly the field: kept whole; one byte more: cut, with room for the ellipsis.
        {std::string(255, 'a'), 256, std::string(255, 'a')},
        {std::string(256, 'a'), 256, std::string(252, 'a') + ellipsis},
        // 100 three-byte characters: 84 whole ones and the ellipsis fill the 255 bytes; with a
        // byte or two in front, the 84th would be cut, so it goes.
        {hangul, 256, hangul.substr(0, 84 * 3) + ellipsis},
        {"ab" + hangul, 256, "ab" + hangul.substr(0, 83 * 3) + ellipsis},
        {"a" + hangul, 256, "a" + hangul.substr(0, 83 * 3) + ellipsis},
        {"\xFF" + hangul, 16, fffd + hangul.substr(0, 3 * 3) + ellipsis},
        {hangul, 8, hangul.substr(0, 3) + ellipsis},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text.substr(0, 40)));
        std::vector<char> field(c.size + 1, '#');
        Util::displayText(c.text, field.data(), c.size);
        const std::string shown(field.data());
        EXPECT_EQ(shown, c.shown);
        EXPECT_LE(shown.size() + 1, c.size);
        EXPECT_EQ(field[c.size], '#');                         // nothing written past the field
        const std::wstring wide = Util::utf8ToWstring(shown);  // no stray byte left
        EXPECT_TRUE(std::none_of(wide.begin(), wide.end(),
                                 [](wchar_t c) { return c >= 0xDC80 && c <= 0xDCFF; }));
    }
    // Too small a field to hold a character and the ellipsis is left alone.
    char tiny[7] = "keep";
    Util::displayText("text", tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "keep");
}

TEST(UtilShownText, LogTextEscapesControlCharactersOnly) {
    EXPECT_EQ(Util::logText("cn=홍길동, o=yessign"), "cn=홍길동, o=yessign");
    EXPECT_EQ(Util::logText("a\r\nFAKE|F|line\x1B[2J\x7F"), "a\\x0D\\x0AFAKE|F|line\\x1B[2J\\x7F");
    EXPECT_EQ(Util::logText(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(Util::logText("\xC2\x85next \xC2\xA9"), "\\xC2\\x85next \xC2\xA9");
}

TEST(UtilFiles, HomePathComesFromTheUserDatabase) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(Util::getHomePath(), wide(entry->pw_dir));
    EXPECT_NE(Util::getHomePath(), wide(kHome));
    EXPECT_TRUE(Util::directoryExist(L"/nonexistent"));
    EXPECT_EQ(Util::getConfigPath(), L"");
}

// ---- DN texts ------------------------------------------------------------------------------

TEST(UtilDN, ParseDNTakesTheValueOfTheFirstMatchingAttribute) {
    struct Case {
        const char* dn;
        DNType type;
        const char* expected;
    } cases[] = {
        {"CN=Kim, OU=People, O=Government of Korea, C=KR", DNTYPE_O, "Government of Korea"},
        {"CN=Kim, OU=People, O=Government of Korea, C=KR", DNTYPE_CN, "Kim"},
        // The value starts at the part's fourth character, whatever the prefix's length.
        {"CN=Kim, OU=People, O=Government of Korea, C=KR", DNTYPE_OU, "=People"},
        {"CN=Kim, OU=People, O=Government of Korea, C=KR", DNTYPE_C, "KR"},
        {"cn=홍길동()0001, ou=우리은행, o=yessign, c=kr", DNTYPE_O, "yessign"},
        {"cn=홍길동()0001, ou=우리은행, o=yessign, c=kr", DNTYPE_CN, "홍길동()0001"},
        {"CN=Kim, OU=People", DNTYPE_O, "unchanged"},
        {"CN=Kim, O=", DNTYPE_O, ""},  // a part shorter than its prefix gives an empty value
        {"CN=Kim", static_cast<DNType>(7), "unchanged"},
    };
    for (const Case& c : cases) {
        std::string input = c.dn;
        char out[256] = "unchanged";
        EXPECT_EQ(Util::parseDN(input.c_str(), out, sizeof out, c.type), 0);
        EXPECT_STREQ(out, c.expected) << c.dn << " type " << c.type;
        EXPECT_EQ(input, c.dn);  // the caller's text is not cut
    }
    char small[4] = {};
    Util::parseDN("CN=Kim, O=Government of Korea", small, sizeof small, DNTYPE_O);
    EXPECT_STREQ(small, "Gov");
}

TEST(UtilDN, WideParseDNMatchesTheNarrowOne) {
    wchar_t out[64] = L"unchanged";
    Util::parseDN(L"cn=홍길동, ou=사람, o=Government of Korea, c=kr", out, 64, DNTYPE_O);
    EXPECT_STREQ(out, L"Government of Korea");
    wchar_t small[4] = {};
    Util::parseDN(L"CN=Kimberly", small, 4, DNTYPE_CN);
    EXPECT_STREQ(small, L"Kim");  // size - 1 characters and a NUL
}

TEST(UtilDN, RemakeDNRebuildsAttributeNames) {
    struct Case {
        const char* dn;
        bool upper;
        const char* expected;
    } cases[] = {
        {"cn=a, ou=b, o=c, c=kr", true, "CN=a,OU=b,O=c,C=kr"},
        {"CN=a, OU=b, O=c, C=KR", false, "cn=a,ou=b,o=c,c=KR"},
        {"cn=a, st=x, o=b", true, "CN=a, st=x"},  // another attribute ends the rebuilding
        {"", true, ""},
    };
    for (const Case& c : cases) {
        std::string input = c.dn;
        char out[128];
        std::memset(out, 'z', sizeof out);
        EXPECT_EQ(Util::remakeDN(out, sizeof out, input.data(), c.upper), 0);
        EXPECT_STREQ(out, c.expected) << c.dn;
    }
    char tiny[6];
    std::string dn = "cn=a, ou=b, o=c";
    EXPECT_EQ(Util::remakeDN(tiny, sizeof tiny, dn.data(), true), 0);
    EXPECT_STREQ(tiny, "CN=a,");
    EXPECT_EQ(Util::remakeDN(tiny, sizeof tiny, nullptr, true), -1);
}

TEST(UtilDN, ReplaceAll) {
    EXPECT_EQ(Util::replaceAll("cn=a\\,b\\\\c", "\\", ""), "cn=a,bc");
    EXPECT_EQ(Util::replaceAll("aaa", "a", "aa"), "aaaaaa");  // continues after the insertion
    EXPECT_EQ(Util::replaceAll("abc", "", "x"), "abc");
}

// ---- Certificates --------------------------------------------------------------------------

TEST(UtilCertificate, PemLinesAndOpensslReadsThem) {
    for (auto [size, lines] : {std::pair{48, 3}, std::pair{49, 4}}) {
        std::vector<unsigned char> data(size, 0xA5);
        char* pem = nullptr;
        ASSERT_EQ(Util::encodePem(&pem, data.data(), data.size(), "TEST"), 0);
        std::string text = pem;
        SGOS_free(pem);
        std::vector<std::string> split;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) split.push_back(line);
        ASSERT_EQ(static_cast<int>(split.size()), lines);
        EXPECT_EQ(split.front(), "-----BEGIN TEST-----");
        EXPECT_EQ(split[1].size(), 64u);
        if (lines == 4) {
            EXPECT_EQ(split[2].size(), 4u);
        }
        EXPECT_EQ(split.back(), "-----END TEST-----");
        EXPECT_EQ(text.back(), '\n');
    }

    const std::string folder = freshFolder("pem");
    const auto der = makeCertificate(folder, "/CN=pem test/O=Brindlow/C=KR");
    ASSERT_FALSE(der.empty());
    char* pem = nullptr;
    ASSERT_EQ(
        Util::encodePem(&pem, const_cast<unsigned char*>(der.data()), der.size(), "CERTIFICATE"),
        0);
    writeText(folder + "/ours.pem", pem);
    SGOS_free(pem);
    int status = -1;
    run("openssl x509 -in '" + folder + "/ours.pem' -outform DER -out '" + folder +
            "/back.der' 2>/dev/null",
        &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(readBytes(folder + "/back.der"), der);
}

TEST(UtilCertificate, RootCertHashAgreesWithOpenssl) {
    const std::string folder = freshFolder("hash");
    auto der = makeCertificate(folder, "/CN=KISA RootCA 4/O=KISA/C=KR");
    ASSERT_FALSE(der.empty());
    // "sha256 Fingerprint=AB:CD:..." becomes "ABCD ..." in groups of four.
    std::string line =
        run("openssl x509 -inform DER -in '" + folder + "/cert.der' -noout -fingerprint -sha256");
    std::string hex;
    for (char c : line.substr(line.find('=') + 1))
        if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    ASSERT_EQ(hex.size(), 64u);
    std::string expected;
    for (size_t i = 0; i < 64; i += 4) expected += (i ? " " : "") + hex.substr(i, 4);

    char* out = nullptr;
    ASSERT_EQ(Util::getRootCertHash(&out, der.data(), der.size()), 0);
    EXPECT_EQ(std::strlen(out), 79u);
    EXPECT_EQ(std::string(out), expected);
    SGOS_free(out);
}

namespace {

// A certificate decoded through the library, for the helpers that take a parsed one.
struct Parsed {
    SGX509Certificate handle{};
    explicit Parsed(const std::vector<unsigned char>& der) {
        SGBinary binary{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        EXPECT_EQ(SGX509Certificate_FromBinary(&handle, &binary), 0);
    }
    ~Parsed() {
        if (handle.certificate) SGX509Certificate_Clear(&handle);
    }
};

}  // namespace

TEST(UtilCertificate, SubjectTextAndItsAttributesAgreeWithOpenssl) {
    const std::string folder = freshFolder("subject");
    const auto der = makeCertificate(
        folder, "/C=KR/O=Government of Korea/OU=People\\, Seoul/CN=홍길동()0012345", "-utf8");
    ASSERT_FALSE(der.empty());
    const auto attributes = opensslSubject(folder + "/cert.der");
    ASSERT_EQ(attributes.size(), 4u);
    // Last attribute first, ", " between them, no backslash before the escaped comma.
    std::string expected;
    for (auto it = attributes.rbegin(); it != attributes.rend(); ++it)
        expected += (expected.empty() ? "" : ", ") + *it;

    Parsed certificate(der);
    char raw[1024] = {};
    ASSERT_EQ(SGX509Certificate_GetEntry(&certificate.handle, raw, sizeof raw, 7, 0), 0);
    EXPECT_NE(std::string(raw).find("People\\, Seoul"), std::string::npos) << raw;
    char subject[1024] = {};
    ASSERT_EQ(Util::X509Certificate_GetEntry_Remove_SpecialChar(&certificate.handle, subject,
                                                                sizeof subject, 7, 0),
              0);
    EXPECT_EQ(std::string(subject), expected);

    char value[256] = {};
    Util::parseDN(subject, value, sizeof value, DNTYPE_CN);
    EXPECT_EQ(std::string("CN=") + value, attributes[3]);
    Util::parseDN(subject, value, sizeof value, DNTYPE_O);
    EXPECT_EQ(std::string("O=") + value, attributes[1]);
    Util::parseDN(subject, value, sizeof value, DNTYPE_C);
    EXPECT_EQ(std::string("C=") + value, attributes[0]);

    // The serial number is not a name: it keeps its text; failures leave the output alone.
    char small[4] = "old";
    EXPECT_EQ(Util::X509Certificate_GetEntry_Remove_SpecialChar(&certificate.handle, small,
                                                                sizeof small, 2, 0),
              1003);
    EXPECT_STREQ(small, "old");
    EXPECT_EQ(
        Util::X509Certificate_GetEntry_Remove_SpecialChar(&certificate.handle, nullptr, 9, 7, 0),
        -1);
    SGX509Certificate empty{};
    EXPECT_EQ(
        Util::X509Certificate_GetEntry_Remove_SpecialChar(&empty, subject, sizeof subject, 7, 0),
        SG_X509_ERR_EMPTY);
}

TEST(UtilCertificate, CompareCertificateOfOneHolderBySerialNumber) {
    const std::string keyUsage = "-addext 'keyUsage=critical,digitalSignature,nonRepudiation' ";
    auto make = [&](const std::string& serial, const std::string& subject) {
        return makeCertificate(freshFolder("compare"), subject, keyUsage + "-set_serial " + serial);
    };
    const std::string holder = "/C=KR/O=yessign/OU=personal4IB/CN=hong()0001";
    const auto old31 = make("0x1F", holder);
    const auto new32 = make("0x20", holder);
    // 20-byte serial numbers that a long cannot hold.
    const auto longLow = make("0x01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", holder);
    const auto longHigh = make("0x0200000000000000000000000000000000000000", holder);
    const auto other = make("0x21", "/C=KR/O=yessign/OU=personal4IB/CN=kim()0002");
    const auto otherUsage =
        makeCertificate(freshFolder("compare"), holder,
                        "-addext 'keyUsage=critical,keyEncipherment' -set_serial 0x22");
    for (const auto* der : {&old31, &new32, &longLow, &longHigh, &other, &otherUsage})
        ASSERT_FALSE(der->empty());
    auto compare = [](std::vector<unsigned char> a, std::vector<unsigned char> b) {
        return Util::compareCertificate(a.data(), static_cast<unsigned int>(a.size()), b.data(),
                                        static_cast<unsigned int>(b.size()));
    };
    EXPECT_EQ(compare(old31, new32), 1);
    EXPECT_EQ(compare(new32, old31), 2);
    EXPECT_EQ(compare(old31, old31), 2);
    EXPECT_EQ(compare(longLow, longHigh), 1);
    EXPECT_EQ(compare(longHigh, longLow), 2);
    EXPECT_EQ(compare(new32, longLow), 1);
    EXPECT_EQ(compare(old31, other), 0);
    EXPECT_EQ(compare(old31, otherUsage), 0);
    const std::vector<unsigned char> junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(compare(junk, old31), -1);
    EXPECT_EQ(compare(old31, junk), -2);

    char* first = nullptr;
    char* second = nullptr;
    unsigned int length = 0;
    ASSERT_EQ(Base64::encode(&first, &length, old31.data(), old31.size()), 0);
    ASSERT_EQ(Base64::encode(&second, &length, new32.data(), new32.size()), 0);
    EXPECT_EQ(Util::compareCertificate(first, second), 1);
    EXPECT_EQ(Util::compareCertificate("!!", second), -1);
    EXPECT_EQ(Util::compareCertificate(first, "!!"), -2);
    Base64::free(first);
    Base64::free(second);
}

TEST(UtilCertificate, CompareDateStr) {
    char a[] = "20230101000000", b[] = "20240101000000";
    char c[] = "20230601000000", d[] = "20250101000000";
    EXPECT_TRUE(Util::compareDateStr(a, b, c, d));
    EXPECT_TRUE(Util::compareDateStr(a, b, a, b));
    EXPECT_FALSE(Util::compareDateStr(c, b, a, d));
    EXPECT_FALSE(Util::compareDateStr(a, d, c, b));
    EXPECT_FALSE(Util::compareDateStr(a, b, nullptr, d));
}

// ---- Bytes ---------------------------------------------------------------------------------

TEST(UtilBytes, HexDigitsAndReversal) {
    const std::pair<char, int> digits[] = {{'0', 0},  {'9', 9},  {'A', 10}, {'F', 15},
                                           {'a', 10}, {'f', 15}, {'g', 0},  {'G', 0}};
    for (auto [c, v] : digits) EXPECT_EQ(Util::atoiData(c), v) << c;

    unsigned char data[] = {1, 2, 3, 4, 5};
    Util::reverse(data, 5);
    EXPECT_EQ(std::vector<unsigned char>(data, data + 5),
              (std::vector<unsigned char>{5, 4, 3, 2, 1}));
    unsigned char copy[5] = {};
    Util::reverseCopy(copy, data, 5);
    EXPECT_EQ(std::vector<unsigned char>(copy, copy + 5),
              (std::vector<unsigned char>{1, 2, 3, 4, 5}));
}

// ---- Policy book ---------------------------------------------------------------------------

TEST(UtilPolicyBook, HoldsTheThirtyThreePolicies) {
    Util::OIDBook& book = Util::getOIDBook();
    ASSERT_EQ(book.size(), 33u);
    int perGroup[6] = {};
    for (const auto& [oid, row] : book) ++perGroup[row.second];
    EXPECT_EQ(perGroup[1], 11);
    EXPECT_EQ(perGroup[2], 5);
    EXPECT_EQ(perGroup[3], 3);
    EXPECT_EQ(perGroup[4], 10);
    EXPECT_EQ(perGroup[5], 4);
    EXPECT_EQ(book.at(L"1.2.410.200004.5.2.1.2"), std::make_pair(std::wstring(L"개인범용"), 2));
    EXPECT_EQ(book.at(L"1.2.410.200012.11.44").first, L"신용카드용(암호용)");
    EXPECT_EQ(book.at(L"1.2.410.200005.1.1.6.2").second, 5);

    book.erase(book.begin());
    book[L"1.2.3"] = {L"x", 9};
    Util::makeMap();
    EXPECT_EQ(Util::getOIDBook().size(), 33u);
    EXPECT_EQ(Util::getOIDBook().count(L"1.2.3"), 0u);
}

// ---- Password buffers ----------------------------------------------------------------------

TEST(TokenManagerUtil, ZeroMemoryWipesEachBufferOverItsLength) {
    char first[16], second[16], third[16];
    std::memset(first, 'a', sizeof first);
    std::memset(second, 'b', sizeof second);
    std::memset(third, 'c', sizeof third);
    TokenManagerUtil::zeroMemory(first, 10, second, 16, nullptr, 16);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(first[i], 0) << i;
    for (int i = 10; i < 16; ++i) EXPECT_EQ(first[i], 'a') << i;
    for (char c : second) EXPECT_EQ(c, 0);
    TokenManagerUtil::zeroMemory(nullptr, 5, third, 0, third, -3);  // nothing to wipe
    for (char c : third) EXPECT_EQ(c, 'c');
    TokenManagerUtil::initialize();
    EXPECT_TRUE(TokenManagerUtil::initialized);
}
