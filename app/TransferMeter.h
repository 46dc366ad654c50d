#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace tarnwick {

// The speed of a transfer and the time it still needs, smoothed so that the figures a user reads
// do not flicker: they change once per interval, the speed as a moving average of the intervals'
// speeds. The caller passes "now" in.
class TTransferMeter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{500};

    // A transfer of total bytes (0: unknown) begins.
    void Begin(std::int64_t total, Clock::time_point now) noexcept;
    // bytes have arrived in all. Returns true when an interval ended and the figures changed.
    bool Update(std::int64_t bytes, Clock::time_point now) noexcept;

    // False until the first interval has ended.
    bool HasRate() const noexcept { return hasRate_; }
    // Bytes per second, smoothed.
    double Rate() const noexcept { return rate_; }
    // Whole seconds still needed at the smoothed speed; nothing without a total or a speed.
    std::optional<std::int64_t> SecondsLeft() const noexcept;

private:
    std::int64_t total_ = 0;
    std::int64_t bytes_ = 0;
    std::int64_t intervalBytes_ = 0;
    Clock::time_point intervalStart_{};
    double rate_ = 0;
    bool hasRate_ = false;
};

}  // namespace tarnwick
