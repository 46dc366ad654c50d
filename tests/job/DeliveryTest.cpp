// Delivery into the save folder on one file system and across two: what the folder holds
// afterwards, byte for byte.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/ScopedFd.h"
#include "job/Delivery.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::PatternText;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::TempFolder;

namespace {

// Every file of the folder by name, with its bytes (a symbolic link: "-> target").
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        contents[name] = entry.is_symlink() ? "-> " + std::filesystem::read_symlink(entry).string()
                                            : ReadWholeFile(entry.path());
    }
    return contents;
}

}  // namespace

TEST(DeliverFile, NeverReplacesAFileAndLeavesNothingBehindWhenItFails) {
    const std::string video = PatternText(100000);
    const std::string longName = std::string(300, 'n') + ".avi";
    struct DeliveryCase {
        std::string name;
        std::map<std::string, std::string> before;
        bool delivered;
        std::string savedAs;  // or part of the reason
    };
    const DeliveryCase cases[] = {
        {"clip.avi", {}, true, "clip.avi"},
        {"clip.avi", {{"clip.avi", "earlier"}, {"clip (2).avi", "second"}}, true, "clip (3).avi"},
        {"clip", {{"clip", "earlier"}}, true, "clip (2)"},
        {"my.clip.avi", {{"my.clip.avi", "earlier"}}, true, "my.clip (2).avi"},
        // The work file is in the save folder under the destination's own name.
        {"video.avi", {{"video.avi", video}}, true, "video (2).avi"},
        // The name is refused only when the file is to take it, after the copy.
        {longName, {{"clip.avi", "earlier"}}, false, "File name too long"},
    };
    TempFolder disk;
    TempFolder memory("/dev/shm");
    for (const TempFolder* work : {&disk, &memory}) {
        if (work->Path().empty()) continue;
        for (const auto& c : cases) {
            SCOPED_TRACE(work->Path() + " " + c.name.substr(0, 20));
            TempFolder save;
            for (const auto& [name, bytes] : c.before) std::ofstream(save / name) << bytes;
            std::string source = *work / "video.avi";
            if (c.before.contains("video.avi") && work == &disk) source = save / "video.avi";
            std::ofstream(source) << video;
            const std::atomic<bool> go{false};
            const TDeliveryOutcome outcome = DeliverFile(source, save.Path(), c.name, go);
            std::map<std::string, std::string> expected = c.before;
            EXPECT_EQ(outcome.delivered, c.delivered);
            if (c.delivered) {
                expected[c.savedAs] = video;
                EXPECT_EQ(outcome.destination, save / c.savedAs);
                EXPECT_EQ(outcome.linked, work == &disk);
            } else {
                EXPECT_NE(outcome.reason.find(c.savedAs), std::string::npos) << outcome.reason;
            }
            EXPECT_EQ(Contents(save.Path()), expected);
        }
    }
}

TEST(DeliverFile, AStopLeavesTheFolderAsItWasAndLeftoversGoUnlessHeld) {
    TempFolder work, save;
    std::ofstream(work / "video.avi") << PatternText(1000);
    // Left by deliveries that were killed, one of them still running elsewhere (it holds the
    // lock), beside the user's files that only look alike.
    const std::map<std::string, std::string> theUsers = {
        {"clip.avi", "earlier"},
        {"tarnwick-0123abcd.part", "u1"},
        {".tarnwick-0123abcd.part.keep", "u2"},
        {".tarnwick-0123ABCD.part", "u3"},
        {".tarnwick-0123abc.part", "u4"},
    };
    for (const auto& [name, bytes] : theUsers) std::ofstream(save / name) << bytes;
    std::ofstream(save / ".tarnwick-00000001.part") << "killed";
    std::ofstream(save / ".tarnwick-00000002.part") << "running";
    std::filesystem::create_symlink(work / "video.avi", save / ".tarnwick-00000003.part");
    ScopedFd running(::open((save / ".tarnwick-00000002.part").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(running.Get(), LOCK_EX), 0);

    std::map<std::string, std::string> expected = theUsers;
    expected[".tarnwick-00000002.part"] = "running";
    expected[".tarnwick-00000003.part"] = "-> " + work / "video.avi";
    const std::atomic<bool> stop{true};
    const TDeliveryOutcome stopped = DeliverFile(work / "video.avi", save.Path(), "clip.avi", stop);
    EXPECT_FALSE(stopped.delivered);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(Contents(save.Path()), expected);

    running.Close();
    expected.erase(".tarnwick-00000002.part");
    expected["clip (2).avi"] = PatternText(1000);
    const std::atomic<bool> go{false};
    EXPECT_TRUE(DeliverFile(work / "video.avi", save.Path(), "clip.avi", go).delivered);
    EXPECT_EQ(Contents(save.Path()), expected);
}
