// Conversion and delivery end to end, with the real ffmpeg on small samples the suite makes, and
// ffprobe reading what was delivered.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "job/ConversionTable.h"
#include "job/ConvertAndDeliver.h"
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

class Recorder : public TDeliveryObserver {
public:
    void DeliveryStatus(const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            statuses.push_back(text);
        }
        if (onStatus) onStatus();
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
        changed_.notify_all();
    }
    bool WaitForStatus() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [this] { return !statuses.empty() || finishedCalls > 0; });
    }

    std::function<void()> onStatus;  // called on the task's thread
    std::vector<std::string> statuses;
    std::vector<double> fractions;
    TDeliveryResult result;
    int finishedCalls = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

struct Probe {
    std::string container;
    std::string videoCodec;
    int width = 0;
    int height = 0;
    int channels = 0;
};

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t end = line.find('|', start);
        if (end == std::string::npos) end = line.size();
        const std::string item = line.substr(start, end - start);
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos) fields[item.substr(0, eq)] = item.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

Probe ProbeFile(const std::string& path) {
    const auto run = RunProgram(
        "ffprobe", {"-v", "error", "-show_entries",
                    "format=format_name:stream=codec_type,codec_name,width,height,channels", "-of",
                    "compact=p=0", path});
    Probe probe;
    std::size_t start = 0;
    for (std::size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
        auto fields = Fields(run.out.substr(start, end - start));
        if (fields.count("format_name")) probe.container = fields["format_name"];
        if (fields["codec_type"] == "video") {
            probe.videoCodec = fields["codec_name"];
            probe.width = std::stoi(fields["width"]);
            probe.height = std::stoi(fields["height"]);
        }
        if (fields["codec_type"] == "audio") probe.channels = std::stoi(fields["channels"]);
    }
    return probe;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.insert(entry.path().filename().string());
    return names;
}

// Lets this thread, and the threads it starts, be refused by file permissions even as root.
bool DropFileCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) |
                           (1u << CAP_FOWNER));
    return ::syscall(SYS_capset, &header, data) == 0;
}

class ConvertAndDeliverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        samples_ = std::make_unique<TempFolder>();
        for (const auto& [name, codecs] :
             std::map<std::string, std::vector<std::string>>{
                 {"video.flv", {"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050"}},
                 {"video.mp4", {"-c:v", "mpeg4", "-c:a", "aac"}}}) {
            std::vector<std::string> args = {
                "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                "testsrc=size=320x240:rate=25:duration=1", "-f", "lavfi", "-i",
                "sine=frequency=440:duration=1"};
            args.insert(args.end(), codecs.begin(), codecs.end());
            args.push_back(*samples_ / name);
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

struct FormatCase {
    std::int32_t format;
    std::int32_t quality;
    std::string container;
    std::string videoCodec;  // empty: audio only
    int width;
    int height;
    int channels;
};

const std::string kMp4Family = "mov,mp4,m4a,3gp,3g2,mj2";

}  // namespace

