// Conversion and delivery end to end, with the real ffmpeg on small samples the suite makes, and
// ffprobe reading what was delivered.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "job/convert/ConversionTable.h"
#include "job/convert/ConvertAndDeliver.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::PatternText;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::RunProgram;
using tarnwick::testing::TempFolder;

namespace {

namespace fs = std::filesystem;

const std::string kEarlierVideo = "the earlier video of that name";
const std::string kMp4Family = " mov,mp4,m4a,3gp,3g2,mj2";

class Recorder : public TDeliveryObserver {
public:
    void DeliveryStatus(const std::string& text) override {
        if (onStatus) onStatus();
        std::lock_guard lock(mutex_);
        statuses.push_back(text);
        changed_.notify_all();
    }
    void ConversionProgress(double fraction) override {
        std::lock_guard lock(mutex_);
        fractions.push_back(fraction);
    }
    void DeliveryFinished(const TDeliveryResult& r) override {
        std::lock_guard lock(mutex_);
        result = r;
        ++finishedCalls;
    }
    bool WaitForStatus() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [this] { return !statuses.empty(); });
    }

    std::function<void()> onStatus;  // on the task's thread
    std::vector<std::string> statuses;
    std::vector<double> fractions;
    TDeliveryResult result;
    int finishedCalls = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// "video codec|width|height audio codec|channels container", as ffprobe reads the file.
std::string Probe(const std::string& path) {
    std::string out = RunProgram("ffprobe", {"-v", "error", "-show_entries",
                                             "format=format_name:stream=codec_name,width,height,"
                                             "channels",
                                             "-of", "compact=p=0:nk=1", path})
                          .out;
    std::replace(out.begin(), out.end(), '\n', ' ');
    if (!out.empty()) out.pop_back();
    return out;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.insert(entry.path().filename().string());
    return names;
}

// Lets this thread, and the threads it starts, be refused by file permissions even as root (a
// read-only save folder).
bool DropFileCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) |
                           (1u << CAP_FOWNER));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Mounts a tmpfs of that many KiB on folder, seen only by this thread and the threads and processes
// it starts from now on (a mount namespace of its own, gone with them). False where this process
// may not.
bool MountPrivateTmpfs(const std::string& folder, std::size_t kibibytes) {
    const std::string options = "size=" + std::to_string(kibibytes) + "k";
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tarnwick-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

class ConvertAndDeliverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        samples_ = std::make_unique<TempFolder>();
        const std::vector<std::vector<std::string>> codecs = {
            {"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050", *samples_ / "video.flv"},
            {"-c:v", "mpeg4", "-c:a", "aac", *samples_ / "video.mp4"}};
        for (const auto& tail : codecs) {
            std::vector<std::string> args = {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                             "testsrc=size=320x240:rate=25:duration=1", "-f",
                                             "lavfi", "-i", "sine=duration=1"};
            args.insert(args.end(), tail.begin(), tail.end());
            const auto run = RunProgram("ffmpeg", args);
            ASSERT_EQ(run.status, 0) << run.err;
        }
    }
    static void TearDownTestSuite() { samples_.reset(); }

    void SetUp() override {
        request_.workDirectory = work_.Path();
        request_.saveDirectory = save_ / "My Web Videos";
        request_.fileName = "clip";
        request_.fileExtension = "flv";
        request_.programDirectory = work_.Path();
    }

    void PlaceSample(const std::string& name) {
        fs::copy_file(*samples_ / name, work_ / name, fs::copy_options::overwrite_existing);
    }
    std::string Destination(const std::string& extension) const {
        return request_.saveDirectory + "/clip." + extension;
    }
    void PlaceEarlierDestination(const std::string& extension) {
        fs::create_directories(request_.saveDirectory);
        std::ofstream(Destination(extension)) << kEarlierVideo;
    }

    TDeliveryResult Run(Recorder& recorder) {
        TConvertAndDeliver task(request_, recorder);
        task.Start();
        task.Join();
        EXPECT_TRUE(task.Finished());
        EXPECT_EQ(recorder.finishedCalls, 1);
        return recorder.result;
    }

    static std::unique_ptr<TempFolder> samples_;
    TempFolder work_;
    TempFolder save_;
    TDeliveryRequest request_;
};

