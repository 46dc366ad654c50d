#pragma once

#include <string>
#include <string_view>

// Where the program keeps its files. Paths are byte strings with "/" as separator; directories
// are held without a trailing "/" except "/" itself. Only CurrentStartPlaces reads the
// environment; everything else works from the places it is given.

namespace tarnwick {

// The user and the program a window is started for.
struct TStartPlaces {
    std::string homeDirectory;  // the user's home folder
    std::string programFile;    // full path of the running program
    std::string cacheDirectory{};   // the user's cache folder; empty: <home>/.cache
    std::string configDirectory{};  // the user's settings folder; empty: <home>/.config
    std::string dataDirectory{};    // the user's data folder; empty: <home>/.local/share
};

// The places of this process, read as desktop programs read them: the home folder from $HOME
// when that is an absolute path, else from the password database (the current directory when
// the user has no entry); the cache folder from $XDG_CACHE_HOME and the settings folder from
// $XDG_CONFIG_HOME and the data folder from $XDG_DATA_HOME when absolute, else below the home
// folder; the program file from
// /proc/self/exe.
TStartPlaces CurrentStartPlaces();

// The directory part of a path: "/usr/bin/tarnwick" gives "/usr/bin", "/tarnwick" gives "/",
// a path without "/" gives ".".
std::string DirectoryOf(std::string_view path);

// The work directory: the program file's directory when it is writable, otherwise
// <cache>/tarnwick, which is then created (a failure is ignored).
std::string WorkDirectoryFor(const TStartPlaces& places);

// The file the window keeps its download queue in: <data>/tarnwick/queue.json (an empty
// dataDirectory is <home>/.local/share).
std::string QueueFilePath(const TStartPlaces& places);

// The save directory the program starts with: <home>/My Web Videos.
std::string DefaultSaveDirectory(std::string_view homeDirectory);

// The folder the folder browser starts at: the desktop folder named in <config>/user-dirs.dirs
// ("$HOME/..." read with homeDirectory), else <home>/Desktop, each only when it exists; otherwise
// the home folder itself. An empty configDirectory is <home>/.config.
std::string DesktopDirectory(std::string_view homeDirectory, std::string_view configDirectory = {});

// Creates a directory with all missing parents. Returns false when it does not exist afterwards;
// never throws.
bool CreateDirectories(const std::string& path) noexcept;

}  // namespace tarnwick
