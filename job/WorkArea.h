#pragma once

// The work directory of one running copy of the program. The first copy holds an advisory lock
// on a lock file in the work directory and works there; a copy that finds the lock held works in
// a private folder inside it, removed when that copy ends. So two copies never touch each other's
// "default.jpg" or "video.<ext>".

#include <string>

namespace tarnwick {

class TWorkArea {
public:
    // base: the program's work directory (created when missing).
    explicit TWorkArea(std::string base);
    ~TWorkArea();  // releases the lock; removes a private folder with what is in it
    TWorkArea(const TWorkArea&) = delete;
    TWorkArea& operator=(const TWorkArea&) = delete;

    // Where this copy's work files go (no trailing "/").
    const std::string& Directory() const noexcept { return directory_; }
    bool IsPrivate() const noexcept { return private_; }

private:
    std::string base_;
    std::string directory_;
    int lockFd_ = -1;
    bool private_ = false;
};

}  // namespace tarnwick
