// An HLS playlist as the stream fetcher reads it, and the choice of its variant and audio.
//
// Whatever the input: a playlist is refused with a reason or read whole; a media playlist names
// at most the fragment bound, every address is an absolute web address, every byte range is
// within bounds, every fragment lasts a positive time and the durations add up; a master
// playlist's choice is one of its variants.

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "job/lookup/PageAddresses.h"
#include "job/streams/HlsPlaylist.h"
#include "job/streams/StreamFormat.h"

using namespace tarnwick;

namespace {

void CheckMedia(const THlsPlaylist& playlist) {
    FUZZ_CHECK(!playlist.fragments.empty() && playlist.fragments.size() <= kMaxStreamFragments);
    double seconds = 0;
    for (const THlsFragment& f : playlist.fragments) {
        FUZZ_CHECK(IsWebAddress(f.part.address));
        if (f.part.range)
            FUZZ_CHECK(f.part.range->length > 0 &&
                       f.part.range->offset + f.part.range->length <= kMaxStreamByteOffset);
        FUZZ_CHECK(f.init ? f.seconds == 0 : f.seconds > 0);
        FUZZ_CHECK(f.key.address.empty() || IsWebAddress(f.key.address));
        seconds += f.seconds;
    }
    FUZZ_CHECK(std::fabs(seconds - playlist.seconds) < 1e-6 * (1 + seconds));
}

void CheckMaster(const THlsPlaylist& playlist) {
    FUZZ_CHECK(!playlist.variants.empty() && playlist.fragments.empty());
    for (const THlsVariant& variant : playlist.variants) FUZZ_CHECK(IsWebAddress(variant.address));
    for (const THlsRendition& rendition : playlist.renditions)
        FUZZ_CHECK(rendition.address.empty() || IsWebAddress(rendition.address));
    for (const bool hd : {false, true}) {
        const std::optional<THlsChoice> choice = ChooseHlsStreams(playlist, hd);
        FUZZ_CHECK(choice.has_value());
        bool found = false;
        for (const THlsVariant& variant : playlist.variants)
            found = found || variant.address == choice->video.address;
        FUZZ_CHECK(found);
        FUZZ_CHECK(!choice->audio || (IsWebAddress(choice->audio->address) &&
                                      choice->audio->groupId == choice->video.audioGroup));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto start = std::chrono::steady_clock::now();
    const THlsPlaylist playlist = ReadHlsPlaylist(input, "http://h/dir/list.m3u8?token=1");
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    switch (playlist.kind) {
        case THlsPlaylist::TKind::Refused:
            FUZZ_CHECK(!playlist.refusal.empty());
            FUZZ_CHECK(playlist.fragments.empty() && playlist.variants.empty());
            FUZZ_CHECK(!ChooseHlsStreams(playlist, true));
            break;
        case THlsPlaylist::TKind::Media:
            FUZZ_CHECK(playlist.refusal.empty());
            CheckMedia(playlist);
            break;
        case THlsPlaylist::TKind::Master:
            FUZZ_CHECK(playlist.refusal.empty());
            CheckMaster(playlist);
            break;
    }
    if (playlist.kind != THlsPlaylist::TKind::Refused)
        FUZZ_CHECK(StreamFormatOf(input) == TStreamFormat::Hls);
    return 0;
}
