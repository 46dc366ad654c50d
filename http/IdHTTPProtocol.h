#pragma once

// One HTTP/1.x exchange on the client's connection: writing the request head, reading the answer
// head (and handing its cookies to the client's store), and reading a body into the response's
// stream. Owns the client's request and response.

#include <cstdint>

#include "http/IdHTTPRequest.h"
#include "http/IdHTTPResponse.h"
#include "http/IdURI.h"
#include "net/IdStream.h"

namespace tarnwick {

class TIdCustomHTTP;

class TIdHTTPProtocol {
public:
    // Bounds on one header block (an answer's, an interim answer's, or a chunked body's trailer),
    // its status line not counted, line ends counted; and on the interim (1xx) answers before the
    // final one.
    static constexpr std::int32_t kMaxHeaderBlockBytes = 256 * 1024;
    static constexpr std::int32_t kMaxHeaderBlockLines = 1000;
    static constexpr std::int32_t kMaxInterimAnswers = 32;

    explicit TIdHTTPProtocol(TIdCustomHTTP& client);
    TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
    TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

    TIdHTTPRequest& Request() noexcept { return request_; }
    TIdHTTPResponse& Response() noexcept { return response_; }

    // Builds the request's header lines, adds "Proxy-Authorization" (through a proxy, when set
    // up) and, for an address, the "Cookie" line the client's store has for it; then sends the
    // request line (method, Target, " HTTP/" and the client's version), the non-empty header lines
    // and an empty line, in one piece. Throws what the connection throws; nothing is sent when
    // the target or a header value holds a CR or LF: EIdException
    // "The request target holds a line break." or as AssignRequestHeader.
    void SendRequestHead(const TIdURI* address);

    // Reads the status line and the header block, again while the answer is an interim one (a 1xx
    // code other than 101), handing the "Set-cookie" and "Set-cookie2" values of every block to
    // the client's store (made first when the client has none and AllowCookies is set). A close
    // by the peer before or inside the status line throws EIdConnClosedGracefully; more than
    // kMaxInterimAnswers interim answers throw EIdException "More than 32 interim answers came
    // before the final one."; the final answer's Content-Length is checked (see ContentLengthOf,
    // not for a chunked answer), so a bad or ambiguous one throws before any body byte is read.
    // Other failures of the connection pass through.
    void ReadAnswerHead();

    // Reads header lines up to the empty line into the response's HeaderLines and fills its
    // fields. A close by the peer ends the block with the lines read so far (the client then
    // disconnects). Throws EConvertError for a bad "Content-Range" (see ReadFromLines), and
    // EIdException "The header block of the answer is larger than 262144 bytes." or "... has
    // more than 1000 lines." beyond the bounds above.
    void ReadResponseHeaders();

    // Reads the body of the last answer into the response's BodyStream (nothing without one), as
    // BodyFraming says. Each read into the stream fires its own work events: one set for a body
    // of known length (begin with the length), one per chunk (begin with the chunk's size), one
    // for a body until close (begin with 0). A chunked body reports the status text
    // "Chunk Started" first; its trailer has the bounds of a header block (and throws as
    // ReadResponseHeaders beyond them). A close by the peer before a body of known length or a
    // chunk is complete throws EIdConnClosedGracefully; when such a read ends early for any
    // failure of the connection (a close, a reset, the stall limit), every byte that came is
    // written to the stream first;
    // a bad chunk size throws EIdException (see ParseChunkSize), and so does a body of known
    // length or a chunk that would end beyond stream position 2^63-1 ("The body does not fit in
    // the output stream.", before any of it is read). Other failures pass through.
    // The body of a 206 answer that names a range (see RangeBodyLength) must end exactly at the
    // range's end, however it is framed: a Content-Length that differs from the range's length
    // throws EIdException "The answer's Content-Length differs from the length of the range it
    // names." before any byte is read; a body that would run past the range throws EIdException
    // "The server sent more bytes than the range it named." with no byte past the range written
    // (a chunk that would is not read; a body until close is read up to the range's end, and
    // the close must come next); a chunked body that ends short of it throws EIdBodyShortOfRange,
    // a broken transfer as a close is.
    // With a rate limit on the client, every block waits in it before it reaches the stream.
    // Returns false when the answer has a body and there is no stream to read it into: the body
    // is then still on the connection.
    bool ReadBody();

    // Whether the status line of the answer to the last request sent has come.
    bool AnswerStarted() const noexcept { return answerStarted_; }

private:
    void StoreCookies();
    // Reads count body bytes; on a close by the peer the bytes that came are kept.
    void ReadKnownLength(TIdStream& stream, std::int64_t count);
    // range: the bytes the answer's range names, -1 without one.
    void ReadChunked(TIdStream& stream, std::int64_t range);
    void ReadRangeUntilClose(TIdStream& stream, std::int64_t range);

    TIdCustomHTTP& client_;
    TIdHTTPRequest request_;
    TIdHTTPResponse response_;
    bool answerStarted_ = false;
};

}  // namespace tarnwick
