#include "job/session/YouTubeDownloader.h"

#include <chrono>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

#include "http/IdHTTP.h"
#include "job/convert/ConversionTable.h"
#include "job/fetch/MediaFetcher.h"
#include "job/fetch/ProgressiveFetch.h"
#include "job/fetch/StreamPlan.h"
#include "job/lookup/LookupRecord.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/MediaStreams.h"
#include "job/lookup/PageLookup.h"
#include "net/IdExceptions.h"
#include "net/IdStream.h"

namespace tarnwick {

struct TYouTubeDownloader::Impl {
    Impl(TJobRequest s, TJobState& st, TJobFrontEnd& fe, TComponent& o, TIdAbortSignal* a)
        : settings(std::move(s)), state(st), frontEnd(fe), owner(o), abort(a ? *a : ownAbort) {}

    void Run();
    void Work();
    // Runs the test hook, then tells whether the job may go on (no abort so far).
    bool Proceed(TJobStep step);
    void EndAborted();
    // Returns false when the job was aborted during the fetch.
    bool FetchPreview(const std::string& address);
    // The job's media: each stream through the fetcher of its protocol.
    void FetchMedia(const std::vector<TMediaStream>& streams);
    struct MediaEvents;
    // Where a fetch of the job goes, its client named clientName (the path apart).
    TFetchTarget Target(std::string_view clientName) const;
    std::string WorkPath(std::string_view name) const;
    // The failure's text for ErrorText.
    std::string FailureText(const std::exception& failure, std::string_view address) const;

