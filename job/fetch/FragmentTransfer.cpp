#include "job/fetch/FragmentTransfer.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"
#include "http/IdHTTPResponse.h"
#include "job/fetch/MediaTypes.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

constexpr std::string_view kWholeForPartText =
    "The server sent a whole file where a part of it was asked for.";

// One piece's transfer across its tries: where it stands and what the answers named.
class TPieceTransfer {
public:
    TPieceTransfer(TIdHTTP& client, const std::string& address,
                   const std::optional<TByteRange>& range, TPieceBuffer& buffer)
        : client_(client), address_(address), range_(range), buffer_(buffer) {}

    // One request for the bytes not yet in the buffer; throws when they did not all come.
    void Try();
    const std::string& ContentType() const noexcept { return contentType_; }

private:
    void BodyStart(TIdHTTPResponse& response);
    // An answer that is not the part asked for: its bytes go, the next try asks from the start.
    [[noreturn]] void Unfit();

    TIdHTTP& client_;
    const std::string& address_;
    const std::optional<TByteRange>& range_;
    TPieceBuffer& buffer_;
    std::int64_t first_ = 0;   // the first byte of the file the current try asks for
    std::int64_t total_ = -1;  // of a whole file, once an answer named it
    std::string etag_;         // of the answer the buffer's bytes came from
    std::string contentType_;
};

void TPieceTransfer::Try() {
    const std::int64_t held = buffer_.Size();
    const std::int64_t offset = range_ ? static_cast<std::int64_t>(range_->offset) : 0;
    first_ = offset + held;
    TIdHTTPRequest& request = client_.Request();
    request.ContentRangeStart = first_;
    request.ContentRangeEnd = range_ ? offset + static_cast<std::int64_t>(range_->length) - 1 : 0;
    const bool strong = !etag_.empty() && !etag_.starts_with("W/");
    request.IfRange = held > 0 && strong ? etag_ : std::string();
    client_.OnBodyStart = [this](TIdCustomHTTP& http) { BodyStart(http.Response()); };
    buffer_.SetPosition(held);
    client_.Get(address_, buffer_);
    const std::int64_t want = range_ ? static_cast<std::int64_t>(range_->length) : total_;
    // A body without a length that ended early came short, and a try continues it; one that
    // ran past the part is no part of the file.
    if (want >= 0 && buffer_.Size() < want) throw EIdConnClosedGracefully();
    CheckWholeSize(buffer_.Size(), want);
}

void TPieceTransfer::BodyStart(TIdHTTPResponse& response) {
    contentType_ = response.ContentType;
    if (IsWebPageType(contentType_)) throw EPieceRefused(std::string(kWebPageNotVideoText));
    const std::int64_t held = buffer_.Size();
    if (response.StatusCode() == 206) {
        const std::int64_t whole = response.ContentRangeInstanceLength;
        const std::int64_t last =
            range_ ? static_cast<std::int64_t>(range_->offset + range_->length) - 1 : whole - 1;
        const bool fits = response.ContentRangeStart == first_ &&
                          response.ContentRangeEnd == last && last >= first_ &&
                          (range_ || held == 0 || whole == total_) &&
                          (held == 0 || etag_.empty() || response.ETag == etag_);
        if (!fits) Unfit();
        if (!range_) total_ = whole;
    } else {
        if (range_) throw EPieceRefused(std::string(kWholeForPartText));
        // The file from its start: the bytes held go.
        buffer_.SetSize(0);
        buffer_.SetPosition(0);
        const TIdBodyFraming framing = BodyFraming(hmGet, response.StatusCode(), response);
        total_ = framing == bfLength ? response.ContentLength : framing == bfNone ? 0 : -1;
    }
    etag_ = response.ETag;
}

void TPieceTransfer::Unfit() {
    buffer_.SetSize(0);
    etag_.clear();
    total_ = -1;
    throw EIdException(RSHTTPRangeMismatch);
}

// Failures that another try may get past: the connection's, an error status, an answer that
// came short or was not the part asked for.
bool MayTryAgain(const std::exception& e) {
    if (dynamic_cast<const EPieceRefused*>(&e)) return false;
    return dynamic_cast<const EIdException*>(&e) && !dynamic_cast<const EIdUnknownProtocol*>(&e) &&
           !dynamic_cast<const EIdTLSError*>(&e) && !dynamic_cast<const EIdStreamError*>(&e);
}

}  // namespace

TPieceBuffer::~TPieceBuffer() {
    if (account_ && !bytes_.empty()) account_(-Size());
}

void TPieceBuffer::SetPosition(std::int64_t position) {
    position_ = std::max<std::int64_t>(0, position);
}

void TPieceBuffer::SetSize(std::int64_t size) {
    Resize(std::max<std::int64_t>(0, size));
    position_ = std::min(position_, Size());
}

std::int64_t TPieceBuffer::Read(void* buffer, std::int64_t count) {
    const std::int64_t n =
        std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

void TPieceBuffer::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return;
    const std::int64_t end = position_ + count;
    if (end > Size()) Resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
}

std::string TPieceBuffer::TakeBytes() {
    position_ = 0;
    return std::exchange(bytes_, std::string());
}

void TPieceBuffer::Resize(std::int64_t size) {
    const std::int64_t change = size - Size();
    // Room is found before the bytes grow, and given back once they are gone.
    if (change > 0 && account_) account_(change);
    bytes_.resize(static_cast<std::size_t>(size));
    if (change < 0 && account_) account_(change);
}

std::string FetchPiece(TIdHTTP& client, const std::string& address,
                       const std::optional<TByteRange>& range, TPieceBuffer& buffer,
                       const TPieceTries& tries) {
    const TIdAbortSignal& stop = tries.stop ? *tries.stop : TIdAbortSignal::Never();
    TPieceTransfer transfer(client, address, range, buffer);
    // The client goes on to other pieces without this one's settings.
    const auto restore = [&client] {
        client.OnBodyStart = nullptr;
        client.Request().ContentRangeStart = client.Request().ContentRangeEnd = 0;
        client.Request().IfRange.clear();
    };
    struct TOnExit {
        decltype(restore)& run;
        ~TOnExit() { run(); }
    } onExit{restore};
    std::chrono::milliseconds wait = tries.waits.FirstWait;
    for (std::int32_t done = 1;; ++done) {
        if (stop.Aborted()) throw EIdNotConnected();
        try {
            transfer.Try();
            return transfer.ContentType();
        } catch (const std::exception& e) {
            if (stop.Aborted() || done >= kPieceTries || !MayTryAgain(e)) throw;
            const bool stalled = dynamic_cast<const EIdReadTimeout*>(&e) != nullptr;
            const TIdRetryWait info{stalled ? rrStalled : rrConnectionLost,
                                    std::min(wait, tries.waits.LongestWait), done + 1, kPieceTries};
            if (tries.onWait) tries.onWait(info);
            if (!stop.Wait(info.Wait)) throw EIdNotConnected();
            wait *= 2;
        }
    }
}

}  // namespace tarnwick
