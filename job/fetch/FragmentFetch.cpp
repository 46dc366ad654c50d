#include "job/fetch/FragmentFetch.h"

#include <malloc.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Component.h"
#include "job/fetch/FragmentKeys.h"
#include "job/fetch/FragmentTransfer.h"
#include "job/fetch/FragmentWindow.h"
#include "job/fetch/MediaTypes.h"
#include "job/fetch/ProgressiveFetch.h"
#include "job/fetch/WorkFile.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

constexpr std::string_view kNoFragmentsText = "The stream names no fragments.";
constexpr std::string_view kKeyTooLongText =
    "The key of the encrypted video is longer than 16 bytes.";
// A key file longer than this is no key; its bytes are not kept.
constexpr std::int64_t kMaxKeyBytes = 4096;

// The connection threads of a fetch: stopped and joined when they go, however the fetch ends.
class TConnectionThreads {
public:
    explicit TConnectionThreads(TIdAbortSignal& stop) : stop_(stop) {}
    ~TConnectionThreads() {
        stop_.Abort();
        for (std::thread& thread : threads_) thread.join();
    }
    TConnectionThreads(const TConnectionThreads&) = delete;
    TConnectionThreads& operator=(const TConnectionThreads&) = delete;

    void Start(std::function<void()> work) { threads_.emplace_back(std::move(work)); }

private:
    TIdAbortSignal& stop_;
    std::vector<std::thread> threads_;
};

// One fetch of a stream's fragments: its clients (one per connection, in the owner's list from
// the start), keys and window, and the writing of the fragments in order on the fetching thread.
class TFragmentRun {
public:
    TFragmentRun(const TMediaStream& stream, const TFetchTarget& target, TFetchEvents& events,
                 TIdAbortSignal& stop, std::int64_t bytesHeld);

    // Fetches every fragment into file; written follows the bytes the file holds.
    void Run(TIdFileStream& file, std::int64_t& written);

private:
    // A fragment fetched and decrypted: its bytes, those its transfer counted, its answer's type.
    struct TFetched {
        std::string bytes;
        std::int64_t counted = 0;
        std::string contentType;
    };

    void Connection(TIdHTTP& client) noexcept;
    TFetched Fragment(TIdHTTP& client, std::size_t index, const TPieceTries& tries);
    std::string KeyBytes(TIdHTTP& client, const std::string& address, const TPieceTries& tries);
    // Tells a total the bytes written have passed, and the real one once the last is written.
    void Raise(std::int64_t written, std::size_t done);

    const TMediaStream& stream_;
    const TFetchTarget& target_;
    TFetchEvents& events_;
    TIdAbortSignal& stop_;
    TFragmentWindow window_;
    TFragmentKeys keys_;
    std::vector<std::unique_ptr<TScopedComponent<TIdHTTP>>> clients_;
    std::int64_t total_ = -1;  // as last told
};

TFragmentRun::TFragmentRun(const TMediaStream& stream, const TFetchTarget& target,
                           TFetchEvents& events, TIdAbortSignal& stop, std::int64_t bytesHeld)
    : stream_(stream),
      target_(target),
      events_(events),
      stop_(stop),
      window_(stream.fragments.size(), bytesHeld, stop),
      keys_(stop) {
    const std::size_t connections = std::min<std::size_t>(
        std::clamp(target.connections, 1, kMaxConnections), stream.fragments.size());
    // Each client closes its connection when the fetch stops, however it stops.
    for (std::size_t i = 0; i < connections; ++i)
        clients_.push_back(std::make_unique<TScopedComponent<TIdHTTP>>(
            target.owner, MakeFetchClient(target, true, stream.headers, stop)));
}

void TFragmentRun::Run(TIdFileStream& file, std::int64_t& written) {
    if (stream_.seconds > 0 && stream_.bandwidth > 0)
        total_ =
            static_cast<std::int64_t>(stream_.seconds * static_cast<double>(stream_.bandwidth) / 8);
    events_.TryStarts(0, total_);
    TConnectionThreads threads(stop_);
    for (const auto& client : clients_)
        threads.Start([this, &http = **client] { Connection(http); });
    for (std::size_t done = 0; done < stream_.fragments.size();) {
        TFragmentWindow::TNews news = window_.Next();
        for (const std::string& wait : news.waits) events_.Waiting(wait);
        if (!news.fragment) continue;
        file.Write(news.fragment->data(), static_cast<std::int64_t>(news.fragment->size()));
        const auto size = static_cast<std::int64_t>(news.fragment->size());
        news.fragment.reset();
        window_.Written(size);
        written += size;
        if (done++ == 0) events_.MediaType(news.contentType);
        Raise(written, done);
        events_.BytesHeld(written);
        if (!events_.Proceed(fmProgress)) throw EIdNotConnected();
    }
}

