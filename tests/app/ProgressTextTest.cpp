#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "app/ProgressText.h"
#include "app/TransferMeter.h"

using namespace tarnwick;
using namespace std::chrono_literals;

// The line itself is the job's (StatusTexts); the window only decodes it for display.
TEST(ProgressText, ANameThatIsNotUtf8ReadsAsWindows1252) {
    const TTransferProgress progress{1536, 2560, "caf\xe9", ".avi \xe2\x80\x94 2 Kb of 2 Kb"};
    EXPECT_EQ(ProgressLine(progress), QString::fromUtf8("caf\u00e9.avi \u2014 2 Kb of 2 Kb"));
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
