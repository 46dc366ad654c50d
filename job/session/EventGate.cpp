#include "job/session/EventGate.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace tarnwick {

// What the posted tasks share with the gate.
struct TEventGate::TShared {
    explicit TShared(TSessionEvents& e) : events(e) {}

    TSessionEvents& events;
    // Held while an event runs, so Close from another thread waits for it; recursive, since an
    // event may call back into the session (Abort, Start, Close).
    mutable std::recursive_mutex running;
    bool closed = false;  // under running, and under calls for the waits below

    // The waits for a call on the front end's thread.
    std::mutex calls;
    std::condition_variable callDone;
    std::uint64_t callsPosted = 0;
    std::uint64_t callsRun = 0;
};

TEventGate::TEventGate(TSessionEvents& events, TTaskQueue& queue)
    : queue_(queue), shared_(std::make_shared<TShared>(events)) {}

void TEventGate::Emit(TShow show) {
    queue_.Post([shared = shared_, show = std::move(show)] {
        std::lock_guard lock(shared->running);
        if (!shared->closed) show(shared->events);
    });
}

void TEventGate::Call(TShow show) {
    std::unique_lock lock(shared_->calls);
    if (shared_->closed) return;
    const std::uint64_t ticket = ++shared_->callsPosted;
    queue_.Post([shared = shared_, show = std::move(show), ticket] {
        {
            std::lock_guard running(shared->running);
            if (!shared->closed) show(shared->events);
        }
        std::lock_guard done(shared->calls);
        shared->callsRun = ticket;
        shared->callDone.notify_all();
    });
    shared_->callDone.wait(lock, [&] { return shared_->closed || shared_->callsRun >= ticket; });
}

bool TEventGate::Closed() const {
    std::lock_guard lock(shared_->running);
    return shared_->closed;
}

bool TEventGate::Close() {
    {
        std::scoped_lock lock(shared_->running, shared_->calls);
        if (shared_->closed) return false;
        shared_->closed = true;
    }
    shared_->callDone.notify_all();
    return true;
}

}  // namespace tarnwick
