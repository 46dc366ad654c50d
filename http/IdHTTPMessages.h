#pragma once

// The fixed message texts of the HTTP layer, in one place so that tests can assert them exactly.

namespace tarnwick {

// Addresses
inline constexpr const char* RSURIProtocolFieldIsEmpty = "Protocol field is empty";
inline constexpr const char* RSURIHostFieldIsEmpty = "Host field is empty";

// Internet dates
inline constexpr const char* RSFailedTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";

// Authentication schemes (%s: the class name already registered)
inline constexpr const char* RSAlreadyRegisteredAuthenticationMethod =
    "This authentication method is already registered with class name %s.";

// The request and response exchange
inline constexpr const char* RSHTTPChunkStarted = "Chunk Started";
// %s: the size line as received (its first 64 bytes)
inline constexpr const char* RSHTTPChunkSizeInvalid =
    "Invalid chunk size \"%s\": not a hexadecimal number below 2^63.";
// A body of known length (or a chunk) that would end beyond the last stream position, 2^63-1
inline constexpr const char* RSHTTPBodyTooLarge = "The body does not fit in the output stream.";
inline constexpr const char* RSHTTPUnknownResponseCode = "Undefined situation";
// Bounds on what an answer may make the client hold (%d: the bound)
inline constexpr const char* RSHTTPHeaderBlockTooLarge =
    "The header block of the answer is larger than %d bytes.";
inline constexpr const char* RSHTTPHeaderBlockTooManyLines =
    "The header block of the answer has more than %d lines.";
inline constexpr const char* RSHTTPTooManyInterimAnswers =
    "More than %d interim answers came before the final one.";
// Framing of an answer's body
inline constexpr const char* RSHTTPContentLengthsDiffer =
    "The answer gives differing Content-Length values.";
// %s: the value as received (its first 64 bytes)
inline constexpr const char* RSHTTPContentLengthInvalid =
    "Invalid Content-Length \"%s\": not a decimal number below 2^63.";
// A 206 answer whose body does not end where its Content-Range says
inline constexpr const char* RSHTTPRangeInvalid =
    "The answer's Content-Range names no valid range of the file.";
inline constexpr const char* RSHTTPRangeLengthDiffers =
    "The answer's Content-Length differs from the length of the range it names.";
inline constexpr const char* RSHTTPBodyPastRange =
    "The server sent more bytes than the range it named.";
inline constexpr const char* RSHTTPBodyShortOfRange =
    "The body ended before the end of the range it named.";
inline constexpr const char* RSHTTPMethodRequiresVersion =
    "This request method is supported in HTTP 1.1";
inline constexpr const char* RSIOHandlerPropInvalid = "IOHandler value is not valid";
// A request whose head would carry a CR or LF inside a line (%s: the header's name)
inline constexpr const char* RSHTTPTargetLineBreak = "The request target holds a line break.";
inline constexpr const char* RSHTTPHeaderLineBreak =
    "The value of the request header \"%s\" holds a line break.";

// A transfer that is tried again (%s: the reason below; then the seconds until the next try, its
// number among the tries in a row that brought no new byte, and their limit)
inline constexpr const char* RSHTTPRetryWait = "%s; trying again in %lld s (%d of %d).";
inline constexpr const char* RSHTTPRetryConnectionLost = "Connection lost";
inline constexpr const char* RSHTTPRetryStalled = "Connection stalled";
// A transfer that waits until another to the same host ("name:port") frees a connection
inline constexpr const char* RSHTTPHostBusy = "Waiting for a free connection to %s.";
// A server that answers a request, and then its start over from byte 0, with another part of the
// file than the one asked for
inline constexpr const char* RSHTTPRangeMismatch =
    "The server sent another part of the file than the one asked for.";
// An output that a Get filled whose size is not the length the server named for the whole (%lld:
// the size, then that length)
inline constexpr const char* RSHTTPSizeNotTotal =
    "The file holds %lld bytes, not the %lld the server named.";

// Base64
inline constexpr const char* RSUnevenSizeInEncode = "Uneven size in Encode.";
inline constexpr const char* RSUnevenSizeInDecodeToStream = "Uneven size in DecodeToStream.";

// A speed limit that is no rate (%s: the text given)
inline constexpr const char* RSRateNotUnderstood =
    "\"%s\" is no rate: give bytes per second such as 500K, 2M or 65536, or 0 for no limit.";

}  // namespace tarnwick
