#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SGBaseTable.h"
#include "SGOS.h"
#include "SGOSInternal.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A private folder below the temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "sgos.XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets the process umask for one scope.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
    ~ScopedUmask() { umask(old_); }

  private:
    mode_t old_;
};

// Runs the time tests in a known zone and restores the caller's.
class ScopedTZ {
  public:
    explicit ScopedTZ(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTZ() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool had_;
    std::string old_;
};

mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

std::string readAll(int fd) {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

void writeFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
    std::fclose(f);
}

// ---- Documented number tables, written from the platform's names -------------------------------

struct Mapping {
    int library;
    int platform;
};

const Mapping kOpenFlags[] = {
    {0x1, O_CREAT},     {0x2, O_EXCL},  {0x4, O_NOCTTY}, {0x8, O_TRUNC},     {0x10, O_APPEND},
    {0x20, O_NONBLOCK}, {0x40, O_SYNC}, {0x400, O_RDWR}, {0x2000, O_WRONLY},
};

const Mapping kPermissions[] = {
    {0x1, 0700},  {0x2, 0400},  {0x4, 0200},   {0x8, 0100},   {0x10, 0070},  {0x20, 0040},
    {0x40, 0020}, {0x80, 0010}, {0x100, 0007}, {0x200, 0004}, {0x400, 0002}, {0x800, 0001},
};

// Numbers 1 to 38; 0 where the number has no signal here (SIGEMT 30 and SIGINFO 35 included).
const Mapping kSignals[] = {
    {1, SIGHUP},    {2, SIGINT},     {3, SIGQUIT},  {4, SIGILL},   {5, SIGABRT},  {6, SIGFPE},
    {7, SIGKILL},   {8, SIGSEGV},    {9, SIGPIPE},  {10, SIGALRM}, {11, SIGTERM}, {12, SIGUSR1},
    {13, SIGUSR2},  {14, SIGCHLD},   {15, SIGCONT}, {16, SIGSTOP}, {17, SIGTSTP}, {18, SIGTTIN},
    {19, SIGTTOU},  {20, SIGBUS},    {21, 0},       {22, SIGPROF}, {23, SIGSYS},  {24, SIGTRAP},
    {25, SIGURG},   {26, SIGVTALRM}, {27, SIGXCPU}, {28, SIGXFSZ}, {29, SIGIOT},  {30, 0},
    {31, 0},        {32, SIGIO},     {33, 0},       {34, 0},       {35, 0},       {36, 0},
    {37, SIGWINCH}, {38, 0},
};

const Mapping kDlopenModes[] = {
    {0x1, RTLD_LAZY}, {0x2, RTLD_NOW}, {0x4, RTLD_GLOBAL}, {0x8, RTLD_LOCAL}};

// Checks a bit mapping both ways: every single library bit gives its documented value (unlisted
// bits give `none`), and every documented non-zero value comes from exactly its documented bits.
template <typename Fn, size_t N>
void checkBitMapping(const Mapping (&table)[N], Fn map, int none, const char* what) {
    std::map<int, std::set<int>> reached, documented;
    for (int i = 0; i < 32; ++i) {
        const int bit = static_cast<int>(1u << i);
        const int got = static_cast<int>(map(bit));
        int want = none;
        for (const auto& m : table)
            if (m.library == bit) want = m.platform;
        EXPECT_EQ(got, want) << what << " bit 0x" << std::hex << bit;
        reached[got].insert(bit);
    }
    for (const auto& m : table) documented[m.platform].insert(m.library);
    for (const auto& [value, bits] : documented) {
        if (value == none) continue;
        EXPECT_EQ(reached[value], bits) << what << " value 0" << std::oct << value;
    }
}

// A child process that sleeps until a signal ends it, in a process group of its own.
pid_t spawnSleeper() {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    char arg0[] = "sleep";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "sleep", nullptr, &attr, argv, environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    return pid;
}

bool stillRunning(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

int reapSignal(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

volatile sig_atomic_t gCaught = 0;
void onSignal(int sig) {
    gCaught = sig;
}
void otherHandler(int) {}

}  // namespace

// ---- Open flags and permissions
// ------------------------------------------------------------------

TEST(SGOSMapping, OpenFlagsBothWays) {
    checkBitMapping(kOpenFlags, sgos::openFlags, O_RDONLY, "open");
    int all = 0, want = 0;
    for (const auto& m : kOpenFlags)
        if (m.library != 0x2000) all |= m.library, want |= m.platform;
    EXPECT_EQ(sgos::openFlags(all), want);
    EXPECT_EQ(sgos::openFlags(0), O_RDONLY);
    // Both access bits ask for reading and writing.
    EXPECT_EQ(sgos::openFlags(0x400 | 0x2000), O_RDWR);
}

TEST(SGOSMapping, PermissionBitsBothWays) {
    checkBitMapping(kPermissions, sgos::permissions, 0, "permission");
    EXPECT_EQ(sgos::permissions(0xA11), 0775u);  // the log folders
    EXPECT_EQ(sgos::permissions(1), 0700u);      // the daemon folders
    EXPECT_EQ(sgos::permissions(0xFFF), 0777u);
}

TEST(SGOSMapping, SignalNumbersBothWays) {
    std::map<int, std::set<int>> reached, documented;
    for (int n = -3; n <= 80; ++n) {
        int want = 0;
        for (const auto& m : kSignals)
            if (m.library == n) want = m.platform;
        EXPECT_EQ(sgos::signalNumber(n), want) << "library signal " << n;
        if (sgos::signalNumber(n)) reached[sgos::signalNumber(n)].insert(n);
    }
    for (const auto& m : kSignals)
        if (m.platform) documented[m.platform].insert(m.library);
    EXPECT_EQ(reached, documented);
    // The platform's abort signal is reached from both SIGABRT and SIGIOT.
    EXPECT_EQ(reached[SIGABRT], (std::set<int>{5, 29}));
}

TEST(SGOSMapping, DlopenModesAndSeekOrigins) {
    for (const auto& m : kDlopenModes) EXPECT_EQ(sgos::dlopenMode(m.library), m.platform);
    EXPECT_EQ(sgos::dlopenMode(0x2 | 0x4), RTLD_NOW | RTLD_GLOBAL);
    EXPECT_EQ(sgos::dlopenMode(0x10 | 0x100), 0);
    EXPECT_EQ(sgos::seekOrigin(0), SEEK_SET);
    EXPECT_EQ(sgos::seekOrigin(1), SEEK_CUR);
    for (int other : {2, 3, -1, 100}) EXPECT_EQ(sgos::seekOrigin(other), SEEK_END);
}

TEST(SGOSFiles, OpenCreatesReadWriteFileWithMappedMode) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        ScopedUmask scoped(mask);
        const std::string path = dir / ("rw" + std::to_string(mask));
        const int fd = SGOS_open(path.c_str(), 0x1 | 0x400, 0x2 | 0x4);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDWR);
        ASSERT_EQ(SGOS_write(fd, "hello", 5), 5);
        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
        char buf[8] = {};
        EXPECT_EQ(SGOS_read(fd, buf, sizeof buf), 5);
        EXPECT_STREQ(buf, "hello");
        EXPECT_EQ(SGOS_close(fd), 0);
        EXPECT_EQ(modeOf(path), 0600u) << "umask 0" << std::oct << mask;
    }
}

