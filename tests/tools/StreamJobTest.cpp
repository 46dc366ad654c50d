// Whole jobs on streamed videos: `tarnwick-download --format 0` as a black box, with the built-in
// lookup (and yt-dlp for a page only it reads), on HLS and DASH sets that the real ffmpeg makes at
// test time and a real nginx serves.
// Each saved file is checked with ffprobe: picture and sound there, not re-encoded, as long as
// the source.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "job/lookup/LookupQuery.h"
#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/TempFolder.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

constexpr double kSourceSeconds = 6;

// ffmpeg's options for six seconds of a test picture and a tone, as H.264 and AAC.
std::vector<std::string> SourceArgs() {
    return {"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
            "testsrc=duration=6:size=640x490:rate=25", "-f", "lavfi", "-i",
            "sine=frequency=440:duration=6", "-c:v", "libx264", "-g", "25", "-c:a", "aac"};
}

void Make(const fs::path& folder, std::vector<std::string> args) {
    fs::create_directories(folder);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const std::string program = args.front();
    args.erase(args.begin());
    const ProgramRun run = RunProgram(program, args, std::chrono::seconds(120));
    fs::current_path(previous);
    ASSERT_EQ(run.status, 0) << run.err;
}

// A master playlist with two picture variants (one of more than 480 lines) and one sound
// rendition, in MPEG-TS fragments.
void MakeHlsSet(const fs::path& folder) {
    std::vector<std::string> args = SourceArgs();
    for (const char* arg :
         {"-map", "0:v", "-map", "0:v", "-map", "1:a", "-s:v:1", "160x120", "-b:v:0", "400k",
          "-b:v:1", "100k", "-f", "hls", "-hls_time", "2", "-hls_playlist_type", "vod",
          "-master_pl_name", "master.m3u8", "-var_stream_map",
          "v:0,agroup:aud v:1,agroup:aud a:0,agroup:aud,default:yes", "-hls_segment_filename",
          "s%v_%03d.ts", "p%v.m3u8"})
        args.emplace_back(arg);
    Make(folder, args);
}

// A DASH manifest with a picture and a sound set, by $Number$ or by $Time$ with a timeline.
void MakeDashSet(const fs::path& folder, bool timeline) {
    std::vector<std::string> args = SourceArgs();
    for (const char* arg : {"-map", "0:v", "-map", "1:a", "-f", "dash", "-seg_duration", "2",
                            "-use_template", "1", "-use_timeline", timeline ? "1" : "0",
                            "manifest.mpd"})
        args.emplace_back(arg);
    Make(folder, args);
}

struct Probe {
    std::string codecs;  // "h264 aac", in the file's order
    double seconds = 0;
    int width = 0;  // of the picture
};

Probe ProbeFile(const fs::path& file) {
    const ProgramRun run = RunProgram(
        "ffprobe", {"-v", "error", "-show_entries", "stream=codec_name:format=duration", "-of",
                    "default=noprint_wrappers=1:nokey=1", file.string()});
    Probe probe;
    std::vector<std::string> values;
    std::string line;
    for (const char c : run.out + "\n") {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty()) values.push_back(line);
        line.clear();
    }
    if (values.empty()) return probe;
    probe.seconds = std::atof(values.back().c_str());
    values.pop_back();
    for (const std::string& value : values) probe.codecs += (probe.codecs.empty() ? "" : " ") + value;
    const ProgramRun width =
        RunProgram("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                               "stream=width", "-of", "csv=p=0", file.string()});
    probe.width = std::atoi(width.out.c_str());
    return probe;
}

class StreamJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DefaultLookupEndpoint().Host.empty())
            GTEST_SKIP() << "this build names a lookup service (TARNWICK_LOOKUP_HOST)";
    }
    ProgramRun Download(const std::string& address, bool hd) {
        fs::remove_all(Save());
        std::vector<std::string> args = {"--format", "0", "--work-dir", Work().string(),
                                         "--save-dir", Save().string(), address};
        if (hd) args.insert(args.begin(), "--hd");
        return RunProgram(TARNWICK_DOWNLOAD_TOOL, args, std::chrono::seconds(120));
    }
    fs::path Work() const { return fs::path(folder_.Path()) / "work"; }
    fs::path Save() const { return fs::path(folder_.Path()) / "save"; }
    std::vector<fs::path> Saved() const {
        std::vector<fs::path> files;
        if (fs::exists(Save()))
            for (const auto& entry : fs::directory_iterator(Save())) files.push_back(entry.path());
        return files;
    }

    TempFolder folder_;
    NginxServer site_;
};

}  // namespace

TEST_F(StreamJob, HlsAndDashVideosAreSavedWholeWithPictureAndSoundUnencoded) {
    MakeHlsSet(site_.Root() / "hls");
    MakeDashSet(site_.Root() / "number", false);
    MakeDashSet(site_.Root() / "time", true);
    // A page whose player a script sets up: yt-dlp reads it and names picture and sound apart.
    std::ofstream(site_.Root() / "player.html")
        << "<title>JW</title><div id=player></div><script>jwplayer(\"player\").setup({sources: "
           "[{file: \"/hls/master.m3u8\"}], title: \"Streamed\"});</script>";
    struct Row {
        std::string path;
        bool hd;
        int width;  // HD takes the variant of more than 480 lines, SD the other
    } rows[] = {{"/hls/master.m3u8", true, 640},
                {"/hls/master.m3u8", false, 160},
                {"/number/manifest.mpd", true, 640},
                {"/time/manifest.mpd", false, 640},
                {"/player.html", false, 160}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path + (row.hd ? " HD" : ""));
        const ProgramRun run = Download(site_.BaseUrl() + row.path, row.hd);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        const std::vector<fs::path> saved = Saved();
        ASSERT_EQ(saved.size(), 1u) << run.out << run.err;
        EXPECT_EQ(saved[0].extension(), ".mp4");
        const Probe probe = ProbeFile(saved[0]);
        EXPECT_EQ(probe.codecs, "h264 aac");
        EXPECT_NEAR(probe.seconds, kSourceSeconds, 0.3);
        EXPECT_EQ(probe.width, row.width);
        // Nothing of the job's is left in its work folder.
        for (const auto& entry : fs::recursive_directory_iterator(Work()))
            EXPECT_FALSE(entry.is_regular_file() &&
                         entry.path().filename().string().rfind("video", 0) == 0)
                << entry.path();
    }
}

TEST_F(StreamJob, LiveAndProtectedStreamsAreRefusedAndNothingIsSaved) {
    const fs::path root = site_.Root();
    fs::create_directories(root / "refused");
    std::ofstream(root / "refused/live.m3u8")
        << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nhttp://127.0.0.1:1/a.ts\n";
    std::ofstream(root / "refused/drm.m3u8")
        << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
           "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://key\",KEYFORMAT=\"com.apple.streamingkeydelivery\"\n"
           "#EXTINF:2,\nhttp://127.0.0.1:1/a.ts\n#EXT-X-ENDLIST\n";
    const std::pair<std::string, std::string> rows[] = {{"live.m3u8", "live stream"},
                                                        {"drm.m3u8", "protected (DRM)"}};
    for (const auto& [name, reason] : rows) {
        SCOPED_TRACE(name);
        const ProgramRun run = Download(site_.BaseUrl() + "/refused/" + name, false);
        EXPECT_NE(run.status, 0);
        EXPECT_NE((run.out + run.err).find(reason), std::string::npos) << run.out << run.err;
        EXPECT_TRUE(Saved().empty());
    }
}
