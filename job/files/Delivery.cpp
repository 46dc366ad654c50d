#include "job/files/Delivery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/ScopedFd.h"

namespace tarnwick {

namespace {

// Between two looks at the abort.
constexpr std::size_t kCopyBlock = 16 * 1024 * 1024;
constexpr std::size_t kReadWriteBlock = 1024 * 1024;
constexpr int kTemporaryNameAttempts = 64;
// "clip (1000).avi" is the last name tried.
constexpr int kLastNumber = 1000;
// The temporary name: prefix, eight lower-case hex digits, suffix.
constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::size_t kTemporaryDigits = 8;
// Claim's answer when a clean-up elsewhere removed the name before the lock was taken.
constexpr int kNameLost = -1;

// What tests make the save folder's file system lack (SimulateFileSystemLacks).
std::atomic<bool> lacksRenameNoReplace{false};
std::atomic<bool> lacksHardLinks{false};
std::atomic<bool> failsRename{false};

// The calls that differ between file systems, through which tests take the others' ways.
int RenameNoReplace(const char* from, const char* to) {
    if (lacksRenameNoReplace.load()) {
        errno = EINVAL;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int HardLink(const char* from, const char* to) {
    if (lacksHardLinks.load()) {
        errno = EPERM;
        return -1;
    }
    return ::link(from, to);
}

int Rename(const char* from, const char* to) {
    if (failsRename.load()) {
        errno = EIO;
        return -1;
    }
    return ::rename(from, to);
}

std::string ErrorText(int error) { return std::strerror(error); }

bool SameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    for (const char c : name.substr(kTemporaryPrefix.size(), kTemporaryDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Removes what deliveries killed before the rename left in the directory. A running delivery
// holds its file's lock, so LOCK_NB fails on it; the lock taken here is held until the name is
// gone, and the name is checked to be still the file locked.
void RemoveLeftovers(const std::string& directory) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(directory.c_str()), ::closedir);
    if (!folder) return;
    const int dirFd = ::dirfd(folder.get());
    while (const dirent* entry = ::readdir(folder.get())) {
        if (!IsTemporaryName(entry->d_name)) continue;
        ScopedFd fd(::openat(dirFd, entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {}, named {};
        if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) < 0 || !S_ISREG(opened.st_mode)) continue;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) < 0) continue;
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameInode(opened, named))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
}

// The hidden temporary name in the save directory, locked while it is ours, and removed unless
// Keep is called.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& directory) : directory_(directory) {
        std::random_device seed;
        random_.seed(seed());
        Next();
    }
    ~TemporaryFile() {
        if (made_ && !kept_) ::unlink(path_.c_str());
        if (lockFd_ >= 0) ::close(lockFd_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Path() const noexcept { return path_; }
    void Next() {
        char name[32];
        std::snprintf(name, sizeof name, "/%.*s%08x%.*s", int(kTemporaryPrefix.size()),
                      kTemporaryPrefix.data(), static_cast<unsigned>(random_()),
                      int(kTemporarySuffix.size()), kTemporarySuffix.data());
        path_ = directory_ + name;
    }
    // Called right after this delivery made Path(): takes the file's lock. Returns 0, kNameLost
    // when a clean-up elsewhere removed the name before the lock was taken (try Next), or errno.
    // lockFd stays open, so it also serves to flush the file.
    int Claim() {
        made_ = true;
        lockFd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (lockFd_ < 0) {
            if (errno != ENOENT) return errno;
            made_ = false;
            return kNameLost;
        }
        while (::flock(lockFd_, LOCK_EX) < 0)
            if (errno != EINTR) return errno;
        struct stat locked {}, named {};
        if (::fstat(lockFd_, &locked) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
            SameInode(locked, named))
            return 0;
        ::close(lockFd_);
        lockFd_ = -1;
        made_ = false;
        return kNameLost;
    }
    int LockFd() const noexcept { return lockFd_; }
    void Keep() noexcept { kept_ = true; }

private:
    std::mt19937 random_;
    std::string directory_;
    std::string path_;
    int lockFd_ = -1;
    bool made_ = false;
    bool kept_ = false;
};

bool KernelCopyRefused(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EPERM || error == EBADF;
}

// Copies in to out from their current offsets to the end of in. Returns 0, or the errno. The
// kernel copies file to file where it can (copy_file_range within a file system, sendfile across
// them); read/write is the last resort.
int CopyContents(int in, int out, const TIdAbortSignal& stop, bool& stopped) {
    enum { kRange, kSendfile, kReadWrite } way = kRange;
    std::vector<char> buffer;
    for (;;) {
        if (stop.Aborted()) {
            stopped = true;
            return ECANCELED;
        }
        ssize_t n;
        if (way == kRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kCopyBlock, 0);
        } else if (way == kSendfile) {
            n = ::sendfile(out, in, nullptr, kCopyBlock);
        } else {
            n = ::read(in, buffer.data(), buffer.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w =
                    ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) return errno;
                done += w;
            }
        }
        if (n > 0) continue;
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (way == kReadWrite || !KernelCopyRefused(errno)) return errno;
        // The offsets moved with what was copied, so the next way goes on from there.
        if (way == kRange) {
            way = kSendfile;
        } else {
            way = kReadWrite;
            buffer.resize(kReadWriteBlock);
        }
    }
}

