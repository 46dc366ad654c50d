#pragma once

// tarnwick-download's event loop.

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "core/ScopedFd.h"
#include "job/session/TaskQueue.h"

namespace tarnwick {

// The main thread's task queue: tasks posted from any thread run in order on the thread that
// runs the loop. SIGINT, SIGTERM and SIGHUP are taken out of normal delivery (for this thread and
// every thread started after) and come to the loop instead; SIGPIPE is ignored.
class EventLoop : public TTaskQueue {
public:
    EventLoop() : wake_(::eventfd(0, EFD_CLOEXEC)), signals_(BlockedSignals()) {
        if (wake_.Get() < 0 || signals_.Get() < 0)
            throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    }

    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        const std::uint64_t one = 1;
        static_cast<void>(::write(wake_.Get(), &one, sizeof one));
    }

    // Runs tasks, and onSignal for each signal, until done() holds after one of them.
    void RunUntil(const std::function<bool()>& done, const std::function<void(int)>& onSignal) {
        while (!done()) {
            pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {signals_.Get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;  // EINTR
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                if (::read(signals_.Get(), &info, sizeof info) == sizeof info)
                    onSignal(static_cast<int>(info.ssi_signo));
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                static_cast<void>(::read(wake_.Get(), &count, sizeof count));
            }
            for (;;) {
                std::function<void()> task;
                {
                    std::lock_guard lock(mutex_);
                    if (tasks_.empty()) break;
                    task = std::move(tasks_.front());
                    tasks_.pop_front();
                }
                task();
            }
        }
    }

private:
    static int BlockedSignals() {
        ::signal(SIGPIPE, SIG_IGN);
        sigset_t set;
        ::sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return ::signalfd(-1, &set, SFD_CLOEXEC);
    }

    ScopedFd wake_;
    ScopedFd signals_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace tarnwick
