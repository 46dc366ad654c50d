#pragma once

// One video of the download queue: what the user asked for, where its job stands, and how it
// ended. A plain value; the queue hands out copies.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "job/JobDefaults.h"

namespace tarnwick {

enum class TEntryState : std::int32_t {
    Waiting,  // queued; starts when a place is free
    Running,  // its job runs
    Saved,    // its job saved a whole file
    Failed,   // its job ended without a file
    Stopped,  // stopped by the user (Stop, Remove, the program's end) before a file was saved
};

// "waiting", "running", "saved", "failed", "stopped".
std::string_view EntryStateName(TEntryState state) noexcept;
std::optional<TEntryState> EntryStateNamed(std::string_view name) noexcept;
// Saved, failed and stopped entries are over; only they can be tried again.
constexpr bool Finished(TEntryState state) noexcept {
    return state != TEntryState::Waiting && state != TEntryState::Running;
}

struct TQueueEntry {
    std::uint64_t id = 0;  // the queue's own, new for every entry added in this run
    // The user's choice.
    std::string address;
    std::int32_t siteNumber = kDefaultSiteNumber;
    std::int32_t hdFlag = 0;
    std::int32_t formatIndex = kDefaultFormat;
    std::int32_t qualityIndex = kDefaultQuality;
    std::string saveDirectory;  // empty: the queue's
    // Where it stands.
    TEntryState state = TEntryState::Waiting;
    std::int64_t bytesSoFar = 0;
    std::int64_t totalBytes = 0;  // 0 while unknown
    std::string title;            // the record's, once known
    std::string reason;           // why it failed or stopped
    std::string savedFile;        // the file saved, once saved
    std::string kept;             // its transfer kept across runs: a file name in the queue's
                                  // kept folder (see TDownloadQueue::SetKeptFolder); "" for none
    std::uint64_t job = 0;        // the id of its running or last job (0 before the first)
};

}  // namespace tarnwick
