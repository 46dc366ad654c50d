#pragma once

// What the job fetches for the streams a record names: a playlist or manifest becomes the
// fragment lists it names, chosen by the HD setting, before any work file is made.
//
// The texts come over the job's own client (MakeFetchClient with target's limits and the abort,
// following redirects, the stream's request headers), at most kMaxStreamTextBytes each; relative
// addresses in them are resolved against where the text came from after redirects. Whatever the
// readers refuse (a live stream, DRM, a malformed or absurd text) ends the plan with their reason.
//
// Runs on the job's thread; blocks on the network.

#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"
#include "job/fetch/MediaFetcher.h"
#include "job/lookup/MediaStreams.h"

namespace tarnwick {

inline constexpr std::string_view kStreamTextTooLargeText =
    "The playlist or manifest is larger than 16 MiB.";
inline constexpr std::string_view kNestedMasterText =
    "The playlist of a variant is a master playlist again.";

// Variants of an HLS master playlist tried, in order of preference, when the server will not
// give the playlist of the one before.
inline constexpr std::size_t kMaxVariantTries = 8;

// streams with every "m3u8" and "dash" stream replaced by the "fragments" streams it names, in
// their place; the others unchanged. An HLS master playlist gives its chosen variant (and the
// audio rendition of the variant's group when it has a playlist of its own); when the server
// answers a variant's playlist (or its audio's) with an HTTP error, the next variant in the order
// of preference is tried, and the last error ends the plan when none is left. A DASH manifest
// gives its chosen video (or both) and audio streams. Each fragments stream keeps the request
// headers of the stream it came from and carries its codecs, seconds and bandwidth as known.
// Throws EIdException with the reason when a text is refused, and what the client throws.
std::vector<TMediaStream> PlanStreams(const std::vector<TMediaStream>& streams,
                                      const TFetchTarget& target, const TIdAbortSignal& abort);

}  // namespace tarnwick
