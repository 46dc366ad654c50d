#include "job/convert/ProcessChild.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "job/convert/ProcessRunner.h"

namespace tarnwick {

namespace {

// The child moves the descriptors it hands on above this number first, so that no dup2 onto
// 0 to 3 can overwrite one still to be handed on.
constexpr int kFirstScratchDescriptor = 16;

[[noreturn]] void ReportAndExit(int fd, int stage, int error) {
    const TChildFailure failure{stage, error};
    [[maybe_unused]] const ssize_t n = ::write(fd, &failure, sizeof failure);
    ::_exit(127);
}

}  // namespace

[[noreturn]] void RunChild(const TChildPlan& plan) {
    // The parent's handlers and ignored signals are not the program's business.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);

    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the line above; its death signal would never come.
    if (::getppid() != plan.parent) ::_exit(127);

    const int report = ::fcntl(plan.execReport, F_DUPFD_CLOEXEC, kFirstScratchDescriptor);
    const int in = ::fcntl(plan.standardInput, F_DUPFD_CLOEXEC, kFirstScratchDescriptor);
    const int out = ::fcntl(plan.standardOutput, F_DUPFD_CLOEXEC, kFirstScratchDescriptor);
    const int err = ::fcntl(plan.standardError, F_DUPFD_CLOEXEC, kFirstScratchDescriptor);
    const int progress =
        plan.progress >= 0 ? ::fcntl(plan.progress, F_DUPFD_CLOEXEC, kFirstScratchDescriptor) : -1;
    if (report < 0) ::_exit(127);
    if (in < 0 || out < 0 || err < 0 || (plan.progress >= 0 && progress < 0))
        ReportAndExit(report, kStageExec, errno);
    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
        ReportAndExit(report, kStageExec, errno);
    int firstFree = 3;
    if (progress >= 0) {
        if (::dup2(progress, TProcessRunner::kProgressDescriptor) < 0)
            ReportAndExit(report, kStageExec, errno);
        firstFree = TProcessRunner::kProgressDescriptor + 1;
    }
    // The report pipe stays open until the exec closes it; every other descriptor of ours goes,
    // also those opened elsewhere in the program without O_CLOEXEC.
    if (::dup2(report, firstFree) < 0 || ::fcntl(firstFree, F_SETFD, FD_CLOEXEC) < 0)
        ReportAndExit(report, kStageExec, errno);
    if (::syscall(SYS_close_range, firstFree + 1, ~0U, 0) < 0) {
        for (int fd = firstFree + 1; fd < 65536; ++fd) ::close(fd);
    }

    // Lowered only (an unprivileged process cannot raise its hard limit). getrlimit and
    // setrlimit are bare system calls, safe here.
    if (plan.memoryLimit > 0) {
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_DATA, &limit) < 0) ReportAndExit(firstFree, kStageExec, errno);
        limit.rlim_cur = limit.rlim_max = std::min(plan.memoryLimit, limit.rlim_max);
        if (::setrlimit(RLIMIT_DATA, &limit) < 0) ReportAndExit(firstFree, kStageExec, errno);
    }
    if (::chdir(plan.directory) < 0) ReportAndExit(firstFree, kStageDirectory, errno);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(plan.program, plan.argv, plan.envp);
    ReportAndExit(firstFree, kStageExec, errno);
}

pid_t ForkChild(const TChildPlan& plan) {
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) RunChild(plan);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = forkError;
    return pid;
}

std::optional<TChildFailure> ChildFailure(int fd, pid_t pid) {
    TChildFailure failure{};
    ssize_t got;
    while ((got = ::read(fd, &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (got <= 0) return std::nullopt;
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return failure;
}

}  // namespace tarnwick
