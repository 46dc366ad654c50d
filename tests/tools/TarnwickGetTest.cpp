// The tarnwick-get tool as a black box, against a real nginx and a scripted server.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/HttpAnswers.h"
#include "support/LoopbackPeer.h"
#include "support/NginxServer.h"
#include "support/RangeServer.h"
#include "support/SaturatedListener.h"
#include "support/TestData.h"

using tarnwick::testing::ProgramRun;
using tarnwick::testing::RunProgram;
using tarnwick::testing::LoopbackPeer;
using tarnwick::testing::NginxServer;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::PeerConnection;
using tarnwick::testing::Framing;
using tarnwick::testing::RangePlan;
using tarnwick::testing::RangeServer;

namespace {

ProgramRun RunTool(const std::vector<std::string>& args) { return RunProgram(TARNWICK_GET_TOOL, args); }

class TarnwickGetTool : public ::testing::Test {
protected:
    TarnwickGetTool() : nginx_("    location = /moved { return 302 /media.bin; }\n") {
        char pattern[] = "/tmp/tarnwick-get-tool-XXXXXX";
        if (::mkdtemp(pattern)) dir_ = pattern;
    }
    ~TarnwickGetTool() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    // The names in the output folder: no temporary file may be left behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    NginxServer nginx_;
    std::filesystem::path dir_;
};

}  // namespace

