#include "job/lookup/ParseArena.h"

#include <cstdlib>

namespace tarnwick {

TParseArena::TParseArena(const TPageReadLimits& limits)
    : limits_(limits), deadline_(std::chrono::steady_clock::now() + limits.time) {}

TParseArena::~TParseArena() {
    while (head_.next != &head_) {
        Block* block = head_.next;
        head_.next = block->next;
        std::free(block);
    }
}

GumboOutput* TParseArena::Parse(std::string_view html) {
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Allocate;
    options.deallocator = &Deallocate;
    options.userdata = this;
    // Parse errors are not wanted, and gumbo copies the whole stack of open elements into each
    // one it records: deep markup would cost memory in the square of its depth.
    options.max_errors = 0;
    if (setjmp(escape_) != 0) return nullptr;
    return gumbo_parse_with_options(&options, html.data(), html.size());
}

// Gumbo cannot take a failed allocation, so a limit leaves the parse by a jump back into Parse.
// Only gumbo's C frames lie between, and nothing here has a destructor to skip.
void* TParseArena::Allocate(void* userdata, std::size_t size) {
    auto& arena = *static_cast<TParseArena*>(userdata);
    if (arena.OverLimit(size)) std::longjmp(arena.escape_, 1);
    auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
    if (!block) std::longjmp(arena.escape_, 1);
    block->size = size;
    block->prev = &arena.head_;
    block->next = arena.head_.next;
    arena.head_.next->prev = block;
    arena.head_.next = block;
    arena.live_ += size;
    return block + 1;
}

void TParseArena::Deallocate(void* userdata, void* pointer) {
    if (!pointer) return;
    auto& arena = *static_cast<TParseArena*>(userdata);
    Block* block = static_cast<Block*>(pointer) - 1;
    block->prev->next = block->next;
    block->next->prev = block->prev;
    arena.live_ -= block->size;
    std::free(block);
}

bool TParseArena::OverLimit(std::size_t size) {
    if (live_ + size > limits_.memory) return true;
    // The clock and the stop request every few allocations: between two of them gumbo does at
    // most one tag's work.
    if (++calls_ % 16 != 0) return false;
    if (limits_.abort && limits_.abort->Aborted()) return true;
    return std::chrono::steady_clock::now() > deadline_;
}

}  // namespace tarnwick
