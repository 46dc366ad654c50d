#include "http/IdAbortSignal.h"

#include <algorithm>

namespace tarnwick {

TIdAbortSignal::TRegistration& TIdAbortSignal::TRegistration::operator=(
    TRegistration&& other) noexcept {
    if (this != &other) {
        Release();
        signal_ = std::exchange(other.signal_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

void TIdAbortSignal::TRegistration::Release() noexcept {
    if (signal_) std::exchange(signal_, nullptr)->Unregister(id_);
}

const TIdAbortSignal& TIdAbortSignal::Never() {
    static const TIdAbortSignal never;
    return never;
}

void TIdAbortSignal::Abort() {
    {
        // Set under the lock: a Wait between its check and its sleep would miss the wake-up, and
        // a registration between its check and its entry would miss the callback.
        const std::lock_guard lock(mutex_);
        if (aborted_.exchange(true)) return;
        for (auto& [id, onAbort] : callbacks_) {
            try {
                onAbort();
            } catch (...) {
                // The abort holds whatever one callback does; the others still run.
            }
        }
        callbacks_.clear();
    }
    wake_.notify_all();
}

bool TIdAbortSignal::Wait(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, limit, [this] { return aborted_.load(); });
}

TIdAbortSignal::TRegistration TIdAbortSignal::OnAbort(std::function<void()> onAbort) const {
    {
        std::lock_guard lock(mutex_);
        if (!aborted_.load()) {
            const std::uint64_t id = nextId_++;
            callbacks_.emplace_back(id, std::move(onAbort));
            return TRegistration(this, id);
        }
    }
    onAbort();
    return {};
}

void TIdAbortSignal::Unregister(std::uint64_t id) const noexcept {
    const std::lock_guard lock(mutex_);
    std::erase_if(callbacks_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace tarnwick
