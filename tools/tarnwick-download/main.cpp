// tarnwick-download [--lookup HOST:PORT] [--site N] [--hd] [--work-dir DIR] [--format F]
//                   [--quality Q] [--save-dir DIR] [--connections N] [--limit-rate RATE] ADDRESS
// tarnwick-download --version
//
// Runs one whole job through the same download session as the window and prints what the window
// would show: the four description lines, "Download started.", the progress line (on a terminal
// rewritten in place; otherwise one line per whole percent, or per MiB when the total is
// unknown), then the job's status text; after a completed download, the conversion's
// "Decoding in progress." (with the percent done on a terminal), its final text and the file
// saved. Every text that comes from outside (the record, a server's status line) is printed
// with its control characters replaced, so it can neither drive the terminal nor forge a line.
// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) abort the job, or stop the conversion, like
// the window's Abort button; SIGPIPE is ignored (a closed output must not kill a delivery half
// way). Exit status 0 when a file was delivered, 1 for any other outcome, 2 for a wrong command
// line.
//
// The front end runs on the main thread: the session's events and the signals come to it through
// one event loop, so everything printed is printed by one thread, in order.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/ScopedFd.h"
#include "core/StrUtils.h"
#include "http/IdHTTPMessages.h"
#include "http/IdRateLimit.h"
#include "job/files/Folders.h"
#include "job/lookup/RecordTexts.h"
#include "job/session/DownloadSession.h"
#include "job/session/StatusTexts.h"

namespace {

using namespace tarnwick;

// The defaults it names are the session's own.
std::string UsageText() {
    const auto fallback = [](std::int32_t value) {
        return " (default " + std::to_string(value) + ")\n";
    };
    return "usage: tarnwick-download [--lookup HOST:PORT] [--site N] [--hd] [--work-dir DIR]\n"
           "                         [--format F] [--quality Q] [--save-dir DIR]\n"
           "                         [--connections N] [--limit-rate RATE] ADDRESS\n"
           "       tarnwick-download --version\n"
           "  runs one download job for the video page ADDRESS, as the window does\n"
           "  --lookup HOST:PORT  the lookup service (default: the build's)\n"
           "  --site N            1 YouTube, 2 RedTube, 3 Metacafe, 4 Dailymotion, 5 XVideos" +
           fallback(kDefaultSiteNumber) +
           "  --hd                ask for the high-definition copy\n"
           "  --work-dir DIR      where the work files go (default: the program's folder when "
           "writable,\n"
           "                      else ~/.cache/tarnwick)\n"
           "  --format F          0 to 7, 0 keeps the download as it is" +
           fallback(kDefaultFormat) + "  --quality Q         0 to 3" + fallback(kDefaultQuality) +
           "  --save-dir DIR      where the result goes (default ~/My Web Videos)\n"
           "  --connections N     connections at once, 1 to " + std::to_string(kMaxConnections) +
           fallback(kDefaultConnections) +
           "  --limit-rate RATE   bytes per second for all connections together (500K, 2M;\n"
           "                      K 1024, M 1048576; default 0: no limit)\n"
           "  exit status 0 when a file was delivered, 1 otherwise, 2 for a wrong command line\n";
}

constexpr std::int64_t kMiB = 1024 * 1024;

std::optional<std::int32_t> NumberIn(const char* text, std::int32_t low, std::int32_t high) {
    const auto n = TryStrToInt(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

void PrintLine(std::FILE* to, std::string_view text);

// The job's settings from the command line; the session's defaults for what it does not say.
std::optional<TJobRequest> ParseArguments(int argc, char** argv) {
    TJobRequest settings;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--hd") {
            settings.hdFlag = 1;
        } else if (!hasValue) {
            return std::nullopt;
        } else if (option == "--lookup") {
            const auto lookup = ParseHostAndPort(argv[++i]);
            if (!lookup) return std::nullopt;
            settings.lookup = *lookup;
        } else if (option == "--site" || option == "--format" || option == "--quality") {
            const std::int32_t high = option == "--site" ? 5 : option == "--format" ? 7 : 3;
            const auto n = NumberIn(argv[++i], option == "--site" ? 1 : 0, high);
            if (!n) return std::nullopt;
            (option == "--site"     ? settings.siteNumber
             : option == "--format" ? settings.formatIndex
                                    : settings.qualityIndex) = *n;
        } else if (option == "--connections") {
            const auto n = NumberIn(argv[++i], 1, kMaxConnections);
            if (!n) return std::nullopt;
            settings.connections = *n;
        } else if (option == "--limit-rate") {
            const auto rate = ParseRate(argv[++i]);
            if (!rate) {
                PrintLine(stderr, "tarnwick-download: " + Format(RSRateNotUnderstood, argv[i]));
                return std::nullopt;
            }
            settings.rateLimit = *rate;
        } else if (option == "--work-dir" || option == "--save-dir") {
            const std::string value = argv[++i];
            if (value.empty()) return std::nullopt;
            (option == "--work-dir" ? settings.workDirectory : settings.saveDirectory) = value;
        } else {
            return std::nullopt;
        }
    }
    if (argc - i != 1 || argv[i][0] == '\0') return std::nullopt;
    settings.pageAddress = argv[i];
    // The window's places, so the tool and the window share their work and save folders.
    const TStartPlaces places = CurrentStartPlaces();
    if (settings.workDirectory.empty()) settings.workDirectory = WorkDirectoryFor(places);
    if (settings.saveDirectory.empty())
        settings.saveDirectory = DefaultSaveDirectory(places.homeDirectory);
    settings.programDirectory = DirectoryOf(places.programFile);
    return settings;
}

// The main thread's task queue: tasks posted from any thread run in order on the thread that
// runs the loop. SIGINT, SIGTERM and SIGHUP are taken out of normal delivery (for this thread and
// every thread started after) and come to the loop instead; SIGPIPE is ignored.
class EventLoop : public TTaskQueue {
public:
    EventLoop() : wake_(::eventfd(0, EFD_CLOEXEC)), signals_(BlockedSignals()) {
        if (wake_.Get() < 0 || signals_.Get() < 0)
            throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    }

    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        const std::uint64_t one = 1;
        static_cast<void>(::write(wake_.Get(), &one, sizeof one));
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
        ::signal(SIGPIPE, SIG_IGN);
        sigset_t set;
        ::sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return ::signalfd(-1, &set, SFD_CLOEXEC);
    }

