#include "job/Delivery.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "core/ScopedFd.h"

namespace tarnwick {

namespace {

// Between two looks at the stop flag.
constexpr std::size_t kCopyBlock = 16 * 1024 * 1024;
constexpr std::size_t kReadWriteBlock = 1024 * 1024;
constexpr int kTemporaryNameAttempts = 64;

std::string ErrorText(int error) { return std::strerror(error); }

// The hidden temporary name in the save directory, removed unless Keep is called.
class TemporaryName {
public:
    explicit TemporaryName(const std::string& directory) {
        std::random_device seed;
        random_.seed(seed());
        directory_ = directory;
        Next();
    }
    ~TemporaryName() {
        if (!kept_) ::unlink(path_.c_str());
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    const std::string& Path() const noexcept { return path_; }
    void Next() {
        char name[32];
        std::snprintf(name, sizeof name, "/.tarnwick-%08x.part",
                      static_cast<unsigned>(random_()));
        path_ = directory_ + name;
    }
    void Keep() noexcept { kept_ = true; }

private:
    std::mt19937 random_;
    std::string directory_;
    std::string path_;
    bool kept_ = false;
};

bool KernelCopyRefused(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EPERM || error == EBADF;
}

// Copies in to out from their current offsets to the end of in. Returns 0, or the errno. The
// kernel copies file to file where it can (copy_file_range within a file system, sendfile across
// them); read/write is the last resort.
int CopyContents(int in, int out, const std::atomic<bool>& stop, bool& stopped) {
    enum { kRange, kSendfile, kReadWrite } way = kRange;
    std::vector<char> buffer;
    for (;;) {
        if (stop.load()) {
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
int LinkInto(const std::string& source, TemporaryName& temp) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        if (::link(source.c_str(), temp.Path().c_str()) == 0) {
            // Flush what the converter or the download left in the page cache.
            ScopedFd fd(::open(temp.Path().c_str(), O_RDONLY | O_CLOEXEC));
            if (fd.Get() < 0) return errno;
            if (::fsync(fd.Get()) < 0) return errno;
            return 0;
        }
        if (errno != EEXIST) return errno;
        temp.Next();
    }
    return EEXIST;
}

int CopyInto(const std::string& source, TemporaryName& temp, const std::atomic<bool>& stop,
             bool& stopped) {
    ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) return errno;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        fd = ::open(temp.Path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) break;
        if (errno != EEXIST) return errno;
        temp.Next();
    }
    if (fd < 0) return EEXIST;
    ScopedFd out(fd);
    if (const int error = CopyContents(in.Get(), out.Get(), stop, stopped)) return error;
    if (::fsync(out.Get()) < 0) return errno;
    if (out.Close() < 0) return errno;
    return 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool LinkRefused(int error) {
    return error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP ||
           error == ENOSYS;
}

}  // namespace

TDeliveryOutcome DeliverFile(const std::string& source, const std::string& saveDirectory,
                             const std::string& destinationName, const std::atomic<bool>& stop) {
    TDeliveryOutcome outcome;
    std::error_code error;
    std::filesystem::create_directories(saveDirectory, error);
    if (error) {
        outcome.reason = "the save folder " + saveDirectory +
                         " could not be created: " + error.message();
        return outcome;
    }
    const std::string destination = saveDirectory + "/" + destinationName;
    // Renaming a second name of the same file over it would leave both names standing.
    if (SameFile(source, destination)) {
        outcome.delivered = true;
        return outcome;
    }

    TemporaryName temp(saveDirectory);
    int result = LinkInto(source, temp);
    outcome.linked = result == 0;
    if (result != 0 && LinkRefused(result)) {
        result = CopyInto(source, temp, stop, outcome.stopped);
    }
    if (result == 0 && stop.load()) {
        outcome.stopped = true;
        result = ECANCELED;
    }
    if (outcome.stopped) {
        outcome.linked = false;
        outcome.reason = "stopped before the file was saved";
        return outcome;
    }
    if (result == 0 && ::rename(temp.Path().c_str(), destination.c_str()) < 0) result = errno;
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
    return outcome;
}

}  // namespace tarnwick