std::unique_ptr<TempFolder> ConvertAndDeliverTest::samples_;

}  // namespace

TEST_F(ConvertAndDeliverTest, EveryFormatAndQualityFromAnFlvDownload) {
    const std::string probes[28] = {
        "h264|176|144 aac|1" + kMp4Family,   "h264|320|240 aac|1" + kMp4Family,
        "h264|320|240 aac|2" + kMp4Family,   "h264|320|240 aac|2" + kMp4Family,
        "mpeg4|480|320 aac|2" + kMp4Family,  "mpeg4|480|320 aac|2" + kMp4Family,
        "mpeg4|480|320 aac|2" + kMp4Family,  "mpeg4|640|480 aac|2" + kMp4Family,
        "h264|176|96 aac|1" + kMp4Family,    "h264|320|240 aac|1" + kMp4Family,
        "h264|368|208 aac|2" + kMp4Family,   "h264|368|208 aac|2" + kMp4Family,
        "h263|128|96 aac|1" + kMp4Family,    "h263|176|144 aac|1" + kMp4Family,
        "h263|176|144 aac|1" + kMp4Family,   "h263|352|288 aac|1" + kMp4Family,
        "msmpeg4v3|320|240 wmav2|1 asf",     "msmpeg4v3|320|240 wmav2|2 asf",
        "msmpeg4v3|320|240 wmav2|2 asf",     "msmpeg4v3|320|240 wmav2|2 asf",
        "mpeg4|320|240 mp3|1 avi",           "mpeg4|320|240 mp3|2 avi",
        "mpeg4|320|240 mp3|2 avi",           "mpeg4|320|240 mp3|2 avi",
        "mp3|2 mp3",                         "mp3|2 mp3",
        "mp3|2 mp3",                         "mp3|2 mp3",
    };
    PlaceSample("video.flv");
    for (std::int32_t entry = 0; entry < 28; ++entry) {
        request_.formatIndex = entry / 4 + 1;
        request_.qualityIndex = entry % 4;
        std::string command;
        for (const std::string& argument : ConverterCommand(
                 request_.formatIndex, request_.qualityIndex, {SourceFileName("flv")}, "flv"))
            command += argument + " ";
        SCOPED_TRACE(command);
        fs::remove_all(request_.saveDirectory);
        Recorder recorder;
        const TDeliveryResult result = Run(recorder);
        const std::string destination =
            Destination(std::string(TargetExtension(request_.formatIndex)));
        EXPECT_EQ(recorder.statuses,
                  std::vector<std::string>{std::string(kDecodingInProgressText)});
        EXPECT_EQ(result.statusText, kSavedText) << result.reason;
        EXPECT_TRUE(result.delivered);
        EXPECT_EQ(result.destination, destination);
        EXPECT_EQ(Probe(destination), probes[entry]);
        // The fraction comes from the input's duration, only grows, and ends at 1.
        ASSERT_FALSE(recorder.fractions.empty());
        EXPECT_TRUE(std::is_sorted(recorder.fractions.begin(), recorder.fractions.end()));
        EXPECT_GE(recorder.fractions.front(), 0.0);
        EXPECT_EQ(recorder.fractions.back(), 1.0);
    }
    EXPECT_EQ(ReadWholeFile(work_ / "video.flv"), ReadWholeFile(*samples_ / "video.flv"));
}

