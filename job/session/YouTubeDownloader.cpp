#include "job/session/YouTubeDownloader.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

#include "http/IdHTTP.h"
#include "http/IdHTTPResponse.h"
#include "http/IdResumableGet.h"
#include "job/convert/ConversionTable.h"
#include "job/fetch/MediaTypes.h"
#include "job/lookup/LookupRecord.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/PageLookup.h"
#include "job/lookup/RecordTexts.h"
#include "net/IdExceptions.h"
#include "net/IdStream.h"

namespace tarnwick {

namespace {

// A server may send a page whatever type it names (or none): a body that starts like one is no
// video.
void RefuseWebPage(const TIdFileStream& file) {
    if (LooksLikeWebPage(FileHead(file.Path())))
        throw EIdException(std::string(kWebPageNotVideoText));
}

}  // namespace

struct TYouTubeDownloader::Impl {
    Impl(TJobSettings s, TJobState& st, TJobFrontEnd& fe, TComponent& o)
        : settings(std::move(s)), state(st), frontEnd(fe), owner(o) {}

    void Run();
    void Work();
    // Runs the test hook, then tells whether the job may go on (no abort so far).
    bool Proceed(TJobStep step);
    void EndAborted();
    // Returns false when the job was aborted during the fetch.
    bool FetchPreview(const std::string& address);
    void FetchMedia(const std::string& address);
    std::unique_ptr<TIdHTTP> MakeClient(std::string_view name, bool followRedirects);
    std::string WorkPath(std::string_view name) const;
    // The failure's text for ErrorText.
    std::string FailureText(const std::exception& failure, std::string_view address) const;