    ScopedFd wake_;
    ScopedFd signals_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// Everything printed goes through here: one line, made safe for the terminal.
void PrintLine(std::FILE* to, std::string_view text) {
    const std::string safe = TerminalSafeText(text);
    std::fwrite(safe.data(), 1, safe.size(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// The session's events as lines: on a terminal the progress line (and the conversion's percent)
// is redrawn in place; into a file or pipe the progress is one line per whole percent (per MiB
// without a total), and the last count always gets its line.
class ToolEvents : public TSessionEvents {
public:
    explicit ToolEvents(bool terminal) : terminal_(terminal) {}

    void ShowDescription(std::uint64_t, const std::array<std::string, 4>& texts) override {
        static const char* const labels[] = {"author: ", "title: ", "duration: ", "size: "};
        for (std::size_t i = 0; i < texts.size(); ++i)
            PrintLine(stdout, labels[i] + (texts[i].starts_with("  ") ? texts[i].substr(2) : texts[i]));
    }
    void TransferBegan(std::uint64_t, std::int64_t, const std::string&) override {
        CloseLine();
        lastStep_ = -1;
        unprinted_.clear();
    }
    void TransferProgress(std::uint64_t, const TTransferProgress& progress) override {
        if (terminal_) {
            DrawInPlace(progress.Line());
            return;
        }
        const std::int64_t step = progress.totalBytes > 0
                                      ? progress.bytesSoFar * 100 / progress.totalBytes
                                      : progress.bytesSoFar / kMiB;
        if (step == lastStep_) {
            unprinted_ = progress.Line();
            return;
        }
        lastStep_ = step;
        unprinted_.clear();
        PrintLine(stdout, progress.Line());
    }
    void TransferEnded(std::uint64_t) override {
        if (!unprinted_.empty()) PrintLine(stdout, unprinted_);
        unprinted_.clear();
        CloseLine();
    }
    void ConversionProgress(std::uint64_t, double fraction) override {
        if (terminal_)
            DrawInPlace(status_ + " " + std::to_string(static_cast<int>(fraction * 100)) + "%");
    }
    void ShowStatus(std::uint64_t, const std::string& text, const std::string&) override {
        status_ = text;
        // The conversion's percent follows its status on the same line.
        if (terminal_ && text == "Decoding in progress.") return DrawInPlace(text);
        CloseLine();
        // Format 0 delivered: the status line keeps "Download is completed." (said once).
        if (text != lastStatus_) PrintLine(stdout, text);
        lastStatus_ = text;
    }
    void JobFinished(const TJobOutcome& outcome) override {
        CloseLine();
        if (outcome.delivered) {
            PrintLine(stdout, outcome.hint);
        } else if (!outcome.hint.empty()) {
            PrintLine(stderr, "reason: " + OneLineText(outcome.hint));
        }
        outcome_ = outcome;
    }

    // Event loop's thread only.
    const std::optional<TJobOutcome>& Outcome() const { return outcome_; }

private:
    void DrawInPlace(const std::string& text) {
        const std::string safe = TerminalSafeText(text);
        std::printf("\r%s\x1b[K", safe.c_str());
        std::fflush(stdout);
        lineOpen_ = true;
    }
    // Ends a line drawn in place, so the next text gets a line of its own.
    void CloseLine() {
        if (!lineOpen_) return;
        std::fputc('\n', stdout);
        std::fflush(stdout);
        lineOpen_ = false;
    }

    const bool terminal_;
    bool lineOpen_ = false;
    std::int64_t lastStep_ = -1;
    std::string unprinted_;
    std::string status_;
    std::string lastStatus_;
    std::optional<TJobOutcome> outcome_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwick-download %s\n", TARNWICK_VERSION);
        return 0;
    }
    const std::optional<TJobRequest> settings = ParseArguments(argc, argv);
    if (!settings) {
        std::fputs(UsageText().c_str(), stderr);
        return 2;
    }
    try {
        EventLoop loop;
        ToolEvents events(::isatty(STDOUT_FILENO) == 1);
        // Last made, first gone: its close releases a job that waits for this loop, however the
        // loop ends.
        TDownloadSession session(events, loop);
        if (!session.Start(*settings)) throw std::runtime_error("the job could not start");
        loop.RunUntil([&] { return events.Outcome().has_value(); },
                      [&](int) { session.Abort(); });
        return events.Outcome()->delivered ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-download: %s\n", e.what());
        return 1;
    }
}
