// The conversion table's command lines: every entry, and the work files each reads and writes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/convert/ConversionTable.h"

using namespace tarnwick;

namespace {

struct CommandCase {
    std::int32_t format;
    std::int32_t quality;
    std::string extension;
    std::string command;
};

// The converter's arguments for the download video.<extension>, joined by blanks.
std::string BuildConverterCommand(std::int32_t format, std::int32_t quality,
                                  const std::string& extension) {
    std::string command;
    for (const std::string& argument :
         ConverterCommand(format, quality, {SourceFileName(extension)}, extension))
        command += (command.empty() ? "" : " ") + argument;
    return command;
}

}  // namespace

TEST(BuildConverterCommand, EveryEntryOfTheTable) {
    struct EntryCase {
        std::int32_t format;
        std::int32_t quality;
        std::string options;
    };
    const EntryCase cases[] = {
        {1, 0, "-s 176x144 -r 20 -b:v 500k -ar 22050 -b:a 64k -ac 1"},
        {1, 1, "-s 320x240 -qscale 15 -r 20 -b:v 500k -ar 22050 -b:a 64k -ac 1"},
        {1, 2, "-s 320x240 -qscale 7 -r 24 -b:v 500k -ar 22050 -b:a 64k -ac 2"},
        {1, 3, "-s 320x240 -qscale 1 -r 24 -b:v 500k -ar 22050 -b:a 64k -ac 2"},
        {2, 0, "-vcodec mpeg4 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 96k -ac 2"},
        {2, 1, "-vcodec mpeg4 -qscale 15 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 96k -ac 2"},
        {2, 2, "-vcodec mpeg4 -qscale 7 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 128k -ac 2"},
        {2, 3, "-vcodec mpeg4 -qscale 1 -s 640x480 -r 29 -b:v 1500k -ar 44100 -b:a 128k -ac 2"},
        {3, 0, "-f psp -s 176x96 -r 14 -b:v 768k -ar 24000 -b:a 64k -ac 1"},
        {3, 1, "-f psp -s 320x240 -qscale 15 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 1"},
        {3, 2, "-f psp -s 368x208 -qscale 7 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 2"},
        {3, 3, "-f psp -s 368x208 -qscale 1 -r 29 -b:v 768k -ar 24000 -b:a 64k -ac 2"},
        {4, 0, "-vcodec h263 -s 128x96 -r 10 -b:v 30k -acodec aac -ar 8000 -b:a 12k -ac 1"},
        {4, 1, "-vcodec h263 -qscale 15 -s 176x144 -r 12 -b:v 30k"
         " -acodec aac -ar 8000 -b:a 12k -ac 1"},
        {4, 2, "-vcodec h263 -qscale 7 -s 176x144 -r 15 -b:v 30k"
         " -acodec aac -ar 8000 -b:a 12k -ac 1"},
        {4, 3, "-vcodec h263 -qscale 1 -s 352x288 -r 15 -b:v 30k"
         " -acodec aac -ar 8000 -b:a 12k -ac 1"},
        {5, 0, "-s 320x240 -b:v 50k -ar 22050 -b:a 56k -ac 1"},
        {5, 1, "-s 320x240 -qscale 15 -b:v 50k -ar 22050 -b:a 64k -ac 2"},
        {5, 2, "-s 320x240 -qscale 7 -b:v 50k -ar 22050 -b:a 64k -ac 2"},
        {5, 3, "-s 320x240 -qscale 1 -b:v 50k -ar 22050 -b:a 64k -ac 2"},
        {6, 0, "-vcodec libxvid -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 1"},
        {6, 1, "-vcodec libxvid -qscale 15 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2"},
        {6, 2, "-vcodec libxvid -qscale 7 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2"},
        {6, 3, "-vcodec libxvid -qscale 1 -s 320x240 -b:v 200k -ar 22050 -b:a 64k -ac 2"},
        {7, 0, "-ar 22050 -b:a 96k -ac 2"},
        {7, 1, "-ar 44100 -b:a 128k -ac 2"},
        {7, 2, "-ar 48000 -b:a 192k -ac 2"},
        {7, 3, "-ar 48000 -b:a 256k -ac 2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildConverterCommand(c.format, c.quality, "flv"),
                  "ffmpeg -i video.flv " + c.options + " video." +
                      std::string(TargetExtension(c.format)))
            << "format " << c.format << " quality " << c.quality;
    }
}

TEST(BuildConverterCommand, ReadsTheDownloadAndWritesBesideIt) {
    const CommandCase cases[] = {
        // The high-definition case, and only that one, runs the high-definition command.
        {6, 3, "mp4", "ffmpeg -i video.mp4 -vcodec libxvid -qscale 1 video.avi"},
        {6, 3, "MP4",
         "ffmpeg -i video.MP4 -vcodec libxvid -qscale 1 -s 320x240 -b:v 200k -ar 22050 -b:a 64k "
         "-ac 2 video.avi"},
        {7, 0, "mp4", "ffmpeg -i video.mp4 -ar 22050 -b:a 96k -ac 2 video.mp3"},
        // The output would be the input itself.
        {2, 0, "mp4",
         "ffmpeg -i video.mp4 -vcodec mpeg4 -s 480x320 -r 29 -b:v 900k -ar 44100 -b:a 96k -ac 2 "
         "video-converted.mp4"},
        {5, 1, "wmv",
         "ffmpeg -i video.wmv -s 320x240 -qscale 15 -b:v 50k -ar 22050 -b:a 64k -ac 2 "
         "video-converted.wmv"},
        {0, 0, "flv", ""},
        {1, 4, "flv", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildConverterCommand(c.format, c.quality, c.extension), c.command)
            << "format " << c.format << " quality " << c.quality << " ." << c.extension;
    }
}

// Every input is one argument, blanks and all, each after its own "-i"; the sound is the second's.
TEST(BuildConverterCommand, EachInputIsOneArgument) {
    EXPECT_EQ(ConverterCommand(7, 0, {"video one.mp4", "-audio.m4a"}, "mp4"),
              (std::vector<std::string>{"ffmpeg", "-i", "video one.mp4", "-i", "-audio.m4a",
                                        "-map", "1:a:0?", "-ar", "22050", "-b:a", "96k", "-ac",
                                        "2", "video.mp3"}));
    EXPECT_TRUE(ConverterCommand(7, 0, {}, "mp4").empty());
}
