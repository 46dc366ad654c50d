#pragma once

#include <string_view>

namespace tarnwick {

// One of the video sites the program serves. The site number (1 to 5) is the site's position in
// the site list plus one, and is what the lookup request sends as the server.
struct TSite {
    std::string_view domain;          // shown in the site list
    std::string_view exampleAddress;  // a typical video page address on the site
    int red, green, blue;             // colour of the description page
};

inline constexpr int SiteCount = 5;

// The site of a site number from 1 to SiteCount; throws std::out_of_range for any other number.
const TSite& SiteOf(int siteNumber);

}  // namespace tarnwick
