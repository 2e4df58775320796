// The rules a target's pacer applies per packet: the frame count, the top-up
// and the judgement of a queue that ran dry.
#include "audio/engine/target_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(DryJudgementTest, WholePacketsUpToTwoPacketsAboveTheCushion) {
    // Cushion 720, 480-frame packets, a 2640-frame buffer.
    struct Case {
        uint32_t queued;
        uint32_t frames;
    };
    for (const Case& c : {Case{0, 480}, Case{720, 480}, Case{1200, 480}, Case{1680, 480},  // up to C + 2F
                          Case{1681, 479},    // half the excess, rounded up, is left out
                          Case{1780, 430},    // excess 100
                          Case{2160, 240},    // excess 480: at most half a packet
                          Case{2400, 240}, Case{2500, 140},  // the room limits
                          Case{2640, 0}, Case{2641, 0}, Case{0xFFFFFFFFu, 0}}) {
        EXPECT_EQ(TargetFrameCount(480, c.queued, 2640, 720), c.frames) << c.queued;
    }
    EXPECT_EQ(TargetFrameCount(0, 0, 2640, 720), 0u);
}

TEST(DryJudgementTest, TopUpAndRunningDry) {
    EXPECT_EQ(TopUpFrames(0, 720, 2640), 720u);
    EXPECT_EQ(TopUpFrames(300, 720, 2640), 420u);
    EXPECT_EQ(TopUpFrames(720, 720, 2640), 0u);
    EXPECT_EQ(TopUpFrames(900, 720, 2640), 0u);
    EXPECT_EQ(TopUpFrames(0, 720, 500), 500u);  // never past the buffer
    // Left with 960 frames 25 ms ago (1200 frames' worth): it ran dry. A
    // device that took its two periods early is merely empty.
    EXPECT_TRUE(RanDry(0, 960, 1200.0, 0));
    EXPECT_FALSE(RanDry(0, 960, 500.0, 0));
    EXPECT_FALSE(RanDry(10, 960, 5000.0, 0));
    // Left with a period 10.1 ms ago, and that period may still be playing.
    EXPECT_FALSE(RanDry(0, 480, 485.0, 480));
    EXPECT_TRUE(RanDry(0, 480, 961.0, 480));
}

// Packets as a target sees them after running dry; 48 kHz, 480-frame
// packets, a 2400-frame buffer; each target was left with 480 frames by its
// last write. What the controller is told is the silence plus, where the
// target ran dry, the time since that write beyond those 480 frames. What
// brings the cushion back is what the stream took of each packet.
TEST(DryJudgementTest, OnlyACushionThatDoesNotComeBackIsToppedUp) {
    struct Packet {
        bool ranDry;
        double framesSinceLast;
        uint32_t queued;
        double ms;  // since the first packet of the case
        uint32_t silence;
        double notTheClocks;
        uint32_t taken = 480;
    };
    struct Case {
        const char* what;
        uint32_t cushion;
        std::vector<Packet> packets;
        uint32_t topUps;
    };
    const Case cases[] = {
        {"on time and empty: the source is slower, topped up at once", 480, {{true, 500, 0, 0, 480, 500}}, 1},
        {"2 ms after its time is on time", 480, {{true, 576, 0, 0, 480, 576}}, 1},
        {"late, with one behind it in the same pass", 480,
         {{true, 1200, 0, 0, 0, 720}, {false, 0, 479, 0.1, 0, 0}}, 0},
        {"5 ms late, as from a server's 15 ms blocks", 480, {{true, 714, 0, 0, 0, 234}, {false, 0, 480, 0, 0, 0}}, 0},
        {"late, the next one early", 480, {{true, 800, 0, 0, 0, 320}, {false, 160, 300, 3.3, 0, 0}}, 0},
        {"late, and nothing came behind it", 480, {{true, 1200, 0, 0, 0, 720}, {true, 480, 0, 10, 480, 480}}, 1},
        {"a deeper cushion waits for the next", 720,
         {{true, 1500, 0, 0, 0, 1020}, {false, 192, 288, 4, 0, 0}, {false, 288, 520, 10, 0, 0}}, 0},
        {"a deeper cushion, still short at the next", 720,
         {{true, 1500, 0, 0, 0, 1020}, {false, 192, 288, 4, 0, 0}, {false, 480, 8, 14, 712, 712}}, 1},
        {"late, and the stream took only part of it", 480,
         {{true, 1200, 0, 0, 0, 720, 100}, {false, 0, 99, 0.1, 0, 0}, {false, 480, 100, 10, 380, 380}}, 1},
    };
    for (const Case& c : cases) {
        const PacerSettings settings{48000.0, c.cushion, 480, 2400};
        DryWatch watch;
        for (size_t i = 0; i < c.packets.size(); ++i) {
            const Packet& p = c.packets[i];
            const DryStep step = watch.Before({5.0 + p.ms / 1000.0, p.framesSinceLast, 480, p.queued, p.ranDry}, settings);
            EXPECT_EQ(step.silence, p.silence) << c.what << ", packet " << i;
            EXPECT_DOUBLE_EQ(step.notTheClocks, p.notTheClocks) << c.what << ", packet " << i;
            watch.Given(p.taken);
        }
        EXPECT_EQ(watch.runs, 1u) << c.what;
        EXPECT_EQ(watch.topUps, c.topUps) << c.what;
        EXPECT_FALSE(watch.owed) << c.what << ": judged by its last packet";
    }
}

