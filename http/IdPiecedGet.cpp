#include "http/IdPiecedGet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/StrUtils.h"
#include "http/IdHTTPMessages.h"
#include "http/IdHTTPResponse.h"
#include "http/IdHostSlots.h"
#include "http/IdPieceBoard.h"
#include "http/IdURI.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// Thrown from the start of a piece's body that is not the part asked for.
struct PartRefused {};
// Thrown from the first client's wait once the file is split: piece 0 goes on by the pieces' rules.
struct FirstPieceBroke {};

// The version of the file the pieces must all come from, as the first answer named it.
struct TVersion {
    std::int64_t total = -1;
    std::string etag;
    std::string lastModified;
    std::string validator;  // for If-Range: the ETag when strong, else Last-Modified
};

TVersion VersionOf(std::int64_t total, std::string etag, std::string lastModified) {
    TVersion version{total, std::move(etag), std::move(lastModified), {}};
    const bool strong = !version.etag.empty() && !version.etag.starts_with("W/");
    version.validator = strong ? version.etag : version.lastModified;
    return version;
}

TVersion VersionOf(const TIdHTTPResponse& response, std::int64_t total) {
    return VersionOf(total, response.ETag, response.HeaderLines().HeaderValue("Last-Modified"));
}

// "host:port" of an address, for the bound on connections to one host.
std::string HostKey(std::string_view address) {
    const TIdURI uri(address);
    const std::string port = !uri.Port.empty()                   ? uri.Port
                             : SameText(uri.Protocol, "https") ? "443"
                                                                : "80";
    return LowerCase(uri.Host) + ":" + port;
}

// The client's settings that a Get takes over, given back as they were.
class TBorrowedClient {
public:
    explicit TBorrowedClient(TIdCustomHTTP& http)
        : http_(http), onBodyStart_(http.OnBodyStart), abort_(http.AbortSignal),
          request_(http.Request()) {}
    ~TBorrowedClient() {
        http_.OnBodyStart = std::move(onBodyStart_);
        http_.AbortSignal = abort_;
        TIdHTTPRequest& request = http_.Request();
        request.ContentRangeStart = request_.ContentRangeStart;
        request.ContentRangeEnd = request_.ContentRangeEnd;
        request.IfRange = request_.IfRange;
        request.RangeFromStart = request_.RangeFromStart;
    }
    TBorrowedClient(const TBorrowedClient&) = delete;
    TBorrowedClient& operator=(const TBorrowedClient&) = delete;

private:
    struct TRange {
        explicit TRange(const TIdHTTPRequest& r)
            : ContentRangeStart(r.ContentRangeStart), ContentRangeEnd(r.ContentRangeEnd),
              IfRange(r.IfRange), RangeFromStart(r.RangeFromStart) {}
        std::int64_t ContentRangeStart, ContentRangeEnd;
        std::string IfRange;
        bool RangeFromStart;
    };
    TIdCustomHTTP& http_;
    TIdHTTPOnBodyStartEvent onBodyStart_;
    const TIdAbortSignal* abort_;
    TRange request_;
};

// The output as one connection writes it, in order: told after each block.
class TCountedOutput : public TIdStreamFilter {
public:
    TCountedOutput(TIdStream& output, std::function<void(std::int64_t)> onBlock)
        : TIdStreamFilter(output), onBlock_(std::move(onBlock)) {}
    void Write(const void* buffer, std::int64_t count) override {
        inner_.Write(buffer, count);
        if (onBlock_) onBlock_(inner_.Position());
    }

private:
    std::function<void(std::int64_t)> onBlock_;
};

TIdRetryWait WaitBefore(std::int32_t inRow, const std::exception& e,
                        const TIdResumeSettings& settings) {
    std::chrono::milliseconds wait = settings.FirstWait;
    for (std::int32_t i = 1; i < inRow && wait < settings.LongestWait; ++i) wait *= 2;
    return {dynamic_cast<const EIdReadTimeout*>(&e) ? rrStalled : rrConnectionLost,
            std::min(wait, settings.LongestWait), inRow, settings.MaxTriesInRow};
}

}  // namespace

// One Get's connections, threads and pieces; everything it starts ends with it.
class TIdPiecedGet::TRun {
public:
    TRun(TIdPiecedGet& get, TIdStream& output, const TIdAbortSignal& abort)
        : get_(get), output_(output),
          userAbort_(abort.OnAbort([this] { phase_.Abort(); })) {}
    ~TRun() {
        phase_.Abort();
        for (std::thread& thread : threads_) thread.join();
    }
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;

