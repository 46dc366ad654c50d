// The tarnwick-lookup tool as a black box, against the substitute lookup service.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackPeer.h"
#include "support/LookupService.h"
#include "support/RefusingPort.h"

using tarnwick::testing::CatalogueEntry;
using tarnwick::testing::ProgramRun;
using tarnwick::testing::RunProgram;
using tarnwick::testing::LookupService;
using tarnwick::testing::RefusingPort;

namespace {

ProgramRun RunTool(const std::vector<std::string>& args) { return RunProgram(TARNWICK_LOOKUP_TOOL, args); }

}  // namespace

TEST(TarnwickLookupTool, PrintsTheRecordThenEachEntry) {
    CatalogueEntry e;
    e.address = "http://www.dailymotion.com/video/x1 a&b#c";
    e.author = "A";
    e.title = "B=C";
    e.length = "1:00";
    e.size = "";
    e.filename = "x1";
    e.fileext = "mp4";
    e.media = "media";
    LookupService service({e});
    const ProgramRun run = RunTool({"127.0.0.1", service.PortText(), "4", "1", e.address});
    const std::string url = service.BaseUrl() + "/media/0.mp4";
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "author=A|title=B=C|length=1:00|size=|filename=x1|fileext=mp4|preview=|url=" + url +
                  "\nauthor=A\ntitle=B=C\nlength=1:00\nsize=\nfilename=x1\nfileext=mp4\n"
                  "preview=\nurl=" + url + "\n");
}

TEST(TarnwickLookupTool, FailedLookupsPrintTheErrorRecord) {
    LookupService service({});
    ProgramRun run = RunTool({"127.0.0.1", service.PortText(), "1", "0", "http://unknown/"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "error=1\nerror=1\n");

    RefusingPort refusing;
    run = RunTool({"127.0.0.1", refusing.PortText(), "1", "0", "http://v/"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "error=1\nerror=1\n");
}

TEST(TarnwickLookupTool, WrongCommandLineExitsWithUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"127.0.0.1", "80", "1", "0"}, {"127.0.0.1", "80", "1", "0", "a", "b"},
             {"--stall-timeout", "-1", "127.0.0.1", "80", "1", "0", "a"},
             {"--connect-timeout", "x", "127.0.0.1", "80", "1", "0", "a"},
             {"--later", "1", "127.0.0.1", "80", "1", "0", "a"}}) {
        const ProgramRun run = RunTool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("usage: tarnwick-lookup [--stall-timeout S] [--connect-timeout S] "
                                "HOST PORT SITE HD ADDRESS\n",
                                0),
                  0u)
            << run.err;
    }
}

// A service that accepts and stays silent ends the lookup at the stall limit with the error
// record.
TEST(TarnwickLookupTool, SilentServiceEndsAtTheStallLimit) {
    tarnwick::testing::Event done;
    tarnwick::testing::LoopbackPeer silent([&](tarnwick::testing::PeerConnection& c) {
        c.ReceiveUntil("\r\n\r\n\r\n");
        done.Wait(std::chrono::seconds(30));
    });
    const ProgramRun run = RunTool(
        {"--stall-timeout", "1", "--connect-timeout", "5", "127.0.0.1", silent.PortText(), "1",
         "0", "http://v/"});
    done.Set();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "error=1\nerror=1\n");
}
