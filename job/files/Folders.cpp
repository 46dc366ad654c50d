#include "job/files/Folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tarnwick {

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

std::string Join(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

// The value of an environment variable that names a folder, when it is an absolute path; a
// relative or empty one is ignored, as desktop programs do.
std::string AbsoluteFolderFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    std::string folder(value);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string HomeFromPasswordDatabase() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found && found->pw_dir && found->pw_dir[0] == '/') return found->pw_dir;
    std::error_code error;
    auto current = std::filesystem::current_path(error);
    return error ? std::string("/") : current.string();
}

std::string ProgramFile() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

// The value of XDG_DESKTOP_DIR in a user-dirs.dirs file: "$HOME/Desktop" or "/abs/path".
std::string DesktopFromUserDirs(std::string_view homeDirectory, std::string_view configDirectory) {
    const std::string config =
        configDirectory.empty() ? Join(homeDirectory, ".config") : std::string(configDirectory);
    std::ifstream file(Join(config, "user-dirs.dirs"));
    std::string line;
    constexpr std::string_view key = "XDG_DESKTOP_DIR=\"";
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0) value = std::string(homeDirectory) + value.substr(5);
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        if (!value.empty() && value[0] == '/') return value;
    }
    return {};
}

}  // namespace

TStartPlaces CurrentStartPlaces() {
    TStartPlaces places;
    places.homeDirectory = AbsoluteFolderFromEnvironment("HOME");
    if (places.homeDirectory.empty()) places.homeDirectory = HomeFromPasswordDatabase();
    places.programFile = ProgramFile();
    places.cacheDirectory = AbsoluteFolderFromEnvironment("XDG_CACHE_HOME");
    if (places.cacheDirectory.empty()) places.cacheDirectory = Join(places.homeDirectory, ".cache");
    places.configDirectory = AbsoluteFolderFromEnvironment("XDG_CONFIG_HOME");
    if (places.configDirectory.empty())
        places.configDirectory = Join(places.homeDirectory, ".config");
    places.dataDirectory = AbsoluteFolderFromEnvironment("XDG_DATA_HOME");
    if (places.dataDirectory.empty())
        places.dataDirectory = Join(places.homeDirectory, ".local/share");
    return places;
}

std::string QueueFilePath(const TStartPlaces& places) {
    const std::string data = places.dataDirectory.empty()
                                 ? Join(places.homeDirectory, ".local/share")
                                 : places.dataDirectory;
    return Join(Join(data, "tarnwick"), "queue.json");
}

std::string DirectoryOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string WorkDirectoryFor(const TStartPlaces& places) {
    if (!places.programFile.empty()) {
        std::string directory = DirectoryOf(places.programFile);
        if (access(directory.c_str(), W_OK) == 0) return directory;
    }
    const std::string cacheBase = places.cacheDirectory.empty()
                                      ? Join(places.homeDirectory, ".cache")
                                      : places.cacheDirectory;
    std::string cache = Join(cacheBase, "tarnwick");
    CreateDirectories(cache);
    return cache;
}

std::string DefaultSaveDirectory(std::string_view homeDirectory) { return Join(homeDirectory, "My Web Videos"); }

std::string DesktopDirectory(std::string_view homeDirectory, std::string_view configDirectory) {
    for (const std::string& candidate : {DesktopFromUserDirs(homeDirectory, configDirectory),
                                         Join(homeDirectory, "Desktop")})
        if (!candidate.empty() && IsDirectory(candidate)) return candidate;
    return std::string(homeDirectory);
}

bool CreateDirectories(const std::string& path) noexcept {
    try {
        std::error_code error;
        std::filesystem::create_directories(path, error);
        return IsDirectory(path);
    } catch (...) {  // allocation failure inside the library; the caller only needs the answer
        return false;
    }
}

}  // namespace tarnwick
