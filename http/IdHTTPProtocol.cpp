#include "http/IdHTTPProtocol.h"

#include <algorithm>
#include <limits>

#include "http/IdCustomHTTP.h"
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

}  // namespace

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& client) : client_(client), response_(client) {}

void TIdHTTPProtocol::SendRequestHead(const TIdURI* address) {
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
    do {
        response_.StatusLine = ReadFramingLine(client_);
        ReadResponseHeaders();
        StoreCookies();
    } while (response_.StatusCode() == 100);
}

void TIdHTTPProtocol::ReadResponseHeaders() {
    TIdHeaderList& lines = response_.HeaderLines();
    lines.Clear();
    try {
        for (;;) {
            std::string line = client_.ReadLine();
            if (line.empty()) {
                // A close after part of a line also ends the block.
                if (client_.LineTimedOut()) client_.Disconnect();
                break;
            }
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
    switch (framing) {
        case bfNone: break;
        case bfLength: ReadKnownLength(*stream, response_.ContentLength); break;
        case bfChunked: ReadChunked(*stream); break;
        case bfUntilClose: client_.ReadToStream(*stream, -1, true); break;
    }
    return true;
}

void TIdHTTPProtocol::ReadKnownLength(TIdStream& stream, std::int64_t count) {
    const std::int64_t start = stream.Position();
    // Sizing the stream for a body that ends beyond the last position would cut it instead.
    if (count > std::numeric_limits<std::int64_t>::max() - start)
        throw EIdException(RSHTTPBodyTooLarge);
    try {
        client_.ReadToStream(stream, count, false);
    } catch (const EIdConnClosedGracefully&) {
        // The read stops at its last full block; what came after it is body too.
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

void TIdHTTPProtocol::ReadChunked(TIdStream& stream) {
    client_.ReportStatus(hsStatusText, RSHTTPChunkStarted);
    for (;;) {
        const std::int64_t size = ParseChunkSize(ReadFramingLine(client_));
        if (size == 0) break;
        ReadKnownLength(stream, size);
        ReadFramingLine(client_);  // the line end after the data
    }
    // Trailer fields up to the empty line, so a kept connection starts clean at the next answer.
    while (!ReadFramingLine(client_).empty()) {
    }
}

}  // namespace tarnwick
