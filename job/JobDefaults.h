#pragma once

// A job's defaults, defined once: the window starts with them, tarnwick-download uses them when
// no option says otherwise, and the session and the worker fall back on them.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tarnwick {

inline constexpr std::int32_t kDefaultSiteNumber = 1;
inline constexpr std::int32_t kDefaultFormat = 6;   // "XVid MPEG-4 Codec (AVI)"
inline constexpr std::int32_t kDefaultQuality = 2;  // "Optimal"
// Limits on a silent server, in milliseconds (0: none).
inline constexpr std::int32_t kDefaultStallTimeout = 60000;
inline constexpr std::int32_t kDefaultConnectTimeout = 30000;
// Bounds on a stage in all, however the server sends: the preview (given up after it, as a
// failed preview is), and the built-in lookup (the page, its candidates and yt-dlp together).
inline constexpr std::chrono::milliseconds kDefaultPreviewTime{30000};
inline constexpr std::chrono::milliseconds kDefaultLookupTime{60000};
// Within the built-in lookup: the page's answer, and the HTML parse of it.
inline constexpr std::chrono::milliseconds kDefaultPageTime{30000};
inline constexpr std::chrono::milliseconds kDefaultParseTime{10000};
// The converter is ended when its progress reports stop for this long (0: no limit).
inline constexpr std::chrono::milliseconds kDefaultConverterSilence{60000};
// Bound on the memory yt-dlp may take for its data (an endless page would otherwise cost it
// gigabytes).
inline constexpr std::size_t kDefaultHelperMemoryLimit = std::size_t{2} << 30;
// Connections one transfer may hold at once: the fragments of a stream, the pieces of a file.
inline constexpr std::int32_t kDefaultConnections = 4;
inline constexpr std::int32_t kMaxConnections = 16;

}  // namespace tarnwick
