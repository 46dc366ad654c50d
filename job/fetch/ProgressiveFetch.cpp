#include "job/fetch/ProgressiveFetch.h"

#include <chrono>
#include <filesystem>
#include <string>

#include "core/StrUtils.h"
#include "http/IdHTTPMessages.h"
#include "http/IdHTTPResponse.h"
#include "http/IdPiecedGet.h"
#include "job/fetch/KeptState.h"
#include "job/fetch/MediaTypes.h"
#include "job/fetch/WorkFile.h"
#include "net/IdExceptions.h"
#include "net/IdStream.h"

namespace tarnwick {

namespace {

// The transfer as the job sees it: the bytes the work file holds (the sum of the pieces when it
// comes over several connections), running on across the chunks of a chunked body and the tries
// of a broken transfer. Told on the fetching thread only.
class TTransferCount {
public:
    TTransferCount(TIdHTTP& http, TFetchEvents& events) : http_(http), events_(events) {}

    // A try's body begins: only a success's body is media (a redirect's or an error's never
    // reaches the work file).
    void TryStarts(std::int64_t offset, std::int64_t total) {
        const TIdHTTPResponse& response = http_.Response();
        if (response.StatusCode() >= 200 && response.StatusCode() < 300)
            TypeIs(response.ContentType);
        events_.TryStarts(offset, total);
    }

    // The type of the media, as the answer that begins the transfer (or an earlier run) named it.
    void TypeIs(const std::string& type) {
        type_ = type;
        events_.MediaType(type);
        if (IsWebPageType(type)) throw EIdException(std::string(kWebPageNotVideoText));
    }
    const std::string& Type() const noexcept { return type_; }