TEST_F(ConvertAndDeliverTest, EveryFormatAndQualityFromAnFlvDownload) {
    const FormatCase cases[] = {
        {1, 0, kMp4Family, "h264", 176, 144, 1},     {1, 1, kMp4Family, "h264", 320, 240, 1},
        {1, 2, kMp4Family, "h264", 320, 240, 2},     {1, 3, kMp4Family, "h264", 320, 240, 2},
        {2, 0, kMp4Family, "mpeg4", 480, 320, 2},    {2, 1, kMp4Family, "mpeg4", 480, 320, 2},
        {2, 2, kMp4Family, "mpeg4", 480, 320, 2},    {2, 3, kMp4Family, "mpeg4", 640, 480, 2},
        {3, 0, kMp4Family, "h264", 176, 96, 1},      {3, 1, kMp4Family, "h264", 320, 240, 1},
        {3, 2, kMp4Family, "h264", 368, 208, 2},     {3, 3, kMp4Family, "h264", 368, 208, 2},
        {4, 0, kMp4Family, "h263", 128, 96, 1},      {4, 1, kMp4Family, "h263", 176, 144, 1},
        {4, 2, kMp4Family, "h263", 176, 144, 1},     {4, 3, kMp4Family, "h263", 352, 288, 1},
        {5, 0, "asf", "msmpeg4v3", 320, 240, 1},     {5, 1, "asf", "msmpeg4v3", 320, 240, 2},
        {5, 2, "asf", "msmpeg4v3", 320, 240, 2},     {5, 3, "asf", "msmpeg4v3", 320, 240, 2},
        {6, 0, "avi", "mpeg4", 320, 240, 1},         {6, 1, "avi", "mpeg4", 320, 240, 2},
        {6, 2, "avi", "mpeg4", 320, 240, 2},         {6, 3, "avi", "mpeg4", 320, 240, 2},
        {7, 0, "mp3", "", 0, 0, 2},                  {7, 1, "mp3", "", 0, 0, 2},
        {7, 2, "mp3", "", 0, 0, 2},                  {7, 3, "mp3", "", 0, 0, 2},
    };
    PlaceSample("video.flv");
    for (const auto& c : cases) {
        SCOPED_TRACE(BuildConverterCommand(c.format, c.quality, "flv"));
        request_.formatIndex = c.format;
        request_.qualityIndex = c.quality;
        Recorder recorder;
        const TDeliveryResult result = Run(recorder);
        const std::string destination = Destination(std::string(TargetExtension(c.format)));
        EXPECT_EQ(recorder.statuses, std::vector<std::string>{std::string(kDecodingInProgressText)});
        EXPECT_EQ(result.statusText, kSavedText) << result.reason;
        EXPECT_TRUE(result.delivered);
        EXPECT_EQ(result.destination, destination);
        const Probe probe = ProbeFile(destination);
        EXPECT_EQ(probe.container, c.container);
        EXPECT_EQ(probe.videoCodec, c.videoCodec);
        EXPECT_EQ(probe.width, c.width);
        EXPECT_EQ(probe.height, c.height);
        EXPECT_EQ(probe.channels, c.channels);
        // The fraction comes from the input's duration, only grows, and ends at 1.
        ASSERT_FALSE(recorder.fractions.empty());
        EXPECT_TRUE(std::is_sorted(recorder.fractions.begin(), recorder.fractions.end()));
        EXPECT_GE(recorder.fractions.front(), 0.0);
        EXPECT_EQ(recorder.fractions.back(), 1.0);
    }
    // The download itself is never touched.
    EXPECT_EQ(ReadWholeFile(work_ / "video.flv"), ReadWholeFile(*samples_ / "video.flv"));
}

TEST_F(ConvertAndDeliverTest, AnMp4DownloadRunsTheHighDefinitionCommandOnlyForFormat6) {
    PlaceSample("video.mp4");
    request_.fileExtension = "mp4";
    request_.formatIndex = 6;
    request_.qualityIndex = 3;
    PlaceEarlierDestination("avi");
    Recorder hd;
    // The save folder is taken away while the converter runs; delivery makes it again.
    hd.onStatus = [&] { fs::remove_all(request_.saveDirectory); };
    TDeliveryResult result = Run(hd);
    EXPECT_EQ(result.statusText, kSavedText) << result.reason;
    Probe probe = ProbeFile(Destination("avi"));
    EXPECT_EQ(probe.container, "avi");
    EXPECT_EQ(probe.videoCodec, "mpeg4");
    EXPECT_EQ(probe.width, 320);  // the high-definition command keeps the size
    EXPECT_EQ(probe.channels, 1);

    // Format 2 writes an "mp4" too: the converter must not write onto its input.
    request_.formatIndex = 2;
    request_.qualityIndex = 0;
    Recorder iphone;
    result = Run(iphone);
    EXPECT_EQ(result.statusText, kSavedText) << result.reason;
    probe = ProbeFile(Destination("mp4"));
    EXPECT_EQ(probe.videoCodec, "mpeg4");
    EXPECT_EQ(probe.width, 480);
    EXPECT_EQ(probe.height, 320);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_EQ(ReadWholeFile(work_ / "video.mp4"), ReadWholeFile(*samples_ / "video.mp4"));

    ClearTemporaryFiles(work_.Path());
    EXPECT_EQ(Names(work_.Path()), std::set<std::string>{});
}

