#pragma once

// A fresh folder under TMPDIR (or /tmp) for one test, removed with everything in it at the end.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace tarnwick::testing {

class TempFolder {
public:
    TempFolder() : TempFolder(DefaultBase()) {}
    // In another file system's folder, e.g. "/dev/shm".
    explicit TempFolder(const std::string& base) {
        std::string pattern = base + "/tarnwick-test.XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        if (path_.empty()) return;
        // Read-only folders left by a test must not stop the removal.
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            if (entry.is_directory(ignored)) ::chmod(entry.path().c_str(), 0700);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    static std::string DefaultBase() {
        const char* base = std::getenv("TMPDIR");
        return base && *base ? base : "/tmp";
    }

    std::string path_;
};

}  // namespace tarnwick::testing
