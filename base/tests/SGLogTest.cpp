#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "SGBaseError.h"
#include "SGBaseTable.h"
#include "SGLog.h"
#include "SGThread.h"

namespace fs = std::filesystem;

namespace {

std::atomic<int64_t> gFakeSeconds{0};
timespec fakeNow() {
    return timespec{static_cast<time_t>(gFakeSeconds.load()), 0};
}

// Seconds since 1970 of a time in the test's zone, UTC+9.
int64_t kst(int y, int mo, int d, int h, int mi, int s) {
    tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<int64_t>(timegm(&t)) - 9 * 3600;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

// The line head this process and thread write at a given second of the test's zone.
std::string head(const char* stamp, char letter) {
    return format("%s KST-9|%c|PID(%u)|TID(%u)|", stamp, letter, static_cast<unsigned>(getpid()),
                  static_cast<unsigned>(static_cast<uint32_t>(SGThread_Self())));
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each test logs into its own folder, in a fixed zone, on a clock it drives.
class SGLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        setenv("TZ", "KST-9", 1);
        tzset();
        char pattern[] = "/tmp/sglog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setTime(2031, 1, 31, 23, 59, 58);
        brindlow::platform::setClockSource(&fakeNow);
    }
    void TearDown() override {
        brindlow::platform::setClockSource(nullptr);
        if (savedTz_)
            setenv("TZ", savedTz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static void setTime(int y, int mo, int d, int h, int mi, int s) {
        gFakeSeconds = kst(y, mo, d, h, mi, s);
    }

    std::string file(const char* prefix, const char* date) const {
        return dir_ + "/" + std::string(date, 7) + "/" + prefix + "_" + date + ".log";
    }

    std::string dir_;

  private:
    std::optional<std::string> savedTz_;
};

TEST_F(SGLogTest, VersionBuildTextAndTableSlots) {
    EXPECT_STREQ(SGLog_GetVersion(), "2.0.0.0");
    EXPECT_THAT(SGLog_GetBuildInfo(),
                ::testing::MatchesRegex("Version : 2\\.0\\.0\\.0, Build Date : [A-Z][a-z][a-z] "
                                        "[ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"));
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    struct {
        int slot;
        void* fn;
    } cases[] = {
        {4, reinterpret_cast<void*>(&SGLog_GetVersion)},
        {5, reinterpret_cast<void*>(&SGLog_GetBuildInfo)},
        {6, reinterpret_cast<void*>(&SG_LOG_DEBUG_Initialize)},
        {7, reinterpret_cast<void*>(&SG_LOG_DEBUG_Get_Stream)},
        {8, reinterpret_cast<void*>(&_SGLog_Initialize)},
        {9, reinterpret_cast<void*>(&_SGLog_Write)},
        {10, reinterpret_cast<void*>(&_SGLog_WriteVaList)},
        {11, reinterpret_cast<void*>(&_SGLog_Finalize)},
        {12, reinterpret_cast<void*>(&SGLog_Initialize)},
        {13, reinterpret_cast<void*>(&SGLog_Write)},
        {14, reinterpret_cast<void*>(&SGLog_Finalize)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
}

TEST_F(SGLogTest, WritesOnlyLevelsNotAboveTheConfiguredOne) {
    struct {
        int configured;
        int level;
        char letter;  // 0: dropped
    } cases[] = {
        {4, 1, 'F'},   {4, 2, 'E'},   {4, 4, 'W'},   {4, 8, 0},    {4, 16, 0},    {4, 3, 'F'},
        {1, 1, 'F'},   {1, 2, 0},     {1, 16, 0},    {16, 8, 'I'}, {16, 16, 'D'}, {16, 32, 0},
        {32, 16, 'D'}, {32, 32, 'D'}, {32, 12, 'W'}, {32, 0, 'D'}, {32, 6, 'E'},  {0, 1, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string prefix = "lv" + std::to_string(n++);
        SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), prefix.c_str(), c.configured);
        ASSERT_NE(ctx, nullptr);
        _SGLog_Write(&ctx, c.level, "message %d at %d", c.level, c.configured);
        _SGLog_Finalize(ctx);
        auto lines = readLines(file(prefix.c_str(), "2031-01-31"));
        std::string what = format("level %d, configured %d", c.level, c.configured);
        if (!c.letter) {
            EXPECT_TRUE(lines.empty()) << what;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << what;
        EXPECT_EQ(lines[0], head("2031/01/31 23:59:58", c.letter) +
                                format("message %d at %d", c.level, c.configured))
            << what;
    }
}

TEST_F(SGLogTest, VaListWriterAndAppendingToAnExistingFile) {
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "app", 32);
    ASSERT_NE(ctx, nullptr);
    auto viaList = [](SGLogCtx** c, const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        _SGLog_WriteVaList(c, SG_LOG_LEVEL_INFO, fmt, args);
        va_end(args);
    };
    viaList(&ctx, "%s=%d", "port", 14461);
    _SGLog_Finalize(ctx);
    // A second context of the same day appends behind the first one's lines.
    ctx = _SGLog_Initialize(dir_.c_str(), "app", 32);
    ASSERT_NE(ctx, nullptr);
    _SGLog_Write(&ctx, SG_LOG_LEVEL_ERROR, "second");
    _SGLog_Finalize(ctx);
    auto lines = readLines(file("app", "2031-01-31"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], head("2031/01/31 23:59:58", 'I') + "port=14461");
    EXPECT_EQ(lines[1], head("2031/01/31 23:59:58", 'E') + "second");
}

TEST_F(SGLogTest, ZoneTextIsWhatTheFormatterPrintsWhenTZIsUnset) {
    unsetenv("TZ");
    tzset();
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "nozone", 32);
    ASSERT_NE(ctx, nullptr);
    _SGLog_Write(&ctx, 1, "x");
    _SGLog_Finalize(ctx);
    // The day depends on the machine's zone now; find the one file written.
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
        if (entry.is_regular_file()) lines = readLines(entry.path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0],
                ::testing::MatchesRegex("[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                        "\\(null\\)\\|F\\|PID\\([0-9]+\\)\\|TID\\([0-9]+\\)\\|x"));
}

TEST_F(SGLogTest, LongMessagesAreWrittenWhole) {
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "long", 32);
    ASSERT_NE(ctx, nullptr);
    // 10 kB from many string conversions, plus conversions whose output dwarfs their format.
    std::vector<std::string> parts;
    for (int i = 0; i < 100; ++i)
        parts.push_back(std::string(100, static_cast<char>('a' + i % 26)));
    std::string fmt;
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        fmt += "%s|";
        expected += parts[i] + "|";
    }
    auto P = [&](int i) { return parts[static_cast<size_t>(i)].c_str(); };
#define P10(b) \
    P(b), P(b + 1), P(b + 2), P(b + 3), P(b + 4), P(b + 5), P(b + 6), P(b + 7), P(b + 8), P(b + 9)
    // The format is built at run time on purpose: its argument count is checked by hand.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    _SGLog_Write(&ctx, 1, fmt.c_str(), P10(0), P10(10), P10(20), P10(30), P10(40), P10(50), P10(60),
                 P10(70), P10(80), P10(90));
#pragma GCC diagnostic pop
#undef P10
    const char* volatile missing = nullptr;  // a missing string argument
    _SGLog_Write(&ctx, 1, "%f|%-3000d|%.2000s|%s", 1e300, 7, std::string(5000, 'z').c_str(),
                 missing);
    std::string big(200000, 'q');
    _SGLog_Write(&ctx, 1, "%s", big.c_str());
    _SGLog_Finalize(ctx);

    auto lines = readLines(file("long", "2031-01-31"));
    ASSERT_EQ(lines.size(), 3u);
    std::string h = head("2031/01/31 23:59:58", 'F');
    EXPECT_EQ(lines[0], h + expected);
    EXPECT_EQ(lines[0].size(), h.size() + 10100);
    EXPECT_EQ(lines[1],
              h + format("%f|%-3000d|%.2000s|(null)", 1e300, 7, std::string(5000, 'z').c_str()));
    EXPECT_EQ(lines[2], h + big);
}

TEST_F(SGLogTest, FirstMessageAfterMidnightOpensTheNewDaysFileInANewMonthFolder) {
    setTime(2031, 1, 31, 23, 59, 59);
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "app", 32);
    ASSERT_NE(ctx, nullptr);
    _SGLog_Write(&ctx, 1, "before midnight");
    SGLogCtx* january = ctx;
    EXPECT_FALSE(fs::exists(dir_ + "/2031-02"));

