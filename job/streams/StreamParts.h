#pragma once

// What a streamed video is made of, as the playlist and manifest readers hand it to the fetcher:
// streams of one kind each, every stream an ordered list of fragments whose bytes, written one
// after the other, make the stream's file.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// What a stream holds: picture, sound, or both in one file.
enum class TStreamKind { Video, Audio, Both };

std::string_view StreamKindName(TStreamKind kind) noexcept;  // "video", "audio", "both"

// Bytes [offset, offset + length) of a file; length is never 0.
struct TByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// The AES-128 key a fragment is encrypted with; no address: the fragment is in the clear.
struct TFragmentKey {
    std::string address;
    std::array<std::uint8_t, 16> iv{};
};

// One piece of a stream: an absolute web address, the part of it when it is not all of it, and
// its key when it is encrypted.
struct TStreamFragment {
    std::string address;
    std::optional<TByteRange> range;
    TFragmentKey key;
};

// The plain-English reasons for refusing a stream that the readers share.
inline constexpr std::string_view kLiveStreamText =
    "This is a live stream; Tarnwick saves only whole videos.";
inline constexpr std::string_view kProtectedStreamText =
    "The video is protected (DRM) and cannot be saved.";

// Bounds on what one playlist or manifest may make the fetcher do.
inline constexpr std::size_t kMaxStreamTextBytes = 16u << 20;
inline constexpr std::size_t kMaxStreamFragments = 100000;
// No file of a stream reaches this far; a byte range past it is nonsense, not a large video.
inline constexpr std::uint64_t kMaxStreamByteOffset = std::uint64_t(1) << 40;

}  // namespace tarnwick
