#include "audio/engine/frame_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int64_t k10Ms = 100000;  // a device period, 100 ns units

TEST(FramePolicyTest, CushionAndBuffersAtTheEdgesOfTheSetting) {
    struct Case {
        float bufferMs;
        uint32_t cushion;        // frames at 48 kHz
        int64_t targetDuration;  // 100 ns units
        int64_t sourceDuration;
    };
    for (const Case& c : {Case{1.0f, 480, 500000, 300000}, Case{10.0f, 480, 500000, 300000},
                          Case{30.0f, 720, 550000, 300000}, Case{60.0f, 1440, 700000, 600000}}) {
        EXPECT_EQ(CushionFrames(c.bufferMs, 48000, k10Ms), c.cushion) << c.bufferMs;
        EXPECT_EQ(TargetBufferDuration(c.bufferMs, k10Ms), c.targetDuration) << c.bufferMs;
        EXPECT_EQ(SourceBufferDuration(c.bufferMs, k10Ms), c.sourceDuration) << c.bufferMs;
        // The target holds its cushion, a full queue above it and a burst of two packets.
        const auto targetFrames = static_cast<uint32_t>(c.targetDuration * 48000 / 10000000);
        EXPECT_GE(targetFrames, c.cushion + 4 * 480) << c.bufferMs;
    }
    // An unknown period counts as 10 ms; a shorter one lets the setting decide.
    EXPECT_EQ(CushionFrames(10.0f, 48000, 0), 480u);
    EXPECT_EQ(CushionFrames(10.0f, 48000, 30000), 240u);
    EXPECT_EQ(PeriodFrames(0, 44100), 441u);
    EXPECT_EQ(PeriodFrames(k10Ms, 48000), 480u);
    EXPECT_DOUBLE_EQ(QueueSetPoint(720, 480), 960.0);
}

TEST(FramePolicyTest, PacingFollowsTheLatency) {
    EXPECT_EQ(PassWaitFor(1.0f), PassWait::Timer1Ms);
    EXPECT_EQ(PassWaitFor(15.0f), PassWait::Timer1Ms);
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
