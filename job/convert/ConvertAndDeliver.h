#pragma once

// Conversion and delivery of a completed download: runs the converter on the work file when a
// format is chosen, then puts the result into the save directory under the video's file name
// (or the first free numbered name beside it: a file there is never replaced; see Delivery.h).
// With format 0, inputs that came apart (picture and sound) or in fragments are first merged into
// one file without re-encoding them (see StreamMerge.h), and that file is delivered.
// Runs on a thread of its own, so a front end's event loop keeps going; it can be stopped at any
// moment, which kills the converter and delivers nothing.
//
// A conversion counts only when the converter exits 0, its output tells of no write error (ffmpeg
// exits 0 after "Error writing trailer ...: No space left on device"), it reports the end of its
// work, and what it wrote covers at least 95 % of the input's duration as it read it (when it
// tells one). Otherwise the result is "Decoding aborted." with the reason, nothing is delivered
// and what the converter wrote is removed. The converter dies with this program, and is ended
// when its progress reports stop for converterSilenceLimit. A merge counts under the same rules,
// with the duration of its longest stream to cover, and only when no stream it takes is shorter
// than kLeastCoverage of that one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"
#include "job/JobDefaults.h"
#include "job/convert/ConversionTable.h"

namespace tarnwick {

inline constexpr std::string_view kDecodingInProgressText = "Decoding in progress.";
inline constexpr std::string_view kMergingInProgressText = "Merging in progress.";
inline constexpr std::string_view kSavedText = "Video file is successfully saved.";
inline constexpr std::string_view kDecodingAbortedText = "Decoding aborted.";
inline constexpr std::string_view kNotSavedText = "Video file could not be saved.";

struct TDeliveryRequest {
    std::string workDirectory;     // holds the inputs
    // The work files the converter reads, or format 0 delivers (the first), relative to
    // workDirectory; none means the one download, SourceFileName(fileExtension).
    std::vector<std::string> inputs;
    std::string saveDirectory;     // created with its parents when missing
    std::string fileName;          // the job's (safe) file name
    std::string fileExtension;     // the job's (safe) file extension
    std::int32_t formatIndex = kDefaultFormat;    // 0 to 7; 0 delivers the download unconverted
    std::int32_t qualityIndex = kDefaultQuality;  // 0 to 3
    std::string programDirectory;  // searched for the converter before the PATH
    // The inputs were put together from a stream's fragments (a playlist's, a manifest's):
    // format 0 remuxes them into one file of a container that fits their codecs instead of
    // delivering the first as it is.
    bool streamed = false;
    // Format 0: the extension the saved file takes (empty: fileExtension), so that a download
    // whose record named no media extension is not saved as ".txt" or ".desktop". A merge's file
    // takes its container's instead ("mp4", "webm", "mkv").
    std::string deliveredExtension;
    // The converter is ended when its progress reports stop for this long (milliseconds; 0: no
    // limit).
    std::int32_t converterSilenceLimit =
        static_cast<std::int32_t>(kDefaultConverterSilence.count());
};

// Format 0 with inputs to merge: streamed ones, or more than one.
bool MergesInputs(const TDeliveryRequest& request);

struct TDeliveryResult {
    // The final status text: kSavedText, kDecodingAbortedText or kNotSavedText; for format 0
    // empty when the file was delivered unmerged (the status line keeps "Download is
    // completed."), and kNotSavedText when a merge failed.
    std::string statusText;
    bool delivered = false;
    // The delivered file's full path, when delivered: the file name with the extension, or the
    // first free "Name (2).ext", "Name (3).ext", ... when a file of that name is there already.
    std::string destination;
    std::string reason;       // why not, for a hint (ffmpeg's last error line, the system's reason)
};

// The moments of the task where a test can stop it or make it fail (SetStepHook).
enum TDeliveryStep {
    dsConversion,  // the converter is about to start (its status text was told)
    dsDelivery,    // the file is about to go into the save directory
};

// Told from the task's own thread.
class TDeliveryObserver {
public:
    virtual ~TDeliveryObserver() = default;
    // A status text to show now ("Decoding in progress.", "Merging in progress.").
    virtual void DeliveryStatus(const std::string& text) = 0;
    // The conversion's fraction done, 0 to 1 (only when the input's duration is known).
    virtual void ConversionProgress(double fraction) = 0;
    // The end: called once, last, also when the task failed in a way of its own (an exception:
    // "Video file could not be saved." with its text as the reason).
    virtual void DeliveryFinished(const TDeliveryResult& result) = 0;
};

class TConvertAndDeliver {
public:
    // abort is the job's abort when the task shares it (the session's), null for one of its own;
    // it must outlive the task.
    TConvertAndDeliver(TDeliveryRequest request, TDeliveryObserver& observer,
                       TIdAbortSignal* abort = nullptr);
    // Stops a task still running and joins its thread.
    ~TConvertAndDeliver();
    TConvertAndDeliver(const TConvertAndDeliver&) = delete;
    TConvertAndDeliver& operator=(const TConvertAndDeliver&) = delete;

    // Starts the task's thread; once only.
    void Start();
    // Any thread: kills a running converter (and what it started), reaps it, delivers nothing;
    // the result then reads "Decoding aborted." (for format 0, "Video file could not be saved.").
    // A half-copied file in the save directory is removed; an earlier file there stays as it was.
    // A stop after the file took its name changes nothing.
    void Stop();
    // Waits for the task's thread to end. Not from within the observer's callbacks.
    void Join();
    // True once DeliveryFinished has returned.
    bool Finished() const noexcept;

    // Called on the task's thread at each step (the session follows its stages by it; tests stop
    // the task there). Set it before Start.
    void SetStepHook(std::function<void(TDeliveryStep)> hook);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
