#pragma once

// A limit on the bytes per second that the connections of one transfer take together: every
// client that shares one TIdRateLimit (SetRateLimit) waits in it before a block of a body it
// received goes to the output, so the limit holds for all of them at once however many run.
//
// The limit is a token bucket with a small burst (a fifth of a second's bytes): bytes are
// handed out in the order they are asked for, so over any span of time the bytes taken are at
// most the limit times that span plus the burst and one block. A client that reads nothing does
// not save up more than the burst. After the wait the socket's own buffer holds what the server
// sent meanwhile, and TCP slows the server to the rate the client reads at.
//
// Threads: Take may run on any number of threads at once. A wait ends within kWaitSlice after
// its abort (at once for the abort signal, within a slice for stopped).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "http/IdAbortSignal.h"

namespace tarnwick {

class TIdRateLimit {
public:
    // The longest a wait goes without looking at its abort.
    static constexpr std::chrono::milliseconds kWaitSlice{100};

    // bytesPerSecond at least 1.
    explicit TIdRateLimit(std::int64_t bytesPerSecond);
    TIdRateLimit(const TIdRateLimit&) = delete;
    TIdRateLimit& operator=(const TIdRateLimit&) = delete;

    // A limit of bytesPerSecond to share, none (null) for 0 or less.
    static std::shared_ptr<TIdRateLimit> For(std::int64_t bytesPerSecond);

    std::int64_t BytesPerSecond() const noexcept { return rate_; }
    // The most bytes one Take should ask for at a time, so that even a low limit is kept
    // smoothly (an eighth of a second's bytes, at least 1).
    std::int64_t LargestTake() const noexcept;

    // Takes count bytes: returns at once while the burst allows them, else waits until the
    // limit does. False when abort was set, or stopped() returned true, before the wait ended
    // (the bytes count as taken all the same).
    bool Take(std::int64_t count, const TIdAbortSignal& abort,
              const std::function<bool()>& stopped = {});

private:
    using Clock = std::chrono::steady_clock;
    // Books count bytes and returns the moment they may go.
    Clock::time_point Book(std::int64_t count);

    const std::int64_t rate_;
    const Clock::duration burst_;
    std::mutex mutex_;
    // When the bytes booked so far are all due at the limit's rate.
    Clock::time_point due_{};
};

// A rate as the command line and the window take it: a count of bytes per second, or one with
// the suffix K (1024 bytes) or M (1048576 bytes), either case; "0", "none" and "off" for no
// limit (0). Empty for anything else: signs, blanks inside, fractions, other suffixes, a rate
// beyond 1 TiB per second.
std::optional<std::int64_t> ParseRate(std::string_view text);

}  // namespace tarnwick