TEST_F(TarnwickGetTool, FollowDownloadsByteIdentical) {
    const auto served = nginx_.WriteFile("media.bin", 5 * 1024 * 1024 + 3);
    const auto saved = dir_ / "video.flv";
    const ProgramRun run = RunTool({"--follow", nginx_.BaseUrl() + "/moved", saved.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(ReadWholeFile(saved) == ReadWholeFile(served)) << "the saved file differs";
    EXPECT_EQ(Files(), std::vector<std::string>{"video.flv"});
}

TEST_F(TarnwickGetTool, NotFoundExitsWith1AndLeavesAnEarlierFileAlone) {
    const auto saved = dir_ / "video.flv";
    std::ofstream(saved) << "earlier";
    const ProgramRun run = RunTool({nginx_.BaseUrl() + "/missing", saved.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "EIdHTTPProtocolException: HTTP/1.1 404 Not Found\nstatus code: 404\n");
    EXPECT_EQ(ReadWholeFile(saved), "earlier");
    EXPECT_EQ(Files(), std::vector<std::string>{"video.flv"});
}

TEST_F(TarnwickGetTool, RedirectWithoutFollowIsAFailure) {
    nginx_.WriteFile("media.bin", 10);
    const ProgramRun run = RunTool({nginx_.BaseUrl() + "/moved", (dir_ / "out").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "EIdHTTPProtocolException: HTTP/1.1 302 Moved Temporarily\nstatus code: 302\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(TarnwickGetTool, EventsArePrintedAsTheyHappen) {
    nginx_.WriteFile("media.bin", 1048576);
    const ProgramRun run =
        RunTool({"--events", nginx_.BaseUrl() + "/media.bin", (dir_ / "out").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < run.out.size();) {
        const std::size_t end = run.out.find('\n', at);
        lines.push_back(run.out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_GE(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[0], "status hsConnecting Connecting to 127.0.0.1.");
    EXPECT_EQ(lines[1], "status hsConnected Connected.");
    EXPECT_EQ(lines[2], "begin read 1048576");
    EXPECT_TRUE(lines[3].starts_with("work read ")) << lines[3];
    EXPECT_EQ(lines[lines.size() - 2], "work read 1048576");
    EXPECT_EQ(lines.back(), "end read");
}

TEST_F(TarnwickGetTool, BodyCutShortIsAFailureWithoutAFile) {
    LoopbackPeer peer([](PeerConnection& c) {
        c.ReceiveUntil("\r\n\r\n");
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this");
    });
    const ProgramRun run = RunTool(
        {"http://127.0.0.1:" + peer.PortText() + "/", (dir_ / "out").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "EIdConnClosedGracefully: Connection Closed Gracefully.\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(TarnwickGetTool, WrongCommandLineExitsWithUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"http://x/"}, {"--bogus", "http://x/", "out"},
             {"--max-redirects", "many", "http://x/", "out"}, {"a", "b", "c"},
             {"--stall-timeout", "-1", "http://x/", "out"},
             {"--connect-timeout", "soon", "http://x/", "out"},
             {"--retry", "-1", "http://x/", "out"}, {"http://x/", "out", "--retry"},
             {"--limit-rate", "1.5M", "http://x/", "out"},
             {"http://x/", "out", "--stall-timeout"}}) {
        const ProgramRun run = RunTool(args);
        EXPECT_EQ(run.status, 2);
        // A rate that is none is named on a line before the usage.
        const std::string rate = !args.empty() && args[0] == "--limit-rate"
                                     ? "tarnwick-get: \"1.5M\" is no rate: give bytes per second such "
                                       "as 500K, 2M or 65536, or 0 for no limit.\n"
                                     : "";
        EXPECT_TRUE(run.err.starts_with(rate + "usage: tarnwick-get [--follow] [--max-redirects N] "
                                               "[--events] [--stall-timeout S]\n"))
            << run.err;
    }
    for (const char* connections : {"0", "17", "four", "-1"}) {
        const ProgramRun run = RunTool({"--connections", connections, "http://x/", "out"});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("tarnwick-get: --connections takes a whole number from 1 "
                                        "to 16.\nusage: tarnwick-get [--follow]"))
            << run.err;
    }
}

// An OUTFILE that is no regular file is never replaced by one: a device or a FIFO is written in
// place, a symbolic link keeps pointing at the file that takes the body.
TEST_F(TarnwickGetTool, DevicesFifosAndLinksStayWhatTheyAre) {
    const std::string body = tarnwick::testing::PatternText(300000);
    LoopbackPeer peer(tarnwick::testing::ServeAlways(tarnwick::testing::Ok(body)));
    const std::string url = "http://127.0.0.1:" + peer.PortText() + "/";
    namespace fs = std::filesystem;

    ProgramRun run = RunTool({url, "/dev/null"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    const fs::path fifo = dir_ / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string piped;
    std::thread reader([&] { piped = ReadWholeFile(fifo); });
    run = RunTool({url, fifo.string()});
    reader.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(piped == body) << "the FIFO carried " << piped.size() << " bytes";
    EXPECT_TRUE(fs::is_fifo(fifo));
    fs::remove(fifo);

    const fs::path link = dir_ / "link", target = dir_ / "target";
    std::ofstream(target) << "earlier";
    fs::create_symlink("target", link);
    run = RunTool({url, link.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(ReadWholeFile(target) == body);
    // A link to a file that does not exist yet makes that file.
    fs::remove(target);
    run = RunTool({url, link.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(ReadWholeFile(target) == body);
    auto files = Files();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"link", "target"}));
}

// A server that goes silent, and one whose handshake never completes, end the fetch at the
// limits given (in whole seconds), with the failure named.
TEST_F(TarnwickGetTool, SilentServerAndPendingConnectEndAtTheirLimits) {
    tarnwick::testing::Event done;
    LoopbackPeer silent([&](PeerConnection& c) {
        c.ReceiveUntil("\r\n\r\n");
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome");
        done.Wait(std::chrono::seconds(30));
    });
    ProgramRun run = RunTool({"--stall-timeout", "1", "http://127.0.0.1:" + silent.PortText() + "/",
                              (dir_ / "out").string()});
    done.Set();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "EIdStallTimeout: No data received for 1 seconds.\n");

    tarnwick::testing::SaturatedListener pending;
    run = RunTool({"--connect-timeout", "1",
                   "http://127.0.0.1:" + std::to_string(pending.Port()) + "/",
                   (dir_ / "out").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "EIdConnectTimeout: Connect timed out.\n");
    EXPECT_TRUE(Files().empty());
}

// --continue fetches only what OUTFILE lacks, and leaves a whole one as it is (416).
TEST_F(TarnwickGetTool, ContinueFetchesOnlyWhatIsMissing) {
    const std::string file = tarnwick::testing::PatternText(300000);
    const auto saved = dir_ / "video.flv";
    RangeServer server({}, file);
    std::ofstream(saved, std::ios::binary) << file.substr(0, 100000);
    for (int run = 1; run <= 3; ++run) {
        // A longer file is no whole one, though the server says its range starts past the end.
        if (run == 3) std::ofstream(saved, std::ios::binary | std::ios::app) << "longer";
        const ProgramRun tool = RunTool({"--continue", server.Url(), saved.string()});
        EXPECT_EQ(tool.status, 0) << tool.err;
        EXPECT_TRUE(ReadWholeFile(saved) == file) << "run " << run;
    }
    EXPECT_EQ(server.requests.load(), 4);
    EXPECT_EQ(server.sent.load(), 500000u);
    EXPECT_EQ(Files(), std::vector<std::string>{"video.flv"});
}

// A 206 body that ends short of its range (framed by the close or by chunks) is a broken
// transfer that --retry continues; one that runs past it fails with no byte past the range
// written; a Content-Length other than the range's length gets the file from its start.
TEST_F(TarnwickGetTool, PartsEndWhereTheirRangeSays) {
    const std::string file = tarnwick::testing::PatternText(300000);
    const auto saved = dir_ / "video.flv";
    const std::string past = "EIdException: The server sent more bytes than the range it named.\n";
    struct Row {
        bool resume;  // --continue from the first 100000 bytes, else a cut there
        Framing framing;
        long skew;
        int waits;
        std::string err;  // after the waits; empty: the file arrives whole
    };
    const Row rows[] = {
        {false, Framing::kUntilClose, -5000, 2, ""}, {false, Framing::kChunked, -5000, 2, ""},
        {false, Framing::kUntilClose, 7000, 1, past}, {false, Framing::kChunked, 7000, 1, past},
        {false, Framing::kLength, 7000, 1, ""},       {true, Framing::kUntilClose, -5000, 1, ""},
        {true, Framing::kChunked, -5000, 1, ""},      {true, Framing::kUntilClose, 7000, 0, past},
        {true, Framing::kChunked, 7000, 0, past},     {true, Framing::kLength, 7000, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.resume ? "--continue" : "cut") + ", framing " +
                     std::to_string(int(row.framing)) + ", skew " + std::to_string(row.skew));
        std::filesystem::remove(saved);
        if (row.resume) std::ofstream(saved, std::ios::binary) << file.substr(0, 100000);
        RangeServer server({.cuts = row.resume ? std::vector<std::size_t>{}
                                               : std::vector<std::size_t>{100000},
                            .framing = row.framing,
                            .skewAt = row.resume ? 0 : 1,
                            .skew = row.skew},
                           file);
        std::vector<std::string> args = {"--retry", "3", server.Url(), saved.string()};
        if (row.resume) args.insert(args.begin(), "--continue");
        const ProgramRun tool = RunTool(args);
        EXPECT_EQ(tool.status, row.err.empty() ? 0 : 1);
        std::string err;
        for (int i = 0; i < row.waits; ++i)
            err += "Connection lost; trying again in 1 s (1 of 3).\n";
        EXPECT_EQ(tool.err, err + row.err);
        const std::string got = ReadWholeFile(saved);
        if (row.err.empty()) {
            EXPECT_TRUE(got == file) << got.size() << " bytes";
        } else {
            // What --continue appended in place stays, all of it the file's.
            EXPECT_TRUE(row.resume ? got.size() >= 100000 && file.starts_with(got) : got.empty())
                << got.size() << " bytes";
        }
        EXPECT_EQ(Files().size(), row.resume || row.err.empty() ? 1u : 0u);
    }
}
