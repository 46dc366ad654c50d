#include "http/IdPieceBoard.h"

#include <algorithm>

namespace tarnwick {

TIdPieceBoard::TIdPieceBoard(TIdStream& output, std::int64_t total, std::int32_t pieces,
                             std::int64_t smallestTakeOver)
    : output_(output), total_(total), smallestTakeOver_(smallestTakeOver) {
    const std::int64_t count = std::max<std::int64_t>(1, pieces);
    for (std::int64_t i = 0; i < count; ++i)
        pieces_.push_back({total * i / count, total * (i + 1) / count, i == 0});
}

namespace {

// Spans sorted and joined where they touch or overlap, empty ones dropped.
std::vector<TIdPieceBoard::TSpan> Joined(std::vector<TIdPieceBoard::TSpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const auto& a, const auto& b) { return a.from < b.from; });
    std::vector<TIdPieceBoard::TSpan> joined;
    for (const auto& span : spans) {
        if (span.from >= span.end) continue;
        if (!joined.empty() && span.from <= joined.back().end)
            joined.back().end = std::max(joined.back().end, span.end);
        else
            joined.push_back(span);
    }
    return joined;
}

}  // namespace

TIdPieceBoard::TIdPieceBoard(TIdStream& output, std::int64_t total, std::vector<TSpan> missing,
                             std::int64_t smallestTakeOver)
    : output_(output), total_(total), smallestTakeOver_(smallestTakeOver), held_(total) {
    for (TSpan& span : missing) {
        span.from = std::clamp<std::int64_t>(span.from, 0, total);
        span.end = std::clamp<std::int64_t>(span.end, 0, total);
    }
    for (const TSpan& span : Joined(std::move(missing))) {
        pieces_.push_back({span.from, span.end, false});
        held_ -= span.end - span.from;
    }
}

std::vector<TIdPieceBoard::TSpan> TIdPieceBoard::Missing() const {
    std::vector<TSpan> missing;
    {
        const std::lock_guard lock(mutex_);
        for (const TPiece& piece : pieces_)
            if (piece.next < piece.end) missing.push_back({piece.next, piece.end});
    }
    return Joined(std::move(missing));
}

std::optional<std::size_t> TIdPieceBoard::Claim() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped_ || held_ >= total_) return std::nullopt;
        if (const auto piece = Take()) return piece;
        const bool running = std::any_of(pieces_.begin(), pieces_.end(), [](const TPiece& p) {
            return p.claimed && p.next < p.end;
        });
        if (!running) return std::nullopt;
        changed_.wait(lock);
    }
}

std::optional<std::size_t> TIdPieceBoard::Take() {
    std::size_t largest = pieces_.size();
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        TPiece& piece = pieces_[i];
        if (piece.next >= piece.end) continue;
        if (!piece.claimed) {
            piece.claimed = true;
            return i;
        }
        if (largest == pieces_.size() ||
            piece.end - piece.next > pieces_[largest].end - pieces_[largest].next)
            largest = i;
    }
    if (largest == pieces_.size()) return std::nullopt;
    TPiece& victim = pieces_[largest];
    const std::int64_t left = victim.end - victim.next;
    if (left < 2 * smallestTakeOver_) return std::nullopt;
    const std::int64_t half = victim.next + left / 2;
    pieces_.push_back({half, victim.end, true});
    // Taken from the vector again: push_back may have moved it.
    pieces_[largest].end = half;
    return pieces_.size() - 1;
}

void TIdPieceBoard::Release(std::size_t piece) {
    const std::lock_guard lock(mutex_);
    pieces_.at(piece).claimed = false;
    changed_.notify_all();
}

TIdPieceBoard::TSpan TIdPieceBoard::Left(std::size_t piece) const {
    const std::lock_guard lock(mutex_);
    const TPiece& p = pieces_.at(piece);
    return {p.next, p.end};
}

std::int64_t TIdPieceBoard::Write(std::size_t piece, const void* data, std::int64_t count) {
    const std::lock_guard lock(mutex_);
    TPiece& p = pieces_.at(piece);
    const std::int64_t n = std::clamp<std::int64_t>(p.end - p.next, 0, count);
    if (n == 0) return 0;
    output_.SetPosition(p.next);
    output_.Write(data, n);
    p.next += n;
    held_ += n;
    if (p.next >= p.end) changed_.notify_all();
    return n;
}

std::int64_t TIdPieceBoard::Held() const {
    const std::lock_guard lock(mutex_);
    return held_;
}

bool TIdPieceBoard::Whole() const { return Held() >= total_; }

void TIdPieceBoard::Failed(std::exception_ptr failure) {
    const std::lock_guard lock(mutex_);
    lastFailure_ = std::move(failure);
}

std::exception_ptr TIdPieceBoard::LastFailure() const {
    const std::lock_guard lock(mutex_);
    return lastFailure_;
}

void TIdPieceBoard::Stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

void TIdPieceBoard::WaitForChange(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit);
}

void TIdPieceOutput::Write(const void* buffer, std::int64_t count) {
    const std::int64_t n = board_.Write(piece_, buffer, count);
    written_ += n;
    if (onBlock_) onBlock_();
    const TIdPieceBoard::TSpan left = board_.Left(piece_);
    if (n < count || (left.from >= left.end && left.end < askedEnd_)) throw TIdPieceEnds();
}

}  // namespace tarnwick