TEST_F(ConvertAndDeliverTest, AnMp4DownloadRunsTheHighDefinitionCommandOnlyForFormat6) {
    PlaceSample("video.mp4");
    request_.fileExtension = "mp4";
    PlaceEarlierDestination("avi");
    Recorder hd;
    // The save folder is taken away while the converter runs; delivery makes it again.
    hd.onStatus = [&] { fs::remove_all(request_.saveDirectory); };
    TDeliveryResult result = Run(hd);
    EXPECT_EQ(result.statusText, kSavedText) << result.reason;
    // The high-definition command keeps the size and the channels.
    EXPECT_EQ(Probe(Destination("avi")), "mpeg4|320|240 mp3|1 avi");

    // Format 2 writes an "mp4" too: the converter must not write onto its input.
    request_.formatIndex = 2;
    request_.qualityIndex = 0;
    Recorder iphone;
    result = Run(iphone);
    EXPECT_EQ(result.statusText, kSavedText) << result.reason;
    EXPECT_EQ(Probe(Destination("mp4")), "mpeg4|480|320 aac|2" + kMp4Family);
    EXPECT_EQ(ReadWholeFile(work_ / "video.mp4"), ReadWholeFile(*samples_ / "video.mp4"));

}

TEST_F(ConvertAndDeliverTest, FailuresDeliverNothingAndKeepTheDestination) {
    TempFolder emptyPath;
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string sample = ReadWholeFile(*samples_ / "video.flv");
    bool refused = false;  // the case cannot be arranged here
    struct FailureCase {
        std::int32_t format;
        std::function<void()> arrange;  // on the task's side
        std::string_view statusText;
        std::string reason;  // contained in the result's reason
    };
    const FailureCase cases[] = {
        {6,
         [&] {
             PlaceSample("video.flv");
             ::setenv("PATH", emptyPath.Path().c_str(), 1);
         },
         kDecodingAbortedText, "ffmpeg was not found in the program's folder or on the PATH"},
        // Nor is an earlier job's output under the output name delivered.
        {6,
         [&] {
             std::ofstream(work_ / "video.flv") << PatternText(50000);
             std::ofstream(work_ / "video.avi") << "an earlier job's conversion";
         },
         kDecodingAbortedText, "video.flv: Invalid data found when processing input"},
        // ffmpeg exits 0 on a cut input whose header tells the whole length...
        {6, [&] { std::ofstream(work_ / "video.flv") << sample.substr(0, sample.size() / 2); },
         kDecodingAbortedText, "ffmpeg converted only "},
        // ...and on a full work disk, after "Error writing trailer".
        {6,
         [&] {
             refused = !MountPrivateTmpfs(work_.Path(), sample.size() / 1024 + 8);
             if (!refused) PlaceSample("video.flv");
         },
         kDecodingAbortedText, "No space left on device"},
        // A converter that hangs: its input is a pipe nobody writes.
        {6,
         [&] {
             request_.converterSilenceLimit = 300;
             ::mkfifo((work_ / "video.flv").c_str(), 0600);
         },
         kDecodingAbortedText, "ffmpeg gave no progress report for 0.3 seconds."},
        // A converter that says it is done after 9.4 of the input's 10 seconds wrote too little.
        {6,
         [&] {
             PlaceSample("video.flv");
             std::ofstream(work_ / "ffmpeg")
                 << "#!/bin/sh\nfor last; do :; done\necho converted > \"$last\"\n"
                    "printf 'Input #0, flv:\\n  Duration: 00:00:10.00, start: 0\\n' >&2\n"
                    "printf 'out_time_us=9400000\\nprogress=end\\n' >&3\n";
             fs::permissions(work_ / "ffmpeg", fs::perms::owner_all);
         },
         kDecodingAbortedText, "ffmpeg converted only 9.4 of the video's 10.0 seconds"},
        {0, [] {}, kNotSavedText, "the download left no file"},
        {6,
         [&] {
             PlaceSample("video.flv");
             ::chmod(request_.saveDirectory.c_str(), 0555);
         },
         kNotSavedText, "Permission denied"},
    };
    std::string skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        for (const auto& entry : fs::directory_iterator(work_.Path())) fs::remove_all(entry.path());
        ::chmod(request_.saveDirectory.c_str(), 0755);
        fs::remove_all(request_.saveDirectory);
        fs::remove(work_ / "video.flv");
        const std::string extension = c.format == 0 ? "flv" : "avi";
        PlaceEarlierDestination(extension);
        request_.formatIndex = c.format;
        request_.converterSilenceLimit = 60000;
        Recorder recorder;
        TDeliveryResult result;
        std::set<std::string> workLeft;
        // A thread of its own, which may drop its file capabilities and mount in a namespace of
        // its own: the task's thread and the converter inherit both.
        std::thread([&] {
            ASSERT_TRUE(DropFileCapabilities());
            c.arrange();
            if (refused) return;
            result = Run(recorder);
            workLeft = Names(work_.Path());
        }).join();
        ::setenv("PATH", savedPath.c_str(), 1);
        if (std::exchange(refused, false)) {
            skipped = c.reason;
            continue;
        }
        EXPECT_EQ(result.statusText, c.statusText);
        EXPECT_FALSE(result.delivered);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(ReadWholeFile(Destination(extension)), kEarlierVideo);
        EXPECT_EQ(Names(request_.saveDirectory), std::set<std::string>{"clip." + extension});
        // A conversion that failed leaves no output; a converted file stays for the clean-up.
        EXPECT_EQ(workLeft.contains("video.avi"), c.statusText == kNotSavedText && c.format != 0);
        // No converter is left running or unreaped.
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    }
    if (!skipped.empty()) GTEST_SKIP() << "cannot mount a tmpfs here for: " << skipped;
}

