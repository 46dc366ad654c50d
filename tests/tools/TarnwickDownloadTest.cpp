// The tarnwick-download tool as a black box, against the substitute lookup service.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "job/JobDefaults.h"
#include "support/ChildProcess.h"
#include "support/LookupService.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

const std::string kAddress = "http://www.youtube.com/watch?v=abc";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class TarnwickDownloadTool : public ::testing::Test {
protected:
    TarnwickDownloadTool() : work_(folder_.Path()) {}
    static CatalogueEntry Entry(std::size_t size) {
        CatalogueEntry e;
        e.address = kAddress;
        e.author = "Ann";
        e.title = "A title";
        e.length = "3:07";
        e.size = "3 MB";
        e.filename = "clip";
        e.media = PatternText(size);
        return e;
    }
    std::vector<std::string> Args(const LookupService& service) const {
        return {"--lookup", "127.0.0.1:" + service.PortText(), "--format", "0", "--work-dir",
                work_.string(), "--save-dir", (work_ / "save").string(), kAddress};
    }

    TempFolder folder_;
    fs::path work_;

    // What the work folder holds besides the save folder, one name each.
    std::string Leftovers() const {
        std::string names;
        for (const auto& entry : fs::directory_iterator(work_))
            if (entry.path().filename() != "save") names += entry.path().filename().string() + " ";
        return names;
    }
};

}  // namespace

TEST_F(TarnwickDownloadTool, CompletedJobPrintsWhatTheWindowShows) {
    // A known total gives one line per whole percent: the first request asks for the file as a
    // part, so a chunked body's total comes from its Content-Range. A file of 4 MiB or more whose
    // server names a validator comes in pieces, the line showing their sum.
    for (const char* variant : {"with length", "chunked", "in pieces"}) {
        SCOPED_TRACE(variant);
        const bool chunked = variant == std::string("chunked");
        const bool pieces = variant == std::string("in pieces");
        const std::string kb = pieces ? "6144" : "3072";
        fs::remove_all(work_ / "save");
        CatalogueEntry entry = Entry((pieces ? 6 : 3) * 1024 * 1024);
        // Texts from outside can neither drive the terminal nor forge a line of ours.
        entry.author = "Ann\x1b]0;owned\x07\x1b[2J";
        entry.title = "A title\xc2\x85Video file is successfully saved.";
        if (chunked) entry.extra = {{"chunked", "1"}};
        if (pieces) entry.extra = {{"validator", "1"}};
        LookupService service({entry});
        const ProgramRun run = RunProgram(TARNWICK_DOWNLOAD_TOOL, Args(service));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_GE(lines.size(), 8u) << run.out;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
                  (std::vector<std::string>{"author: Ann?]0;owned??[2J",
                                            "title: A title?Video file is successfully saved.",
                                            "duration: 3:07", "size: 3 MB", "Download started."}));
        const std::size_t progress = lines.size() - 7;
        EXPECT_LE(progress, 101u) << run.out;
        for (std::size_t i = 5; i + 2 < lines.size(); ++i)
            EXPECT_TRUE(lines[i].starts_with("clip.flv \xe2\x80\x94 ")) << lines[i];
        EXPECT_EQ(lines[lines.size() - 3], "clip.flv \xe2\x80\x94 " + kb + " Kb of " + kb + " Kb");
        EXPECT_EQ(lines[lines.size() - 2], "Download is completed.");
        EXPECT_EQ(lines.back(), "Saved as " + (work_ / "save" / "clip.flv").string());
        EXPECT_TRUE(ReadWholeFile(work_ / "save" / "clip.flv") == entry.media);
        EXPECT_EQ(Leftovers(), "") << "the tool's work folder goes with it";
    }
}

TEST_F(TarnwickDownloadTool, OutcomesAndExitStatus) {
    LookupService service({Entry(1000)});
    const std::string lookup = "127.0.0.1:" + service.PortText();
    const ProgramRun unavailable =
        RunProgram(TARNWICK_DOWNLOAD_TOOL, {"--lookup", lookup, "--work-dir", work_.string(), "x"});
    EXPECT_EQ(unavailable.status, 1);
    EXPECT_EQ(unavailable.out, "Video file is unavailable.\n");

    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--site", "6", kAddress},
        {"--format", "8", kAddress},
        {"--quality", "-1", kAddress},
        {"--lookup", "127.0.0.1", kAddress},
        {"--work-dir"},
        {"--connections", "0", kAddress},
        {"--connections", "17", kAddress},
        {"--limit-rate", "2G", kAddress},
        {"--bogus", kAddress},
        {kAddress, ""},
        {"-a"},
        {"-a", "", kAddress},
    };
    for (const auto& args : wrong) {
        const ProgramRun run = RunProgram(TARNWICK_DOWNLOAD_TOOL, args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(run.out, "");
        // A rate that is none is named on a line before the usage.
        const std::string rate = !args.empty() && args[0] == "--limit-rate"
                                     ? "tarnwick-download: \"2G\" is no rate: give bytes per second "
                                       "such as 500K, 2M or 65536, or 0 for no limit.\n"
                                     : "";
        EXPECT_TRUE(run.err.starts_with(rate + "usage: tarnwick-download")) << run.err;
    }
    // The defaults it names are the session's.
    const ProgramRun bare = RunProgram(TARNWICK_DOWNLOAD_TOOL, {});
    for (const std::string& line :
         {"XVideos (default " + std::to_string(tarnwick::kDefaultSiteNumber) + ")\n",
          "as it is (default " + std::to_string(tarnwick::kDefaultFormat) + ")\n",
          "0 to 3 (default " + std::to_string(tarnwick::kDefaultQuality) + ")\n",
          "1 to 16 (default " + std::to_string(tarnwick::kDefaultConnections) + ")\n"})
        EXPECT_NE(bare.err.find(line), std::string::npos) << line << bare.err;
}

