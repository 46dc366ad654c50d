#pragma once

#include <cstdint>
#include <string>

#include "job/session/JobDefaults.h"

namespace tarnwick {

// The settings of a program run, held by the window and copied into a job when it starts.
// Nothing is stored between runs: every start begins with these values and the start-up folders.
struct TWindowSettings {
    std::int32_t siteNumber = kDefaultSiteNumber;  // 1 to 5: the site list's position + 1
    std::int32_t hdFlag = 0;        // 1 when a high-definition copy is asked for
    std::int32_t formatIndex = kDefaultFormat;    // 0 to 7: the format list's position (0 = none)
    std::int32_t qualityIndex = kDefaultQuality;  // 0 to 3: the quality list's position
    std::string workDirectory;      // where the preview and the downloaded media are kept
    std::string saveDirectory;      // where results are delivered
};

}  // namespace tarnwick
