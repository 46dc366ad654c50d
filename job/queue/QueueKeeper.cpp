#include "job/queue/QueueKeeper.h"

#include <utility>

namespace tarnwick {

TQueueKeeper::TQueueKeeper(TDownloadQueue& queue, TQueueFile& file, TTaskQueue& taskQueue)
    : queue_(queue), file_(file), taskQueue_(taskQueue),
      self_(std::make_shared<TQueueKeeper*>(this)) {
    queue_.AddObserver(*this);
}

TQueueKeeper::~TQueueKeeper() {
    queue_.RemoveObserver(*this);
    failureTold_ = nullptr;
    if (unwritten_ || scheduled_) Write();
}

std::string TQueueKeeper::Restore() {
    TQueueFile::TLoaded loaded = file_.Load();
    for (TQueueEntry& entry : loaded.entries) queue_.Add(std::move(entry));
    queue_.RemoveStrayKept();
    // A file set aside is replaced by the empty queue at once.
    if (!loaded.note.empty()) Schedule();
    return loaded.note;
}

void TQueueKeeper::EntryChanged(const TQueueEntry&, bool progressOnly) {
    unwritten_ = true;
    if (progressOnly && std::chrono::steady_clock::now() - lastWrite_ < kProgressInterval) return;
    Schedule();
}

void TQueueKeeper::EntryRemoved(std::uint64_t) {
    unwritten_ = true;
    Schedule();
}

void TQueueKeeper::Schedule() {
    if (scheduled_) return;
    scheduled_ = true;
    // After the changes told together with this one.
    taskQueue_.Post([self = std::weak_ptr<TQueueKeeper*>(self_)] {
        if (const auto keeper = self.lock()) (*keeper)->Write();
    });
}

void TQueueKeeper::Write() {
    scheduled_ = false;
    unwritten_ = false;
    lastWrite_ = std::chrono::steady_clock::now();
    const bool failing = !failure_.empty();
    failure_ = file_.Save(queue_.Entries());
    if (failing != !failure_.empty() && failureTold_) failureTold_(failure_);
}

}  // namespace tarnwick
