#pragma once

// The response of an HTTP client: the header fields of the last answer, its status line with the
// code derived from it, the keep-alive decision, and the stream its body goes to. Also the text
// rules of an answer: the status code, the chunk-size line and how a body is framed.

#include <cstdint>
#include <string>
#include <string_view>

#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHTTPMethod.h"
#include "net/IdStream.h"

namespace tarnwick {

class TIdCustomHTTP;

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    explicit TIdHTTPResponse(TIdCustomHTTP& client) : client_(client) {}

    // The status line as read, without its line end.
    std::string StatusLine;
    // Where the body goes; not owned. None: no body is read.
    TIdStream* BodyStream = nullptr;

    // The code of StatusLine (see StatusCodeOf); -1 when it cannot be read.
    std::int32_t StatusCode() const { return StatusCodeOf(StatusLine); }
    // The version of the last status line that named "1.0" or "1.1".
    TIdHTTPProtocolVersion StatusVersion() const noexcept { return statusVersion_; }

    // Whether the connection may serve the next request: it is still open (a close by the peer
    // is noticed here) and the answer allows it. The client's own ProtocolVersion sets the
    // default: at 1.1 unless Connection or Proxy-Connection is "close", at 1.0 only when one of
    // them is "keep-alive" (letter case and surrounding blanks ignored). An answer framed by
    // chunks that also gives a Content-Length is never kept: the server and a cache on the way may
    // disagree on where it ended. Also takes StatusVersion from the status line.
    bool KeepConnection();

    // The code of a status line: the word after the first space, as a decimal integer; -1 when
    // there is none or it is not a number ("HTTP/1.1 302 Found" gives 302, "HTTP/1.1" -1).
    static std::int32_t StatusCodeOf(std::string_view statusLine);

private:
    TIdCustomHTTP& client_;
    TIdHTTPProtocolVersion statusVersion_ = pv1_1;
};

// How the body of an answer is delimited.
enum TIdBodyFraming {
    bfNone,        // no body: an answer to HEAD, 1xx, 204, 304, or a Content-Length of 0
    bfLength,      // exactly ContentLength bytes
    bfChunked,     // chunked transfer coding
    bfUntilClose,  // everything until the server closes
};

// The framing of an answer with statusCode to a request of method, from its header fields:
// a "Transfer-Encoding" value that contains "chunked" (in exactly that letter case) first, whatever
// the Content-Length says, then a positive ContentLength, then until close when no length is
// given.
TIdBodyFraming BodyFraming(TIdHTTPMethod method, std::int32_t statusCode,
                           const TIdEntityHeaderInfo& fields);

// The length of the body of a 206 answer that response's "Content-Range" names; -1 when it is no
// 206 answer or names no range (a multipart/byteranges body carries a range per part). Throws
// EIdException "The answer's Content-Range names no valid range of the file." for a range that
// is not one ("bytes */200", its end before its start or past the total).
std::int64_t RangeBodyLength(const TIdHTTPResponse& response);

// Whether the fields name the chunked transfer coding (see BodyFraming).
bool IsChunked(const TIdEntityHeaderInfo& fields);

// The body length that the "Content-Length" headers of lines give: -1 without any. Every header
// (and every entry of a comma list in one) must be the same plain decimal number (digits only,
// blanks around it allowed) below 2^63. Throws EIdException "The answer gives differing
// Content-Length values." or "Invalid Content-Length "<text>": not a decimal number below 2^63.".
std::int64_t ContentLengthOf(const TIdHeaderList& lines);

// The size of a chunk from its size line: the hexadecimal digits before the first ";" (chunk
// extensions) or blank, leading blanks skipped. Throws EIdException
// "Invalid chunk size \"<text>\": not a hexadecimal number below 2^63." when that is empty,
// holds anything but hexadecimal digits, or does not fit in 63 bits.
std::int64_t ParseChunkSize(std::string_view line);

}  // namespace tarnwick
