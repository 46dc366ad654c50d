#pragma once

// The conversion table: target extensions by format, and the converter's arguments by format and
// quality. (A job's work files are cleared by its work folder, TWorkArea.)
//
// The command lines are written for today's ffmpeg: bit rates carry their unit ("-b:v 500k",
// "-b:a 64k"), the Xvid encoder is "libxvid", and 3GP is given an audio codec it can hold. Every
// size, rate, quality, channel count and codec choice is the table's own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// The converter, looked for in the program's folder, then on the PATH.
inline constexpr std::string_view kConverterProgramName = "ffmpeg";

// "flv", "mov", "mp4", "mp4", "3gp", "wmv", "avi", "mp3" for formats 0 to 7; "flv" for any other.
std::string_view TargetExtension(std::int32_t format);

// The downloaded work file: "video." + fileExtension.
std::string SourceFileName(std::string_view fileExtension);
// The name the converter writes for format (1 to 7): "video." + the target extension, or
// "video-converted." + the target extension when that would be the download itself (an "mp4"
// download converted to format 2 or 3, a "mov" download to format 1, ...), so the converter never
// writes onto its input.
std::string ConvertedFileName(std::int32_t format, std::string_view fileExtension);

// The high-definition case: an "mp4" download (letter case significant) converted with format 6.
bool IsHighDefinitionCase(std::string_view fileExtension, std::int32_t format);

// The converter's arguments (the program's name "ffmpeg" first) for the format (1 to 7) and
// quality (0 to 3): "-i" and an input for each of inputs (work files, relative to the work
// directory, each one argument whatever it holds); with several inputs, maps that take the picture
// from the first and the sound from the second (the sound alone for format 7); the options (the
// high-definition ones in the high-definition case, otherwise the table's entry); and
// ConvertedFileName(format, fileExtension) to write, relative to the work directory;
// fileExtension must be safe (SafeFileExtension). Empty for a format or quality out of range, or
// no input.
std::vector<std::string> ConverterCommand(std::int32_t format, std::int32_t quality,
                                          const std::vector<std::string>& inputs,
                                          std::string_view fileExtension);

}  // namespace tarnwick
