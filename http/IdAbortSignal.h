#pragma once

// The user's abort of a transfer, shared by the thread that transfers and the thread that aborts.
//
// Abort may come from any thread at any moment and holds for good: a Wait running at that moment
// ends at once, and a Wait that starts after it returns at once, so an abort that comes between a
// check and a wait is never lost. A client given the signal (TIdCustomHTTP::AbortSignal) looks
// at it before every connect and before reusing a kept connection. Aborting does not close a
// connection: the aborting thread closes the client's connection itself (CloseConnection) to
// end a read that blocks. Nothing here throws but what std::mutex may.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarnwick {

class TIdAbortSignal {
public:
    TIdAbortSignal() = default;
    TIdAbortSignal(const TIdAbortSignal&) = delete;
    TIdAbortSignal& operator=(const TIdAbortSignal&) = delete;

    // Any thread: sets the signal and wakes every Wait.
    void Abort();
    bool Aborted() const noexcept { return aborted_.load(); }
    // Waits for limit; true when it passed, false when the signal was set (before or during).
    bool Wait(std::chrono::milliseconds limit) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::atomic<bool> aborted_{false};
};

}  // namespace tarnwick
