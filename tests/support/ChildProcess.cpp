#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace tarnwick::testing {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

[[noreturn]] void Fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) < 0) Fail("pipe", errno);
    if (::pipe2(err, O_CLOEXEC) < 0) {
        ::close(out[0]);
        ::close(out[1]);
        Fail("pipe", errno);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int result = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (result != 0) {
        CloseFd(out_fd_);
        CloseFd(err_fd_);
        Fail("cannot start " + argv[0], result);
    }
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0) {
        const int error = errno;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        CloseFd(out_fd_);
        CloseFd(err_fd_);
        Fail("pidfd_open", error);
    }
}

ChildProcess::~ChildProcess() {
    if (!status_ && !Terminate(std::chrono::seconds(10))) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    CloseFd(pidfd_);
    CloseFd(out_fd_);
    CloseFd(err_fd_);
}

bool ChildProcess::Pump(std::chrono::steady_clock::time_point deadline, bool untilOutLine) {
    for (;;) {
        if (untilOutLine && (out_.find('\n') != std::string::npos || out_fd_ < 0)) return true;
        // Negative descriptors are skipped by poll.
        pollfd fds[3] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0},
                         {untilOutLine ? -1 : pidfd_, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        const int ready = ::poll(fds, 3, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) Fail("poll", errno);
        // Once the program has ended, take what its pipes hold without waiting for their end
        // (a grandchild may still hold them open).
        const bool ended = fds[2].revents != 0;
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_fd_ : err_fd_;
            while (fd >= 0 && fds[i].revents != 0) {
                char buffer[4096];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    CloseFd(fd);
                    break;
                }
                (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
                if (!ended) break;
                pollfd again{fd, POLLIN, 0};
                if (::poll(&again, 1, 0) <= 0) break;
            }
        }
        if (ended) return true;
    }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
    Pump(std::chrono::steady_clock::now() + limit, true);
    const std::size_t end = out_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = out_.substr(0, end);
    out_.erase(0, end + 1);
    return line;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    if (status_) return status_;
    if (!Pump(std::chrono::steady_clock::now() + limit, false)) return std::nullopt;
    int status = 0;
    if (::waitpid(pid_, &status, 0) <= 0) return std::nullopt;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

std::optional<int> ChildProcess::Terminate(std::chrono::milliseconds limit) {
    if (!status_) ::kill(pid_, SIGTERM);
    return Wait(limit);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv);
    ProgramRun run;
    run.status = child.Wait(limit).value_or(-1);
    run.out = child.Output();
    run.err = child.ErrorOutput();
    return run;
}

}  // namespace tarnwick::testing
