#include "http/IdResumableGet.h"

#include <algorithm>
#include <exception>

#include "core/StrUtils.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"
#include "http/IdHTTPResponse.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// Thrown from the start of a body when a 206 answer is not the part that was asked for: the
// client closes the connection before a byte of it is written.
struct RangeRefused {};

// The client's settings that a Get borrows, given back as they were.
class BorrowedSettings {
public:
    explicit BorrowedSettings(TIdCustomHTTP& http)
        : http_(http),
          onBodyStart_(http.OnBodyStart),
          abort_(http.AbortSignal),
          rangeStart_(http.Request().ContentRangeStart),
          rangeEnd_(http.Request().ContentRangeEnd),
          ifRange_(http.Request().IfRange),
          rangeFromStart_(http.Request().RangeFromStart) {}
    ~BorrowedSettings() {
        http_.OnBodyStart = std::move(onBodyStart_);
        http_.AbortSignal = abort_;
        http_.Request().ContentRangeStart = rangeStart_;
        http_.Request().ContentRangeEnd = rangeEnd_;
        http_.Request().IfRange = std::move(ifRange_);
        http_.Request().RangeFromStart = rangeFromStart_;
    }
    BorrowedSettings(const BorrowedSettings&) = delete;
    BorrowedSettings& operator=(const BorrowedSettings&) = delete;

private:
    TIdCustomHTTP& http_;
    TIdHTTPOnBodyStartEvent onBodyStart_;
    const TIdAbortSignal* abort_;
    std::int64_t rangeStart_;
    std::int64_t rangeEnd_;
    std::string ifRange_;
    bool rangeFromStart_;
};

}  // namespace

bool IsConnectionFailure(const std::exception& e) {
    return dynamic_cast<const EIdConnClosedGracefully*>(&e) ||
           dynamic_cast<const EIdSocketError*>(&e) || dynamic_cast<const EIdReadTimeout*>(&e) ||
           dynamic_cast<const EIdNotConnected*>(&e) || dynamic_cast<const EIdClosedSocket*>(&e) ||
           dynamic_cast<const EIdConnectTimeout*>(&e) ||
           dynamic_cast<const EIdConnectException*>(&e);
}

void CheckWholeSize(std::int64_t size, std::int64_t total) {
    if (total >= 0 && size != total)
        throw EIdException(Format(RSHTTPSizeNotTotal, static_cast<long long>(size),
                                  static_cast<long long>(total)));
}

std::string RetryWaitText(const TIdRetryWait& wait) {
    const long long seconds = (static_cast<long long>(wait.Wait.count()) + 999) / 1000;
    return Format(RSHTTPRetryWait,
                  wait.Reason == rrStalled ? RSHTTPRetryStalled : RSHTTPRetryConnectionLost,
                  seconds, wait.TryInRow, wait.TriesInRowLimit);
}

TIdResumableGet::TIdResumableGet(TIdCustomHTTP& http, TIdResumeSettings settings,
                                 const TIdAbortSignal* abort)
    : http_(http), settings_(settings), abort_(abort) {}

