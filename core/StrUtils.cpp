#include "core/StrUtils.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

#include "core/Exception.h"

namespace tarnwick {

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = UpCase(c);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = LowCase(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpCase(a[i]) != UpCase(b[i])) return false;
    return true;
}

int CompareText(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(UpCase(a[i]));
        const auto y = static_cast<unsigned char>(UpCase(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsText(std::string_view prefix, std::string_view s) noexcept {
    return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::size_t PosText(std::string_view needle, std::string_view haystack) noexcept {
    if (needle.empty() || needle.size() > haystack.size()) return 0;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
        if (SameText(needle, haystack.substr(i, needle.size()))) return i + 1;
    return 0;
}

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

template <typename T>
std::optional<T> ParseDecimal(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size()) return std::nullopt;
    // Accumulate as a negative number so that the type's minimum fits.
    const T min = std::numeric_limits<T>::min();
    T value = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9') return std::nullopt;
        const T digit = c - '0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min) return std::nullopt;
        value = -value;
    }
    return value;
}

[[noreturn]] void RaiseNotAnInteger(std::string_view s) {
    throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

}  // namespace

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlankOrControl(s[b])) ++b;
    while (e > b && IsBlankOrControl(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsBlankOrControl(s[b])) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && IsBlankOrControl(s[e - 1])) --e;
    return std::string(s.substr(0, e));
}

std::optional<std::int32_t> TryStrToInt(std::string_view s) noexcept {
    return ParseDecimal<std::int32_t>(s);
}

std::optional<std::int64_t> TryStrToInt64(std::string_view s) noexcept {
    return ParseDecimal<std::int64_t>(s);
}

std::int32_t StrToInt(std::string_view s) {
    if (auto v = TryStrToInt(s)) return *v;
    RaiseNotAnInteger(s);
}

std::int64_t StrToInt64(std::string_view s) {
    if (auto v = TryStrToInt64(s)) return *v;
    RaiseNotAnInteger(s);
}

std::int32_t StrToIntDef(std::string_view s, std::int32_t fallback) noexcept {
    return TryStrToInt(s).value_or(fallback);
}

std::optional<std::uint64_t> TryStrToUnsigned(std::string_view s) {
    const std::string trimmed = Trim(s);
    if (trimmed.empty() || trimmed.front() < '0' || trimmed.front() > '9') return std::nullopt;
    const std::optional<std::int64_t> value = TryStrToInt64(trimmed);
    if (!value || *value < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*value);
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        out.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

bool IsDirectionControl(char32_t code) noexcept {
    return code == 0x61C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

std::size_t Utf8SequenceAt(std::string_view text, std::size_t i, char32_t& cp) noexcept {
    if (i >= text.size()) return 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t length = 0;
    char32_t low = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, low = 0x80, cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, low = 0x800, cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, low = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    if (cp < low || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool IsValidUtf8(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = Utf8SequenceAt(text, i, code);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Windows-1252 bytes 0x80 to 0x9F.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t Windows1252CodePoint(unsigned char byte) noexcept {
    return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : char32_t(byte);
}

void AppendUtf8(std::string& out, char32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = char32_t{0xFFFD};
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace tarnwick
