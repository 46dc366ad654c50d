#pragma once

// A helper program's process (the converter, the page resolver): started from an argument vector
// (never through a shell) in a given directory, with standard input from /dev/null and no
// descriptor of ours inherited except the ones named here. Standard error, and standard output
// unless it is kept apart, go into one captured tail that is never shown raw. Kept apart, standard
// output is kept whole up to a cap. On request, descriptor 3 is a pipe for machine-readable
// progress (ffmpeg's "-progress pipe:3").
//
// The process leads a process group of its own. Stop, from any thread, kills that group (the
// program and anything it started); so does a limit that strikes (the wall-clock limit, the
// silence limit on the progress pipe, the cap on standard output). Wait reaps the program in
// every case, so no zombie is left. Wait blocks the calling thread only, and Stop ends it at
// once.
//
// The program dies with us: it is killed (SIGKILL) when this process ends, even by SIGKILL, and
// is not started at all when that has happened already. The kernel ties this to the *thread*
// that called Start, not to the process: when that thread ends while the program runs, the
// program is killed too. So Start and Wait belong on one thread that lives until Wait returns.
// What the program itself started is not killed with us, only by Stop and the limits.
//
// Nothing here raises; every failure is reported in TProcessExit.

#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"

namespace tarnwick {

// Where a helper program is: programDirectory + "/" + name when that is an executable file,
// otherwise the first executable file of that name in a directory of the PATH (the system's
// default path when PATH is unset; empty entries are skipped). Empty when there is none.
std::string FindProgram(const std::string& programDirectory, std::string_view name);

// The words of a command line separated by blanks; runs of blanks separate once. There is no
// quoting: the conversion table's options hold none.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// What ended a process besides its own exit, a signal or Stop.
enum TProcessLimit {
    plNone,     // no limit struck
    plTime,     // TProcessOptions::timeLimit passed since the start
    plSilence,  // nothing came on the progress pipe for TProcessOptions::silenceLimit
    plOutput,   // standard output passed TProcessOptions::outputLimit
};

struct TProcessOptions {
    // Descriptor kProgressDescriptor of the program is the write end of the progress pipe.
    bool progressPipe = false;
    // Standard output is kept apart from standard error, whole, in StandardOutput(); more than
    // outputLimit bytes of it end the process (plOutput).
    bool separateOutput = false;
    std::size_t outputLimit = 16 * 1024 * 1024;
    // Zero: no limit. Otherwise the process is ended once this much time has passed since Start
    // (plTime), or since the last bytes on the progress pipe, or since Start before the first
    // (plSilence; only with progressPipe).
    std::chrono::milliseconds timeLimit{0};
    std::chrono::milliseconds silenceLimit{0};
    // Bytes of data (heap and other private writable memory) the program, and what it starts,
    // may take; past it their allocations fail, which the program reports or dies of. 0: no
    // limit.
    std::size_t memoryLimit = 0;
    // The job's abort, when it has one (it must outlive the runner): from Start on it stops the
    // process as Stop does, and one that came before Start keeps the program from starting.
    const TIdAbortSignal* abort = nullptr;
};

struct TProcessExit {
    bool started = false;            // false: nothing ran (see reason)
    bool stopped = false;            // Stop ended it
    TProcessLimit limit = plNone;    // a limit ended it (see reason)
    int exitCode = -1;               // when it exited by itself
    int signal = 0;                  // when a signal ended it (SIGKILL after Stop or a limit)
    // Why it could not start, or which limit ended it, in words for the user's hint
    // ("ffmpeg gave no progress report for 60 seconds."). Empty otherwise.
    std::string reason;
};

class TProcessRunner {
public:
    // The captured tail of standard error (and output) keeps at most this many bytes.
    static constexpr std::size_t kOutputLimit = 64 * 1024;
    // The descriptor the program writes its progress to.
    static constexpr int kProgressDescriptor = 3;

    TProcessRunner();
    // Kills and reaps a process still running.
    ~TProcessRunner();
    TProcessRunner(const TProcessRunner&) = delete;
    TProcessRunner& operator=(const TProcessRunner&) = delete;

    // Starts program (a path) with argv (argv[0] passed as given) in workDirectory. Returns false,
    // with the reason in Wait's result, when it cannot be started or Stop came first. Once only.
    bool Start(const std::string& program, const std::vector<std::string>& argv,
               const std::string& workDirectory, const TProcessOptions& options = {});

    // Blocks until the process has ended, Stop was called or a limit struck, calling
    // onProgressLine for each line written to the progress pipe (without its LF) and onOutput
    // after new bytes have been added to Output() or StandardOutput(); then kills what is left of
    // the process group, reaps the program and reads the pipes to their end. Call once, after
    // Start, on the thread that called Start.
    TProcessExit Wait(const std::function<void(std::string_view line)>& onProgressLine = {},
                      const std::function<void()>& onOutput = {});

    // Any thread, any moment (also before Start): the process is killed; Wait returns.
    void Stop() noexcept;

    // Standard error, and standard output unless kept apart; after Wait, their last kOutputLimit
    // bytes (during Wait up to twice that).
    const std::string& Output() const noexcept { return output_; }
    // The last line of Output() that holds more than blanks; empty when none.
    std::string LastOutputLine() const;
    // Standard output when kept apart: all of it, or its first outputLimit bytes (plOutput).
    const std::string& StandardOutput() const noexcept { return standardOutput_; }

private:
    bool ReadInto(int& fd, bool standardOutput);
    void ReadProgress(const std::function<void(std::string_view)>& onProgressLine);
    void Reap(TProcessExit& exit);
    // Reads the pipes that poll found ready (fds: output, standard output, progress).
    void ReadReady(const pollfd* fds,
                   const std::function<void(std::string_view)>& onProgressLine,
                   const std::function<void()>& onOutput);
    // How long the next wait may take (ms, -1: no limit), or nothing when a stop or a limit has
    // ended the process's time (written into exit).
    std::optional<int> NextWait(TProcessExit& exit) const;
    // Reads what the pipes still hold after the process has gone, then closes them.
    void DrainPipes(const std::function<void(std::string_view)>& onProgressLine,
                    const std::function<void()>& onOutput);
    std::string LimitReason(TProcessLimit limit) const;

    pid_t pid_ = -1;
    int pidFd_ = -1;
    int outputFd_ = -1;          // standard error (and output, unless kept apart)
    int standardOutputFd_ = -1;  // standard output kept apart
    int progressFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stopRequested_{false};
    bool startFailed_ = false;
    std::string startError_;
    std::string programName_;
    TProcessOptions options_;
    std::chrono::steady_clock::time_point startTime_;
    std::chrono::steady_clock::time_point lastProgress_;
    bool outputCapPassed_ = false;
    std::string output_;
    std::string standardOutput_;
    std::string progressLine_;
    TIdAbortSignal::TRegistration stopOnAbort_;
};

}  // namespace tarnwick
