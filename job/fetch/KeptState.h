#pragma once

// What is known of the bytes of a transfer kept across runs, in a small file beside them
// (KeptStatePath): the validator they were fetched under and, for a transfer split over several
// connections, the version its pieces come from, the spans still missing and the media type.
//
// The file is replaced whole (a temporary file, fsync, rename), so an end of the program at any
// moment leaves the old state or the new one. A state that cannot be trusted reads as none, and
// the bytes it spoke of are fetched anew.

#include <string>

#include "http/IdPiecedGet.h"

namespace tarnwick {

struct TKeptState {
    std::string validator;  // of the bytes held; empty: they cannot be continued
    std::string mediaType;  // the type the transfer was answered with
    TIdPiecedState split;   // total -1 unless the transfer was split
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
