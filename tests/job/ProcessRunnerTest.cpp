// The process runner, with /bin/sh standing in for the converter and the page resolver so each
// case controls what the process does.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "job/convert/ProcessRunner.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::TempFolder;

namespace {

// A descriptor of ours without O_CLOEXEC, at a number no shell uses.
constexpr int kLeakCandidate = 40;

TProcessExit RunShell(TProcessRunner& process, const std::string& script,
                      const std::string& workDirectory,
                      std::vector<std::string>* progress = nullptr,
                      const std::function<void()>& onOutput = {},
                      const TProcessOptions& options = {}) {
    if (!process.Start("/bin/sh", {"sh", "-c", script}, workDirectory, options))
        return process.Wait();
    return process.Wait(
        [&](std::string_view line) {
            if (progress) progress->emplace_back(line);
        },
        onOutput);
}

// True when no process of that id runs any more (gone, or a zombie of someone else's).
bool ProcessGone(const std::string& pidText) {
    const std::string stat = ReadWholeFile("/proc/" + pidText + "/stat");
    if (stat.empty()) return true;
    const std::size_t paren = stat.rfind(')');
    return paren != std::string::npos && stat.compare(paren + 2, 1, "Z") == 0;
}

void MakeExecutable(const std::string& path) {
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    ::chmod(path.c_str(), 0755);
}

}  // namespace

TEST(ProcessRunner, RunsInTheWorkDirectoryWithItsOwnDescriptorsOnly) {
    TempFolder work;
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int leak = ::fcntl(devNull, F_DUPFD, kLeakCandidate);  // without O_CLOEXEC
    ::close(devNull);
    ASSERT_GE(leak, kLeakCandidate);
    const std::string script =
        "{ pwd; readlink /proc/$$/fd/0; [ -e /proc/$$/fd/" + std::to_string(leak) +
        " ] && echo leaked; grep -E '^Sig(Blk|Ign)' /proc/self/status; } > where;"
        " printf 'out_time_us=5\\nprogress=continue\\nprogress=e' >&3; printf 'nd\\n' >&3;"
        " head -c 200000 /dev/zero | tr '\\0' x; echo; echo 'last words' >&2; echo '  ' >&2;"
        " exit 3";
    TProcessRunner process;
    std::vector<std::string> progress;
    // What this program ignores is not the child's business.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    const TProcessExit exit =
        RunShell(process, script, work.Path(), &progress, {}, {.progressPipe = true});
    std::signal(SIGPIPE, previous);
    ::close(leak);

    EXPECT_TRUE(exit.started);
    EXPECT_FALSE(exit.stopped);
    EXPECT_EQ(exit.exitCode, 3);
    EXPECT_EQ(ReadWholeFile(work / "where"),
              work.Path() + "\n/dev/null\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    EXPECT_EQ(progress, (std::vector<std::string>{"out_time_us=5", "progress=continue",
                                                  "progress=end"}));
    const std::string& output = process.Output();
    EXPECT_EQ(output.size(), TProcessRunner::kOutputLimit);
    EXPECT_TRUE(output.ends_with("xxxx\nlast words\n  \n")) << output.substr(65000);
    EXPECT_EQ(process.LastOutputLine(), "last words");
}

