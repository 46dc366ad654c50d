#pragma once

// A Get over several connections at once: a large file is split into pieces, each fetched on a
// connection of its own and written at its place in the output, so a server that paces each
// connection gives the file at the pace of all of them. The output ends byte-identical to one
// version of the server's file, or the call fails; pieces of two versions are never left as a
// whole.
//
// The rules of one Get:
//  - The first request asks "Range: bytes=0-" on the client given. Unless its answer is a 206 of
//    the whole file, at least kSmallestSplit bytes long, with a validator (a strong ETag, else a
//    Last-Modified), and more than one connection is allowed, the transfer is TIdResumableGet's
//    on that client alone, with its rules.
//  - Otherwise the output is given the file's size and split into as many pieces as connections
//    are allowed. The first answer's body fills piece 0 (its connection is closed where the piece
//    ends); every other piece is asked for as "Range: bytes=FROM-TO" with "If-Range" carrying the
//    first answer's validator, on a client of its own (made by the maker, on the calling thread)
//    on a thread the Get owns. Each piece is checked to be the part asked for: 206, the same
//    range, total and ETag.
//  - A piece whose connection breaks is asked again from its first missing byte, tried as
//    TIdResumableGet tries (the settings count per piece and connection). A connection whose
//    tries run out, or that gets an error answer, gives its piece up and ends; another takes it
//    over when it is free. A connection that finishes its piece takes the next one given up, else
//    the upper half of the piece that lacks the most (when each half holds at least
//    kSmallestTakeOver bytes). The Get fails, with the last connection's failure, only when every
//    connection has ended and the file is not whole.
//  - An answer to a piece that is not the part asked for (a 200: ranges refused or another
//    version; another total, range or ETag) stops every connection, and the transfer starts over
//    once, from byte 0 on the first client alone (TIdResumableGet, a plain first request).
//  - At most connections connections to one host at once across the process (TIdHostSlots).
//  - A Get into an output that holds bytes continues them on the first client alone, with the
//    IfRange given (TIdResumableGet's rules); Continue goes on with a split transfer that an
//    earlier Get kept (OnKeep), on every connection, each missing span asked for with If-Range.
//
// Threads: Get runs on the calling thread, and so do the events below and the maker; the first
// client's own events fire on the calling thread while the first answer's body comes, and on the
// Get's thread that continues with that client afterwards. The abort comes from any thread and
// ends every connection and wait at once.
//
// While Get runs it owns the first client's OnBodyStart, AbortSignal and range fields; it gives
// them back as they were.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"
#include "http/IdCustomHTTP.h"
#include "http/IdHostSlots.h"
#include "http/IdPieceBoard.h"
#include "http/IdResumableGet.h"
#include "net/IdStream.h"

namespace tarnwick {

// Where a split transfer stands, for a later Continue: the version of the file its pieces come
// from and the spans the output still lacks; every other byte of the output holds that version.
struct TIdPiecedState {
    std::int64_t total = -1;  // -1: nothing to continue
    std::string etag;
    std::string lastModified;
    std::vector<TIdPieceBoard::TSpan> missing;
};

class TIdPiecedGet {
public:
    // The smallest file that is split, and the smallest half a free connection takes over.
    static constexpr std::int64_t kSmallestSplit = 4 * 1024 * 1024;
    static constexpr std::int64_t kSmallestTakeOver = 1024 * 1024;

    // Makes the client of a further connection, set up as the first one (headers, limits).
    using TClientMaker = std::function<std::unique_ptr<TIdCustomHTTP>()>;

    // http, the maker's clients' settings and abort (none: no abort) must outlive this object;
    // connections is bounded to 1..16.
    TIdPiecedGet(TIdCustomHTTP& http, TClientMaker makeClient, std::int32_t connections,
                 TIdResumeSettings settings = {}, const TIdAbortSignal* abort = nullptr);
    TIdPiecedGet(const TIdPiecedGet&) = delete;
    TIdPiecedGet& operator=(const TIdPiecedGet&) = delete;

    // A try's body begins at offset of total bytes, as TIdResumableGet's; a split transfer
    // reports (0, total) once when it splits.
    std::function<void(std::int64_t offset, std::int64_t total)> OnTry;
    // The output holds held bytes of the transfer (the sum of the pieces): after each block of
    // one connection, and about every 50 ms while several run. An exception thrown here ends the
    // Get with it.
    std::function<void(std::int64_t held)> OnProgress;
    // A connection waits before its next try.
    std::function<void(const TIdRetryWait& wait)> OnWait;
    // Where a split transfer stands, so that a later run may continue it: told when the file
    // splits (before the output is given its size), about every second while the pieces come and
    // once when they end; the bytes it calls held are in the output before it is told. Told with
    // total -1 before the output is emptied to start over. An exception thrown here ends the Get.
    std::function<void(const TIdPiecedState& state)> OnKeep;
    // Every connection to the host ("name:port") allowed is taken by other transfers: the Get
    // waits until one of them ends.
    std::function<void(const std::string& host)> OnHostBusy;
    // The validator of the bytes an output given to Get already holds (see TIdResumableGet).
    std::string IfRange;

    // Fetches address into output (see above). Throws what TIdResumableGet::Get throws, the
    // last failure of the connections of a split transfer that did not come whole,
    // EIdNotConnected when an abort ended it.
    void Get(std::string_view address, TIdStream& output);
    // Continues a split transfer that state describes into output, which holds state.total bytes.
    // An answer of another version, or ranges refused, empties the output and the transfer starts
    // anew as Get's.
    void Continue(std::string_view address, TIdStream& output, const TIdPiecedState& state);

    // The length of the whole file as the answers named it; -1 when none did.
    std::int64_t Total() const noexcept { return total_; }
    // Whether the last Get split the file (and did not start over on one connection).
    bool Split() const noexcept { return split_; }
    // The validator of the transfer: that of the last answer on one connection (see
    // TIdResumableGet), or the one every piece of a split transfer is checked against.
    const std::string& Validator() const noexcept { return validator_; }

private:
    class TRun;

    // Get (no kept state) or Continue, with the first client borrowed and its host's slot held.
    void Run(std::string_view address, TIdStream& output, const TIdPiecedState* kept);
    // A transfer from the first request on; then, when a piece was refused, once more from byte 0
    // on the first client alone.
    void Fresh(std::string_view address, TIdStream& output, const TIdAbortSignal& abort);
    // The slot of the first connection, waited for when the host's are taken.
    TIdHostSlots::TSlot TakeSlot(std::string_view address, const TIdAbortSignal& abort);
    // Forgets what was split and empties the output.
    void Empty(TIdStream& output);

    TIdCustomHTTP& http_;
    TClientMaker makeClient_;
    const std::int32_t connections_;
    const TIdResumeSettings settings_;
    const TIdAbortSignal* abort_;
    std::int64_t total_ = -1;
    bool split_ = false;
    std::string validator_;
};

}  // namespace tarnwick
