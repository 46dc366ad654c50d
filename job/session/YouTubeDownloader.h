#pragma once

// The download worker: one job (lookup, description, preview, media) on a thread of its own.
//
// The worker owns its thread and joins it when destroyed; it never outlives what it touches.
// Its clients ("TCPClient" for the lookup, "IdHTTP1" for the preview, "IdHTTP" for the media) are
// inserted under the owner it is given and freed again by the worker, under the owner's lock; so
// are the built-in lookup's client ("IdHTTPPage") and its yt-dlp ("YtDlp").
//
// What a job does, in order (telling the front end each stage it enters after the lookup, see
// JobStage.h): status 1; the lookup, from the lookup service, or with an endpoint
// whose host is empty the built-in lookup (PageLookup.h) (a record with error=1 gives status 2
// and ends the job, with the lookup's failure or the record's hint as ErrorText); the
// description handed to the front end (ShowDescription); the record's referer, useragent and
// cookie kept for the preview and media requests (Referer, User-Agent and Cookie headers; none
// when the record has none), made one line without control bytes whatever the record's source;
// the record's file name and extension stored (made safe) in the job state;
// the preview fetched into "<work>/default.jpg" without redirects, at most kPreviewLimit bytes
// and previewTime of it (a preview cut off by either is no picture), its failures only noted
// (ErrorText) and the preview present when that file is not empty;
// the media fetched into "<work>/video.<ext>" following redirects, with begin, progress and end
// notifications, its Content-Type kept as the state's MediaType. A media transfer that breaks
// (closed early, reset, stalled) is tried again on a new connection and continued with Range
// where the work file ends (TIdResumableGet with TJobLimits::resume), after a wait shown
// through TJobFrontEnd::PostStatus ("Connection lost; trying again in 1 s (1 of 5)."); the
// progress runs on from there. Any failure of the media fetch that is not tried again, or once
// the tries are spent, gives status 3 and removes the media file, and so does a media file whose
// size is not the total the server named, and a media answer that is a web page (its type says
// so, or it starts like one whatever type it names): kWebPageNotVideoText. Last, on every path,
// TJobFrontEnd::FinishJob.
//
// The abort is never lost: an abort at any moment ends the job with status 3, closes the
// connection in use, and no request goes out after it. A work file that cannot be created ends
// the job with status 3 and the system's reason in ErrorText.
//
// Progress notifications come at most every kProgressInterval; begin and end are always posted,
// and after the transfer the last count posted equals the bytes written.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Component.h"
#include "http/IdAbortSignal.h"
#include "job/JobDefaults.h"
#include "job/JobTexts.h"
#include "job/session/JobFrontEnd.h"
#include "job/session/JobRequest.h"
#include "job/session/JobState.h"

namespace tarnwick {

// The least time between two progress notifications.
inline constexpr std::chrono::milliseconds kProgressInterval{40};
// Component names the job gives its HTTP clients.
inline constexpr std::string_view kPreviewClientName = "IdHTTP1";
inline constexpr std::string_view kMediaClientName = "IdHTTP";
// The work files, in the work directory.
inline constexpr std::string_view kPreviewFileName = "default.jpg";
// A preview larger than this is cut off and ignored, as a failed preview is.
inline constexpr std::int64_t kPreviewLimit = 8 * 1024 * 1024;
inline constexpr std::string_view kPreviewTooLargeText = "The preview is larger than 8 MiB.";
// ErrorText of a fetch whose address the client cannot use, followed by the address.
inline constexpr std::string_view kUnsupportedAddressText = "Unsupported address: ";

// The moments between two steps of a job, where the worker looks for an abort. Tests stop the
// worker at each of them (SetStepHook).
enum TJobStep {
    jbBeforeLookup,         // nothing created yet
    jbLookupClientMade,     // "TCPClient" is in the owner's list, not yet connected
    jbAfterLookup,          // the record is parsed
    jbAfterDescription,     // the front end shows the description
    jbPreviewClientMade,    // "IdHTTP1" is in the owner's list, "default.jpg" created
    jbAfterPreview,         // "IdHTTP1" is released
    jbMediaClientMade,      // "IdHTTP" is in the owner's list, the media file created
    jbMediaProgress,        // a block of the media has been written
    jbAfterMedia,           // the media fetch returned, "IdHTTP" not yet released
};

class TYouTubeDownloader {
public:
    // The job's work files go into settings.workDirectory. The job writes state and talks to
    // frontEnd; its clients join owner's components. abort is the job's abort when the worker
    // shares it with others (the session's conversion and delivery), null for one of its own.
    // All must outlive the worker.
    TYouTubeDownloader(TJobRequest settings, TJobState& state, TJobFrontEnd& frontEnd,
                       TComponent& owner, TIdAbortSignal* abort = nullptr);
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
    // True once the run (including the FinishJob call) has ended.
    bool Finished() const noexcept;
    // Waits for the thread to end.
    void Join();

    // For tests: called on the worker's thread at each step boundary, before the worker looks
    // for an abort there. Set it before Start.
    void SetStepHook(std::function<void(TJobStep)> hook);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
