#pragma once

// yt-dlp's JSON answer (`-J`, with the format it chose) read into a lookup record: the video's
// description, and the media as the streams the fetch stage takes (see MediaStreams.h).
//
// The answer is hostile input like a page: read with ParseBoundedJson, never trusted to hold any
// field or type. A plain function: any thread; nothing throws but std::bad_alloc.

#include <string_view>

#include "job/lookup/LookupRecord.h"

namespace tarnwick {

// The record that yt-dlp's answer describes. The video is the answer itself, or the first entry
// of a playlist. Its media: the two formats of "requested_formats" (the picture, then the sound:
// `url` and `audio_url`), else the format chosen, whose fields yt-dlp gives on the video itself.
// A format's "protocol" (else its address's): "http" and "https" as they are, "m3u8" and
// "m3u8_native" as "m3u8" (the address is the playlist), "http_dash_segments" as "fragments",
// one entry per fragment (its "url", or "fragment_base_url" joined with its "path"; and its
// "range" "first-last" when it names one); any other protocol is refused, named in the hint.
// A protocol entry is written only when the address's scheme does not tell it, codecs ("vcodec",
// "acodec", without "none") when known.
// Entries: author (uploader), title, length (duration), size (filesize, else filesize_approx; of
// both formats together), filename (the title made safe), fileext (ext), preview (thumbnail, when
// a web address), url, and referer, useragent and cookie from the formats' http_headers (the
// picture's first). error=1 with a hint when the text is not such an answer, names no format
// that can be fetched, or more than kMaxStreamFragments fragments for one.
TLookupRecord ReadYtDlpAnswer(std::string_view json);

}  // namespace tarnwick
