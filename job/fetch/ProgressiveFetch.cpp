#include "job/fetch/ProgressiveFetch.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "core/StrUtils.h"
#include "http/IdHTTPResponse.h"
#include "http/IdPiecedGet.h"
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
        if (response.StatusCode() >= 200 && response.StatusCode() < 300) {
            events_.MediaType(response.ContentType);
            if (IsWebPageType(response.ContentType))
                throw EIdException(std::string(kWebPageNotVideoText));
        }
        events_.TryStarts(offset, total);
    }

    void Held(std::int64_t held) {
        events_.BytesHeld(held);
        if (!events_.Proceed(fmProgress)) throw EIdNotConnected();
    }

private:
    TIdHTTP& http_;
    TFetchEvents& events_;
};

// The kept file as the transfer writes it, in order: the bytes held are told after each block.
class THeldOutput final : public TIdStreamFilter {
public:
    THeldOutput(TIdStream& file, TTransferCount& count) : TIdStreamFilter(file), count_(count) {}
    void Write(const void* buffer, std::int64_t count) override {
        inner_.Write(buffer, count);
        count_.Held(inner_.Position());
    }

private:
    TTransferCount& count_;
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

std::string ReadValidator(const std::string& path) {
    std::ifstream in(path);
    std::string validator;
    std::getline(in, validator);
    return validator;
}

// Written before the bytes of the answer it names, so a kept file is never continued under the
// validator of another version.
void KeepValidator(const std::string& path, const std::string& validator) {
    std::error_code ignored;
    if (validator.empty()) {
        std::filesystem::remove(path, ignored);
        return;
    }
    std::ofstream(path, std::ios::trunc) << validator << "\n";
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

void FetchKept(const TMediaStream& stream, const TFetchTarget& target, TFetchEvents& events,
               const TIdAbortSignal& abort) {
    std::unique_ptr<TIdHTTP> made = MakeFetchClient(target, true, stream.headers, abort);
    TTransferCount count(*made, events);
    TIdResumableGet get(*made, target.resume, &abort);
    const std::string validatorPath = KeptValidatorPath(target.kept);
    get.IfRange = ReadValidator(validatorPath);
    std::error_code ignored;
    // Bytes without a validator cannot be continued: they go.
    if (get.IfRange.empty()) std::filesystem::remove(target.kept, ignored);
    if (!std::filesystem::exists(target.kept, ignored)) TIdFileStream(target.kept, fmCreate);
    TIdFileStream file(target.kept, fmOpenReadWrite);
    get.OnTry = [&](std::int64_t offset, std::int64_t total) {
        KeepValidator(validatorPath, get.Validator());
        count.TryStarts(offset, total);
    };
    get.OnWait = [&](const TIdRetryWait& wait) { events.Waiting(RetryWaitText(wait)); };
    THeldOutput output(file, count);
    TScopedComponent<TIdHTTP> client(target.owner, std::move(made));
    if (!events.Proceed(fmReady)) throw EIdNotConnected();
    CheckedTransfer(
        events, file,
        [&] {
            get.Get(stream.address, output);
            return get.Total();
        },
        [&] { return file.Size(); });
    if (!events.Proceed(fmDone)) throw EIdNotConnected();
    std::filesystem::remove(validatorPath, ignored);
    MoveKept(target.kept, target.path);
}

}  // namespace

std::string KeptValidatorPath(const std::string& kept) { return kept + ".validator"; }

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
    if (!target.kept.empty()) return FetchKept(stream, target, events, abort);
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

    // In the owner's list only fully set up.
    TScopedComponent<TIdHTTP> client(target.owner, std::move(made));
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
