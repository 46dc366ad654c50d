#include "job/queue/DownloadQueue.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "job/JobTexts.h"
#include "job/files/Folders.h"
#include "job/queue/KeptTransfers.h"

namespace tarnwick {

std::string_view EntryStateName(TEntryState state) noexcept {
    switch (state) {
        case TEntryState::Waiting: return "waiting";
        case TEntryState::Running: return "running";
        case TEntryState::Saved: return "saved";
        case TEntryState::Failed: return "failed";
        case TEntryState::Stopped: return "stopped";
    }
    return "failed";
}

std::optional<TEntryState> EntryStateNamed(std::string_view name) noexcept {
    for (const TEntryState state : {TEntryState::Waiting, TEntryState::Running, TEntryState::Saved,
                                    TEntryState::Failed, TEntryState::Stopped})
        if (EntryStateName(state) == name) return state;
    return std::nullopt;
}

// One entry's session, and the way its events reach the queue: the runner knows whose they are.
struct TDownloadQueue::TRunner final : TSessionEvents {
    TRunner(Impl& q, std::uint64_t entryId, TTaskQueue& taskQueue)
        : queue(q), entry(entryId), session(*this, taskQueue) {}

    void ShowDescription(std::uint64_t job, const std::array<std::string, 4>& texts) override;
    void TransferBegan(std::uint64_t job, std::int64_t totalBytes,
                       const std::string& previewFile) override;
    void TransferProgress(std::uint64_t job, const TTransferProgress& progress) override;
    void TransferEnded(std::uint64_t job) override;
    void ConversionProgress(std::uint64_t job, double fraction) override;
    void ShowStatus(std::uint64_t job, const std::string& text, const std::string& hint) override;
    void JobFinished(const TJobOutcome& outcome) override;

    Impl& queue;
    const std::uint64_t entry;
    TDownloadSession session;  // last: closed before the rest goes
};

struct TDownloadQueue::Impl : std::enable_shared_from_this<Impl> {
    struct TItem {
        TQueueEntry entry;
        std::shared_ptr<TRunner> runner;  // while its job runs
        bool stopAsked = false;
        bool removeAsked = false;
    };

    Impl(TTaskQueue& q, TJobRequest b, TSessionEvents* e)
        : taskQueue(q), base(std::move(b)), jobEvents(e) {}

    TItem* Find(std::uint64_t id) {
        const auto found = std::find_if(items.begin(), items.end(),
                                        [id](const TItem& item) { return item.entry.id == id; });
        return found == items.end() ? nullptr : &*found;
    }
    bool Queued(const std::string& address) const {
        return std::any_of(items.begin(), items.end(), [&](const TItem& item) {
            return !Finished(item.entry.state) && item.entry.address == address;
        });
    }
    // Under the lock: the observers are told on the front end's thread.
    void Changed(const TQueueEntry& entry, bool progressOnly = false);
    void Removed(std::uint64_t id);
    void PostPump();
    // Front end's thread: starts waiting entries while places are free.
    void Pump();
    // Under the lock: the next waiting entry with its new runner, or nothing when none may start.
    std::shared_ptr<TRunner> NextToStart(TJobRequest& request);
    void StopItem(TItem& item);
    // Under the lock: the entry's kept transfer goes.
    void DropKept(TQueueEntry& entry);
    // Under the lock: the oldest finished entries beyond kHistoryLimit go.
    void TrimHistory();
    void Finish(std::uint64_t entryId, const TJobOutcome& outcome);
    template <typename Change>
    void Update(std::uint64_t entryId, bool progressOnly, Change change) {
        std::lock_guard lock(mutex);
        if (TItem* item = Find(entryId)) {
            change(item->entry);
            Changed(item->entry, progressOnly);
        }
    }

    TTaskQueue& taskQueue;
    TJobRequest base;  // guarded by mutex
    TSessionEvents* const jobEvents;
    std::vector<TQueueObserver*> observers;  // front end's thread only

