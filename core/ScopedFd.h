#pragma once

// A file descriptor closed when it goes out of scope.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace tarnwick {

class ScopedFd {
public:
    explicit ScopedFd(int fd = -1) noexcept : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int Get() const noexcept { return fd_; }
    // Closes now, so that a failing close (a late write error) is seen.
    int Close() noexcept {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

    // Gives the descriptor up: the caller closes it.
    int Release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Writes the whole text into fd; false with errno on failure.
inline bool WriteAll(int fd, std::string_view text) noexcept {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace tarnwick
