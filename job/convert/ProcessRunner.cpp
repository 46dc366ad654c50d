#include "job/convert/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/StrUtils.h"
#include "job/convert/ProcessChild.h"

extern char** environ;

namespace tarnwick {

namespace {

using Clock = std::chrono::steady_clock;

// Used when PATH is unset, as the C library's own search does.
constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";
// Without a process descriptor the exit is noticed by looking this often.
constexpr int kExitPollMilliseconds = 50;
// How long the pipes are read after the process has gone, in case something outside its group
// still holds them.
constexpr int kDrainMilliseconds = 1000;

// The reasons a limit gives, with the program's name and the limit in words.
constexpr const char* kTimeLimitReason = "%s did not finish within %s.";
constexpr const char* kSilenceLimitReason = "%s gave no progress report for %s.";
constexpr const char* kOutputLimitReason = "%s wrote more than %s to its standard output.";
constexpr const char* kCannotStartReason = "cannot start %s: %s";
constexpr const char* kCannotEnterReason = "cannot enter the folder %s: %s";

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

void CloseFd(int& fd) noexcept {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string ErrorText(int error) { return std::strerror(error); }

std::string DurationText(std::chrono::milliseconds limit) {
    const long long ms = limit.count();
    if (ms == 1000) return "1 second";
    if (ms % 1000 == 0) return Format("%lld seconds", ms / 1000);
    return Format("%g seconds", static_cast<double>(ms) / 1000.0);
}

std::string SizeText(std::size_t bytes) {
    constexpr std::size_t kKiB = 1024;
    if (bytes >= kKiB * kKiB && bytes % (kKiB * kKiB) == 0)
        return Format("%zu MiB", bytes / (kKiB * kKiB));
    if (bytes >= kKiB && bytes % kKiB == 0) return Format("%zu KiB", bytes / kKiB);
    return Format("%zu bytes", bytes);
}

// A pipe whose ends are closed unless handed on.
struct Pipe {
    Pipe() = default;
    ~Pipe() {
        CloseFd(read);
        CloseFd(write);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool Open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) < 0) return false;
        read = ends[0];
        write = ends[1];
        return true;
    }

    int read = -1;
    int write = -1;
};

}  // namespace

std::string FindProgram(const std::string& programDirectory, std::string_view name) {
    if (!programDirectory.empty()) {
        std::string candidate = programDirectory + "/" + std::string(name);
        if (IsExecutableFile(candidate)) return candidate;
    }
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? std::string_view(path) : kDefaultSearchPath;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view directory = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        // An empty entry would mean the current directory, which is never where we look.
        if (directory.empty()) continue;
        std::string candidate = std::string(directory) + "/" + std::string(name);
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < commandLine.size()) {
        while (i < commandLine.size() && commandLine[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < commandLine.size() && commandLine[i] != ' ') ++i;
        if (i > start) words.emplace_back(commandLine.substr(start, i - start));
    }
    return words;
}

