#pragma once

// Texts that every stage of a job may say, whichever stage it is in when it happens.

#include <string_view>

namespace tarnwick {

// The reason of a job the user aborted, at any stage.
inline constexpr std::string_view kAbortedByUserText = "Stopped by the user.";

}  // namespace tarnwick
