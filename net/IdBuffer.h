#pragma once

// In-memory byte buffers of the connection: TIdSimpleBuffer (one receive, the write buffer) and
// TIdManagedBuffer (the input buffer). Both hold their bytes in one contiguous block that is
// reused: growing never initialises memory, and emptying never frees it.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tarnwick {

class TIdSimpleBuffer {
public:
    // Called with the buffer and the count after every Remove or Extract.
    using TRemoveNotify = std::function<void(TIdSimpleBuffer& buffer, std::size_t count)>;

    TIdSimpleBuffer() = default;
    virtual ~TIdSimpleBuffer() = default;
    TIdSimpleBuffer(const TIdSimpleBuffer&) = delete;
    TIdSimpleBuffer& operator=(const TIdSimpleBuffer&) = delete;

    std::size_t Size() const noexcept { return end_ - begin_; }
    // The bytes, contiguous; valid until the next change of the buffer.
    char* Memory() noexcept { return data_.get() + begin_; }
    const char* Memory() const noexcept { return data_.get() + begin_; }

    void Append(const void* data, std::size_t count);
    // Room for count bytes at the end, to be filled in place (say, by a receive) and then taken
    // into the buffer by Commit with the count actually written.
    char* AppendSpace(std::size_t count);
    void Commit(std::size_t count) noexcept { end_ += count; }
    // Removes count bytes from the front and notifies. More than Size() raises
    // EIdNotEnoughDataInBuffer "Not enough data in buffer." and removes nothing.
    virtual void Remove(std::size_t count);
    // The first count bytes, removed (and notified) as by Remove.
    std::string Extract(std::size_t count);
    // Empties the buffer without a notification.
    void Clear() noexcept { begin_ = end_ = 0; }

    TRemoveNotify OnRemove;

protected:
    // Moves the bytes to the front of the block.
    void Compact() noexcept;
    void Notify(std::size_t count);
    void CheckAvailable(std::size_t count) const;

    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // always 0 here; a consumed prefix in TIdManagedBuffer
    std::size_t end_ = 0;

private:
    // Room for count more bytes at the end.
    void Reserve(std::size_t count);
};

// The input buffer: removing from the front only advances a consumed prefix, and the remaining
// bytes move to the front only once kCompactAt consumed bytes have gathered (or the buffer
// empties), so reading block by block copies each byte in once and out once.
class TIdManagedBuffer : public TIdSimpleBuffer {
public:
    static constexpr std::size_t kCompactAt = 32768;

    void Remove(std::size_t count) override;
    // Bytes consumed but not yet compacted away.
    std::size_t ConsumedPrefix() const noexcept { return begin_; }
};

}  // namespace tarnwick
