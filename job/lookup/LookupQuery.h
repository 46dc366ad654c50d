#pragma once

// The lookup query: one plain-text HEAD request to the lookup service over a line client, and the
// record text taken from the answer's File-Content header.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Component.h"
#include "http/IdAbortSignal.h"
#include "job/JobDefaults.h"

namespace tarnwick {

class TTcpClient;

// The record text of every failed lookup.
inline constexpr std::string_view kLookupFailedRecord = "error=1";
// The only status line the lookup accepts, byte for byte.
inline constexpr std::string_view kLookupStatusLine = "HTTP/1.1 302 Found";
// The header that carries the record, with its colon and blank.
inline constexpr std::string_view kFileContentPrefix = "File-Content: ";
// Name of the line client a lookup creates under its owner.
inline constexpr std::string_view kLookupClientName = "TCPClient";

// Bound on the bytes of an answer the lookup reads (status line and header block); an answer
// that does not end its header block within them is a failed lookup.
inline constexpr std::size_t kLookupAnswerLimit = 64 * 1024;

struct TLookupEndpoint {
    std::string Host;  // remote host and the request's Host line
    std::string Port;  // a service name or a decimal number
    // ms the service may stay silent while the answer is awaited or read; 0: no limit.
    std::int32_t StallTimeout = kDefaultStallTimeout;
    // ms the connect may take; 0: no limit.
    std::int32_t ConnectTimeout = kDefaultConnectTimeout;
};

// HOST:PORT split at its last colon: a host that is not empty and a decimal port from 1 to
// 65535. Nothing when the text is not of that form.
std::optional<TLookupEndpoint> ParseHostAndPort(std::string_view text);

// The lookup service set when the program was built (TARNWICK_LOOKUP_HOST, TARNWICK_LOOKUP_PORT).
TLookupEndpoint DefaultLookupEndpoint();

// The request bytes handed to the line client (which appends one more CR LF when sending):
// the HEAD request line with the three parameters, the Host line and the empty line. The page
// address goes in as typed, blanks, "&" and "#" included; only its control bytes (below 0x20,
// and 0x7F) are percent-encoded, so an address can never split the request.
std::string BuildLookupRequest(std::string_view host, std::string_view site, std::string_view hd,
                               std::string_view address);

// Asks the lookup service for the record of the page at address (site "1" to "5", hd "0" or
// "1"), through a line client named "TCPClient" that owner (when given) owns for the length of the
// call. Returns the record text: the File-Content value of an answer whose status line is exactly
// "HTTP/1.1 302 Found". Never raises: a failed connection, any other status line, an answer
// without File-Content, an answer whose head exceeds kLookupAnswerLimit, a connect or a silence
// beyond the endpoint's limits, or any exception gives "error=1".
// beforeConnect, when given, sees the client once it is named and in owner's list, before it
// connects. abort ends the call at any moment: it aborts the client's connection (also one not
// yet made).
// failureReason, when given, receives why a lookup failed, in words for the user's hint (the
// refused or timed-out connect, the service's silence, the status line it sent instead); it is
// left empty when the service itself answered "error=1".
std::string RequestLookupRecord(const TLookupEndpoint& endpoint, TComponent* owner,
                                std::string_view site, std::string_view hd,
                                std::string_view address,
                                const std::function<void(TTcpClient&)>& beforeConnect = {},
                                std::string* failureReason = nullptr,
                                const TIdAbortSignal& abort = TIdAbortSignal::Never());

// The value of the first header that starts with prefix (letter case significant) anywhere in
// headerText: the bytes after the prefix up to, not including, the next CR, untrimmed. Empty when
// the prefix is absent or no CR follows it.
std::string ExtractHeaderValue(std::string_view headerText, std::string_view prefix);

}  // namespace tarnwick
