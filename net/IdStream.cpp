#include "net/IdStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/StrUtils.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

int OpenFlags(TIdFileMode mode) {
    switch (mode) {
        case fmCreate: return O_RDWR | O_CREAT | O_TRUNC;
        case fmOpenRead: return O_RDONLY;
        case fmOpenReadWrite: return O_RDWR;
    }
    return O_RDONLY;
}

}  // namespace

TIdFileStream::TIdFileStream(std::string path, TIdFileMode mode) : path_(std::move(path)) {
    do {
        fd_ = ::open(path_.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) Fail(msg::kFileOpenFailed);
}

TIdFileStream::~TIdFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void TIdFileStream::Fail(const char* format) const {
    const std::string reason = std::system_category().message(errno);
    throw EIdStreamError(Format(format, path_.c_str(), reason.c_str()));
}

void TIdFileStream::SetPosition(std::int64_t position) {
    position_ = std::max<std::int64_t>(0, position);
}

std::int64_t TIdFileStream::Size() const {
    struct stat info;
    if (::fstat(fd_, &info) < 0) Fail(msg::kFileReadFailed);
    return info.st_size;
}

void TIdFileStream::SetSize(std::int64_t size) {
    size = std::max<std::int64_t>(0, size);
    int r;
    do {
        r = ::ftruncate(fd_, size);
    } while (r < 0 && errno == EINTR);
    if (r < 0) Fail(msg::kFileSizeFailed);
    position_ = std::min(position_, size);
}

std::int64_t TIdFileStream::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, static_cast<std::size_t>(count - done),
                                  position_ + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(msg::kFileReadFailed);
        if (n == 0) break;
        done += n;
    }
    position_ += done;
    return done;
}

void TIdFileStream::Sync() {
    if (::fdatasync(fd_) < 0) Fail(msg::kFileWriteFailed);
}

void TIdFileStream::Write(const void* buffer, std::int64_t count) {
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, in + done, static_cast<std::size_t>(count - done),
                                   position_ + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            position_ += done;
            Fail(msg::kFileWriteFailed);
        }
        done += n;
    }
    position_ += done;
}

void TIdMemoryStream::SetPosition(std::int64_t position) {
    position_ = std::max<std::int64_t>(0, position);
}

void TIdMemoryStream::SetSize(std::int64_t size) {
    size_ = std::max<std::int64_t>(0, size);
    if (static_cast<std::int64_t>(bytes_.size()) > size_) bytes_.resize(size_);
    position_ = std::min(position_, size_);
}

std::int64_t TIdMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n =
        std::clamp<std::int64_t>(size_ - position_, 0, std::max<std::int64_t>(count, 0));
    const std::int64_t written = static_cast<std::int64_t>(bytes_.size());
    auto* out = static_cast<char*>(buffer);
    // Bytes beyond the written part read as zeros.
    const std::int64_t stored = std::clamp<std::int64_t>(written - position_, 0, n);
    if (stored > 0) std::memcpy(out, bytes_.data() + position_, stored);
    if (n > stored) std::memset(out + stored, 0, n - stored);
    position_ += n;
    return n;
}

void TIdMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return;
    const std::int64_t end = position_ + count;
    if (static_cast<std::int64_t>(bytes_.size()) < end) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = end;
    size_ = std::max(size_, end);
}

std::string TIdMemoryStream::DataString() const {
    std::string all = bytes_;
    all.resize(size_);
    return all;
}

}  // namespace tarnwick
