#pragma once

// The file the window keeps its download queue in across runs (see QueueFilePath in
// job/files/Folders.h), a JSON document:
//   {"tarnwick-queue": 1, "entries": [{"address": "...", "site": 1, "hd": 0, "format": 6,
//     "quality": 2, "save_dir": "", "state": "waiting", "bytes": 0, "total": 0, "title": "",
//     "reason": "", "file": "", "kept": ""}, ...]}
// Texts that are no valid UTF-8 are written with U+FFFD in place of the bad bytes.
//
// Written whole each time: into a temporary file beside it, flushed to disk, renamed over the
// old one, and the folder flushed, so after any end of the program (kill -9, a power cut) the
// file is the old queue or the new one, never a mix. Read with bounds: a file larger than
// kMaxFileBytes, with more than kMaxEntries entries, nested deeper than an entry's fields, with a
// field of the wrong type, out of range or longer than kMaxTextBytes is damaged; a damaged file,
// and one written by a newer version, is renamed aside (never deleted, never overwritten) and
// the queue starts empty, with a note that says so.
//
// One running copy keeps the queue: the lock file "queue.lock" beside it is locked (flock) by
// Lock and held until the object goes; a second copy fails to take it and keeps nothing.
//
// Threads: one object is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ScopedFd.h"
#include "job/queue/QueueEntry.h"

namespace tarnwick {

class TQueueFile {
public:
    static constexpr std::int64_t kVersion = 1;
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxEntries = 10000;
    static constexpr std::size_t kMaxTextBytes = 64 * 1024;

    explicit TQueueFile(std::string path);
    TQueueFile(const TQueueFile&) = delete;
    TQueueFile& operator=(const TQueueFile&) = delete;

    // Makes the folder and takes the lock; false (and nothing is read or written) when another
    // running copy holds it, or it cannot be made. Temporary files left by a copy that was killed
    // while writing are removed once the lock is held.
    bool Lock();
    bool Locked() const noexcept { return lock_ != nullptr; }

    struct TLoaded {
        std::vector<TQueueEntry> entries;  // in the file's order
        std::string note;                  // for the status line: why the file was set aside
    };
    // The queue as kept; none when there is no file or it is not locked.
    TLoaded Load();
    // Writes entries as the whole queue; "" or the system's reason ("" without a write when not
    // locked).
    std::string Save(const std::vector<TQueueEntry>& entries);

    const std::string& Path() const noexcept { return path_; }

private:
    // Renames the file aside with a name that says why; returns the new name, or "" on failure.
    std::string SetAside(const std::string& why);

    const std::string path_;
    const std::string folder_;
    std::unique_ptr<ScopedFd> lock_;  // the lock file, while held
};

// The document's text for entries.
std::string QueueDocument(const std::vector<TQueueEntry>& entries);

}  // namespace tarnwick
