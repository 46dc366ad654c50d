#include "app/TransferMeter.h"

#include <cmath>

namespace tarnwick {

namespace {

// Weight of the newest interval: about two seconds of memory at two intervals a second.
constexpr double kNewWeight = 0.3;

}  // namespace

void TTransferMeter::Begin(std::int64_t total, Clock::time_point now) noexcept {
    total_ = total;
    bytes_ = 0;
    intervalBytes_ = 0;
    intervalStart_ = now;
    rate_ = 0;
    hasRate_ = false;
}

bool TTransferMeter::Update(std::int64_t bytes, Clock::time_point now) noexcept {
    bytes_ = bytes;
    const auto elapsed = now - intervalStart_;
    if (elapsed < kInterval) return false;
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double speed = static_cast<double>(bytes - intervalBytes_) / seconds;
    rate_ = hasRate_ ? kNewWeight * speed + (1 - kNewWeight) * rate_ : speed;
    if (rate_ < 0) rate_ = 0;
    hasRate_ = true;
    intervalBytes_ = bytes;
    intervalStart_ = now;
    return true;
}

std::optional<std::int64_t> TTransferMeter::SecondsLeft() const noexcept {
    if (total_ <= 0 || !hasRate_ || rate_ < 1) return std::nullopt;
    const std::int64_t left = total_ > bytes_ ? total_ - bytes_ : 0;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(left) / rate_));
}

}  // namespace tarnwick
