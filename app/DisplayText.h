#pragma once

#include <QString>

#include <string_view>

namespace tarnwick {

// Text for the screen from 8-bit bytes (file names, lookup answers): decoded as UTF-8 when the
// bytes are valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off
// sequence), otherwise as Windows-1252, where the five unassigned bytes keep their own code points.
QString DisplayText(std::string_view bytes);

}  // namespace tarnwick
