#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SGBaseTable.h"
#include "SGBinary.h"
#include "SGFile.h"
#include "SGMemory.h"

namespace fs = std::filesystem;

namespace {

void** table() {
    static void* t[SG_BASE_TABLE_SLOTS];
    static const int filled = SGBaseWrapper_GetList(t);
    EXPECT_EQ(filled, 0);
    return t;
}

// Runs fn in a child process and returns its result (for limits and identities that must
// not touch the test process); -1 when the child did not report one.
int inChild(const std::function<int()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int rc = fn();
        _exit(write(fds[1], &rc, sizeof rc) == sizeof rc ? 0 : 1);
    }
    close(fds[1]);
    int rc = -1;
    if (read(fds[0], &rc, sizeof rc) != sizeof rc) rc = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return rc;
}

class SGFileTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/sgfile.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    static void put(const std::string& p, const std::string& content) {
        std::ofstream(p, std::ios::binary) << content;
    }
    static std::string get(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        return names;
    }

    std::string dir_;
};

}  // namespace

TEST_F(SGFileTest, WriteThenReadGivesTheSameBytes) {
    const std::string bytes("key\0\x01\xFF bytes", 13);
    ASSERT_EQ(SG_BASE_FN(table(), SGFile_Write)(path("a.der").c_str(), bytes.data(),
                                                static_cast<int>(bytes.size())),
              0);
    void* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SG_BASE_FN(table(), SGFile_Read)(&data, &size, path("a.der").c_str()), 0);
    EXPECT_EQ(std::string(static_cast<char*>(data), size), bytes);
    SGMemory_free(data);

    SGBinary in{}, out{};
    ASSERT_EQ(SGBinary_Set(&in, "second", 6), 0);
    ASSERT_EQ(SG_BASE_FN(table(), SGFile_WriteBinary)(path("a.der").c_str(), &in), 0);
    ASSERT_EQ(SG_BASE_FN(table(), SGFile_ReadBinary)(&out, path("a.der").c_str()), 0);
    EXPECT_EQ(SGBinary_Cmp(&in, &out), 0);
    SGBinary_Reset(&in);
    SGBinary_Reset(&out);
    EXPECT_EQ(entries(), std::vector<std::string>{"a.der"}) << "temporary file left behind";
}

TEST_F(SGFileTest, EmptyFile) {
    ASSERT_EQ(SGFile_Write(path("empty").c_str(), nullptr, 0), 0);
    EXPECT_EQ(fs::file_size(path("empty")), 0u);
    void* data = nullptr;
    uint32_t size = 7;
    ASSERT_EQ(SGFile_Read(&data, &size, path("empty").c_str()), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_NE(data, nullptr);
    SGMemory_free(data);
    SGBinary bin{};
    ASSERT_EQ(SGFile_ReadBinary(&bin, path("empty").c_str()), 0);
    EXPECT_EQ(bin.data, nullptr);
    EXPECT_EQ(bin.length, 0u);
}

TEST_F(SGFileTest, ReadFailures) {
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        int rc;
    } cases[] = {
        {path("missing"), 4002},
        {path("folder"), 4002},
        {path("fifo"), 4002},  // refused, not waited on
        {path("missing/x"), 4002},
    };
    for (const auto& c : cases) {
        void* data = reinterpret_cast<void*>(0x1);
        uint32_t size = 99;
        EXPECT_EQ(SGFile_Read(&data, &size, c.path.c_str()), c.rc) << c.path;
        EXPECT_EQ(data, reinterpret_cast<void*>(0x1)) << c.path;
        EXPECT_EQ(size, 99u) << c.path;
    }
}

