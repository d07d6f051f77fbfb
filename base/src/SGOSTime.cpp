// Time and the local date and time texts of the operating-system layer.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "SGOS.h"

static_assert(sizeof(SGOSTm) == 36);
static_assert(offsetof(SGOSTm, tm_mon) == 16);
static_assert(offsetof(SGOSTm, tm_isdst) == 32);

namespace {

// Results handed out without a caller buffer. The daemon's worker threads format times too, so
// every thread has its own.
thread_local SGOSTm tGmtime;
thread_local SGOSTm tLocaltime;
thread_local char tAsctime[26];
thread_local char tDate[11];
thread_local char tTime[9];
thread_local char tDateTime[20];

struct tm toPlatform(const SGOSTm& in) {
    struct tm out;
    std::memset(&out, 0, sizeof out);
    out.tm_sec = in.tm_sec;
    out.tm_min = in.tm_min;
    out.tm_hour = in.tm_hour;
    out.tm_mday = in.tm_mday;
    out.tm_mon = in.tm_mon;
    out.tm_year = in.tm_year;
    out.tm_wday = in.tm_wday;
    out.tm_yday = in.tm_yday;
    out.tm_isdst = in.tm_isdst;
    return out;
}

void fromPlatform(const struct tm& in, SGOSTm& out) {
    out.tm_sec = in.tm_sec;
    out.tm_min = in.tm_min;
    out.tm_hour = in.tm_hour;
    out.tm_mday = in.tm_mday;
    out.tm_mon = in.tm_mon;
    out.tm_year = in.tm_year;
    out.tm_wday = in.tm_wday;
    out.tm_yday = in.tm_yday;
    out.tm_isdst = in.tm_isdst;
}

SGOSTm* brokenDown(const time_t* t, SGOSTm* out, SGOSTm& own,
                   struct tm* (*convert)(const time_t*, struct tm*)) {
    if (!t) return nullptr;
    struct tm r;
    if (!convert(t, &r)) return nullptr;
    fromPlatform(r, own);
    if (out) *out = own;
    return &own;
}

bool localNow(struct tm& out) {
    const time_t now = std::time(nullptr);
    return now != static_cast<time_t>(-1) && localtime_r(&now, &out);
}

// Writes into the caller's buffer within its size (result null), or into the thread's own.
template <size_t N, typename... Args>
char* formatNow(char (&own)[N], char* buf, uint32_t size, const char* format, Args... args) {
    char* out = buf ? buf : own;
    const size_t cap = buf ? size : N;
    if (cap) std::snprintf(out, cap, format, args...);
    return buf ? nullptr : own;
}

}  // namespace

extern "C" {

time_t SGOS_time(time_t* t) {
    return std::time(t);
}

char* SGOS_ctime(const time_t* t, char* buf) {
    return t && buf ? ctime_r(t, buf) : nullptr;
}

char* SGOS_asctime(const SGOSTm* tm, char* buf, uint32_t size) {
    if (!tm) return nullptr;
    const struct tm t = toPlatform(*tm);
    if (!asctime_r(&t, tAsctime)) return nullptr;
    if (buf && size) std::snprintf(buf, size, "%s", tAsctime);
    return tAsctime;
}

SGOSTm* SGOS_gmtime(const time_t* t, SGOSTm* out) {
    return brokenDown(t, out, tGmtime, gmtime_r);
}

SGOSTm* SGOS_localtime(const time_t* t, SGOSTm* out) {
    return brokenDown(t, out, tLocaltime, localtime_r);
}

time_t SGOS_mktime(SGOSTm* tm) {
    if (!tm) return static_cast<time_t>(-1);
    struct tm t = toPlatform(*tm);
    const time_t r = std::mktime(&t);
    fromPlatform(t, *tm);  // normalised fields, as the platform call leaves them
    return r;
}

char* SGOS_GetDateStr(char separator, char* buf, uint32_t size) {
    struct tm t;
    if (!localNow(t)) return nullptr;
    return formatNow(tDate, buf, size, "%04d%c%02d%c%02d", t.tm_year + 1900, separator,
                     t.tm_mon + 1, separator, t.tm_mday);
}

char* SGOS_GetTimeStr(char separator, char* buf, uint32_t size) {
    struct tm t;
    if (!localNow(t)) return nullptr;
    return formatNow(tTime, buf, size, "%02d%c%02d%c%02d", t.tm_hour, separator, t.tm_min,
                     separator, t.tm_sec);
}

char* SGOS_GetDateTimeStr(char dateSeparator, char separator, char timeSeparator, char* buf,
                          uint32_t size) {
    struct tm t;
    if (!localNow(t)) return nullptr;
    return formatNow(tDateTime, buf, size, "%04d%c%02d%c%02d%c%02d%c%02d%c%02d", t.tm_year + 1900,
                     dateSeparator, t.tm_mon + 1, dateSeparator, t.tm_mday, separator, t.tm_hour,
                     timeSeparator, t.tm_min, timeSeparator, t.tm_sec);
}

}  // extern "C"
