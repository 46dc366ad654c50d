// tarnwick-download [--lookup HOST:PORT] [--site N] [--hd] [--work-dir DIR] [--format F]
//                   [--quality Q] [--save-dir DIR] ADDRESS
// tarnwick-download --version
//
// Runs one whole job the way the window does and prints what the window would show: the four
// description lines, "Download started.", the progress line (on a terminal rewritten in place at
// most ten times a second; otherwise one line per whole percent, or per MiB when the total is
// unknown), then the job's status text; after a completed download, the conversion's
// "Decoding in progress." (with the percent done on a terminal) and its final text. Ctrl-C and
// SIGTERM abort the job, or stop the conversion, like the window's Abort button. Exit status 0
// when a file was delivered, 1 for any other outcome, 2 for a wrong command line.
//
// The front end runs on the main thread: the worker's hand-overs and the signals come to it
// through one event loop, so everything printed is printed by one thread, in order.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/ScopedFd.h"
#include "core/StrUtils.h"
#include "job/ConversionTable.h"
#include "job/ConvertAndDeliver.h"
#include "job/Folders.h"
#include "job/JobFrontEnd.h"
#include "job/JobState.h"
#include "job/StatusTexts.h"
#include "job/WorkArea.h"
#include "job/YouTubeDownloader.h"

namespace {

using namespace tarnwick;

constexpr const char* kUsage =
    "usage: tarnwick-download [--lookup HOST:PORT] [--site N] [--hd] [--work-dir DIR]\n"
    "                         [--format F] [--quality Q] [--save-dir DIR] ADDRESS\n"
    "       tarnwick-download --version\n"
    "  runs one download job for the video page ADDRESS, as the window does\n"
    "  --lookup HOST:PORT  the lookup service (default: the build's)\n"
    "  --site N            1 YouTube, 2 RedTube, 3 Metacafe, 4 Dailymotion, 5 XVideos (default 1)\n"
    "  --hd                ask for the high-definition copy\n"
    "  --work-dir DIR      where the work files go (default: the program's folder when writable,\n"
    "                      else ~/.cache/tarnwick)\n"
    "  --format F          0 to 7, 0 keeps the download as it is (default 6)\n"
    "  --quality Q         0 to 3 (default 2)\n"
    "  --save-dir DIR      where the result goes (default ~/My Web Videos)\n"
    "  exit status 0 when a file was delivered, 1 otherwise, 2 for a wrong command line\n";

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

struct Options {
    TLookupEndpoint lookup = DefaultLookupEndpoint();
    std::int32_t site = 1;
    bool hd = false;
    std::string workDirectory;
    std::int32_t format = 6;
    std::int32_t quality = 2;
    std::string saveDirectory;
    std::string address;
};

std::optional<std::int32_t> NumberIn(const char* text, std::int32_t low, std::int32_t high) {
    const auto n = TryStrToInt(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--hd") {
            options.hd = true;
        } else if (!hasValue) {
            return std::nullopt;
        } else if (option == "--lookup") {
            const auto lookup = ParseHostAndPort(argv[++i]);
            if (!lookup) return std::nullopt;
            options.lookup = *lookup;
        } else if (option == "--site" || option == "--format" || option == "--quality") {
            const std::int32_t high = option == "--site" ? 5 : option == "--format" ? 7 : 3;
            const auto n = NumberIn(argv[++i], option == "--site" ? 1 : 0, high);
            if (!n) return std::nullopt;
            (option == "--site" ? options.site : option == "--format" ? options.format
                                                                      : options.quality) = *n;
        } else if (option == "--work-dir" || option == "--save-dir") {
            const std::string value = argv[++i];
            if (value.empty()) return std::nullopt;
            (option == "--work-dir" ? options.workDirectory : options.saveDirectory) = value;
        } else {
            return std::nullopt;
        }
    }
    if (argc - i != 1 || argv[i][0] == '\0') return std::nullopt;
    options.address = argv[i];
    // The window's places, so the tool and the window share their work and save folders.
    const TStartPlaces places = CurrentStartPlaces();
    if (options.workDirectory.empty()) options.workDirectory = WorkDirectoryFor(places);
    if (options.saveDirectory.empty())
        options.saveDirectory = DefaultSaveDirectory(places.homeDirectory);
    return options;
}

