#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <ctime>
#include <string>

#include "SGASN1C.h"
#include "ServiceTestUtil.h"

namespace {

// Runs the test body under each time zone and restores the process's zone afterwards.
class TimeZones : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (tz) savedTz_ = tz;
        setenv("TZ", GetParam(), 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool hadTz_ = false;
    std::string savedTz_;
};

Time_t utcTime(const char* text) {
    Time_t t{};
    t.present = Time_PR_utcTime;
    OCTET_STRING_fromString(&t.choice.utcTime, text);
    return t;
}

time_t utcInstant(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

TEST_P(TimeZones, TwoDigitYearsFrom00To59AreThisCentury) {
    struct Case {
        const char* text;
        int year;
    } cases[] = {{"000101000000Z", 2000}, {"490101000000Z", 2049}, {"500101000000Z", 2050},
                 {"590101000000Z", 2059}, {"600101000000Z", 1960}, {"991231235959Z", 1999}};
    for (const Case& c : cases) {
        Time_t t = utcTime(c.text);
        time_t instant = 0;
        struct tm tm;
        ASSERT_EQ(SGASN1CTime_ToTm(&instant, &tm, &t, 1), 0) << c.text;
        EXPECT_EQ(tm.tm_year + 1900, c.year) << c.text;
        EXPECT_EQ(tm.tm_mon, c.year == 1999 ? 11 : 0) << c.text;
        // The instant does not depend on the zone, only the broken-down local time does.
        const time_t expected =
            c.year == 1999 ? utcInstant(1999, 12, 31, 23, 59, 59) : utcInstant(c.year, 1, 1);
        EXPECT_EQ(instant, expected) << c.text;
        struct tm local;
        ASSERT_EQ(SGASN1CTime_ToTm(&instant, &local, &t, 0), 0);
        EXPECT_EQ(instant, expected);
        struct tm reference;
        localtime_r(&expected, &reference);
        EXPECT_EQ(local.tm_hour, reference.tm_hour) << c.text;
        EXPECT_EQ(local.tm_mday, reference.tm_mday) << c.text;
        SGASN1CObject_Clear(&t, &asn_DEF_Time);
    }
}

TEST_P(TimeZones, TextInLocalOrUniversalTime) {
    Time_t t = utcTime("490101000000Z");
    char text[32] = "untouched";
    ASSERT_EQ(SGASN1CTime_ToString(text, sizeof text, &t, 1), 0);
    EXPECT_STREQ(text, "20490101000000");
    ASSERT_EQ(SGASN1CTime_ToString(text, sizeof text, &t, 0), 0);
    const bool seoul = std::strcmp(GetParam(), "Asia/Seoul") == 0;
    EXPECT_STREQ(text, seoul ? "20490101090000" : "20490101000000");
    EXPECT_EQ(SGASN1CTime_ToString(text, 14, &t, 1), 10009);  // no room for the terminator
    SGASN1CObject_Clear(&t, &asn_DEF_Time);
}

TEST_P(TimeZones, WrittenInUtcWithZ) {
    UTCTime_t ut{};
    const time_t instant = utcInstant(2023, 11, 14, 22, 13, 20);
    ASSERT_EQ(SGASN1CUTCTime_FromTm(&ut, instant, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ut.buf), ut.size), "231114221320Z");
    GeneralizedTime_t gt{};
    ASSERT_EQ(SGASN1CGeneralizedTime_FromTm(&gt, instant, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(gt.buf), gt.size), "20231114221320Z");
    // Round trip through the reader.
    time_t back = 0;
    struct tm tm;
    ASSERT_EQ(SGASN1CUTCTime_ToTm(&back, &tm, &ut, 0), 0);
    EXPECT_EQ(back, instant);
    ASSERT_EQ(SGASN1CGeneralizedTime_ToTm(&back, &tm, &gt, 1), 0);
    EXPECT_EQ(back, instant);
    SGASN1CObject_Clear(&ut, &asn_DEF_UTCTime);
    SGASN1CObject_Clear(&gt, &asn_DEF_GeneralizedTime);
}

INSTANTIATE_TEST_SUITE_P(Zones, TimeZones, ::testing::Values("UTC", "Asia/Seoul"));

TEST(SGASN1CTime, GeneralizedTimeFormIsRefused) {
    Time_t t{};
    t.present = Time_PR_generalTime;
    OCTET_STRING_fromString(&t.choice.generalTime, "20500101000000Z");
    char text[32] = "untouched";
    EXPECT_EQ(SGASN1CTime_ToString(text, sizeof text, &t, 1), 20908);
    EXPECT_STREQ(text, "untouched");
    // ToTm converts it for the caller but still reports the form.
    time_t instant = 0;
    struct tm tm;
    EXPECT_EQ(SGASN1CTime_ToTm(&instant, &tm, &t, 1), 20908);
    EXPECT_EQ(instant, utcInstant(2050, 1, 1));
    SGASN1CObject_Clear(&t, &asn_DEF_Time);

    Time_t none{};
    EXPECT_EQ(SGASN1CTime_ToTm(&instant, &tm, &none, 1), 20908);
    EXPECT_EQ(SGASN1CTime_ToString(text, sizeof text, &none, 1), 20908);
}

TEST(SGASN1CTime, BadValuesAndMissingOutputs) {
    Time_t bad = utcTime("49AB01000000Z");
    time_t instant;
    struct tm tm;
    EXPECT_EQ(SGASN1CTime_ToTm(&instant, &tm, &bad, 1), 20902);
    char text[32];
    EXPECT_EQ(SGASN1CTime_ToString(text, sizeof text, &bad, 1), 20902);
    SGASN1CObject_Clear(&bad, &asn_DEF_Time);
    Time_t good = utcTime("490101000000Z");
    EXPECT_EQ(SGASN1CTime_ToTm(nullptr, &tm, &good, 1), 10001);
    EXPECT_EQ(SGASN1CTime_ToTm(&instant, nullptr, &good, 1), 10001);
    EXPECT_EQ(SGASN1CTime_ToTm(&instant, &tm, nullptr, 1), 10001);
    EXPECT_EQ(SGASN1CTime_ToString(nullptr, 32, &good, 1), 10001);
    SGASN1CObject_Clear(&good, &asn_DEF_Time);
}

TEST(SGASN1CTime, ZeroMeansNowAndTimeChoosesUtcTime) {
    Time_t t{};
    t.present = Time_PR_generalTime;  // replaced, not leaked
    OCTET_STRING_fromString(&t.choice.generalTime, "20500101000000Z");
    const time_t before = time(nullptr);
    ASSERT_EQ(SGASN1CTime_FromTm(&t, 0, 0), 0);
    const time_t after = time(nullptr);
    ASSERT_EQ(t.present, Time_PR_utcTime);
    time_t instant = 0;
    struct tm tm;
    ASSERT_EQ(SGASN1CTime_ToTm(&instant, &tm, &t, 1), 0);
    EXPECT_GE(instant, before);
    EXPECT_LE(instant, after);
    EXPECT_EQ(t.choice.utcTime.buf[t.choice.utcTime.size - 1], 'Z');
    SGASN1CObject_Clear(&t, &asn_DEF_Time);
    EXPECT_EQ(SGASN1CTime_FromTm(nullptr, 0, 0), 10001);
    EXPECT_EQ(SGASN1CUTCTime_FromTm(nullptr, 0, 0), 10001);
}

}  // namespace