TEST(ProcessRunner, StopKillsTheProcessAndWhatItStartedAndReapsThem) {
    TempFolder work;
    TProcessRunner process;
    // The child ignores SIGTERM, so only a kill of the whole group ends it.
    const std::string script =
        "(trap '' TERM; exec sleep 60) & echo $! > child.pid; echo started; wait";
    const TProcessExit exit = RunShell(process, script, work.Path(), nullptr, [&] {
        if (process.Output().find("started") != std::string::npos) process.Stop();
    });
    EXPECT_TRUE(exit.started);
    EXPECT_TRUE(exit.stopped);
    EXPECT_EQ(exit.signal, SIGKILL);
    std::string child = ReadWholeFile(work / "child.pid");
    while (!child.empty() && child.back() == '\n') child.pop_back();
    ASSERT_FALSE(child.empty());
    // A killed process goes away a moment after the kill, not at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ProcessGone(child) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(ProcessGone(child)) << ReadWholeFile("/proc/" + child + "/stat");
    // Nothing of ours is left to reap: no zombie.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessRunner, StopBeforeStartAndAMissingProgramStartNothing) {
    TempFolder work;
    TProcessRunner stopped;
    stopped.Stop();
    EXPECT_FALSE(stopped.Start("/bin/sh", {"sh", "-c", "exit 0"}, work.Path()));
    EXPECT_TRUE(stopped.Wait().stopped);

    TProcessRunner missing;
    EXPECT_FALSE(missing.Start(work / "ffmpeg", {"ffmpeg"}, work.Path()));
    const TProcessExit exit = missing.Wait();
    EXPECT_FALSE(exit.started);
    EXPECT_EQ(exit.reason, "cannot start " + work / "ffmpeg" + ": No such file or directory");

    TProcessRunner nowhere;
    EXPECT_FALSE(nowhere.Start("/bin/sh", {"sh", "-c", "exit 0"}, work / "gone"));
    EXPECT_EQ(nowhere.Wait().reason,
              "cannot enter the folder " + work / "gone" + ": No such file or directory");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(ProcessRunner, LimitsEndTheProcessAndSayWhich) {
    using std::chrono::milliseconds;
    const struct {
        std::string script;
        TProcessOptions options;
        TProcessLimit limit;
        std::string reason;
        std::size_t outputSize, progressLines;
    } cases[] = {
        // Kept apart, standard output comes whole and standard error keeps its own.
        {"head -c 300000 /dev/zero; echo 'on error' >&2", {.separateOutput = true}, plNone, "",
         300000, 0},
        // The memory limit reaches the program (the shell's limit is in KiB).
        {"[ \"$(ulimit -d)\" = 65536 ] && head -c 1 /dev/zero; echo 'on error' >&2",
         {.separateOutput = true, .memoryLimit = 64 << 20}, plNone, "", 1, 0},
        {"head -c 4097 /dev/zero; exec sleep 60", {.separateOutput = true, .outputLimit = 4096},
         plOutput, "sh wrote more than 4 KiB to its standard output.", 4096, 0},
        {"exec sleep 60", {.timeLimit = milliseconds(300)}, plTime,
         "sh did not finish within 0.3 seconds.", 0, 0},
        // Each report starts the silence anew: fifteen reports over 1.5 s outlast a limit of 1 s.
        {"for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15; do echo $i >&3; sleep 0.1; done; sleep 60",
         {.progressPipe = true, .silenceLimit = milliseconds(1000)}, plSilence,
         "sh gave no progress report for 1 second.", 0, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        TempFolder work;
        TProcessRunner process;
        std::vector<std::string> progress;
        const TProcessExit exit = RunShell(process, c.script, work.Path(), &progress, {}, c.options);
        EXPECT_EQ(exit.limit, c.limit);
        EXPECT_EQ(exit.reason, c.reason);
        EXPECT_EQ(exit.signal, c.limit == plNone ? 0 : SIGKILL);
        EXPECT_EQ(process.StandardOutput(), std::string(c.outputSize, '\0'));
        EXPECT_EQ(process.Output(), c.limit == plNone ? "on error\n" : "");
        EXPECT_EQ(progress.size(), c.progressLines);
    }
}

TEST(ProcessRunner, TheProgramDiesWithItsParentEvenByKill) {
    TempFolder work;
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t parent = ::fork();
    if (parent == 0) {
        // The parent stand-in: starts the program, tells its id, and waits to be killed.
        TProcessRunner process;
        process.Start("/bin/sh", {"sh", "-c", "echo $$ >&3; exec sleep 600"}, work.Path(),
                      {.progressPipe = true});
        process.Wait([&](std::string_view id) { (void)!::write(report[1], id.data(), id.size()); });
        ::_exit(0);
    }
    ::close(report[1]);
    char id[32] = {};
    pollfd told{report[0], POLLIN, 0};
    const bool heard = ::poll(&told, 1, 20000) == 1 && ::read(report[0], id, sizeof id - 1) > 0;
    ::close(report[0]);
    const int program = static_cast<int>(::syscall(SYS_pidfd_open, std::atoi(id), 0));
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    ASSERT_TRUE(heard && program >= 0) << id;
    // Readable once the program has ended; an orphan would sleep on for ten minutes.
    pollfd ended{program, POLLIN, 0};
    const int gone = ::poll(&ended, 1, 20000);
    if (gone != 1) ::syscall(SYS_pidfd_send_signal, program, SIGKILL, nullptr, 0);
    ::close(program);
    EXPECT_EQ(gone, 1);
}

TEST(FindProgram, ProgramFolderFirstThenThePath) {
    TempFolder program, onPath, elsewhere;
    MakeExecutable(onPath / "ffmpeg");
    std::ofstream(elsewhere / "ffmpeg") << "not executable";
    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved ? saved : "";
    ::setenv("PATH", (elsewhere.Path() + "::" + onPath.Path()).c_str(), 1);

    EXPECT_EQ(FindProgram(program.Path(), "ffmpeg"), onPath / "ffmpeg");
    EXPECT_EQ(FindProgram("", "ffmpeg"), onPath / "ffmpeg");
    MakeExecutable(program / "ffmpeg");
    EXPECT_EQ(FindProgram(program.Path(), "ffmpeg"), program / "ffmpeg");
    ::setenv("PATH", elsewhere.Path().c_str(), 1);
    EXPECT_EQ(FindProgram(elsewhere.Path(), "ffmpeg"), "");
    EXPECT_EQ(FindProgram("", "ffmpeg"), "");

    ::setenv("PATH", savedPath.c_str(), 1);
}
