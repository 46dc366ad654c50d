#pragma once

// What a work file holds, as ffprobe (beside the converter, from the same package) reads it: its
// container and its streams with their codecs and lengths. The merge of a stream's pieces chooses
// its container and its maps by it, and measures each stream's length against the others'.
//
// The probe runs through the process runner, bounded in time and in what it may print, and stops
// at the job's abort.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAbortSignal.h"

namespace tarnwick {

// The reader of media files, looked for as the converter is: the program's folder, then the PATH.
inline constexpr std::string_view kProbeProgramName = "ffprobe";
// Bounds on one probe: its run, and its answer on standard output.
inline constexpr std::chrono::milliseconds kProbeTimeLimit{30000};
inline constexpr std::size_t kProbeAnswerLimit = 1024 * 1024;

struct TProbedStream {
    std::int32_t index = 0;        // in its file, as the converter's maps name it
    std::string type;              // "video", "audio", "subtitle", "data", ...
    std::string codec;             // "h264", "aac", "opus", ... (empty when not known)
    double seconds = 0;            // its length (0: not known)
    bool attachedPicture = false;  // a cover picture, not a moving one
};

struct TProbedInput {
    std::string container;  // the format's name: "mpegts", "matroska,webm", "aac", ...
    std::vector<TProbedStream> streams;
};

// Reads ffprobe's JSON answer (its streams and format); nothing when the text is not one. A
// stream's length is its own, else the one its tags tell (Matroska keeps it there), else the
// container's when the file holds that one stream alone.
std::optional<TProbedInput> ParseProbeAnswer(std::string_view json);

struct TProbeOutcome {
    std::optional<TProbedInput> input;  // set when the probe read the file
    bool stopped = false;               // the abort ended it
    std::string reason;                 // why not, in words for the user's hint
};

// Probes input (a work file, relative to workDirectory) with program (the reader's path).
TProbeOutcome ProbeMedia(const std::string& program, const std::string& workDirectory,
                         const std::string& input, const TIdAbortSignal& abort);

}  // namespace tarnwick
