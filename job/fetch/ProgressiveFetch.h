#pragma once

// The progressive fetch: one media file over HTTP or HTTPS into the work file, following
// redirects, through one client named target.clientName in target.owner's list while it runs.
//
// The work file is made anew (an old file of its name, which may be a hard link to a video
// delivered before, is unlinked, never truncated). A transfer that breaks (closed early, reset,
// stalled) is tried again on a new connection and continued with Range where the work file ends
// (TIdResumableGet with target.resume); each wait before a try is told (TFetchEvents::Waiting).
// A file that the server gives in parts and that is large enough comes over target.connections
// connections at once (TIdPiecedGet), each piece continued on its own by the same rules; the
// bytes reported are then the sum of the pieces.
// The bytes reported run on across the chunks of a chunked body and the tries (back to 0 only
// when the transfer starts over); only a success's body counts, never a redirect's or an
// error's. With target.kept the transfer goes into that file instead and continues what it holds
// under the state kept beside it (KeptState.h): over one connection with Range and If-Range, or,
// when it was split, each missing span on a connection of its own; an answer of another version
// makes it anew. Whole, it is moved to target.path; a failure or an abort leaves it for a later
// run (its owner removes it). The fetch fails, and removes the work file, when the tries are
// spent or a failure is not tried again, when the file is not the size the server named, and
// when the answer is a web page (its type says so, or it starts like one whatever type it names:
// kWebPageNotVideoText).

#include "http/IdHTTP.h"
#include "job/fetch/MediaFetcher.h"

namespace tarnwick {

class TProgressiveFetch final : public TMediaFetcher {
public:
    void Fetch(const TMediaStream& stream, const TFetchTarget& target, TFetchEvents& events,
               const TIdAbortSignal& abort) override;
};

// A client of the job's fetches (the media's, the preview's), fully set up before it joins
// target.owner's list as target.clientName: the abort and target's limits on a silent server,
// and headers in its request (Referer and User-Agent in their places, any other as a custom
// header line).
std::unique_ptr<TIdHTTP> MakeFetchClient(const TFetchTarget& target, bool followRedirects,
                                         const TRequestHeaders& headers,
                                         const TIdAbortSignal& abort);

}  // namespace tarnwick
