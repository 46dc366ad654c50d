#pragma once

// The media a lookup record names, as the streams the fetch stage fetches one by one: each an
// address, what it holds (picture, sound or both), the protocol it is fetched by and the request
// headers the site expects.
//
// A record names its media by these entries: `url` (with `protocol` when the address's scheme
// does not tell it, `codecs` when known, and `fragment` entries for "fragments"), holding picture
// and sound; or, when the sound comes apart, `url` the picture and `audio_url` (`audio_protocol`,
// `audio_codecs`, `audio_fragment`) the sound. The protocols:
//   "http", "https"   one progressive file;
//   "m3u8"            an HLS playlist, master or media;
//   "dash"            a DASH manifest;
//   "fragments"       the fragments listed, written one after the other: each `fragment` entry
//                     an absolute address, optionally followed by a space and the byte range
//                     "first-last" (as in a Range header).
//
// The headers come from the record's referer, useragent and cookie entries, whoever made the
// record (the page reader, yt-dlp, a lookup service): no control byte of them ever reaches a
// request head.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/lookup/LookupRecord.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

// Why a job whose record names no media fetches nothing.
inline constexpr std::string_view kNoMediaAddressText =
    "The video's record names no media address.";

// The record entries that name streams (see above).
inline constexpr std::string_view kUrlEntry = "url";
inline constexpr std::string_view kProtocolEntry = "protocol";
inline constexpr std::string_view kCodecsEntry = "codecs";
inline constexpr std::string_view kFragmentEntry = "fragment";
inline constexpr std::string_view kAudioUrlEntry = "audio_url";
inline constexpr std::string_view kAudioProtocolEntry = "audio_protocol";
inline constexpr std::string_view kAudioCodecsEntry = "audio_codecs";
inline constexpr std::string_view kAudioFragmentEntry = "audio_fragment";

// The protocols a stream is fetched by, beside the address's own "http" and "https".
inline constexpr std::string_view kHlsProtocol = "m3u8";
inline constexpr std::string_view kDashProtocol = "dash";
inline constexpr std::string_view kFragmentsProtocol = "fragments";

// Request headers as name and value, in the order they are sent.
using TRequestHeaders = std::vector<std::pair<std::string, std::string>>;

struct TMediaStream {
    std::string address;
    TStreamKind kind = TStreamKind::Both;
    // How the stream is fetched, in lower case (see above); empty when the record names none
    // and the address has no scheme.
    std::string protocol;
    TRequestHeaders headers;
    std::string codecs;  // as a playlist or yt-dlp names them ("avc1.64001f"); may be empty
    // "fragments": the pieces in order (address empty). Known from a playlist or manifest:
    // how long the stream plays and its bits per second, for an estimate of its size (0: not
    // known).
    std::vector<TStreamFragment> fragments;
    double seconds = 0;
    std::int64_t bandwidth = 0;
};

// The protocol of address: the letters before its "://", in lower case; empty when it has none.
std::string AddressProtocol(std::string_view address);

// A fragment entry's byte range, "first-last" as a Range header names it; none when text is not
// one (first after last, or past kMaxStreamByteOffset).
std::optional<TByteRange> ReadFragmentRange(std::string_view text);

// "Referer", "User-Agent" and "Cookie" from the record's referer, useragent and cookie entries,
// each made one line without control bytes (OneLineText); those that are then empty are left out.
TRequestHeaders RecordRequestHeaders(const TLookupRecord& record);

// The record's media (see above), each stream with RecordRequestHeaders: `url` holding picture
// and sound, or `url` the picture and `audio_url` the sound; none when the record names no url.
// A stream's protocol is its entry's, else its address's scheme. A "fragments" stream of which one
// entry is not an absolute address with an optional valid range, or that names more than
// kMaxStreamFragments, names no fragments at all (and is refused by its fetcher), never a list
// with a hole.
std::vector<TMediaStream> MediaStreams(const TLookupRecord& record);

}  // namespace tarnwick
