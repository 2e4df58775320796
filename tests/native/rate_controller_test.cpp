// The rate controller against simulated clocks: a target drained at its own
// (drifting) rate, fed a 480-frame packet every 10 ms of the source's clock,
// its queue read every 1.5 ms as the engine's passes read it.
#include "audio/engine/rate_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRate = 48000.0;
constexpr double kSetPoint = 960.0;  // a 720-frame cushion plus half a packet

struct Outcome {
    double finalRate = 1.0;
    double minQueue = 1e30;  // in the last minute
    double maxQueue = -1e30;
    double meanQueue = 0.0;
    int decisions = 0;
    int lateTopUps = 0;  // in the last minute
};

// The engine's own hand on the queue: an empty one is topped up to the
// cushion with silence, one far above the set point is trimmed. Both are
// told to the controller.
void EngineRules(RateController& controller, double& queue, Outcome& outcome, bool late) {
    double added = 0.0;
    if (queue <= 0.0) {
        added = 720.0 - queue;
        outcome.lateTopUps += late ? 1 : 0;
    } else if (queue > kSetPoint + 960.0) {
        added = kSetPoint + 960.0 - queue;
    }
    queue += added;
    controller.Adjusted(added);
}

// ppm > 0: the target's clock runs fast. periodic: it takes 480 frames at
// each of its 10 ms periods instead of draining continuously.
// seamless: the stream's changes are not heard, which the engine tells the
// controller after the first one.
Outcome Simulate(double ppm, bool periodic, double seconds, double startQueue = kSetPoint, bool seamless = false) {
    RateController controller(kSetPoint, kRate);
    double queue = startQueue;
    double nextPacket = 0.0;
    double nextPeriod = 0.0043;
    double sum = 0.0;
    int samples = 0;
    Outcome outcome;
    const double step = 0.0015;
    for (double now = 0.0; now < seconds; now += step) {
        const double speed = (1.0 + ppm * 1e-6) * controller.Rate();
        if (periodic) {
            for (; nextPeriod <= now; nextPeriod += 0.010 / speed)
                queue -= 480.0;
        } else {
            queue -= kRate * speed * step;
        }
        for (; nextPacket <= now; nextPacket += 0.010)
            queue += 480.0;
        if (now > seconds - 60.0) {
            outcome.minQueue = std::min(outcome.minQueue, queue);
            outcome.maxQueue = std::max(outcome.maxQueue, queue);
            sum += queue;
            ++samples;
        }
        EngineRules(controller, queue, outcome, now > seconds - 60.0);
        if (controller.Update(std::floor(queue), now) && seamless) {
            controller.ChangesAreSeamless(true);
        }
    }
    outcome.finalRate = controller.Rate();
    outcome.meanQueue = sum / samples;
    outcome.decisions = controller.Decisions();
    return outcome;
}

TEST(RateControllerTest, LearnsTheClocksDifferenceAndHoldsTheQueue) {
    for (const bool periodic : {false, true}) {
        for (const double ppm : {-1000.0, -100.0, 0.0, 100.0, 1000.0}) {
            const Outcome o = Simulate(ppm, periodic, 600.0);
            // A target running fast is slowed by as much, and the other way round.
            EXPECT_NEAR((o.finalRate - 1.0) * 1e6, -ppm, 150.0) << ppm << (periodic ? " periodic" : "");
            // On average the queue sits within half its set point of it (a
            // band it is left alone in), give or take 2 ms (96 frames).
            EXPECT_NEAR(o.meanQueue, kSetPoint, kSetPoint / 2.0 + 96.0) << ppm << (periodic ? " periodic" : "");
            // It never runs dry, nor grows beyond two packets above it.
            EXPECT_GT(o.minQueue, 0.0) << ppm;
            EXPECT_LE(o.maxQueue, kSetPoint + 960.0) << ppm;
            // Changing a stream's rate may interrupt its sound: it happens
            // a few times in ten minutes at most.
            EXPECT_LE(o.decisions, 5) << ppm;
        }
    }
}

