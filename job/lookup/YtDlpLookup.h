#pragma once

// yt-dlp as the built-in lookup's helper, for the pages the program cannot read itself (a player
// set up by a script, a site's own interface): run as a separate program, like ffmpeg, and its
// JSON answer read into a lookup record.
//
// It runs as `yt-dlp -J --no-playlist --no-warnings -f SELECTION ADDRESS` through TProcessRunner:
// an argument vector (no shell), standard input from /dev/null, a process group of its own that
// Stop or a limit kills, at most timeLimit, standard output kept apart and capped at outputLimit,
// its data bounded by memoryLimit (a yt-dlp that runs out of it fails, and the hint says so). The
// first `yt-dlp` on the PATH is the one run, so a newer copy the user installs takes over. The
// runner is a kYtDlpProcessName component of the caller's owner while it runs; the caller's abort
// token stops it (the runner registers its Stop on the token for the span of the process).
//
// Its answer is read by ReadYtDlpAnswer. When it fails, `yt-dlp --version` is asked too, within
// what is left of the same time limit: a yt-dlp older than kYtDlpCurrentDays may no longer know
// the site, and the reason says so.
//
// RunYtDlp blocks the calling thread, which must live until it returns (the runner ties the
// program's life to it). Nothing here throws but std::bad_alloc: a missing, failing, slow or
// garbled yt-dlp gives error=1 with the reason as the record's hint.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"
#include "job/JobDefaults.h"
#include "job/convert/ProcessRunner.h"
#include "job/lookup/LookupRecord.h"
#include "job/lookup/YtDlpAnswer.h"

namespace tarnwick {

inline constexpr std::string_view kYtDlpProgramName = "yt-dlp";
// Name of the running yt-dlp in its owner's list.
inline constexpr std::string_view kYtDlpProcessName = "YtDlp";

struct TYtDlpSettings {
    // Looked up on the PATH (a name with "/" is taken as it is).
    std::string program{kYtDlpProgramName};
    std::chrono::milliseconds timeLimit = kDefaultLookupTime;
    std::size_t outputLimit = 16 * 1024 * 1024;
    // Bytes of data it may take (TProcessOptions::memoryLimit); 0: no limit.
    std::size_t memoryLimit = kDefaultHelperMemoryLimit;
};

// The running yt-dlp as a component, so that the owner's list can reach it.
class TYtDlpProcess : public TComponent {
public:
    explicit TYtDlpProcess(TComponent* owner) : TComponent(owner) {}
    TProcessRunner& Runner() noexcept { return runner_; }
    // Any thread, any moment: the program is killed, or never started.
    void Stop() noexcept { runner_.Stop(); }

private:
    TProcessRunner runner_;
};

// A yt-dlp whose release is older than this many days is called old in a failure's reason.
inline constexpr int kYtDlpCurrentDays = 180;

// The format selection yt-dlp is asked with: the best picture and the best sound apart where the
// site offers them so, else the best file that holds both; with hd of any height, without at most
// 480 lines (a format of unknown height counts as fitting), else the fewest. Only formats over
// the protocols ReadYtDlpAnswer takes are chosen, so that a fetchable one wins over a better one
// that is not.
std::string YtDlpFormatSelection(bool hd);

// The argument vector for address (argv[0] included).
std::vector<std::string> YtDlpArguments(std::string_view address, bool hd);

// Where the program of settings is; empty when it is not there.
std::string FindYtDlp(const TYtDlpSettings& settings);

// The sentence a failure's reason ends with when version (what `yt-dlp --version` printed, a
// release date "YYYY.MM.DD" with maybe more after it) is more than kYtDlpCurrentDays before
// today; empty when it is not, or names no valid date.
std::string YtDlpAgeHint(std::string_view version, std::chrono::sys_days today);

// Runs yt-dlp for address and reads its answer; abort, before the start or during the run, stops
// it (error=1, kLookupStoppedHint).
TLookupRecord RunYtDlp(const TYtDlpSettings& settings, TComponent* owner,
                       std::string_view address, bool hd,
                       const TIdAbortSignal& abort = TIdAbortSignal::Never());

}  // namespace tarnwick
