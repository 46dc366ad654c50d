// Closing the window in the middle of a job ends the program promptly and leaves the save folder
// as it was: the real window runs as a child process (app_window_child).
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "JobSamples.h"
#include "support/ChildProcess.h"
#include "support/LookupService.h"
#include "support/LoopbackPeer.h"
#include "support/TestData.h"

using namespace tarnwick::testing;
namespace fs = std::filesystem;

class WindowClose : public ::testing::TestWithParam<const char*> {};

TEST_P(WindowClose, EndsTheProgramAndLeavesTheSaveFolderClean) {
    const char* moment = GetParam();
    ASSERT_FALSE(Samples().longFlv.empty());
    CatalogueEntry entry;
    entry.address = "https://www.youtube.com/watch?v=closing";
    entry.filename = "clip";
    entry.media = Samples().longFlv;
    if (std::string(moment) == "transfer") entry.extra["rate"] = "200000";
    LookupService service({entry});
    // For the lookup: a service that takes the request and never answers.
    LoopbackPeer silent([](PeerConnection& connection) { connection.WaitForClose(std::chrono::seconds(30)); });
    const bool atLookup = std::string(moment) == "lookup";

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const fs::path saveFolder = fs::path(home.path().toStdString()) / "My Web Videos";
    fs::create_directories(saveFolder);
    std::ofstream(saveFolder / "clip.avi") << "an earlier clip";

    ChildProcess window({TARNWICK_WINDOW_CHILD, home.path().toStdString(), atLookup ? silent.PortText() : service.PortText(), entry.address,
                         moment});
    const auto line = window.ReadLine(std::chrono::seconds(60));
    ASSERT_EQ(line, "closing") << window.ErrorOutput();
    const auto closed = std::chrono::steady_clock::now();
    const auto status = window.Wait(std::chrono::seconds(5));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closed);
    ASSERT_TRUE(status.has_value()) << "the program is still running after the window closed";
    EXPECT_EQ(*status, 0) << window.ErrorOutput();
    std::printf("closed during the %s: the program ended %lld ms later\n", moment, static_cast<long long>(took.count()));

    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(saveFolder)) left.push_back(item.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"clip.avi"}) << "nothing half-written beside the earlier file";
    EXPECT_EQ(ReadWholeFile(saveFolder / "clip.avi"), "an earlier clip");
}

// The session's own table closes at every moment; here the program's end is what counts.
INSTANTIATE_TEST_SUITE_P(Moments, WindowClose, ::testing::Values("transfer"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
