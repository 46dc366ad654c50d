// Delivery into the save folder on one file system and across two, and when a stop comes first.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "job/Delivery.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::PatternText;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::TempFolder;

TEST(DeliverFile, AStopLeavesTheEarlierFileThenTheFileReplacesIt) {
    TempFolder save;
    TempFolder disk;
    TempFolder memory("/dev/shm");
    for (const TempFolder* work : {&disk, &memory}) {
        if (work->Path().empty()) continue;
        SCOPED_TRACE(work->Path());
        std::ofstream(*work / "video.avi") << PatternText(100000);
        std::ofstream(save / "clip.avi") << "earlier";
        const std::atomic<bool> stop{true};
        const TDeliveryOutcome outcome =
            DeliverFile(*work / "video.avi", save.Path(), "clip.avi", stop);
        EXPECT_FALSE(outcome.delivered);
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(ReadWholeFile(save / "clip.avi"), "earlier");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(save.Path()),
                                std::filesystem::directory_iterator()),
                  1);

        // Across file systems the bytes are copied.
        const std::atomic<bool> go{false};
        const TDeliveryOutcome done = DeliverFile(*work / "video.avi", save.Path(), "clip.avi", go);
        EXPECT_TRUE(done.delivered);
        EXPECT_EQ(done.linked, work == &disk);
        EXPECT_EQ(ReadWholeFile(save / "clip.avi"), PatternText(100000));
    }
}
