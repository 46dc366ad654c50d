#include "job/WorkArea.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace tarnwick {

namespace {

// The lock file of a work directory; the private folders of later copies each hold one too.
constexpr const char* kLockFileName = ".tarnwick-work.lock";
constexpr const char* kPrivatePrefix = "copy-";

// Opens the lock file in directory and takes its lock without waiting. Returns the descriptor
// holding the lock, or -1 when the lock is held elsewhere or the file cannot be made.
int TakeLock(const std::string& directory) {
    const std::string path = directory + "/" + kLockFileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The private folders of copies that ended without removing theirs (killed): nobody holds their
// lock any more.
void RemoveAbandonedFolders(const std::string& base) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kPrivatePrefix) || !entry.is_directory(error)) continue;
        const int fd = TakeLock(entry.path().string());
        if (fd < 0) continue;
        std::filesystem::remove_all(entry.path(), error);
        ::close(fd);
    }
}

}  // namespace

TWorkArea::TWorkArea(std::string base) : base_(std::move(base)), directory_(base_) {
    std::error_code error;
    std::filesystem::create_directories(base_, error);
    lockFd_ = TakeLock(base_);
    if (lockFd_ >= 0) {
        RemoveAbandonedFolders(base_);
        return;
    }
    std::string folder = base_ + "/" + kPrivatePrefix + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return;  // the jobs will fail on their work files
    directory_ = folder;
    private_ = true;
    lockFd_ = TakeLock(directory_);
}

TWorkArea::~TWorkArea() {
    if (private_) {
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
    }
    if (lockFd_ >= 0) ::close(lockFd_);
}

}  // namespace tarnwick