    setTime(2031, 2, 1, 0, 0, 0);
    _SGLog_Write(&ctx, 1, "after midnight");
    EXPECT_NE(ctx, january) << "the caller's context is replaced";
    EXPECT_TRUE(fs::is_directory(dir_ + "/2031-02"));

    // A writer still holding the replaced context finishes into the old file.
    SGLogCtx* late = january;
    setTime(2031, 1, 31, 23, 59, 59);
    _SGLog_Write(&late, 1, "late writer");
    EXPECT_EQ(late, january);

    setTime(2031, 2, 1, 0, 0, 1);
    _SGLog_Write(&ctx, 1, "same day");
    setTime(2031, 2, 2, 8, 0, 0);
    _SGLog_Write(&ctx, 1, "next day");  // frees the January context
    _SGLog_Finalize(ctx);

    EXPECT_EQ(readLines(file("app", "2031-01-31")),
              (std::vector<std::string>{head("2031/01/31 23:59:59", 'F') + "before midnight",
                                        head("2031/01/31 23:59:59", 'F') + "late writer"}));
    EXPECT_EQ(readLines(file("app", "2031-02-01")),
              (std::vector<std::string>{head("2031/02/01 00:00:00", 'F') + "after midnight",
                                        head("2031/02/01 00:00:01", 'F') + "same day"}));
    EXPECT_EQ(readLines(file("app", "2031-02-02")),
              (std::vector<std::string>{head("2031/02/02 08:00:00", 'F') + "next day"}));
}

