// The conversion table's command lines and the clean-up of the work directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "job/ConversionTable.h"
#include "support/TempFolder.h"

using namespace tarnwick;
using tarnwick::testing::TempFolder;

namespace {

struct CommandCase {
    std::int32_t format;
    std::int32_t quality;
    std::string extension;
    std::string command;
};

}  // namespace

TEST(BuildConverterCommand, ReadsTheDownloadAndWritesBesideIt) {
    const CommandCase cases[] = {
        {6, 2, "flv",
         "ffmpeg -i video.flv -vcodec libxvid -qscale 7 -s 320x240 -b:v 200k -ar 22050 -b:a 64k "
         "-ac 2 video.avi"},
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

TEST(ClearTemporaryFiles, RemovesEveryMediaFileAndTheConverterOutputOnly) {
    TempFolder work;
    std::set<std::string> kept = {"default.jpg", "video.txt", "clip.flv", "video-converted.ogg"};
    for (const auto& name : kept) std::ofstream(work / name) << "x";
    for (const auto extension : kTemporaryExtensions) {
        std::ofstream(work / ("video." + std::string(extension))) << "x";
        std::ofstream(work / ("video-converted." + std::string(extension))) << "x";
    }
    ClearTemporaryFiles(work.Path());
    ClearTemporaryFiles(work.Path());  // nothing left to remove is no failure
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(work.Path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, kept);
}
