#pragma once

// The names a job gives its files, made safe from what a page or a record says: the lookup names
// the file, the job state keeps it, and delivery gives it to the saved file.

#include <string>
#include <string_view>

namespace tarnwick {

// The record's file extension made safe to name a file: ASCII letters and digits only (anything
// else dropped), at most 16 of them. An empty result stays empty.
std::string SafeFileExtension(std::string_view extension);
// The record's file name made safe to name a file: "/", NUL and control bytes become "_", the
// invisible controls of text direction (IsDirectionControl) are removed, leading dots
// become "_", an empty name becomes "video", and the name is cut at 200 bytes on a UTF-8
// character boundary.
std::string SafeFileName(std::string_view name);

}  // namespace tarnwick
