#include "job/session/DownloadSession.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "job/convert/ConversionTable.h"
#include "job/convert/ConvertAndDeliver.h"
#include "job/fetch/MediaTypes.h"
#include "job/files/WorkArea.h"
#include "job/session/EventGate.h"
#include "job/session/JobFrontEnd.h"
#include "job/session/StatusTexts.h"
#include "job/session/YouTubeDownloader.h"

namespace tarnwick {

namespace {

// Every job of the program has an id of its own.
std::uint64_t NextJobId() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

// Two reasons in one hint.
std::string JoinedReasons(const std::string& first, const std::string& second) {
    return first.empty() ? second : first + "; " + second;
}

}  // namespace

struct TDownloadSession::Impl : TJobFrontEnd, TDeliveryObserver {
    Impl(TSessionEvents& events, TTaskQueue& queue) : gate(events, queue) {}

    using TShow = std::function<void(TSessionEvents&, std::uint64_t job)>;
    // Runs show on the front end's thread with the running job's id, unless the session closed
    // first.
    void Emit(TShow show) {
        gate.Emit([show = std::move(show), job = jobId.load()](TSessionEvents& events) {
            show(events, job);
        });
    }
    void EmitStatus(std::string text, std::string hint) {
        Emit([text = std::move(text), hint = std::move(hint)](TSessionEvents& events,
                                                               std::uint64_t job) {
            events.ShowStatus(job, text, hint);
        });
    }
    // As Emit, and waits until it ran or the session closed.
    void Call(TShow show) {
        gate.Call([show = std::move(show), job = jobId.load()](TSessionEvents& events) {
            show(events, job);
        });
    }
    // The one place the running job changes stage (see JobStage.h): refuses (false, nothing
    // changes) a stage that is not after the current one, but for a new job's jgLookup after
    // jgEnded; calls the test hook; jgEnded posts the job's outcome, so only the first is posted.
    bool Enter(TJobStage next, TJobOutcome outcome = {});
    // Posts the job's outcome, ending it; only the first of a job's is posted.
    void Finish(TJobOutcome outcome) { Enter(jgEnded, std::move(outcome)); }
    // Gives the session's next job its id, and removes the last job's folder.
    void NewJob();
    // Makes the worker (and the work folder) of a job and starts it.
    void StartWorker();
    // Tells how the download ended and starts conversion and delivery for a complete one; true
    // when they were started (their end tells the job's).
    bool StartDelivery(TJobStatus& status, std::string& hint);
    TDeliveryRequest MakeDeliveryRequest();
    // The end of a job that delivers nothing: its work files go, then its last status and outcome.
    void EndWithoutDelivery(TJobStatus status, std::string statusText, std::string hint);
    // Removes the work files of a job that delivered nothing; a failure adds to hint.
    void ClearWorkFiles(std::string& hint);
    bool Moment(TSessionMoment moment, int step = 0) {
        if (momentHook) momentHook(moment, step);
        return !Aborted();
    }
    // The running job was aborted.
    bool Aborted() const noexcept { return abort && abort->Aborted(); }

    // The worker's front end, on the worker's thread.
    void ShowDescription(const std::array<std::string, 4>& texts) override;
    void PostProgress(TProgressKind kind, std::int64_t value) override;
    void PostStatus(const std::string& text) override { EmitStatus(text, {}); }
    void EnterStage(TJobStage stage) override { Enter(stage); }
    void FinishJob() override;

    // Conversion and delivery's observer, on its thread.
    void DeliveryStatus(const std::string& text) override;
    void ConversionProgress(double fraction) override;
    void DeliveryFinished(const TDeliveryResult& result) override;

    TEventGate gate;
    std::function<void(TSessionMoment, int)> momentHook;

    TComponent owner;
    TJobState state;
    TJobRequest settings;  // of the running job; written by Start only
    std::atomic<std::int32_t> formatIndex{kDefaultFormat};
    std::atomic<std::int32_t> qualityIndex{kDefaultQuality};
    std::atomic<bool> running{false};
    // The running (or last) job's one abort, handed to its worker and its conversion and
    // delivery: they stop at it, so the session's Abort only sets it. Made by Start under
    // jobMutex, before the job's threads that read it start.
    std::unique_ptr<TIdAbortSignal> abort;
    std::atomic<TJobStage> stage{jgEnded};
    std::string title;  // the record's, for the outcome (worker's thread, then the end's)

