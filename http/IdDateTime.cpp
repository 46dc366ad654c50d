#include "http/IdDateTime.h"

#include <cmath>
#include <cstdint>

#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
// Day numbers of 1 January 1 and 31 December 9999.
constexpr std::int64_t kFirstDay = -693'593;
constexpr std::int64_t kLastDay = 2'958'465;
// Day number of 1 January 1970.
constexpr std::int64_t kUnixEpochDay = 25'569;

// Days from 1 January 1970 of a proleptic Gregorian date (after H. Hinnant's civil calendar
// algorithms).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) noexcept {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + doe - 719'468;
}

TDateParts CivilFromDays(std::int64_t z) noexcept {
    z += 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    return {int(yoe + era * 400 + (m <= 2)), m, d};
}

// A value split into its day number and its time of day in milliseconds. The count is linear on
// both sides of the epoch (-1.25 is 28 December 1899 18:00), so adding and subtracting day
// fractions works the same for every date.
struct Split {
    bool valid = false;
    std::int64_t day = 0;
    std::int64_t milliseconds = 0;
};

Split SplitValue(TDateTime value) noexcept {
    if (!std::isfinite(value) || value < double(kFirstDay) || value >= double(kLastDay + 1))
        return {};
    const double whole = std::floor(value);
    Split s{true, std::int64_t(whole), std::llround((value - whole) * kMillisecondsPerDay)};
    if (s.milliseconds >= kMillisecondsPerDay) {
        s.milliseconds = 0;
        ++s.day;
    }
    return s;
}

}  // namespace

bool IsLeapYear(int year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) noexcept {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

std::optional<TDateTime> TryEncodeDate(int year, int month, int day) noexcept {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return std::nullopt;
    return TDateTime(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int milliSecond) noexcept {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        milliSecond < 0 || milliSecond >= 1000)
        return std::nullopt;
    const std::int64_t ms = ((std::int64_t(hour) * 60 + minute) * 60 + second) * 1000 + milliSecond;
    return TDateTime(ms) / kMillisecondsPerDay;
}

TDateParts DecodeDate(TDateTime value) noexcept {
    const Split s = SplitValue(value);
    if (!s.valid || s.day > kLastDay) return {};
    return CivilFromDays(s.day - kUnixEpochDay);
}

TTimeParts DecodeTime(TDateTime value) noexcept {
    const Split s = SplitValue(value);
    if (!s.valid) return {};
    const std::int64_t ms = s.milliseconds;
    return {int(ms / 3'600'000), int(ms / 60'000 % 60), int(ms / 1000 % 60), int(ms % 1000)};
}

int DayOfWeek(TDateTime value) noexcept {
    const Split s = SplitValue(value);
    if (!s.valid) return 0;
    // Day 0, 30 December 1899, was a Saturday.
    return int(((s.day - 1) % 7 + 7) % 7 + 1);
}

std::optional<TDateTime> LocalDateTime(std::time_t time, int milliSecond) noexcept {
    std::tm tm{};
    if (localtime_r(&time, &tm) == nullptr) return std::nullopt;
    const auto date = TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    // A leap second reads as the last second of its minute.
    const auto timeOfDay =
        TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, milliSecond);
    if (!date || !timeOfDay) return std::nullopt;
    return *date + *timeOfDay;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const auto now = LocalDateTime(ts.tv_sec, int(ts.tv_nsec / 1'000'000));
    if (!now) throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo);
    return *now;
}

}  // namespace tarnwick
