#include <gtest/gtest.h>

#include "Clock.h"

namespace {

using brindlow::platform::clockNow;
using brindlow::platform::clockNowMicroseconds;
using brindlow::platform::setClockSource;

timespec fixedTime() {
    return timespec{1999999999, 123456789};
}

int64_t realMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

TEST(Clock, InstalledSourceIsReadUntilRemoved) {
    ASSERT_EQ(setClockSource(&fixedTime), nullptr);
    timespec now = clockNow();
    EXPECT_EQ(now.tv_sec, 1999999999);
    EXPECT_EQ(now.tv_nsec, 123456789);
    EXPECT_EQ(clockNowMicroseconds(), 1999999999123456LL);

    EXPECT_EQ(setClockSource(nullptr), &fixedTime);
    int64_t before = realMicroseconds();
    int64_t ours = clockNowMicroseconds();
    int64_t after = realMicroseconds();
    EXPECT_LE(before, ours);
    EXPECT_LE(ours, after);
}

}  // namespace
