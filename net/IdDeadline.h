#pragma once

// The moment by which a piece of work (one request of a client) must be done: the connection
// cuts each of its waits to the time left and fails a read or connect that finds it passed with
// EIdDeadlineReached. No thread watches it; only the thread that does the work looks at it.

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "net/IdExceptions.h"

namespace tarnwick {

class TIdDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // No deadline.
    TIdDeadline() = default;
    // ms from now; 0 or less: no deadline.
    static TIdDeadline After(std::int32_t ms) {
        TIdDeadline deadline;
        if (ms > 0) {
            deadline.at_ = Clock::now() + std::chrono::milliseconds(ms);
            deadline.total_ = ms;
        }
        return deadline;
    }

    bool IsSet() const noexcept { return total_ > 0; }
    // ms left, rounded up so that a wait never spins on a fraction: -1 without a deadline, 0 once
    // it has passed.
    int Left() const {
        if (!IsSet()) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, total_));
    }
    // timeout (ms; negative for none) cut to the time left; cut tells whether the deadline is
    // what bounds it.
    int Cut(int timeout, bool& cut) const {
        const int left = Left();
        cut = left >= 0 && (timeout < 0 || timeout > left);
        return cut ? left : timeout;
    }
    // Throws EIdDeadlineReached once the deadline has passed.
    void Check() const {
        if (Left() == 0) Raise();
    }
    [[noreturn]] void Raise() const { throw EIdDeadlineReached(total_); }

private:
    Clock::time_point at_{};
    std::int32_t total_ = 0;  // ms from the start to the deadline; 0: none
};

}  // namespace tarnwick