// A file whose contents end before its reported size (a sysfs attribute reports a whole
// page) is an error, not a buffer with uninitialised bytes.
TEST_F(SGFileTest, ShortReadIsAnError) {
    const char* attribute = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st {};
    if (stat(attribute, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<size_t>(st.st_size) <= get(attribute).size())
        GTEST_SKIP() << "no file here that reads shorter than its size";
    void* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(SGFile_Read(&data, &size, attribute), 4002);
    EXPECT_EQ(data, nullptr);
}

TEST_F(SGFileTest, WriteFailures) {
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    struct Case {
        std::string path;
        int rc;
    } cases[] = {
        {path("missing/a.der"), 4002},
        {path("folder"), EISDIR},
        {"", 4002},
    };
    for (const auto& c : cases) EXPECT_EQ(SGFile_Write(c.path.c_str(), "x", 1), c.rc) << c.path;
    EXPECT_EQ(SGFile_Write(path("b").c_str(), "x", -1), EINVAL);
    EXPECT_EQ(SGFile_Write(path("b").c_str(), nullptr, 3), EINVAL);
    EXPECT_EQ(entries(), std::vector<std::string>{"folder"});
}

TEST_F(SGFileTest, WriteToAFullDeviceIsAnError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(SGFile_Write("/dev/full", "0123456789", 10), ENOSPC);
    SGBinary bin{};
    ASSERT_EQ(SGBinary_Set(&bin, "abc", 3), 0);
    EXPECT_EQ(SGFile_WriteBinary("/dev/full", &bin), ENOSPC);
    SGBinary_Reset(&bin);
}

TEST_F(SGFileTest, DeniedFolderGives4003) {
    ASSERT_EQ(mkdir(path("locked").c_str(), 0555), 0);
    const std::string target = path("locked/a.key");
    // Root passes every permission check: run as nobody in a child.
    const int rc = inChild([&] {
        if (geteuid() == 0 &&
            (chmod(dir_.c_str(), 0755) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 200;
        return SGFile_Write(target.c_str(), "x", 1);
    });
    EXPECT_EQ(rc, 4003);
    EXPECT_FALSE(fs::exists(target));
}

// A write that cannot complete leaves the old file as it was, and no temporary file.
TEST_F(SGFileTest, FailedReplaceKeepsTheOldFile) {
    const std::string key = path("signPri.key");
    put(key, "the old key");
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    const std::string bigger(4096, 'N');
    const int rc = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};  // the file system is "full" after 100 bytes
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 200;
        return SGFile_Write(key.c_str(), bigger.data(), static_cast<int>(bigger.size()));
    });
    EXPECT_EQ(rc, EFBIG);
    EXPECT_EQ(get(key), "the old key");
    EXPECT_EQ(entries(), std::vector<std::string>{"signPri.key"});
}

TEST_F(SGFileTest, ReplaceKeepsPermissionsAndLinks) {
    const std::string key = path("kmPri.key");
    put(key, "old");
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    ASSERT_EQ(SGFile_Write(key.c_str(), "new contents", 12), 0);
    EXPECT_EQ(get(key), "new contents");
    EXPECT_EQ(fs::status(key).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A symbolic link stays a link; the file it names is replaced.
    fs::create_symlink(key, path("link"));
    ASSERT_EQ(SGFile_Write(path("link").c_str(), "via link", 8), 0);
    EXPECT_TRUE(fs::is_symlink(path("link")));
    EXPECT_EQ(get(key), "via link");
    EXPECT_EQ(entries().size(), 2u);
}

TEST_F(SGFileTest, CompareCases) {
    put(path("a"), "0123456789abcdef");
    put(path("same"), "0123456789abcdef");
    put(path("last"), "0123456789abcdeF");
    put(path("first"), "X123456789abcdef");
    put(path("short"), "0123456789abcde");
    put(path("e1"), "");
    put(path("e2"), "");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    struct Case {
        const char* one;
        const char* two;
        uint32_t chunk;
        int rc;
    } cases[] = {
        {"a", "same", 0, 0},    {"a", "same", 1, 0},         {"a", "same", 5, 0},
        {"a", "a", 0, 0},       {"e1", "e2", 0, 0},          {"a", "last", 0, -1},
        {"a", "last", 3, -1},   {"a", "last", 16, -1},       {"a", "first", 7, -1},
        {"a", "short", 0, -1},  {"a", "missing", 0, -1},     {"missing", "a", 0, -1},
        {"a", "folder", 0, -1}, {"folder", "folder", 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            SG_BASE_FN(table(), SGFile_Compare)(path(c.one).c_str(), path(c.two).c_str(), c.chunk),
            c.rc)
            << c.one << " " << c.two << " chunk " << c.chunk;
}