// One log's day switch must never free the context another log replaced: a writer of that
// other log may still hold it.
TEST_F(SGLogTest, EachLogKeepsItsOwnReplacedContext) {
    SGLogCtx* a = _SGLog_Initialize(dir_.c_str(), "a", 32);
    SGLogCtx* b = _SGLog_Initialize(dir_.c_str(), "b", 32);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    SGLogCtx* aHeld = a;
    SGLogCtx* bHeld = b;

    setTime(2031, 2, 1, 0, 0, 5);
    _SGLog_Write(&a, 1, "a switched");
    _SGLog_Write(&b, 1, "b switched");

    // Both old contexts are still open for their late writers.
    setTime(2031, 1, 31, 23, 59, 59);
    _SGLog_Write(&aHeld, 1, "a late");
    _SGLog_Write(&bHeld, 1, "b late");

    setTime(2031, 2, 1, 0, 0, 6);
    _SGLog_Finalize(a);
    _SGLog_Finalize(b);
    EXPECT_EQ(readLines(file("a", "2031-01-31")),
              std::vector<std::string>{head("2031/01/31 23:59:59", 'F') + "a late"});
    EXPECT_EQ(readLines(file("b", "2031-01-31")),
              std::vector<std::string>{head("2031/01/31 23:59:59", 'F') + "b late"});
    EXPECT_EQ(readLines(file("a", "2031-02-01")).size(), 1u);
    EXPECT_EQ(readLines(file("b", "2031-02-01")).size(), 1u);
}

// Callers that keep a copy of the context and store it back after each write (one copy per
// thread) must end up on one new context, not on one each.
TEST_F(SGLogTest, CopiesOfAContextFollowOneSwitch) {
    SGLogCtx* stored = _SGLog_Initialize(dir_.c_str(), "copies", 32);
    ASSERT_NE(stored, nullptr);
    SGLogCtx* first = stored;
    SGLogCtx* second = stored;
    setTime(2031, 2, 1, 0, 0, 0);
    _SGLog_Write(&first, 1, "first");
    _SGLog_Write(&second, 1, "second");
    EXPECT_NE(first, stored);
    EXPECT_EQ(second, first);
    setTime(2031, 2, 2, 0, 0, 0);
    _SGLog_Write(&second, 1, "third");
    first = second;
    _SGLog_Finalize(first);
    EXPECT_EQ(readLines(file("copies", "2031-02-01")).size(), 2u);
    EXPECT_EQ(readLines(file("copies", "2031-02-02")).size(), 1u);
}

