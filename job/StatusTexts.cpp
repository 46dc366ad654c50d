#include "job/StatusTexts.h"

#include "job/ConversionTable.h"

namespace tarnwick {

std::string_view JobStatusText(TJobStatus status) {
    switch (status) {
        case jsCompleted: return kCompletedText;
        case jsUnavailable: return kUnavailableText;
        case jsAborted: return kAbortedText;
    }
    return kAbortedText;
}

std::int64_t RoundedKb(std::int64_t bytes) {
    if (bytes <= 0) return 0;
    const std::int64_t whole = bytes / 1024;
    const std::int64_t rest = bytes % 1024;
    if (rest > 512 || (rest == 512 && whole % 2 == 1)) return whole + 1;
    return whole;
}

std::string ProgressExtensionText(std::string_view fileExtension, std::int32_t format) {
    if (IsHighDefinitionCase(fileExtension, format)) return "avi (HD)";
    if (format <= 0 || format > 7) return std::string(fileExtension);
    return std::string(TargetExtension(format));
}

std::string TerminalSafeText(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                           : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F
                           : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no valid UTF-8.
        const bool valid = length == 1 || (length == 2 && code >= 0x80) ||
                           (length == 3 && code >= 0x800 && (code < 0xD800 || code > 0xDFFF)) ||
                           (length == 4 && code >= 0x10000 && code <= 0x10FFFF);
        const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x61C ||
                             code == 0x200E || code == 0x200F ||
                             (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
        if (!valid || control) {
            safe += '?';
            i += valid ? length : 1;
            continue;
        }
        safe.append(text.substr(i, length));
        i += length;
    }
    return safe;
}

std::string ProgressLineText(std::string_view fileName, std::string_view fileExtension,
                             std::int32_t format, std::int64_t bytesSoFar,
                             std::int64_t totalBytes) {
    std::string line(fileName);
    line.append(".").append(ProgressExtensionText(fileExtension, format));
    line.append(kProgressSeparator);
    line.append(std::to_string(RoundedKb(bytesSoFar))).append(" Kb of ");
    line.append(std::to_string(RoundedKb(totalBytes))).append(" Kb");
    return line;
}

}  // namespace tarnwick
