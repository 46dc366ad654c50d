// The tarnwick-download tool as a black box, against the substitute lookup service.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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
    // A known total gives one line per whole percent; without one (chunked), one per MiB.
    for (const bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "with length");
        CatalogueEntry entry = Entry(3 * 1024 * 1024);
        if (chunked) entry.extra = {{"chunked", "1"}};
        LookupService service({entry});
        const ProgramRun run = RunProgram(TARNWICK_DOWNLOAD_TOOL, Args(service));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_GE(lines.size(), 7u) << run.out;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
                  (std::vector<std::string>{"author: Ann", "title: A title", "duration: 3:07",
                                            "size: 3 MB", "Download started."}));
        const std::size_t progress = lines.size() - 6;
        EXPECT_LE(progress, chunked ? 5u : 101u) << run.out;
        for (std::size_t i = 5; i + 1 < lines.size(); ++i)
            EXPECT_TRUE(lines[i].starts_with("clip.flv \xe2\x80\x94 ")) << lines[i];
        EXPECT_EQ(lines[lines.size() - 2],
                  chunked ? "clip.flv \xe2\x80\x94 3072 Kb of 0 Kb"
                          : "clip.flv \xe2\x80\x94 3072 Kb of 3072 Kb");
        EXPECT_EQ(lines.back(), "Download is completed.");
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
        {"--bogus", kAddress},
        {kAddress, "extra"},
    };
    for (const auto& args : wrong) {
        const ProgramRun run = RunProgram(TARNWICK_DOWNLOAD_TOOL, args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("usage: tarnwick-download")) << run.err;
    }
}

TEST_F(TarnwickDownloadTool, SignalsAbortTheJob) {
    CatalogueEntry entry = Entry(4 * 1024 * 1024);
    entry.extra = {{"rate", "500000"}};
    LookupService service({entry});
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::vector<std::string> argv = Args(service);
        argv.insert(argv.begin(), TARNWICK_DOWNLOAD_TOOL);
        ChildProcess tool(argv);
        // Mid-transfer: once a progress line is out.
        for (;;) {
            const auto line = tool.ReadLine();
            ASSERT_TRUE(line) << tool.Output();
            if (line->starts_with("clip.flv")) break;
        }
        ::kill(tool.Pid(), signal);
        EXPECT_EQ(tool.Wait(), 1);
        EXPECT_TRUE(tool.Output().ends_with("Download aborted.\n")) << tool.Output();
        EXPECT_EQ(tool.ErrorOutput(), "reason: Stopped by the user.\n");
        EXPECT_EQ(Leftovers(), "");
    }
}

TEST_F(TarnwickDownloadTool, ConvertsAndDeliversAsTheWindowDoes) {
    const ProgramRun sample = RunProgram(
        "ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                   "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
                   "sine=frequency=440:duration=2", "-c:v", "flv1", "-c:a", "libmp3lame", "-ar",
                   "22050", (work_ / "sample.flv").string()});
    ASSERT_EQ(sample.status, 0) << sample.err;
    CatalogueEntry entry = Entry(0);
    entry.media = ReadWholeFile(work_ / "sample.flv");
    LookupService service({entry});
    const std::vector<std::string> args = {"--lookup", "127.0.0.1:" + service.PortText(),
                                           "--work-dir", work_.string(), "--save-dir",
                                           (work_ / "save").string(), kAddress};
    const ProgramRun run = RunProgram(TARNWICK_DOWNLOAD_TOOL, args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u) << run.out;
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"Download is completed.", "Decoding in progress.",
                                        "Video file is successfully saved."}));
    const ProgramRun probe = RunProgram(
        "ffprobe", {"-v", "error", "-show_entries",
                    "format=format_name:stream=codec_name,width,height", "-of", "compact=p=0",
                    (work_ / "save" / "clip.avi").string()});
    EXPECT_EQ(probe.out,
              "codec_name=mpeg4|width=320|height=240\ncodec_name=mp3\nformat_name=avi\n");

    // Without a converter nothing is delivered, and the exit status says so.
    fs::remove(work_ / "save" / "clip.avi");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (work_ / "save").c_str(), 1);
    const ProgramRun missing = RunProgram(TARNWICK_DOWNLOAD_TOOL, args);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(missing.status, 1);
    lines = Lines(missing.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Decoding aborted.");
    EXPECT_EQ(missing.err,
              "reason: ffmpeg was not found in the program's folder or on the PATH\n");
    EXPECT_FALSE(fs::exists(work_ / "save" / "clip.avi"));
}
