#pragma once

// Putting a video's streams together without re-encoding them: the picture and the sound fetched
// apart (or one stream put together from fragments) become one file, of the container that holds
// their codecs as they are: MP4 for H.264, H.265 or AV1 with AAC, MP3 or AC-3; WebM for VP8, VP9
// or AV1 with Vorbis or Opus; Matroska for anything else. The converter copies every picture and
// sound stream of every input (cover pictures, subtitles and data streams stay behind).
//
// A merge, like a conversion, counts only when the result covers the video: each stream it takes
// must last at least kLeastCoverage of the longest one, so a sound cut short is no saved video.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "job/convert/MediaProbe.h"

namespace tarnwick {

// A conversion or a merge counts only when its output covers this share of the input's duration.
inline constexpr double kLeastCoverage = 0.95;

// One stream the converter reads: its input's position among the inputs, and the stream.
struct TMergeStream {
    std::size_t input = 0;
    TProbedStream stream;
    bool adts = false;  // AAC in ADTS frames (from MPEG-TS or a bare .aac file)
};

// Every picture and sound stream of every input, in input order, but cover pictures.
std::vector<TMergeStream> MergeStreams(const std::vector<TProbedInput>& inputs);
// What a conversion from several inputs reads: the first picture of the first input and the first
// sound of the second (see ConverterCommand).
std::vector<TMergeStream> ConversionStreams(const std::vector<TProbedInput>& inputs);

// "mp4", "webm" or "mkv" for the streams' codecs (also the delivered file's extension).
std::string_view MergeContainer(const std::vector<TMergeStream>& streams);

// The work file a merge writes into container: "video-merged." + container.
std::string MergedFileName(std::string_view container);

// The converter's arguments ("ffmpeg" first) that copy streams from inputs (work files,
// relative to the work directory) into output, of container: one map per stream, ADTS AAC made
// fit for MP4.
std::vector<std::string> MergeCommand(const std::vector<std::string>& inputs,
                                      const std::vector<TMergeStream>& streams,
                                      std::string_view container, const std::string& output);

// The longest of the streams' lengths in seconds (0: none known).
double LongestSeconds(const std::vector<TMergeStream>& streams);
// Why the streams make no whole video ("the audio stream lasts only 2.0 of the video's 4.0
// seconds"); empty when each known length is at least kLeastCoverage of the longest.
std::string ShortStreamReason(const std::vector<TMergeStream>& streams);

}  // namespace tarnwick
