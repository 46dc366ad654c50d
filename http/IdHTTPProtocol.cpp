#include "http/IdHTTPProtocol.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

#include "core/StrUtils.h"
#include "http/IdCustomHTTP.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// A line of the answer's framing. A close by the peer in the middle of one is no line.
std::string ReadFramingLine(TIdTCPConnection& connection) {
    std::string line = connection.ReadLine();
    if (connection.LineTimedOut()) throw EIdConnClosedGracefully();
    return line;
}

// Counts the lines of one header block against its bounds.
class HeaderBlockBound {
public:
    void Add(const std::string& line) {
        // The line end counts too: a block of empty-looking lines is no free block.
        bytes_ += static_cast<std::int64_t>(line.size()) + 2;
        if (++lines_ > TIdHTTPProtocol::kMaxHeaderBlockLines)
            throw EIdException(
                Format(RSHTTPHeaderBlockTooManyLines, TIdHTTPProtocol::kMaxHeaderBlockLines));
        if (bytes_ > TIdHTTPProtocol::kMaxHeaderBlockBytes)
            throw EIdException(
                Format(RSHTTPHeaderBlockTooLarge, TIdHTTPProtocol::kMaxHeaderBlockBytes));
    }

private:
    std::int32_t lines_ = 0;
    std::int64_t bytes_ = 0;
};

bool IsInterim(std::int32_t code) { return code >= 100 && code < 200 && code != 101; }

// The body's stream behind the client's rate limit: each write waits in the limit first, in
// pieces small enough to keep a low limit smooth. A wait that an abort ends lets the bytes
// through; the closed connection then ends the read.
class TLimitedStream : public TIdStreamFilter {
public:
    TLimitedStream(TIdStream& stream, TIdRateLimit& limit, const TIdAbortSignal& abort,
                   std::function<bool()> stopped)
        : TIdStreamFilter(stream), limit_(limit), abort_(abort), stopped_(std::move(stopped)) {}

    void Write(const void* buffer, std::int64_t count) override {
        const auto* bytes = static_cast<const char*>(buffer);
        const std::int64_t piece = limit_.LargestTake();
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t n = std::min(piece, count - done);
            limit_.Take(n, abort_, stopped_);
            inner_.Write(bytes + done, n);
            done += n;
        }
    }

private:
    TIdRateLimit& limit_;
    const TIdAbortSignal& abort_;
    const std::function<bool()> stopped_;
};

}  // namespace

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& client) : client_(client), response_(client) {}

void TIdHTTPProtocol::SendRequestHead(const TIdURI* address) {
    answerStarted_ = false;
    if (request_.Target.find_first_of("\r\n") != std::string::npos)
        throw EIdException(RSHTTPTargetLineBreak);
    request_.WriteToLines();
    TIdHeaderList& lines = request_.HeaderLines();
    if (const std::string proxy = client_.ProxyParams.AuthorizationHeader(); !proxy.empty())
        AssignRequestHeader(lines, "Proxy-Authorization", proxy);
    if (address && client_.CookieManager()) {
        // Cookies marked secure go out only over a secured connection.
        const std::string cookies =
            client_.CookieManager()->BuildCookieHeader(*address, client_.ConnectionIsSecure());
        if (!cookies.empty()) AssignRequestHeader(lines, "Cookie", cookies);
    }

    std::string head = MethodWord(request_.Method());
    head += request_.Target;
    head += " HTTP/";
    head += ProtocolVersionText(client_.ProtocolVersion);
    head += "\r\n";
    for (const std::string& line : lines.Lines()) {
        if (line.empty()) continue;
        head += line;
        head += "\r\n";
    }
    head += "\r\n";
    // The whole head leaves in one piece.
    client_.WriteText(head);
}

void TIdHTTPProtocol::ReadAnswerHead() {
    for (std::int32_t interim = 0;; ++interim) {
        if (interim > kMaxInterimAnswers)
            throw EIdException(Format(RSHTTPTooManyInterimAnswers, kMaxInterimAnswers));
        response_.StatusLine = ReadFramingLine(client_);
        answerStarted_ = true;
        ReadResponseHeaders();
        StoreCookies();
        if (!IsInterim(response_.StatusCode())) break;
    }
    // A chunked answer's Content-Length is ignored (and the connection not kept).
    if (!IsChunked(response_)) response_.ContentLength = ContentLengthOf(response_.HeaderLines());
}

void TIdHTTPProtocol::ReadResponseHeaders() {
    TIdHeaderList& lines = response_.HeaderLines();
    lines.Clear();
    HeaderBlockBound bound;
    try {
        for (;;) {
            std::string line = client_.ReadLine();
            if (line.empty()) {
                // A close after part of a line also ends the block.
                if (client_.LineTimedOut()) client_.Disconnect();
                break;
            }
            bound.Add(line);
            lines.Add(std::move(line));
        }
    } catch (const EIdConnClosedGracefully&) {
        client_.Disconnect();
    }
    response_.ReadFromLines();
}