TProcessRunner::TProcessRunner() { wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

TProcessRunner::~TProcessRunner() {
    // No abort reaches the runner once it starts to go.
    stopOnAbort_.Release();
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    CloseFd(pidFd_);
    CloseFd(outputFd_);
    CloseFd(standardOutputFd_);
    CloseFd(progressFd_);
    CloseFd(wakeFd_);
}

void TProcessRunner::Stop() noexcept {
    stopRequested_.store(true);
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool TProcessRunner::Start(const std::string& program, const std::vector<std::string>& argv,
                           const std::string& workDirectory, const TProcessOptions& options) {
    auto fail = [this](std::string reason) {
        startFailed_ = true;
        startError_ = std::move(reason);
        return false;
    };
    options_ = options;
    const std::size_t slash = program.rfind('/');
    programName_ = slash == std::string::npos ? program : program.substr(slash + 1);
    if (wakeFd_ < 0) return fail("cannot create an event descriptor: " + ErrorText(errno));
    if (options.abort) stopOnAbort_ = options.abort->OnAbort([this] { Stop(); });
    if (stopRequested_.load()) return fail("stopped");
    if (argv.empty()) return fail("empty command line");

    Pipe output, standardOutput, progress, execReport;
    if (!output.Open() || !execReport.Open() ||
        (options.separateOutput && !standardOutput.Open()) ||
        (options.progressPipe && !progress.Open()))
        return fail("cannot create a pipe: " + ErrorText(errno));
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0) return fail("cannot open /dev/null: " + ErrorText(errno));

    std::vector<char*> args;
    for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    const TChildPlan plan{program.c_str(),
                          args.data(),
                          environ,
                          workDirectory.c_str(),
                          ::getpid(),
                          devNull,
                          options.separateOutput ? standardOutput.write : output.write,
                          output.write,
                          options.progressPipe ? progress.write : -1,
                          execReport.write,
                          static_cast<rlim_t>(options.memoryLimit)};
    const pid_t pid = ForkChild(plan);
    const int forkError = errno;
    ::close(devNull);
    if (pid < 0) return fail(Format(kCannotStartReason, program.c_str(), std::strerror(forkError)));

    CloseFd(output.write);
    CloseFd(standardOutput.write);
    CloseFd(progress.write);
    CloseFd(execReport.write);
    if (const std::optional<TChildFailure> failure = ChildFailure(execReport.read, pid)) {
        if (failure->stage == kStageDirectory)
            return fail(Format(kCannotEnterReason, workDirectory.c_str(),
                               std::strerror(failure->error)));
        return fail(Format(kCannotStartReason, program.c_str(), std::strerror(failure->error)));
    }

    pid_ = pid;
    std::swap(outputFd_, output.read);
    std::swap(standardOutputFd_, standardOutput.read);
    std::swap(progressFd_, progress.read);
    startTime_ = lastProgress_ = Clock::now();
    // Without pidfd_open (kernels before 5.3) Wait looks for the exit by polling.
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    return true;
}

bool TProcessRunner::ReadInto(int& fd, bool standardOutput) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return false;
    if (n <= 0) {
        CloseFd(fd);
        return false;
    }
    const auto size = static_cast<std::size_t>(n);
    if (standardOutput) {
        const std::size_t room = options_.outputLimit - standardOutput_.size();
        standardOutput_.append(buffer, std::min(size, room));
        if (size > room) outputCapPassed_ = true;
        return true;
    }
    output_.append(buffer, size);
    // Trim in large steps so a chatty program costs no quadratic copying.
    if (output_.size() > 2 * kOutputLimit) output_.erase(0, output_.size() - kOutputLimit);
    return true;
}

void TProcessRunner::ReadProgress(const std::function<void(std::string_view)>& onProgressLine) {
    char buffer[4096];
    const ssize_t n = ::read(progressFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        CloseFd(progressFd_);
        return;
    }
    lastProgress_ = Clock::now();
    progressLine_.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = progressLine_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        if (onProgressLine)
            onProgressLine(std::string_view(progressLine_).substr(start, end - start));
    }
    progressLine_.erase(0, start);
    // A line never ends: do not keep it without bound.
    if (progressLine_.size() > kOutputLimit) progressLine_.clear();
}

void TProcessRunner::ReadReady(const pollfd* fds,
                               const std::function<void(std::string_view)>& onProgressLine,
                               const std::function<void()>& onOutput) {
    bool added = false;
    if (fds[0].revents != 0) added |= ReadInto(outputFd_, false);
    if (fds[1].revents != 0) added |= ReadInto(standardOutputFd_, true);
    if (fds[2].revents != 0) ReadProgress(onProgressLine);
    if (added && onOutput) onOutput();
}

