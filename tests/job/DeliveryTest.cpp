// Delivery into the save folder on one file system and across two, and on file systems that lack
// RENAME_NOREPLACE or hard links (made to lack them): what the folder holds afterwards, byte for
// byte.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/ScopedFd.h"
#include "job/files/Delivery.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::PatternText;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::TempFolder;

namespace {

std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        contents[entry.path().filename().string()] = ReadWholeFile(entry.path());
    return contents;
}

}  // namespace

TEST(DeliverFile, NeverReplacesAFileLeavesNothingBehindAndClearsLeftovers) {
    const std::string video = PatternText(100000);
    // In every save folder: the user's files named almost like ours, and what killed deliveries
    // left, one of them held by a delivery still running elsewhere.
    const std::map<std::string, std::string> kept = {
        {"tarnwick-0123abcd.part", "u"}, {".tarnwick-0123abcd.part~", "u"},
        {".tarnwick-0123ABCD.part", "u"}, {".tarnwick-0123abc.part", "u"},
        {".tarnwick-00000002.part", "running"}};
    const struct {
        std::string name;
        std::map<std::string, std::string> before;
        std::string savedAs;  // empty: not delivered
        bool stop = false;
    } cases[] = {
        {"clip.avi", {{"clip.avi", "earlier"}, {"clip (2).avi", "second"}}, "clip (3).avi"},
        {"clip", {{"clip", "earlier"}}, "clip (2)"},
        // The work folder is the save folder: the work file's own name is taken.
        {"video.avi", {{"video.avi", video}}, "video (2).avi"},
        // A name the file system refuses only when the file is to take it, after the copy.
        {std::string(300, 'n') + ".avi", {{"clip.avi", "earlier"}}, ""},
        {"clip.avi", {{"clip.avi", "earlier"}}, "", true},
    };
    // Each way of taking the name, and a last step that fails on the file system that has
    // neither.
    const struct {
        const char* name;
        TFileSystemLacks lacks;
    } systems[] = {
        {"every call", {}},
        {"no RENAME_NOREPLACE", {.renameNoReplace = true}},
        {"no RENAME_NOREPLACE, no hard links", {.renameNoReplace = true, .hardLinks = true}},
        {"neither, and the rename fails", {true, true, true}},
    };
    TempFolder disk, memory("/dev/shm");
    for (const auto& system : systems) {
        for (const TempFolder* work : {&disk, &memory}) {
            if (work->Path().empty()) continue;
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(system.name) + " " + work->Path() + " " +
                             c.name.substr(0, 20));
                TempFolder save;
                auto expected = c.before;
                expected.insert(kept.begin(), kept.end());
                for (const auto& [name, bytes] : expected) std::ofstream(save / name) << bytes;
                std::ofstream(save / ".tarnwick-00000001.part") << "killed";
                ScopedFd running(::open((save / ".tarnwick-00000002.part").c_str(), O_RDONLY));
                ASSERT_EQ(::flock(running.Get(), LOCK_EX), 0);
                const bool inSave = work == &disk && c.before.contains("video.avi");
                const std::string source = (inSave ? save : *work) / "video.avi";
                std::ofstream(source) << video;
                SimulateFileSystemLacks(system.lacks);
                TIdAbortSignal stop;
                if (c.stop) stop.Abort();
                const TDeliveryOutcome outcome = DeliverFile(source, save.Path(), c.name, stop);
                SimulateFileSystemLacks({});
                const std::string savedAs = system.lacks.rename ? "" : c.savedAs;
                if (!savedAs.empty()) expected[savedAs] = video;
                EXPECT_EQ(outcome.delivered, !savedAs.empty()) << outcome.reason;
                EXPECT_EQ(outcome.stopped, c.stop);
                EXPECT_EQ(outcome.destination, savedAs.empty() ? "" : save / savedAs);
                EXPECT_EQ(outcome.linked,
                          outcome.delivered && work == &disk && !system.lacks.hardLinks);
                EXPECT_EQ(Contents(save.Path()), expected);
            }
        }
    }
}
