#include "http/IdInternetDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "http/IdHTTPExceptions.h"
#include "support/ScopedTimeZone.h"

using namespace tarnwick;
using tarnwick::testing::ScopedTimeZone;

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *TryEncodeDate(y, mo, d) + *TryEncodeTime(h, mi, s, 0);
}

TEST(NameIndex, MatchesWholeNamesInAnyCase) {
    EXPECT_EQ(DayNameIndex("Sun"), 1);
    EXPECT_EQ(DayNameIndex("sat"), 7);
    EXPECT_EQ(DayNameIndex("Sunday"), 0);
    EXPECT_EQ(DayNameIndex("Su"), 0);
    EXPECT_EQ(MonthNameIndex("JAN"), 1);
    EXPECT_EQ(MonthNameIndex("dec"), 12);
    EXPECT_EQ(MonthNameIndex("June"), 0);
    EXPECT_EQ(MonthNameIndex(""), 0);
}

// ---- ParseInternetDate --------------------------------------------------------------------------

struct ParseCase {
    const char* text;
    int y, mo, d, h, mi, s;  // y == 0: the zero date
    const char* rest;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class ParseInternetDateTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInternetDateTable, ReadsDateAndLeavesZone) {
    const ParseCase& c = GetParam();
    std::string text = c.text;
    const TDateTime expected = c.y == 0 ? 0 : At(c.y, c.mo, c.d, c.h, c.mi, c.s);
    EXPECT_DOUBLE_EQ(ParseInternetDate(text), expected);
    EXPECT_EQ(text, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ParseInternetDateTable,
    ::testing::Values(ParseCase{"Sun, 06 Nov 1994 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, "GMT"},
                      ParseCase{"Sunday, 06-Nov-94 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, "GMT"},
                      ParseCase{"Sun Nov  6 08:49:37 1994", 1994, 11, 6, 8, 49, 37, ""},
                      ParseCase{"  06 Nov 1994  ", 1994, 11, 6, 0, 0, 0, ""},
                      ParseCase{"Sun, 06 Nov 1994 08:49:37 +0200", 1994, 11, 6, 8, 49, 37, "+0200"},
                      ParseCase{"Sun, 06 Nov 1994 08:49:37 -0500", 1994, 11, 6, 8, 49, 37, "-0500"},
                      ParseCase{"06-nov-1994 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, "GMT"},
                      // Two-digit years.
                      ParseCase{"06 Nov 79", 2079, 11, 6, 0, 0, 0, ""},
                      ParseCase{"06 Nov 80", 1980, 11, 6, 0, 0, 0, ""},
                      ParseCase{"06 Nov 99", 1999, 11, 6, 0, 0, 0, ""},
                      ParseCase{"06 Nov 00", 2000, 11, 6, 0, 0, 0, ""},
                      ParseCase{"06 Nov 100", 100, 11, 6, 0, 0, 0, ""},
                      // Unreadable parts.
                      ParseCase{"xx Nov 1994 08:00:00 GMT", 1994, 11, 1, 8, 0, 0, "GMT"},
                      ParseCase{"06 Nov 1994 08:xx:05 GMT", 1994, 11, 6, 8, 0, 5, "GMT"},
                      ParseCase{"06 Foo 1994 08:49:37 GMT", 0, 0, 0, 0, 0, 0, "08:49:37 GMT"},
                      ParseCase{"Sat, 31 Feb 1999 10:00:00 GMT", 0, 0, 0, 0, 0, 0, "10:00:00 GMT"},
                      ParseCase{"Tue, 29 Feb 2100 10:00:00 GMT", 0, 0, 0, 0, 0, 0, "10:00:00 GMT"},
                      ParseCase{"Tue, 29 Feb 2000 10:00:00 GMT", 2000, 2, 29, 10, 0, 0, "GMT"},
                      ParseCase{"06 Nov 1994 24:00:00 GMT", 0, 0, 0, 0, 0, 0, "GMT"},
                      ParseCase{"06 Nov 1994 08:60:00 GMT", 0, 0, 0, 0, 0, 0, "GMT"},
                      ParseCase{"06 Nov 1994 23:59:59 GMT", 1994, 11, 6, 23, 59, 59, "GMT"},
                      ParseCase{"06 Nov 1994 -1:00:00 GMT", 0, 0, 0, 0, 0, 0, "GMT"},
                      ParseCase{"00 Nov 1994", 0, 0, 0, 0, 0, 0, ""},
                      ParseCase{"   ", 0, 0, 0, 0, 0, 0, ""},
                      ParseCase{"Sun,", 0, 0, 0, 0, 0, 0, ""}));

// ---- ParseZoneOffset / FormatZoneOffset ---------------------------------------------------------

TEST(ParseZoneOffset, ReadsOnlySignedFourDigitOffsets) {
    EXPECT_DOUBLE_EQ(ParseZoneOffset("+0200"), 2.0 / 24);
    EXPECT_DOUBLE_EQ(ParseZoneOffset(" -0530 junk"), -(5.5 / 24));
    EXPECT_EQ(ParseZoneOffset("GMT"), 0);
    EXPECT_EQ(ParseZoneOffset("UT"), 0);
    EXPECT_EQ(ParseZoneOffset("EST"), 0);
    EXPECT_EQ(ParseZoneOffset("+01:00"), 0);
    EXPECT_EQ(ParseZoneOffset("+01"), 0);
    EXPECT_EQ(ParseZoneOffset("+2400"), 0);
    EXPECT_EQ(ParseZoneOffset("+0160"), 0);
    EXPECT_EQ(ParseZoneOffset("-"), 0);
    EXPECT_EQ(ParseZoneOffset(""), 0);
}

TEST(FormatZoneOffset, WritesSignHoursAndMinutes) {
    EXPECT_EQ(FormatZoneOffset(0, true), "GMT");
    EXPECT_EQ(FormatZoneOffset(0, false), "+0000");
    EXPECT_EQ(FormatZoneOffset(-5.0 / 24, false), "-0500");
    EXPECT_EQ(FormatZoneOffset(-5.0 / 24, true), "-0500");
    EXPECT_EQ(FormatZoneOffset(5.5 / 24, false), "+0530");
    EXPECT_EQ(FormatZoneOffset(-(3.5 / 24), false), "-0330");
}

// ---- Zone-dependent operations, under several zones ---------------------------------------------

struct Zone {
    const char* name;
    const char* tz;
};

const Zone kZones[] = {
    {"Utc", "UTC0"},
    {"CentralEuropeWithSummerTime", "CET-1CEST,M3.5.0,M10.5.0/3"},
    {"NewfoundlandStandard", "<-0330>3:30"},
};

std::string ZoneName(const ::testing::TestParamInfo<Zone>& info) { return info.param.name; }

class InZone : public ::testing::TestWithParam<Zone> {
protected:
    ScopedTimeZone zone_{GetParam().tz};
};

TEST_P(InZone, InternetDateToLocalShiftsByTheTextsZoneAndTheLocalOffset) {
    const TDateTime local = LocalUtcOffset();
    const TDateTime utc = At(1994, 11, 6, 8, 49, 37);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sunday, 06-Nov-94 08:49:37 GMT"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sun Nov  6 08:49:37 1994"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sun, 06 Nov 1994 10:49:37 +0200"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sun, 06 Nov 1994 03:49:37 -0500"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 +02"), utc + local);
    EXPECT_DOUBLE_EQ(InternetDateToLocal("not a date"), local);
}

TEST_P(InZone, FormatInternetDateHasTheLayoutAndTheCurrentOffset) {
    const std::string zone = FormatZoneOffset(LocalUtcOffset(), false);
    EXPECT_EQ(FormatInternetDate(At(2026, 12, 6, 8, 49, 37)), "Sun, 6 Dec 2026 08:49:37 " + zone);
    EXPECT_EQ(FormatInternetDate(At(1994, 11, 16, 23, 5, 9)), "Wed, 16 Nov 1994 23:05:09 " + zone);
}

TEST_P(InZone, FormattedDatesReadBackToTheSecond) {
    for (const TDateTime value :
         {At(2026, 12, 6, 8, 49, 37), At(1999, 7, 1), At(2038, 1, 19, 3, 14, 8)})
        EXPECT_NEAR(InternetDateToLocal(FormatInternetDate(value)), value, 1e-9)
            << FormatInternetDate(value);
}

INSTANTIATE_TEST_SUITE_P(Zones, InZone, ::testing::ValuesIn(kZones), ZoneName);

TEST(FormatInternetDate, WritesGmtOnlyWhenAskedEvenInUtc) {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(FormatInternetDate(At(1994, 11, 6, 8, 49, 37)), "Sun, 6 Nov 1994 08:49:37 +0000");
    EXPECT_EQ(FormatInternetDate(At(1994, 11, 6, 8, 49, 37), true), "Sun, 6 Nov 1994 08:49:37 GMT");
}

struct OffsetCase {
    const char* tz;
    std::time_t at;
    int minutes;
};

void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.tz << " at " << c.at; }

class LocalUtcOffsetTable : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(LocalUtcOffsetTable, IsLocalMinusUtc) {
    const OffsetCase& c = GetParam();
    ScopedTimeZone zone(c.tz);
    EXPECT_NEAR(LocalUtcOffset(c.at) * 24 * 60, c.minutes, 1e-6);
}

constexpr std::time_t kWinter = 1705320000;  // 15 January 2024 12:00 UTC
constexpr std::time_t kSummer = 1721044800;  // 15 July 2024 12:00 UTC

INSTANTIATE_TEST_SUITE_P(Zones, LocalUtcOffsetTable,
                         ::testing::Values(OffsetCase{"UTC0", kWinter, 0},
                                           OffsetCase{"UTC0", kSummer, 0},
                                           OffsetCase{"CET-1CEST,M3.5.0,M10.5.0/3", kWinter, 60},
                                           OffsetCase{"CET-1CEST,M3.5.0,M10.5.0/3", kSummer, 120},
                                           OffsetCase{"EST5EDT,M3.2.0,M11.1.0", kWinter, -300},
                                           OffsetCase{"EST5EDT,M3.2.0,M11.1.0", kSummer, -240},
                                           OffsetCase{"<-0330>3:30", kSummer, -210},
                                           OffsetCase{"<+0545>-5:45", kWinter, 345}));

TEST(LocalUtcOffset, RaisesWhenTheSystemCannotSay) {
    ScopedTimeZone utc("UTC0");
    try {
        LocalUtcOffset(std::numeric_limits<std::time_t>::max());
        ADD_FAILURE() << "no exception";
    } catch (const EIdFailedToRetreiveTimeZoneInfo& e) {
        EXPECT_EQ(e.Message(), "Failed attempting to retrieve time zone information.");
    }
}

}  // namespace