TEST_F(SGLogTest, ConcurrentWritersLoseAndInterleaveNoLineAcrossMidnight) {
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "mt", 32);
    ASSERT_NE(ctx, nullptr);
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    auto payload = [](int t, int i) {
        return format("T%02d-L%04d-", t, i) +
               std::string(static_cast<size_t>((i * 37 + t * 11) % 6000),
                           static_cast<char>('a' + t)) +
               "-END";
    };
    // Every thread writes half its lines, waits for midnight, and then all of them meet the
    // new day at once.
    std::atomic<int> halfway{0};
    std::atomic<bool> midnight{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                if (i == kLines / 2) {
                    halfway.fetch_add(1);
                    while (!midnight.load()) std::this_thread::yield();
                }
                std::string text = payload(t, i);
                _SGLog_Write(&ctx, 8, "%s", text.c_str());
            }
        });
    }
    while (halfway.load() < kThreads) std::this_thread::yield();
    setTime(2031, 2, 1, 0, 0, 0);
    midnight = true;
    for (auto& th : threads) th.join();
    _SGLog_Finalize(ctx);

    std::map<std::pair<int, int>, int> seen;
    // The head is matched with a regex, the long body compared as text.
    auto shape = ::testing::MatchesRegex(
        "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
        "KST-9\\|I\\|PID\\([0-9]+\\)\\|TID\\([0-9]+\\)\\|");
    size_t total = 0;
    for (const char* day : {"2031-01-31", "2031-02-01"}) {
        for (const auto& line : readLines(file("mt", day))) {
            ++total;
            size_t tid = line.find("|TID(");
            size_t end = tid == std::string::npos ? tid : line.find(")|", tid);
            ASSERT_NE(end, std::string::npos) << line.substr(0, 200);
            ASSERT_THAT(line.substr(0, end + 2), shape);
            std::string body = line.substr(end + 2);
            int t = -1, i = -1;
            ASSERT_EQ(std::sscanf(body.c_str(), "T%2d-L%4d-", &t, &i), 2) << body.substr(0, 200);
            EXPECT_EQ(body, payload(t, i));
            seen[{t, i}]++;
        }
    }
    EXPECT_EQ(total, static_cast<size_t>(kThreads * kLines));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& [key, count] : seen) EXPECT_EQ(count, 1);
    EXPECT_EQ(readLines(file("mt", "2031-01-31")).size(),
              static_cast<size_t>(kThreads * kLines / 2));
    EXPECT_EQ(readLines(file("mt", "2031-02-01")).size(),
              static_cast<size_t>(kThreads * kLines / 2));
}