TEST_F(TarnwickDownloadTool, SignalsAbortTheJobAndTheRest) {
    CatalogueEntry entry = Entry(4 * 1024 * 1024);
    entry.extra = {{"rate", "500000"}, {"validator", "1"}};
    CatalogueEntry next = Entry(1000);
    next.address = kAddress + "2";
    LookupService service({entry, next});
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::vector<std::string> argv = Args(service);
        argv.insert(argv.begin(), TARNWICK_DOWNLOAD_TOOL);
        argv.push_back(next.address);
        ChildProcess tool(argv);
        // Mid-transfer: once a progress line is out.
        for (;;) {
            const auto line = tool.ReadLine();
            ASSERT_TRUE(line) << tool.Output();
            if (line->starts_with("[1/2] clip.flv")) break;
        }
        ::kill(tool.Pid(), signal);
        EXPECT_EQ(tool.Wait(std::chrono::seconds(5)), 1);
        EXPECT_TRUE(tool.Output().ends_with(
            "[1/2] Download aborted.\n0 of 2 saved, 1 failed, 1 not run.\n"))
            << tool.Output();
        EXPECT_EQ(tool.Output().find("[2/2]"), std::string::npos) << tool.Output();
        EXPECT_EQ(tool.ErrorOutput(), "[1/2] reason: Stopped by the user.\n");
        EXPECT_EQ(Leftovers(), "");
        EXPECT_FALSE(fs::exists(work_ / "save")) << "nothing half-saved";
    }
}

TEST_F(TarnwickDownloadTool, WorksThroughAddressesAndBatchFiles) {
    const std::string other = "http://www.youtube.com/watch?v=two";
    const std::string broken = "http://www.youtube.com/watch?v=nomedia";
    const std::string unknown = "https://www.youtube.com/watch?v=unknown";
    CatalogueEntry second = Entry(2000);
    second.address = other;
    second.filename = "two";
    CatalogueEntry noMedia = Entry(0);
    noMedia.address = broken;
    noMedia.filename = "nomedia";
    LookupService service({Entry(1000), second, noMedia});
    // Bad lines are told with their numbers; blank and comment lines, and CR LF ends, are fine.
    const std::string batch = "# the list\n" + other + "\r\n\n  \nftp://host/file\n" +
                              "http://" + std::string(70000, 'a') + "\nhttp://a\x01z\n" +
                              "http://bad\xff\n" + kAddress + "\n" + unknown + "\n" + broken;
    {
        std::ofstream(work_ / "batch.txt", std::ios::binary) << batch;
    }
    std::vector<std::string> args = Args(service);
    args.insert(args.end() - 1, {"-a", "-"});
    const std::string shell = "exec \"$0\" \"$@\" < '" + (work_ / "batch.txt").string() + "'";
    args.insert(args.begin(), {"-c", shell, TARNWICK_DOWNLOAD_TOOL});
    const ProgramRun run = RunProgram("sh", args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tarnwick-download: - line 5: not an http or https address; skipped\n"
              "tarnwick-download: - line 6: longer than 65536 bytes; skipped\n"
              "tarnwick-download: - line 7: binary bytes; skipped\n"
              "tarnwick-download: - line 8: binary bytes; skipped\n"
              "tarnwick-download: - line 9: the same address as job 1; skipped\n"
              "[4/4] reason: The video's record names no media address.\n")
        << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 10u) << run.out;
    EXPECT_EQ(lines[0], "[1/4] author: Ann");
    for (const std::string& line : lines)
        EXPECT_TRUE(line.starts_with("[") || line.ends_with("saved, 2 failed.")) << line;
    const auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("[1/4] Saved as " + (work_ / "save" / "clip.flv").string())) << run.out;
    EXPECT_TRUE(has("[2/4] Saved as " + (work_ / "save" / "two.flv").string())) << run.out;
    EXPECT_TRUE(has("[3/4] Video file is unavailable.")) << run.out;
    EXPECT_TRUE(has("[4/4] Download aborted.")) << run.out;
    EXPECT_EQ(lines.back(), "2 of 4 saved, 2 failed.");
    EXPECT_TRUE(ReadWholeFile(work_ / "save" / "two.flv") == second.media);
    EXPECT_EQ(Leftovers(), "batch.txt ");
}