    mutable std::mutex mutex;  // guards what follows
    std::vector<TItem> items;  // in the order added
    std::uint64_t lastId = 0;
    int parallel = 1;
    std::string keptFolder;
    // Runners whose job has ended; closed on the front end's thread outside their events.
    std::vector<std::shared_ptr<TRunner>> retired;
    bool closing = false;
};

void TDownloadQueue::Impl::Changed(const TQueueEntry& entry, bool progressOnly) {
    taskQueue.Post([self = weak_from_this(), entry, progressOnly] {
        if (const auto q = self.lock())
            for (TQueueObserver* observer : q->observers) observer->EntryChanged(entry, progressOnly);
    });
}

void TDownloadQueue::Impl::Removed(std::uint64_t id) {
    taskQueue.Post([self = weak_from_this(), id] {
        if (const auto q = self.lock())
            for (TQueueObserver* observer : q->observers) observer->EntryRemoved(id);
    });
}

void TDownloadQueue::Impl::PostPump() {
    taskQueue.Post([self = weak_from_this()] {
        if (const auto q = self.lock()) q->Pump();
    });
}

std::shared_ptr<TDownloadQueue::TRunner> TDownloadQueue::Impl::NextToStart(TJobRequest& request) {
    if (closing) return nullptr;
    const auto running = std::count_if(items.begin(), items.end(), [](const TItem& item) {
        return item.entry.state == TEntryState::Running;
    });
    if (running >= parallel) return nullptr;
    const auto next = std::find_if(items.begin(), items.end(), [](const TItem& item) {
        return item.entry.state == TEntryState::Waiting;
    });
    if (next == items.end()) return nullptr;
    TQueueEntry& entry = next->entry;
    entry.state = TEntryState::Running;
    entry.bytesSoFar = entry.totalBytes = 0;
    entry.reason.clear();
    request = base;
    request.pageAddress = entry.address;
    request.siteNumber = entry.siteNumber;
    request.hdFlag = entry.hdFlag;
    request.formatIndex = entry.formatIndex;
    request.qualityIndex = entry.qualityIndex;
    if (!entry.saveDirectory.empty()) request.saveDirectory = entry.saveDirectory;
    if (!keptFolder.empty()) {
        if (entry.kept.empty()) entry.kept = NewKeptName();
        request.keptTransfer = keptFolder + "/" + entry.kept;
    }
    next->runner = std::make_shared<TRunner>(*this, entry.id, taskQueue);
    return next->runner;
}

void TDownloadQueue::Impl::Pump() {
    {
        std::vector<std::shared_ptr<TRunner>> done;
        {
            std::lock_guard lock(mutex);
            done.swap(retired);
        }
        // Their jobs have told their end: closing only joins their threads.
    }
    for (;;) {
        TJobRequest request;
        std::shared_ptr<TRunner> runner;
        {
            std::lock_guard lock(mutex);
            runner = NextToStart(request);
            if (!runner) return;
        }
        runner->session.Start(request);
        std::lock_guard lock(mutex);
        TItem* item = Find(runner->entry);
        if (!item) continue;
        item->entry.job = runner->session.JobId();
        // A stop that came before the job had started.
        if (item->stopAsked) runner->session.Abort();
        Changed(item->entry);
    }
}

void TDownloadQueue::Impl::StopItem(TItem& item) {
    if (item.entry.state == TEntryState::Waiting) {
        item.entry.state = TEntryState::Stopped;
        item.entry.reason = std::string(kAbortedByUserText);
        Changed(item.entry);
    } else if (item.entry.state == TEntryState::Running) {
        item.stopAsked = true;
        if (item.runner) item.runner->session.Abort();
    }
}

void TDownloadQueue::Impl::DropKept(TQueueEntry& entry) {
    RemoveKept(keptFolder, entry.kept);
    entry.kept.clear();
}

void TDownloadQueue::Impl::TrimHistory() {
    auto finished = std::count_if(items.begin(), items.end(),
                                  [](const TItem& item) { return Finished(item.entry.state); });
    for (auto it = items.begin(); it != items.end() && finished > std::ptrdiff_t(kHistoryLimit);) {
        if (!Finished(it->entry.state)) {
            ++it;
            continue;
        }
        Removed(it->entry.id);
        it = items.erase(it);
        --finished;
    }
}

void TDownloadQueue::Impl::Finish(std::uint64_t entryId, const TJobOutcome& outcome) {
    std::lock_guard lock(mutex);
    TItem* item = Find(entryId);
    if (!item) return;
    TQueueEntry& entry = item->entry;
    entry.state = outcome.delivered ? TEntryState::Saved
                  : item->stopAsked ? TEntryState::Stopped
                                    : TEntryState::Failed;
    entry.reason = outcome.delivered    ? std::string()
                   : outcome.hint.empty() ? outcome.statusText
                                          : outcome.hint;
    entry.savedFile = outcome.savedFile;
    if (entry.title.empty()) entry.title = outcome.title;
    // A job ended by the queue's own end keeps its transfer for the next run.
    if (!closing) DropKept(entry);
    item->stopAsked = false;
    retired.push_back(std::move(item->runner));
    if (item->removeAsked) {
        Removed(entryId);
        items.erase(items.begin() + (item - items.data()));
    } else {
        Changed(entry);
    }
    TrimHistory();
    PostPump();
}

void TDownloadQueue::TRunner::ShowDescription(std::uint64_t job,
                                              const std::array<std::string, 4>& texts) {
    // "  " + the record's title.
    const std::string title = texts[1].substr(std::min<std::size_t>(2, texts[1].size()));
    queue.Update(entry, false, [&](TQueueEntry& e) { e.title = title; });
    if (queue.jobEvents) queue.jobEvents->ShowDescription(job, texts);
}

void TDownloadQueue::TRunner::TransferBegan(std::uint64_t job, std::int64_t totalBytes,
                                            const std::string& previewFile) {
    queue.Update(entry, true, [&](TQueueEntry& e) {
        e.bytesSoFar = 0;
        e.totalBytes = totalBytes;
    });
    if (queue.jobEvents) queue.jobEvents->TransferBegan(job, totalBytes, previewFile);
}

void TDownloadQueue::TRunner::TransferProgress(std::uint64_t job,
                                               const TTransferProgress& progress) {
    queue.Update(entry, true, [&](TQueueEntry& e) {
        e.bytesSoFar = progress.bytesSoFar;
        e.totalBytes = progress.totalBytes;
    });
    if (queue.jobEvents) queue.jobEvents->TransferProgress(job, progress);
}

void TDownloadQueue::TRunner::TransferEnded(std::uint64_t job) {
    if (queue.jobEvents) queue.jobEvents->TransferEnded(job);
}

void TDownloadQueue::TRunner::ConversionProgress(std::uint64_t job, double fraction) {
    if (queue.jobEvents) queue.jobEvents->ConversionProgress(job, fraction);
}

void TDownloadQueue::TRunner::ShowStatus(std::uint64_t job, const std::string& text,
                                         const std::string& hint) {
    if (queue.jobEvents) queue.jobEvents->ShowStatus(job, text, hint);
}

void TDownloadQueue::TRunner::JobFinished(const TJobOutcome& outcome) {
    // The front end hears of the job's end before the entry's, so its last lines come first.
    if (queue.jobEvents) queue.jobEvents->JobFinished(outcome);
    queue.Finish(entry, outcome);
}

TDownloadQueue::TDownloadQueue(TTaskQueue& taskQueue, TJobRequest base,
                               TSessionEvents* jobEvents)
    : impl_(std::make_shared<Impl>(taskQueue, std::move(base), jobEvents)) {}

TDownloadQueue::~TDownloadQueue() {
    std::vector<std::shared_ptr<TRunner>> runners;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->closing = true;
        runners.swap(impl_->retired);
        for (Impl::TItem& item : impl_->items)
            if (item.runner) runners.push_back(std::move(item.runner));
    }
    // Every job is told to stop first, so the closes that follow do not wait in turn.
    for (const auto& runner : runners) runner->session.Abort();
    for (const auto& runner : runners) runner->session.Close();
}

