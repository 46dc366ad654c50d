#pragma once

// The fragments of one DASH representation in one period, from whichever addressing the
// manifest gives it: a SegmentTemplate (with $Number$ or a SegmentTimeline), a SegmentList, or
// a SegmentBase or bare BaseURL (one file). SegmentTemplate and SegmentList are looked for on
// the Representation, then its AdaptationSet, then its Period; a template's attributes are
// inherited one by one from the nearest level that has them.
//
// Used by the manifest reader only. Throws EDashRefused with the reason for what cannot be
// fetched whole or would go past the fragment budget.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "job/streams/StreamParts.h"

namespace tarnwick {

// The element's first child of that local name (any namespace prefix); an empty node if none.
pugi::xml_node DashChild(pugi::xml_node parent, std::string_view name);
// The element's name without its namespace prefix.
std::string_view DashLocalName(pugi::xml_node node);

struct TDashRepresentation {
    std::string base;  // the absolute address that every BaseURL down to the representation makes
    std::string id;
    std::int64_t bandwidth = 0;
    std::optional<double> periodSeconds;   // how long the period lasts, when known
    std::array<pugi::xml_node, 3> levels;  // Representation, AdaptationSet, Period
};

// Appends the representation's fragments, the initialisation first, to fragments, which may
// hold at most kMaxStreamFragments in all.
void AppendDashFragments(const TDashRepresentation& representation,
                         std::vector<TStreamFragment>& fragments);

}  // namespace tarnwick
