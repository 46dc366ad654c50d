#pragma once

// A program started by a test, with its standard output and error read through pipes. Destroying
// it stops the program (SIGTERM, then SIGKILL when it does not end in time) and reaps it.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

class ChildProcess {
public:
    // Starts argv[0] (looked up on the PATH) with standard input from /dev/null. Throws
    // std::runtime_error when it cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // The next line of standard output without its LF; nothing when the output ends or the limit
    // passes first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Waits for the program to end; returns its exit status (128 + signal number when killed),
    // or nothing when it is still running after the limit. Standard output and error are read
    // meanwhile (see Output, ErrorOutput).
    std::optional<int> Wait(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Sends SIGTERM and waits as Wait does.
    std::optional<int> Terminate(std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Everything read from standard output and error so far (after Wait: all of it). Output
    // leaves out the lines ReadLine returned.
    const std::string& Output() const { return out_; }
    const std::string& ErrorOutput() const { return err_; }

private:
    // Reads what the pipes hold until the deadline; returns false when it passed.
    bool Pump(std::chrono::steady_clock::time_point deadline, bool untilOutLine);

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
    std::optional<int> status_;
};

// A program run to its end: exit status (-1 when it did not end within the limit), output, error.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs program with args to its end (or the limit) and collects what it printed.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace tarnwick::testing
