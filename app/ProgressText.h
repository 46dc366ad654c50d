#pragma once

// The texts of a transfer in the status band: the progress line of the status line, and the
// speed and time left at the band's right end.

#include <QString>

#include <cstdint>
#include <string_view>

#include "job/session/DownloadSession.h"

namespace tarnwick {

// The progress line for the screen: the file name shown as DisplayText shows names from the
// lookup service, the rest as written.
QString ProgressLine(const TTransferProgress& progress);

// "2.4 MB/s", "512 KB/s", "80 B/s" (binary multiples, as the Kb counts are).
QString RateText(double bytesPerSecond);
// "0:42 left", "12:05 left", "1:02:03 left".
QString TimeLeftText(std::int64_t seconds);

}  // namespace tarnwick
