#pragma once

// The texts of a transfer in the status band: the progress line of the status line, and the
// speed and time left at the band's right end.

#include <QString>

#include <cstdint>
#include <string_view>

namespace tarnwick {

// bytes / 1024 rounded to the nearest whole number, a half going to the even neighbour
// (1536 -> 2, 2560 -> 2, 3584 -> 4). Negative counts read as 0.
std::int64_t RoundedKb(std::int64_t bytes) noexcept;

// The extension the progress line names: the download's own extension for format 0, otherwise
// the format's target extension, and "avi (HD)" for the high-definition case (an "mp4" download
// with format 6). It names the file that will be delivered.
std::string_view DeliveredExtensionText(std::string_view fileExtension, std::int32_t format);

// "<file name>.<extension text> — <Kb so far> Kb of <Kb total> Kb", the file name shown as
// DisplayText shows names from the lookup service.
QString ProgressLine(std::string_view fileName, std::string_view extensionText, std::int64_t bytesSoFar,
                     std::int64_t totalBytes);

// "2.4 MB/s", "512 KB/s", "80 B/s" (binary multiples, as the Kb counts are).
QString RateText(double bytesPerSecond);
// "0:42 left", "12:05 left", "1:02:03 left".
QString TimeLeftText(std::int64_t seconds);

}  // namespace tarnwick
