#pragma once

// The window program's command line:
//
//     tarnwick [--lookup HOST:PORT]
//
// --lookup points the window at another lookup service for this run (also as --lookup=HOST:PORT).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/lookup/LookupQuery.h"

namespace tarnwick {

inline constexpr std::string_view kWindowUsage = "usage: tarnwick [--lookup HOST:PORT]\n";

struct TWindowCommandLine {
    std::optional<TLookupEndpoint> lookup;
};

// The arguments after the program's name (Qt's own options already taken out). Nothing when they
// are wrong: an unknown option, a missing or malformed value, a repeated --lookup.
std::optional<TWindowCommandLine> ParseWindowCommandLine(const std::vector<std::string>& arguments);

}  // namespace tarnwick
