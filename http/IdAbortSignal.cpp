#include "http/IdAbortSignal.h"

namespace tarnwick {

void TIdAbortSignal::Abort() {
    {
        // Set under the lock: a Wait between its check and its sleep would miss the wake-up.
        const std::lock_guard lock(mutex_);
        aborted_.store(true);
    }
    wake_.notify_all();
}

bool TIdAbortSignal::Wait(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, limit, [this] { return aborted_.load(); });
}

}  // namespace tarnwick
