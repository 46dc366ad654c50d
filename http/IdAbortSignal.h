#pragma once

// The user's abort of a job: the one token handed to everything that waits or blocks for it (the
// HTTP clients, the lookup's line client, the page lookup and reader, the programs run, delivery).
//
// Abort may come from any thread at any moment and holds for good: a Wait running at that moment
// ends at once, and a Wait that starts after it returns at once, so an abort that comes between a
// check and a wait is never lost. What blocks in a call of its own (a read on a connection, a
// running program) registers, for the span of that call, how to end it (OnAbort): Abort runs each
// callback registered at that moment once, on the aborting thread, and a callback registered after
// the abort runs at once on the registering thread. Registering, unregistering and Abort hold one
// lock, so a callback never runs after its registration is gone (an unregistering thread waits for
// a callback that runs), and no registration is missed. A callback must be short and must not
// use the token itself. Nothing here throws but what std::mutex and std::function may.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace tarnwick {

class TIdAbortSignal {
public:
    // A callback registered on a token; unregisters it when it goes.
    class TRegistration {
    public:
        TRegistration() = default;
        TRegistration(TRegistration&& other) noexcept
            : signal_(std::exchange(other.signal_, nullptr)), id_(other.id_) {}
        TRegistration& operator=(TRegistration&& other) noexcept;
        ~TRegistration() { Release(); }
        // Unregisters now (waiting for the callback when it runs on another thread).
        void Release() noexcept;

    private:
        friend class TIdAbortSignal;
        TRegistration(const TIdAbortSignal* signal, std::uint64_t id) : signal_(signal), id_(id) {}
        const TIdAbortSignal* signal_ = nullptr;
        std::uint64_t id_ = 0;
    };

    TIdAbortSignal() = default;
    TIdAbortSignal(const TIdAbortSignal&) = delete;
    TIdAbortSignal& operator=(const TIdAbortSignal&) = delete;

    // A token nobody aborts, for callers without an abort of their own.
    static const TIdAbortSignal& Never();

    // Any thread: sets the signal, runs the registered callbacks and wakes every Wait.
    void Abort();
    bool Aborted() const noexcept { return aborted_.load(); }
    // Waits for limit; true when it passed, false when the signal was set (before or during).
    bool Wait(std::chrono::milliseconds limit) const;
    // onAbort runs once when the token is aborted while the registration lives (at once, here,
    // when it is aborted already).
    [[nodiscard]] TRegistration OnAbort(std::function<void()> onAbort) const;

private:
    void Unregister(std::uint64_t id) const noexcept;

    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::atomic<bool> aborted_{false};
    mutable std::vector<std::pair<std::uint64_t, std::function<void()>>> callbacks_;
    mutable std::uint64_t nextId_ = 1;
};

}  // namespace tarnwick
