// Two running copies share a work directory without touching each other's work files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "job/WorkArea.h"
#include "job/YouTubeDownloader.h"
#include "support/LookupService.h"
#include "support/TestData.h"
#include "JobHarness.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

class WorkAreaTest : public ::testing::Test {
protected:
    WorkAreaTest() {
        char pattern[] = "/tmp/tarnwick-area-XXXXXX";
        if (::mkdtemp(pattern)) base_ = pattern;
    }
    ~WorkAreaTest() override {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    fs::path base_;
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

    const std::string base = (base_ / "work").string();  // made by the first copy
    TWorkArea first(base);
    auto second = std::make_unique<TWorkArea>(base);
    EXPECT_FALSE(first.IsPrivate());
    EXPECT_EQ(first.Directory(), base);
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
    for (const TWorkArea* area : {&first, second.get()}) {
        TJobSettings s;
        s.pageAddress = entry.address;
        s.workDirectory = area->Directory();
        s.lookup = {"127.0.0.1", service.PortText()};
        runs.push_back(std::make_unique<Run>(s));
    }
    for (auto& run : runs) run->worker.Start();
    for (auto& run : runs) run->worker.Join();
    for (auto& run : runs) EXPECT_EQ(run->state.Status(), jsCompleted) << run->state.ErrorText();
    EXPECT_TRUE(ReadWholeFile(fs::path(first.Directory()) / "video.flv") == entry.media);
    EXPECT_TRUE(ReadWholeFile(fs::path(second->Directory()) / "video.flv") == entry.media);

    const std::string privateFolder = second->Directory();
    second.reset();
    EXPECT_FALSE(fs::exists(privateFolder));
    EXPECT_TRUE(ReadWholeFile(fs::path(base) / "video.flv") == entry.media);
}

TEST_F(WorkAreaTest, AbandonedPrivateFolderGoesWithTheNextFirstCopy) {
    const std::string base = base_.string();
    const std::string abandoned = base + "/copy-killed";
    fs::create_directories(abandoned);
    { std::ofstream(abandoned + "/video.flv") << "left over"; }
    {
        TWorkArea first(base);
        EXPECT_FALSE(first.IsPrivate());
        EXPECT_FALSE(fs::exists(abandoned));
    }
    // Released at its end: the next copy is the first again.
    TWorkArea next(base);
    EXPECT_FALSE(next.IsPrivate());
}