std::optional<int> TProcessRunner::NextWait(TProcessExit& exit) const {
    if (stopRequested_.load()) {
        exit.stopped = true;
        return std::nullopt;
    }
    if (outputCapPassed_) return std::nullopt;
    const bool timeLimited = options_.timeLimit.count() > 0;
    const bool silenceLimited = options_.progressPipe && options_.silenceLimit.count() > 0;
    const auto now = Clock::now();
    if (timeLimited && now >= startTime_ + options_.timeLimit) {
        exit.limit = plTime;
        return std::nullopt;
    }
    if (silenceLimited && now >= lastProgress_ + options_.silenceLimit) {
        exit.limit = plSilence;
        return std::nullopt;
    }
    int timeout = pidFd_ >= 0 ? -1 : kExitPollMilliseconds;
    auto wakeBy = [&](Clock::time_point deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const int ms = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    };
    if (timeLimited) wakeBy(startTime_ + options_.timeLimit);
    if (silenceLimited) wakeBy(lastProgress_ + options_.silenceLimit);
    return timeout;
}

void TProcessRunner::DrainPipes(const std::function<void(std::string_view)>& onProgressLine,
                                const std::function<void()>& onOutput) {
    while (outputFd_ >= 0 || standardOutputFd_ >= 0 || progressFd_ >= 0) {
        pollfd fds[3] = {{outputFd_, POLLIN, 0},
                         {standardOutputFd_, POLLIN, 0},
                         {progressFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 3, kDrainMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        ReadReady(fds, onProgressLine, onOutput);
    }
    CloseFd(outputFd_);
    CloseFd(standardOutputFd_);
    CloseFd(progressFd_);
}

TProcessExit TProcessRunner::Wait(const std::function<void(std::string_view)>& onProgressLine,
                                  const std::function<void()>& onOutput) {
    TProcessExit exit;
    if (pid_ <= 0) {
        exit.stopped = stopRequested_.load();
        exit.reason = startFailed_ ? startError_ : "not started";
        return exit;
    }
    exit.started = true;
    bool ended = false;
    while (!ended) {
        const std::optional<int> timeout = NextWait(exit);
        if (!timeout) break;
        pollfd fds[5] = {{outputFd_, POLLIN, 0},
                         {standardOutputFd_, POLLIN, 0},
                         {progressFd_, POLLIN, 0},
                         {pidFd_, POLLIN, 0},
                         {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 5, *timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            if (pidFd_ < 0) {
                // Looks without reaping, so the process group stays ours until Reap.
                siginfo_t info{};
                ended = ::waitid(P_PID, static_cast<id_t>(pid_), &info,
                                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == pid_;
            }
            continue;
        }
        ReadReady(fds, onProgressLine, onOutput);
        if (fds[3].revents != 0) ended = true;
    }

    Reap(exit);
    // The process group is gone; what its pipes still hold is read to the end.
    DrainPipes(onProgressLine, onOutput);
    if (output_.size() > kOutputLimit) output_.erase(0, output_.size() - kOutputLimit);
    // Output cut at the cap is never whole, whoever ended the process.
    if (outputCapPassed_ && !exit.stopped) exit.limit = plOutput;
    if (exit.limit != plNone) exit.reason = LimitReason(exit.limit);
    return exit;
}

void TProcessRunner::Reap(TProcessExit& exit) {
    // Until the program is reaped its process group cannot be reused, so this reaches only the
    // program and what it started, also after a normal exit.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    CloseFd(pidFd_);
    if (reaped < 0) return;
    if (WIFEXITED(status)) {
        exit.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit.signal = WTERMSIG(status);
    }
}

std::string TProcessRunner::LimitReason(TProcessLimit limit) const {
    const char* name = programName_.c_str();
    switch (limit) {
        case plTime:
            return Format(kTimeLimitReason, name, DurationText(options_.timeLimit).c_str());
        case plSilence:
            return Format(kSilenceLimitReason, name, DurationText(options_.silenceLimit).c_str());
        case plOutput:
            return Format(kOutputLimitReason, name, SizeText(options_.outputLimit).c_str());
        case plNone:
            break;
    }
    return {};
}

std::string TProcessRunner::LastOutputLine() const {
    std::size_t end = output_.size();
    while (end > 0) {
        std::size_t start = output_.find_last_of("\r\n", end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        const std::string_view line = std::string_view(output_).substr(start, end - start);
        if (line.find_first_not_of(" \t") != std::string_view::npos) return std::string(line);
        if (start == 0) break;
        end = start - 1;
    }
    return {};
}

}  // namespace tarnwick
