#include "http/IdHostSlots.h"

#include <algorithm>
#include <utility>

#include "net/IdExceptions.h"

namespace tarnwick {

TIdHostSlots::TSlot::TSlot(TSlot&& other) noexcept
    : slots_(std::exchange(other.slots_, nullptr)), host_(std::move(other.host_)) {}

TIdHostSlots::TSlot& TIdHostSlots::TSlot::operator=(TSlot&& other) noexcept {
    if (this != &other) {
        Release();
        slots_ = std::exchange(other.slots_, nullptr);
        host_ = std::move(other.host_);
    }
    return *this;
}

void TIdHostSlots::TSlot::Release() noexcept {
    if (slots_) std::exchange(slots_, nullptr)->Give(host_);
}

TIdHostSlots& TIdHostSlots::Process() {
    static TIdHostSlots slots;
    return slots;
}

TIdHostSlots::TSlot TIdHostSlots::Take(const std::string& host, std::int32_t limit,
                                       const TIdAbortSignal& abort) {
    // Registered before the lock is taken: the callback takes it, and may run here at once.
    const TIdAbortSignal::TRegistration wake = abort.OnAbort([this] {
        const std::lock_guard lock(mutex_);
        freed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return abort.Aborted() || taken_[host] < std::max(limit, 1); });
    if (abort.Aborted()) throw EIdNotConnected();
    ++taken_[host];
    return TSlot(this, host);
}

std::int32_t TIdHostSlots::Taken(const std::string& host) const {
    const std::lock_guard lock(mutex_);
    const auto found = taken_.find(host);
    return found == taken_.end() ? 0 : found->second;
}

void TIdHostSlots::Give(const std::string& host) noexcept {
    const std::lock_guard lock(mutex_);
    const auto found = taken_.find(host);
    if (found != taken_.end() && --found->second <= 0) taken_.erase(found);
    freed_.notify_all();
}

}  // namespace tarnwick
