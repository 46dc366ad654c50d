#pragma once

// The download queue: videos worked through one after another (or up to kMaxParallelJobs at
// once), each in a download session of its own, so each job has its own id and work folder. An
// entry starts by itself as soon as it is added and a place is free; the next waiting one starts
// when a job ends. An address that is waiting or running already is not added a second time.
// Finished entries stay as history, the last kHistoryLimit of them.
//
// Threads. The queue belongs to one front end thread: the one that runs the task queue it is
// given (the window's event loop, tarnwick-download's loop). Sessions are started and closed
// there, their events come there, and observers and the job events passed on are called there
// only, never with the queue's lock held, in the order the changes happened. Add, Retry, Stop,
// StopAll, Remove, SetParallel, SetConversion,
// SetBase and the readers may be called from any thread; the change is made
// at once under the queue's lock and what follows from it (a job started, observers told) is
// posted to the front end's thread. AddObserver, RemoveObserver and the destructor: the front
// end's thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "job/queue/QueueEntry.h"
#include "job/session/DownloadSession.h"
#include "job/session/JobRequest.h"
#include "job/session/TaskQueue.h"

namespace tarnwick {

inline constexpr int kMaxParallelJobs = 3;
// Finished entries kept; the oldest goes when another finishes.
inline constexpr std::size_t kHistoryLimit = 200;

class TQueueObserver {
public:
    virtual ~TQueueObserver() = default;
    // An entry was added or changed; progressOnly when only its byte counts moved (at most
    // every 40 ms per running job).
    virtual void EntryChanged(const TQueueEntry& entry, bool progressOnly) = 0;
    virtual void EntryRemoved(std::uint64_t id) = 0;
};

class TDownloadQueue {
public:
    // base: the program's part of every job (work and program folders, lookup, limits,
    // connections, and the save folder of entries without one of their own). jobEvents, when
    // given, is told every session event after the queue took what it needs from it (an entry's
    // job field names the job); it must outlive the queue, as must taskQueue.
    TDownloadQueue(TTaskQueue& taskQueue, TJobRequest base, TSessionEvents* jobEvents = nullptr);
    // Stops every job and closes its session; entries are not changed and observers are not told
    // (a front end keeps the queue as it stood, see TQueueFile).
    ~TDownloadQueue();
    TDownloadQueue(const TDownloadQueue&) = delete;
    TDownloadQueue& operator=(const TDownloadQueue&) = delete;

    void AddObserver(TQueueObserver& observer);
    void RemoveObserver(TQueueObserver& observer);

    // Adds an entry at the end and returns its new id. The user's choice is read from entry,
    // with its state: a finished entry is added as history as it stands, any other as waiting
    // (a running one kept from an earlier run goes on). 0, and nothing added, for an unfinished
    // entry whose address is waiting or running already.
    std::uint64_t Add(TQueueEntry entry);
    // A failed or stopped entry waits again; false when it is not one, or its address is waiting
    // or running in another entry.
    bool Retry(std::uint64_t id);
    // A waiting entry is stopped at once, a running one's job is aborted (it ends stopped, unless
    // its file had already taken its name). False when the entry is not waiting or running.
    bool Stop(std::uint64_t id);
    // Stop for every waiting and running entry.
    void StopAll();
    // Removes the entry; a running one is stopped first and goes when its job has ended. False
    // when there is no such entry.
    bool Remove(std::uint64_t id);
    // How many jobs run at once: 1 (the default) to kMaxParallelJobs.
    void SetParallel(int jobs);
    // The format and quality an unfinished entry converts with; a running job's end converts
    // with them too. False when the entry is not waiting or running.
    bool SetConversion(std::uint64_t id, std::int32_t formatIndex, std::int32_t qualityIndex);
    // The program's part of the jobs started from now on (a front end's settings may change
    // while entries wait); running jobs keep theirs.
    void SetBase(TJobRequest base);

    // The folder (the program's own) where the entries' media transfers are kept across runs,
    // made when missing: a running entry's transfer goes into a file of its own there, named in
    // the entry's kept field, which a later run's job continues; the file goes when the entry
    // ends or is removed. Empty (the default): nothing is kept.
    void SetKeptFolder(std::string folder);
    // Removes the files of the kept folder that no entry names: those of a run that ended before
    // its queue was written, or of a queue file set aside.
    void RemoveStrayKept();

    std::vector<TQueueEntry> Entries() const;
    std::optional<TQueueEntry> Entry(std::uint64_t id) const;
    // The entry whose running or last job has this id.
    std::optional<TQueueEntry> EntryOfJob(std::uint64_t job) const;
    // Some entry waits or runs.
    bool Busy() const;

private:
    struct Impl;
    struct TRunner;
    std::shared_ptr<Impl> impl_;
};

}  // namespace tarnwick
