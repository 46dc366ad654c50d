#include "job/session/StatusTexts.h"

#include "core/StrUtils.h"
#include "job/convert/ConversionTable.h"

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
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = Utf8SequenceAt(text, i, code);
        const bool control =
            code < 0x20 || (code >= 0x7F && code <= 0x9F) || IsDirectionControl(code);
        if (length == 0 || control) {
            safe += '?';
            i += length == 0 ? 1 : length;
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
