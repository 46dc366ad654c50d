#include "job/StatusTexts.h"

#include <array>

namespace tarnwick {

namespace {

// The conversion's target extensions by format, 0 to 7.
constexpr std::array<std::string_view, 8> kTargetExtensions = {"flv", "mov", "mp4", "mp4",
                                                               "3gp", "wmv", "avi", "mp3"};

}  // namespace

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
    if (fileExtension == "mp4" && format == 6) return "avi (HD)";
    if (format <= 0 || format >= static_cast<std::int32_t>(kTargetExtensions.size()))
        return std::string(fileExtension);
    return std::string(kTargetExtensions[static_cast<std::size_t>(format)]);
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