// Tasks posted from any thread, run in order on the thread that runs the loop; SIGINT and
// SIGTERM are taken out of normal delivery (for this thread and every thread started after) and
// come to the loop instead.
class EventLoop {
public:
    EventLoop() : wake_(::eventfd(0, EFD_CLOEXEC)), signals_(BlockedSignals()) {
        if (wake_.Get() < 0 || signals_.Get() < 0)
            throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    }

    void Post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        const std::uint64_t one = 1;
        static_cast<void>(::write(wake_.Get(), &one, sizeof one));
    }

    // Posts task and waits until the loop has run it.
    void Call(const std::function<void()>& task) {
        std::promise<void> done;
        Post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }

    // Runs tasks, and onSignal for each signal, until done() holds after one of them.
    void RunUntil(const std::function<bool()>& done, const std::function<void(int)>& onSignal) {
        while (!done()) {
            pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {signals_.Get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;  // EINTR
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                if (::read(signals_.Get(), &info, sizeof info) == sizeof info)
                    onSignal(static_cast<int>(info.ssi_signo));
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                static_cast<void>(::read(wake_.Get(), &count, sizeof count));
            }
            for (;;) {
                std::function<void()> task;
                {
                    std::lock_guard lock(mutex_);
                    if (tasks_.empty()) break;
                    task = std::move(tasks_.front());
                    tasks_.pop_front();
                }
                task();
            }
        }
    }

