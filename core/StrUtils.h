#pragma once

// Byte-string helpers shared by every layer. Protocol text is handled as bytes; case folding
// touches the ASCII letters only, so any other byte passes through unchanged.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

constexpr char UpCase(char c) noexcept { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
constexpr char LowCase(char c) noexcept { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Equal after upper-casing the ASCII letters.
bool SameText(std::string_view a, std::string_view b) noexcept;
// Three-way comparison after upper-casing the ASCII letters (negative, 0, positive).
int CompareText(std::string_view a, std::string_view b) noexcept;
bool StartsText(std::string_view prefix, std::string_view s) noexcept;
// 1-based position of the first occurrence of needle in haystack ignoring ASCII case, 0 when none.
std::size_t PosText(std::string_view needle, std::string_view haystack) noexcept;

// Trimming removes every byte of value 0x20 or below.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Decimal integers: optional leading blanks, an optional sign, then digits and nothing else.
// The result must fit the type. StrToInt and StrToInt64 raise EConvertError
// "'<text>' is not a valid integer value"; the Try forms return nothing instead.
std::optional<std::int32_t> TryStrToInt(std::string_view s) noexcept;
std::optional<std::int64_t> TryStrToInt64(std::string_view s) noexcept;
std::int32_t StrToInt(std::string_view s);
std::int64_t StrToInt64(std::string_view s);
std::int32_t StrToIntDef(std::string_view s, std::int32_t fallback) noexcept;
// A non-negative decimal integer that fits 63 bits, blanks around it allowed: digits only, no
// sign.
std::optional<std::uint64_t> TryStrToUnsigned(std::string_view s);

// The valid UTF-8 sequence at text[at]: its length (1 to 4) with its code point in code, or 0
// when the bytes there are no valid UTF-8 (a stray or missing continuation byte, an overlong
// form, a surrogate, a value past U+10FFFF, a sequence cut off by the end).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& code) noexcept;
// True when text is valid UTF-8 throughout, in the sense above.
bool IsValidUtf8(std::string_view text) noexcept;
// True for the invisible controls of text direction (U+061C, U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069), which can make "clip\u202Egpj.exe" read as "clipexe.jpg".
bool IsDirectionControl(char32_t code) noexcept;

// The character a Windows-1252 byte stands for; the five unassigned bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) keep their own code points.
char32_t Windows1252CodePoint(unsigned char byte) noexcept;
// Appends code as UTF-8; a surrogate or a value past U+10FFFF is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t code);

// printf-style formatting into a std::string (for the fixed message formats with %s and %d).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnwick
