#pragma once

// A Get that survives a broken transfer: when the body breaks off, the transfer is tried again
// on a new connection and continues with Range where the output ends, so the bytes that came are
// kept, none is fetched twice while the server honours Range, and a file that changed in between
// is never mixed with the old one. The output ends byte-identical to the server's file, or the
// call fails.
//
// The rules of one Get:
//  - The first request continues after what the output holds: a plain GET when it is empty,
//    else "Range: bytes=N-" (N its size) with IfRange as "If-Range" (none when empty). With
//    AskRangeFirst an empty output is asked for "bytes=0-"; a 416 to that (an empty file) is
//    asked again without the range.
//  - A failed try is tried again only when no abort was asked and the connection failed (the
//    server closed before the announced length, a part's body ended short of its range, a
//    socket error such as a reset or a refused connect, the stall or connect limit), and only
//    once the first answer's body has begun: an address that fails from the start fails as a
//    plain Get does.
//  - A try again asks "Range: bytes=N-" for the bytes not yet written, with "If-Range" carrying
//    the ETag of the answer those bytes came from (a strong one), else its Last-Modified, as the
//    server sent them. Bytes of an answer without such a validator, or without an announced
//    length (chunked, until close), are fetched again from byte 0 instead.
//  - 206 whose Content-Range starts at N and runs to the end of the same total (and with the
//    same ETag where the first answer had one): the body is appended at N.
//  - 200 (or any 2xx but such a 206): the transfer starts over from byte 0 with this body.
//  - 416 whose Content-Range total equals the bytes written (and the total known before, if
//    any): the output is whole, the call returns. Otherwise the transfer starts over: a request
//    from byte 0.
//  - Any other answer, or a 206 that does not fit: a request from byte 0, once; the same again
//    before a try brought new bytes fails the call.
//  - Limits (TIdResumeSettings): at most MaxTriesInRow tries in a row that bring no new byte,
//    and MaxTries tries in all after a failure of the connection; before each such try a wait of
//    FirstWait, doubled with each try in a row without a new byte up to LongestWait, back to
//    FirstWait after a try that brought bytes. A try brings new bytes when the output ends it
//    holding more than it ever held before in this Get: a transfer that starts over from byte 0
//    and breaks again before it passes that mark brought none (so a server that always cuts at
//    the same place is given up after MaxTriesInRow tries, with or without Range). The requests from byte 0
//    that an answer calls for go at once and count only against the rule above.
//
// Threads: Get runs on the calling thread; the events below and the client's own (work, status)
// fire there. The abort comes from another thread through the abort signal, which closes the
// client's connection: a try under way then ends as the client's abort does, no try follows, and
// a wait under way (or about to start) ends at once.
//
// While Get runs it owns the client's OnBodyStart, AbortSignal, and the request's
// ContentRangeStart, ContentRangeEnd and IfRange; it gives them back as they were.

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "http/IdAbortSignal.h"
#include "http/IdCustomHTTP.h"
#include "net/IdStream.h"

namespace tarnwick {

struct TIdResumeSettings {
    std::chrono::milliseconds FirstWait{1000};
    std::chrono::milliseconds LongestWait{16000};
    std::int32_t MaxTriesInRow = 5;
    std::int32_t MaxTries = 50;
};

enum TIdRetryReason {
    rrConnectionLost,  // closed early, reset, refused, a connect limit
    rrStalled,         // no byte came for the stall (or read) limit
};

// A wait before the next try.
struct TIdRetryWait {
    TIdRetryReason Reason = rrConnectionLost;
    std::chrono::milliseconds Wait{0};
    // The coming try's number among the tries in a row without a new byte (from 1), and the limit.
    std::int32_t TryInRow = 1;
    std::int32_t TriesInRowLimit = 5;
};

// Whether e is a failure of the connection (closed early, reset, refused, the stall or connect
// limit, closed by an abort), which a new connection may get past.
bool IsConnectionFailure(const std::exception& e);

// Throws EIdException "The file holds <size> bytes, not the <total> the server named." when a
// total is known (not -1) and size differs from it.
void CheckWholeSize(std::int64_t size, std::int64_t total);

// The status text of a wait, the seconds rounded up: "Connection lost; trying again in 4 s
// (2 of 5)." or "Connection stalled; ...". Never throws but for memory.
std::string RetryWaitText(const TIdRetryWait& wait);

class TIdResumableGet {
public:
    // http and abort (none: no abort) must outlive this object.
    explicit TIdResumableGet(TIdCustomHTTP& http, TIdResumeSettings settings = {},
                             const TIdAbortSignal* abort = nullptr);
    TIdResumableGet(const TIdResumableGet&) = delete;
    TIdResumableGet& operator=(const TIdResumableGet&) = delete;

    // A try's body begins: it is written from offset (0 when the transfer starts from byte 0,
    // also when it starts over), of a whole of total bytes (-1: not announced). The counts of
    // the client's work events in this try follow offset. A 416 that finds the output whole
    // reports (size, size).
    std::function<void(std::int64_t offset, std::int64_t total)> OnTry;
    // A wait before the next try begins.
    std::function<void(const TIdRetryWait& wait)> OnWait;
    // The transfer starts over while the output holds bytes: returns the stream that takes the
    // body from now on, empty. Without a handler the output is cut back to 0.
    std::function<TIdStream&()> OnStartOver;
    // The first request from an empty output asks "Range: bytes=0-", so that its answer tells
    // whether the server takes ranges (a 206 of the whole file is taken as its 200 would be).
    bool AskRangeFirst = false;
    // The validator of the bytes the output holds when Get begins, kept from an earlier transfer
    // (a strong ETag or a Last-Modified): the first request continues them with it as If-Range,
    // so an answer of another version (200) starts the output over. Empty: as above.
    std::string IfRange;

    // Fetches address into output, continuing after the bytes it holds (see above). Throws what
    // the client's Get throws: for an answer that calls for no try, for a failure that is not
    // tried again, and, once the limits are reached, the last failure; EIdNotConnected when an
    // abort ended it; EIdException "The server sent another part of the file than the one asked
    // for." for a second 206 that does not fit; what OnStartOver throws.
    void Get(std::string_view address, TIdStream& output);

    // The length of the whole file as the answers of the last Get named it (the Content-Length of
    // a whole body, a Content-Range total), -1 when none did. An output that Get filled is
    // whole only when its size is this.
    std::int64_t Total() const noexcept { return total_; }
    // The validator of the answer the output's bytes came from ("" when they cannot be continued
    // under a condition); kept with the bytes, it is the IfRange of a later Get.
    const std::string& Validator() const noexcept { return validator_; }

private:
    // How the next request asks.
    enum TAsk { akContinue, akFromStart };

    void BodyStart(TIdHTTPResponse& response, std::int64_t from);
    // Takes total and the validators of the answer whose body is now written.
    void Remember(const TIdHTTPResponse& response, std::int64_t total);
    void StartOver(TIdHTTPResponse& response);
    // Whether a 416 answer finds the output whole.
    bool WholeBy416(const TIdHTTPResponse& response) const;

    TIdCustomHTTP& http_;
    const TIdResumeSettings settings_;
    const TIdAbortSignal* abort_;
    TIdAbortSignal never_;  // waited on when the caller has no abort

    TIdStream* output_ = nullptr;
    std::int64_t total_ = -1;   // of the transfer the output holds; -1 unknown
    std::string etag_;          // of the answer the output's bytes came from
    std::string validator_;     // for If-Range; empty: no Range for this transfer
    bool bodyBegan_ = false;    // in the current try
};

}  // namespace tarnwick
