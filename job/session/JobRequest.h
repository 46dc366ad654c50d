#pragma once

// What a front end asks of the session for one job, in one type: what the user chose (the
// address, the site, HD, the format and quality, the save folder) and what the program sets (its
// work and program folders, the lookup endpoint, the limits on each stage). Front ends fill one
// and hand it to Start; the worker and conversion and delivery read theirs from it. Every default
// comes from JobDefaults.h.

#include <chrono>
#include <cstdint>
#include <string>

#include "http/IdResumableGet.h"
#include "job/JobDefaults.h"
#include "job/lookup/LookupQuery.h"

namespace tarnwick {

// The limits that end a stage that takes too long; no front end sets them.
struct TJobLimits {
    // On a silent server, in milliseconds (0: none).
    std::int32_t stallTimeout = kDefaultStallTimeout;
    std::int32_t connectTimeout = kDefaultConnectTimeout;
    // In all, on the preview and on the built-in lookup.
    std::chrono::milliseconds previewTime = kDefaultPreviewTime;
    std::chrono::milliseconds lookupTime = kDefaultLookupTime;
    // The converter is ended when its progress reports stop for this long (0: no limit).
    std::chrono::milliseconds converterSilence = kDefaultConverterSilence;
    // How a media transfer that breaks is tried again.
    TIdResumeSettings resume;
};

// The limits are a base, so each stage reads its own by name (request.stallTimeout).
struct TJobRequest : TJobLimits {
    // The user's choice.
    std::string pageAddress;                        // the address field's text
    std::int32_t siteNumber = kDefaultSiteNumber;   // 1 to 5
    std::int32_t hdFlag = 0;                        // 1 asks for the high-definition copy
    std::int32_t formatIndex = kDefaultFormat;      // 0 to 7; 0 keeps the download as it is
    std::int32_t qualityIndex = kDefaultQuality;    // 0 to 3
    std::string saveDirectory;                      // where the result goes (made when missing)
    std::int32_t connections = kDefaultConnections;  // 1 to kMaxConnections at once
    std::int64_t rateLimit = 0;                     // bytes per second in all; 0: no limit
    // The program's.
    std::string keptTransfer;      // where the media transfer is kept across runs when it comes
                                   // over HTTP(S) (see TFetchTarget::kept); empty: not kept
    std::string workDirectory;     // the session's jobs work in folders of their own inside it;
                                   // the worker's work files go straight into it (no trailing "/")
    std::string programDirectory;  // searched for the converter before the PATH
    TLookupEndpoint lookup = DefaultLookupEndpoint();
};

}  // namespace tarnwick
