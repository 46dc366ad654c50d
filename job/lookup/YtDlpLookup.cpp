#include "job/lookup/YtDlpLookup.h"

#include <algorithm>
#include <charconv>
#include <memory>

#include "core/StrUtils.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

using Clock = std::chrono::steady_clock;

// What a run of the program left: how it ended, and what it wrote.
struct TYtDlpRun {
    TProcessExit exit;
    std::string output;  // standard error's last part
    std::string lastLine;
    std::string answer;  // standard output
};

// The time `yt-dlp --version` may take at most, and the output it may give.
constexpr std::chrono::seconds kVersionTimeLimit{10};
constexpr std::size_t kVersionOutputLimit = 4096;

// Runs program with argv as a kYtDlpProcessName component of owner, within the limits of
// settings but timeLimit and outputLimit.
TYtDlpRun RunProgram(const TYtDlpSettings& settings, TComponent* owner, const std::string& program,
                     const std::vector<std::string>& argv, std::chrono::milliseconds timeLimit,
                     std::size_t outputLimit, const TIdAbortSignal& abort) {
    // In the owner's list, named, from before the start to after the reaping.
    auto made = std::make_unique<TYtDlpProcess>(owner);
    made->SetName(std::string(kYtDlpProcessName));
    TScopedComponent<TYtDlpProcess> process(owner, std::move(made));

    TProcessOptions options;
    options.separateOutput = true;
    options.outputLimit = outputLimit;
    options.timeLimit = timeLimit;
    options.memoryLimit = settings.memoryLimit;
    options.abort = &abort;
    TProcessRunner& runner = process->Runner();
    runner.Start(program, argv, "/", options);
    TYtDlpRun run;
    run.exit = runner.Wait();
    run.output = runner.Output();
    run.lastLine = runner.LastOutputLine();
    run.answer = runner.StandardOutput();
    return run;
}

// Past its memory bound Python reports a MemoryError; code that cannot report one dies of a
// signal instead.
std::string MemoryText(const TYtDlpSettings& settings) {
    return SizeText(static_cast<std::int64_t>(settings.memoryLimit));
}

bool RanOutOfMemory(const TYtDlpSettings& settings, const TYtDlpRun& run) {
    return settings.memoryLimit > 0 && run.output.find("MemoryError") != std::string::npos;
}

// The reason of a run that failed by itself: its own last line, or how it ended.
std::string FailureReason(const TYtDlpSettings& settings, const TYtDlpRun& run) {
    const TProcessExit& exit = run.exit;
    // Its request to report the failure to its makers is not for our user.
    std::string why = run.lastLine.substr(0, run.lastLine.find("; please report this issue"));
    if (why.empty())
        why = exit.signal != 0 ? Format("ended by signal %d", exit.signal)
                               : Format("exit status %d", exit.exitCode);
    if (exit.signal != 0 && settings.memoryLimit > 0)
        why += ", perhaps for want of memory (it may take " + MemoryText(settings) + ")";
    return std::string(kHelperFailedHint) + why;
}

// The age sentence for the program, asked within what is left until deadline; empty when it is
// not old, does not say, or no time is left.
std::string AskAge(const TYtDlpSettings& settings, TComponent* owner, const std::string& program,
                   Clock::time_point deadline, const TIdAbortSignal& abort) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || abort.Aborted()) return {};
    const TYtDlpRun run =
        RunProgram(settings, owner, program, {std::string(kYtDlpProgramName), "--version"},
                   std::min<std::chrono::milliseconds>(left, kVersionTimeLimit),
                   kVersionOutputLimit, abort);
    if (!run.exit.started || run.exit.limit != plNone || run.exit.exitCode != 0) return {};
    return YtDlpAgeHint(run.answer,
                        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
}

}  // namespace

std::string YtDlpFormatSelection(bool hd) {
    const std::string fetchable = "[protocol~='^(https?|m3u8(_native)?|http_dash_segments)$']";
    const std::string video = "bv*" + fetchable, audio = "+ba" + fetchable, both = "b" + fetchable;
    if (hd) return video + audio + "/" + both;
    const std::string fits = "[height<=?480]";
    return video + fits + audio + "/" + both + fits + "/w" + video.substr(1) + audio + "/w" +
           fetchable;
}

std::vector<std::string> YtDlpArguments(std::string_view address, bool hd) {
    return {std::string(kYtDlpProgramName), "-J", "--no-playlist", "--no-warnings", "-f",
            YtDlpFormatSelection(hd), std::string(address)};
}

std::string FindYtDlp(const TYtDlpSettings& settings) {
    if (settings.program.find('/') != std::string::npos) return settings.program;
    return FindProgram({}, settings.program);
}

std::string YtDlpAgeHint(std::string_view version, std::chrono::sys_days today) {
    const std::string text = Trim(version);
    // "YYYY.MM.DD", then the end or more after a dot or a blank.
    if (text.size() < 10 || (text.size() > 10 && text[10] != '.' && text[10] != ' ')) return {};
    int parts[3] = {};
    const std::size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i) {
        const char* first = text.data() + starts[i];
        const auto [end, error] = std::from_chars(first, first + lengths[i], parts[i]);
        if (*first == '-' || error != std::errc() || end != first + lengths[i]) return {};
    }
    if (text[4] != '.' || text[7] != '.') return {};
    const std::chrono::year_month_day released{std::chrono::year(parts[0]),
                                               std::chrono::month(static_cast<unsigned>(parts[1])),
                                               std::chrono::day(static_cast<unsigned>(parts[2]))};
    if (!released.ok() || (today - std::chrono::sys_days(released)).count() <= kYtDlpCurrentDays)
        return {};
    return std::string(kHelperOldHint) + text.substr(0, 10) + std::string(kHelperOldHintEnd);
}

TLookupRecord RunYtDlp(const TYtDlpSettings& settings, TComponent* owner,
                       std::string_view address, bool hd, const TIdAbortSignal& abort) {
    const auto stopped = [&abort] { return abort.Aborted(); };
    const std::string program = FindYtDlp(settings);
    if (program.empty()) return FailedRecord(kHelperMissingHint);
    if (stopped()) return FailedRecord(kLookupStoppedHint);

    const Clock::time_point deadline = Clock::now() + settings.timeLimit;
    const TYtDlpRun run = RunProgram(settings, owner, program, YtDlpArguments(address, hd),
                                     settings.timeLimit, settings.outputLimit, abort);
    const TProcessExit& exit = run.exit;
    if (exit.stopped || stopped()) return FailedRecord(kLookupStoppedHint);
    if (!exit.started || exit.limit != plNone) return FailedRecord(exit.reason);
    if (exit.signal == 0 && exit.exitCode == 0) return ReadYtDlpAnswer(run.answer);

    if (RanOutOfMemory(settings, run))
        return FailedRecord(std::string(kHelperOutOfMemoryHint) + MemoryText(settings) + ".");
    std::string reason = FailureReason(settings, run);
    if (const std::string age = AskAge(settings, owner, program, deadline, abort); !age.empty()) {
        if (reason.back() != '.') reason += '.';
        reason += " " + age;
    }
    if (stopped()) return FailedRecord(kLookupStoppedHint);
    return FailedRecord(reason);
}

}  // namespace tarnwick
