#include "job/convert/StreamMerge.h"

#include <algorithm>
#include <array>

#include "core/StrUtils.h"
#include "job/convert/ConversionTable.h"

namespace tarnwick {

namespace {

struct TContainer {
    std::string_view extension;
    std::string_view muxer;  // the converter's name for it
    std::array<std::string_view, 3> video;
    std::array<std::string_view, 3> audio;
};

// In the order they are tried; Matroska, last, takes anything.
constexpr std::array<TContainer, 2> kFittingContainers = {{
    {"mp4", "mp4", {"h264", "hevc", "av1"}, {"aac", "mp3", "ac3"}},
    {"webm", "webm", {"vp8", "vp9", "av1"}, {"vorbis", "opus", ""}},
}};
constexpr TContainer kAnyContainer = {"mkv", "matroska", {}, {}};

constexpr const char* kShortStreamReason =
    "the %s stream lasts only %.1f of the video's %.1f seconds";

bool IsPicture(const TProbedStream& stream) {
    return stream.type == "video" && !stream.attachedPicture;
}
bool IsSound(const TProbedStream& stream) { return stream.type == "audio"; }

bool Holds(const std::array<std::string_view, 3>& codecs, const std::string& codec) {
    return !codec.empty() && std::find(codecs.begin(), codecs.end(), codec) != codecs.end();
}

bool Fits(const TContainer& container, const std::vector<TMergeStream>& streams) {
    return std::all_of(streams.begin(), streams.end(), [&](const TMergeStream& merged) {
        const TProbedStream& stream = merged.stream;
        return IsPicture(stream) ? Holds(container.video, stream.codec)
                                 : Holds(container.audio, stream.codec);
    });
}

const TContainer& ContainerFor(const std::vector<TMergeStream>& streams) {
    for (const TContainer& container : kFittingContainers)
        if (Fits(container, streams)) return container;
    return kAnyContainer;
}

TMergeStream Taken(std::size_t input, const TProbedInput& probed, const TProbedStream& stream) {
    const bool adtsContainer = probed.container == "mpegts" || probed.container == "aac";
    return {input, stream, stream.codec == "aac" && adtsContainer};
}

}  // namespace

std::vector<TMergeStream> MergeStreams(const std::vector<TProbedInput>& inputs) {
    std::vector<TMergeStream> streams;
    for (std::size_t input = 0; input < inputs.size(); ++input)
        for (const TProbedStream& stream : inputs[input].streams)
            if (IsPicture(stream) || IsSound(stream))
                streams.push_back(Taken(input, inputs[input], stream));
    return streams;
}

std::vector<TMergeStream> ConversionStreams(const std::vector<TProbedInput>& inputs) {
    std::vector<TMergeStream> streams;
    const auto takeFirst = [&](std::size_t input, bool (*wanted)(const TProbedStream&)) {
        if (input >= inputs.size()) return;
        const std::vector<TProbedStream>& all = inputs[input].streams;
        const auto found = std::find_if(all.begin(), all.end(), wanted);
        if (found != all.end()) streams.push_back(Taken(input, inputs[input], *found));
    };
    takeFirst(0, IsPicture);
    takeFirst(1, IsSound);
    return streams;
}

std::string_view MergeContainer(const std::vector<TMergeStream>& streams) {
    return ContainerFor(streams).extension;
}

std::string MergedFileName(std::string_view container) {
    return "video-merged." + std::string(container);
}

std::vector<std::string> MergeCommand(const std::vector<std::string>& inputs,
                                      const std::vector<TMergeStream>& streams,
                                      std::string_view container, const std::string& output) {
    std::vector<std::string> command{std::string(kConverterProgramName)};
    for (const std::string& input : inputs) {
        command.emplace_back("-i");
        command.push_back(input);
    }
    for (const TMergeStream& merged : streams) {
        command.emplace_back("-map");
        command.push_back(std::to_string(merged.input) + ":" +
                          std::to_string(merged.stream.index));
    }
    command.insert(command.end(), {"-c", "copy"});
    // ADTS headers are MPEG-TS's framing; MP4 and Matroska keep the codec's setup once instead.
    for (std::size_t out = 0; out < streams.size(); ++out)
        if (streams[out].adts)
            command.insert(command.end(), {"-bsf:" + std::to_string(out), "aac_adtstoasc"});
    const TContainer* chosen = &kAnyContainer;
    for (const TContainer& fitting : kFittingContainers)
        if (fitting.extension == container) chosen = &fitting;
    command.insert(command.end(), {"-f", std::string(chosen->muxer), output});
    return command;
}

double LongestSeconds(const std::vector<TMergeStream>& streams) {
    double longest = 0;
    for (const TMergeStream& merged : streams) longest = std::max(longest, merged.stream.seconds);
    return longest;
}

std::string ShortStreamReason(const std::vector<TMergeStream>& streams) {
    const double longest = LongestSeconds(streams);
    for (const TMergeStream& merged : streams) {
        const double seconds = merged.stream.seconds;
        if (seconds > 0 && seconds < kLeastCoverage * longest)
            return Format(kShortStreamReason, merged.stream.type.c_str(), seconds, longest);
    }
    return {};
}

}  // namespace tarnwick
