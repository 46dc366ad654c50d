#pragma once

// The work folder of one running copy of the program: a private folder ".tarnwick-work-XXXXXX"
// made inside the program's work directory, which holds this copy's work files ("default.jpg",
// "video.<ext>", the converter's output), each job's in a folder of its own ("job-<id>"), and
// nothing else. The sessions of one copy share it (Shared), so two jobs never touch each other's
// files whichever session runs them. The work directory itself may be the
// user's folder (the program's own folder, or a save folder chosen to be the same): nothing in it
// but our private folders is ever written or removed, so a user's "video.mp4" or "copy-of-notes/"
// beside the program stays as it is. Two copies never share work files.
//
// A private folder carries the program's mark, the lock file ".tarnwick-work.lock" inside it,
// locked (flock) for as long as its copy runs. The mark appears only once it is locked (it is
// made under another name and renamed), so a folder is taken for abandoned only when its mark is
// there and no running copy holds it: such folders, left by copies that were killed, are removed
// when the next copy starts. A folder without the mark is never removed (a copy killed in the
// instant between making the folder and marking it leaves an empty folder behind).

#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick {

class TWorkArea {
public:
    // base: the program's work directory (created when missing). When the private folder cannot
    // be made, Directory() names one that does not exist, so the jobs fail on their work files
    // with the system's reason.
    explicit TWorkArea(std::string base);
    ~TWorkArea();  // removes the private folder with everything in it, and releases the lock
    TWorkArea(const TWorkArea&) = delete;
    TWorkArea& operator=(const TWorkArea&) = delete;

    // The private folder in base of every session that works there: made by the first that asks,
    // removed when the last lets it go.
    static std::shared_ptr<TWorkArea> Shared(const std::string& base);

    // Where this copy's work files go (no trailing "/").
    const std::string& Directory() const noexcept { return directory_; }

    // Removes every file in the private folder but its mark (not the jobs' folders). Never raises.
    void ClearWorkFiles() const noexcept;

    // The folder of job's work files, "<Directory()>/job-<id>", made when missing (a folder that
    // cannot be made fails the job on its first work file, with the system's reason).
    std::string JobFolder(std::uint64_t job) const;
    // Removes job's folder with everything in it; returns the system's reason when something
    // could not be removed, else "".
    std::string RemoveJobFolder(std::uint64_t job) const;

private:
    std::string directory_;
    int lockFd_ = -1;
};

}  // namespace tarnwick
