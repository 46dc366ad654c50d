#pragma once

// An HLS playlist read into what the fetcher needs: a master playlist's variants and renditions,
// or a media playlist's fragments in order with their byte ranges, keys and durations. The text
// is untrusted: whatever it holds, reading ends within its bounds (kMaxStreamTextBytes of text,
// kMaxStreamFragments fragments) and anything the fetcher could not save whole (a live playlist,
// DRM, a malformed or absurd value) comes back as a refusal with a plain-English reason.
//
// Plain functions over text: any thread; nothing throws but std::bad_alloc.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/streams/StreamChoice.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

// The AES-128 key of a fragment, its IV as written or the media sequence number big-endian.
using THlsKey = TFragmentKey;

// One fragment of a media playlist. An initialisation section (EXT-X-MAP) comes before the first
// fragment that needs it, and again wherever the playlist names another one.
struct THlsFragment {
    TStreamFragment part;
    double seconds = 0;  // 0 for an initialisation section
    bool init = false;
    bool discontinuity = false;  // the encoding may change from this fragment on
    std::uint64_t sequence = 0;  // the media sequence number (of the next fragment, for a map)
    THlsKey key;
};

// A master playlist's EXT-X-STREAM-INF.
struct THlsVariant {
    std::string address;
    TStreamQuality quality;  // RESOLUTION and BANDWIDTH
    std::string codecs;
    std::string audioGroup;  // AUDIO
};

// A master playlist's EXT-X-MEDIA. No address: the rendition is carried in the variant itself.
struct THlsRendition {
    std::string type;  // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
    std::string groupId;
    std::string name;
    std::string language;
    bool isDefault = false;
    std::string address;
};

struct THlsPlaylist {
    enum class TKind { Refused, Master, Media };
    TKind kind = TKind::Refused;
    std::string refusal;  // why, for a refused playlist
    // A master playlist:
    std::vector<THlsVariant> variants;
    std::vector<THlsRendition> renditions;
    // A media playlist (always ended by EXT-X-ENDLIST, else it is refused as live):
    std::vector<THlsFragment> fragments;
    double seconds = 0;  // the sum of the fragments' durations
};

// Reads text, the body that address answered with after redirects; relative addresses in it are
// resolved against address.
THlsPlaylist ReadHlsPlaylist(std::string_view text, std::string_view address);

// The streams to fetch from a master playlist: the variant by the HD setting (see
// ChooseQuality; variants whose codecs name sound only are passed over while others are there),
// and the audio rendition of its AUDIO group marked DEFAULT=YES, else the group's first. No audio
// when the variant names no group, the group is empty or the rendition has no URI: the sound is
// then in the variant, which counts as both kinds.
struct THlsChoice {
    THlsVariant video;
    TStreamKind videoKind = TStreamKind::Both;
    std::optional<THlsRendition> audio;
};
// Nothing for a playlist that is not a master playlist.
std::optional<THlsChoice> ChooseHlsStreams(const THlsPlaylist& master, bool hd);

}  // namespace tarnwick
