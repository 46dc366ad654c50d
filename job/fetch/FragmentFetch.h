#pragma once

// The fetch of a stream that comes as fragments (TMediaStream::fragments, protocol "fragments"):
// each fragment fetched by our own client with the stream's headers (FetchPiece: its byte range
// exactly, broken transfers continued, up to kPieceTries tries), target.connections of them in
// flight at once, each connection a thread of the fetch with a client of its own that carries
// fragment after fragment while the server keeps it open. An encrypted fragment is decrypted
// with its AES-128 key (each key address fetched once) and IV.
//
// The fragments are written in order into the work file (made anew as the progressive fetch
// makes it) while later ones are still coming, with at most the bound of fragment bytes held in
// memory in all (see TFragmentWindow). Progress: one TryStarts from 0 with the size the stream's
// seconds and bandwidth promise (-1 when they are not known; raised as the bytes written pass
// it, and set to the size written when the last fragment is in), BytesHeld after each fragment,
// TransferEnds once; waits of the connections go to Waiting on the fetching thread.
//
// The fetch fails, and removes the work file, when a fragment fails its tries or is refused (a
// web page by its type or its first bytes, a key that is not 16 bytes, a fragment its key does
// not decrypt); every connection then ends, as on the abort, and the threads are joined before
// Fetch returns.

#include <cstdint>

#include "job/fetch/MediaFetcher.h"

namespace tarnwick {

// Fragment bytes a fetch holds in memory at most (but for one larger fragment alone): enough for
// several fragments in flight on every connection, and with the program itself well under 64 MiB.
inline constexpr std::int64_t kFragmentBytesHeld = std::int64_t{32} << 20;

class TFragmentFetch final : public TMediaFetcher {
public:
    explicit TFragmentFetch(std::int64_t bytesHeld = kFragmentBytesHeld) : bytesHeld_(bytesHeld) {}
    void Fetch(const TMediaStream& stream, const TFetchTarget& target, TFetchEvents& events,
               const TIdAbortSignal& abort) override;

private:
    std::int64_t bytesHeld_;
};

}  // namespace tarnwick