void TDownloadQueue::AddObserver(TQueueObserver& observer) {
    impl_->observers.push_back(&observer);
}

void TDownloadQueue::RemoveObserver(TQueueObserver& observer) {
    std::erase(impl_->observers, &observer);
}

std::uint64_t TDownloadQueue::Add(TQueueEntry entry) {
    Impl& q = *impl_;
    std::lock_guard lock(q.mutex);
    if (entry.state == TEntryState::Running) entry.state = TEntryState::Waiting;
    const bool waits = entry.state == TEntryState::Waiting;
    // Only an entry that goes on has a transfer to continue.
    if (!waits) entry.kept.clear();
    if (waits && q.Queued(entry.address)) return 0;
    entry.id = ++q.lastId;
    entry.job = 0;
    Impl::TItem item;
    item.entry = std::move(entry);
    q.items.push_back(std::move(item));
    q.Changed(q.items.back().entry);
    if (waits) q.PostPump();
    q.TrimHistory();
    return q.lastId;
}

bool TDownloadQueue::Retry(std::uint64_t id) {
    Impl& q = *impl_;
    std::lock_guard lock(q.mutex);
    Impl::TItem* item = q.Find(id);
    if (!item || (item->entry.state != TEntryState::Failed &&
                  item->entry.state != TEntryState::Stopped) ||
        q.Queued(item->entry.address))
        return false;
    TQueueEntry& entry = item->entry;
    entry.state = TEntryState::Waiting;
    entry.bytesSoFar = entry.totalBytes = 0;
    entry.reason.clear();
    entry.savedFile.clear();
    q.Changed(entry);
    q.PostPump();
    return true;
}

