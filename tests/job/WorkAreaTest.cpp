// Two running copies share a work directory without touching each other's work files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "JobHarness.h"
#include "job/files/WorkArea.h"
#include "job/session/YouTubeDownloader.h"
#include "support/LookupService.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

class WorkAreaTest : public ::testing::Test {
protected:
    TempFolder folder_;
    fs::path base_{folder_.Path()};
};

}  // namespace

TEST_F(WorkAreaTest, EachCopyWorksInAPrivateFolderAndTouchesNothingOfTheUsers) {
    CatalogueEntry entry;
    entry.address = "http://www.youtube.com/watch?v=two";
    entry.preview = "preview";
    entry.media = PatternText(400000);
    // Slow enough that both transfers overlap.
    entry.extra = {{"rate", "1000000"}};
    LookupService service({entry});

    const fs::path base = base_ / "work";
    // The user's own files beside the program, named like ours.
    fs::create_directories(base / "copy-of-notes");
    std::ofstream(base / "copy-of-notes" / "notes.txt") << "notes";
    std::ofstream(base / "video.flv") << "the user's video";
    std::ofstream(base / "default.jpg") << "the user's picture";
    // A folder named like ours but never marked, and one a killed copy left (marked, unlocked).
    fs::create_directories(base / ".tarnwick-work-unmark");
    std::ofstream(base / ".tarnwick-work-unmark" / "video.flv") << "kept";
    fs::create_directories(base / ".tarnwick-work-killed");
    std::ofstream(base / ".tarnwick-work-killed" / ".tarnwick-work.lock");
    std::ofstream(base / ".tarnwick-work-killed" / "video.flv") << "left over";
    const auto userFiles = [&] {
        return ReadWholeFile(base / "copy-of-notes" / "notes.txt") + "|" +
               ReadWholeFile(base / "video.flv") + "|" + ReadWholeFile(base / "default.jpg") +
               "|" + ReadWholeFile(base / ".tarnwick-work-unmark" / "video.flv");
    };
    const std::string before = userFiles();

    auto first = std::make_unique<TWorkArea>(base.string());
    EXPECT_FALSE(fs::exists(base / ".tarnwick-work-killed"));
    auto second = std::make_unique<TWorkArea>(base.string());
    for (const TWorkArea* area : {first.get(), second.get()}) {
        EXPECT_EQ(fs::path(area->Directory()).parent_path(), base);
        EXPECT_TRUE(fs::is_directory(area->Directory()));
    }
    EXPECT_NE(first->Directory(), second->Directory());

    struct Run {
        explicit Run(TJobRequest s) : frontEnd(state), worker(std::move(s), state, frontEnd, owner) {}
        TComponent owner;
        TJobState state;
        TestFrontEnd frontEnd;
        TYouTubeDownloader worker;
    };
    std::vector<std::unique_ptr<Run>> runs;
    for (const TWorkArea* area : {first.get(), second.get()}) {
        TJobRequest s;
        s.pageAddress = entry.address;
        s.workDirectory = area->Directory();
        s.lookup = {"127.0.0.1", service.PortText()};
        runs.push_back(std::make_unique<Run>(s));
    }
    for (auto& run : runs) run->worker.Start();
    for (auto& run : runs) run->worker.Join();
    for (auto& run : runs) EXPECT_EQ(run->state.Status(), jsCompleted) << run->state.ErrorText();
    EXPECT_TRUE(ReadWholeFile(fs::path(first->Directory()) / "video.flv") == entry.media);
    EXPECT_TRUE(ReadWholeFile(fs::path(second->Directory()) / "video.flv") == entry.media);

    // A running copy's folder is never taken for abandoned by a third copy that starts.
    TWorkArea(base.string());
    EXPECT_TRUE(fs::exists(fs::path(first->Directory()) / "video.flv"));
    // Its clean-up empties only its own private folder.
    first->ClearWorkFiles();
    EXPECT_FALSE(fs::exists(fs::path(first->Directory()) / "video.flv"));
    EXPECT_FALSE(fs::exists(fs::path(first->Directory()) / "default.jpg"));
    EXPECT_TRUE(fs::exists(fs::path(second->Directory()) / "video.flv"));

    const std::string firstFolder = first->Directory();
    const std::string secondFolder = second->Directory();
    first.reset();
    second.reset();
    EXPECT_FALSE(fs::exists(firstFolder));
    EXPECT_FALSE(fs::exists(secondFolder));
    EXPECT_EQ(userFiles(), before);
}
