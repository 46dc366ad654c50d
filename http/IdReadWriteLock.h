#pragma once

// A many-readers, one-writer lock whose write side the writing thread may take again (each
// BeginWrite matched by an EndWrite), and whose writer may also read. A thread that holds the read
// side must not ask for the write side (that would wait for itself).

#include <atomic>
#include <shared_mutex>
#include <thread>

namespace tarnwick {

class TIdReadWriteLock {
public:
    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

    // True when the calling thread holds the write side.
    bool IsWriter() const noexcept { return writer_.load() == std::this_thread::get_id(); }

private:
    std::shared_mutex mutex_;
    std::atomic<std::thread::id> writer_{};
    int depth_ = 0;  // entries of the writer, touched by the writer only
};

class TIdReadLock {
public:
    explicit TIdReadLock(TIdReadWriteLock& lock) : lock_(lock) { lock_.BeginRead(); }
    ~TIdReadLock() { lock_.EndRead(); }
    TIdReadLock(const TIdReadLock&) = delete;
    TIdReadLock& operator=(const TIdReadLock&) = delete;

private:
    TIdReadWriteLock& lock_;
};

class TIdWriteLock {
public:
    explicit TIdWriteLock(TIdReadWriteLock& lock) : lock_(lock) { lock_.BeginWrite(); }
    ~TIdWriteLock() { lock_.EndWrite(); }
    TIdWriteLock(const TIdWriteLock&) = delete;
    TIdWriteLock& operator=(const TIdWriteLock&) = delete;

private:
    TIdReadWriteLock& lock_;
};

}  // namespace tarnwick
