#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "app/ProgressText.h"
#include "app/TransferMeter.h"

using namespace tarnwick;
using namespace std::chrono_literals;

TEST(ProgressText, KbCountsRoundHalvesToEven) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, 0},       {511, 0},     {512, 0},          {513, 1},          {1024, 1},
        {1536, 2},    {2560, 2},    {2561, 3},         {3584, 4},         {-5, 0},
        // 64-bit: a 5 GiB video and a half above it.
        {5LL << 30, 5LL << 20},     {(5LL << 30) + 512, 5LL << 20},       {(5LL << 30) + 1536, (5LL << 20) + 2},
    };
    for (const auto& [bytes, kb] : cases) EXPECT_EQ(RoundedKb(bytes), kb) << bytes;
}

TEST(ProgressText, ExtensionNamesTheDeliveredFile) {
    struct Case {
        const char* download;
        int format;
        const char* shown;
    };
    const Case cases[] = {
        {"flv", 0, "flv"},      {"webm", 0, "webm"},  {"flv", 6, "avi"}, {"flv", 1, "mov"},
        {"flv", 7, "mp3"},      {"mp4", 6, "avi (HD)"}, {"mp4", 2, "mp4"}, {"mp4", 0, "mp4"},
        {"mp4", 1, "mov"},      {"MP4", 6, "avi"},
    };
    for (const Case& c : cases) EXPECT_EQ(DeliveredExtensionText(c.download, c.format), c.shown) << c.download << " " << c.format;
}

TEST(ProgressText, LineReadsNameExtensionAndCounts) {
    EXPECT_EQ(ProgressLine("clip", "avi", 1536, 10240), QString::fromUtf8("clip.avi \u2014 2 Kb of 10 Kb"));
    EXPECT_EQ(ProgressLine("clip", "flv", 70000, 0), QString::fromUtf8("clip.flv \u2014 68 Kb of 0 Kb"));
    EXPECT_EQ(ProgressLine("big", "avi (HD)", 6LL << 30, 7LL << 30),
              QString::fromUtf8("big.avi (HD) \u2014 6291456 Kb of 7340032 Kb"));
    // A name that is not UTF-8 reads as Windows-1252, as the description does.
    EXPECT_EQ(ProgressLine("caf\xe9", "avi", 0, 0), QString::fromUtf8("caf\u00e9.avi \u2014 0 Kb of 0 Kb"));
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