void TFragmentRun::Connection(TIdHTTP& client) noexcept {
    try {
        const TPieceTries tries{target_.resume, &stop_, [this](const TIdRetryWait& wait) {
                                    window_.Tell(RetryWaitText(wait));
                                }};
        while (const std::optional<std::size_t> index = window_.Take()) {
            TFetched fetched = Fragment(client, *index, tries);
            window_.Fetched(*index, std::move(fetched.bytes), fetched.counted,
                            std::move(fetched.contentType));
        }
    } catch (...) {
        window_.Fail(std::current_exception());
    }
}

TFragmentRun::TFetched TFragmentRun::Fragment(TIdHTTP& client, std::size_t index,
                                              const TPieceTries& tries) {
    const TStreamFragment& fragment = stream_.fragments[index];
    TPieceBuffer buffer([this, index](std::int64_t change) { window_.Account(index, change); });
    TFetched fetched;
    fetched.contentType = FetchPiece(client, fragment.address, fragment.range, buffer, tries);
    fetched.counted = buffer.Size();
    fetched.bytes = buffer.TakeBytes();
    // A server may send a page whatever type it names: a fragment that starts like one is no
    // video.
    if (LooksLikeWebPage(std::string_view(fetched.bytes).substr(0, kFileHeadBytes)))
        throw EPieceRefused(std::string(kWebPageNotVideoText));
    if (fragment.key.address.empty()) return fetched;
    const TAesKey key = keys_.Get(fragment.key.address,
                                  [&] { return KeyBytes(client, fragment.key.address, tries); });
    fetched.bytes = DecryptAes128Cbc(fetched.bytes, key, fragment.key.iv);
    return fetched;
}

std::string TFragmentRun::KeyBytes(TIdHTTP& client, const std::string& address,
                                   const TPieceTries& tries) {
    std::int64_t size = 0;
    TPieceBuffer buffer([&size](std::int64_t change) {
        size += change;
        if (size > kMaxKeyBytes) throw EPieceRefused(std::string(kKeyTooLongText));
    });
    FetchPiece(client, address, std::nullopt, buffer, tries);
    return buffer.TakeBytes();
}

void TFragmentRun::Raise(std::int64_t written, std::size_t done) {
    const std::size_t count = stream_.fragments.size();
    if (done == count) {
        if (total_ == written) return;
        total_ = written;
    } else {
        if (total_ >= 0 && written <= total_) return;
        // The bytes so far, for as many fragments as are still to come.
        total_ = std::max(
            written, written / static_cast<std::int64_t>(done) * static_cast<std::int64_t>(count));
    }
    events_.TryStarts(written, total_);
}

}  // namespace

void TFragmentFetch::Fetch(const TMediaStream& stream, const TFetchTarget& target,
                           TFetchEvents& events, const TIdAbortSignal& abort) {
    if (stream.fragments.empty()) throw EIdException(std::string(kNoFragmentsText));
    // Fragments are large and short-lived buffers on several threads: above a fixed size they are
    // mapped on their own, so that what a written fragment took goes back to the system at once
    // instead of staying with the allocator of the thread that fetched it.
    static const bool mapped = ::mallopt(M_MMAP_THRESHOLD, 256 * 1024) == 1;
    (void)mapped;
    // The fetch's own stop, set by the user's abort and by the fetch itself when a connection
    // fails or the job stops it: every connection and wait of the fetch ends on it.
    TIdAbortSignal stop;
    const TIdAbortSignal::TRegistration forward = abort.OnAbort([&stop] { stop.Abort(); });
    TFragmentRun run(stream, target, events, stop, bytesHeld_);
    TWorkFile work(target.path);
    if (!events.Proceed(fmReady)) throw EIdNotConnected();
    std::int64_t written = 0;
    try {
        run.Run(work.Stream(), written);
    } catch (...) {
        events.TransferEnds(written);
        throw;
    }
    events.TransferEnds(written);
    // An abort that came with the last fragment still ends the fetch as aborted.
    if (!events.Proceed(fmDone) || abort.Aborted()) throw EIdNotConnected();
    work.Keep();
}

}  // namespace tarnwick
