#include "net/IdBuffer.h"

#include <algorithm>
#include <cstring>

#include "net/IdExceptions.h"

namespace tarnwick {

void TIdSimpleBuffer::Reserve(std::size_t count) {
    if (capacity_ - end_ >= count) return;
    // Consumed room at the front is reused before the block grows.
    if (begin_ > 0) Compact();
    if (capacity_ - end_ >= count) return;
    const std::size_t wanted = std::max(end_ + count, capacity_ * 2);
    auto grown = std::make_unique_for_overwrite<char[]>(wanted);
    if (end_ > 0) std::memcpy(grown.get(), data_.get(), end_);
    data_ = std::move(grown);
    capacity_ = wanted;
}

void TIdSimpleBuffer::Append(const void* data, std::size_t count) {
    if (count == 0) return;
    std::memcpy(AppendSpace(count), data, count);
    end_ += count;
}

char* TIdSimpleBuffer::AppendSpace(std::size_t count) {
    Reserve(count);
    return data_.get() + end_;
}

void TIdSimpleBuffer::CheckAvailable(std::size_t count) const {
    if (count > Size()) throw EIdNotEnoughDataInBuffer();
}

void TIdSimpleBuffer::Remove(std::size_t count) {
    CheckAvailable(count);
    const std::size_t rest = Size() - count;
    if (rest > 0) std::memmove(data_.get(), Memory() + count, rest);
    begin_ = 0;
    end_ = rest;
    Notify(count);
}

std::string TIdSimpleBuffer::Extract(std::size_t count) {
    CheckAvailable(count);
    std::string bytes(Memory(), count);
    Remove(count);
    return bytes;
}

void TIdSimpleBuffer::Compact() noexcept {
    const std::size_t size = Size();
    if (size > 0 && begin_ > 0) std::memmove(data_.get(), Memory(), size);
    begin_ = 0;
    end_ = size;
}

void TIdSimpleBuffer::Notify(std::size_t count) {
    if (OnRemove) OnRemove(*this, count);
}

void TIdManagedBuffer::Remove(std::size_t count) {
    CheckAvailable(count);
    if (count == Size()) {
        Clear();
    } else {
        begin_ += count;
        if (begin_ >= kCompactAt) Compact();
    }
    Notify(count);
}

}  // namespace tarnwick
