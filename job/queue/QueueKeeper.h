#pragma once

// Keeps a download queue in its file across runs: puts the kept entries back into the queue
// (the waiting and running ones go on by themselves), then writes the whole queue whenever an
// entry changes: a change of state, title or the like at once (once for all the changes told
// together), a change of progress at most every kProgressInterval (a progress not yet written
// goes with the next write, or when the keeper goes).
//
// Threads: the front end's (the queue's task queue's) only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "job/queue/DownloadQueue.h"
#include "job/queue/QueueFile.h"

namespace tarnwick {

class TQueueKeeper final : public TQueueObserver {
public:
    static constexpr std::chrono::milliseconds kProgressInterval{250};

    // queue, file and taskQueue (the queue's) must outlive the keeper; an unlocked file keeps
    // nothing.
    TQueueKeeper(TDownloadQueue& queue, TQueueFile& file, TTaskQueue& taskQueue);
    // Writes a change not yet written, and stops observing.
    ~TQueueKeeper() override;
    TQueueKeeper(const TQueueKeeper&) = delete;
    TQueueKeeper& operator=(const TQueueKeeper&) = delete;

    // Adds the file's entries to the queue (and removes the kept transfers none of them names);
    // returns the file's note (empty when all is well).
    std::string Restore();
    // The reason the last write failed ("" when it succeeded).
    const std::string& WriteFailure() const noexcept { return failure_; }
    // told is called with the reason when writing starts failing (once while the writes keep
    // failing), and with "" when a write succeeds again. Never from the destructor, whose caller
    // is going away.
    void OnWriteFailure(std::function<void(const std::string& reason)> told) {
        failureTold_ = std::move(told);
    }

    void EntryChanged(const TQueueEntry& entry, bool progressOnly) override;
    void EntryRemoved(std::uint64_t id) override;

private:
    void Schedule();
    void Write();

    TDownloadQueue& queue_;
    TQueueFile& file_;
    TTaskQueue& taskQueue_;
    // Posted writes hold it weakly: one that runs after the keeper went does nothing.
    std::shared_ptr<TQueueKeeper*> self_;
    bool scheduled_ = false;
    bool unwritten_ = false;
    std::chrono::steady_clock::time_point lastWrite_{};
    std::string failure_;
    std::function<void(const std::string&)> failureTold_;
};

}  // namespace tarnwick
