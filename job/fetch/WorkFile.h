#pragma once

// A fetch's work file, made anew and removed when it goes unless kept: a failed or aborted
// transfer's bytes are of no use to anyone. The last job's work file may be a hard link to the
// video delivered then, so an old file of its name is unlinked, never truncated.

#include <optional>
#include <string>

#include "net/IdStream.h"

namespace tarnwick {

class TWorkFile {
public:
    // Throws EIdStreamError when the file cannot be made (nothing is left behind then).
    explicit TWorkFile(std::string path);
    ~TWorkFile();
    TWorkFile(const TWorkFile&) = delete;
    TWorkFile& operator=(const TWorkFile&) = delete;

    TIdFileStream& Stream() { return *file_; }
    void Keep() noexcept { keep_ = true; }

private:
    std::string path_;
    std::optional<TIdFileStream> file_;
    bool keep_ = false;
};

}  // namespace tarnwick