    // The first request, and the whole transfer on the first client unless it splits; true
    // when it did not split.
    bool First(std::string_view address, bool askRange);
    // Goes on with the split transfer state describes, on every connection.
    void Resume(std::string_view address, const TIdPiecedState& state);
    // The connections of a split transfer until they end; true when it is to start over.
    bool Pieces();

private:
    void Split(std::int64_t total);
    void StartConnections();
    TIdPiecedState State() const;
    // One connection: piece 0 first when firstPiece, then what it can claim.
    void Work(TIdCustomHTTP& client, bool firstPiece, bool takeSlot);
    bool FetchPiece(TIdCustomHTTP& client, std::size_t piece);
    void TryPiece(TIdCustomHTTP& client, std::size_t piece, TIdPieceBoard::TSpan left);
    void CheckPart(const TIdHTTPResponse& response, TIdPieceBoard::TSpan asked);
    // On the calling thread: the bytes held and the waits of the connections, to the events.
    void Report(bool last = false);
    void Fatal(std::exception_ptr failure);

    TIdPiecedGet& get_;
    TIdStream& output_;
    TIdAbortSignal phase_;  // ends every connection and wait of this run
    TIdAbortSignal::TRegistration userAbort_;
    TVersion version_;
    std::string address_;  // where the first answer came from
    std::string host_;
    std::optional<TIdPieceBoard> board_;
    TIdAbortSignal::TRegistration stopBoard_;
    std::optional<TIdPieceOutput> firstPiece_;
    std::vector<std::unique_ptr<TIdCustomHTTP>> clients_;
    bool resumed_ = false;
    std::chrono::steady_clock::time_point lastKeep_;
    std::atomic<bool> fallBack_{false};
    std::atomic<std::int32_t> working_{0};
    std::mutex mutex_;  // guards the two below
    std::exception_ptr fatal_;
    std::vector<TIdRetryWait> waits_;
    std::vector<std::thread> threads_;  // last: joined before what they use goes
};

bool TIdPiecedGet::TRun::First(std::string_view address, bool askRange) {
    TIdResumableGet get(get_.http_, get_.settings_, &phase_);
    get.AskRangeFirst = askRange;
    get.IfRange = get_.IfRange;
    bool first = askRange;
    get.OnTry = [&](std::int64_t offset, std::int64_t total) {
        get_.validator_ = get.Validator();
        if (get_.OnTry) get_.OnTry(offset, total);
        const TIdHTTPResponse& response = get_.http_.Response();
        if (std::exchange(first, false) && get_.connections_ > 1 && response.StatusCode() == 206 &&
            total >= kSmallestSplit && !VersionOf(response, total).validator.empty()) {
            address_ = get_.http_.URL().ComposeUri(TIdURIOptionalFields::IncludeAuthInfo);
            Split(total);
        }
    };
    get.OnWait = [&](const TIdRetryWait& wait) {
        if (board_) throw FirstPieceBroke();
        if (get_.OnWait) get_.OnWait(wait);
    };
    TCountedOutput counted(output_, [&](std::int64_t held) {
        if (get_.OnProgress) get_.OnProgress(held);
    });
    try {
        get.Get(address, counted);
    } catch (const TIdPieceEnds&) {
    } catch (const FirstPieceBroke&) {
    } catch (const std::exception& e) {
        if (!board_) throw;
        // Piece 0 goes on as the others do after a broken connection.
        if (!IsConnectionFailure(e)) Fatal(std::current_exception());
    }
    get_.total_ = get.Total();
    return !board_;
}

void TIdPiecedGet::TRun::Split(std::int64_t total) {
    TIdHTTPResponse& response = get_.http_.Response();
    version_ = VersionOf(response, total);
    host_ = HostKey(address_);
    // Told before the output has its size: a kept file of that size never goes with the
    // one-connection validator that claimed it whole.
    get_.validator_ = version_.validator;
    if (get_.OnKeep) get_.OnKeep({total, version_.etag, version_.lastModified, {{0, total}}});
    lastKeep_ = std::chrono::steady_clock::now();
    output_.SetSize(total);
    board_.emplace(output_, total, get_.connections_, kSmallestTakeOver);
    stopBoard_ = phase_.OnAbort([this] { board_->Stop(); });
    firstPiece_.emplace(*board_, 0, total, [this] { Report(); });
    response.BodyStream = &*firstPiece_;
    StartConnections();
}