    const TJobRequest settings;
    // One limit for all the job's connections together.
    const std::shared_ptr<TIdRateLimit> limiter = TIdRateLimit::For(settings.rateLimit);
    TJobState& state;
    TJobFrontEnd& frontEnd;
    TComponent& owner;
    std::function<void(TJobStep)> stepHook;
    // Request headers the record names for the preview and the media (worker's thread only).
    TRequestHeaders requestHeaders;
    // The job's one abort (the session's, or the worker's own): set by Abort, it closes the
    // connections and stops the program registered on it at that moment; every connect and
    // every wait between two tries looks at it.
    TIdAbortSignal ownAbort;
    TIdAbortSignal& abort;
    std::atomic<bool> finished{false};
    // The count and time of the last progress notification posted (worker's thread only).
    std::int64_t postedCount = 0;
    std::chrono::steady_clock::time_point lastProgressPost{};
    std::thread thread;
};

bool TYouTubeDownloader::Impl::Proceed(TJobStep step) {
    if (stepHook) stepHook(step);
    return !abort.Aborted();
}

void TYouTubeDownloader::Impl::EndAborted() {
    state.SetStatus(jsAborted);
    state.SetErrorText(kAbortedByUserText);
}

std::string TYouTubeDownloader::Impl::FailureText(const std::exception& failure,
                                                  std::string_view address) const {
    if (abort.Aborted()) return std::string(kAbortedByUserText);
    // Some failures of an address carry no text of their own (a protocol without a port).
    if (*failure.what() == '\0') return std::string(kUnsupportedAddressText) + std::string(address);
    return failure.what();
}

std::string TYouTubeDownloader::Impl::WorkPath(std::string_view name) const {
    // No work directory means the current one, never the root.
    std::string path = settings.workDirectory;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

TFetchTarget TYouTubeDownloader::Impl::Target(std::string_view clientName) const {
    TFetchTarget target;
    target.owner = &owner;
    target.clientName = std::string(clientName);
    target.stallTimeout = settings.stallTimeout;
    target.connectTimeout = settings.connectTimeout;
    target.resume = settings.resume;
    target.connections = settings.connections;
    target.rateLimit = settings.rateLimit;
    target.limiter = limiter;
    target.hd = settings.hdFlag == 1;
    return target;
}

void TYouTubeDownloader::Impl::Run() {
    try {
        Work();
    } catch (const std::exception& e) {
        // A work file that could not be made, or a front end that failed: nothing was fetched
        // into the work files that counts.
        state.SetStatus(jsAborted);
        state.SetErrorText(abort.Aborted() ? kAbortedByUserText : std::string_view(e.what()));
    } catch (...) {
        state.SetStatus(jsAborted);
    }
    try {
        frontEnd.FinishJob();
    } catch (...) {
        // The front end's own failure; the thread must still end.
    }
    finished.store(true);
}

void TYouTubeDownloader::Impl::Work() {
    state.Reset();
    if (!Proceed(jbBeforeLookup)) return EndAborted();

    TLookupEndpoint lookup = settings.lookup;
    lookup.StallTimeout = settings.stallTimeout;
    lookup.ConnectTimeout = settings.connectTimeout;
    TLookupRecord record;
    std::string lookupFailure;
    if (lookup.Host.empty()) {
        // No lookup service: the program reads the page itself.
        TPageLookupSettings builtin;
        builtin.stallTimeout = settings.stallTimeout;
        builtin.connectTimeout = settings.connectTimeout;
        builtin.lookupTime = settings.lookupTime;
        record = TPageLookup(builtin, &owner, abort)
                     .Run(settings.pageAddress, settings.hdFlag == 1);
        lookupFailure = record.Values(kHintEntry);
    } else {
        ParseLookupRecord(
            RequestLookupRecord(lookup, &owner, std::to_string(settings.siteNumber),
                                std::to_string(settings.hdFlag), settings.pageAddress,
                                [this](TTcpClient&) { Proceed(jbLookupClientMade); },
                                &lookupFailure, abort),
            record);
    }
    // An abort during the lookup reads as a failed lookup: it must not become "unavailable".
    if (!Proceed(jbAfterLookup)) return EndAborted();
    if (record.Values("error") == "1") {
        state.SetStatus(jsUnavailable);
        state.SetErrorText(lookupFailure);
        return;
    }

    frontEnd.EnterStage(jgDescription);
    frontEnd.ShowDescription({"  " + record.Values("author"), "  " + record.Values("title"),
                              "  " + record.Values("length"), "  " + record.Values("size")});
    // A site may refuse the preview and the media to a request that does not look like its
    // page's own; the record says what to send (a service's record may say nothing). Whoever
    // made the record, no control byte of it reaches a request head.
    requestHeaders = RecordRequestHeaders(record);
    state.SetFileName(record.Values("filename"));
    state.SetFileExtension(record.Values("fileext"));
    if (!Proceed(jbAfterDescription)) return EndAborted();

    frontEnd.EnterStage(jgPreview);
    if (!FetchPreview(record.Values("preview"))) return EndAborted();
    if (!Proceed(jbAfterPreview)) return EndAborted();

    frontEnd.EnterStage(jgTransfer);
    FetchMedia(MediaStreams(record));
}

bool TYouTubeDownloader::Impl::FetchPreview(const std::string& address) {
    std::unique_ptr<TIdHTTP> made =
        MakeFetchClient(Target(kPreviewClientName), false, requestHeaders, abort);
    TIdFileStream file(WorkPath(kPreviewFileName), fmCreate);
    // A preview is a small picture: a larger body is cut off rather than written whole.
    const auto refuseLarge = [](std::int64_t bytes) {
        if (bytes > kPreviewLimit) throw EIdException(std::string(kPreviewTooLargeText));
    };
    made->OnWorkBegin = [&](TIdComponent&, TWorkMode mode, std::int64_t total) {
        if (mode == wmRead) refuseLarge(total);
    };
    made->OnWork = [&](TIdComponent&, TWorkMode mode, std::int64_t) {
        if (mode == wmRead) refuseLarge(file.Position());
    };
    // A preview that drips must not hold the job before the media.
    made->RequestTimeout = static_cast<std::int32_t>(settings.previewTime.count());
    // In the owner's list only fully set up.
    TScopedComponent<TIdHTTP> client(&owner, std::move(made));
    if (!Proceed(jbPreviewClientMade)) return false;
    try {
        client->Get(address, file);
    } catch (const std::exception& e) {
        // No preview is no failure of the job; the reason is kept for a hint.
        if (!abort.Aborted()) state.SetErrorText(FailureText(e, address));
        // What came of a preview cut off or given up (or the room made for it) is no picture.
        if (file.Size() > kPreviewLimit || dynamic_cast<const EIdDeadlineReached*>(&e))
            file.SetSize(0);
    }
    if (abort.Aborted()) return false;
    state.SetPreviewPresent(file.Size() != 0);
    return true;
}

// The front end's view of a stream's transfer: one begin, then the bytes the work file holds (at
// most every kProgressInterval), and one end whose last count is what the work file holds, also
// bytes that came after the last read's report (a server that closed early).
struct TYouTubeDownloader::Impl::MediaEvents final : TFetchEvents {
    explicit MediaEvents(Impl& worker) : impl(worker) {}

    void MediaType(const std::string& contentType) override {
        impl.state.SetMediaType(contentType);
    }
    void TryStarts(std::int64_t offset, std::int64_t total) override {
        impl.state.SetTotalBytes(total < 0 ? 0 : total);
        impl.state.SetBytesSoFar(offset);
        if (begun) return Post(offset);
        begun = true;
        impl.postedCount = 0;
        impl.frontEnd.PostProgress(pkBegin, impl.state.TotalBytes());
    }
    void BytesHeld(std::int64_t held) override {
        impl.state.SetBytesSoFar(held);
        // A line that changes more often than this cannot be read; the last count is posted
        // when the transfer ends.
        const auto now = std::chrono::steady_clock::now();
        if (now - impl.lastProgressPost < kProgressInterval) return;
        impl.lastProgressPost = now;
        Post(held);
    }
    void Waiting(const std::string& text) override { impl.frontEnd.PostStatus(text); }
    void TransferEnds(std::int64_t written) override {
        if (!begun) return;
        if (written != impl.postedCount) {
            impl.state.SetBytesSoFar(written);
            Post(written);
        }
        impl.frontEnd.PostProgress(pkEnd, 0);
    }
    bool Proceed(TFetchMoment moment) override {
        constexpr TJobStep kSteps[] = {jbMediaClientMade, jbMediaProgress, jbAfterMedia};
        return impl.Proceed(kSteps[moment]);
    }

    void Post(std::int64_t held) {
        impl.postedCount = held;
        impl.frontEnd.PostProgress(pkProgress, held);
    }

    Impl& impl;
    bool begun = false;
};

void TYouTubeDownloader::Impl::FetchMedia(const std::vector<TMediaStream>& named) {
    if (named.empty()) {
        state.SetStatus(jsAborted);
        state.SetErrorText(kNoMediaAddressText);
        return;
    }
    TFetchTarget target = Target(kMediaClientName);
    // Playlists and manifests become the fragments they name before any work file is made.
    std::vector<TMediaStream> streams;
    try {
        streams = PlanStreams(named, target, abort);
    } catch (const std::exception& e) {
        state.SetStatus(jsAborted);
        state.SetErrorText(FailureText(e, named.front().address));
        return;
    }
    std::vector<std::string> inputs;
    bool streamed = false;
    for (std::size_t index = 0; index < streams.size(); ++index) {
        const TMediaStream& stream = streams[index];
        // The first stream is the work file the conversion reads; a second one gets its own.
        const std::string extension = state.FileExtension();
        inputs.push_back(SourceFileName(
            index == 0 ? extension : std::to_string(index) + "." + extension));
        streamed = streamed || stream.protocol == kFragmentsProtocol;
        state.SetInputs(inputs, streamed);
        target.path = WorkPath(inputs.back());
        // Only the first stream's transfer is kept across runs; the rest start over.
        target.kept = index == 0 ? settings.keptTransfer : std::string();
        MediaEvents events(*this);
        try {
            FetcherFor(stream)->Fetch(stream, target, events, abort);
        } catch (const std::exception& e) {
            state.SetStatus(jsAborted);
            state.SetErrorText(FailureText(e, stream.address));
            return;
        }
    }
}

TYouTubeDownloader::TYouTubeDownloader(TJobRequest settings, TJobState& state,
                                       TJobFrontEnd& frontEnd, TComponent& owner,
                                       TIdAbortSignal* abort)
    : impl_(std::make_unique<Impl>(std::move(settings), state, frontEnd, owner, abort)) {}

TYouTubeDownloader::~TYouTubeDownloader() {
    if (impl_->thread.joinable()) {
        Abort();
        Join();
    }
}

void TYouTubeDownloader::SetStepHook(std::function<void(TJobStep)> hook) {
    impl_->stepHook = std::move(hook);
}

void TYouTubeDownloader::Start() {
    if (impl_->thread.joinable() || impl_->finished.load()) return;
    impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

void TYouTubeDownloader::Abort() {
    // Everything that blocks for the job (the lookup's connections, yt-dlp, the preview and media
    // requests) is registered on the token and ended by it, on this thread.
    impl_->abort.Abort();
}

bool TYouTubeDownloader::Finished() const noexcept { return impl_->finished.load(); }

void TYouTubeDownloader::Join() {
    if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id())
        impl_->thread.join();
}

}  // namespace tarnwick
