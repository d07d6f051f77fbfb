#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "Clock.h"
#include "SGBaseTable.h"
#include "SGTime.h"

namespace {

// Korean standard time as a POSIX rule: UTC+9, no daylight saving, no zone files needed.
class SGTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        setenv("TZ", "KST-9", 1);
        tzset();
    }
    void TearDown() override {
        brindlow::platform::setClockSource(nullptr);
        if (savedTz_)
            setenv("TZ", savedTz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> savedTz_;
};

SGTime at(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return SGTime{y, mo, d, h, mi, s, ms};
}

std::string text(const SGTime& t) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d.%d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return buf;
}

TEST_F(SGTimeTest, TableSlotsHoldTheTimeFunctions) {
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    EXPECT_EQ(t[81], reinterpret_cast<void*>(&SGTime_Now));
    EXPECT_EQ(t[82], reinterpret_cast<void*>(&SGTime_ToUTC));
    EXPECT_EQ(t[83], reinterpret_cast<void*>(&SGTime_ToTime));
    EXPECT_EQ(t[84], reinterpret_cast<void*>(&SGTime_Print));
    EXPECT_EQ(t[85], reinterpret_cast<void*>(&SGTime_Gap));
}

TEST_F(SGTimeTest, GapBetweenTwoTimes) {
    struct {
        SGTime from, to;
        uint64_t seconds;
        int milliseconds;
    } cases[] = {
        {at(2019, 1, 31, 23, 59, 59, 900), at(2019, 2, 1, 0, 0, 0, 100), 0, 200},
        {at(2019, 2, 28, 12, 0, 0), at(2019, 3, 1, 12, 0, 0), 86400, 0},
        {at(2020, 2, 28, 12, 0, 0), at(2020, 3, 1, 12, 0, 0), 2 * 86400, 0},  // leap year
        {at(2019, 1, 1, 0, 0, 0, 250), at(2019, 1, 1, 0, 0, 5, 750), 5, 500},
        {at(2019, 1, 1, 0, 0, 0), at(2019, 1, 1, 0, 0, 0), 0, 0},
        // an earlier "to" gives the two's complement of the negative difference
        {at(2019, 1, 1, 0, 0, 10), at(2019, 1, 1, 0, 0, 0), static_cast<uint64_t>(-10), 0},
        // day 32 is normalised to the next month's first day
        {at(2019, 1, 31, 0, 0, 0), at(2019, 1, 32, 0, 0, 0), 86400, 0},
        {at(2037, 12, 31, 0, 0, 0), at(2040, 1, 1, 0, 0, 0), (1 + 365 + 365) * 86400ULL, 0},
    };
    for (const auto& c : cases) {
        uint64_t seconds = 12345;
        int ms = -1;
        ASSERT_EQ(SGTime_Gap(&seconds, &ms, &c.from, &c.to), 0) << text(c.from);
        EXPECT_EQ(seconds, c.seconds) << text(c.from) << " -> " << text(c.to);
        EXPECT_EQ(ms, c.milliseconds) << text(c.from) << " -> " << text(c.to);
        seconds = 0;
        EXPECT_EQ(SGTime_Gap(&seconds, nullptr, &c.from, &c.to), 0) << "milliseconds optional";
        EXPECT_EQ(seconds, c.seconds);
    }
}

TEST_F(SGTimeTest, ToTimeReadsTheTimeAsLocal) {
    struct {
        SGTime local;
        uint64_t seconds;
    } cases[] = {
        {at(1970, 1, 1, 9, 0, 0), 0},
        {at(2019, 1, 1, 9, 0, 0, 999), 1546300800},  // milliseconds ignored
        {at(2019, 1, 32, 9, 0, 0), 1548979200},      // 2019-02-01
        {at(2019, 13, 1, 9, 0, 0), 1577836800},      // month 13 is next January
        {at(1970, 1, 1, 8, 59, 59), static_cast<uint64_t>(-1)},
        {at(2038, 1, 19, 12, 14, 8), 2147483648ULL},  // past the signed 32-bit end
        {at(2106, 2, 7, 15, 28, 16), 4294967296ULL},
    };
    for (const auto& c : cases) {
        uint64_t seconds = 0;
        ASSERT_EQ(SGTime_ToTime(&seconds, &c.local), 0) << text(c.local);
        EXPECT_EQ(seconds, c.seconds) << text(c.local);
    }
}

