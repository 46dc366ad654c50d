#pragma once

// The thread that makes a connect under a time limit, so that the caller can give up on it. It is
// created suspended, connects its socket handle once, keeps the message of a failure, and sets its
// terminated flag last. The object owns the thread and waits for it when destroyed: the thread
// never outlives the handle it connects (closing the handle ends a pending connect).

#include <atomic>
#include <string>
#include <thread>

namespace tarnwick {

class TIdSocketHandle;

class TIdConnectThread {
public:
    explicit TIdConnectThread(TIdSocketHandle& socket) : socket_(socket) {}
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start();
    // Asks the thread to end (it sets the flag itself when the connect has returned).
    void Terminate() noexcept { terminated_.store(true, std::memory_order_release); }
    bool Terminated() const noexcept { return terminated_.load(std::memory_order_acquire); }
    // Waits until the thread has ended.
    void WaitFor();
    // The failure's message, empty after a successful connect. Read it once Terminated is true.
    const std::string& ExceptionMessage() const noexcept { return message_; }

private:
    void Execute();

    TIdSocketHandle& socket_;
    std::string message_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

}  // namespace tarnwick
