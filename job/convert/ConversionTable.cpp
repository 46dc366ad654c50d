#include "job/convert/ConversionTable.h"

#include <array>
#include <utility>

#include "job/convert/ProcessRunner.h"

namespace tarnwick {

namespace {

// The work files' name before the extension: the download and the converter's output.
constexpr std::string_view kWorkFileStem = "video";

constexpr std::array<std::string_view, 8> kTargetExtensions = {"flv", "mov", "mp4", "mp4",
                                                               "3gp", "wmv", "avi", "mp3"};

// The options between the input and the output name, by format 1 to 7 and quality 0 to 3.
constexpr std::array<std::string_view, 28> kConverterOptions = {
    "-s 176x144 -r 20 -b:v 500k -ar 22050 -b:a 64k -ac 1",
    "-s 320x240 -qscale 15 -r 20 -b:v 500k -ar 22050 -b:a 64k -ac 1",
    "-s 320x240 -qscale 7 -r 24 -b:v 500k -ar 22050 -b:a 64k -ac 2",
    "-s 320x240 -qscale 1 -r 24 -b:v 500k -ar 22050 -b:a 64k -ac 2",
    "-vcodec mpeg4 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 96k -ac 2",
    "-vcodec mpeg4 -qscale 15 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 96k -ac 2",
    "-vcodec mpeg4 -qscale 7 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 128k -ac 2",
    "-vcodec mpeg4 -qscale 1 -s 640x480 -r 29 -b:v 1500k -ar 44100 -b:a 128k -ac 2",
    "-f psp -s 176x96 -r 14 -b:v 768k -ar 24000 -b:a 64k -ac 1",
    "-f psp -s 320x240 -qscale 15 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 1",
    "-f psp -s 368x208 -qscale 7 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 2",
    "-f psp -s 368x208 -qscale 1 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 2",
    // 3GP holds AMR or AAC audio only, and ffmpeg has no AMR encoder here.
    "-vcodec h263 -s 128x96 -r 10 -b:v 30k -acodec aac -ar 8000 -b:a 12k -ac 1",
    "-vcodec h263 -qscale 15 -s 176x144 -r 12 -b:v 30k -acodec aac -ar 8000 -b:a 12k -ac 1",
    "-vcodec h263 -qscale 7 -s 176x144 -r 15 -b:v 30k -acodec aac -ar 8000 -b:a 12k -ac 1",
    "-vcodec h263 -qscale 1 -s 352x288 -r 15 -b:v 30k -acodec aac -ar 8000 -b:a 12k -ac 1",
    "-s 320x240 -b:v 50k -ar 22050 -b:a 56k -ac 1",
    "-s 320x240 -qscale 15 -b:v 50k -ar 22050 -b:a 64k -ac 2",
    "-s 320x240 -qscale 7 -b:v 50k -ar 22050 -b:a 64k -ac 2",
    "-s 320x240 -qscale 1 -b:v 50k -ar 22050 -b:a 64k -ac 2",
    "-vcodec libxvid -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 1",
    "-vcodec libxvid -qscale 15 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2",
    "-vcodec libxvid -qscale 7 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2",
    "-vcodec libxvid -qscale 1 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2",
    "-ar 22050 -b:a 96k -ac 2",
    "-ar 44100 -b:a 128k -ac 2",
    "-ar 48000 -b:a 192k -ac 2",
    "-ar 48000 -b:a 256k -ac 2",
};

constexpr std::string_view kHighDefinitionOptions = "-vcodec libxvid -qscale 1";
constexpr std::int32_t kHighDefinitionFormat = 6;
constexpr std::int32_t kAudioOnlyFormat = 7;  // MP3: sound only

bool ValidFormat(std::int32_t format) { return format >= 1 && format <= 7; }

}  // namespace

std::string_view TargetExtension(std::int32_t format) {
    if (format < 0 || format > 7) return kTargetExtensions[0];
    return kTargetExtensions[static_cast<std::size_t>(format)];
}

std::string SourceFileName(std::string_view fileExtension) {
    return std::string(kWorkFileStem) + "." + std::string(fileExtension);
}

std::string ConvertedFileName(std::int32_t format, std::string_view fileExtension) {
    const std::string_view target = TargetExtension(format);
    const std::string stem(kWorkFileStem);
    if (target == fileExtension) return stem + "-converted." + std::string(target);
    return stem + "." + std::string(target);
}

bool IsHighDefinitionCase(std::string_view fileExtension, std::int32_t format) {
    return fileExtension == "mp4" && format == kHighDefinitionFormat;
}

std::vector<std::string> ConverterCommand(std::int32_t format, std::int32_t quality,
                                          const std::vector<std::string>& inputs,
                                          std::string_view fileExtension) {
    if (!ValidFormat(format) || quality < 0 || quality > 3 || inputs.empty()) return {};
    const std::string_view options =
        IsHighDefinitionCase(fileExtension, format)
            ? kHighDefinitionOptions
            : kConverterOptions[static_cast<std::size_t>(4 * (format - 1) + quality)];
    std::vector<std::string> command{std::string(kConverterProgramName)};
    for (const std::string& input : inputs) {
        command.emplace_back("-i");
        command.push_back(input);
    }
    // Left to itself the converter takes the "best" picture and sound of all inputs together,
    // which may be a video input's own sound or a cover picture of the sound's input.
    if (inputs.size() > 1) {
        if (format != kAudioOnlyFormat) command.insert(command.end(), {"-map", "0:v:0?"});
        command.insert(command.end(), {"-map", "1:a:0?"});
    }
    // The table's own options are words without blanks of their own; no name ever goes through
    // this split.
    for (std::string& word : SplitCommandLine(options)) command.push_back(std::move(word));
    command.push_back(ConvertedFileName(format, fileExtension));
    return command;
}

}  // namespace tarnwick
