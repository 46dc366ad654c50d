#include "http/IdInternetDate.h"

#include <cmath>
#include <cstdlib>

#include "core/StrUtils.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"
#include "http/IdURI.h"

namespace tarnwick {

namespace {

constexpr std::string_view kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <std::size_t N>
int NameIndex(const std::string_view (&names)[N], std::string_view text) noexcept {
    for (std::size_t i = 0; i < N; ++i)
        if (SameText(text, names[i])) return int(i + 1);
    return 0;
}

template <std::size_t N>
std::string_view NameOf(const std::string_view (&names)[N], int index) noexcept {
    return index >= 1 && std::size_t(index) <= N ? names[index - 1] : std::string_view();
}

// Up to count bytes of s from the 0-based position pos; empty past the end.
std::string_view Copy(std::string_view s, std::size_t pos, std::size_t count) noexcept {
    return pos < s.size() ? s.substr(pos, count) : std::string_view();
}

}  // namespace

int DayNameIndex(std::string_view text) noexcept { return NameIndex(kDayNames, text); }

int MonthNameIndex(std::string_view text) noexcept { return NameIndex(kMonthNames, text); }

TDateTime ParseInternetDate(std::string& text) {
    text = Trim(text);
    if (text.empty()) return 0;

    // 'Sun,' and 'Sunday,' alike.
    if (DayNameIndex(Copy(text, 0, 3)) != 0) {
        CutToken(text, " ");
        text = TrimLeft(text);
    }

    // Dashes separate the date's fields only when the first one comes before the first blank,
    // so a dash in a zone ('08:49:37 -0500') does not count.
    const auto dash = text.find('-');
    const auto blank = text.find(' ');
    const bool dashes =
        dash != std::string::npos && dash >= 1 && blank != std::string::npos && dash < blank;
    const std::string_view separator = dashes ? "-" : " ";
    int day = 0;
    int month = 0;
    const auto readDay = [&] {
        day = StrToIntDef(CutToken(text, separator), 1);
        text = TrimLeft(text);
    };
    const auto readMonth = [&] {
        month = MonthNameIndex(CutToken(text, separator));
        text = TrimLeft(text);
    };
    if (MonthNameIndex(CutToken(text, separator, false)) != 0) {
        readMonth();
        readDay();
    } else {
        readDay();
        readMonth();
    }

    std::string token = CutToken(text, " ");
    int year = StrToIntDef(token, 1900);
    if (year == 1900) {
        // asctime: the time comes before the year.
        year = StrToIntDef(text, 1900);
        text = std::move(token);
    }
    if (year < 80)
        year += 2000;
    else if (year <= 99)
        year += 1900;

    const auto date = TryEncodeDate(year, month, day);
    if (!date) return 0;
    TDateTime result = *date;

    if (text.find(':') != std::string::npos) {
        std::string time = CutToken(text, " ");
        const int hour = StrToIntDef(CutToken(time, ":"), 0);
        const int minute = StrToIntDef(CutToken(time, ":"), 0);
        const int second = StrToIntDef(CutToken(time, " "), 0);
        const auto timeOfDay = TryEncodeTime(hour, minute, second, 0);
        if (!timeOfDay) return 0;
        result += *timeOfDay;
    }
    text = TrimLeft(text);
    return result;
}

TDateTime ParseZoneOffset(std::string_view text) noexcept {
    const std::string zone = Trim(text).substr(0, 5);
    if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
    const auto hours = TryStrToInt(Copy(zone, 1, 2));
    const auto minutes = TryStrToInt(Copy(zone, 3, 2));
    if (!hours || !minutes) return 0;
    const auto offset = TryEncodeTime(*hours, *minutes, 0, 0);
    if (!offset) return 0;
    return zone[0] == '-' ? -*offset : *offset;
}

TDateTime LocalUtcOffset() {
    const std::time_t now = std::time(nullptr);
    if (now == std::time_t(-1)) throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo);
    return LocalUtcOffset(now);
}

TDateTime LocalUtcOffset(std::time_t at) {
    std::tm tm{};
    if (localtime_r(&at, &tm) == nullptr)
        throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo);
    // tm_gmtoff already holds the standard or daylight offset that tm_isdst says is in force.
    const long bias = -tm.tm_gmtoff / 60;  // minutes; UTC = local + bias
    const long magnitude = std::labs(bias);
    const auto offset = TryEncodeTime(int(magnitude / 60), int(magnitude % 60), 0, 0);
    if (!offset) throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo);
    return bias > 0 ? -*offset : *offset;
}

TDateTime InternetDateToLocal(std::string_view text) {
    std::string rest(text);
    const TDateTime date = ParseInternetDate(rest);
    const TDateTime offset = rest.size() >= 5 ? ParseZoneOffset(rest) : 0;
    return date - offset + LocalUtcOffset();
}

std::string FormatZoneOffset(TDateTime offset, bool useGmtName) {
    if (useGmtName && offset == 0) return "GMT";
    const TTimeParts t = DecodeTime(std::fabs(offset));
    return Format("%c%.2d%.2d", offset >= 0 ? '+' : '-', t.Hour, t.Minute);
}

std::string FormatInternetDate(TDateTime value, bool useGmtName) {
    const TDateParts d = DecodeDate(value);
    const TTimeParts t = DecodeTime(value);
    const std::string zone = FormatZoneOffset(LocalUtcOffset(), useGmtName);
    const std::string dayName(NameOf(kDayNames, DayOfWeek(value)));
    const std::string monthName(NameOf(kMonthNames, d.Month));
    return Format("%s, %d %s %d %.2d:%.2d:%.2d %s", dayName.c_str(), d.Day, monthName.c_str(),
                  d.Year, t.Hour, t.Minute, t.Second, zone.c_str());
}

}  // namespace tarnwick
