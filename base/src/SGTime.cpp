#include "SGTime.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "Clock.h"

static_assert(sizeof(SGTime) == 7 * sizeof(int32_t));

namespace {

constexpr int kNull = SG_BASE_ERR_NULL_ARGUMENT;

// Local broken-down time -> seconds since 1970, daylight saving clear, normalised by the
// platform. False when the year does not fit the platform record or mktime cannot represent it.
bool toSeconds(const SGTime& t, time_t* out) {
    if (t.year < INT_MIN + 1900 || t.month == INT_MIN) return false;
    tm fields{};
    fields.tm_year = t.year - 1900;
    fields.tm_mon = t.month - 1;
    fields.tm_mday = t.day;
    fields.tm_hour = t.hour;
    fields.tm_min = t.minute;
    fields.tm_sec = t.second;
    fields.tm_isdst = 0;
    errno = 0;
    time_t seconds = mktime(&fields);
    // -1 is also one second before 1970; mktime reports a real failure through errno.
    if (seconds == static_cast<time_t>(-1) && errno != 0) return false;
    *out = seconds;
    return true;
}

}  // namespace

extern "C" {

int SGTime_Now(SGTime* out) {
    if (!out) return kNull;
    timespec now = brindlow::platform::clockNow();
    tm local{};
    if (!localtime_r(&now.tv_sec, &local)) return SG_TIME_ERR_RANGE;
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
    out->millisecond = static_cast<int32_t>(now.tv_nsec / 1000 / 1000);
    return 0;
}

int SGTime_ToTime(uint64_t* seconds, const SGTime* local) {
    if (!seconds || !local) return kNull;
    time_t t;
    if (!toSeconds(*local, &t)) return SG_TIME_ERR_RANGE;
    *seconds = static_cast<uint64_t>(static_cast<int64_t>(t));
    return 0;
}

int SGTime_ToUTC(SGTime* out, const SGTime* local) {
    if (!out || !local) return kNull;
    time_t t;
    tm utc{};
    if (!toSeconds(*local, &t) || !gmtime_r(&t, &utc) || utc.tm_year > INT_MAX - 1900)
        return SG_TIME_ERR_RANGE;
    out->year = utc.tm_year + 1900;
    out->month = utc.tm_mon + 1;
    out->day = utc.tm_mday;
    out->hour = utc.tm_hour;
    out->minute = utc.tm_min;
    out->second = utc.tm_sec;
    return 0;
}

int SGTime_Print(const SGTime* time) {
    if (!time) return kNull;
    std::printf("%4d-%02d-%02d %02d:%02d:%02d.%03d", time->year, time->month, time->day, time->hour,
                time->minute, time->second, time->millisecond);
    return 0;
}

int SGTime_Gap(uint64_t* seconds, int* milliseconds, const SGTime* from, const SGTime* to) {
    if (!seconds || !from || !to) return kNull;
    time_t a, b;
    if (!toSeconds(*from, &a) || !toSeconds(*to, &b)) return SG_TIME_ERR_RANGE;
    int64_t gap = static_cast<int64_t>(b) - static_cast<int64_t>(a);
    int64_t ms = static_cast<int64_t>(to->millisecond) - from->millisecond;
    if (to->millisecond < from->millisecond) gap -= 1;
    if (ms < 0) ms += 1000;
    *seconds = static_cast<uint64_t>(gap);
    if (milliseconds) *milliseconds = static_cast<int>(ms);
    return 0;
}

}  // extern "C"
