#include "job/streams/HlsAttributes.h"

#include <algorithm>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

bool IsNameChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    const char u = UpCase(c);
    return u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
}

}  // namespace

std::optional<THlsAttributes> THlsAttributes::Read(std::string_view text) {
    THlsAttributes list;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t equals = text.find('=', at);
        if (equals == std::string_view::npos || equals == at) return std::nullopt;
        std::string name(text.substr(at, equals - at));
        name = Trim(name);
        for (const char c : name)
            if (!IsNameChar(c)) return std::nullopt;
        at = equals + 1;
        std::string value;
        if (at < text.size() && text[at] == '"') {
            const std::size_t close = text.find('"', at + 1);
            if (close == std::string_view::npos) return std::nullopt;
            value = text.substr(at + 1, close - at - 1);
            at = close + 1;
            while (at < text.size() && text[at] == ' ') ++at;
            if (at < text.size() && text[at] != ',') return std::nullopt;
        } else {
            const std::size_t comma = std::min(text.find(',', at), text.size());
            value = Trim(text.substr(at, comma - at));
            at = comma;
        }
        list.pairs_.emplace_back(std::move(name), std::move(value));
        if (at < text.size()) ++at;  // the comma
    }
    return list;
}

std::string THlsAttributes::Value(std::string_view name) const {
    for (const auto& [key, value] : pairs_)
        if (key == name) return value;
    return {};
}

bool THlsAttributes::Has(std::string_view name) const {
    for (const auto& pair : pairs_)
        if (pair.first == name) return true;
    return false;
}

std::optional<double> ReadHlsDuration(std::string_view text) {
    const std::string trimmed = Trim(text);
    const std::size_t dot = trimmed.find('.');
    const std::string whole = trimmed.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : trimmed.substr(dot + 1);
    if (whole.empty() || whole.size() > 6) return std::nullopt;
    double seconds = 0;
    for (const char c : whole) {
        if (!IsDigit(c)) return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    double scale = 0.1;
    for (const char c : fraction) {
        if (!IsDigit(c)) return std::nullopt;
        seconds += (c - '0') * scale;
        scale /= 10;
    }
    if (seconds <= 0 || seconds > 86400) return std::nullopt;
    return seconds;
}

std::optional<THlsByteRange> ReadHlsByteRange(std::string_view text) {
    const std::size_t at = text.find('@');
    THlsByteRange range;
    const std::optional<std::uint64_t> length = TryStrToUnsigned(text.substr(0, at));
    if (!length || *length == 0 || *length > kMaxStreamByteOffset) return std::nullopt;
    range.length = *length;
    if (at != std::string_view::npos) {
        const std::optional<std::uint64_t> offset = TryStrToUnsigned(text.substr(at + 1));
        if (!offset || *offset > kMaxStreamByteOffset - range.length) return std::nullopt;
        range.offset = offset;
    }
    return range;
}

std::optional<std::pair<int, int>> ReadHlsResolution(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    const std::optional<std::uint64_t> width = TryStrToUnsigned(text.substr(0, x));
    const std::optional<std::uint64_t> height = TryStrToUnsigned(text.substr(x + 1));
    if (!width || !height || *width == 0 || *height == 0 || *width > 65535 || *height > 65535)
        return std::nullopt;
    return std::pair(int(*width), int(*height));
}

std::optional<std::array<std::uint8_t, 16>> ReadHlsIv(std::string_view text) {
    if (text.size() != 34 || text[0] != '0' || UpCase(text[1]) != 'X') return std::nullopt;
    std::array<std::uint8_t, 16> iv{};
    for (std::size_t i = 0; i < 16; ++i) {
        const int high = HexValue(text[2 + 2 * i]);
        const int low = HexValue(text[3 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        iv[i] = std::uint8_t(high * 16 + low);
    }
    return iv;
}

}  // namespace tarnwick