    const TJobSettings settings;
    TJobState& state;
    TJobFrontEnd& frontEnd;
    TComponent& owner;
    std::function<void(TJobStep)> stepHook;
    // Request headers the record names for the preview and the media (worker's thread only).
    std::string referer;
    std::string userAgent;
    std::string cookie;
    // The job's one abort: set by Abort, it closes the connections and stops the program
    // registered on it at that moment; every connect and every wait between two tries looks at
    // it.
    TIdAbortSignal abort;
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

std::unique_ptr<TIdHTTP> TYouTubeDownloader::Impl::MakeClient(std::string_view name,
                                                              bool followRedirects) {
    auto client = std::make_unique<TIdHTTP>(&owner);
    client->SetName(std::string(name));
    client->HandleRedirects = followRedirects;
    // The abort closes the connection of a request under way, and every connect (a redirect, a
    // try again, a request that starts after it) looks for it first.
    client->AbortSignal = &abort;
    // A server that goes silent ends the fetch instead of holding the job forever.
    client->StallTimeout = settings.stallTimeout;
    client->ConnectTimeout = settings.connectTimeout;
    if (!referer.empty()) client->Request().Referer = referer;
    if (!userAgent.empty()) client->Request().UserAgent = userAgent;
    if (!cookie.empty()) client->Request().CustomHeaders.Add("Cookie: " + cookie);
    return client;
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
        record = TPageLookup(builtin, &owner, abort).Run(settings.pageAddress, settings.hdFlag == 1);
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

    frontEnd.ShowDescription({"  " + record.Values("author"), "  " + record.Values("title"),
                              "  " + record.Values("length"), "  " + record.Values("size")});
    // A site may refuse the preview and the media to a request that does not look like its
    // page's own; the record says what to send (a service's record may say nothing). Whoever
    // made the record, no control byte of it reaches a request head.
    referer = OneLineText(record.Values(kRefererEntry));
    userAgent = OneLineText(record.Values(kUserAgentEntry));
    cookie = OneLineText(record.Values(kCookieEntry));
    state.SetFileName(record.Values("filename"));
    state.SetFileExtension(record.Values("fileext"));
    if (!Proceed(jbAfterDescription)) return EndAborted();

    if (!FetchPreview(record.Values("preview"))) return EndAborted();
    if (!Proceed(jbAfterPreview)) return EndAborted();

    FetchMedia(record.Values("url"));
}

bool TYouTubeDownloader::Impl::FetchPreview(const std::string& address) {
    std::unique_ptr<TIdHTTP> made = MakeClient(kPreviewClientName, false);
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

void TYouTubeDownloader::Impl::FetchMedia(const std::string& address) {
    std::unique_ptr<TIdHTTP> made = MakeClient(kMediaClientName, true);
    TIdHTTP& http = *made;
    // The transfer as the front end sees it: one begin, then the bytes the work file holds,
    // running on across the chunks of a chunked body and the tries of a broken transfer (back to
    // 0 only when it starts over), and one end.
    struct Transfer {
        bool begun = false;           // the begin is posted
        bool counting = false;        // the current read is the media's body
        std::int64_t base = 0;        // what the work file held when this try's body began
        std::int64_t bytes = 0;       // of this try so far
        std::int64_t phaseCount = 0;  // the last count of the current read
    } transfer;
    const auto postProgress = [&](std::int64_t held) {
        postedCount = held;
        frontEnd.PostProgress(pkProgress, held);
    };
    http.OnWorkBegin = [&](TIdComponent&, TWorkMode mode, std::int64_t) {
        if (mode != wmRead) return;
        // The body of a redirect or an error is no media; only a success's counts.
        const std::int32_t status = http.Response().StatusCode();
        transfer.counting = status >= 200 && status < 300;
        transfer.phaseCount = 0;
        if (!transfer.counting) return;
        state.SetMediaType(http.Response().ContentType);
        if (IsWebPageType(http.Response().ContentType))
            throw EIdException(std::string(kWebPageNotVideoText));
    };
    http.OnWork = [&](TIdComponent&, TWorkMode mode, std::int64_t count) {
        if (mode != wmRead || !transfer.counting) return;
        transfer.bytes += count - transfer.phaseCount;
        transfer.phaseCount = count;
        const std::int64_t held = transfer.base + transfer.bytes;
        state.SetBytesSoFar(held);
        // A line that changes more often than this cannot be read; the last count is posted
        // when the transfer ends.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgressPost >= kProgressInterval) {
            lastProgressPost = now;
            postProgress(held);
        }
        if (!Proceed(jbMediaProgress)) throw EIdNotConnected();
    };
    TIdResumableGet get(http, settings.resume, &abort);
    get.OnTry = [&](std::int64_t offset, std::int64_t total) {
        transfer.base = offset;
        transfer.bytes = 0;
        transfer.phaseCount = 0;
        state.SetTotalBytes(total < 0 ? 0 : total);
        state.SetBytesSoFar(offset);
        if (!transfer.begun) {
            transfer.begun = true;
            postedCount = 0;
            frontEnd.PostProgress(pkBegin, state.TotalBytes());
        } else {
            postProgress(offset);
        }
    };
    get.OnWait = [&](const TIdRetryWait& wait) { frontEnd.PostStatus(RetryWaitText(wait)); };

    // In the owner's list only fully set up.
    TScopedComponent<TIdHTTP> client(&owner, std::move(made));
    // The last job's work file may be a hard link to the video delivered then: a new file is
    // made instead of truncating that one.
    const std::string mediaPath = WorkPath(SourceFileName(state.FileExtension()));
    ::unlink(mediaPath.c_str());
    // A failed or aborted transfer leaves no work file: its bytes are of no use to anyone.
    struct RemoveUnlessKept {
        const std::string& path;
        bool keep = false;
        ~RemoveUnlessKept() {
            if (!keep) ::unlink(path.c_str());
        }
    } removal{mediaPath};
    TIdFileStream file(mediaPath, fmCreate);
    // The last count the front end sees is what the work file holds, also bytes that came after
    // the last read's report (a server that closed early).
    const auto finishTransfer = [&] {
        if (!transfer.begun) return;
        const std::int64_t written = file.Size();
        if (written != postedCount) {
            state.SetBytesSoFar(written);
            postProgress(written);
        }
        frontEnd.PostProgress(pkEnd, 0);
    };
    if (!Proceed(jbMediaClientMade)) return EndAborted();
    try {
        get.Get(address, file);
        CheckWholeSize(file.Size(), get.Total());
        RefuseWebPage(file);
    } catch (const std::exception& e) {
        finishTransfer();
        state.SetStatus(jsAborted);
        state.SetErrorText(FailureText(e, address));
        return;
    }
    finishTransfer();
    // An abort that came with the last byte still ends the job as aborted.
    if (!Proceed(jbAfterMedia)) return EndAborted();
    removal.keep = true;
}

TYouTubeDownloader::TYouTubeDownloader(TJobSettings settings, TJobState& state,
                                       TJobFrontEnd& frontEnd, TComponent& owner)
    : impl_(std::make_unique<Impl>(std::move(settings), state, frontEnd, owner)) {}

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
