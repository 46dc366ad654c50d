#pragma once

// One parse of a page by gumbo within the bounds of TPageReadLimits: gumbo allocates through the
// arena, which counts every allocation against the memory bound, asks the clock and the stop
// request every few allocations and, when a bound is passed, leaves the parse and frees all it
// had allocated. The tree lives in the arena and goes with it.
//
// One arena serves one parse on one thread. Nothing throws.

#include <gumbo.h>

#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "job/lookup/PageReader.h"

namespace tarnwick {

class TParseArena {
public:
    explicit TParseArena(const TPageReadLimits& limits);
    ~TParseArena();
    TParseArena(const TParseArena&) = delete;
    TParseArena& operator=(const TParseArena&) = delete;

    // The parse, or null when a limit ended it.
    GumboOutput* Parse(std::string_view html);

private:
    struct alignas(std::max_align_t) Block {
        Block* prev;
        Block* next;
        std::size_t size;
    };

    static void* Allocate(void* userdata, std::size_t size);
    static void Deallocate(void* userdata, void* pointer);
    bool OverLimit(std::size_t size);

    const TPageReadLimits& limits_;
    const std::chrono::steady_clock::time_point deadline_;
    std::jmp_buf escape_;
    Block head_{&head_, &head_, 0};
    std::size_t live_ = 0;
    std::uint64_t calls_ = 0;
};

}  // namespace tarnwick