// Makes temp a hard link to source. Returns 0, EXDEV-like errors for "copy instead", or errno.
int LinkInto(const std::string& source, TemporaryFile& temp) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt, temp.Next()) {
        if (HardLink(source.c_str(), temp.Path().c_str()) < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        const int claimed = temp.Claim();
        if (claimed == kNameLost) continue;
        if (claimed != 0) return claimed;
        // Flush what the converter or the download left in the page cache.
        if (::fsync(temp.LockFd()) < 0) return errno;
        return 0;
    }
    return EEXIST;
}

int CopyInto(const std::string& source, TemporaryFile& temp, const TIdAbortSignal& stop,
             bool& stopped) {
    ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) return errno;
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt, temp.Next()) {
        ScopedFd out(::open(temp.Path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (out.Get() < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        const int claimed = temp.Claim();
        if (claimed == kNameLost) continue;
        if (claimed != 0) return claimed;
        if (const int error = CopyContents(in.Get(), out.Get(), stop, stopped)) return error;
        if (::fsync(out.Get()) < 0) return errno;
        if (out.Close() < 0) return errno;
        return 0;
    }
    return EEXIST;
}

bool LinkRefused(int error) {
    return error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP ||
           error == ENOSYS;
}

// Gives temp the name destination unless that name is taken. Returns 0, EEXIST, or errno.
int TakeName(const std::string& temp, const std::string& destination) {
    if (RenameNoReplace(temp.c_str(), destination.c_str()) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot rename without replacing: a hard link never replaces either.
    if (HardLink(temp.c_str(), destination.c_str()) == 0) {
        ::unlink(temp.c_str());
        return 0;
    }
    if (!LinkRefused(errno)) return errno;
    // Neither: the name is claimed by making an empty file of ours under it, which only a free
    // name allows, and the file is renamed over that claim; so a file that appears under the
    // name meanwhile is never the one replaced.
    ScopedFd claim(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (claim.Get() < 0) return errno;
    struct stat claimed {};
    const int statResult = ::fstat(claim.Get(), &claimed);
    if (Rename(temp.c_str(), destination.c_str()) == 0) return 0;
    const int error = errno;
    struct stat named {};
    if (statResult == 0 && ::lstat(destination.c_str(), &named) == 0 && SameInode(claimed, named))
        ::unlink(destination.c_str());
    return error;
}

}  // namespace

void SimulateFileSystemLacks(const TFileSystemLacks& lacks) noexcept {
    lacksRenameNoReplace.store(lacks.renameNoReplace);
    lacksHardLinks.store(lacks.hardLinks);
    failsRename.store(lacks.rename);
}

std::string NumberedName(const std::string& destinationName, int n) {
    if (n <= 1) return destinationName;
    const std::string number = " (" + std::to_string(n) + ")";
    const std::size_t dot = destinationName.rfind('.');
    if (dot == std::string::npos || dot == 0) return destinationName + number;
    return destinationName.substr(0, dot) + number + destinationName.substr(dot);
}

namespace {

TDeliveryOutcome DeliverOrRaise(const std::string& source, const std::string& saveDirectory,
                                const std::string& destinationName,
                                const TIdAbortSignal& stop) {
    TDeliveryOutcome outcome;
    std::error_code error;
    std::filesystem::create_directories(saveDirectory, error);
    if (error) {
        outcome.reason = "the save folder " + saveDirectory +
                         " could not be created: " + error.message();
        return outcome;
    }
    RemoveLeftovers(saveDirectory);

    TemporaryFile temp(saveDirectory);
    int result = LinkInto(source, temp);
    outcome.linked = result == 0;
    if (result != 0 && LinkRefused(result)) {
        result = CopyInto(source, temp, stop, outcome.stopped);
    }
    if (result == 0 && stop.Aborted()) {
        outcome.stopped = true;
        result = ECANCELED;
    }
    if (outcome.stopped) {
        outcome.linked = false;
        outcome.reason = "stopped before the file was saved";
        return outcome;
    }
    std::string destination = saveDirectory + "/" + destinationName;
    if (result == 0) {
        // An earlier file of the name stays as it is: the new one takes the first free numbered
        // name. (The work file is never among them: the work folder is the program's private
        // folder, never the save folder.)
        result = EEXIST;
        for (int n = 1; n <= kLastNumber && result == EEXIST; ++n) {
            destination = saveDirectory + "/" + NumberedName(destinationName, n);
            result = TakeName(temp.Path(), destination);
        }
        if (result == EEXIST) {
            outcome.linked = false;
            outcome.reason = "no free name for " + destinationName + " in " + saveDirectory;
            return outcome;
        }
    }
    if (result != 0) {
        outcome.linked = false;
        outcome.reason = "could not write " + destination + ": " + ErrorText(result);
        return outcome;
    }
    temp.Keep();
    // The new name itself survives a crash only once the folder is flushed.
    ScopedFd directory(::open(saveDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) ::fsync(directory.Get());
    outcome.delivered = true;
    outcome.destination = destination;
    return outcome;
}

}  // namespace

TDeliveryOutcome DeliverFile(const std::string& source, const std::string& saveDirectory,
                             const std::string& destinationName, const TIdAbortSignal& stop) {
    // The temporary name goes with the failure, as on every other.
    try {
        return DeliverOrRaise(source, saveDirectory, destinationName, stop);
    } catch (const std::exception& e) {
        TDeliveryOutcome outcome;
        outcome.reason = "the file could not be saved: " + std::string(e.what());
        return outcome;
    }
}

}  // namespace tarnwick