TEST(DryJudgementTest, RunningDryByTheClock) {
    struct Case {
        const char* what;
        uint32_t queued;
        uint64_t written;
        double played;
        bool dry;
    };
    const Case cases[] = {
        {"all played", 0, 96000, 96000.0, true},
        {"the server still holds 20 ms", 0, 96000, 95040.0, false},
        {"frames still queued", 480, 96000, 96000.0, false},
        // Started again from zero after a rate change, or running off: more
        // waiting than the 2640-frame buffer holds is not this stream's.
        {"a clock started again", 0, 96000, 1200.0, true},
        {"just within the buffer", 0, 96000, 93360.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RanDryByClock(c.queued, c.written, c.played, 2640), c.dry) << c.what;
    }
}

// One target's readings, packet after packet, with a 2640-frame buffer and
// 480-frame periods. Each reading comes after a write that left the queue
// at `left`; the last of each case finds it empty just after those frames'
// time, everything written counted as played by the clock where there is one.
TEST(DryJudgementTest, AnEmptyQueueAllowsForThePeriodPlayingUnlessTheClockShowsIt) {
    struct Reading {
        uint32_t queued;
        double elapsed;
        bool clocked;
        double waiting;  // written less played, by the clock
        bool dry;
    };
    struct Case {
        const char* what;
        uint32_t left;
        std::vector<Reading> readings;
    };
    const std::vector<Case> cases = {
        {"a clock that repeats the queue", 480, {{480, 485.0, true, 480.0, false}, {0, 485.0, true, 0.0, false}}},
        {"... and a period later still empty", 480, {{0, 485.0, true, 0.0, false}, {0, 966.0, true, 0.0, true}}},
        {"... or empty at three packets in a row", 480,
         {{0, 485.0, true, 0.0, false}, {0, 485.0, true, 0.0, false}, {0, 485.0, true, 0.0, true}}},
        {"... but not at two", 480,
         {{0, 485.0, true, 0.0, false}, {0, 485.0, true, 0.0, false}, {480, 485.0, true, 480.0, false},
          {0, 485.0, true, 0.0, false}}},
        {"no clock", 480,
         {{480, 485.0, false, 0.0, false}, {0, 485.0, false, 0.0, false}, {0, 966.0, false, 0.0, true}}},
        {"a clock that once showed audio past the queue", 480,
         {{480, 485.0, true, 960.0, false}, {0, 485.0, true, 0.0, true}}},
        {"... which still plays", 480, {{480, 485.0, true, 960.0, false}, {0, 485.0, true, 480.0, false}}},
        {"a frame past the queue is no more than rounding", 480,
         {{480, 485.0, true, 481.0, false}, {0, 485.0, true, 0.0, false}}},
        // Started again from zero after a rate change: not this stream's frames.
        {"more waiting than the buffer holds", 480, {{480, 485.0, true, 90000.0, false}, {0, 485.0, true, 0.0, false}}},
        // A queue that drains as it plays.
        {"a queue that once fell by less than a period", 480,
         {{300, 485.0, true, 300.0, false}, {0, 485.0, true, 0.0, true}}},
        {"... or by more", 660, {{179, 485.0, false, 0.0, false}, {0, 665.0, false, 0.0, true}}},
        // Emptied, it may have had less than a period left to take.
        {"an empty queue tells nothing of that", 660, {{0, 485.0, false, 0.0, false}, {0, 665.0, false, 0.0, false}}},
    };
    for (const Case& c : cases) {
        DryJudge judge;
        bool countsHeard = false;  // as the target's pacer learns it
        for (size_t i = 0; i < c.readings.size(); ++i) {
            const Reading& r = c.readings[i];
            countsHeard = countsHeard || (r.clocked && ClockShowsAudioPastQueue(r.waiting, r.queued, 2640));
            const QueueReading reading{r.queued, c.left, r.elapsed, r.clocked, 96000, 96000.0 - r.waiting, countsHeard};
            EXPECT_EQ(judge.RanDry(reading, 2640, 480), r.dry) << c.what << ", reading " << i;
        }
    }
}

}  // namespace
