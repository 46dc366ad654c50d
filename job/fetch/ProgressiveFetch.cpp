#include "job/fetch/ProgressiveFetch.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "core/StrUtils.h"
#include "http/IdHTTPResponse.h"
#include "job/fetch/MediaTypes.h"
#include "net/IdExceptions.h"
#include "net/IdStream.h"

namespace tarnwick {

namespace {

// The transfer as the job sees it: the bytes the work file holds, running on across the chunks
// of a chunked body and the tries of a broken transfer.
class TTransferCount {
public:
    TTransferCount(TIdHTTP& http, TFetchEvents& events) : http_(http), events_(events) {
        http.OnWorkBegin = [this](TIdComponent&, TWorkMode mode, std::int64_t) {
            if (mode == wmRead) ReadBegins();
        };
        http.OnWork = [this](TIdComponent&, TWorkMode mode, std::int64_t count) {
            if (mode == wmRead && counting_) Read(count);
        };
    }

    void TryStarts(std::int64_t offset, std::int64_t total) {
        base_ = offset;
        bytes_ = 0;
        phaseCount_ = 0;
        events_.TryStarts(offset, total);
    }

private:
    void ReadBegins() {
        // The body of a redirect or an error is no media; only a success's counts.
        const std::int32_t status = http_.Response().StatusCode();
        counting_ = status >= 200 && status < 300;
        phaseCount_ = 0;
        if (!counting_) return;
        events_.MediaType(http_.Response().ContentType);
        if (IsWebPageType(http_.Response().ContentType))
            throw EIdException(std::string(kWebPageNotVideoText));
    }

    void Read(std::int64_t count) {
        bytes_ += count - phaseCount_;
        phaseCount_ = count;
        events_.BytesHeld(base_ + bytes_);
        if (!events_.Proceed(fmProgress)) throw EIdNotConnected();
    }

    TIdHTTP& http_;
    TFetchEvents& events_;
    bool counting_ = false;        // the current read is the media's body
    std::int64_t base_ = 0;        // what the work file held when this try's body began
    std::int64_t bytes_ = 0;       // of this try so far
    std::int64_t phaseCount_ = 0;  // the last count of the current read
};

// The work file, made anew, removed when it goes unless kept: a failed or aborted transfer's
// bytes are of no use to anyone.
class TWorkFile {
public:
    explicit TWorkFile(std::string path) : path_(std::move(path)) {
        // The last job's work file may be a hard link to the video delivered then: a new file
        // is made instead of truncating that one.
        ::unlink(path_.c_str());
        try {
            file_.emplace(path_, fmCreate);
        } catch (...) {
            ::unlink(path_.c_str());
            throw;
        }
    }
    ~TWorkFile() {
        file_.reset();
        if (!keep_) ::unlink(path_.c_str());
    }
    TWorkFile(const TWorkFile&) = delete;
    TWorkFile& operator=(const TWorkFile&) = delete;

    TIdFileStream& Stream() { return *file_; }
    void Keep() noexcept { keep_ = true; }

private:
    std::string path_;
    std::optional<TIdFileStream> file_;
    bool keep_ = false;
};

// A server may send a page whatever type it names (or none): a body that starts like one is no
// video.
void RefuseWebPage(const TIdFileStream& file) {
    if (LooksLikeWebPage(FileHead(file.Path())))
        throw EIdException(std::string(kWebPageNotVideoText));
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
    TIdResumableGet get(*made, target.resume, &abort);
    get.OnTry = [&](std::int64_t offset, std::int64_t total) { count.TryStarts(offset, total); };
    get.OnWait = [&](const TIdRetryWait& wait) { events.Waiting(RetryWaitText(wait)); };

    // In the owner's list only fully set up.
    TScopedComponent<TIdHTTP> client(target.owner, std::move(made));
    TWorkFile work(target.path);
    TIdFileStream& file = work.Stream();
    if (!events.Proceed(fmReady)) throw EIdNotConnected();
    try {
        get.Get(stream.address, file);
        CheckWholeSize(file.Size(), get.Total());
        RefuseWebPage(file);
    } catch (...) {
        events.TransferEnds(file.Size());
        throw;
    }
    events.TransferEnds(file.Size());
    // An abort that came with the last byte still ends the fetch as aborted.
    if (!events.Proceed(fmDone)) throw EIdNotConnected();
    work.Keep();
}

}  // namespace tarnwick
