#include "job/streams/DashValues.h"

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits with an optional fraction at the start of text, taken off it; nothing when none.
std::optional<double> TakeNumber(std::string_view& text) {
    std::size_t at = 0;
    double value = 0;
    while (at < text.size() && IsDigit(text[at]) && at < 15)
        value = value * 10 + (text[at++] - '0');
    if (at == 0) return std::nullopt;
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        for (++at; at < text.size() && IsDigit(text[at]); ++at, scale /= 10)
            value += (text[at] - '0') * scale;
    }
    text.remove_prefix(at);
    return value;
}

std::string Padded(std::uint64_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

}  // namespace

std::optional<double> ReadIsoDuration(std::string_view text) {
    const std::string trimmed = Trim(text);
    text = trimmed;
    if (!text.starts_with('P') || text.size() < 3) return std::nullopt;
    text.remove_prefix(1);
    double seconds = 0;
    bool inTime = false;
    std::string_view units = "YMD";  // the units still allowed, in order
    while (!text.empty()) {
        if (text.front() == 'T' && !inTime) {
            inTime = true;
            units = "HMS";
            text.remove_prefix(1);
            continue;
        }
        const std::optional<double> number = TakeNumber(text);
        if (!number || text.empty()) return std::nullopt;
        const std::size_t unit = units.find(text.front());
        if (unit == std::string_view::npos) return std::nullopt;
        static constexpr double kDay = 86400, kHour = 3600, kMinute = 60;
        const char u = text.front();
        if (!inTime && u != 'D') {
            if (*number != 0) return std::nullopt;  // years and months have no fixed length
        } else {
            seconds += *number * (u == 'D' ? kDay : u == 'H' ? kHour : u == 'M' ? kMinute : 1);
        }
        units.remove_prefix(unit + 1);
        text.remove_prefix(1);
    }
    return inTime && units == "HMS" ? std::nullopt : std::optional(seconds);
}

std::optional<TByteRange> ReadDashRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::optional<std::uint64_t> first = TryStrToUnsigned(text.substr(0, dash));
    const std::optional<std::uint64_t> last = TryStrToUnsigned(text.substr(dash + 1));
    if (!first || !last || *first > *last || *last >= kMaxStreamByteOffset) return std::nullopt;
    return TByteRange{*first, *last - *first + 1};
}

std::optional<std::string> ExpandDashTemplate(std::string_view pattern,
                                              const TDashTemplateValues& values) {
    std::string out;
    while (!pattern.empty()) {
        const std::size_t open = pattern.find('$');
        out += pattern.substr(0, open);
        if (open == std::string_view::npos) break;
        const std::size_t close = pattern.find('$', open + 1);
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view name = pattern.substr(open + 1, close - open - 1);
        pattern.remove_prefix(close + 1);
        if (name.empty()) {
            out += '$';
            continue;
        }
        std::size_t width = 0;
        if (const std::size_t percent = name.find('%'); percent != std::string_view::npos) {
            const std::string_view tag = name.substr(percent + 1);
            const std::optional<std::uint64_t> digits =
                tag.size() >= 3 && tag.front() == '0' && tag.back() == 'd'
                    ? TryStrToUnsigned(tag.substr(1, tag.size() - 2))
                    : std::nullopt;
            if (!digits || *digits > 32 || name.starts_with("RepresentationID"))
                return std::nullopt;
            width = std::size_t(*digits);
            name = name.substr(0, percent);
        }
        if (name == "RepresentationID")
            out += values.representationId;
        else if (name == "Bandwidth")
            out += Padded(std::uint64_t(values.bandwidth), width);
        else if (name == "Number" && values.number)
            out += Padded(*values.number, width);
        else if (name == "Time" && values.time)
            out += Padded(*values.time, width);
        else
            return std::nullopt;
    }
    return out;
}

}  // namespace tarnwick
