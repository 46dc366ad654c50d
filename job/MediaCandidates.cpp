#include "job/MediaCandidates.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/StrUtils.h"
#include "job/RecordTexts.h"

namespace tarnwick {

namespace {

constexpr int kFewestLines = 100;
constexpr int kMostLines = 4320;
constexpr int kStandardLines = 480;

constexpr std::pair<std::string_view, std::string_view> kTypeExtensions[] = {
    {"video/mp4", "mp4"},        {"video/x-m4v", "m4v"},        {"video/webm", "webm"},
    {"video/x-flv", "flv"},      {"video/flv", "flv"},          {"video/quicktime", "mov"},
    {"video/x-msvideo", "avi"},  {"video/avi", "avi"},          {"video/x-matroska", "mkv"},
    {"video/mpeg", "mpg"},       {"video/3gpp", "3gp"},         {"video/3gpp2", "3g2"},
    {"video/ogg", "ogv"},        {"video/mp2t", "ts"},          {"video/x-ms-wmv", "wmv"},
    {"video/x-ms-asf", "asf"},   {"application/mp4", "mp4"},    {"application/ogg", "ogg"},
    {"audio/mpeg", "mp3"},       {"audio/mp3", "mp3"},          {"audio/mp4", "m4a"},
    {"audio/x-m4a", "m4a"},      {"audio/aac", "aac"},          {"audio/ogg", "ogg"},
    {"audio/opus", "opus"},      {"audio/webm", "weba"},        {"audio/wav", "wav"},
    {"audio/x-wav", "wav"},      {"audio/wave", "wav"},         {"audio/flac", "flac"},
    {"audio/x-flac", "flac"},    {"audio/x-ms-wma", "wma"},
};

constexpr std::string_view kMediaExtensions[] = {
    "mp4", "m4v", "webm", "flv", "f4v", "mov", "avi", "mkv", "mpg", "mpeg", "3gp",  "3g2", "ogv",
    "ts",  "wmv", "asf",  "mp3", "m4a", "aac", "ogg", "oga", "opus", "wav", "flac", "wma", "weba"};

constexpr std::string_view kGenericTypes[] = {
    "application/octet-stream", "binary/octet-stream",        "application/download",
    "application/x-download",   "application/force-download", "application/mp4",
    "application/ogg"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsMediaExtension(std::string_view extension) {
    const std::string lower = LowerCase(extension);
    return std::find(std::begin(kMediaExtensions), std::end(kMediaExtensions), lower) !=
           std::end(kMediaExtensions);
}

std::string ExtensionOf(std::string_view fileName) {
    return LowerCase(SplitExtension(fileName).second);
}

}  // namespace

int QualityLines(std::string_view hint) {
    const std::string text = LowerCase(hint);
    int lines = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        const std::size_t digits = i - start;
        const int value = digits <= 4 ? std::atoi(text.substr(start, digits).c_str()) : 0;
        const char next = i < text.size() ? text[i] : '\0';
        if (digits == 1 && next == 'k' && (value == 2 || value == 4 || value == 8))
            return value == 2 ? 1440 : value == 4 ? 2160 : 4320;
        // "1280x720": the width is passed over for the height.
        if (next == 'x' && i + 1 < text.size() && IsDigit(text[i + 1])) continue;
        if (digits >= 3 && value >= kFewestLines && value <= kMostLines) {
            lines = value;
            break;
        }
    }
    return lines;
}

std::vector<std::size_t> CandidateOrder(const std::vector<TMediaCandidate>& candidates, bool hd) {
    std::vector<std::size_t> order(candidates.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto rank = [&](std::size_t i) {
        const int lines = candidates[i].lines;
        if (lines <= 0) return std::pair(1, 0);
        if (hd) return std::pair(0, -lines);
        // Nearness first, then the fewer lines: 360 before 600.
        return std::pair(0, std::abs(lines - kStandardLines) * 2 + (lines > kStandardLines));
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
    return order;
}

std::string BareType(std::string_view contentType) {
    return LowerCase(Trim(contentType.substr(0, contentType.find(';'))));
}

bool IsPageType(std::string_view contentType) {
    const std::string type = BareType(contentType);
    return type == "text/html" || type == "application/xhtml+xml";
}

bool IsMediaAnswer(std::string_view contentType, std::string_view fileName) {
    const std::string type = BareType(contentType);
    if (type.find("mpegurl") != std::string::npos) return false;
    if (type.starts_with("video/") || type.starts_with("audio/")) return true;
    const bool generic = type.empty() || std::find(std::begin(kGenericTypes),
                                                   std::end(kGenericTypes),
                                                   type) != std::end(kGenericTypes);
    return generic && IsMediaExtension(ExtensionOf(fileName));
}

std::string MediaExtension(std::string_view fileName, std::string_view contentType) {
    const std::string own = ExtensionOf(fileName);
    if (IsMediaExtension(own)) return own;
    const std::string type = BareType(contentType);
    for (const auto& [known, extension] : kTypeExtensions)
        if (type == known) return std::string(extension);
    std::string safe;
    for (const char c : own)
        if ((c >= 'a' && c <= 'z') || IsDigit(c)) safe += c;
    if (!safe.empty()) return safe;
    if (type.starts_with("video/") || type.starts_with("audio/")) {
        std::string_view subtype = std::string_view(type).substr(6);
        if (subtype.starts_with("x-")) subtype.remove_prefix(2);
        for (const char c : subtype)
            if ((c >= 'a' && c <= 'z') || IsDigit(c)) safe += c;
    }
    return safe;
}

}  // namespace tarnwick
