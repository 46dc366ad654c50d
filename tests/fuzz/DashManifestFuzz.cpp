// A DASH manifest as the stream fetcher reads it, with either HD setting.
//
// Whatever the input: the manifest is refused with a reason or gives one stream of both kinds,
// or a video and an audio stream, or one of either; each stream holds from one fragment to the
// bound, every address is an absolute web address and every byte range is within bounds; and
// the reading ends in time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "job/lookup/PageAddresses.h"
#include "job/streams/DashManifest.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto start = std::chrono::steady_clock::now();
    const TDashManifest manifest = ReadDashManifest(input, "https://h/dir/m.mpd", size % 2 == 0);
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    FUZZ_CHECK(manifest.refusal.empty() != manifest.streams.empty());
    FUZZ_CHECK(manifest.streams.size() <= 2);
    if (manifest.streams.size() == 2) {
        FUZZ_CHECK(manifest.streams[0].kind == TStreamKind::Video);
        FUZZ_CHECK(manifest.streams[1].kind == TStreamKind::Audio);
    }
    for (const TDashStream& stream : manifest.streams) {
        FUZZ_CHECK(!stream.fragments.empty() && stream.fragments.size() <= kMaxStreamFragments);
        for (const TStreamFragment& f : stream.fragments) {
            FUZZ_CHECK(IsWebAddress(f.address));
            if (f.range)
                FUZZ_CHECK(f.range->length > 0 &&
                           f.range->offset + f.range->length <= kMaxStreamByteOffset);
        }
    }
    return 0;
}