void TIdPiecedGet::TRun::Resume(std::string_view address, const TIdPiecedState& state) {
    version_ = VersionOf(state.total, state.etag, state.lastModified);
    address_ = std::string(address);
    host_ = HostKey(address_);
    resumed_ = true;
    lastKeep_ = std::chrono::steady_clock::now();
    board_.emplace(output_, state.total, state.missing, kSmallestTakeOver);
    stopBoard_ = phase_.OnAbort([this] { board_->Stop(); });
    get_.total_ = state.total;
    get_.validator_ = version_.validator;
    // Split from the start: the try told is one of the split transfer.
    get_.split_ = true;
    if (get_.OnTry) get_.OnTry(board_->Held(), state.total);
    StartConnections();
}

void TIdPiecedGet::TRun::StartConnections() {
    for (std::int32_t i = 1; i < get_.connections_; ++i) clients_.push_back(get_.makeClient_());
    working_ = static_cast<std::int32_t>(clients_.size());
    for (auto& client : clients_)
        threads_.emplace_back([this, &client] { Work(*client, false, true); });
    get_.split_ = true;
}

TIdPiecedState TIdPiecedGet::TRun::State() const {
    return {version_.total, version_.etag, version_.lastModified, board_->Missing()};
}

bool TIdPiecedGet::TRun::Pieces() {
    // The first client goes on (its slot is the Get's) while this thread tells the progress.
    ++working_;
    threads_.emplace_back([this] {
        const TBorrowedClient borrowed(get_.http_);
        Work(get_.http_, !resumed_, false);
    });
    while (working_ > 0) {
        board_->WaitForChange(std::chrono::milliseconds(50));
        Report();
        // A connection still waiting for a slot of its host has nothing left to fetch.
        if (board_->Whole()) phase_.Abort();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    Report(true);
    if (fallBack_) return true;
    if (fatal_) std::rethrow_exception(fatal_);
    if (phase_.Aborted() && !board_->Whole()) throw EIdNotConnected();
    if (!board_->Whole()) {
        if (const std::exception_ptr failure = board_->LastFailure())
            std::rethrow_exception(failure);
        throw EIdNotConnected();
    }
    return false;
}

void TIdPiecedGet::TRun::Work(TIdCustomHTTP& client, bool firstPiece, bool takeSlot) {
    try {
        TIdHostSlots::TSlot slot;
        if (takeSlot) slot = TIdHostSlots::Process().Take(host_, get_.connections_, phase_);
        client.AbortSignal = &phase_;
        for (std::size_t piece = 0;; firstPiece = false) {
            if (!firstPiece) {
                const std::optional<std::size_t> next = board_->Claim();
                if (!next) break;
                piece = *next;
            }
            const bool done = FetchPiece(client, piece);
            board_->Release(piece);
            if (!done) break;
        }
        // The connection goes before its slot does.
        client.CloseConnection();
    } catch (...) {
        // A slot that never came; the pieces' own failures are caught where they happen.
        if (!phase_.Aborted()) board_->Failed(std::current_exception());
    }
    --working_;
}

bool TIdPiecedGet::TRun::FetchPiece(TIdCustomHTTP& client, std::size_t piece) {
    const TIdResumeSettings& settings = get_.settings_;
    std::int32_t retries = 0, inRow = 0;
    std::int64_t mostHeld = board_->Left(piece).from;
    for (;;) {
        const TIdPieceBoard::TSpan left = board_->Left(piece);
        if (left.from >= left.end) return true;
        if (phase_.Aborted()) return false;
        try {
            TryPiece(client, piece, left);
            continue;
        } catch (const PartRefused&) {
            return false;
        } catch (const EIdStreamError&) {
            // The output cannot take the bytes: no other connection will do better.
            Fatal(std::current_exception());
            return false;
        } catch (const std::exception& e) {
            if (phase_.Aborted()) return false;
            board_->Failed(std::current_exception());
            // An error answer: this connection gives the piece up, another may get it.
            if (!IsConnectionFailure(e)) return false;
            const std::int64_t now = board_->Left(piece).from;
            if (now > mostHeld) {
                mostHeld = now;
                inRow = 0;
            }
            if (++inRow > settings.MaxTriesInRow || retries >= settings.MaxTries) return false;
            ++retries;
            const TIdRetryWait wait = WaitBefore(inRow, e, settings);
            {
                const std::lock_guard lock(mutex_);
                waits_.push_back(wait);
            }
            if (!phase_.Wait(wait.Wait)) return false;
        }
    }
}

void TIdPiecedGet::TRun::TryPiece(TIdCustomHTTP& client, std::size_t piece,
                                  TIdPieceBoard::TSpan left) {
    TIdHTTPRequest& request = client.Request();
    request.ContentRangeStart = left.from;
    request.ContentRangeEnd = left.end - 1;
    request.RangeFromStart = true;
    request.IfRange = version_.validator;
    client.OnBodyStart = [this, left](TIdCustomHTTP& http) { CheckPart(http.Response(), left); };
    TIdPieceOutput stream(*board_, piece, left.end);
    try {
        client.Get(address_, stream);
    } catch (const TIdPieceEnds&) {
        return;
    }
    // A part that fits brings its bytes; none at all would be asked for again and again.
    if (stream.Size() == 0) throw EIdException(RSHTTPRangeMismatch);
}

void TIdPiecedGet::TRun::CheckPart(const TIdHTTPResponse& response, TIdPieceBoard::TSpan asked) {
    const bool fits =
        response.StatusCode() == 206 && response.ContentRangeStart == asked.from &&
        response.ContentRangeEnd == asked.end - 1 &&
        response.ContentRangeInstanceLength == version_.total &&
        (version_.etag.empty() ? response.HeaderLines().HeaderValue("Last-Modified") ==
                                     version_.lastModified
                               : response.ETag == version_.etag);
    if (fits) return;
    // Ranges refused, or a part of another version: none of its bytes is written, and the
    // whole transfer starts over on one connection.
    fallBack_ = true;
    phase_.Abort();
    throw PartRefused();
}

void TIdPiecedGet::TRun::Report(bool last) {
    std::vector<TIdRetryWait> waits;
    {
        const std::lock_guard lock(mutex_);
        waits.swap(waits_);
    }
    try {
        for (const TIdRetryWait& wait : waits)
            if (get_.OnWait) get_.OnWait(wait);
        if (get_.OnProgress) get_.OnProgress(board_->Held());
        const auto now = std::chrono::steady_clock::now();
        if (get_.OnKeep && (last || now - lastKeep_ >= std::chrono::seconds(1))) {
            lastKeep_ = now;
            get_.OnKeep(State());
        }
    } catch (...) {
        Fatal(std::current_exception());
    }
}

void TIdPiecedGet::TRun::Fatal(std::exception_ptr failure) {
    {
        const std::lock_guard lock(mutex_);
        if (!fatal_) fatal_ = std::move(failure);
    }
    phase_.Abort();
}

TIdPiecedGet::TIdPiecedGet(TIdCustomHTTP& http, TClientMaker makeClient,
                           std::int32_t connections, TIdResumeSettings settings,
                           const TIdAbortSignal* abort)
    : http_(http), makeClient_(std::move(makeClient)),
      connections_(std::clamp(connections, 1, 16)), settings_(settings), abort_(abort) {}

void TIdPiecedGet::Get(std::string_view address, TIdStream& output) {
    Run(address, output, nullptr);
}

void TIdPiecedGet::Continue(std::string_view address, TIdStream& output,
                            const TIdPiecedState& state) {
    Run(address, output, &state);
}

void TIdPiecedGet::Run(std::string_view address, TIdStream& output,
                       const TIdPiecedState* kept) {
    const TIdAbortSignal& abort = abort_ ? *abort_ : TIdAbortSignal::Never();
    const TBorrowedClient borrowed(http_);
    total_ = -1;
    split_ = false;
    validator_.clear();
    const TIdHostSlots::TSlot slot = TakeSlot(address, abort);
    if (!kept) return Fresh(address, output, abort);
    if (kept->total > 0 && output.Size() == kept->total && makeClient_) {
        TRun run(*this, output, abort);
        run.Resume(address, *kept);
        if (!run.Pieces()) return;
    }
    // Another version, or nothing that can be continued: the transfer starts anew.
    Empty(output);
    Fresh(address, output, abort);
}

TIdHostSlots::TSlot TIdPiecedGet::TakeSlot(std::string_view address,
                                          const TIdAbortSignal& abort) {
    const std::string host = HostKey(address);
    TIdHostSlots& slots = TIdHostSlots::Process();
    // Told before a wait that lasts as long as another transfer.
    if (OnHostBusy && slots.Taken(host) >= connections_) OnHostBusy(host);
    return slots.Take(host, connections_, abort);
}

void TIdPiecedGet::Fresh(std::string_view address, TIdStream& output,
                         const TIdAbortSignal& abort) {
    {
        TRun run(*this, output, abort);
        const bool askRange = makeClient_ && connections_ > 1 && output.Size() == 0;
        if (run.First(address, askRange) || !run.Pieces()) return;
    }
    // Starts over once, on the first client alone, from byte 0.
    Empty(output);
    TRun again(*this, output, abort);
    again.First(address, false);
}

void TIdPiecedGet::Empty(TIdStream& output) {
    split_ = false;
    total_ = -1;
    if (OnKeep) OnKeep({});
    output.SetSize(0);
    output.SetPosition(0);
}

}  // namespace tarnwick
