#pragma once

#include <string>
#include <string_view>

// Where the program keeps its files. Paths are byte strings with "/" as separator; directories
// are held without a trailing "/" except "/" itself. Nothing here reads environment variables.

namespace tarnwick {

// The user and the program a window is started for.
struct TStartPlaces {
    std::string homeDirectory;  // the user's home folder
    std::string programFile;    // full path of the running program
};

// The places of this process: the home folder from the password database (the current
// directory when the user has no entry) and the program file from /proc/self/exe.
TStartPlaces CurrentStartPlaces();

// The directory part of a path: "/usr/bin/tarnwick" gives "/usr/bin", "/tarnwick" gives "/",
// a path without "/" gives ".".
std::string DirectoryOf(std::string_view path);

// The work directory: the program file's directory when it is writable, otherwise
// <home>/.cache/tarnwick, which is then created (a failure is ignored).
std::string WorkDirectoryFor(const TStartPlaces& places);

// The save directory the program starts with: <home>/My Web Videos.
std::string DefaultSaveDirectory(std::string_view homeDirectory);

// The folder the folder browser starts at: the desktop folder named in <home>/.config/user-dirs.dirs,
// else <home>/Desktop, each only when it exists; otherwise the home folder itself.
std::string DesktopDirectory(std::string_view homeDirectory);

// Creates a directory with all missing parents. Returns false when it does not exist afterwards;
// never throws.
bool CreateDirectories(const std::string& path) noexcept;

}  // namespace tarnwick
