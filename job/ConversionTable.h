#pragma once

// The conversion table: target extensions by format, converter command lines by format and
// quality, and the clean-up of a job's temporary media files.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// "flv", "mov", "mp4", "mp4", "3gp", "wmv", "avi", "mp3" for formats 0 to 7.
std::string_view TargetExtension(std::int32_t format);

// The extensions of the temporary media files, in the order the clean-up walks them.
inline constexpr std::array<std::string_view, 8> kTemporaryExtensions = {
    "3gp", "avi", "flv", "mov", "mp3", "mp4", "mpeg", "wmv"};

// The high-definition case: an "mp4" download converted with format 6.
bool IsHighDefinitionCase(std::string_view fileExtension, std::int32_t format);

// The converter's command line for the format (1 to 7) and quality (0 to 3), reading
// "video.<fileExtension>" in the work directory.
std::string BuildConverterCommand(std::int32_t format, std::int32_t quality,
                                  std::string_view fileExtension);

// Deletes the temporary media files "video.<ext>" (and the conversion's side outputs) of the work
// directory. "default.jpg" stays.
void ClearTemporaryFiles(const std::string& workDirectory);

}  // namespace tarnwick
