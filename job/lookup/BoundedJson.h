#pragma once

// JSON from an untrusted source (a page's JSON-LD, yt-dlp's output), read with bounds: arrays and
// objects nested deeper than a limit are dropped from the result, so a document like "[[[[..."
// a million deep costs memory in proportion to its size and no stack, and every walk over the
// result is bounded by the limit.
//
// A plain function: any thread; nothing throws but std::bad_alloc.

#include <string_view>

#include <nlohmann/json.hpp>

namespace tarnwick {

// Nesting depth that JSON of a page or of yt-dlp is read to; deeper values are dropped.
inline constexpr int kJsonDepthLimit = 64;

// The value that text holds, with every array or object at nesting depth maxDepth or deeper
// (the outermost value has depth 0) left out of its container. A discarded value
// (is_discarded()) when text is not one JSON value or the outermost value is too deep itself.
nlohmann::json ParseBoundedJson(std::string_view text, int maxDepth = kJsonDepthLimit);

}  // namespace tarnwick
