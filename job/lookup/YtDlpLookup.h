#pragma once

// yt-dlp as the built-in lookup's helper, for the pages the program cannot read itself (a player
// set up by a script, a site's own interface): run as a separate program, like ffmpeg, and its
// JSON answer read into a lookup record.
//
// It runs as `yt-dlp -J --no-playlist --no-warnings ADDRESS` through TProcessRunner: an argument
// vector (no shell), standard input from /dev/null, a process group of its own that Stop or a
// limit kills, at most timeLimit, standard output kept apart and capped at outputLimit, its data
// bounded by memoryLimit (a yt-dlp that runs out of it fails, and the hint says so). The first
// `yt-dlp` on the PATH is the one run, so a newer copy the user installs takes over. The runner is
// a kYtDlpProcessName component of the caller's owner while it runs; the caller's abort token
// stops it (the runner registers its Stop on the token for the span of the process).
//
// Its answer is hostile input like a page: read with ParseBoundedJson, never trusted to hold any
// field or type.
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

// The argument vector for address (argv[0] included).
std::vector<std::string> YtDlpArguments(std::string_view address);

// Where the program of settings is; empty when it is not there.
std::string FindYtDlp(const TYtDlpSettings& settings);

// The record that yt-dlp's JSON answer describes. The video is the answer itself, or the first
// entry of a playlist. Its format: one that holds picture and sound in one file (neither "vcodec"
// nor "acodec" is "none") over http or https ("protocol", else the address's); with hd the one
// with the most lines ("height"), otherwise the one nearest 480 lines, and among formats without
// a height the last (yt-dlp lists the best last). A video without "formats" is its own one
// format. Entries: author (uploader), title, length (duration), size (filesize, else
// filesize_approx), filename (the title made safe), fileext (ext), preview (thumbnail, when a web
// address), url, and referer, useragent and cookie from the format's http_headers. error=1 with a
// hint when the text is not such an answer or no format fits.
TLookupRecord ReadYtDlpAnswer(std::string_view json, bool hd);

// Runs yt-dlp for address and reads its answer; abort, before the start or during the run, stops
// it (error=1, kLookupStoppedHint).
TLookupRecord RunYtDlp(const TYtDlpSettings& settings, TComponent* owner,
                       std::string_view address, bool hd,
                       const TIdAbortSignal& abort = TIdAbortSignal::Never());

}  // namespace tarnwick
