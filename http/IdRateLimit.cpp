#include "http/IdRateLimit.h"

#include <algorithm>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kLargestRate = std::int64_t{1} << 40;

}  // namespace

TIdRateLimit::TIdRateLimit(std::int64_t bytesPerSecond)
    : rate_(std::max<std::int64_t>(bytesPerSecond, 1)),
      burst_(std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(200))) {}

std::shared_ptr<TIdRateLimit> TIdRateLimit::For(std::int64_t bytesPerSecond) {
    if (bytesPerSecond <= 0) return nullptr;
    return std::make_shared<TIdRateLimit>(bytesPerSecond);
}

std::int64_t TIdRateLimit::LargestTake() const noexcept {
    return std::max<std::int64_t>(rate_ / 8, 1);
}

TIdRateLimit::Clock::time_point TIdRateLimit::Book(std::int64_t count) {
    const auto cost = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(count) / static_cast<double>(rate_)));
    const std::lock_guard lock(mutex_);
    // Time the bucket stood idle gives back no more than the burst.
    due_ = std::max(due_, Clock::now()) + cost;
    return due_ - burst_;
}

bool TIdRateLimit::Take(std::int64_t count, const TIdAbortSignal& abort,
                        const std::function<bool()>& stopped) {
    if (count <= 0) return true;
    const Clock::time_point until = Book(count);
    for (;;) {
        if (abort.Aborted() || (stopped && stopped())) return false;
        const Clock::time_point now = Clock::now();
        if (now >= until) return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        if (!abort.Wait(std::min(left, kWaitSlice))) return false;
    }
}

std::optional<std::int64_t> ParseRate(std::string_view text) {
    const std::string rate = Trim(text);
    if (SameText(rate, "none") || SameText(rate, "off")) return 0;
    std::int64_t unit = 1;
    std::string_view digits = rate;
    if (!digits.empty() && (UpCase(digits.back()) == 'K' || UpCase(digits.back()) == 'M')) {
        unit = UpCase(digits.back()) == 'K' ? 1024 : 1024 * 1024;
        digits.remove_suffix(1);
    }
    if (digits.empty() || digits.size() > 13 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto count = TryStrToInt64(digits);
    if (!count || *count > kLargestRate / unit) return std::nullopt;
    return *count * unit;
}

}  // namespace tarnwick
