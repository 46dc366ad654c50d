// The state of a kept transfer is believed only when every line of it can be: a state that speaks
// of bytes the file may not hold reads as none, and the transfer starts anew.

#include "job/fetch/KeptState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TempFolder.h"

using namespace tarnwick;
using namespace tarnwick::testing;

TEST(KeptState, IsBelievedWholeOrNotAtAll) {
    TempFolder folder;
    const std::string kept = folder / "entry-1";
    std::ofstream{kept};
    std::filesystem::resize_file(kept, 1000);
    const TKeptState split{"\"v\"", "video/mp4", -1, {1000, "\"v\"", "", {{0, 10}, {10, 20}, {500, 1000}}}};
    WriteKeptState(kept, split);
    const TKeptState read = ReadKeptState(kept);
    EXPECT_EQ(read.validator, "\"v\"");
    EXPECT_EQ(read.mediaType, "video/mp4");
    EXPECT_EQ(read.split.total, 1000);
    EXPECT_EQ(read.split.etag, "\"v\"");
    ASSERT_EQ(read.split.missing.size(), 3u);
    EXPECT_EQ(read.split.missing[2].from, 500);
    EXPECT_FALSE(std::filesystem::exists(KeptStatePath(kept) + ".new"));

    const char* untrusted[] = {
        "",                                        // no validator
        "\"v\"\nsplit 1000\nmissing 20 10\n",      // a span backwards
        "\"v\"\nsplit 1000\nmissing 0 50\nmissing 40 60\n",  // spans overlapping
        "\"v\"\nsplit 1000\nmissing 900 1001\n",   // beyond the file
        "\"v\"\nmissing 0 10\nsplit 1000\n",       // a span of no split transfer
        "\"v\"\nsplit 999\nmissing 0 10\n",        // another size than the file's
        "\"v\"\nsplit 1000\nsplit 1000\n",         // said twice
        "\"v\"\nsplit -5\n",
        "\"v\"\nsplit 1000\nmissing 0 x\n",
        "\"v\"\nsplit 1000\nholes 0 10\n",         // a line of no known kind
        "\"v\"\nheld 12x\n",
    };
    for (const char* text : untrusted) {
        SCOPED_TRACE(text);
        std::ofstream(KeptStatePath(kept), std::ios::trunc) << text;
        const TKeptState none = ReadKeptState(kept);
        EXPECT_EQ(none.validator, "");
        EXPECT_EQ(none.split.total, -1);
    }
    std::ofstream(KeptStatePath(kept), std::ios::trunc) << "\"v\"\n" << std::string(5 << 20, 'x');
    EXPECT_EQ(ReadKeptState(kept).validator, "") << "longer than any state";
    ForgetKeptState(kept);
    EXPECT_FALSE(std::filesystem::exists(KeptStatePath(kept)));
    EXPECT_NO_THROW(ForgetKeptState(kept)) << "a state already gone";
}