void TIdHTTPProtocol::StoreCookies() {
    TIdCookieManager* manager = client_.CookieManagerForAnswer();
    if (!manager) return;
    const std::string host = client_.URL().Host;
    for (const auto& [name, kind] :
         {std::pair{"Set-cookie", ckRFC2109}, std::pair{"Set-cookie2", ckRFC2965}}) {
        TIdHeaderList values;
        response_.HeaderLines().CollectValues(name, &values);
        for (const std::string& value : values.Lines()) manager->ReceiveCookie(value, host, kind);
    }
}

bool TIdHTTPProtocol::ReadBody() {
    const TIdBodyFraming framing = BodyFraming(request_.Method(), response_.StatusCode(), response_);
    TIdStream* stream = response_.BodyStream;
    if (!stream) return framing == bfNone;
    std::optional<TLimitedStream> limited;
    if (client_.rateLimit_) {
        const TIdAbortSignal& abort =
            client_.AbortSignal ? *client_.AbortSignal : TIdAbortSignal::Never();
        stream = &limited.emplace(*stream, *client_.rateLimit_, abort,
                                  [this] { return client_.aborted_.load(); });
    }
    // A part of a file ends exactly where its range says, however its body is framed: one that
    // ends short is a broken transfer, and no byte past the range reaches the stream.
    const std::int64_t range = request_.Method() == hmHead ? -1 : RangeBodyLength(response_);
    if (range >= 0 && framing != bfChunked && response_.LengthGiven() &&
        response_.ContentLength != range)
        throw EIdException(RSHTTPRangeLengthDiffers);
    switch (framing) {
        case bfNone: break;
        case bfLength: ReadKnownLength(*stream, response_.ContentLength); break;
        case bfChunked: ReadChunked(*stream, range); break;
        case bfUntilClose:
            if (range >= 0)
                ReadRangeUntilClose(*stream, range);
            else
                client_.ReadToStream(*stream, -1, true);
            break;
    }
    return true;
}

void TIdHTTPProtocol::ReadRangeUntilClose(TIdStream& stream, std::int64_t range) {
    ReadKnownLength(stream, range);
    // The range is whole, so the close must come now: any byte before it is past the range.
    TIdManagedBuffer& input = client_.InputBuffer();
    while (input.Size() == 0 && client_.IsConnected() &&
           client_.FillInputBuffer(false, -1, true) > 0) {
    }
    if (input.Size() > 0) throw EIdException(RSHTTPBodyPastRange);
}

void TIdHTTPProtocol::ReadKnownLength(TIdStream& stream, std::int64_t count) {
    const std::int64_t start = stream.Position();
    // Sizing the stream for a body that ends beyond the last position would cut it instead.
    if (count > std::numeric_limits<std::int64_t>::max() - start)
        throw EIdException(RSHTTPBodyTooLarge);
    try {
        client_.ReadToStream(stream, count, false);
    } catch (const EIdStreamError&) {
        throw;
    } catch (const EIdException&) {
        // The read stops at its last full block; what came after it is body too, also when the
        // connection failed afterwards: a resumed transfer goes on from the last byte that came.
        TIdManagedBuffer& input = client_.InputBuffer();
        const std::int64_t missing = count - (stream.Position() - start);
        const auto tail = static_cast<std::size_t>(
            std::clamp<std::int64_t>(missing, 0, static_cast<std::int64_t>(input.Size())));
        if (tail > 0) {
            stream.Write(input.Memory(), static_cast<std::int64_t>(tail));
            input.Remove(tail);
        }
        throw;
    }
}

void TIdHTTPProtocol::ReadChunked(TIdStream& stream, std::int64_t range) {
    client_.ReportStatus(hsStatusText, RSHTTPChunkStarted);
    std::int64_t left = range;  // of the range; -1 without one
    for (;;) {
        const std::int64_t size = ParseChunkSize(ReadFramingLine(client_));
        if (size == 0) break;
        if (range >= 0 && size > left) throw EIdException(RSHTTPBodyPastRange);
        ReadKnownLength(stream, size);
        if (range >= 0) left -= size;
        ReadFramingLine(client_);  // the line end after the data
    }
    // Trailer fields up to the empty line, so a kept connection starts clean at the next answer.
    HeaderBlockBound bound;
    for (std::string line; !(line = ReadFramingLine(client_)).empty();) bound.Add(line);
    if (left > 0) throw EIdBodyShortOfRange();
}

}  // namespace tarnwick