TEST_F(ConvertAndDeliverTest, Format0DeliversTheDownloadWithoutCopyingBesideAnEarlierFile) {
    PlaceSample("video.flv");
    PlaceEarlierDestination("flv");
    request_.formatIndex = 0;
    Recorder sameSystem;
    TDeliveryResult result = Run(sameSystem);
    EXPECT_TRUE(sameSystem.statuses.empty());
    EXPECT_EQ(result.statusText, "");
    EXPECT_TRUE(result.delivered) << result.reason;
    EXPECT_EQ(result.destination, request_.saveDirectory + "/clip (2).flv");
    struct stat work {}, delivered {};
    ASSERT_EQ(::stat((work_ / "video.flv").c_str(), &work), 0);
    ASSERT_EQ(::stat(result.destination.c_str(), &delivered), 0);
    EXPECT_EQ(work.st_ino, delivered.st_ino);
    EXPECT_EQ(ReadWholeFile(Destination("flv")), kEarlierVideo);
    EXPECT_EQ(Names(request_.saveDirectory), (std::set<std::string>{"clip.flv", "clip (2).flv"}));
}

namespace {

// The decoded frames of every picture stream, then every sound stream, of the files in turn:
// equal only when the streams were copied, not encoded again.
std::string FrameHashes(const std::vector<std::string>& paths) {
    std::string hashes;
    for (const std::string& path : paths) {
        const auto run = RunProgram("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map",
                                               "0:v?", "-map", "0:a?", "-f", "streamhash",
                                               "-hash", "md5", "-"});
        EXPECT_EQ(run.status, 0) << run.err;
        // "0,v,MD5=...", one line a stream, without the stream's number.
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);)
            hashes += line.substr(line.find(',') + 1) + " ";
    }
    return hashes;
}

double Seconds(const std::string& path) {
    return std::atof(RunProgram("ffprobe", {"-v", "error", "-show_entries", "format=duration",
                                            "-of", "csv=p=0", path})
                         .out.c_str());
}

}  // namespace

