#pragma once

// Byte streams that bodies are read into and written from: a position, a size that can be set,
// reads and writes at the position. Positions and counts are 64-bit, so files above 2 GiB work.
//
//   TIdFileStream    a file on disk (the downloaded media)
//   TIdMemoryStream  bytes in memory (bodies that are kept, request bodies)

#include <cstdint>
#include <string>

namespace tarnwick {

class TIdStream {
public:
    virtual ~TIdStream() = default;

    virtual std::int64_t Position() const = 0;
    // A position beyond the end is allowed; a write there fills the gap with zero bytes.
    virtual void SetPosition(std::int64_t position) = 0;
    virtual std::int64_t Size() const = 0;
    // Extends (with zero bytes) or cuts the stream. The position stays, or moves back to the new
    // end when it was beyond it.
    virtual void SetSize(std::int64_t size) = 0;
    // Reads up to count bytes at the position and advances it; returns the count read, 0 at the
    // end.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes all count bytes at the position and advances it (raises when it cannot).
    virtual void Write(const void* buffer, std::int64_t count) = 0;
};

// A stream that passes everything on to another one (which must outlive it); a wrapper overrides
// what it adds to, e.g. Write to count or pace the bytes.
class TIdStreamFilter : public TIdStream {
public:
    explicit TIdStreamFilter(TIdStream& inner) : inner_(inner) {}

    std::int64_t Position() const override { return inner_.Position(); }
    void SetPosition(std::int64_t position) override { inner_.SetPosition(position); }
    std::int64_t Size() const override { return inner_.Size(); }
    void SetSize(std::int64_t size) override { inner_.SetSize(size); }
    std::int64_t Read(void* buffer, std::int64_t count) override {
        return inner_.Read(buffer, count);
    }
    void Write(const void* buffer, std::int64_t count) override { inner_.Write(buffer, count); }

protected:
    TIdStream& inner_;
};

enum TIdFileMode {
    fmCreate,        // create or truncate, then read and write
    fmOpenRead,      // an existing file, read only
    fmOpenReadWrite  // an existing file, read and write
};

// A file; every failure raises EIdStreamError naming the file and the system's reason. Setting
// the size gives the file that size at once (a presized download file is extended once, and cut
// once if less arrived).
class TIdFileStream : public TIdStream {
public:
    TIdFileStream(std::string path, TIdFileMode mode);
    ~TIdFileStream() override;
    TIdFileStream(const TIdFileStream&) = delete;
    TIdFileStream& operator=(const TIdFileStream&) = delete;

    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override;
    void SetSize(std::int64_t size) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    void Write(const void* buffer, std::int64_t count) override;

    const std::string& Path() const noexcept { return path_; }
    // Waits until the bytes written are on the disk.
    void Sync();

private:
    [[noreturn]] void Fail(const char* format) const;

    std::string path_;
    int fd_ = -1;
    std::int64_t position_ = 0;
};

// Bytes in memory. Setting a larger size reserves nothing: the bytes beyond what was written read
// as zeros, so a presize to an announced length costs no memory until the bytes arrive.
class TIdMemoryStream : public TIdStream {
public:
    TIdMemoryStream() = default;
    explicit TIdMemoryStream(std::string bytes) : bytes_(std::move(bytes)), size_(bytes_.size()) {}

    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    void Write(const void* buffer, std::int64_t count) override;

    // The stream's whole content.
    std::string DataString() const;
    // The written part only (without the zeros of a larger size set beyond it).
    const std::string& WrittenBytes() const noexcept { return bytes_; }

private:
    std::string bytes_;  // the written part; Size() may be larger
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

}  // namespace tarnwick
