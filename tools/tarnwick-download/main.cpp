// tarnwick-download [--lookup HOST:PORT] [--site N] [--hd] [--work-dir DIR] [--format F]
//                   [--quality Q] [--save-dir DIR] [--connections N] [--limit-rate RATE]
//                   [-a FILE | --batch-file FILE] [ADDRESS...]
// tarnwick-download --version
//
// Runs whole jobs through the same download queue and sessions as the window, one after another,
// and prints what the window would show of each: the four description lines, "Download
// started.", the progress line (on a terminal rewritten in place; otherwise one line per whole
// percent, or per MiB when the total is unknown), then the job's status text; after a completed
// download, the conversion's "Decoding in progress." or a merge's "Merging in progress." (with
// the percent done on a terminal), its final text and the file saved. With more than one
// address, or a batch file, each job's lines begin with "[k/n] " and a summary "N of M saved."
// (with ", K failed.") comes last. Every text that comes from outside (the record, a server's
// status line, the batch file) is printed with its control characters replaced, so it can
// neither drive the terminal nor forge a line.
// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) abort the running job, or stop the
// conversion, like the window's Abort button, and the jobs not yet started are not run; SIGPIPE
// is ignored (a closed output must not kill a delivery half way). Exit status 0 when every job
// delivered a file, 1 for any other outcome, 2 for a wrong command line.
//
// The front end runs on the main thread: the queue's and the sessions' events and the signals
// come to it through one event loop, so everything printed is printed by one thread, in order.

#include <unistd.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AddressList.h"
#include "EventLoop.h"
#include "core/StrUtils.h"
#include "job/convert/ConvertAndDeliver.h"
#include "http/IdHTTPMessages.h"
#include "http/IdRateLimit.h"
#include "job/files/Folders.h"
#include "job/lookup/RecordTexts.h"
#include "job/queue/DownloadQueue.h"
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
           "                         [--connections N] [--limit-rate RATE]\n"
           "                         [-a FILE | --batch-file FILE] [ADDRESS...]\n"
           "       tarnwick-download --version\n"
           "  runs a download job for each video page ADDRESS, one after another, as the window "
           "does\n"
           "  -a FILE, --batch-file FILE\n"
           "                      the addresses of FILE too, one a line (- reads standard "
           "input);\n"
           "                      blank lines and lines starting with # are skipped\n"
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
           "  exit status 0 when every job delivered a file, 1 otherwise, 2 for a wrong command "
           "line\n";
}

constexpr std::int64_t kMiB = 1024 * 1024;

