#include "job/lookup/MediaCandidates.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/StrUtils.h"
#include "job/fetch/MediaTypes.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

constexpr int kFewestLines = 100;
constexpr int kMostLines = 4320;
constexpr int kStandardLines = 480;

constexpr std::string_view kGenericTypes[] = {
    "application/octet-stream", "binary/octet-stream",        "application/download",
    "application/x-download",   "application/force-download", "application/mp4",
    "application/ogg"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string ExtensionOf(std::string_view fileName) {
    return LowerCase(SplitExtension(fileName).second);
}

bool IsGenericType(const std::string& type) {
    return type.empty() || std::find(std::begin(kGenericTypes), std::end(kGenericTypes), type) !=
                               std::end(kGenericTypes);
}

bool IsLetterOrDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z'); }

// The lines a player's word for a copy stands for; 0 for a hint without one.
int WordLines(std::string_view text) {
    std::string_view previous;
    for (std::size_t i = 0; i < text.size();) {
        if (!IsLetterOrDigit(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && IsLetterOrDigit(text[i])) ++i;
        const std::string_view word = text.substr(start, i - start);
        if (word == "fhd" || (word == "hd" && previous == "full")) return 1080;
        if (word == "uhd") return 2160;
        if (word == "qhd") return 1440;
        if (word == "hd") return 720;
        if (word == "sd") return 480;
        previous = word;
    }
    return 0;
}

// A size's number of pixels ("720", "720px"); 0 for anything else.
int Pixels(std::string_view size) {
    const std::string text = LowerCase(Trim(size));
    std::size_t digits = 0;
    while (digits < text.size() && IsDigit(text[digits])) ++digits;
    if (digits == 0 || digits > 5 || (digits < text.size() && text.substr(digits) != "px")) return 0;
    return std::atoi(text.substr(0, digits).c_str());
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
    return lines > 0 ? lines : WordLines(text);
}

int FrameLines(std::string_view height, std::string_view width) {
    int lines = Pixels(height);
    if (lines == 0) lines = Pixels(width) * 9 / 16;
    return lines >= kFewestLines && lines <= kMostLines ? lines : 0;
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

bool IsMediaAnswer(std::string_view contentType, std::string_view fileName) {
    const std::string type = MediaTypeOf(contentType);
    if (type.find("mpegurl") != std::string::npos) return false;
    if (type.starts_with("video/") || type.starts_with("audio/")) return true;
    return IsGenericType(type) && IsMediaExtension(ExtensionOf(fileName));
}

TStreamFormat StreamAnswerFormat(std::string_view contentType, std::string_view fileName) {
    if (const TStreamFormat named = StreamFormatForType(contentType); named != TStreamFormat::None)
        return named;
    const std::string type = MediaTypeOf(contentType);
    if (!IsGenericType(type) && type != "text/plain") return TStreamFormat::None;
    return StreamFormatForExtension(ExtensionOf(fileName));
}

bool MayBeStreamByContent(std::string_view contentType) {
    const std::string type = MediaTypeOf(contentType);
    if (IsWebPageType(type)) return false;
    return IsGenericType(type) || type.starts_with("text/") || type == "application/xml" ||
           type.ends_with("+xml");
}

std::string MediaExtension(std::string_view fileName, std::string_view contentType) {
    const std::string own = ExtensionOf(fileName);
    if (IsMediaExtension(own)) return own;
    if (std::string byType = MediaExtensionForType(contentType); !byType.empty()) return byType;
    const std::string type = MediaTypeOf(contentType);
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
