#pragma once

// The converter's process: started from an argument vector (never through a shell) in the work
// directory, with standard input from /dev/null and no descriptor of ours inherited except the
// ones named here. Standard output and error go into one captured tail that is never shown raw;
// descriptor 3 is a pipe for ffmpeg's machine-readable progress ("-progress pipe:3").
//
// The process leads a process group of its own. Stop, from any thread, kills that group (the
// converter and anything it started); Wait reaps the converter in every case, so no zombie and no
// orphan is left. Wait blocks the calling thread only, and Stop ends it at once.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::string_view kConverterProgramName = "ffmpeg";

// Where the converter is: programDirectory + "/" + name when that is an executable file,
// otherwise the first executable file of that name in a directory of the PATH (the system's
// default path when PATH is unset; empty entries are skipped). Empty when there is none.
std::string FindConverter(const std::string& programDirectory,
                          std::string_view name = kConverterProgramName);

// The words of a command line separated by blanks; runs of blanks separate once. There is no
// quoting: the converter's command lines hold none.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

struct TProcessExit {
    bool started = false;  // false: nothing ran (see reason)
    bool stopped = false;  // Stop ended it
    int exitCode = -1;     // when it exited by itself
    int signal = 0;        // when a signal ended it
    std::string reason;    // why it could not start
};

class TConverterProcess {
public:
    // The captured tail of standard output and error keeps at most this many bytes.
    static constexpr std::size_t kOutputLimit = 64 * 1024;
    // The descriptor the process writes its progress to.
    static constexpr int kProgressDescriptor = 3;

    TConverterProcess();
    // Kills and reaps a process still running.
    ~TConverterProcess();
    TConverterProcess(const TConverterProcess&) = delete;
    TConverterProcess& operator=(const TConverterProcess&) = delete;

    // Starts program (a path) with argv (argv[0] passed as given) in workDirectory. Returns false,
    // with the reason in Wait's result, when it cannot be started or Stop came first. Once only.
    bool Start(const std::string& program, const std::vector<std::string>& argv,
               const std::string& workDirectory);

    // Blocks until the process has ended or Stop was called, calling onProgressLine for each line
    // written to the progress descriptor (without its LF) and onOutput after new output has been
    // added to Output(); then kills what is left of the process group, reaps the process and
    // reads the pipes to their end. Call once, after Start, on the thread that started it.
    TProcessExit Wait(const std::function<void(std::string_view line)>& onProgressLine = {},
                      const std::function<void()>& onOutput = {});

    // Any thread, any moment (also before Start): the process is killed; Wait returns.
    void Stop() noexcept;

    // Standard output and error together; after Wait, their last kOutputLimit bytes (during
    // Wait up to twice that).
    const std::string& Output() const noexcept { return output_; }
    // The last line of Output() that holds more than blanks; empty when none.
    std::string LastOutputLine() const;

private:
    void AppendOutput(const char* data, std::size_t size);
    void ReadProgress(const std::function<void(std::string_view)>& onProgressLine);
    void Reap(TProcessExit& exit);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    int outputFd_ = -1;
    int progressFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stopRequested_{false};
    bool startFailed_ = false;
    std::string startError_;
    std::string output_;
    std::string progressLine_;
};

}  // namespace tarnwick