bool TDownloadQueue::Stop(std::uint64_t id) {
    std::lock_guard lock(impl_->mutex);
    Impl::TItem* item = impl_->Find(id);
    if (!item || Finished(item->entry.state)) return false;
    impl_->StopItem(*item);
    return true;
}

void TDownloadQueue::StopAll() {
    std::lock_guard lock(impl_->mutex);
    for (Impl::TItem& item : impl_->items) impl_->StopItem(item);
}

bool TDownloadQueue::Remove(std::uint64_t id) {
    Impl& q = *impl_;
    std::lock_guard lock(q.mutex);
    Impl::TItem* item = q.Find(id);
    if (!item) return false;
    if (item->entry.state == TEntryState::Running) {
        item->removeAsked = true;
        q.StopItem(*item);
        return true;
    }
    q.DropKept(item->entry);
    q.items.erase(q.items.begin() + (item - q.items.data()));
    q.Removed(id);
    return true;
}

void TDownloadQueue::SetParallel(int jobs) {
    std::lock_guard lock(impl_->mutex);
    impl_->parallel = std::clamp(jobs, 1, kMaxParallelJobs);
    impl_->PostPump();
}

bool TDownloadQueue::SetConversion(std::uint64_t id, std::int32_t formatIndex,
                                   std::int32_t qualityIndex) {
    std::lock_guard lock(impl_->mutex);
    Impl::TItem* item = impl_->Find(id);
    if (!item || Finished(item->entry.state)) return false;
    item->entry.formatIndex = formatIndex;
    item->entry.qualityIndex = qualityIndex;
    if (item->runner) item->runner->session.SetConversion(formatIndex, qualityIndex);
    impl_->Changed(item->entry);
    return true;
}

void TDownloadQueue::SetKeptFolder(std::string folder) {
    if (!folder.empty()) CreateDirectories(folder);
    std::lock_guard lock(impl_->mutex);
    impl_->keptFolder = std::move(folder);
}

void TDownloadQueue::RemoveStrayKept() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->keptFolder.empty()) return;
    RemoveKeptBut(impl_->keptFolder, [&](const std::string& name) {
        return std::any_of(impl_->items.begin(), impl_->items.end(),
                           [&](const Impl::TItem& item) { return item.entry.kept == name; });
    });
}

void TDownloadQueue::SetBase(TJobRequest base) {
    std::lock_guard lock(impl_->mutex);
    impl_->base = std::move(base);
}

std::vector<TQueueEntry> TDownloadQueue::Entries() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<TQueueEntry> entries;
    entries.reserve(impl_->items.size());
    for (const Impl::TItem& item : impl_->items) entries.push_back(item.entry);
    return entries;
}

std::optional<TQueueEntry> TDownloadQueue::Entry(std::uint64_t id) const {
    std::lock_guard lock(impl_->mutex);
    if (const Impl::TItem* item = impl_->Find(id)) return item->entry;
    return std::nullopt;
}

std::optional<TQueueEntry> TDownloadQueue::EntryOfJob(std::uint64_t job) const {
    std::lock_guard lock(impl_->mutex);
    for (const Impl::TItem& item : impl_->items)
        if (item.entry.job == job && job != 0) return item.entry;
    return std::nullopt;
}

bool TDownloadQueue::Busy() const {
    std::lock_guard lock(impl_->mutex);
    return std::any_of(impl_->items.begin(), impl_->items.end(),
                       [](const Impl::TItem& item) { return !Finished(item.entry.state); });
}

}  // namespace tarnwick