TEST_F(ConvertAndDeliverTest, FailuresDeliverNothingAndKeepTheDestination) {
    TempFolder emptyPath;
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    struct FailureCase {
        std::string name;
        std::int32_t format;
        std::function<void()> arrange;
        std::string statusText;
        std::string reason;  // contained in the result's reason
    };
    const FailureCase cases[] = {
        {"ffmpeg missing", 6,
         [&] {
             PlaceSample("video.flv");
             ::setenv("PATH", emptyPath.Path().c_str(), 1);
         },
         std::string(kDecodingAbortedText),
         "ffmpeg was not found in the program's folder or on the PATH"},
        // An earlier job's output under the output name must not be delivered either.
        {"corrupt download", 6,
         [&] {
             std::ofstream(work_ / "video.flv") << PatternText(50000);
             std::ofstream(work_ / "video.avi") << "an earlier job's conversion";
         },
         std::string(kDecodingAbortedText), "video.flv: Invalid data found when processing input"},
        {"nothing downloaded, no conversion", 0, [] {}, std::string(kNotSavedText),
         "the download left no file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearTemporaryFiles(work_.Path());
        fs::remove_all(request_.saveDirectory);
        const std::string extension = c.format == 0 ? "flv" : "avi";
        PlaceEarlierDestination(extension);
        c.arrange();
        request_.formatIndex = c.format;
        Recorder recorder;
        const TDeliveryResult result = Run(recorder);
        ::setenv("PATH", savedPath.c_str(), 1);
        EXPECT_EQ(result.statusText, c.statusText);
        EXPECT_FALSE(result.delivered);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(ReadWholeFile(Destination(extension)), kEarlierVideo);
        EXPECT_EQ(Names(request_.saveDirectory), std::set<std::string>{"clip." + extension});
        EXPECT_FALSE(fs::exists(work_ / "video.avi"));
    }
}

TEST_F(ConvertAndDeliverTest, AReadOnlySaveFolderGivesCouldNotBeSaved) {
    PlaceSample("video.flv");
    PlaceEarlierDestination("avi");
    ::chmod(request_.saveDirectory.c_str(), 0555);
    Recorder recorder;
    TDeliveryResult result;
    std::thread([&] {
        ASSERT_TRUE(DropFileCapabilities());
        result = Run(recorder);
    }).join();
    EXPECT_EQ(result.statusText, kNotSavedText);
    EXPECT_FALSE(result.delivered);
    EXPECT_NE(result.reason.find("Permission denied"), std::string::npos) << result.reason;
    EXPECT_EQ(ReadWholeFile(Destination("avi")), kEarlierVideo);
    EXPECT_EQ(Names(request_.saveDirectory), std::set<std::string>{"clip.avi"});
}

TEST_F(ConvertAndDeliverTest, StopEndsARunningConverterAndDeliversNothing) {
    ASSERT_EQ(::mkfifo((work_ / "video.flv").c_str(), 0600), 0);
    PlaceEarlierDestination("avi");
    Recorder recorder;
    TConvertAndDeliver task(request_, recorder);
    task.Start();
    ASSERT_TRUE(recorder.WaitForStatus());
    // The converter has the input open once a writer can open the pipe without waiting.
    int fifo = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fifo < 0 && std::chrono::steady_clock::now() < deadline) {
        fifo = ::open((work_ / "video.flv").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fifo < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(fifo, 0) << "the converter never opened its input";
    const std::string half = ReadWholeFile(*samples_ / "video.flv").substr(0, 30000);
    ASSERT_EQ(::write(fifo, half.data(), half.size()), static_cast<ssize_t>(half.size()));
    EXPECT_FALSE(task.Finished());

    task.Stop();
    task.Join();
    EXPECT_EQ(recorder.finishedCalls, 1);
    EXPECT_EQ(recorder.result.statusText, kDecodingAbortedText);
    EXPECT_FALSE(recorder.result.delivered);
    EXPECT_EQ(ReadWholeFile(Destination("avi")), kEarlierVideo);
    // The reader is gone: the converter was killed, and reaped (nothing of ours left to wait for).
    const auto previous = ::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(::write(fifo, "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::signal(SIGPIPE, previous);
    ::close(fifo);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(ConvertAndDeliverTest, Format0DeliversTheDownloadWithoutCopyingOnOneFileSystem) {
    PlaceSample("video.flv");
    PlaceEarlierDestination("flv");
    request_.formatIndex = 0;
    Recorder sameSystem;
    TDeliveryResult result = Run(sameSystem);
    EXPECT_TRUE(sameSystem.statuses.empty());
    EXPECT_EQ(result.statusText, "");
    EXPECT_TRUE(result.delivered) << result.reason;
    struct stat work {}, delivered {};
    ASSERT_EQ(::stat((work_ / "video.flv").c_str(), &work), 0);
    ASSERT_EQ(::stat(Destination("flv").c_str(), &delivered), 0);
    EXPECT_EQ(work.st_ino, delivered.st_ino);
    EXPECT_EQ(Names(request_.saveDirectory), std::set<std::string>{"clip.flv"});

    // Across file systems the bytes are copied.
    TempFolder memory("/dev/shm");
    struct stat shm {};
    if (memory.Path().empty() || ::stat(memory.Path().c_str(), &shm) != 0 ||
        shm.st_dev == work.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    request_.workDirectory = memory.Path();
    fs::copy_file(*samples_ / "video.mp4", memory / "video.flv");
    Recorder otherSystem;
    result = Run(otherSystem);
    EXPECT_TRUE(result.delivered) << result.reason;
    EXPECT_EQ(ReadWholeFile(Destination("flv")), ReadWholeFile(*samples_ / "video.mp4"));
    EXPECT_EQ(Names(request_.saveDirectory), std::set<std::string>{"clip.flv"});
}