private:
    static int BlockedSignals() {
        sigset_t set;
        ::sigemptyset(&set);
        ::sigaddset(&set, SIGINT);
        ::sigaddset(&set, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return ::signalfd(-1, &set, SFD_CLOEXEC);
    }

    ScopedFd wake_;
    ScopedFd signals_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// A socket error's text carries a line break.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

void PrintLine(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The progress line as the window's status line shows it: on a terminal redrawn in place at most
// ten times a second; into a file or pipe one line per whole percent (per MiB without a total).
class ProgressPrinter {
public:
    ProgressPrinter(bool terminal, std::int32_t format) : terminal_(terminal), format_(format) {}

    void Show(const TJobState& state, bool final) {
        const std::int64_t bytes = state.BytesSoFar();
        const std::int64_t total = state.TotalBytes();
        const std::string text =
            ProgressLineText(state.FileName(), state.FileExtension(), format_, bytes, total);
        if (terminal_) {
            const auto now = std::chrono::steady_clock::now();
            if (!final && lineOpen_ && now - lastDraw_ < kRedrawInterval) return;
            lastDraw_ = now;
            std::printf("\r%s\x1b[K", text.c_str());
            std::fflush(stdout);
            lineOpen_ = true;
            return;
        }
        const std::int64_t step = total > 0 ? bytes * 100 / total : bytes / kMiB;
        if (step == lastStep_ && !(final && text != lastText_)) return;
        lastStep_ = step;
        lastText_ = text;
        PrintLine(text);
    }

    // Ends a line drawn in place, so the next text gets a line of its own.
    void CloseLine() {
        if (!lineOpen_) return;
        std::fputc('\n', stdout);
        std::fflush(stdout);
        lineOpen_ = false;
    }

private:
    const bool terminal_;
    const std::int32_t format_;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::int64_t lastStep_ = -1;
    std::string lastText_;
};

// The job's front end: every hand-over is carried to the event loop's thread.
class ToolFrontEnd : public TJobFrontEnd {
public:
    ToolFrontEnd(EventLoop& loop, TJobState& state, bool terminal, std::int32_t format)
        : loop_(loop), state_(state), printer_(terminal, format) {}

    void ShowDescription(const std::array<std::string, 4>& texts) override {
        loop_.Call([&] {
            static const char* const labels[] = {"author: ", "title: ", "duration: ", "size: "};
            for (std::size_t i = 0; i < texts.size(); ++i)
                PrintLine(labels[i] + (texts[i].starts_with("  ") ? texts[i].substr(2) : texts[i]));
        });
    }

    void PostProgress(TProgressKind kind, std::int64_t) override {
        loop_.Post([this, kind] {
            switch (kind) {
                case pkBegin:
                    printer_.CloseLine();
                    PrintLine(kDownloadStartedText);
                    break;
                case pkProgress:
                    state_.ProgressHandled();
                    printer_.Show(state_, false);
                    break;
                case pkEnd:
                    printer_.Show(state_, true);
                    printer_.CloseLine();
                    break;
            }
        });
    }

    void FinishJob() override {
        loop_.Call([this] {
            printer_.CloseLine();
            PrintLine(JobStatusText(state_.Status()));
            finished_ = true;
        });
    }

    // Event loop's thread only.
    bool Finished() const { return finished_; }

private:
    EventLoop& loop_;
    TJobState& state_;
    ProgressPrinter printer_;
    bool finished_ = false;
};


// Conversion and delivery's hand-overs, carried to the event loop's thread.
class DeliveryPrinter : public TDeliveryObserver {
public:
    DeliveryPrinter(EventLoop& loop, bool terminal) : loop_(loop), terminal_(terminal) {}

    void DeliveryStatus(const std::string& text) override {
        loop_.Post([this, text] {
            status_ = text;
            if (terminal_) {
                std::printf("\r%s\x1b[K", text.c_str());
                std::fflush(stdout);
                lineOpen_ = true;
            } else {
                PrintLine(text);
            }
        });
    }

    void ConversionProgress(double fraction) override {
        if (!terminal_) return;
        loop_.Post([this, fraction] {
            const auto now = std::chrono::steady_clock::now();
            if (lineOpen_ && fraction < 1 && now - lastDraw_ < kRedrawInterval) return;
            lastDraw_ = now;
            std::printf("\r%s %d%%\x1b[K", status_.c_str(), static_cast<int>(fraction * 100));
            std::fflush(stdout);
            lineOpen_ = true;
        });
    }

    void DeliveryFinished(const TDeliveryResult& result) override {
        loop_.Post([this, result] {
            if (lineOpen_) {
                std::fputc('\n', stdout);
                lineOpen_ = false;
            }
            // Format 0 delivered: the status line keeps "Download is completed.".
            if (!result.statusText.empty()) PrintLine(result.statusText);
            if (!result.delivered && !result.reason.empty())
                std::fprintf(stderr, "reason: %s\n", OneLine(result.reason).c_str());
            delivered_ = result.delivered;
            finished_ = true;
        });
    }

    // Event loop's thread only.
    bool Finished() const { return finished_; }
    bool Delivered() const { return delivered_; }

private:
    EventLoop& loop_;
    const bool terminal_;
    std::string status_;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool finished_ = false;
    bool delivered_ = false;
};

// After "Download is completed.": converts and delivers into the save directory, as the window
// does; Ctrl-C and SIGTERM stop it. Returns the exit status: 0 only when a file was delivered.
int DeliverDownload(const Options& options, const TJobState& state,
                    const std::string& workDirectory, EventLoop& loop) {
    TDeliveryRequest request;
    request.workDirectory = workDirectory;
    request.saveDirectory = options.saveDirectory;
    request.fileName = state.FileName();
    request.fileExtension = state.FileExtension();
    request.formatIndex = options.format;
    request.qualityIndex = options.quality;
    request.programDirectory = DirectoryOf(CurrentStartPlaces().programFile);
    DeliveryPrinter printer(loop, ::isatty(STDOUT_FILENO) == 1);
    TConvertAndDeliver task(request, printer);
    task.Start();
    loop.RunUntil([&] { return printer.Finished(); }, [&](int) { task.Stop(); });
    task.Join();
    return printer.Delivered() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwick-download %s\n", TARNWICK_VERSION);
        return 0;
    }
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        EventLoop loop;
        TWorkArea area(options->workDirectory);
        TComponent owner;
        TJobState state;
        ToolFrontEnd frontEnd(loop, state, ::isatty(STDOUT_FILENO) == 1, options->format);
        TJobSettings settings;
        settings.pageAddress = options->address;
        settings.workDirectory = area.Directory();
        settings.siteNumber = options->site;
        settings.hdFlag = options->hd ? 1 : 0;
        settings.lookup = options->lookup;
        // As the window does before each job. A work file left from an earlier run may be a
        // second name of a file delivered then; the download must not write into it.
        ClearTemporaryFiles(area.Directory());
        TYouTubeDownloader worker(settings, state, frontEnd, owner);

        worker.Start();
        loop.RunUntil([&] { return frontEnd.Finished(); }, [&](int) { worker.Abort(); });
        worker.Join();
        if (state.Status() != jsCompleted) {
            if (const std::string reason = state.ErrorText(); !reason.empty())
                std::fprintf(stderr, "reason: %s\n", OneLine(reason).c_str());
            return 1;
        }
        return DeliverDownload(*options, state, area.Directory(), loop);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-download: %s\n", e.what());
        return 1;
    }
}
