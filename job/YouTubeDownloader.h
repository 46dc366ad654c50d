#pragma once

// The download worker: one job (lookup, description, preview, media) on a thread of its own.
//
// The worker owns its thread and joins it when destroyed; it never outlives what it touches.
// Its clients ("TCPClient" for the lookup, "IdHTTP1" for the preview, "IdHTTP" for the media) are
// inserted under the owner it is given and freed again by the worker, under the owner's lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/Component.h"
#include "job/JobFrontEnd.h"
#include "job/JobState.h"
#include "job/LookupQuery.h"

namespace tarnwick {

// Component names the job gives its HTTP clients.
inline constexpr std::string_view kPreviewClientName = "IdHTTP1";
inline constexpr std::string_view kMediaClientName = "IdHTTP";

struct TJobSettings {
    std::string pageAddress;    // the address field's text when the job started
    std::string workDirectory;  // where "default.jpg" and "video.<ext>" go (no trailing "/")
    std::int32_t siteNumber = 1;  // 1 to 5
    std::int32_t hdFlag = 0;      // 0 or 1
    TLookupEndpoint lookup = DefaultLookupEndpoint();
    // Limits on a silent server, in milliseconds (0: none).
    std::int32_t stallTimeout = 60000;
    std::int32_t connectTimeout = 30000;
};

class TYouTubeDownloader {
public:
    // The job writes state and talks to frontEnd; its clients join owner's components. All three
    // must outlive the worker.
    TYouTubeDownloader(TJobSettings settings, TJobState& state, TJobFrontEnd& frontEnd,
                       TComponent& owner);
    // Aborts a job still running and joins the thread. Must not be called on the front end's
    // thread while the worker waits in TJobFrontEnd::FinishJob (the front end must let that
    // call return first).
    ~TYouTubeDownloader();
    TYouTubeDownloader(const TYouTubeDownloader&) = delete;
    TYouTubeDownloader& operator=(const TYouTubeDownloader&) = delete;

    // Starts the thread; once only.
    void Start();
    // Any thread, any moment: the job ends with status 3 ("Download aborted.") and sends no
    // request after this; the connection in use is closed at once.
    void Abort();
    bool AbortRequested() const noexcept;
    // True once the run (including the FinishJob call) has ended.
    bool Finished() const noexcept;
    // Waits for the thread to end.
    void Join();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
