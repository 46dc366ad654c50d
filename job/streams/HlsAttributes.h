#pragma once

// The values inside an HLS playlist's tags: attribute lists (NAME=value,NAME="quoted, with
// commas"), decimal durations, byte ranges, resolutions and 16-byte hexadecimal IVs.
//
// Plain functions: any thread; nothing throws but std::bad_alloc. Every reader refuses what does
// not fit its form exactly by returning nothing.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/streams/StreamParts.h"

namespace tarnwick {

// An attribute list's pairs in their order, quotes taken off quoted values. Names are
// upper-case letters, digits and '-'; a value is a quoted string (which may hold commas) or runs
// to the next comma. Nothing for a list that breaks this form (an unclosed quote, a pair without
// '=', text after a closing quote).
class THlsAttributes {
public:
    static std::optional<THlsAttributes> Read(std::string_view text);

    // The value of name, or empty when the list has none.
    std::string Value(std::string_view name) const;
    bool Has(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

// A duration in seconds written as decimal digits with an optional fraction ("9.009"); nothing
// for anything else (a sign, an exponent, "nan"), for zero and for more than a day.
std::optional<double> ReadHlsDuration(std::string_view text);


// "<length>[@<offset>]": the length (at least 1) and the offset when one is written. Nothing
// when either is no integer or the range would reach past kMaxStreamByteOffset.
struct THlsByteRange {
    std::uint64_t length = 0;
    std::optional<std::uint64_t> offset;
};
std::optional<THlsByteRange> ReadHlsByteRange(std::string_view text);

// "<width>x<height>", both from 1 to 65535.
std::optional<std::pair<int, int>> ReadHlsResolution(std::string_view text);

// "0x" (or "0X") and 32 hexadecimal digits: the 16 bytes they write.
std::optional<std::array<std::uint8_t, 16>> ReadHlsIv(std::string_view text);

}  // namespace tarnwick
