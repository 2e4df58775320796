#include "audio/engine/frame_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(FramePolicyTest, ThirtyMsTargetTakesLessAsItsQueueFills) {
    // 1440-frame target, 480-frame packets, thresholds 90 / 180.
    EXPECT_EQ(TargetFrameCount(480, 0, 1440, 30.0f), 480u);
    EXPECT_EQ(TargetFrameCount(480, 50, 1440, 30.0f), 480u);
    EXPECT_EQ(TargetFrameCount(480, 150, 1440, 30.0f), 480u);   // 4/5 of 1290 = 1032
    EXPECT_EQ(TargetFrameCount(480, 600, 1440, 30.0f), 420u);   // half of 840
    EXPECT_EQ(TargetFrameCount(480, 1200, 1440, 30.0f), 120u);  // half of 240 = quarter packet
    // Half the room would be 20; the quarter packet is asked for and exceeds
    // the room of 40: the render buffer request is the one to refuse it.
    EXPECT_EQ(TargetFrameCount(480, 1400, 1440, 30.0f), 120u);
}

TEST(FramePolicyTest, BandEdgesAndTruncation) {
    // 480-frame target at 30 ms: low 30, high 60, so the room limits each band.
    EXPECT_EQ(TargetFrameCount(480, 29, 480, 30.0f), 451u);  // whole room
    EXPECT_EQ(TargetFrameCount(480, 30, 480, 30.0f), 360u);  // 4/5 of 450
    EXPECT_EQ(TargetFrameCount(480, 31, 480, 30.0f), 359u);  // 449 x 4 / 5, not 449 / 5 x 4
    EXPECT_EQ(TargetFrameCount(480, 39, 480, 30.0f), 352u);  // 4/5 of 441 = 352.8
    EXPECT_EQ(TargetFrameCount(480, 59, 480, 30.0f), 336u);  // 4/5 of 421 = 336.8
    EXPECT_EQ(TargetFrameCount(480, 60, 480, 30.0f), 210u);  // half of 420
    EXPECT_EQ(TargetFrameCount(480, 61, 480, 30.0f), 209u);  // half of 419
}

TEST(FramePolicyTest, QueueAtOrBeyondTheBufferAsksForAQuarterPacket) {
    EXPECT_EQ(TargetFrameCount(480, 1440, 1440, 30.0f), 120u);
    // A device reporting more than its buffer must not turn the room into a
    // huge number and get the whole packet.
    EXPECT_EQ(TargetFrameCount(480, 1441, 1440, 30.0f), 120u);
    EXPECT_EQ(TargetFrameCount(480, 0xFFFFFFFFu, 1440, 30.0f), 120u);
    // A packet too short to have a quarter gets nothing into a full target.
    EXPECT_EQ(TargetFrameCount(3, 1440, 1440, 30.0f), 0u);
    EXPECT_EQ(TargetFrameCount(0, 0, 1440, 30.0f), 0u);
}

TEST(FramePolicyTest, ThresholdBandsSwitchAfterTwentyAndThirtyMs) {
    struct Band {
        float bufferMs;
        uint32_t low;
        uint32_t high;
    };
    for (const Band& band : {Band{1.0f, 72, 144}, Band{20.0f, 72, 144}, Band{20.5f, 90, 180},
                             Band{30.0f, 90, 180}, Band{30.5f, 120, 240}, Band{60.0f, 120, 240}}) {
        const QueueThresholds t = QueueThresholdsFor(1440, band.bufferMs);
        EXPECT_EQ(t.low, band.low) << band.bufferMs;
        EXPECT_EQ(t.high, band.high) << band.bufferMs;
    }
    const QueueThresholds truncated = QueueThresholdsFor(1000, 40.0f);
    EXPECT_EQ(truncated.low, 83u);
    EXPECT_EQ(truncated.high, 166u);
}

TEST(FramePolicyTest, ThresholdsFollowTheCurrentLatency) {
    // 100 of 1000 frames queued is "full" at 20 ms (high 100) but only in the
    // middle band at 30 ms (high 125).
    EXPECT_EQ(TargetFrameCount(480, 100, 1000, 20.0f), 450u);  // half of 900
    EXPECT_EQ(TargetFrameCount(480, 100, 1000, 30.0f), 480u);  // 4/5 of 900 = 720
}

TEST(FramePolicyTest, PacingFollowsTheLatency) {
    EXPECT_EQ(PassWaitFor(1.0f), PassWait::Yield);
    EXPECT_EQ(PassWaitFor(15.0f), PassWait::Yield);
    EXPECT_EQ(PassWaitFor(15.5f), PassWait::Sleep1Ms);
    EXPECT_EQ(PassWaitFor(25.0f), PassWait::Sleep1Ms);
    EXPECT_EQ(PassWaitFor(25.5f), PassWait::Sleep2Ms);
    EXPECT_EQ(PassWaitFor(60.0f), PassWait::Sleep2Ms);

    EXPECT_EQ(PacketLimitFor(15.0f), 4u);
    EXPECT_EQ(PacketLimitFor(15.5f), 2u);
    EXPECT_EQ(PacketLimitFor(30.0f), 2u);
}

TEST(FramePolicyTest, BufferDurationIsInHundredNanosecondUnits) {
    EXPECT_EQ(BufferDurationFromMs(30.0f), 300000);
    EXPECT_EQ(BufferDurationFromMs(1.0f), 10000);
    EXPECT_EQ(BufferDurationFromMs(60.0f), 600000);
}

}  // namespace
