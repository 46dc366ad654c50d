#include "job/lookup/CharacterReferences.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

// U+00A0 to U+00FF, by code point.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr std::pair<std::string_view, char32_t> kOtherNames[] = {
    {"amp", 0x26},      {"lt", 0x3C},       {"gt", 0x3E},       {"quot", 0x22},
    {"apos", 0x27},     {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},    {"circ", 0x2C6},
    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009},
    {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},
    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},
    {"sbquo", 0x201A},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},
    {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},   {"hellip", 0x2026},
    {"permil", 0x2030}, {"prime", 0x2032},  {"Prime", 0x2033},  {"lsaquo", 0x2039},
    {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122},  {"larr", 0x2190},
    {"rarr", 0x2192},   {"hearts", 0x2665},
};

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The numeric reference after "&#" at text[i]; returns the bytes it takes, 0 when there is none.
std::size_t NumericReference(std::string_view text, std::size_t i, char32_t& cp) {
    const std::size_t start = i;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    std::uint64_t value = 0;
    for (int d; i < text.size() && (d = DigitValue(text[i], hex)) >= 0; ++i)
        value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + d, 0x110000);
    if (i == digits) return 0;
    if (i < text.size() && text[i] == ';') ++i;
    if (value >= 0x80 && value < 0xA0)
        cp = Windows1252CodePoint(static_cast<unsigned char>(value));
    else if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        cp = 0xFFFD;
    else
        cp = static_cast<char32_t>(value);
    return i - start;
}

// The named reference after "&" at text[i]; returns the bytes it takes, 0 when there is none.
std::size_t NamedReference(std::string_view text, std::size_t i, char32_t& cp) {
    std::size_t end = i;
    while (end < text.size() && IsAsciiAlnum(text[end]) && end - i < 8) ++end;
    const std::string_view name = text.substr(i, end - i);
    const bool semicolon = end < text.size() && text[end] == ';';
    for (std::size_t k = 0; k < kLatin1Names.size(); ++k) {
        if (semicolon && name == kLatin1Names[k]) {
            cp = char32_t(0xA0 + k);
            return name.size() + 1;
        }
    }
    for (const auto& [known, value] : kOtherNames) {
        if (semicolon && name == known) {
            cp = value;
            return name.size() + 1;
        }
        // The four that pages often write without the semicolon; as in an attribute, not where
        // a letter, digit or "=" follows (a query like "?a=1&ltx=2").
        if (!semicolon && value < 0x40 && value != 0x27 && name == known &&
            (end == text.size() || text[end] != '=')) {
            cp = value;
            return known.size();
        }
    }
    return 0;
}

}  // namespace

std::string DecodeCharacterReferences(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        char32_t cp = 0;
        const bool numeric = i + 1 < text.size() && text[i + 1] == '#';
        const std::size_t taken =
            numeric ? NumericReference(text, i + 2, cp) : NamedReference(text, i + 1, cp);
        if (taken == 0) {
            out += text[i++];
            continue;
        }
        AppendUtf8(out, cp);
        i += (numeric ? 2 : 1) + taken;
    }
    return out;
}

}  // namespace tarnwick
