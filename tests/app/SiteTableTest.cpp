#include "app/SiteTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

using namespace tarnwick;

TEST(SiteTable, OnlySiteNumbersOneToFiveExist) {
    EXPECT_EQ(SiteOf(1).domain, "youtube.com");
    EXPECT_EQ(SiteOf(SiteCount).domain, "xvideos.com");
    EXPECT_THROW(SiteOf(0), std::out_of_range);
    EXPECT_THROW(SiteOf(SiteCount + 1), std::out_of_range);
    EXPECT_THROW(SiteOf(-1), std::out_of_range);
}

TEST(SiteTable, DemoCatalogueAnswersForTheFirstSitesExampleAddress) {
    // scripts/demo serves its sample video under this address; the two must not drift apart.
    std::ifstream demo(TARNWICK_SOURCE_DIR "/scripts/demo");
    ASSERT_TRUE(demo) << "scripts/demo not found";
    std::stringstream text;
    text << demo.rdbuf();
    const std::string line = "example_address=\"" + std::string(SiteOf(1).exampleAddress) + "\"";
    EXPECT_NE(text.str().find(line), std::string::npos) << "scripts/demo lacks: " << line;
}