TEST_F(ConvertAndDeliverTest, MergesStreamsUnencodedIntoTheContainerOfTheirCodecs) {
    TempFolder pieces;
    const std::vector<std::string> picture = {"-f", "lavfi", "-i",
                                              "testsrc=size=160x120:rate=25:duration=2"};
    const std::vector<std::string> sound = {"-f", "lavfi", "-i", "sine=duration=2"};
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "ultrafast"};
    const std::vector<std::vector<std::vector<std::string>>> makes = {
        {picture, h264, {"-f", "mpegts", pieces / "h264.ts"}},
        {sound, {"-c:a", "aac", "-f", "mpegts", pieces / "aac.ts"}},
        {picture, sound, h264, {"-c:a", "aac", "-f", "mpegts", pieces / "both.ts"}},
        {picture, {"-c:v", "libvpx-vp9", "-deadline", "realtime", pieces / "vp9.webm"}},
        {sound, {"-c:a", "libopus", pieces / "opus.webm"}},
    };
    for (const auto& parts : makes) {
        std::vector<std::string> args = {"-nostdin", "-v", "error"};
        for (const auto& part : parts) args.insert(args.end(), part.begin(), part.end());
        const auto run = RunProgram("ffmpeg", args);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    // A sound fetched only to 40 %.
    const std::string aac = ReadWholeFile(pieces / "aac.ts");
    std::ofstream(pieces / "cut.ts") << aac.substr(0, aac.size() * 2 / 5);

    const struct {
        std::vector<std::string> pieces;
        bool streamed;
        std::int32_t format;
        std::string extension;  // of the saved file; empty: none saved
        std::string probe;      // of the saved file, or a part of the reason why none was
    } cases[] = {
        {{"h264.ts", "aac.ts"}, true, 0, "mp4", "h264|160|120 aac|1" + kMp4Family},
        {{"vp9.webm", "opus.webm"}, true, 0, "webm", "vp9|160|120 opus|1 matroska,webm"},
        // Picture and sound as two progressive files (a helper's best of each).
        {{"h264.ts", "opus.webm"}, false, 0, "mkv", "h264|160|120 opus|1 matroska,webm"},
        {{"both.ts"}, true, 0, "mp4", "h264|160|120 aac|1" + kMp4Family},
        {{"h264.ts", "cut.ts"}, true, 0, "", "the audio stream lasts only 0."},
        // A conversion reads the picture of the first and the sound of the second.
        {{"h264.ts", "aac.ts"}, true, 6, "avi", "mpeg4|160|120 mp3|1 avi"},
    };
    request_.fileExtension = "mp4";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pieces.back() + " " + c.extension);
        for (const auto& entry : fs::directory_iterator(work_.Path())) fs::remove_all(entry.path());
        fs::remove_all(request_.saveDirectory);
        request_.inputs.clear();
        std::vector<std::string> sources;
        for (const std::string& piece : c.pieces) {
            const std::size_t index = request_.inputs.size();
            request_.inputs.push_back(SourceFileName(index == 0 ? "mp4" : "1.mp4"));
            fs::copy_file(pieces / piece, work_ / request_.inputs.back());
            sources.push_back(pieces / piece);
        }
        request_.streamed = c.streamed;
        request_.formatIndex = c.format;
        Recorder recorder;
        const TDeliveryResult result = Run(recorder);
        const std::string_view told = c.format == 0 ? kMergingInProgressText
                                                    : kDecodingInProgressText;
        EXPECT_EQ(recorder.statuses, std::vector<std::string>{std::string(told)});
        if (c.extension.empty()) {
            EXPECT_EQ(result.statusText, kNotSavedText);
            EXPECT_FALSE(result.delivered);
            EXPECT_NE(result.reason.find(c.probe), std::string::npos) << result.reason;
            EXPECT_TRUE(Names(request_.saveDirectory).empty());
            EXPECT_EQ(Names(work_.Path()).size(), c.pieces.size());
            continue;
        }
        EXPECT_EQ(result.statusText, kSavedText) << result.reason;
        EXPECT_EQ(result.destination, Destination(c.extension));
        EXPECT_EQ(Probe(result.destination), c.probe);
        double longest = 0;
        for (const std::string& source : sources) longest = std::max(longest, Seconds(source));
        EXPECT_NEAR(Seconds(result.destination), longest, 0.25);
        if (c.format == 0) {
            EXPECT_EQ(FrameHashes({result.destination}), FrameHashes(sources));
        }
        ASSERT_FALSE(recorder.fractions.empty());
        EXPECT_EQ(recorder.fractions.back(), 1.0);
    }
}
