#include "job/ConverterProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace tarnwick {

namespace {

// Used when PATH is unset, as the C library's own search does.
constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";
// Without a process descriptor the exit is noticed by looking this often.
constexpr int kExitPollMilliseconds = 50;
// How long the pipes are read after the process has gone, in case something outside its group
// still holds them.
constexpr int kDrainMilliseconds = 1000;

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

// posix_spawn's attributes and file actions, released on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawnattr_init(&attr);
        ::posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
};

}  // namespace

std::string FindConverter(const std::string& programDirectory, std::string_view name) {
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

TConverterProcess::TConverterProcess() {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TConverterProcess::~TConverterProcess() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    CloseFd(pidFd_);
    CloseFd(outputFd_);
    CloseFd(progressFd_);
    CloseFd(wakeFd_);
}

void TConverterProcess::Stop() noexcept {
    stopRequested_.store(true);
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool TConverterProcess::Start(const std::string& program, const std::vector<std::string>& argv,
                              const std::string& workDirectory) {
    auto fail = [this](std::string reason) {
        startFailed_ = true;
        startError_ = std::move(reason);
        return false;
    };
    if (wakeFd_ < 0) return fail("cannot create an event descriptor: " + ErrorText(errno));
    if (stopRequested_.load()) return fail("stopped");
    if (argv.empty()) return fail("empty command line");

    int output[2];
    int progress[2];
    if (::pipe2(output, O_CLOEXEC) < 0) return fail("cannot create a pipe: " + ErrorText(errno));
    if (::pipe2(progress, O_CLOEXEC) < 0) {
        const int error = errno;
        ::close(output[0]);
        ::close(output[1]);
        return fail("cannot create a pipe: " + ErrorText(error));
    }

    SpawnSetup setup;
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&setup.attr, &signals);
    // Signals this program ignores (SIGPIPE) are not the converter's business.
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(&setup.attr, &signals);
    ::posix_spawnattr_setpgroup(&setup.attr, 0);
    ::posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                POSIX_SPAWN_SETPGROUP);
    ::posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&setup.actions, output[1], 1);
    ::posix_spawn_file_actions_adddup2(&setup.actions, output[1], 2);
    ::posix_spawn_file_actions_adddup2(&setup.actions, progress[1], kProgressDescriptor);
    // Descriptors opened elsewhere in the program without O_CLOEXEC stay ours too.
    ::posix_spawn_file_actions_addclosefrom_np(&setup.actions, kProgressDescriptor + 1);
    ::posix_spawn_file_actions_addchdir_np(&setup.actions, workDirectory.c_str());

    std::vector<char*> args;
    for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    const int result =
        ::posix_spawn(&pid_, program.c_str(), &setup.actions, &setup.attr, args.data(), environ);
    ::close(output[1]);
    ::close(progress[1]);
    outputFd_ = output[0];
    progressFd_ = progress[0];
    if (result != 0) {
        pid_ = -1;
        CloseFd(outputFd_);
        CloseFd(progressFd_);
        return fail("cannot start " + program + ": " + ErrorText(result));
    }
    // Without pidfd_open (kernels before 5.3) Wait looks for the exit by polling.
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    return true;
}

void TConverterProcess::AppendOutput(const char* data, std::size_t size) {
    output_.append(data, size);
    // Trim in large steps so a chatty converter costs no quadratic copying.
    if (output_.size() > 2 * kOutputLimit) output_.erase(0, output_.size() - kOutputLimit);
}

void TConverterProcess::ReadProgress(const std::function<void(std::string_view)>& onProgressLine) {
    char buffer[4096];
    const ssize_t n = ::read(progressFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        CloseFd(progressFd_);
        return;
    }
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

TProcessExit TConverterProcess::Wait(const std::function<void(std::string_view)>& onProgressLine,
                                     const std::function<void()>& onOutput) {
    TProcessExit exit;
    if (pid_ <= 0) {
        exit.stopped = stopRequested_.load();
        exit.reason = startFailed_ ? startError_ : "not started";
        return exit;
    }
    exit.started = true;
    auto readOutput = [&] {
        char buffer[4096];
        const ssize_t n = ::read(outputFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) return;
        if (n <= 0) {
            CloseFd(outputFd_);
            return;
        }
        AppendOutput(buffer, static_cast<std::size_t>(n));
        if (onOutput) onOutput();
    };

    bool ended = false;
    while (!ended) {
        if (stopRequested_.load()) {
            exit.stopped = true;
            break;
        }
        pollfd fds[4] = {{outputFd_, POLLIN, 0},
                         {progressFd_, POLLIN, 0},
                         {pidFd_, POLLIN, 0},
                         {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 4, pidFd_ >= 0 ? -1 : kExitPollMilliseconds);
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
        if (fds[0].revents != 0) readOutput();
        if (fds[1].revents != 0) ReadProgress(onProgressLine);
        if (fds[2].revents != 0) ended = true;
    }

    Reap(exit);
    // The process group is gone; what its pipes still hold is read to the end.
    while (outputFd_ >= 0 || progressFd_ >= 0) {
        pollfd fds[2] = {{outputFd_, POLLIN, 0}, {progressFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, kDrainMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        if (fds[0].revents != 0) readOutput();
        if (fds[1].revents != 0) ReadProgress(onProgressLine);
    }
    CloseFd(outputFd_);
    CloseFd(progressFd_);
    if (output_.size() > kOutputLimit) output_.erase(0, output_.size() - kOutputLimit);
    return exit;
}

void TConverterProcess::Reap(TProcessExit& exit) {
    // Until the converter is reaped its process group cannot be reused, so this reaches only
    // the converter and what it started, also after a normal exit.
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

std::string TConverterProcess::LastOutputLine() const {
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