    void Held(std::int64_t held) {
        events_.BytesHeld(held);
        if (!events_.Proceed(fmProgress)) throw EIdNotConnected();
    }

private:
    TIdHTTP& http_;
    TFetchEvents& events_;
    std::string type_;
};

// The kept file as the transfer writes it: never longer than the bytes it holds, so that a run
// after a kill goes on from its end, unless its state says it was split (it then has its whole
// size from the start, and the state names what it lacks).
class TKeptOutput final : public TIdStreamFilter {
public:
    using TIdStreamFilter::TIdStreamFilter;
    void SetSize(std::int64_t size) override {
        if (split_ || size < inner_.Size()) inner_.SetSize(size);
    }
    void SetSplit(bool split) noexcept { split_ = split; }

private:
    bool split_ = false;
};

// A server may send a page whatever type it names (or none): a body that starts like one is no
// video.
void RefuseWebPage(const TIdFileStream& file) {
    if (LooksLikeWebPage(FileHead(file.Path())))
        throw EIdException(std::string(kWebPageNotVideoText));
}

// Runs the transfer (get returns the total the server named), then requires the file whole and
// no web page; its end is told once either way, with what the file holds (on a failure, what
// heldOnFailure says).
template <class Get, class Held>
void CheckedTransfer(TFetchEvents& events, const TIdFileStream& file, Get get,
                     Held heldOnFailure) {
    try {
        CheckWholeSize(file.Size(), get());
        RefuseWebPage(file);
    } catch (...) {
        events.TransferEnds(heldOnFailure());
        throw;
    }
    events.TransferEnds(file.Size());
}

// A kept file becomes the work file; across file systems it is copied.
void MoveKept(const std::string& kept, const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::rename(kept, path, error);
    if (!error) return;
    std::filesystem::copy_file(kept, path, error);
    if (error) throw EIdException(error.message());
    std::filesystem::remove(kept, error);
}

// The transfer into the file a kept entry names, going on with what an earlier run left there.
void FetchKept(const TMediaStream& stream, const std::string& kept, TIdPiecedGet& get,
               TTransferCount& count, TFetchEvents& events, std::int64_t& held) {
    TKeptState state = ReadKeptState(kept);
    std::error_code ignored;
    // Bytes of no known version cannot be continued: they go.
    if (state.validator.empty()) std::filesystem::remove(kept, ignored);
    if (!std::filesystem::exists(kept, ignored)) TIdFileStream(kept, fmCreate);
    TIdFileStream file(kept, fmOpenReadWrite);
    // Past what reached the disk before the state said so, the bytes may not be those that came
    // (a power cut): they are fetched again.
    if (state.split.total < 0 && state.held >= 0 && file.Size() > state.held)
        file.SetSize(state.held);
    TKeptOutput output(file);
    get.IfRange = state.validator;
    auto lastKept = std::chrono::steady_clock::now();
    // What the state calls held is on the disk before the state is.
    const auto keep = [&](std::int64_t heldBytes, const TIdPiecedState& split) {
        file.Sync();
        WriteKeptState(kept, {get.Validator(), count.Type(), heldBytes, split});
        lastKept = std::chrono::steady_clock::now();
    };
    // Told before the bytes of the answer it names, so the file is never continued under the
    // validator of another version.
    get.OnTry = [&](std::int64_t offset, std::int64_t total) {
        if (!get.Split()) keep(offset, {});
        held = offset;
        count.TryStarts(offset, total);
    };
    get.OnProgress = [&, told = get.OnProgress](std::int64_t now) {
        told(now);
        if (!get.Split() && std::chrono::steady_clock::now() - lastKept >= std::chrono::seconds(1))
            keep(now, {});
    };
    get.OnKeep = [&](const TIdPiecedState& split) {
        output.SetSplit(split.total >= 0);
        if (split.total < 0) return ForgetKeptState(kept);
        keep(-1, split);
    };
    if (!events.Proceed(fmReady)) throw EIdNotConnected();
    const bool split = state.split.total > 0;
    if (split) count.TypeIs(state.mediaType);
    try {
        CheckedTransfer(
            events, file,
            [&] {
                if (split)
                    get.Continue(stream.address, output, state.split);
                else
                    get.Get(stream.address, output);
                return get.Total();
            },
            [&] { return get.Split() ? held : file.Size(); });
    } catch (...) {
        // An abort or a failure keeps every byte that came for the next run (a split transfer
        // told its last state as it ended).
        try {
            if (!get.Split()) keep(file.Size(), {});
        } catch (...) {
            // The failure told is the transfer's; the next run goes on from the last state.
        }
        throw;
    }
    if (!events.Proceed(fmDone)) throw EIdNotConnected();
    ForgetKeptState(kept);
}

}  // namespace

std::unique_ptr<TIdHTTP> MakeFetchClient(const TFetchTarget& target, bool followRedirects,
                                         const TRequestHeaders& headers,
                                         const TIdAbortSignal& abort) {
    auto client = std::make_unique<TIdHTTP>(target.owner);
    client->SetName(target.clientName);
    client->HandleRedirects = followRedirects;
    // The abort closes the connection of a request under way, and every connect (a redirect, a
    // try again, a request that starts after it) looks for it first.
    client->AbortSignal = &abort;
    // A server that goes silent ends the fetch instead of holding the job forever.
    client->StallTimeout = target.stallTimeout;
    client->ConnectTimeout = target.connectTimeout;
    client->SetRateLimit(target.limiter);
    for (const auto& [name, value] : headers) {
        if (SameText(name, "Referer"))
            client->Request().Referer = value;
        else if (SameText(name, "User-Agent"))
            client->Request().UserAgent = value;
        else
            client->Request().CustomHeaders.Add(name + ": " + value);
    }
    return client;
}

void TProgressiveFetch::Fetch(const TMediaStream& stream, const TFetchTarget& target,
                              TFetchEvents& events, const TIdAbortSignal& abort) {
    std::unique_ptr<TIdHTTP> made = MakeFetchClient(target, true, stream.headers, abort);
    TTransferCount count(*made, events);
    // The clients of further connections run on the transfer's threads: in no owner's list.
    TFetchTarget unlisted = target;
    unlisted.owner = nullptr;
    TIdPiecedGet get(
        *made,
        [&]() -> std::unique_ptr<TIdCustomHTTP> {
            return MakeFetchClient(unlisted, true, stream.headers, abort);
        },
        target.connections, target.resume, &abort);
    get.OnTry = [&](std::int64_t offset, std::int64_t total) { count.TryStarts(offset, total); };
    std::int64_t held = 0;
    get.OnProgress = [&](std::int64_t now) {
        held = now;
        count.Held(now);
    };
    get.OnWait = [&](const TIdRetryWait& wait) { events.Waiting(RetryWaitText(wait)); };
    get.OnHostBusy = [&](const std::string& host) {
        events.Waiting(Format(RSHTTPHostBusy, host.c_str()));
    };

    // In the owner's list only fully set up.
    TScopedComponent<TIdHTTP> client(target.owner, std::move(made));
    if (!target.kept.empty()) {
        FetchKept(stream, target.kept, get, count, events, held);
        return MoveKept(target.kept, target.path);
    }
    TWorkFile work(target.path);
    TIdFileStream& file = work.Stream();
    if (!events.Proceed(fmReady)) throw EIdNotConnected();
    CheckedTransfer(
        events, file,
        [&] {
            get.Get(stream.address, file);
            return get.Total();
        },
        // A file split into pieces has its final size from the start, holes and all.
        [&] { return get.Split() ? held : file.Size(); });
    // An abort that came with the last byte still ends the fetch as aborted.
    if (!events.Proceed(fmDone)) throw EIdNotConnected();
    work.Keep();
}

}  // namespace tarnwick
