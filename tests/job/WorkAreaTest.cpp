// Two running copies share a work directory without touching each other's work files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "job/WorkArea.h"
#include "job/YouTubeDownloader.h"
#include "support/LookupService.h"
#include "support/TempFolder.h"
#include "support/TestData.h"
#include "JobHarness.h"

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

TEST_F(WorkAreaTest, SecondCopyWorksInAPrivateFolderRemovedAtItsEnd) {
    CatalogueEntry entry;
    entry.address = "http://www.youtube.com/watch?v=two";
    entry.preview = "preview";
    entry.media = PatternText(400000);
    // Slow enough that both transfers overlap.
    entry.extra = {{"rate", "1000000"}};
    LookupService service({entry});

    const std::string base = (base_ / "work").string();
    // A folder a killed copy left behind goes when the next first copy starts.
    const std::string abandoned = base + "/copy-killed";
    fs::create_directories(abandoned);
    std::ofstream(abandoned + "/video.flv") << "left over";
    auto first = std::make_unique<TWorkArea>(base);
    EXPECT_FALSE(fs::exists(abandoned));
    auto second = std::make_unique<TWorkArea>(base);
    EXPECT_FALSE(first->IsPrivate());
    EXPECT_EQ(first->Directory(), base);
    ASSERT_TRUE(second->IsPrivate());
    EXPECT_EQ(fs::path(second->Directory()).parent_path(), base);

    struct Run {
        explicit Run(TJobSettings s) : frontEnd(state), worker(std::move(s), state, frontEnd, owner) {}
        TComponent owner;
        TJobState state;
        TestFrontEnd frontEnd;
        TYouTubeDownloader worker;
    };
    std::vector<std::unique_ptr<Run>> runs;
    for (const TWorkArea* area : {first.get(), second.get()}) {
        TJobSettings s;
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

    const std::string privateFolder = second->Directory();
    second.reset();
    EXPECT_FALSE(fs::exists(privateFolder));
    EXPECT_TRUE(ReadWholeFile(fs::path(base) / "video.flv") == entry.media);
    // The lock goes with the first copy: the next one is the first again.
    first.reset();
    EXPECT_FALSE(TWorkArea(base).IsPrivate());
}