    std::atomic<std::uint64_t> jobId{0};  // of the running or last job; written by Start only
    std::shared_ptr<TWorkArea> area;
    std::string areaBase;
    std::string jobFolder;  // the running or last job's; written by Start only

    std::mutex jobMutex;  // guards worker and delivery, which Abort reaches from any thread
    std::unique_ptr<TYouTubeDownloader> worker;
    std::unique_ptr<TConvertAndDeliver> delivery;
};

bool TDownloadSession::Impl::Enter(TJobStage next, TJobOutcome outcome) {
    TJobStage current = stage.load();
    do {
        const bool newJob = next == jgLookup && current == jgEnded;
        if (next <= current && !newJob) return false;
    } while (!stage.compare_exchange_weak(current, next));
    if (next != jgEnded) {
        if (momentHook) momentHook(smStage, next);
        return true;
    }
    try {
        if (momentHook) momentHook(smStage, next);
    } catch (...) {
        // The job has ended: its outcome must still come.
    }
    outcome.job = jobId.load();
    gate.Emit([outcome = std::move(outcome), this](TSessionEvents& events) {
        // Before the event, so a front end may start the next job from it.
        running.store(false);
        events.JobFinished(outcome);
    });
    return true;
}

void TDownloadSession::Impl::ShowDescription(const std::array<std::string, 4>& texts) {
    // "  " + the record's title.
    title = texts[1].substr(std::min<std::size_t>(2, texts[1].size()));
    Call([texts](TSessionEvents& events, std::uint64_t job) { events.ShowDescription(job, texts); });
}

void TDownloadSession::Impl::PostProgress(TProgressKind kind, std::int64_t value) {
    switch (kind) {
        case pkBegin: {
            const std::string preview =
                state.PreviewPresent() ? jobFolder + "/" + std::string(kPreviewFileName)
                                       : std::string();
            Emit([value, preview](TSessionEvents& events, std::uint64_t job) {
                events.TransferBegan(job, value, preview);
            });
            EmitStatus(std::string(kDownloadStartedText), {});
            break;
        }
        case pkProgress: {
            const std::int64_t total = state.TotalBytes();
            TTransferProgress progress{
                value, total, state.FileName(),
                ProgressLineText({}, state.FileExtension(), formatIndex.load(), value, total)};
            Emit([progress = std::move(progress)](TSessionEvents& events, std::uint64_t job) {
                events.TransferProgress(job, progress);
            });
            break;
        }
        case pkEnd:
            Emit([](TSessionEvents& events, std::uint64_t job) { events.TransferEnded(job); });
            break;
    }
}

TDeliveryRequest TDownloadSession::Impl::MakeDeliveryRequest() {
    TDeliveryRequest request;
    request.workDirectory = jobFolder;
    request.saveDirectory = settings.saveDirectory;
    request.fileName = state.FileName();
    request.fileExtension = state.FileExtension();
    request.formatIndex = formatIndex.load();
    request.qualityIndex = qualityIndex.load();
    request.programDirectory = settings.programDirectory;
    request.converterSilenceLimit = static_cast<std::int32_t>(settings.converterSilence.count());
    request.inputs = state.Inputs();
    request.streamed = state.Streamed();
    if (request.formatIndex == 0) {
        const std::string source =
            request.workDirectory + "/" + SourceFileName(request.fileExtension);
        request.deliveredExtension =
            DeliveredExtension(request.fileExtension, state.MediaType(), FileHead(source));
    }
    return request;
}

bool TDownloadSession::Impl::StartDelivery(TJobStatus& status, std::string& hint) {
    const bool completed = status == jsCompleted && Moment(smBeforeConversion);
    bool converts = false;
    {
        std::lock_guard lock(jobMutex);
        // An abort in the wait before conversion still counts: nothing is converted.
        if (Aborted() || (status == jsCompleted && !completed)) {
            status = jsAborted;
            hint = std::string(kAbortedByUserText);
        }
        if (status != jsCompleted) return false;
        TDeliveryRequest request = MakeDeliveryRequest();
        converts = request.formatIndex != 0 || MergesInputs(request);
        delivery =
            std::make_unique<TConvertAndDeliver>(std::move(request), *this, abort.get());
        // The task's steps tell when its delivery begins.
        delivery->SetStepHook([this](TDeliveryStep step) {
            if (step == dsDelivery) Enter(jgDelivery);
            if (momentHook) momentHook(smDeliveryStep, static_cast<int>(step));
        });
    }
    Enter(converts ? jgConversion : jgDelivery);
    EmitStatus(std::string(JobStatusText(status)), hint);
    delivery->Start();
    return true;
}

void TDownloadSession::Impl::FinishJob() {
    TJobStatus status = state.Status();
    std::string hint = state.ErrorText();
    std::string statusText;
    try {
        if (StartDelivery(status, hint)) return;
        statusText = JobStatusText(status);
    } catch (const std::exception& e) {
        if (Aborted()) {
            status = jsAborted;
            hint = std::string(kAbortedByUserText);
        } else if (status == jsCompleted) {
            // The download is whole, but conversion and delivery could not be made or started.
            hint = e.what();
        } else {
            hint = JoinedReasons(hint, e.what());
        }
        statusText = status == jsCompleted ? kNotSavedText : JobStatusText(status);
    }
    EndWithoutDelivery(status, std::move(statusText), std::move(hint));
}

void TDownloadSession::Impl::ClearWorkFiles(std::string& hint) {
    // Nothing of a job that delivered nothing is of use.
    try {
        Moment(smClearWorkFiles);
        const std::string failure = area ? area->RemoveJobFolder(jobId.load()) : std::string();
        if (!failure.empty()) throw std::runtime_error(failure);
    } catch (const std::exception& e) {
        hint = JoinedReasons(hint, "the work files could not be removed: " + std::string(e.what()));
    }
}

void TDownloadSession::Impl::EndWithoutDelivery(TJobStatus status, std::string statusText,
                                                std::string hint) {
    ClearWorkFiles(hint);
    EmitStatus(statusText, hint);
    TJobOutcome outcome;
    outcome.status = status;
    outcome.statusText = std::move(statusText);
    outcome.hint = std::move(hint);
    outcome.title = title;
    Finish(std::move(outcome));
}

void TDownloadSession::Impl::DeliveryStatus(const std::string& text) {
    EmitStatus(text, {});
    if (text == kDecodingInProgressText || text == kMergingInProgressText)
        Emit([](TSessionEvents& events, std::uint64_t job) { events.ConversionProgress(job, 0); });
}

void TDownloadSession::Impl::ConversionProgress(double fraction) {
    Emit([fraction](TSessionEvents& events, std::uint64_t job) {
        events.ConversionProgress(job, fraction);
    });
}

void TDownloadSession::Impl::DeliveryFinished(const TDeliveryResult& result) {
    TJobOutcome outcome;
    outcome.delivered = result.delivered;
    outcome.status = Aborted() && !result.delivered ? jsAborted : jsCompleted;
    // Format 0 delivered: the status line keeps "Download is completed.".
    outcome.statusText = result.statusText.empty() ? std::string(kCompletedText) : result.statusText;
    if (result.delivered) {
        outcome.savedFile = result.destination;
        outcome.hint = std::string(kSavedAsText) + result.destination;
    } else {
        outcome.hint = Aborted() ? std::string(kAbortedByUserText) : result.reason;
        ClearWorkFiles(outcome.hint);
    }
    outcome.title = title;
    EmitStatus(outcome.statusText, outcome.hint);
    Finish(std::move(outcome));
}

TDownloadSession::TDownloadSession(TSessionEvents& events, TTaskQueue& queue)
    : impl_(std::make_unique<Impl>(events, queue)) {}

TDownloadSession::~TDownloadSession() { Close(); }

bool TDownloadSession::Start(const TJobRequest& settings) {
    Impl& s = *impl_;
    {
        if (s.gate.Closed() || s.running.load()) return false;
    }
    std::unique_ptr<TYouTubeDownloader> lastWorker;
    std::unique_ptr<TConvertAndDeliver> lastDelivery;
    {
        std::lock_guard lock(s.jobMutex);
        lastWorker = std::move(s.worker);
        lastDelivery = std::move(s.delivery);
    }
    // The last job's threads have told their end; they only return now.
    lastWorker.reset();
    lastDelivery.reset();

    s.settings = settings;
    s.formatIndex.store(settings.formatIndex);
    s.qualityIndex.store(settings.qualityIndex);
    {
        std::lock_guard lock(s.jobMutex);
        s.abort = std::make_unique<TIdAbortSignal>();
    }
    s.title.clear();
    s.NewJob();
    s.running.store(true);
    try {
        s.Enter(jgLookup);
        s.StartWorker();
    } catch (const std::exception& e) {
        // No worker runs to tell the end: the job ends here.
        s.EndWithoutDelivery(jsAborted, std::string(kAbortedText), e.what());
    }
    return true;
}

void TDownloadSession::Impl::NewJob() {
    // The last job's files were kept for the front end (its preview); only they go.
    if (area) area->RemoveJobFolder(jobId.load());
    jobId.store(NextJobId());
    jobFolder.clear();
}

void TDownloadSession::Impl::StartWorker() {
    if (!area || areaBase != settings.workDirectory) {
        area = TWorkArea::Shared(settings.workDirectory);
        areaBase = settings.workDirectory;
    }
    jobFolder = area->JobFolder(jobId.load());

    // The worker's request is the job's, its work files in the job's folder.
    TJobRequest job = settings;
    job.workDirectory = jobFolder;
    std::lock_guard lock(jobMutex);
    worker =
        std::make_unique<TYouTubeDownloader>(std::move(job), state, *this, owner, abort.get());
    if (momentHook) {
        worker->SetStepHook(
            [this](TJobStep step) { momentHook(smWorkerStep, static_cast<int>(step)); });
    }
    worker->Start();
}

void TDownloadSession::SetConversion(std::int32_t formatIndex, std::int32_t qualityIndex) {
    impl_->formatIndex.store(formatIndex);
    impl_->qualityIndex.store(qualityIndex);
}

void TDownloadSession::Abort() {
    Impl& s = *impl_;
    // The job's one abort: what waits or blocks in the job is registered on it (the connection
    // in use, yt-dlp, the converter, a copy into the save folder) and ends at once.
    std::lock_guard lock(s.jobMutex);
    if (s.abort) s.abort->Abort();
}

void TDownloadSession::Close() {
    Impl& s = *impl_;
    if (!s.gate.Close()) return;
    Abort();
    std::unique_ptr<TYouTubeDownloader> worker;
    std::unique_ptr<TConvertAndDeliver> delivery;
    {
        std::lock_guard lock(s.jobMutex);
        worker = std::move(s.worker);
    }
    // The worker's end may start a delivery until it has returned; after that none comes.
    worker.reset();
    {
        std::lock_guard lock(s.jobMutex);
        delivery = std::move(s.delivery);
    }
    if (delivery) delivery->Stop();
    delivery.reset();
    if (s.area) s.area->RemoveJobFolder(s.jobId.load());
    s.area.reset();
    s.running.store(false);
}

bool TDownloadSession::Running() const noexcept { return impl_->running.load(); }

TJobStage TDownloadSession::Stage() const noexcept { return impl_->stage.load(); }

std::uint64_t TDownloadSession::JobId() const noexcept { return impl_->jobId.load(); }

std::string TDownloadSession::WorkFolder() const { return impl_->jobFolder; }

TComponent& TDownloadSession::Owner() noexcept { return impl_->owner; }

void TDownloadSession::SetMomentHook(std::function<void(TSessionMoment, int)> hook) {
    impl_->momentHook = std::move(hook);
}

}  // namespace tarnwick
