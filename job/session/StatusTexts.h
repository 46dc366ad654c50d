#pragma once

// The texts a front end shows for a job, so the window and tarnwick-download read the same: the
// job status texts and the progress line.

#include <cstdint>
#include <string>
#include <string_view>

#include "job/session/JobState.h"

namespace tarnwick {

inline constexpr std::string_view kCompletedText = "Download is completed.";
inline constexpr std::string_view kUnavailableText = "Video file is unavailable.";
inline constexpr std::string_view kAbortedText = "Download aborted.";
inline constexpr std::string_view kDownloadStartedText = "Download started.";
// Blank, em dash (U+2014), blank.
inline constexpr std::string_view kProgressSeparator = " \xe2\x80\x94 ";

// The status line's text for a finished job.
std::string_view JobStatusText(TJobStatus status);

// bytes / 1024 rounded to the nearest whole number, a half to the even one (1536 gives 2, 2560
// gives 2, 3584 gives 4). Negative counts give 0.
std::int64_t RoundedKb(std::int64_t bytes);

// What the progress line calls the file being made: "avi (HD)" for an "mp4" download with
// format 6; the download's own extension for format 0; the format's target extension otherwise.
std::string ProgressExtensionText(std::string_view fileExtension, std::int32_t format);

// text made safe to print on a terminal: control characters (C0, DEL and C1, which start escape
// sequences that could clear the screen, retitle the window or hide text, and line breaks, which
// could forge a line of our own), the invisible controls of text direction, and bytes that are
// no part of valid UTF-8 each become "?". Everything else, UTF-8 letters included, stays.
std::string TerminalSafeText(std::string_view text);

// file name + "." + extension text + " — " + Kb so far + " Kb of " + Kb total + " Kb".
std::string ProgressLineText(std::string_view fileName, std::string_view fileExtension,
                             std::int32_t format, std::int64_t bytesSoFar,
                             std::int64_t totalBytes);

}  // namespace tarnwick