TEST(SGOSFiles, OpenFlagsReachTheDescriptor) {
    TempDir dir;
    const std::string path = dir / "f";
    writeFile(path, "0123456789");

    int fd = SGOS_open(path.c_str(), 0x2000 | 0x10 | 0x20 | 0x40, 0);
    ASSERT_GE(fd, 0);
    const int fl = fcntl(fd, F_GETFL);
    EXPECT_EQ(fl & O_ACCMODE, O_WRONLY);
    EXPECT_TRUE(fl & O_APPEND);
    EXPECT_TRUE(fl & O_NONBLOCK);
    EXPECT_EQ(fl & O_SYNC, O_SYNC);
    SGOS_close(fd);

    fd = SGOS_open(path.c_str(), 0, 0);  // no access bit: read-only
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(SGOS_write(fd, "x", 1), -1);
    EXPECT_EQ(readAll(fd), "0123456789");
    SGOS_close(fd);

    fd = SGOS_open(path.c_str(), 0x400 | 0x2000, 0);  // both access bits: read and write
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readAll(fd), "0123456789");
    EXPECT_EQ(SGOS_write(fd, "!", 1), 1);
    SGOS_close(fd);

    errno = 0;
    EXPECT_EQ(SGOS_open(path.c_str(), 0x1 | 0x2 | 0x400, 0x6), -1);
    EXPECT_EQ(errno, EEXIST);
    fd = SGOS_open(path.c_str(), 0x400 | 0x8, 0);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(SGOS_fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(SGOS_fcntl(fd, F_SETFL, O_NONBLOCK), 0);  // does nothing
    EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    SGOS_close(fd);
    errno = 0;
    EXPECT_EQ(SGOS_open((dir / "missing").c_str(), 0x400, 0x6), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(SGOSFiles, CreateMkdirMkfifoMapPermissions) {
    TempDir dir;
    ScopedUmask scoped(0);
    struct Case {
        const char* name;
        int kind;  // 0 create, 1 mkdir, 2 mkfifo
        int bits;
        mode_t mode;
    } cases[] = {
        {"c640", 0, 0x2 | 0x4 | 0x20, 0640},
        {"c000", 0, 0, 0},
        {"d775", 1, 0xA11, 0775},
        {"d700", 1, 1, 0700},
        {"d751", 1, 0x1 | 0x20 | 0x80 | 0x800, 0751},
        {"p600", 2, 0x2 | 0x4, 0600},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        int r = -1;
        if (c.kind == 0) {
            r = SGOS_create(path.c_str(), c.bits);
            if (r >= 0) {
                EXPECT_EQ(fcntl(r, F_GETFL) & O_ACCMODE, O_WRONLY);
                close(r);
                r = 0;
            }
        } else if (c.kind == 1) {
            r = SGOS_mkdir(path.c_str(), c.bits);
        } else {
            r = SGOS_mkfifo(path.c_str(), c.bits);
        }
        ASSERT_EQ(r, 0) << c.name << ": " << std::strerror(errno);
        EXPECT_EQ(modeOf(path), c.mode) << c.name;
    }
    struct stat st;
    ASSERT_EQ(SGOS_stat((dir / "p600").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(SGOS_access((dir / "d700").c_str(), R_OK | W_OK | X_OK), 0);
    EXPECT_EQ(SGOS_mkdir((dir / "d700").c_str(), 1), -1);
    EXPECT_EQ(SGOS_unlink((dir / "c640").c_str()), 0);
    EXPECT_EQ(SGOS_access((dir / "c640").c_str(), F_OK), -1);
    EXPECT_EQ(SGOS_remove((dir / "d775").c_str()), 0);
}

TEST(SGOSFiles, StreamSeekOrigins) {
    TempDir dir;
    const std::string path = dir / "s";
    writeFile(path, "0123456789");
    FILE* f = SGOS_fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    struct Step {
        long offset;
        int origin;
        long pos;
    } steps[] = {{2, 0, 2}, {3, 1, 5}, {-1, 2, 9}, {-4, 7, 6}, {0, -1, 10}, {0, 0, 0}};
    for (const auto& s : steps) {
        ASSERT_EQ(SGOS_fseek(f, s.offset, s.origin), 0);
        EXPECT_EQ(SGOS_ftell(f), s.pos) << "origin " << s.origin;
    }
    char buf[4] = {};
    EXPECT_EQ(SGOS_fread(buf, 1, 3, f), 3u);
    EXPECT_STREQ(buf, "012");
    SGOS_rewind(f);
    EXPECT_EQ(SGOS_ftell(f), 0);
    int a = 0;
    EXPECT_EQ(SGOS_fscanf(f, "%3d", &a), 1);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(SGOS_fileno(f), fileno(f));
    EXPECT_EQ(SGOS_fclose(f), 0);
    // A missing stream fails instead of crashing.
    EXPECT_EQ(SGOS_fclose(nullptr), EOF);
    EXPECT_EQ(SGOS_ftell(nullptr), -1);
    EXPECT_EQ(SGOS_fread(buf, 1, 1, nullptr), 0u);
    EXPECT_EQ(SGOS_fileno(nullptr), -1);
}

// ---- Signals and processes
// -----------------------------------------------------------------------

TEST(SGOSSignals, SignalInstallsOnlyMappedHandlers) {
    struct sigaction saved;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &saved), 0);

    ASSERT_NE(SGOS_signal(11, otherHandler), SIG_ERR);
    EXPECT_EQ(SGOS_signal(11, onSignal), otherHandler);  // the previous handler comes back
    gCaught = 0;
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(gCaught, SIGTERM);

    // No signal for these numbers, and none installed for a missing handler.
    for (int n : {0, 21, 30, 35, 38, 39, -1, 1000}) {
        errno = 0;
        EXPECT_EQ(SGOS_signal(n, otherHandler), SIG_ERR) << n;
    }
    EXPECT_EQ(SGOS_signal(11, nullptr), SIG_ERR);
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, onSignal);

    ASSERT_EQ(sigaction(SIGTERM, &saved, nullptr), 0);
}

TEST(SGOSSignals, KillSendsMappedSignalOrExistenceCheck) {
    const pid_t child = spawnSleeper();
    ASSERT_GT(child, 0);
    // Numbers without a signal only ask whether the process exists.
    for (int n : {40, 0, 21, 30, 35, 38, -5}) {
        EXPECT_EQ(SGOS_kill(child, n), 0) << n;
        EXPECT_EQ(SGOS_killpg(child, n), 0) << n;
    }
    EXPECT_TRUE(stillRunning(child));
    EXPECT_EQ(SGOS_kill(child, 12), 0);  // SIGUSR1 ends sleep
    EXPECT_EQ(reapSignal(child), SIGUSR1);
    errno = 0;
    EXPECT_EQ(SGOS_kill(child, 40), -1);  // the existence check fails once it is gone
    EXPECT_EQ(errno, ESRCH);

    const pid_t group = spawnSleeper();
    ASSERT_GT(group, 0);
    EXPECT_EQ(SGOS_killpg(group, 7), 0);  // SIGKILL to its process group
    EXPECT_EQ(reapSignal(group), SIGKILL);
}

// ---- Dynamic loading
// -----------------------------------------------------------------------------

TEST(SGOSDl, LoadsModuleWithMappedMode) {
    void* h = SGOS_dlopen(BASE_PROBE_MODULE, SGOS_RTLD_NOW | SGOS_RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << SGOS_dlerror();
    EXPECT_NE(SGOS_dlsym(h, "probe_BindBase"), nullptr);
    EXPECT_EQ(SGOS_dlsym(h, "no_such_symbol"), nullptr);
    EXPECT_NE(SGOS_dlerror(), nullptr);
    EXPECT_EQ(SGOS_dlclose(h), 0);
    EXPECT_EQ(SGOS_dlopen("/nonexistent/module.so", SGOS_RTLD_LAZY), nullptr);
    EXPECT_NE(SGOS_dlerror(), nullptr);
}

// ---- Text helpers
// --------------------------------------------------------------------------------

TEST(SGOSText, CaseConversionKeepsFirst4096Characters) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>(i % 2 ? 'A' + i % 26 : 'a' + i % 26);
    std::string lower = text.substr(0, 4096), upper = lower;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    EXPECT_EQ(std::string(SGOS_strlwc(text.c_str())), lower);
    EXPECT_EQ(std::string(SGOS_strupc(text.c_str())), upper);
    // A shorter text after a long one leaves nothing of the earlier result behind.
    EXPECT_STREQ(SGOS_strlwc("AbC"), "abc");
    EXPECT_STREQ(SGOS_strupc("x-1y"), "X-1Y");
    EXPECT_STREQ(SGOS_strlwc(""), "");
    EXPECT_EQ(SGOS_strlwc(nullptr), nullptr);
    EXPECT_EQ(SGOS_strupc(nullptr), nullptr);
}

TEST(SGOSText, CropStripAndSkip) {
    const std::string max(4096, 'x'), over(4097, 'x');
    const std::string maxWithSpace = std::string(4095, 'y') + " ";
    struct Case {
        const char* in;
        const char* crop;  // null: no result
        const char* strip;
    } cases[] = {
        {"ab  ", "ab", "ab"}, {"  ab \t\r\n", "  ab", "ab"}, {" a b ", " a b", "a b"}, {"", "", ""},
        {" \t\n ", "", ""},   {"plain", "plain", "plain"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(SGOS_strcrop(c.in), c.crop) << '"' << c.in << '"';
        EXPECT_STREQ(SGOS_strstrip(c.in), c.strip) << '"' << c.in << '"';
    }
    EXPECT_EQ(std::string(SGOS_strcrop(max.c_str())), max);
    EXPECT_EQ(std::string(SGOS_strcrop(maxWithSpace.c_str())), std::string(4095, 'y'));
    EXPECT_EQ(SGOS_strcrop(over.c_str()), nullptr);
    EXPECT_EQ(SGOS_strstrip(over.c_str()), nullptr);
    EXPECT_EQ(SGOS_strcrop(nullptr), nullptr);
    EXPECT_EQ(SGOS_strstrip(nullptr), nullptr);

    const char* text = " \t ab ";
    EXPECT_EQ(SGOS_strskp(text), text + 3);
    EXPECT_EQ(SGOS_strskp(nullptr), nullptr);
}

TEST(SGOSText, BuffersArePerThread) {
    struct Result {
        char* lower;
        char* upper;
        char* crop;
        char* strip;
        char* date;
        SGOSTm* tm;
    };
    std::barrier sync(2);
    Result results[2] = {};
    bool ok[2] = {false, false};
    auto worker = [&](int id) {
        const std::string lowerIn = id ? "WORKER-ONE" : "THREAD-ZERO";
        const std::string upperIn = id ? "upper one" : "upper zero";
        const std::string cropIn = id ? "crop one   " : "crop zero\t";
        const std::string stripIn = id ? "  strip one  " : "\tstrip zero\n";
        const time_t t = id ? 86400 * 365 : 0;
        Result& r = results[id];
        r.lower = SGOS_strlwc(lowerIn.c_str());
        r.upper = SGOS_strupc(upperIn.c_str());
        r.crop = SGOS_strcrop(cropIn.c_str());
        r.strip = SGOS_strstrip(stripIn.c_str());
        r.date = SGOS_GetDateStr(id ? '/' : '-', nullptr, 0);
        r.tm = SGOS_gmtime(&t, nullptr);
        sync.arrive_and_wait();  // both threads hold their results now
        ok[id] = r.lower && r.upper && r.crop && r.strip && r.date && r.tm &&
                 std::string(r.lower) == (id ? "worker-one" : "thread-zero") &&
                 std::string(r.upper) == (id ? "UPPER ONE" : "UPPER ZERO") &&
                 std::string(r.crop) == (id ? "crop one" : "crop zero") &&
                 std::string(r.strip) == (id ? "strip one" : "strip zero") &&
                 r.date[4] == (id ? '/' : '-') && r.tm->tm_year == (id ? 71 : 70);
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_TRUE(ok[0]);
    EXPECT_TRUE(ok[1]);
    EXPECT_NE(results[0].lower, results[1].lower);
    EXPECT_NE(results[0].crop, results[1].crop);
    EXPECT_NE(results[0].tm, results[1].tm);
}

TEST(SGOSText, CharacterClasses) {
    struct Case {
        int (*fn)(int);
        int c;
        int want;
    } cases[] = {
        {SGOS_isalnum, 'a', 1},
        {SGOS_isalnum, '_', 0},
        {SGOS_isalpha, 'Z', 1},
        {SGOS_isalpha, '1', 0},
        {SGOS_isascii, 127, 1},
        {SGOS_isascii, 128, 0},
        {SGOS_isascii, -1, 0},
        {SGOS_isblank, '\t', 1},
        {SGOS_isblank, '\n', 0},
        {SGOS_iscntrl, 0x7F, 1},
        {SGOS_isdigit, '9', 1},
        {SGOS_isdigit, 'a', 0},
        {SGOS_isdigit, 0x660, 0},
        {SGOS_isgraph, ' ', 0},
        {SGOS_isgraph, '~', 1},
        {SGOS_islower, 'q', 1},
        {SGOS_islower, 'Q', 0},
        {SGOS_isprint, ' ', 1},
        {SGOS_ispunct, '!', 1},
        {SGOS_ispunct, 'a', 0},
        {SGOS_isspace, '\v', 1},
        {SGOS_isupper, 'Q', 1},
        {SGOS_isxdigit, 'f', 1},
        {SGOS_isxdigit, 'g', 0},
        {SGOS_isxdigit, 256 + 'a', 0},
        // Outside 0 to 255 nothing is in a class (the platform's tables end there).
        {SGOS_isalpha, 1000, 0},
        {SGOS_isspace, -200, 0},
        {SGOS_isprint, 0x10000, 0},
        {SGOS_isalnum, EOF, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.fn(c.c), c.want) << "char " << c.c;
    EXPECT_EQ(SGOS_tolower('A'), 'a');
    EXPECT_EQ(SGOS_toupper('b'), 'B');
    EXPECT_EQ(SGOS_toupper(1000), 1000);
    EXPECT_EQ(SGOS_tolower(EOF), EOF);
}

TEST(SGOSText, StringWrappersWithOwnBehaviour) {
    EXPECT_EQ(SGOS_strdup(nullptr), nullptr);
    char* dup = SGOS_strdup("abc");
    ASSERT_NE(dup, nullptr);
    EXPECT_STREQ(dup, "abc");
    SGOS_free(dup);

    char text[] = "a,b";
    char* p = text;
    EXPECT_EQ(SGOS_strsep(&p, ","), nullptr);  // does nothing
    EXPECT_EQ(p, text);
    EXPECT_STREQ(text, "a,b");

    // The re-entrant form with a state, the plain form without.
    char one[] = "x,y,z";
    char two[] = "1 2";
    char* state = nullptr;
    EXPECT_STREQ(SGOS_strtok(one, ",", &state), "x");
    EXPECT_STREQ(SGOS_strtok(two, " ", nullptr), "1");
    EXPECT_STREQ(SGOS_strtok(nullptr, ",", &state), "y");
    EXPECT_STREQ(SGOS_strtok(nullptr, " ", nullptr), "2");
    EXPECT_STREQ(SGOS_strtok(nullptr, ",", &state), "z");
    EXPECT_EQ(SGOS_strtok(nullptr, ",", &state), nullptr);

    char dst[8] = {};
    EXPECT_EQ(SGOS_memccpy(dst, "ab:cd", ':', 5), dst);  // copies return the destination
    EXPECT_STREQ(dst, "ab:");
    EXPECT_EQ(SGOS_memcpy(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(SGOS_memcmp(nullptr, nullptr, 0), 0);
    EXPECT_EQ(SGOS_strncasecmp("HeLLo", "hello!", 5), 0);
    EXPECT_EQ(SGOS_strlen("four"), 4u);
    EXPECT_EQ(SGOS_atoq("9000000000"), 9000000000LL);
    EXPECT_EQ(SGOS_strtoull("ffffffffffffffff", nullptr, 16), ~0ULL);
}

TEST(SGOSText, SnprintfReportsNeededLengthOrSizePlusOne) {
    struct Case {
        uint32_t size;
        const char* text;
        int want;
        const char* written;
    } cases[] = {
        {4, "abcdef", 6, "abc"}, {7, "abcdef", 6, "abcdef"}, {1, "abc", 3, ""}, {5, "", 0, ""}};
    for (const auto& c : cases) {
        char buf[16];
        std::memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(SGOS_snprintf(buf, c.size, "%s", c.text), c.want);
        EXPECT_STREQ(buf, c.written);
        EXPECT_EQ(buf[c.size], 'Z') << "wrote past the size";
    }
    // A wide character that the C locale cannot convert makes the platform fail: size + 1.
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(SGOS_snprintf(buf, sizeof buf, "ab%ls", L"\u00e9"), 9);
    EXPECT_NE(std::memchr(buf, '\0', sizeof buf), nullptr);

    char out[32];
    EXPECT_EQ(SGOS_sprintf(out, "%s(%d)", "err", 7), 6);
    EXPECT_STREQ(out, "err(7)");
    int x = 0;
    char word[8] = {};
    EXPECT_EQ(SGOS_sscanf("42 abc", "%d %7s", &x, word), 2);
    EXPECT_EQ(x, 42);
    EXPECT_STREQ(word, "abc");
}

// ---- Lines
// ---------------------------------------------------------------------------------------

TEST(SGOSFiles, ReadlineCases) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        int size;
        std::vector<std::pair<int, std::string>> lines;  // successive calls
    } cases[] = {
        {"crlf", "abc\r\ndef", 64, {{3, "abc"}, {3, "def"}, {0, ""}}},
        {"one", "a", 64, {{1, "a"}, {0, ""}}},
        {"empty", "", 64, {{0, ""}}},
        {"newline", "\n\nx\n", 64, {{0, ""}, {0, ""}, {1, "x"}, {0, ""}}},
        {"cut", "abcdef\n", 4, {{3, "abc"}, {3, "def"}, {0, ""}}},
        {"one cr only", "ab\r\r\n", 64, {{3, "ab\r"}}},
        {"bare cr", "ab\r", 64, {{2, "ab"}}},
        {"size one", "abc", 1, {{0, ""}, {0, ""}}},
        {"exact", "abc\n", 4, {{3, "abc"}, {0, ""}}},
    };
    for (const auto& c : cases) {
        const std::string path = dir / "line";
        writeFile(path, c.content);
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        for (const auto& [want, text] : c.lines) {
            // A heap buffer of exactly the size, so a write past it is caught.
            std::unique_ptr<char[]> buf(new char[c.size]);
            std::memset(buf.get(), 'Z', static_cast<size_t>(c.size));
            EXPECT_EQ(SGOS_readline(fd, buf.get(), c.size), want) << c.name;
            EXPECT_EQ(std::string(buf.get()), text) << c.name;
        }
        close(fd);
    }

    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(SGOS_readline(-1, buf, sizeof buf), -1);
    EXPECT_EQ(buf[0], '\0');
    const int dfd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(SGOS_readline(dfd, buf, sizeof buf), -1);  // EISDIR
    close(dfd);
    EXPECT_EQ(SGOS_readline(0, nullptr, 8), -1);
    EXPECT_EQ(SGOS_readline(0, buf, 0), -1);
}

// ---- Directories
// ---------------------------------------------------------------------------------

TEST(SGOSDirectory, ReaddirFlagsEveryKindOfEntry) {
    TempDir dir;
    writeFile(dir / "file", "x");
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0700), 0);
    ASSERT_EQ(symlink("folder", (dir / "link").c_str()), 0);
    const std::string longName(255, 'n');
    writeFile(dir / longName, "");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir / "sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    // A directory, a file, a link (counted as a file) and a socket (both flags).
    const std::map<std::string, int> want = {
        {".", 0x04},    {"..", 0x04},   {"file", 0x20},   {"folder", 0x04},
        {"link", 0x20}, {"sock", 0x24}, {longName, 0x20},
    };

    SGOSDir* d = SGOS_opendir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    std::map<std::string, int> seen;
    for (;;) {
        SGOSDirEntry entry;
        std::memset(&entry, 0, sizeof entry);
        std::memset(entry.reserved, 0xA5, sizeof entry.reserved);
        entry.pad = 0x5A;
        SGOSDirEntry* result = reinterpret_cast<SGOSDirEntry*>(&seen);
        ASSERT_EQ(SGOS_readdir_r(d, &entry, &result), 0);
        if (!result) break;
        EXPECT_EQ(result, &entry);
        for (unsigned char b : entry.reserved) EXPECT_EQ(b, 0xA5);  // bytes 0-9 untouched
        EXPECT_EQ(entry.pad, 0x5A);
        const std::string name(entry.name, strnlen(entry.name, sizeof entry.name));
        EXPECT_TRUE(seen.emplace(name, entry.type).second) << name;
    }
    EXPECT_EQ(seen, want);
    EXPECT_EQ(SGOS_closedir(d), 0);

    // The flags are OR-ed into what the caller left in the record.
    d = SGOS_opendir((dir / "folder").c_str());
    ASSERT_NE(d, nullptr);
    SGOSDirEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.type = 0x80;
    SGOSDirEntry* result = nullptr;
    ASSERT_EQ(SGOS_readdir_r(d, &entry, &result), 0);
    ASSERT_EQ(result, &entry);
    EXPECT_EQ(entry.type, 0x80 | 0x04);  // "." or ".."
    EXPECT_EQ(SGOS_readdir_r(d, nullptr, &result), 1001);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(SGOS_readdir_r(nullptr, &entry, &result), 1001);
    EXPECT_EQ(SGOS_readdir_r(d, &entry, nullptr), 1001);
    EXPECT_EQ(SGOS_closedir(d), 0);
    close(sock);
}

TEST(SGOSDirectory, UnknownEntryTypeIsResolvedFromTheInode) {
    TempDir dir;
    writeFile(dir / "file", "x");
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0700), 0);
    ASSERT_EQ(symlink("folder", (dir / "link").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    struct Case {
        const char* name;
        unsigned char flags;
    } cases[] = {{"file", 0x20}, {"folder", 0x04}, {"link", 0x20}, {"fifo", 0}, {"gone", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(sgos::entryTypeFlags(DT_UNKNOWN, fd, c.name), c.flags) << c.name;
    }
    EXPECT_EQ(sgos::entryTypeFlags(DT_UNKNOWN, -1, "file"), 0);
    // Known types are mapped bit by bit without asking the inode.
    EXPECT_EQ(sgos::entryTypeFlags(DT_BLK, -1, "x"), 0x04);
    EXPECT_EQ(sgos::entryTypeFlags(DT_CHR, -1, "x"), 0);
    close(fd);
}

TEST(SGOSDirectory, OpenAndCloseFailures) {
    errno = 0;
    EXPECT_EQ(SGOS_opendir("/nonexistent/folder"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(SGOS_opendir(nullptr), nullptr);
    EXPECT_EQ(SGOS_closedir(nullptr), -1);
}

// ---- Time
// ----------------------------------------------------------------------------------------

TEST(SGOSTime, BrokenDownTimeAndTexts) {
    ScopedTZ tz("UTC0");
    const time_t t = 1576195200;  // 2019-12-13 00:00:00 UTC, a Friday
    SGOSTm out;
    std::memset(&out, 0xFF, sizeof out);
    SGOSTm* own = SGOS_gmtime(&t, &out);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, &out);
    const int32_t want[9] = {0, 0, 0, 13, 11, 119, 5, 346, 0};
    EXPECT_EQ(std::memcmp(&out, want, sizeof want), 0);
    EXPECT_EQ(std::memcmp(own, want, sizeof want), 0);
    SGOSTm local;
    ASSERT_NE(SGOS_localtime(&t, &local), nullptr);
    EXPECT_EQ(std::memcmp(&local, want, sizeof want), 0);
    EXPECT_EQ(SGOS_gmtime(nullptr, &out), nullptr);

    char small[4];
    char* text = SGOS_asctime(&out, small, sizeof small);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Fri Dec 13 00:00:00 2019\n");
    EXPECT_STREQ(small, "Fri");
    char big[32];
    EXPECT_STREQ(SGOS_ctime(&t, big), "Fri Dec 13 00:00:00 2019\n");

    SGOSTm next = out;
    next.tm_mday = 32;  // normalised into the next year
    EXPECT_EQ(SGOS_mktime(&next), t + 19 * 86400);
    EXPECT_EQ(next.tm_year, 120);
    EXPECT_EQ(next.tm_mon, 0);
    EXPECT_EQ(next.tm_mday, 1);
    EXPECT_EQ(next.tm_wday, 3);
    EXPECT_GT(SGOS_time(nullptr), t);
}

TEST(SGOSTime, DateAndTimeTexts) {
    ScopedTZ tz("UTC0");
    auto expect = [](const char* format, time_t t) {
        struct tm tm;
        gmtime_r(&t, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, format, &tm);
        return std::string(buf);
    };
    // The clock may tick between the two readings: accept either second.
    auto check = [&](const char* format, auto call) {
        const time_t before = time(nullptr);
        const std::string got = call();
        const time_t after = time(nullptr);
        EXPECT_TRUE(got == expect(format, before) || got == expect(format, after))
            << got << " vs " << expect(format, before);
    };
    char buf[32];
    check("%Y-%m-%d", [&] {
        std::memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(SGOS_GetDateStr('-', buf, 11), nullptr);
        return std::string(buf);
    });
    check("%Y.%m.%d", [&] { return std::string(SGOS_GetDateStr('.', nullptr, 0)); });
    check("%H:%M:%S", [&] {
        EXPECT_EQ(SGOS_GetTimeStr(':', buf, 9), nullptr);
        return std::string(buf);
    });
    check("%H-%M-%S", [&] { return std::string(SGOS_GetTimeStr('-', nullptr, 0)); });
    check("%Y/%m/%d %H:%M:%S", [&] {
        EXPECT_EQ(SGOS_GetDateTimeStr('/', ' ', ':', buf, 20), nullptr);
        return std::string(buf);
    });
    check("%Y-%m-%dT%H.%M.%S",
          [&] { return std::string(SGOS_GetDateTimeStr('-', 'T', '.', nullptr, 0)); });
    // A short buffer is filled within its size.
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(SGOS_GetDateStr('-', buf, 5), nullptr);
    EXPECT_EQ(std::strlen(buf), 4u);
    EXPECT_EQ(buf[5], 'Z');
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(SGOS_GetDateTimeStr('-', ' ', ':', buf, 0), nullptr);
    EXPECT_EQ(buf[0], 'Z');
}

// ---- Byte order
// ----------------------------------------------------------------------------------

TEST(SGOSByteOrder, NetworkOrderIsBigEndian) {
    const uint64_t v64 = SGOS_hton64(0x0102030405060708ULL);
    const uint32_t v32 = SGOS_htonl(0x0A0B0C0DU);
    const uint16_t v16 = SGOS_htons(0x1122);
    const unsigned char want64[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const unsigned char want32[] = {0x0A, 0x0B, 0x0C, 0x0D};
    const unsigned char want16[] = {0x11, 0x22};
    EXPECT_EQ(std::memcmp(&v64, want64, 8), 0);
    EXPECT_EQ(std::memcmp(&v32, want32, 4), 0);
    EXPECT_EQ(std::memcmp(&v16, want16, 2), 0);
    EXPECT_EQ(SGOS_ntoh64(v64), 0x0102030405060708ULL);
    EXPECT_EQ(SGOS_ntohl(v32), 0x0A0B0C0DU);
    EXPECT_EQ(SGOS_ntohs(v16), 0x1122);
    EXPECT_EQ(SGOS_ntoh64(SGOS_hton64(0xFEDCBA9876543210ULL)), 0xFEDCBA9876543210ULL);
}

// ---- Table
// ---------------------------------------------------------------------------------------

TEST(SGOSTable, SlotsHoldTheOSLayer) {
    void* t[SG_BASE_TABLE_SLOTS];
    std::memset(t, 0, sizeof t);
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    EXPECT_EQ(t[102], reinterpret_cast<void*>(&SGOS_malloc));
    EXPECT_EQ(t[158], reinterpret_cast<void*>(&SGOS_sprintf));
    EXPECT_EQ(t[234], reinterpret_cast<void*>(&SGOS_readdir_r));
    char buf[16];
    EXPECT_EQ(SG_BASE_FN(t, SGOS_sprintf)(buf, "%s(%d)", "x", 3), 4);
    EXPECT_STREQ(buf, "x(3)");
}
