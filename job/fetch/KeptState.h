#pragma once

// What is known of the bytes of a transfer kept across runs, in a small file beside them
// (KeptStatePath): the validator they were fetched under, and how many of them are on the disk
// or, for a transfer split over several connections, the version its pieces come from, the spans
// still missing and the media type. Whatever it calls held reached the disk before it did.
//
// The file is replaced whole (a temporary file, fsync, rename), so an end of the program at any
// moment leaves the old state or the new one. A state that cannot be trusted reads as none, and
// the bytes it spoke of are fetched anew.

#include <cstdint>
#include <string>

#include "http/IdPiecedGet.h"

namespace tarnwick {

struct TKeptState {
    std::string validator;   // of the bytes held; empty: they cannot be continued
    std::string mediaType;   // the type the transfer was answered with
    std::int64_t held = -1;  // not split: the bytes from the start on the disk (-1: unsaid)
    TIdPiecedState split;    // total -1 unless the transfer was split
};

std::string KeptStatePath(const std::string& kept);

// The state of the bytes in kept; none when the file is missing, damaged, or speaks of a split
// transfer of another size than kept's.
TKeptState ReadKeptState(const std::string& kept);
// Replaces the state of kept. Throws EIdException when it cannot be written.
void WriteKeptState(const std::string& kept, const TKeptState& state);
// Removes the state: the bytes of kept can no longer be continued. Throws EIdException when it
// cannot be removed.
void ForgetKeptState(const std::string& kept);

}  // namespace tarnwick
