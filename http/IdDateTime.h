#pragma once

// Date-time values: floating-point days since 30 December 1899 00:00, the fraction being the
// time of day; zero is that epoch. Values are local wall-clock time unless said otherwise.
// The calendar is the proleptic Gregorian one for the years 1 to 9999.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

namespace tarnwick {

using TDateTime = double;

struct TDateParts {
    int Year = 0;
    int Month = 0;  // 1..12
    int Day = 0;    // 1..31
};

struct TTimeParts {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MilliSecond = 0;
};

constexpr TDateTime kOneHour = 1.0 / 24;
constexpr TDateTime kOneMinute = 1.0 / (24 * 60);
constexpr TDateTime kOneSecond = 1.0 / (24 * 60 * 60);

bool IsLeapYear(int year) noexcept;
// Days of month (1..12) in year; 0 for a month outside 1..12.
int DaysInMonth(int year, int month) noexcept;

// Midnight of the date; nothing when year, month or day is not a calendar date (years 1..9999).
std::optional<TDateTime> TryEncodeDate(int year, int month, int day) noexcept;
// The time of day as a day fraction; nothing unless hour < 24, minute < 60, second < 60,
// milliSecond < 1000, none negative.
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int milliSecond) noexcept;

// The calendar date of a value (its whole days). A value outside the calendar's years, or not a
// number, gives all parts 0.
TDateParts DecodeDate(TDateTime value) noexcept;
// The time of day of a value (what it holds beyond its whole days, counted forward also before
// the epoch: -1.25 is 28 December 1899 18:00), rounded to the millisecond.
TTimeParts DecodeTime(TDateTime value) noexcept;
// 1 (Sunday) to 7 (Saturday); 0 for a value outside the calendar.
int DayOfWeek(TDateTime value) noexcept;

// The local wall-clock time of a system time (seconds since 1970 UTC) plus milliseconds, as the
// C library's local time zone sees it. Nothing when the C library cannot convert it.
std::optional<TDateTime> LocalDateTime(std::time_t time, int milliSecond = 0) noexcept;
// The current local date-time. The one place that reads the clock; code that compares with
// "now" takes it as an argument or through a clock so that tests can fix it.
TDateTime Now();

// Where code that compares with "now" reads the current local date-time (a cookie store, a
// response's relative Expires); tests put a fixed clock in.
using TIdClock = std::function<TDateTime()>;

}  // namespace tarnwick
