#include "support/ThreadProbe.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tarnwick::testing {

int CurrentThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

namespace {

// The state letter of the thread (R running, S sleeping, ...), or 0.
char State(const std::string& task) {
    std::ifstream in(task + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');  // the command name may hold blanks
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '\0';
}

// The number of the system call the thread is inside, or -1.
long Syscall(const std::string& task) {
    std::ifstream in(task + "/syscall");
    long number = -1;
    in >> number;
    return in ? number : -1;
}

}  // namespace

bool WaitUntilBlockedIn(int tid, const std::vector<long>& syscalls,
                        std::chrono::milliseconds limit) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (State(task) == 'S') {
            const long call = Syscall(task);
            // Asleep in the same call before and after the check: not a passing moment.
            if (std::find(syscalls.begin(), syscalls.end(), call) != syscalls.end() &&
                State(task) == 'S')
                return true;
        }
        std::this_thread::yield();
    }
    return false;
}

const std::vector<long>& WaitCalls() {
    static const std::vector<long> calls = {SYS_poll, SYS_ppoll, SYS_select, SYS_pselect6};
    return calls;
}

const std::vector<long>& ReceiveCalls() {
    static const std::vector<long> calls = {SYS_recvfrom, SYS_read, SYS_recvmsg};
    return calls;
}

}  // namespace tarnwick::testing
