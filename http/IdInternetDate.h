#pragma once

// Dates as they travel in headers and cookies: one lenient reader for the three classic layouts
//   'Sun, 06 Nov 1994 08:49:37 GMT'
//   'Sunday, 06-Nov-94 08:49:37 GMT'
//   'Sun Nov  6 08:49:37 1994'
// and the writer of the first one. Zone offsets are signed day fractions (one hour is 1/24).

#include <ctime>
#include <string>
#include <string_view>

#include "http/IdDateTime.h"

namespace tarnwick {

// 1 ("SUN") to 7 ("SAT") when text, upper-cased, is exactly a day name; otherwise 0.
int DayNameIndex(std::string_view text) noexcept;
// 1 ("JAN") to 12 ("DEC") when text, upper-cased, is exactly a month name; otherwise 0.
int MonthNameIndex(std::string_view text) noexcept;

// Reads the date and time at the start of text, in the zone the text was written in, and leaves
// in text what follows the time (normally the zone, e.g. "GMT" or "+0100"). Never raises:
// unreadable text, an impossible date or a time out of range gives 0 (text then holds what was
// left at that point). A day that is not a number reads as 1; a year that is not a number, or
// 1900, is read from the rest of the text instead (the asctime layout puts the time before the
// year). Two-digit years below 80 are 20xx, from 80 to 99 19xx. A missing time is midnight.
TDateTime ParseInternetDate(std::string& text);

// The offset of a numeric zone "+hhmm" or "-hhmm" (the first five bytes after trimming); 0 for
// anything else, zone names included.
TDateTime ParseZoneOffset(std::string_view text) noexcept;

// Local time minus UTC at the given moment (default: now), to the minute, as the C library's
// local time zone reports it, daylight saving included.
// Throws EIdFailedToRetreiveTimeZoneInfo "Failed attempting to retrieve time zone information."
// when the C library cannot say.
TDateTime LocalUtcOffset();
TDateTime LocalUtcOffset(std::time_t at);

// The local date-time of an internet date text: the parsed date minus its zone offset (only a
// numeric zone of at least five bytes counts) plus the current local offset. An unreadable text
// gives the zero date shifted by the local offset. Throws as LocalUtcOffset.
TDateTime InternetDateToLocal(std::string_view text);

// "GMT" when useGmtName and offset is exactly 0; otherwise a sign and four digits of hours and
// minutes of the offset ("+0000", "-0500", "+0530").
std::string FormatZoneOffset(TDateTime offset, bool useGmtName);

// value in the layout 'Sun, 6 Dec 2026 08:49:37 +0300' (day of month unpadded), with the machine's
// current zone offset whatever value is. Throws as LocalUtcOffset.
std::string FormatInternetDate(TDateTime value, bool useGmtName = false);

}  // namespace tarnwick