TEST_F(SGTimeTest, ToUTCKeepsTheOutMilliseconds) {
    struct {
        SGTime local, utc;
    } cases[] = {
        {at(2019, 1, 1, 8, 0, 0, 5), at(2018, 12, 31, 23, 0, 0)},
        {at(2019, 3, 1, 9, 30, 15), at(2019, 3, 1, 0, 30, 15)},
        {at(2019, 2, 29, 3, 0, 0), at(2019, 2, 28, 18, 0, 0)},  // 2019-03-01 03:00 local
    };
    for (const auto& c : cases) {
        SGTime out = at(0, 0, 0, 0, 0, 0, 777);
        ASSERT_EQ(SGTime_ToUTC(&out, &c.local), 0) << text(c.local);
        SGTime expected = c.utc;
        expected.millisecond = 777;
        EXPECT_EQ(text(out), text(expected)) << text(c.local);
    }
}

timespec fakeNow() {
    return timespec{1546300800 + 3723, 456789123};
}

TEST_F(SGTimeTest, NowReadsThePlatformClockWithMilliseconds) {
    brindlow::platform::setClockSource(&fakeNow);
    SGTime now{};
    ASSERT_EQ(SGTime_Now(&now), 0);
    EXPECT_EQ(text(now), text(at(2019, 1, 1, 10, 2, 3, 456)));

    brindlow::platform::setClockSource(nullptr);
    time_t before = std::time(nullptr);
    ASSERT_EQ(SGTime_Now(&now), 0);
    uint64_t seconds = 0;
    ASSERT_EQ(SGTime_ToTime(&seconds, &now), 0);
    EXPECT_GE(static_cast<int64_t>(seconds), static_cast<int64_t>(before));
    EXPECT_LE(static_cast<int64_t>(seconds), static_cast<int64_t>(std::time(nullptr)));
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

TEST_F(SGTimeTest, PrintWritesTheFixedFormatWithoutNewline) {
    struct {
        SGTime time;
        const char* printed;
    } cases[] = {
        {at(2019, 1, 1, 9, 5, 7, 8), "2019-01-01 09:05:07.008"},
        {at(999, 12, 31, 23, 59, 59, 999), " 999-12-31 23:59:59.999"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        int rc = SGTime_Print(&c.time);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(rc, 0);
    }
}

TEST_F(SGTimeTest, MissingAndUnrepresentableTimes) {
    SGTime t = at(2019, 1, 1, 0, 0, 0);
    uint64_t seconds = 0;
    EXPECT_EQ(SGTime_Now(nullptr), 1001);
    EXPECT_EQ(SGTime_ToTime(nullptr, &t), 1001);
    EXPECT_EQ(SGTime_ToTime(&seconds, nullptr), 1001);
    EXPECT_EQ(SGTime_ToUTC(nullptr, &t), 1001);
    EXPECT_EQ(SGTime_ToUTC(&t, nullptr), 1001);
    EXPECT_EQ(SGTime_Print(nullptr), 1001);
    EXPECT_EQ(SGTime_Gap(&seconds, nullptr, nullptr, &t), 1001);
    EXPECT_EQ(SGTime_Gap(&seconds, nullptr, &t, nullptr), 1001);
    EXPECT_EQ(SGTime_Gap(nullptr, nullptr, &t, &t), 1001);

    SGTime far = at(INT_MIN, INT_MIN, 1, 0, 0, 0);
    EXPECT_EQ(SGTime_ToTime(&seconds, &far), SG_TIME_ERR_RANGE);
    EXPECT_EQ(SGTime_Gap(&seconds, nullptr, &t, &far), SG_TIME_ERR_RANGE);
}

}  // namespace