std::optional<std::int32_t> NumberIn(const char* text, std::int32_t low, std::int32_t high) {
    const auto n = TryStrToInt(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

void PrintLine(std::FILE* to, std::string_view text);

// What the command line asks for.
struct TCommand {
    TJobRequest settings;  // every job's but its address
    std::vector<std::string> addresses;
    std::optional<std::string> batchFile;
};

// The options' values into command; false for an unknown option or a wrong value.
bool ParseOption(const std::string& option, const char* value, TCommand& command) {
    TJobRequest& settings = command.settings;
    if (option == "--lookup") {
        const auto lookup = ParseHostAndPort(value);
        if (!lookup) return false;
        settings.lookup = *lookup;
    } else if (option == "--site" || option == "--format" || option == "--quality") {
        const std::int32_t high = option == "--site" ? 5 : option == "--format" ? 7 : 3;
        const auto n = NumberIn(value, option == "--site" ? 1 : 0, high);
        if (!n) return false;
        (option == "--site"     ? settings.siteNumber
         : option == "--format" ? settings.formatIndex
                                : settings.qualityIndex) = *n;
    } else if (option == "--work-dir" || option == "--save-dir") {
        if (*value == '\0') return false;
        (option == "--work-dir" ? settings.workDirectory : settings.saveDirectory) = value;
    } else if (option == "--connections") {
        const auto n = NumberIn(value, 1, kMaxConnections);
        if (!n) return false;
        settings.connections = *n;
    } else if (option == "--limit-rate") {
        const auto rate = ParseRate(value);
        if (!rate) {
            PrintLine(stderr, "tarnwick-download: " + Format(RSRateNotUnderstood, value));
            return false;
        }
        settings.rateLimit = *rate;
    } else if ((option == "-a" || option == "--batch-file") && !command.batchFile) {
        if (*value == '\0') return false;
        command.batchFile = value;
    } else {
        return false;
    }
    return true;
}

// The jobs' settings from the command line; the session's defaults for what it does not say.
std::optional<TCommand> ParseArguments(int argc, char** argv) {
    TCommand command;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string option = argv[i];
        if (option == "--hd") {
            command.settings.hdFlag = 1;
        } else if (i + 1 >= argc || !ParseOption(option, argv[++i], command)) {
            return std::nullopt;
        }
    }
    for (; i < argc; ++i) {
        if (argv[i][0] == '\0') return std::nullopt;
        command.addresses.emplace_back(argv[i]);
    }
    if (command.addresses.empty() && !command.batchFile) return std::nullopt;
    // The window's places, so the tool and the window share their work and save folders.
    TJobRequest& settings = command.settings;
    const TStartPlaces places = CurrentStartPlaces();
    if (settings.workDirectory.empty()) settings.workDirectory = WorkDirectoryFor(places);
    if (settings.saveDirectory.empty())
        settings.saveDirectory = DefaultSaveDirectory(places.homeDirectory);
    settings.programDirectory = DirectoryOf(places.programFile);
    return command;
}

// Everything printed goes through here: one line, made safe for the terminal.
void PrintLine(std::FILE* to, std::string_view text) {
    const std::string safe = TerminalSafeText(text);
    std::fwrite(safe.data(), 1, safe.size(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// The sessions' events as lines: on a terminal the progress line (and the conversion's percent)
// is redrawn in place; into a file or pipe the progress is one line per whole percent (per MiB
// without a total), and the last count always gets its line. Each line begins with the prefix
// that prefixOf gives for its job ("[k/n] ", or nothing for a lone job).
class ToolEvents : public TSessionEvents {
public:
    ToolEvents(bool terminal, std::function<std::string(std::uint64_t job)> prefixOf)
        : terminal_(terminal), prefixOf_(std::move(prefixOf)) {}

    void ShowDescription(std::uint64_t job, const std::array<std::string, 4>& texts) override {
        Begin(job);
        static const char* const labels[] = {"author: ", "title: ", "duration: ", "size: "};
        for (std::size_t i = 0; i < texts.size(); ++i)
            Print(stdout, labels[i] + (texts[i].starts_with("  ") ? texts[i].substr(2) : texts[i]));
    }
    void TransferBegan(std::uint64_t job, std::int64_t, const std::string&) override {
        Begin(job);
        CloseLine();
        lastStep_ = -1;
        unprinted_.clear();
    }
    void TransferProgress(std::uint64_t job, const TTransferProgress& progress) override {
        Begin(job);
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
        Print(stdout, progress.Line());
    }
    void TransferEnded(std::uint64_t job) override {
        Begin(job);
        if (!unprinted_.empty()) Print(stdout, unprinted_);
        unprinted_.clear();
        CloseLine();
    }
    void ConversionProgress(std::uint64_t job, double fraction) override {
        Begin(job);
        if (terminal_)
            DrawInPlace(status_ + " " + std::to_string(static_cast<int>(fraction * 100)) + "%");
    }
    void ShowStatus(std::uint64_t job, const std::string& text, const std::string&) override {
        Begin(job);
        status_ = text;
        // The conversion's percent follows its status on the same line.
        if (terminal_ && (text == kDecodingInProgressText || text == kMergingInProgressText))
            return DrawInPlace(text);
        CloseLine();
        // Format 0 delivered: the status line keeps "Download is completed." (said once).
        if (text != lastStatus_) Print(stdout, text);
        lastStatus_ = text;
    }
    void JobFinished(const TJobOutcome& outcome) override {
        Begin(outcome.job);
        CloseLine();
        if (outcome.delivered) {
            Print(stdout, outcome.hint);
        } else if (!outcome.hint.empty()) {
            Print(stderr, "reason: " + OneLineText(outcome.hint));
        }
    }

private:
    // The texts of a job that follows another start afresh.
    void Begin(std::uint64_t job) {
        if (job == job_) return;
        CloseLine();
        job_ = job;
        prefix_ = prefixOf_(job);
        lastStep_ = -1;
        unprinted_.clear();
        status_.clear();
        lastStatus_.clear();
    }
    void Print(std::FILE* to, const std::string& text) { PrintLine(to, prefix_ + text); }
    void DrawInPlace(const std::string& text) {
        const std::string safe = TerminalSafeText(prefix_ + text);
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
    const std::function<std::string(std::uint64_t)> prefixOf_;
    std::uint64_t job_ = 0;
    std::string prefix_;
    bool lineOpen_ = false;
    std::int64_t lastStep_ = -1;
    std::string unprinted_;
    std::string status_;
    std::string lastStatus_;
};

// Feeds the queue one address at a time (the next when the last has finished), so a long batch
// costs no memory, and counts how the jobs ended.
class ToolQueue final : public TQueueObserver {
public:
    ToolQueue(TDownloadQueue& queue, TAddressList& list, const TJobRequest& settings)
        : queue_(queue), list_(list), settings_(settings) {}

    void EntryChanged(const TQueueEntry& entry, bool) override {
        if (!Finished(entry.state) || !numbers_.erase(entry.id)) return;
        ++(entry.state == TEntryState::Saved ? saved_ : failed_);
        FeedNext();
    }
    void EntryRemoved(std::uint64_t) override {}

    void FeedNext() {
        while (!stopped_ && numbers_.empty()) {
            const std::optional<std::string> address = list_.Next();
            if (!address) return;
            TQueueEntry entry;
            entry.address = *address;
            entry.siteNumber = settings_.siteNumber;
            entry.hdFlag = settings_.hdFlag;
            entry.formatIndex = settings_.formatIndex;
            entry.qualityIndex = settings_.qualityIndex;
            ++started_;
            // The list holds no repeats, so the queue takes each.
            if (const std::uint64_t id = queue_.Add(std::move(entry))) numbers_[id] = started_;
            else ++failed_;
        }
    }
    // Ctrl-C: the running job is aborted and no other starts.
    void Stop() {
        stopped_ = true;
        queue_.StopAll();
    }
    bool Done() const { return numbers_.empty() && (stopped_ || started_ == list_.Count()); }
    bool AllSaved() const { return saved_ == list_.Count(); }

    std::string PrefixOf(std::uint64_t job) const {
        const std::optional<TQueueEntry> entry = queue_.EntryOfJob(job);
        const auto found = entry ? numbers_.find(entry->id) : numbers_.end();
        if (found == numbers_.end()) return {};
        return "[" + std::to_string(found->second) + "/" + std::to_string(list_.Count()) + "] ";
    }
    // "N of M saved.", with ", K failed" and ", R not run" when there are such.
    std::string Summary() const {
        std::string text = std::to_string(saved_) + " of " + std::to_string(list_.Count()) +
                           " saved";
        if (failed_) text += ", " + std::to_string(failed_) + " failed";
        if (started_ < list_.Count()) text += ", " + std::to_string(list_.Count() - started_) +
                                             " not run";
        return text + ".";
    }

private:
    TDownloadQueue& queue_;
    TAddressList& list_;
    const TJobRequest& settings_;
    std::map<std::uint64_t, std::size_t> numbers_;  // the running entry's job number (k)
    std::size_t started_ = 0;
    std::size_t saved_ = 0;
    std::size_t failed_ = 0;
    bool stopped_ = false;
};

// The addresses of the command line and of its batch file; nothing when the file cannot be read.
std::optional<std::string> ReadAddresses(const TCommand& command, TAddressList& list) {
    for (const std::string& address : command.addresses) list.AddArgument(address, stderr);
    if (!command.batchFile) return std::nullopt;
    const std::string failure = list.ReadBatch(*command.batchFile, stderr);
    if (failure.empty()) return std::nullopt;
    return TerminalSafeText(*command.batchFile) + ": " + failure;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwick-download %s\n", TARNWICK_VERSION);
        return 0;
    }
    const std::optional<TCommand> command = ParseArguments(argc, argv);
    if (!command) {
        std::fputs(UsageText().c_str(), stderr);
        return 2;
    }
    try {
        EventLoop loop;
        TAddressList list;
        if (const auto failure = ReadAddresses(*command, list)) {
            std::fprintf(stderr, "tarnwick-download: %s\n", failure->c_str());
            return 2;
        }
        const bool several = command->addresses.size() > 1 || command->batchFile;
        std::unique_ptr<ToolQueue> feeder;
        ToolEvents events(::isatty(STDOUT_FILENO) == 1, [&](std::uint64_t job) {
            return several && feeder ? feeder->PrefixOf(job) : std::string();
        });
        // Last made, first gone: its end stops and closes the sessions, which releases a job
        // that waits for this loop, however the loop ends.
        TDownloadQueue queue(loop, command->settings, &events);
        feeder = std::make_unique<ToolQueue>(queue, list, command->settings);
        queue.AddObserver(*feeder);
        feeder->FeedNext();
        loop.RunUntil([&] { return feeder->Done(); }, [&](int) { feeder->Stop(); });
        if (several) PrintLine(stdout, feeder->Summary());
        return feeder->AllSaved() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-download: %s\n", e.what());
        return 1;
    }
}
