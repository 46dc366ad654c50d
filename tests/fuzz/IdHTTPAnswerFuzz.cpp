// What a server answers: the status line, the header block and the body framing (length, chunk
// sizes and trailers, until close), read by a whole Get over an in-memory connection that hands
// the client the input in pieces, then closes. Redirects and further requests read on from the
// same bytes, as from a server that answers them in turn.
// Input: byte 0 picks the piece size and whether redirects are followed; the rest is what the
// server sends. Every line is also given to the chunk-size and status-code rules on its own.
//
// A Get that returns must have ended on a 2xx answer without a Location, within the bounds of a
// header block, and a body of announced length must have come whole.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "MemoryIOHandler.h"
#include "core/Exception.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPProtocol.h"
#include "http/IdHTTPResponse.h"
#include "net/IdIOHandler.h"
#include "net/IdStream.h"

using namespace tarnwick;

namespace {

// The chunk size as the hexadecimal digits before the first ";", blank or tab.
void CheckChunkSize(std::string_view line) {
    std::int64_t size = -1;
    try {
        size = ParseChunkSize(line);
    } catch (const EIdException&) {
        return;
    }
    FUZZ_CHECK(size >= 0);
    while (!line.empty() && static_cast<unsigned char>(line.front()) <= 0x20)
        line.remove_prefix(1);
    line = line.substr(0, line.find_first_of("; \t"));
    std::int64_t expected = -1;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), expected, 16);
    FUZZ_CHECK(error == std::errc() && end == line.data() + line.size() && expected == size);
}

void CheckStatusCode(std::string_view line) {
    const std::int32_t code = TIdHTTPResponse::StatusCodeOf(line);
    FUZZ_CHECK(code == -1 || line.find(' ') != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = std::size_t(data[0] & 0x3f) + 1;
    const bool follow = (data[0] & 0x40) != 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::string_view line = bytes.substr(at, end - at);
        CheckChunkSize(line);
        CheckStatusCode(line);
        at = end + 1;
    }

    TMemoryIOHandler handler(bytes, piece);
    TIdHTTP http;
    http.SetIOHandler(&handler);
    http.HandleRedirects = follow;
    TIdMemoryStream out;
    try {
        http.Get("http://server.example/media/file?id=1", out);
    } catch (const std::exception&) {
        return 0;
    }
    TIdHTTPResponse& response = http.Response();
    FUZZ_CHECK(response.StatusCode() / 100 == 2);
    FUZZ_CHECK(response.Location.empty());
    FUZZ_CHECK(response.HeaderLines().Count() <= TIdHTTPProtocol::kMaxHeaderBlockLines);
    if (BodyFraming(hmGet, response.StatusCode(), response) == bfLength)
        FUZZ_CHECK(out.Size() == response.ContentLength);
    return 0;
}
