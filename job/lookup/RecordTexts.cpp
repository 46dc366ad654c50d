#include "job/lookup/RecordTexts.h"

#include <cmath>

#include "core/StrUtils.h"
#include "job/lookup/CharacterReferences.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/PageCharset.h"

namespace tarnwick {

namespace {

constexpr double kLongestDuration = 10.0 * 366 * 24 * 3600;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A name as text, whatever bytes it came in.
std::string AsUtf8(std::string_view name) {
    return IsValidUtf8(name) ? std::string(name) : DecodePageText(name, {});
}

std::string WithoutDirectory(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

// "filename*" as RFC 5987 writes it: charset'language'percent-encoded bytes.
std::string ExtendedValue(std::string_view value) {
    const std::size_t first = value.find('\'');
    if (first == std::string_view::npos) return {};
    const std::size_t second = value.find('\'', first + 1);
    if (second == std::string_view::npos) return {};
    const std::string charset = LowerCase(Trim(value.substr(0, first)));
    const std::string bytes = PercentDecode(value.substr(second + 1));
    if (charset == "utf-8") return IsValidUtf8(bytes) ? bytes : std::string();
    if (charset == "iso-8859-1") return DecodePageText(bytes, "text/plain; charset=iso-8859-1");
    return {};
}

}  // namespace

TLookupRecord VideoRecord(const TVideoEntries& entries) {
    TLookupRecord record;
    const std::pair<std::string_view, const std::string&> fields[] = {
        {"author", entries.author},     {"title", entries.title},
        {"length", entries.length},     {"size", entries.size},
        {"filename", entries.filename}, {"fileext", entries.fileext},
        {"preview", entries.preview},   {"url", entries.url}};
    for (const auto& [name, value] : fields) record.Add(std::string(name), OneLineText(value));
    const std::pair<std::string_view, const std::string&> headers[] = {
        {kRefererEntry, entries.referer},
        {kUserAgentEntry, entries.useragent},
        {kCookieEntry, entries.cookie}};
    for (const auto& [name, value] : headers)
        if (!value.empty()) record.Add(std::string(name), OneLineText(value));
    return record;
}

TLookupRecord FailedRecord(std::string_view hint) {
    TLookupRecord record;
    record.Add("error", "1");
    if (!hint.empty()) record.Add(std::string(kHintEntry), OneLineText(hint));
    return record;
}

std::string RecordText(const TLookupRecord& record) {
    std::string text;
    for (std::size_t i = 0; i < record.Count(); ++i) {
        if (i > 0) text += '|';
        text += record.Entry(i);
    }
    return text;
}

std::optional<std::int64_t> ParseIsoDuration(std::string_view text) {
    const std::string s = Trim(text);
    if (s.size() < 3 || UpCase(s[0]) != 'P') return std::nullopt;
    double total = 0;
    bool time = false;
    bool any = false;
    int stage = 0;  // the last unit read: 1 days, 2 hours, 3 minutes, 4 seconds
    for (std::size_t i = 1; i < s.size();) {
        if (UpCase(s[i]) == 'T') {
            if (time || ++i == s.size()) return std::nullopt;
            time = true;
            continue;
        }
        const std::size_t start = i;
        double value = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') value = value * 10 + (s[i++] - '0');
        if (i == start) return std::nullopt;
        if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
            double scale = 0.1;
            for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
                value += (s[i] - '0') * scale;
        }
        if (i == s.size()) return std::nullopt;
        const char unit = UpCase(s[i++]);
        int next = 0;
        double seconds = 0;
        if (!time && unit == 'D') {
            next = 1, seconds = 86400;
        } else if (time && unit == 'H') {
            next = 2, seconds = 3600;
        } else if (time && unit == 'M') {
            next = 3, seconds = 60;
        } else if (time && unit == 'S') {
            next = 4, seconds = 1;
        }
        if (next <= stage) return std::nullopt;
        stage = next;
        total += value * seconds;
        if (total > kLongestDuration) return std::nullopt;
        any = true;
    }
    if (!any) return std::nullopt;
    return static_cast<std::int64_t>(std::llround(total));
}

std::string LengthText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const std::int64_t hours = seconds / 3600;
    const int minutes = static_cast<int>(seconds % 3600 / 60);
    const int rest = static_cast<int>(seconds % 60);
    if (hours > 0) return Format("%lld:%02d:%02d", static_cast<long long>(hours), minutes, rest);
    return Format("%d:%02d", minutes, rest);
}

std::string SizeText(std::int64_t bytes) {
    if (bytes < 0) return {};
    if (bytes < 1024) return Format("%lld bytes", static_cast<long long>(bytes));
    constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // 1023.95 KB would print as "1024.0 KB": such a value goes up a unit.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    return Format("%.1f %s", value, kUnits[unit]);
}

std::string OneLineText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool blank = false;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F) {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

std::string PlainTitle(std::string_view text) {
    const std::string decoded = DecodeCharacterReferences(text);
    std::string out;
    out.reserve(decoded.size());
    // Past the last ">" no tag can close: a long run of "<a" costs one search, not one each.
    const std::size_t lastClose = decoded.rfind('>');
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const char next = i + 1 < decoded.size() ? LowCase(decoded[i + 1]) : '\0';
        const bool tagStart = decoded[i] == '<' && lastClose != std::string::npos &&
                              i < lastClose &&
                              ((next >= 'a' && next <= 'z') || next == '/' || next == '!');
        if (tagStart)
            i = decoded.find('>', i);
        else
            out += decoded[i];
    }
    return OneLineText(out);
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high = 0;
        int low = 0;
        if (text[i] == '%' && i + 2 < text.size() && (high = HexValue(text[i + 1])) >= 0 &&
            (low = HexValue(text[i + 2])) >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DispositionFileName(std::string_view value) {
    std::string plain;
    std::string extended;
    std::size_t at = value.find(';');
    while (at != std::string_view::npos) {
        const std::size_t equals = value.find_first_of("=;", at + 1);
        if (equals == std::string_view::npos) break;
        if (value[equals] == ';') {
            at = equals;
            continue;
        }
        const std::string name = LowerCase(Trim(value.substr(at + 1, equals - at - 1)));
        std::size_t i = equals + 1;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        std::string parameter;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                parameter += value[i];
            }
            at = value.find(';', i);
        } else {
            at = value.find(';', i);
            parameter = Trim(value.substr(i, at == std::string_view::npos ? at : at - i));
        }
        if (name == "filename*" && extended.empty()) extended = ExtendedValue(parameter);
        if (name == "filename" && plain.empty()) plain = parameter;
    }
    const std::string chosen = extended.empty() ? AsUtf8(plain) : extended;
    return Trim(WithoutDirectory(chosen));
}

std::string LastPathSegment(std::string_view address) {
    address = address.substr(0, address.find('#'));
    address = address.substr(0, address.find('?'));
    if (const std::size_t scheme = address.find("://"); scheme != std::string_view::npos) {
        const std::size_t path = address.find('/', scheme + 3);
        if (path == std::string_view::npos) return {};
        address.remove_prefix(path);
    }
    const std::size_t slash = address.rfind('/');
    return AsUtf8(PercentDecode(slash == std::string_view::npos ? address
                                                                : address.substr(slash + 1)));
}

std::pair<std::string, std::string> SplitExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot - 1 > 8 ||
        dot + 1 == name.size())
        return {std::string(name), {}};
    return {std::string(name.substr(0, dot)), std::string(name.substr(dot + 1))};
}

}  // namespace tarnwick
