#pragma once

// The rules that pick one rendering of a video among several, shared by HLS and DASH: the HD
// setting decides the picture size, and the codec names tell picture from sound.
//
// Plain functions: any thread; nothing throws but std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarnwick {

// The largest picture that counts as not HD.
inline constexpr int kStandardLines = 480;

// What the choice looks at in one rendering; 0 for what is not known.
struct TStreamQuality {
    int width = 0;
    int height = 0;
    std::int64_t bandwidth = 0;
};

// The index of the rendering to take (qualities must not be empty). HD on: the most lines, then
// the widest, then the highest bandwidth. HD off: the best of those with at most 480 lines (an
// unknown size counts as the fewest lines), else the smallest and then the lowest bandwidth.
// Ties go to the first.
std::size_t ChooseQuality(std::span<const TStreamQuality> qualities, bool hd);

// What a codecs list ("avc1.4d401f,mp4a.40.2") names: a picture codec, a sound codec.
struct TCodecKinds {
    bool video = false;
    bool audio = false;
};
TCodecKinds CodecKindsOf(std::string_view codecs);

}  // namespace tarnwick
