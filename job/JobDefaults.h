#pragma once

// A job's defaults, defined once: the window starts with them, tarnwick-download uses them when
// no option says otherwise, and the session and the worker fall back on them.

#include <cstdint>

namespace tarnwick {

inline constexpr std::int32_t kDefaultSiteNumber = 1;
inline constexpr std::int32_t kDefaultFormat = 6;   // "XVid MPEG-4 Codec (AVI)"
inline constexpr std::int32_t kDefaultQuality = 2;  // "Optimal"
// Limits on a silent server, in milliseconds (0: none).
inline constexpr std::int32_t kDefaultStallTimeout = 60000;
inline constexpr std::int32_t kDefaultConnectTimeout = 30000;

}  // namespace tarnwick
