#pragma once

// Fetching one stream of a video into its work file: the interface every way of fetching has
// (a progressive file over HTTP today; playlists and manifests next), and the choice of the way
// by the stream's protocol.
//
// A fetch makes the work file anew, reports its progress through TFetchEvents on the fetching
// thread, continues a transfer that breaks as its way allows, and leaves the work file only when
// the stream came whole: on any failure, and on the abort, the file is gone and Fetch throws (the
// abort's exception may be any; the caller tells it by its token).

#include <cstdint>
#include <memory>
#include <string>

#include "core/Component.h"
#include "http/IdAbortSignal.h"
#include "http/IdRateLimit.h"
#include "http/IdResumableGet.h"
#include "job/JobDefaults.h"
#include "job/lookup/MediaStreams.h"

namespace tarnwick {

// The moments of a fetch where the job may stop it.
enum TFetchMoment {
    fmReady,     // the client is in the owner's list, the work file made, nothing sent yet
    fmProgress,  // a block of the stream has been written
    fmDone,      // the stream is whole, its client still in the owner's list
};

// What a fetch tells the job, on the fetching thread.
class TFetchEvents {
public:
    virtual ~TFetchEvents() = default;
    // The answer that brings the stream has come, with its Content-Type.
    virtual void MediaType(const std::string& contentType) = 0;
    // A try of the transfer starts with the work file holding offset bytes of total (-1: not
    // known); the first begins the transfer, a later one follows a break or a start over.
    virtual void TryStarts(std::int64_t offset, std::int64_t total) = 0;
    // The work file holds held bytes (after every block).
    virtual void BytesHeld(std::int64_t held) = 0;
    // A broken transfer waits before its next try; text is for the status line.
    virtual void Waiting(const std::string& text) = 0;
    // The fetch ends, the work file holding written bytes; once, also when it fails.
    virtual void TransferEnds(std::int64_t written) = 0;
    // False stops the fetch at this moment (it then ends as aborted).
    virtual bool Proceed(TFetchMoment moment) = 0;
};

// Where and how a stream is fetched.
struct TFetchTarget {
    std::string path;             // the work file
    TComponent* owner = nullptr;  // holds the fetch's client while it runs (may be null)
    std::string clientName;       // the client's name in owner's list
    // Limits on a silent server, in milliseconds (0: none).
    std::int32_t stallTimeout = kDefaultStallTimeout;
    std::int32_t connectTimeout = kDefaultConnectTimeout;
    // How a transfer that breaks is tried again.
    TIdResumeSettings resume;
    // Connections the fetch may hold at once (1 to kMaxConnections), and the bytes per second
    // all of them together may take (0: no limit).
    std::int32_t connections = kDefaultConnections;
    std::int64_t rateLimit = 0;
    // The limit of rateLimit made once for the job, shared by every client its fetches make
    // (null: none).
    std::shared_ptr<TIdRateLimit> limiter;
    // Where a progressive transfer is kept across runs (the queue's, in the program's own
    // folder; empty: none): see TProgressiveFetch.
    std::string kept;
    // The user's HD setting, for a playlist or manifest that offers several renderings.
    bool hd = false;
};

class TMediaFetcher {
public:
    virtual ~TMediaFetcher() = default;
    // Fetches stream into target.path (see above); throws with the reason when it does not come
    // whole. abort must outlive the call; it ends the fetch at any moment.
    virtual void Fetch(const TMediaStream& stream, const TFetchTarget& target,
                       TFetchEvents& events, const TIdAbortSignal& abort) = 0;
};

// The fetcher for stream's protocol: the progressive fetch for "http" and "https", the fragment
// fetch for "fragments". Throws
// EIdException for any other protocol ("Media over m3u8 cannot be fetched yet."), and for an
// address that names none EIdUnknownProtocol, as the HTTP client does for an address it cannot
// use.
std::unique_ptr<TMediaFetcher> FetcherFor(const TMediaStream& stream);

}  // namespace tarnwick
