#include "job/streams/StreamChoice.h"

#include <array>
#include <tuple>

#include "core/StrUtils.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

std::string_view StreamKindName(TStreamKind kind) noexcept {
    switch (kind) {
        case TStreamKind::Video: return "video";
        case TStreamKind::Audio: return "audio";
        case TStreamKind::Both: return "both";
    }
    return "both";
}

namespace {

auto SizeKey(const TStreamQuality& q) { return std::tuple(q.height, q.width, q.bandwidth); }

// The codec families by their RFC 6381 prefix.
constexpr std::array kVideoCodecs{"avc1", "avc3", "hvc1", "hev1", "dvh1", "dvhe",  "vp8",
                                  "vp08", "vp9",  "vp09", "av01", "mp4v", "theora"};
constexpr std::array kAudioCodecs{"mp4a", "ac-3", "ec-3", "ac-4", "opus", "vorbis",
                                  "flac", "mp3",  "alac", "dtsc", "dtse", "dtsh"};

template <std::size_t N>
bool HasPrefix(const std::array<const char*, N>& prefixes, std::string_view codec) {
    for (const char* prefix : prefixes)
        if (StartsText(prefix, codec)) return true;
    return false;
}

}  // namespace

std::size_t ChooseQuality(std::span<const TStreamQuality> qualities, bool hd) {
    std::size_t best = qualities.size();
    if (!hd) {
        for (std::size_t i = 0; i < qualities.size(); ++i)
            if (qualities[i].height <= kStandardLines &&
                (best == qualities.size() || SizeKey(qualities[i]) > SizeKey(qualities[best])))
                best = i;
        if (best < qualities.size()) return best;
        best = 0;
        for (std::size_t i = 1; i < qualities.size(); ++i)
            if (SizeKey(qualities[i]) < SizeKey(qualities[best])) best = i;
        return best;
    }
    best = 0;
    for (std::size_t i = 1; i < qualities.size(); ++i)
        if (SizeKey(qualities[i]) > SizeKey(qualities[best])) best = i;
    return best;
}

TCodecKinds CodecKindsOf(std::string_view codecs) {
    TCodecKinds kinds;
    while (!codecs.empty()) {
        const std::size_t comma = codecs.find(',');
        const std::string codec = Trim(codecs.substr(0, comma));
        if (HasPrefix(kVideoCodecs, codec)) kinds.video = true;
        if (HasPrefix(kAudioCodecs, codec)) kinds.audio = true;
        codecs = comma == std::string_view::npos ? std::string_view() : codecs.substr(comma + 1);
    }
    return kinds;
}

}  // namespace tarnwick
