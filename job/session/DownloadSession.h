#pragma once

// One download session: the whole job, from the lookup to the file in the save folder, behind one
// object that the window and tarnwick-download drive alike. The session owns the job state, the
// job's work folder (a folder of its own in the program's private folder, see TWorkArea), the
// download worker with its HTTP clients, and conversion and delivery; a front end only starts,
// aborts and closes, and shows the events it is told. Each job has an id of its own, new at every
// Start in the whole program, and every event names it; a front end may run several sessions at
// once.
//
// Events (TSessionEvents) run on the front end's thread, through the front end's task queue, in
// the order the job made them: the description, the transfer's begin, progress and end, the
// conversion's fraction, every status text with its hint, and last the job's outcome. Every job
// that Start accepted ends with exactly one outcome, whatever fails on the way: a step that
// raises ends it as "Download aborted." (or, once the download is whole, "Video file could not
// be saved.") with the failure's text as the hint. Progress
// comes at most every 40 ms (the last count always comes). The description is shown before the
// preview fetch starts: the worker waits for it.
//
// What the save folder holds: the whole new file under a free name, or nothing new; a file that
// was there is never replaced, and "saved" is said only of a whole file (see TConvertAndDeliver).
// A job's work folder goes when the job ends without delivering, else when the session's next job
// starts or the session closes; no job touches another's.
//
// Threads: Start, SetConversion and Close on the front end's thread; Abort from any thread at
// any moment. The job itself runs on threads of its own (the worker, then conversion and
// delivery), never on the front end's.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Component.h"
#include "job/JobDefaults.h"
#include "job/session/JobRequest.h"
#include "job/session/JobStage.h"
#include "job/session/JobState.h"
#include "job/session/TaskQueue.h"

namespace tarnwick {

// The hint of a saved file: this text followed by the file's path.
inline constexpr std::string_view kSavedAsText = "Saved as ";

// The progress line is fileName + lineAfterName, with the format chosen at that moment; the name
// comes apart, since it is the record's bytes (maybe not UTF-8) and the rest is UTF-8.
struct TTransferProgress {
    std::int64_t bytesSoFar = 0;
    std::int64_t totalBytes = 0;  // 0 when the server announced none
    std::string fileName;
    std::string lineAfterName;    // "." + extension text + " — " + Kb so far + " Kb of " + ...
    std::string Line() const { return fileName + lineAfterName; }
};

struct TJobOutcome {
    std::uint64_t job = 0;            // the job's id
    TJobStatus status = jsCompleted;  // how the download ended (an abort at any moment: 3)
    bool delivered = false;           // a whole file was saved
    std::string statusText;           // the status line's last text
    std::string hint;                 // why not, or kSavedAsText + the saved file's path
    std::string savedFile;            // the saved file's path, when delivered
    std::string title;                // the video's title, as the record gave it
};

// What a front end shows. Every call comes on the front end's thread, with the id of the job it
// tells of.
class TSessionEvents {
public:
    virtual ~TSessionEvents() = default;
    // Author, title, length and size, each with two blanks in front.
    virtual void ShowDescription(std::uint64_t job, const std::array<std::string, 4>& texts) = 0;
    // The media transfer began (the preview fetch is over); previewFile names the preview picture
    // in the work folder, empty when there is none.
    virtual void TransferBegan(std::uint64_t job, std::int64_t totalBytes,
                               const std::string& previewFile) = 0;
    virtual void TransferProgress(std::uint64_t job, const TTransferProgress& progress) = 0;
    virtual void TransferEnded(std::uint64_t job) = 0;
    // The conversion's fraction done, 0 (it started) to 1.
    virtual void ConversionProgress(std::uint64_t job, double fraction) = 0;
    // A new status line text and its hint (empty when there is nothing to add).
    virtual void ShowStatus(std::uint64_t job, const std::string& text,
                            const std::string& hint) = 0;
    // The job is over; nothing of it runs any more but the threads' last returns. Start may be
    // called from here.
    virtual void JobFinished(const TJobOutcome& outcome) = 0;
};

// The moments between a job's steps where a test can stop the session (SetMomentHook), or make
// it fail by raising from the hook, besides the worker's own steps (see TJobStep in
// job/session/YouTubeDownloader.h) and conversion and delivery's (TDeliveryStep in
// job/convert/ConvertAndDeliver.h), by number; and the stages the job enters.
enum TSessionMoment {
    smWorkerStep,         // the worker stands at a step; the hook's second argument is its number
    smBeforeConversion,   // the download is complete; conversion and delivery not yet made
    smDeliveryStep,       // conversion and delivery stand at a step; the second argument its number
    smClearWorkFiles,     // a job that delivered nothing is about to remove its work files
    smStage,              // the job entered a stage; the second argument is its TJobStage
};

class TDownloadSession {
public:
    // events and queue must outlive the session.
    TDownloadSession(TSessionEvents& events, TTaskQueue& queue);
    // Close().
    ~TDownloadSession();
    TDownloadSession(const TDownloadSession&) = delete;
    TDownloadSession& operator=(const TDownloadSession&) = delete;

    // Starts a job. Refused (false, and nothing changes) while a job runs, that is from a
    // successful Start until its JobFinished has begun, and after Close. A job whose work folder
    // or thread cannot be made is accepted and ends at once as "Download aborted." with the reason.
    bool Start(const TJobRequest& request);
    // The format and quality the job's end converts with, and the progress line names; the
    // window's Format page stays usable during a job.
    void SetConversion(std::int32_t formatIndex, std::int32_t qualityIndex);
    // Any thread, any moment (the lookup, the preview, the transfer, the wait before conversion,
    // conversion, delivery): the abort flag is set before anything is closed; the job ends with
    // status 3 and the hint "Stopped by the user.", and nothing is delivered unless the file had
    // already taken its name. Without a running job it does nothing.
    void Abort();
    // Stops the job and releases everything: no event is shown after it, a worker waiting for
    // the front end is let go, and the job's threads are joined. Returns within a second
    // whatever the job does, except while a delivery flushes to disk, which it lets finish so
    // that no temporary file is left (a front end hides its window first). Idempotent.
    void Close();

    bool Running() const noexcept;
    // The job's stage (see JobStage.h); jgEnded before the first job and once a job has ended.
    TJobStage Stage() const noexcept;
    // The id of the running job, or of the last (0 before the first Start).
    std::uint64_t JobId() const noexcept;
    // The running or last job's work folder (empty before the first Start).
    std::string WorkFolder() const;
    // The component list that owns the job's clients while they exist ("TCPClient", "IdHTTP1",
    // "IdHTTP").
    TComponent& Owner() noexcept;

    // For tests: called on the job's threads at each moment, before the session looks for an
    // abort there, and at each stage the job enters (jgLookup on Start's thread; jgEnded before
    // the outcome is posted, and then what it raises is ignored). Set it before Start.
    void SetMomentHook(std::function<void(TSessionMoment, int step)> hook);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