// Where changes are not heard the queue's level is held within a
// millisecond of the set point, at the cost of a change every few windows.
TEST(RateControllerTest, HoldsTheQueueCloselyWhereChangesAreSeamless) {
    for (const bool periodic : {false, true}) {
        for (const double ppm : {-1000.0, -100.0, 100.0, 1000.0}) {
            const Outcome o = Simulate(ppm, periodic, 600.0, kSetPoint, true);
            // A device that takes whole periods is steered in phase too, by
            // a rate off the clocks' difference for a while.
            EXPECT_NEAR((o.finalRate - 1.0) * 1e6, -ppm, periodic ? 150.0 : 50.0) << ppm << (periodic ? " periodic" : "");
            EXPECT_NEAR(o.meanQueue, kSetPoint, 48.0) << ppm << (periodic ? " periodic" : "");
            EXPECT_GT(o.minQueue, 0.0) << ppm;
            EXPECT_LE(o.decisions, 75) << ppm;
        }
    }
}

// A target so fast that it empties its cushion before the first decision,
// and is topped up again and again: the silence added is not a queue that
// holds, and the controller still finds the difference.
TEST(RateControllerTest, SeesThroughTheEnginesTopUpsAndTrims) {
    for (const double ppm : {-7500.0, 7500.0}) {
        const Outcome o = Simulate(ppm, false, 180.0, 720.0);
        EXPECT_NEAR((o.finalRate - 1.0) * 1e6, -ppm, 300.0) << ppm;
        EXPECT_EQ(o.lateTopUps, 0) << ppm;
        EXPECT_LE(o.maxQueue, kSetPoint + 960.0) << ppm;
    }
}

// A queue that falls by a packet in the first half of the first window and
// then holds (a stream still settling, as a loopback capture does at 10 ms)
// is no clock difference: the halves disagree and nothing is decided. A
// steady fall of the same size over the whole window is one.
TEST(RateControllerTest, AStreamStillSettlingIsReadAgain) {
    struct Case {
        const char* what;
        double fallSeconds;  // from the window's start at 1 s
        bool decided;
    };
    for (const Case c : {Case{"settling", 1.0, false}, Case{"drifting", 2.0, true}}) {
        RateController controller(kSetPoint, kRate);
        bool decided = false;
        for (double now = 0.0; now < 3.5; now += 0.0015) {
            const double fallen = std::clamp((now - 1.0) / c.fallSeconds, 0.0, 1.0) * 480.0;
            decided = controller.Update(kSetPoint - fallen, now) || decided;
        }
        EXPECT_EQ(decided, c.decided) << c.what;
    }
}

TEST(RateControllerTest, StaysWithinItsBoundsWhateverTheDrift) {
    for (const double ppm : {-50000.0, 50000.0}) {
        const Outcome o = Simulate(ppm, false, 120.0);
        EXPECT_LE(std::fabs(o.finalRate - 1.0), kMaxRateDeviation + 1e-12) << ppm;
        EXPECT_NEAR(std::fabs(o.finalRate - 1.0), kMaxRateDeviation, 1e-9) << ppm;
    }
    // Nothing is decided before the first window (from 1 s to 3 s) is over,
    // and then only when it is worth it: a queue that sits at the set point
    // keeps the nominal rate.
    RateController steady(kSetPoint, kRate);
    for (double now = 0.0; now < 120.0; now += 0.0015)
        EXPECT_FALSE(steady.Update(kSetPoint, now)) << now;
    EXPECT_EQ(steady.Rate(), 1.0);
    RateController emptying(kSetPoint, kRate);
    bool decided = false;
    double when = 0.0;
    for (double now = 0.0; now < 4.0 && !decided; now += 0.0015) {
        decided = emptying.Update(kSetPoint - 240.0 * now, now);  // 5 ms of queue lost each second
        when = now;
    }
    EXPECT_TRUE(decided);
    EXPECT_NEAR(when, 3.0, 0.01);
    // The slope's 0.5 %, and the 15 ms lost (less the band of half the set
    // point) brought back over the next 8 s.
    EXPECT_NEAR((1.0 - emptying.Rate()) * 1e6, 5000.0 + (720.0 - 480.0) / 48000.0 / 8.0 * 1e6, 100.0);
}

}  // namespace
