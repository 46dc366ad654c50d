#pragma once

// The records the built-in lookup makes, and the texts it writes into them itself: a length as the lookup service writes it ("1:05", "1:02:03"), a size ("12.3 MB"), an ISO
// 8601 duration read into seconds, a file name from a Content-Disposition value or from an
// address's last path segment.
//
// Plain functions over byte strings (UTF-8 where text is meant): any thread; nothing throws but
// std::bad_alloc.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "job/lookup/LookupRecord.h"

namespace tarnwick {

// What a lookup found out about one video, each field the record entry of that name.
struct TVideoEntries {
    std::string author;
    std::string title;
    std::string length;
    std::string size;
    std::string filename;
    std::string fileext;
    std::string preview;
    std::string url;
    // Request headers for the preview and the media; entries only when not empty.
    std::string referer;
    std::string useragent;
    std::string cookie;
};

// The record of a video: author, title, length, size, filename, fileext, preview and url, in
// that order, then referer, useragent and cookie when given. Every value is made one line.
TLookupRecord VideoRecord(const TVideoEntries& entries);

// A failed lookup's record: error=1 and, when given, the hint (made one line).
TLookupRecord FailedRecord(std::string_view hint);

// The record text of record: its entries joined by "|", as a lookup service sends it.
std::string RecordText(const TLookupRecord& record);

// An ISO 8601 duration in whole seconds (a fraction is rounded): "PT1H2M3S" gives 3723, "PT90M"
// 5400, "P1DT2H" 93600, "PT3.5S" 4; letters in either case. Nothing for anything else: an empty
// text, "P" or "PT" alone, years, months or weeks (no fixed length), a sign, a misplaced part, or
// a total beyond ten years.
std::optional<std::int64_t> ParseIsoDuration(std::string_view text);

// "m:ss" below an hour, "h:mm:ss" from an hour on: 65 gives "1:05", 3723 "1:02:03"; negative
// counts give "0:00".
std::string LengthText(std::int64_t seconds);

// bytes in the largest unit that is at least 1, to one decimal, units of 1024: "512 bytes",
// "2.0 KB", "12.3 MB", "1.5 GB". Negative counts give "".
std::string SizeText(std::int64_t bytes);

// text with every run of blanks and control bytes made one blank, and none at either end: one
// line, as a record entry must be.
std::string OneLineText(std::string_view text);

// A title as a page wrote it, made plain: its character references decoded (once more than the
// parser did, as pages that encode twice need), then what reads as a tag ("<b>", "</span>",
// "<br/>", "<!-- x -->": a "<" before a letter, "/" or "!", up to the next ">") dropped, and made
// one line. "1 < 2" keeps its "<".
std::string PlainTitle(std::string_view text);

// text with each "%XX" (two hexadecimal digits) replaced by its byte; any other "%" kept.
std::string PercentDecode(std::string_view text);

// The file name a Content-Disposition value gives: the "filename*" parameter (RFC 5987:
// charset'language'percent-encoded, UTF-8 or ISO-8859-1) when it can be read, otherwise
// "filename" (quoted or not); made valid UTF-8, its directory part dropped. Empty when none.
std::string DispositionFileName(std::string_view value);

// The last segment of an address's path, percent-decoded (its query and fragment left out);
// empty for an address whose path ends in "/".
std::string LastPathSegment(std::string_view address);

// A file name split at its last "." into stem and extension (without the dot); no extension when
// there is no dot, or it is the first character, or more than 8 bytes follow it.
std::pair<std::string, std::string> SplitExtension(std::string_view name);

}  // namespace tarnwick
