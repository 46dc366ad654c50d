// The progress line and the job status texts, as every front end shows them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "job/session/StatusTexts.h"

using namespace tarnwick;

TEST(StatusTexts, ProgressLines) {
    const std::string dash = " \xe2\x80\x94 ";
    const struct {
        const char* ext;
        std::int32_t format;
        std::int64_t bytes, total;
        std::string line;
    } cases[] = {
        {"flv", 6, 1536, 10240, "clip.avi" + dash + "2 Kb of 10 Kb"},  // a half goes to even
        {"flv", 6, 2560, 3584, "clip.avi" + dash + "2 Kb of 4 Kb"},
        {"flv", 6, 1535, 1537, "clip.avi" + dash + "1 Kb of 2 Kb"},
        {"flv", 0, 0, 0, "clip.flv" + dash + "0 Kb of 0 Kb"},
        {"mp4", 6, 512, 0, "clip.avi (HD)" + dash + "0 Kb of 0 Kb"},
        {"mp4", 2, 0, 0, "clip.mp4" + dash + "0 Kb of 0 Kb"},
        {"mp4", 7, 0, 0, "clip.mp3" + dash + "0 Kb of 0 Kb"},
        {"mp4", 0, 0, 0, "clip.mp4" + dash + "0 Kb of 0 Kb"},
        // Past 2 and 4 GiB the counts stay true.
        {"flv", 0, 5LL << 30, 6LL << 30, "clip.flv" + dash + "5242880 Kb of 6291456 Kb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressLineText("clip", c.ext, c.format, c.bytes, c.total), c.line)
            << c.ext << " " << c.format << " " << c.bytes;

    EXPECT_EQ(JobStatusText(jsCompleted), "Download is completed.");
    EXPECT_EQ(JobStatusText(jsUnavailable), "Video file is unavailable.");
    EXPECT_EQ(JobStatusText(jsAborted), "Download aborted.");
}

TEST(StatusTexts, TerminalSafeText) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"A title \xc3\xa9\xe2\x80\x94 ok", "A title \xc3\xa9\xe2\x80\x94 ok"},
        {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},
        {"line\nVideo file is successfully saved.\r", "line?Video file is successfully saved.?"},
        {"c1 \xc2\x9b" "31m and del \x7f", "c1 ?31m and del ?"},
        {"bare \x9b" "31m", "bare ?31m"},
        {"rlo \xe2\x80\xae" "gpj.exe", "rlo ?gpj.exe"},
        {"overlong \xc0\xaf cut \xe2\x80", "overlong ?? cut ??"},
    };
    for (const auto& c : cases) EXPECT_EQ(TerminalSafeText(c.in), c.out) << c.in;
}
