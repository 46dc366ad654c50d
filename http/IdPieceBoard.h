#pragma once

// The pieces of one file that several connections fetch at once: the bytes each piece still
// lacks, which piece a free connection takes next, the writing of the bytes at their place, and
// how the transfer ends. Every member may be called from any thread.
//
// A piece is claimed by one connection at a time. A free connection takes an unclaimed piece
// that lacks bytes (one whose connection gave up), else the upper half of the claimed piece that
// lacks the most, when each half holds at least the smallest take-over: the piece's own
// connection then stops where the half begins.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "net/IdStream.h"

namespace tarnwick {

class TIdPieceBoard {
public:
    // The bytes [from, end) of the file.
    struct TSpan {
        std::int64_t from = 0;
        std::int64_t end = 0;
    };

    // Splits total bytes into pieces of about equal size, written into output (not owned; it
    // must outlive the board and be written by nothing else meanwhile). Piece 0 is claimed.
    TIdPieceBoard(TIdStream& output, std::int64_t total, std::int32_t pieces,
                  std::int64_t smallestTakeOver);
    // The pieces of a transfer continued: output (total bytes) lacks only the spans missing,
    // each a piece, none claimed. Spans are clipped to the file, sorted and joined.
    TIdPieceBoard(TIdStream& output, std::int64_t total, std::vector<TSpan> missing,
                  std::int64_t smallestTakeOver);
    TIdPieceBoard(const TIdPieceBoard&) = delete;
    TIdPieceBoard& operator=(const TIdPieceBoard&) = delete;

    // A piece for a connection that has none (see above). Waits while there is none to take but
    // another piece is still claimed (its connection may give it up); none when the file is
    // whole, the board stopped, or nothing is left to take.
    std::optional<std::size_t> Claim();
    // The connection of piece stops fetching it: another may claim what it lacks.
    void Release(std::size_t piece);
    // The bytes piece still lacks.
    TSpan Left(std::size_t piece) const;
    // Writes up to count bytes of data at the piece's first missing byte, none past its end;
    // returns the count written. Throws what the output throws.
    std::int64_t Write(std::size_t piece, const void* data, std::int64_t count);

    // The spans the output still lacks, in order and joined where they touch; every other byte
    // of the file has been written to it.
    std::vector<TSpan> Missing() const;
    // The bytes written in all, and whether the file is whole.
    std::int64_t Held() const;
    bool Whole() const;

    // A failure of a connection; the last one is the transfer's reason when it ends not whole.
    void Failed(std::exception_ptr failure);
    std::exception_ptr LastFailure() const;
    // Ends every wait in Claim: no piece is given out any more.
    void Stop();
    // Waits until something changes (a piece ends or is given up, the board stops) or the limit
    // passes.
    void WaitForChange(std::chrono::milliseconds limit);

private:
    struct TPiece {
        std::int64_t next;  // the first byte not yet written
        std::int64_t end;
        bool claimed;
    };

    // Under the lock: the piece to take now, if any.
    std::optional<std::size_t> Take();

    TIdStream& output_;
    const std::int64_t total_;
    const std::int64_t smallestTakeOver_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TPiece> pieces_;
    std::int64_t held_ = 0;
    bool stopped_ = false;
    std::exception_ptr lastFailure_;
};

// Thrown from a piece's output when the piece ends before the range asked for: the read stops
// there, the rest of the range unread (its connection is closed).
struct TIdPieceEnds {};

// The body of a range asked for to askedEnd, written into a piece at its place. Position and
// Size count the bytes written through it; it cannot be moved or cut.
class TIdPieceOutput : public TIdStream {
public:
    // onBlock (optional) is called after each write.
    TIdPieceOutput(TIdPieceBoard& board, std::size_t piece, std::int64_t askedEnd,
                   std::function<void()> onBlock = {})
        : board_(board), piece_(piece), askedEnd_(askedEnd), onBlock_(std::move(onBlock)) {}
    std::int64_t Position() const override { return written_; }
    void SetPosition(std::int64_t) override {}
    std::int64_t Size() const override { return written_; }
    void SetSize(std::int64_t) override {}
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    // Throws TIdPieceEnds once the piece's end has come before askedEnd.
    void Write(const void* buffer, std::int64_t count) override;

private:
    TIdPieceBoard& board_;
    const std::size_t piece_;
    const std::int64_t askedEnd_;
    std::function<void()> onBlock_;
    std::int64_t written_ = 0;
};

}  // namespace tarnwick
