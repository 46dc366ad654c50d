#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "app/ProgressText.h"
#include "app/TransferMeter.h"

using namespace tarnwick;
using namespace std::chrono_literals;

TEST(ProgressText, LineNamesTheDeliveredFileAndRoundsKbHalvesToEven) {
    struct Case {
        const char* extension;
        int format;
        std::int64_t bytes, total;
        const char* line;
    };
    const Case cases[] = {
        {"flv", 6, 1536, 2560, "clip.avi \u2014 2 Kb of 2 Kb"},
        {"flv", 6, 3584, 513, "clip.avi \u2014 4 Kb of 1 Kb"},
        {"flv", 6, 512, 0, "clip.avi \u2014 0 Kb of 0 Kb"},
        {"flv", 0, 1024, 70000, "clip.flv \u2014 1 Kb of 68 Kb"},
        {"webm", 0, 0, 0, "clip.webm \u2014 0 Kb of 0 Kb"},
        {"flv", 1, 0, 0, "clip.mov \u2014 0 Kb of 0 Kb"},
        {"flv", 7, 0, 0, "clip.mp3 \u2014 0 Kb of 0 Kb"},
        {"mp4", 6, 0, 0, "clip.avi (HD) \u2014 0 Kb of 0 Kb"},
        {"mp4", 2, 0, 0, "clip.mp4 \u2014 0 Kb of 0 Kb"},
        {"mp4", 1, 0, 0, "clip.mov \u2014 0 Kb of 0 Kb"},
        {"mp4", 0, 0, 0, "clip.mp4 \u2014 0 Kb of 0 Kb"},
        {"flv", 6, (5LL << 30) + 512, (5LL << 30) + 1536, "clip.avi \u2014 5242880 Kb of 5242882 Kb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressLine("clip", c.extension, c.format, c.bytes, c.total), QString::fromUtf8(c.line))
            << c.extension << " " << c.format << " " << c.bytes;
    // A name that is not UTF-8 reads as Windows-1252, as the description does, and the dash stays.
    EXPECT_EQ(ProgressLine("caf\xe9", "flv", 0, 0, 0), QString::fromUtf8("caf\u00e9.flv \u2014 0 Kb of 0 Kb"));
}

TEST(ProgressText, SpeedAndTimeLeft) {
    EXPECT_EQ(RateText(80), "80 B/s");
    EXPECT_EQ(RateText(512 * 1024), "512 KB/s");
    EXPECT_EQ(RateText(2.4 * 1024 * 1024), "2.4 MB/s");
    EXPECT_EQ(RateText(3.0 * 1024 * 1024 * 1024), "3.0 GB/s");
    EXPECT_EQ(TimeLeftText(42), "0:42 left");
    EXPECT_EQ(TimeLeftText(725), "12:05 left");
    EXPECT_EQ(TimeLeftText(3723), "1:02:03 left");
}

TEST(TransferMeter, FiguresChangeOncePerIntervalAndFollowTheSpeedSmoothly) {
    TTransferMeter meter;
    const auto start = TTransferMeter::Clock::time_point{} + 100s;
    meter.Begin(10'000'000, start);
    EXPECT_FALSE(meter.Update(400'000, start + 400ms)) << "no figure before the first interval";
    EXPECT_FALSE(meter.HasRate());
    EXPECT_FALSE(meter.SecondsLeft());

    ASSERT_TRUE(meter.Update(500'000, start + 500ms));
    EXPECT_DOUBLE_EQ(meter.Rate(), 1'000'000);
    EXPECT_EQ(meter.SecondsLeft(), 10);  // 9.5 MB left at 1 MB/s, rounded up

    EXPECT_FALSE(meter.Update(900'000, start + 700ms)) << "within an interval the figures hold";
    EXPECT_DOUBLE_EQ(meter.Rate(), 1'000'000);

    // A burst of 4 MB/s over one interval moves the speed by less than a third of the jump.
    ASSERT_TRUE(meter.Update(2'500'000, start + 1000ms));
    EXPECT_DOUBLE_EQ(meter.Rate(), 0.3 * 4'000'000 + 0.7 * 1'000'000);

    // Without a total only the speed is known.
    meter.Begin(0, start + 2s);
    meter.Update(1'000'000, start + 3s);
    EXPECT_TRUE(meter.HasRate());
    EXPECT_FALSE(meter.SecondsLeft());
}
