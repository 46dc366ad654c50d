#pragma once

// A DASH manifest read into the streams to fetch: the video and audio adaptation sets chosen by
// the HD setting, each as its ordered list of fragments over every period. The text is
// untrusted: it is parsed as XML that never loads anything from outside it (a DOCTYPE is
// refused, so no entity is ever declared), at most kMaxStreamTextBytes of it, and each stream
// holds at most kMaxStreamFragments fragments. What cannot be saved whole (a dynamic manifest,
// ContentProtection, malformed or absurd values) comes back as a refusal with a plain-English
// reason.
//
// A plain function over text: any thread; nothing throws but std::bad_alloc.

#include <string>
#include <string_view>
#include <vector>

#include "job/streams/StreamChoice.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

struct TDashStream {
    TStreamKind kind = TStreamKind::Both;
    std::string codecs;  // of the chosen representation in the first period
    std::string mimeType;
    TStreamQuality quality;
    std::vector<TStreamFragment> fragments;  // the initialisation first, periods one after another
};

struct TDashManifest {
    std::string refusal;               // why, for a refused manifest (then streams is empty)
    std::vector<TDashStream> streams;  // video (or both) first, then audio
    double seconds = 0;                // how long the presentation lasts, when it says
};

// Reads text, the body that address answered with after redirects; relative addresses in it are
// resolved against address. In each period the representation of picture is chosen among all
// video sets (a set whose codecs name picture and sound counts as both) by ChooseQuality with
// hd; unless it carries the sound too, the sound comes from the audio set whose Role is "main",
// else the first, at its highest bandwidth. Every period must give the same kinds of stream.
TDashManifest ReadDashManifest(std::string_view text, std::string_view address, bool hd);

}  // namespace tarnwick
