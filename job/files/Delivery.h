#pragma once

// Delivery of a finished work file into the save directory, all or nothing, never over a file
// that is there.
//
// The file first appears under a hidden temporary name in the save directory
// (".tarnwick-XXXXXXXX.part", eight hex digits): a hard link to the work file when both
// directories are on one file system (no byte copied), otherwise a copy made by the kernel
// (copy_file_range, or sendfile across file systems; read/write as the last resort). It is
// flushed to disk and only then given its name, without replacing anything: the destination name
// when it is free, otherwise the first free "Name (2).ext", "Name (3).ext", ... as browsers do.
// Taking the name never replaces (rename with RENAME_NOREPLACE; a hard link where the file system
// lacks it; where it has neither, a rename over an empty file of ours made under the free name),
// so a file that appears meanwhile is never replaced either. Every file that was in the
// save directory therefore stays as it was, and a name there is at every moment either absent or
// a whole file. On any failure, or a stop, the temporary name is removed.
//
// A delivery holds an exclusive flock on its temporary file until the file has its name. A
// delivery also removes the temporary files that earlier deliveries into the same directory left
// behind (a kill during a copy): only names of exactly that pattern, only regular files, and only
// those whose lock it can take, so a copy still running elsewhere keeps its file.
//
// The work file is never changed; but after a linked delivery it is a second name of the
// delivered file, so it must be removed (TWorkArea::ClearWorkFiles), never truncated or written into,
// before the next job makes its work files.

#include <string>

#include "http/IdAbortSignal.h"

namespace tarnwick {

struct TDeliveryOutcome {
    bool delivered = false;
    bool linked = false;      // delivered as a hard link, no byte copied
    bool stopped = false;     // the abort ended it before the file took its name
    std::string destination;  // the file saved: saveDirectory + "/" + the name it took
    std::string reason;       // why not, in words for the user's hint
};

// Delivers source into saveDirectory as destinationName, or as the first free numbered name
// beside it ("clip.avi", "clip (2).avi", ...; the number goes before the last "."). The save
// directory is created with its missing parents first. stop (the job's abort) is read between
// blocks of a copy.
// Never raises: a failure of its own (memory, the random source) is a reason like the others.
TDeliveryOutcome DeliverFile(const std::string& source, const std::string& saveDirectory,
                             const std::string& destinationName, const TIdAbortSignal& stop);

// For tests: what the save folder's file system lacks, so that the ways delivery takes on such
// file systems (vfat, some network file systems) run on any. Process-wide; a test sets it around
// the deliveries it makes and clears it after.
struct TFileSystemLacks {
    bool renameNoReplace = false;  // renameat2 with RENAME_NOREPLACE answers EINVAL
    bool hardLinks = false;        // link answers EPERM
    bool rename = false;           // a plain rename fails (EIO): the last step goes wrong
};
void SimulateFileSystemLacks(const TFileSystemLacks& lacks) noexcept;

// The n-th name DeliverFile tries for destinationName: the name itself for 1, "stem (n).ext" for
// n > 1 ("name (n)" when the name has no "." after its first byte).
std::string NumberedName(const std::string& destinationName, int n);

}  // namespace tarnwick
