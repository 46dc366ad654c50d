// The converter's process runner, with /bin/sh standing in for a converter so each case controls
// what the process does.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "job/ConverterProcess.h"
#include "support/TempFolder.h"
#include "support/TestData.h"

using namespace tarnwick;
using tarnwick::testing::ReadWholeFile;
using tarnwick::testing::TempFolder;

namespace {

// A descriptor of ours without O_CLOEXEC, at a number no shell uses.
constexpr int kLeakCandidate = 40;

TProcessExit RunShell(TConverterProcess& process, const std::string& script,
                      const std::string& workDirectory,
                      std::vector<std::string>* progress = nullptr,
                      const std::function<void()>& onOutput = {}) {
    if (!process.Start("/bin/sh", {"sh", "-c", script}, workDirectory)) return process.Wait();
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

TEST(ConverterProcess, RunsInTheWorkDirectoryWithItsOwnDescriptorsOnly) {
    TempFolder work;
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int leak = ::fcntl(devNull, F_DUPFD, kLeakCandidate);  // without O_CLOEXEC
    ::close(devNull);
    ASSERT_GE(leak, kLeakCandidate);
    const std::string script =
        "{ pwd; readlink /proc/$$/fd/0; [ -e /proc/$$/fd/" + std::to_string(leak) +
        " ] && echo leaked; } > where;"
        " printf 'out_time_us=5\\nprogress=continue\\nprogress=e' >&3; printf 'nd\\n' >&3;"
        " head -c 200000 /dev/zero | tr '\\0' x; echo; echo 'last words' >&2; echo '  ' >&2;"
        " exit 3";
    TConverterProcess process;
    std::vector<std::string> progress;
    const TProcessExit exit = RunShell(process, script, work.Path(), &progress);
    ::close(leak);

    EXPECT_TRUE(exit.started);
    EXPECT_FALSE(exit.stopped);
    EXPECT_EQ(exit.exitCode, 3);
    EXPECT_EQ(ReadWholeFile(work / "where"), work.Path() + "\n/dev/null\n");
    EXPECT_EQ(progress, (std::vector<std::string>{"out_time_us=5", "progress=continue",
                                                  "progress=end"}));
    const std::string& output = process.Output();
    EXPECT_EQ(output.size(), TConverterProcess::kOutputLimit);
    EXPECT_TRUE(output.ends_with("xxxx\nlast words\n  \n")) << output.substr(65000);
    EXPECT_EQ(process.LastOutputLine(), "last words");
}

TEST(ConverterProcess, StopKillsTheProcessAndWhatItStartedAndReapsThem) {
    TempFolder work;
    TConverterProcess process;
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

TEST(ConverterProcess, StopBeforeStartAndAMissingProgramStartNothing) {
    TempFolder work;
    TConverterProcess stopped;
    stopped.Stop();
    EXPECT_FALSE(stopped.Start("/bin/sh", {"sh", "-c", "exit 0"}, work.Path()));
    EXPECT_TRUE(stopped.Wait().stopped);

    TConverterProcess missing;
    EXPECT_FALSE(missing.Start(work / "ffmpeg", {"ffmpeg"}, work.Path()));
    const TProcessExit exit = missing.Wait();
    EXPECT_FALSE(exit.started);
    EXPECT_NE(exit.reason.find("No such file"), std::string::npos) << exit.reason;
}

TEST(FindConverter, ProgramFolderFirstThenThePath) {
    TempFolder program, onPath, elsewhere;
    MakeExecutable(onPath / "ffmpeg");
    std::ofstream(elsewhere / "ffmpeg") << "not executable";
    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved ? saved : "";
    ::setenv("PATH", (elsewhere.Path() + "::" + onPath.Path()).c_str(), 1);

    EXPECT_EQ(FindConverter(program.Path()), onPath / "ffmpeg");
    EXPECT_EQ(FindConverter(""), onPath / "ffmpeg");
    MakeExecutable(program / "ffmpeg");
    EXPECT_EQ(FindConverter(program.Path()), program / "ffmpeg");
    ::setenv("PATH", elsewhere.Path().c_str(), 1);
    EXPECT_EQ(FindConverter(elsewhere.Path()), "");
    EXPECT_EQ(FindConverter(""), "");

    ::setenv("PATH", savedPath.c_str(), 1);
}
