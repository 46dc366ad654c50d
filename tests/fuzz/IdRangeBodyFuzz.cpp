// The body of a 206 answer under every framing (a length, chunks, until close), read by a whole
// Get over an in-memory connection that hands the client the input in pieces, then closes.
// Input: byte 0 picks the piece size; bytes 1 to 6 are the start, end and total of the answer's
// Content-Range (16 bits each); the rest follows that header line: more header lines, the empty
// line and the body, as the server sends them.
//
// However the body is framed, no byte past the range the answer names is written, and a Get that
// returns has written exactly the range's bytes.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "MemoryIOHandler.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPResponse.h"
#include "net/IdStream.h"

using namespace tarnwick;

namespace {

// Counts every byte written to it, also those a failed read cuts off again.
class TCountingStream : public TIdMemoryStream {
public:
    void Write(const void* buffer, std::int64_t count) override {
        written_ += count;
        TIdMemoryStream::Write(buffer, count);
    }
    std::int64_t Written() const noexcept { return written_; }

private:
    std::int64_t written_ = 0;
};

std::int64_t Number(const std::uint8_t* bytes) { return (bytes[0] << 8) | bytes[1]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return 0;
    const std::size_t piece = std::size_t(data[0] & 0x3f) + 1;
    const std::int64_t start = Number(data + 1), end = Number(data + 3), total = Number(data + 5);
    const std::string answer =
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(start) + "-" +
        std::to_string(end) + "/" + std::to_string(total) + "\r\n" +
        std::string(reinterpret_cast<const char*>(data + 7), size - 7);
    TMemoryIOHandler handler(answer, piece);
    TIdHTTP http;
    http.SetIOHandler(&handler);
    TCountingStream out;
    bool returned = false;
    try {
        http.Get("http://server.example/media/file?id=1", out);
        returned = true;
    } catch (const std::exception&) {
    }
    // The range as the answer's header gives it (a line the server adds may continue the header
    // line); one that is none is refused before any body byte.
    const TIdHTTPResponse& response = http.Response();
    const std::int64_t first = response.ContentRangeStart, last = response.ContentRangeEnd,
                       whole = response.ContentRangeInstanceLength;
    const std::int64_t range =
        first <= last && (whole < 0 || last < whole) && last < INT64_MAX ? last - first + 1 : 0;
    FUZZ_CHECK(out.Written() <= range);
    if (returned) FUZZ_CHECK(out.Written() == range && out.Size() == range);
    return 0;
}