void TIdResumableGet::Get(std::string_view address, TIdStream& output) {
    const BorrowedSettings borrowed(http_);
    const TIdAbortSignal& abort = abort_ ? *abort_ : never_;
    if (abort_) http_.AbortSignal = abort_;
    std::int64_t from = 0;
    http_.OnBodyStart = [this, &from](TIdCustomHTTP& http) { BodyStart(http.Response(), from); };

    output_ = &output;
    total_ = -1;
    validator_ = output.Size() > 0 ? IfRange : std::string();
    etag_ = validator_.starts_with('"') ? validator_ : std::string();
    TAsk ask = akContinue;
    bool begun = false;          // a body began: the transfer is under way
    bool unfitAnswer = false;    // a request from byte 0 went for one since the last new byte
    std::int32_t retries = 0;    // after failures of the connection
    std::int32_t inRow = 0;      // tries in a row without a new byte, the coming one included
    std::int64_t mostHeld = output_->Size();  // the most the output held in this Get
    for (std::int32_t tries = 0;; ++tries) {
        if (tries > 0 && abort.Aborted()) throw EIdNotConnected();
        const std::int64_t held = output_->Size();
        from = ask == akContinue ? held : 0;
        output_->SetPosition(held);
        TIdHTTPRequest& request = http_.Request();
        request.ContentRangeStart = from;
        request.ContentRangeEnd = 0;
        request.IfRange = from > 0 ? validator_ : std::string();
        request.RangeFromStart = AskRangeFirst && tries == 0 && held == 0;
        bodyBegan_ = false;
        try {
            http_.Get(address, *output_);
            return;
        } catch (const RangeRefused&) {
            if (unfitAnswer) throw EIdException(RSHTTPRangeMismatch);
        } catch (const EIdHTTPProtocolException& e) {
            if (e.StatusCode() == 416 && from > 0 && WholeBy416(http_.Response())) {
                total_ = http_.Response().ContentRangeInstanceLength;
                if (OnTry) OnTry(held, held);
                return;
            }
            // An error answer to a plain first request is the answer, as for any Get; a 416 to
            // "bytes=0-" (an empty file) is asked again without the range.
            const bool emptyByRange = e.StatusCode() == 416 && http_.Request().RangeFromStart;
            if ((tries == 0 && from == 0 && !emptyByRange) || unfitAnswer) throw;
        } catch (const std::exception& e) {
            begun = begun || bodyBegan_;
            if (abort.Aborted() || !begun || !IsConnectionFailure(e)) throw;
            const std::int64_t now = output_->Size();
            if (now > mostHeld) {
                mostHeld = now;
                inRow = 0;
                unfitAnswer = false;
            }
            if (++inRow > settings_.MaxTriesInRow || retries >= settings_.MaxTries) throw;
            ++retries;
            std::chrono::milliseconds wait = settings_.FirstWait;
            for (std::int32_t i = 1; i < inRow && wait < settings_.LongestWait; ++i) wait *= 2;
            const TIdRetryWait info{dynamic_cast<const EIdReadTimeout*>(&e) ? rrStalled
                                                                             : rrConnectionLost,
                                    std::min(wait, settings_.LongestWait), inRow,
                                    settings_.MaxTriesInRow};
            if (OnWait) OnWait(info);
            if (!abort.Wait(info.Wait)) throw EIdNotConnected();
            ask = validator_.empty() ? akFromStart : akContinue;
            continue;
        }
        // The answer does not continue the bytes held: they go, by the next body from byte 0.
        unfitAnswer = true;
        ask = akFromStart;
        total_ = -1;
        etag_.clear();
        validator_.clear();
    }
}

void TIdResumableGet::BodyStart(TIdHTTPResponse& response, std::int64_t from) {
    const TIdBodyFraming framing = BodyFraming(hmGet, response.StatusCode(), response);
    std::int64_t total = framing == bfLength ? response.ContentLength : framing == bfNone ? 0 : -1;
    if (response.StatusCode() == 206) {
        total = response.ContentRangeInstanceLength;
        const bool fits =
            response.ContentRangeStart == from && total > from &&
            response.ContentRangeEnd == total - 1 &&
            (framing != bfLength || response.ContentLength == total - from) &&
            (from == 0 || ((total_ < 0 || total == total_) &&
                           (etag_.empty() || response.ETag == etag_)));
        if (!fits) throw RangeRefused();
        if (from > 0) {
            // The first answer of a continued output names the transfer.
            if (total_ < 0) Remember(response, total);
            bodyBegan_ = true;
            if (OnTry) OnTry(from, total);
            return;
        }
    }
    if (output_->Size() > 0) StartOver(response);
    Remember(response, total);
    bodyBegan_ = true;
    if (OnTry) OnTry(0, total);
}

void TIdResumableGet::Remember(const TIdHTTPResponse& response, std::int64_t total) {
    total_ = total;
    etag_ = response.ETag;
    // A weak tag cannot make a Range conditional; only a known length can be continued.
    const bool strong = !etag_.empty() && !etag_.starts_with("W/");
    validator_.clear();
    if (total > 0)
        validator_ = strong ? etag_ : response.HeaderLines().HeaderValue("Last-Modified");
}

void TIdResumableGet::StartOver(TIdHTTPResponse& response) {
    if (OnStartOver)
        output_ = &OnStartOver();
    else
        output_->SetSize(0);
    output_->SetPosition(0);
    response.BodyStream = output_;
}

bool TIdResumableGet::WholeBy416(const TIdHTTPResponse& response) const {
    const std::int64_t total = response.ContentRangeInstanceLength;
    return total >= 0 && total == output_->Size() && (total_ < 0 || total == total_);
}

}  // namespace tarnwick
