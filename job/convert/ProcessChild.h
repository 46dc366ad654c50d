#pragma once

// What the process runner's child does between fork and exec: it may only make async-signal-safe
// calls there, so everything it needs is prepared before the fork (TChildPlan), and a failure to
// run the program reaches the parent through the exec report pipe (TChildFailure). Used by the
// process runner alone.

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>

namespace tarnwick {

// What the child reports through the exec pipe when it cannot run the program.
struct TChildFailure {
    int stage;  // kStageDirectory or kStageExec
    int error;
};
inline constexpr int kStageDirectory = 1;
inline constexpr int kStageExec = 2;

// Everything the child needs, prepared before the fork: between fork and exec the child may
// only make async-signal-safe calls, so it allocates nothing and reads nothing shared.
struct TChildPlan {
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* directory;
    pid_t parent;
    int standardInput;
    int standardOutput;
    int standardError;
    int progress;  // -1: none
    int execReport;
    rlim_t memoryLimit;  // 0: none
};

// Forks a child that runs plan (RunChild), with every signal blocked around the fork so that no
// handler of ours runs in the child before it has reset them all. The child's pid, or -1 with
// errno when the fork failed.
pid_t ForkChild(const TChildPlan& plan);
// What the child reported through the exec report pipe (read end fd) before its exec, having
// reaped it then; nothing when the exec succeeded (the pipe closed without a word).
std::optional<TChildFailure> ChildFailure(int fd, pid_t pid);

// Sets up the child's descriptors, process group, death signal, limits and folder, and executes
// plan.program; reports a failure through plan.execReport and exits with 127. Never returns.
[[noreturn]] void RunChild(const TChildPlan& plan);

}  // namespace tarnwick
