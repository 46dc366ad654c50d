#pragma once

// Looks at another thread of this process from outside, through /proc: lets a test wait until a
// thread is really asleep inside a given system call (say, blocked in poll) before it acts, with
// no sleep and no guess.

#include <chrono>
#include <vector>

namespace tarnwick::testing {

// The calling thread's kernel id.
int CurrentThreadId();

// True once thread tid sleeps inside one of the system calls (numbers from <sys/syscall.h>),
// false when that did not happen within the limit.
bool WaitUntilBlockedIn(int tid, const std::vector<long>& syscalls,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));

// The system calls a blocked wait or receive sleeps in.
const std::vector<long>& WaitCalls();
const std::vector<long>& ReceiveCalls();

}  // namespace tarnwick::testing
