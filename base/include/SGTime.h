/* The library's broken-down local time with milliseconds. */
#ifndef SG_TIME_H
#define SG_TIME_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* A time that the platform cannot represent as seconds since 1970. */
#define SG_TIME_ERR_RANGE 1004

typedef struct SGTime {
    int32_t year;        /* full year, such as 2019 */
    int32_t month;       /* 1 to 12 */
    int32_t day;         /* 1 to 31 */
    int32_t hour;        /* 0 to 23 */
    int32_t minute;      /* 0 to 59 */
    int32_t second;      /* 0 to 59 */
    int32_t millisecond; /* 0 to 999 */
} SGTime;

/* The current local time. 1001 for a missing record. */
int SGTime_Now(SGTime* out);
/* The same instant as UTC, year to second; out's millisecond is left as it was. Fields out of
 * range are normalised (day 32 is the next month's first day); daylight saving is not applied. */
int SGTime_ToUTC(SGTime* out, const SGTime* local);
/* Seconds since 1970-01-01 UTC of the local time (milliseconds ignored); an instant before 1970
 * is written as its two's complement. */
int SGTime_ToTime(uint64_t* seconds, const SGTime* local);
/* Writes "YYYY-MM-DD HH:MM:SS.mmm" to standard output without a newline. */
int SGTime_Print(const SGTime* time);
/* seconds(to) - seconds(from), one less when to's millisecond is below from's; milliseconds
 * (optional) is the millisecond difference, plus 1000 when negative. */
int SGTime_Gap(uint64_t* seconds, int* milliseconds, const SGTime* from, const SGTime* to);

SG_EXTERN_C_END

#endif
