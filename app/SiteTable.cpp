#include "app/SiteTable.h"

#include <array>
#include <stdexcept>

namespace tarnwick {

namespace {

constexpr std::array<TSite, SiteCount> Sites{{
    {"youtube.com", "https://www.youtube.com/watch?v=tW1ck3xAmpL", 166, 202, 240},
    {"redtube.com", "https://www.redtube.com/40120031", 245, 152, 157},
    {"metacafe.com", "https://www.metacafe.com/watch/12046893/sunrise_over_the_harbour/", 92, 216, 152},
    {"dailymotion.com", "https://www.dailymotion.com/video/x8tarnw", 92, 216, 152},
    {"xvideos.com", "https://www.xvideos.com/video48215507/harbour_walk", 245, 152, 157},
}};

}  // namespace

const TSite& SiteOf(int siteNumber) {
    if (siteNumber < 1 || siteNumber > SiteCount) throw std::out_of_range("site number out of range");
    return Sites[static_cast<std::size_t>(siteNumber - 1)];
}

}  // namespace tarnwick
