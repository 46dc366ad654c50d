#include "http/IdDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/ScopedTimeZone.h"

using namespace tarnwick;
using tarnwick::testing::ScopedTimeZone;

namespace {

TEST(EncodeDate, CountsDaysFromTheEpoch) {
    EXPECT_EQ(TryEncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(TryEncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(TryEncodeDate(1994, 11, 6), 34644.0);
    EXPECT_EQ(TryEncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(TryEncodeDate(100, 11, 6), -657125.0);
    EXPECT_EQ(TryEncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(TryEncodeDate(9999, 12, 31), 2958465.0);
}

TEST(EncodeDate, RefusesWhatIsNoCalendarDate) {
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29));
    EXPECT_FALSE(TryEncodeDate(1999, 2, 29));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29));
    EXPECT_FALSE(TryEncodeDate(1999, 2, 31));
    EXPECT_FALSE(TryEncodeDate(1999, 4, 31));
    EXPECT_FALSE(TryEncodeDate(1999, 13, 1));
    EXPECT_FALSE(TryEncodeDate(1999, 0, 1));
    EXPECT_FALSE(TryEncodeDate(1999, 1, 0));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1));
}

TEST(EncodeTime, AcceptsOnlyATimeOfDay) {
    EXPECT_EQ(TryEncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(TryEncodeTime(23, 59, 59, 999), (86'400'000.0 - 1) / 86'400'000.0);
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000));
    EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0));
}

TEST(DecodeDate, RoundTripsEveryDayOfTheCalendar) {
    int failures = 0;
    for (int y = 1; y <= 9999 && failures < 5; ++y)
        for (int m = 1; m <= 12; ++m)
            for (int d = 1; d <= DaysInMonth(y, m); ++d) {
                const TDateParts p = DecodeDate(*TryEncodeDate(y, m, d) + 0.75);
                if (p.Year != y || p.Month != m || p.Day != d) {
                    ADD_FAILURE() << y << "-" << m << "-" << d << " came back as " << p.Year << "-"
                                  << p.Month << "-" << p.Day;
                    ++failures;
                }
            }
}

TEST(DecodeTime, RoundsToTheMillisecondAndRollsOverTheDay) {
    const TTimeParts t = DecodeTime(34644 + *TryEncodeTime(8, 49, 37, 250));
    EXPECT_EQ(t.Hour, 8);
    EXPECT_EQ(t.Minute, 49);
    EXPECT_EQ(t.Second, 37);
    EXPECT_EQ(t.MilliSecond, 250);

    const TDateTime almostMidnight = 34644 + 0.9999999999;
    EXPECT_EQ(DecodeTime(almostMidnight).Hour, 0);
    EXPECT_EQ(DecodeDate(almostMidnight).Day, 7);
}

TEST(DecodeDate, ValuesBeforeTheEpochCountLinearly) {
    const TDateParts d = DecodeDate(-1.25);
    EXPECT_EQ(d.Year, 1899);
    EXPECT_EQ(d.Month, 12);
    EXPECT_EQ(d.Day, 28);
    EXPECT_EQ(DecodeTime(-1.25).Hour, 18);
    EXPECT_EQ(DayOfWeek(-1.25), 5);  // 28 Dec 1899, a Thursday
}

TEST(DecodeDate, ValuesOutsideTheCalendarGiveZeroParts) {
    for (const double v : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e300,
                           2958466.0, -693594.0}) {
        const TDateParts d = DecodeDate(v);
        EXPECT_EQ(d.Year, 0) << v;
        EXPECT_EQ(DayOfWeek(v), 0) << v;
    }
}

TEST(DayOfWeek, CountsFromSunday) {
    EXPECT_EQ(DayOfWeek(0), 7);        // 30 Dec 1899, a Saturday
    EXPECT_EQ(DayOfWeek(1), 1);        // Sunday
    EXPECT_EQ(DayOfWeek(34644), 1);    // 6 Nov 1994, Sunday
    EXPECT_EQ(DayOfWeek(36526), 7);    // 1 Jan 2000, Saturday
    EXPECT_EQ(DayOfWeek(-693593), 2);  // 1 Jan 1, Monday
}

TEST(LocalDateTime, FollowsTheLocalZone) {
    {
        ScopedTimeZone utc("UTC0");
        EXPECT_EQ(LocalDateTime(0), 25569.0);
        EXPECT_DOUBLE_EQ(*LocalDateTime(86400 + 43200, 500), 25570.5 + 0.5 / 86400);
    }
    {
        ScopedTimeZone cet("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_DOUBLE_EQ(*LocalDateTime(0), 25569.0 + 1.0 / 24);
        // 1 July 2024 00:00 UTC is 02:00 summer time.
        const auto summer = LocalDateTime(1719792000);
        ASSERT_TRUE(summer);
        EXPECT_EQ(DecodeTime(*summer).Hour, 2);
    }
    EXPECT_FALSE(LocalDateTime(std::numeric_limits<std::time_t>::max()));
}

}  // namespace
