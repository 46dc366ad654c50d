#pragma once

// Delivery of a finished work file into the save directory, all or nothing.
//
// The file first appears under a hidden temporary name in the save directory: a hard link to the
// work file when both directories are on one file system (no byte copied), otherwise a copy made
// by the kernel (copy_file_range, or sendfile across file systems; read/write as the last
// resort). It is flushed to disk and only then renamed over the destination, so the destination
// is at every moment either the file that was there before or the whole new file. On any
// failure, or a stop, the temporary name is removed and an existing destination stays as it was.
// The work file is never changed; but after a linked delivery it is a second name of the
// delivered file, so it must be removed (ClearTemporaryFiles), never truncated or written into,
// before the next job makes its work files.

#include <atomic>
#include <string>

namespace tarnwick {

struct TDeliveryOutcome {
    bool delivered = false;
    bool linked = false;   // delivered as a hard link, no byte copied
    bool stopped = false;  // the stop flag ended it before the rename
    std::string reason;    // why not, in words for the user's hint
};

// Delivers source as saveDirectory + "/" + destinationName. The save directory is created with
// its missing parents first. stop is read between blocks of a copy. Never raises.
TDeliveryOutcome DeliverFile(const std::string& source, const std::string& saveDirectory,
                             const std::string& destinationName, const std::atomic<bool>& stop);

}  // namespace tarnwick
