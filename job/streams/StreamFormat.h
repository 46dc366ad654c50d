#pragma once

// Tells a streaming playlist or manifest by its content, for answers whose Content-Type does not
// say (audio/mpegurl, application/octet-stream, text/plain).
//
// A plain function over the start of a body: any thread; nothing throws.

#include <string_view>

namespace tarnwick {

enum class TStreamFormat { None, Hls, Dash };

// Hls when the first line is "#EXTM3U" (after a byte order mark); Dash when the root element is
// MPD (with or without a namespace prefix; an XML declaration, comments and blanks may come
// first). Only the first 64 KiB of head are looked at.
TStreamFormat StreamFormatOf(std::string_view head) noexcept;

}  // namespace tarnwick
