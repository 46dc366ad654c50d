#include "job/files/WorkArea.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>

#include "core/ScopedFd.h"

namespace tarnwick {

namespace {

constexpr std::string_view kPrivatePrefix = ".tarnwick-work-";
// mkdtemp's six characters.
constexpr std::size_t kPrivateSuffixLength = 6;
constexpr const char* kMarkName = ".tarnwick-work.lock";
constexpr const char* kNewMarkName = ".tarnwick-work.lock-new";

bool IsPrivateFolderName(std::string_view name) {
    return name.size() == kPrivatePrefix.size() + kPrivateSuffixLength &&
           name.starts_with(kPrivatePrefix);
}

// Marks folder as a running copy's: the mark is locked before it takes its name, so nobody sees
// it unlocked while this copy lives. Returns the descriptor that holds the lock, or -1.
int MarkAndLock(const std::string& folder) {
    const std::string fresh = folder + "/" + kNewMarkName;
    ScopedFd fd(::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.Get() < 0) return -1;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 ||
        ::rename(fresh.c_str(), (folder + "/" + kMarkName).c_str()) != 0) {
        ::unlink(fresh.c_str());
        return -1;
    }
    return fd.Release();
}

// Private folders of copies that ended without removing theirs (killed): marked, and nobody
// holds the mark's lock any more.
void RemoveAbandonedFolders(const std::string& base) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
        if (!IsPrivateFolderName(entry.path().filename().string())) continue;
        if (!entry.is_directory(error) || entry.is_symlink(error)) continue;
        const std::string mark = entry.path().string() + "/" + kMarkName;
        ScopedFd fd(::open(mark.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
        if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        std::filesystem::remove_all(entry.path(), error);
    }
}

}  // namespace

TWorkArea::TWorkArea(std::string base) {
    std::error_code error;
    std::filesystem::create_directories(base, error);
    RemoveAbandonedFolders(base);
    std::string folder = base + "/" + std::string(kPrivatePrefix) + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        directory_ = base + "/" + std::string(kPrivatePrefix) + "unavailable";
        return;
    }
    directory_ = folder;
    lockFd_ = MarkAndLock(directory_);
}

TWorkArea::~TWorkArea() {
    std::error_code error;
    if (lockFd_ >= 0) {
        std::filesystem::remove_all(directory_, error);
        ::close(lockFd_);
    } else {
        // Not marked: only what the jobs put there goes, and the folder when that empties it.
        ClearWorkFiles();
        ::rmdir(directory_.c_str());
    }
}

std::shared_ptr<TWorkArea> TWorkArea::Shared(const std::string& base) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<TWorkArea>> areas;
    std::lock_guard lock(mutex);
    std::shared_ptr<TWorkArea> area = areas[base].lock();
    if (!area) {
        std::erase_if(areas, [](const auto& entry) { return entry.second.expired(); });
        area = std::make_shared<TWorkArea>(base);
        areas[base] = area;
    }
    return area;
}

std::string TWorkArea::JobFolder(std::uint64_t job) const {
    std::string folder = directory_ + "/job-" + std::to_string(job);
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

std::string TWorkArea::RemoveJobFolder(std::uint64_t job) const {
    std::error_code error;
    std::filesystem::remove_all(directory_ + "/job-" + std::to_string(job), error);
    return error ? error.message() : std::string();
}

void TWorkArea::ClearWorkFiles() const noexcept {
    DIR* folder = ::opendir(directory_.c_str());
    if (!folder) return;
    const int fd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || name == kMarkName) continue;
        // Never a folder: the jobs make files only.
        ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(folder);
}

}  // namespace tarnwick