TEST_F(SGLogTest, InitialisationErrorsAreRecorded) {
    std::string blockedMonth = dir_ + "/blocked";
    std::string blockedFile = dir_ + "/openfail";
    std::string plainFile = dir_ + "/plain";
    fs::create_directories(blockedMonth);
    std::ofstream(blockedMonth + "/2031-01") << "a file where the month folder belongs";
    fs::create_directories(blockedFile + "/2031-01/app_2031-01-31.log");
    std::ofstream(plainFile) << "x";
    std::string missing = dir_ + "/missing";
    struct {
        const char* directory;
        const char* prefix;
        int code;
    } cases[] = {
        {nullptr, "app", 5001},
        {dir_.c_str(), nullptr, 5001},
        {missing.c_str(), "app", 5004},
        {plainFile.c_str(), "app", 5004},
        {blockedMonth.c_str(), "app", 5005},
        {blockedFile.c_str(), "app", 5006},
    };
    for (const auto& c : cases) {
        SGBaseError_SetLast(0, "", 0);
        EXPECT_EQ(_SGLog_Initialize(c.directory, c.prefix, 32), nullptr) << c.code;
        EXPECT_EQ(SGBaseError_GetLastCode(), c.code);
        EXPECT_STREQ(SGBaseError_GetLastMessage(), "SGLog_Initialize failed");
    }
    SGBaseError_SetLast(0, "", 0);
    EXPECT_EQ(SGLog_Initialize(missing.c_str(), "app", 32), 5008);
    EXPECT_EQ(SGBaseError_GetLastCode(), 5004);
    SGLog_Write(1, "not set up");  // safe, writes nothing
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SGLogTest, MonthFolderIsCreatedWithMode0775) {
    mode_t previous = umask(0);
    SGLogCtx* ctx = _SGLog_Initialize(dir_.c_str(), "mode", 32);
    umask(previous);
    ASSERT_NE(ctx, nullptr);
    _SGLog_Finalize(ctx);
    struct stat st {};
    ASSERT_EQ(stat((dir_ + "/2031-01").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0775u);
}

TEST_F(SGLogTest, WritingWithoutAContextIsSafe) {
    SGLogCtx* none = nullptr;
    _SGLog_Write(nullptr, 1, "no slot");
    _SGLog_Write(&none, 1, "no context");
    _SGLog_Finalize(nullptr);
    SGLog_Write(1, "before the process-wide log exists");
    SGLog_Finalize();  // nothing set up: nothing to release
    SGLog_Write(1, "after finalize");
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(SGLogTest, ProcessWideLogSetUpOnceSwitchesDaysAndEnds) {
    std::string other = dir_ + "/other";
    fs::create_directories(other);
    ASSERT_EQ(SGLog_Initialize(dir_.c_str(), "daemon", 4), 0);
    EXPECT_EQ(SGLog_Initialize(other.c_str(), "daemon", 32), 5007);
    SGLog_Write(SG_LOG_LEVEL_WARNING, "kept the first: %d", 1);
    SGLog_Write(SG_LOG_LEVEL_INFO, "above the level");
    setTime(2031, 2, 1, 0, 0, 0);
    SGLog_Write(SG_LOG_LEVEL_FATAL, "new day");
    SGLog_Finalize();
    SGLog_Write(SG_LOG_LEVEL_FATAL, "after finalize");

    EXPECT_EQ(readLines(file("daemon", "2031-01-31")),
              std::vector<std::string>{head("2031/01/31 23:59:58", 'W') + "kept the first: 1"});
    EXPECT_EQ(readLines(file("daemon", "2031-02-01")),
              std::vector<std::string>{head("2031/02/01 00:00:00", 'F') + "new day"});
    EXPECT_TRUE(fs::is_empty(other));

    // Set up again after the end.
    ASSERT_EQ(SGLog_Initialize(other.c_str(), "again", 32), 0);
    SGLog_Write(SG_LOG_LEVEL_DEBUG, "again");
    SGLog_Finalize();
    EXPECT_EQ(readLines(dir_ + "/other/2031-02/again_2031-02-01.log").size(), 1u);
}

TEST_F(SGLogTest, ProcessWideWritersRaceTheEnd) {
    ASSERT_EQ(SGLog_Initialize(dir_.c_str(), "race", 32), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&] {
            while (!stop.load()) {
                SGLog_Write(1, "line");
                calls.fetch_add(1);
            }
        });
    while (calls.load() < 200) std::this_thread::yield();
    SGLog_Finalize();  // the writers keep going: they find no log and write nothing
    int after = calls.load();
    while (calls.load() < after + 200) std::this_thread::yield();
    stop = true;
    for (auto& w : writers) w.join();
    auto lines = readLines(file("race", "2031-01-31"));
    EXPECT_GE(lines.size(), 200u);
    for (const auto& line : lines)
        ASSERT_THAT(line, ::testing::MatchesRegex("2031/01/31 23:59:58 KST-9\\|F\\|PID\\([0-9]+\\)"
                                                  "\\|TID\\([0-9]+\\)\\|line"));
    SGLog_Write(1, "line");
    EXPECT_EQ(readLines(file("race", "2031-01-31")).size(), lines.size());
}

// The debug stream is set up once per process, so each case runs in a child of its own.
TEST(SGLogDebugStream, StandardErrorUnlessBothVariablesNameAUsableFolder) {
    char pattern[] = "/tmp/sgdebug-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;

    EXPECT_EXIT(
        {
            bool before = SG_LOG_DEBUG_Get_Stream() == stderr;
            unsetenv("SG_DEBUG_PATH");
            setenv("SG_DEBUG_FILE", "dbg", 1);
            SG_LOG_DEBUG_Initialize();
            _exit(before && SG_LOG_DEBUG_Get_Stream() == stderr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    EXPECT_EXIT(
        {
            setenv("SG_DEBUG_PATH", dir.c_str(), 1);
            setenv("SG_DEBUG_FILE", "dbg", 1);
            SG_LOG_DEBUG_Initialize();
            FILE* stream = SG_LOG_DEBUG_Get_Stream();
            std::fputs("to the file\n", stream);
            std::fflush(stream);
            // Later calls change nothing.
            setenv("SG_DEBUG_FILE", "other", 1);
            SG_LOG_DEBUG_Initialize();
            _exit(stream != stderr && SG_LOG_DEBUG_Get_Stream() == stream ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readAll(dir + "/dbg.log"), "to the file\n");
    EXPECT_FALSE(fs::exists(dir + "/other.log"));

    std::string missing = dir + "/missing";
    EXPECT_EXIT(
        {
            setenv("SG_DEBUG_PATH", missing.c_str(), 1);
            setenv("SG_DEBUG_FILE", "dbg", 1);
            SG_LOG_DEBUG_Initialize();
            _exit(SG_LOG_DEBUG_Get_Stream() == stderr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\]\\[DEBUG\\]\\[[^ ]+ "
        "[A-Za-z_]+\\([0-9]+\\)\\]: Couldn't access directory : \\$SG_DEBUG_PATH");

    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
