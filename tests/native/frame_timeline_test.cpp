#include "audio/align/frame_timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audio/align/probe_signal.h"

namespace
{
constexpr double kStart = 36000.0;  // ten hours of counter
constexpr double kRenderRate = 48000.0;
constexpr double kBreak = 0.03;  // a stream dry, or sound lost, for this long

// A render stream as Windows documents its clock: the position counts what
// the device plays, at the device's own pace, and stands still while the
// stream is dry. Read every 2 ms, as the alignment reads it; a reading that
// finds the queue dry breaks the line instead.
struct Speaker
{
    double start, ppm, pathSeconds;
    double dryAt;  // on the counter; 0: never dry
    double Pace() const { return kRenderRate * (1.0 + ppm * 1e-6); }
    bool After(double at) const { return dryAt > 0.0 && at > dryAt; }
    double PlayedAt(double frame) const
    {
        const double at = start + frame / Pace();
        return After(at) ? at + kBreak : at;
    }
    FrameTimeline ReadClock(double until) const
    {
        FrameTimeline timeline(kRenderRate);
        for (double t = start + 0.002; t < until; t += 0.002)
        {
            if (After(t) && t < dryAt + kBreak)
            {
                timeline.Break((dryAt - start) * Pace());
            }
            else
            {
                timeline.Note(((After(t) ? t - kBreak : t) - start) * Pace(), t);
            }
        }
        return timeline;
    }
};

// Where the alignment finds each speaker's probe, as a microphone at its
// own rate and pace records both, and where the microphone itself may lose
// sound (flagging the packet after it). Each must come out as its path to
// the microphone: a break in either clock moves what follows it, and only
// that.
TEST(FrameTimeline, PlacesEachProbeThroughDriftAndBreaks)
{
    // When Near ran dry (into the run) and the microphone lost sound (into
    // the recording), in seconds; 0: never.
    struct Case
    {
        const char* what;
        uint32_t micRate;
        double micPpm, nearDryAt, micLossAt;
    };
    const std::vector<Case> cases = {
        {"steady, 48 kHz", 48000, 0.0, 0.0, 0.0},
        {"microphone at 44.1 kHz, 100 ppm slow", 44100, -100.0, 0.0, 0.0},
        {"Near ran dry before its probe", 96000, 100.0, 0.6, 0.0},
        {"Near ran dry after its probe, before it was read", 48000, 0.0, 1.8, 0.0},
        {"microphone lost sound between the probes", 44100, 50.0, 0.0, 1.5},
    };
    for (const Case& c : cases)
    {
        const std::vector<Speaker> speakers = {
            {kStart + 0.10, 300.0, 0.040, c.nearDryAt > 0.0 ? kStart + c.nearDryAt : 0.0},
            {kStart + 0.13, -300.0, 0.140, 0.0}};
        const double rate = c.micRate;
        const double pace = rate * (1.0 + c.micPpm * 1e-6);
        const auto lossFrom = static_cast<size_t>(c.micLossAt * rate) / 480 * 480;
        auto recordedAt = [&](size_t n) {
            return kStart + 0.05 + static_cast<double>(n) / pace + (c.micLossAt > 0.0 && n >= lossFrom ? kBreak : 0.0);
        };
        const std::vector<float> probe = MakeProbe(ProbeParams{}, c.micRate);
        const std::vector<double> frames = {std::round(0.9 * kRenderRate), std::round(1.9 * kRenderRate)};
        std::vector<float> recording(static_cast<size_t>(3.0 * rate));
        std::mt19937 random(c.micRate);
        std::normal_distribution<float> noise(0.0f, 0.02f);
        FrameTimeline microphone(rate);
        for (size_t n = 0; n < recording.size(); ++n)
        {
            if (n % 480 == 0)
            {
                if (c.micLossAt > 0.0 && n == lossFrom)
                {
                    microphone.Break(static_cast<double>(n));
                }
                microphone.Note(static_cast<double>(n), recordedAt(n) + (noise(random) > 0 ? 5e-5 : 0.0));
            }
            recording[n] = noise(random);
            for (size_t s = 0; s < speakers.size(); ++s)
            {
                const double at = (recordedAt(n) - speakers[s].PlayedAt(frames[s]) - speakers[s].pathSeconds) * rate;
                const auto i = static_cast<size_t>(std::floor(at));
                if (at >= 0.0 && i + 1 < probe.size())
                {
                    recording[n] += static_cast<float>(probe[i] + (probe[i + 1] - probe[i]) * (at - std::floor(at)));
                }
            }
        }
        for (size_t s = 0; s < speakers.size(); ++s)
        {
            const FrameTimeline clock = speakers[s].ReadClock(kStart + 3.0);
            const std::optional<ProbeArrival> heard =
                ArrivalOfProbe(clock.TimeOf(frames[s]).value_or(0.0), microphone, recording, probe, c.micRate, 1.2);
            ASSERT_TRUE(heard.has_value()) << c.what << ", speaker " << s;
            EXPECT_NEAR(heard->ms, speakers[s].pathSeconds * 1000.0, 0.3) << c.what << ", speaker " << s;
        }
    }
}

// A microphone's packets, 10 ms each, read 0-8 ms after they are complete:
// a time guessed from when a packet was read is that late, so where there
// are stamps, only they may place a frame (here packet 150's first),
// however the two come mixed.
TEST(FrameTimeline, PacketsArePlacedByTheirStampsWhereThereAreAny)
{
    struct Case
    {
        const char* what;
        size_t unstampedFrom, unstampedTo;  // packets without a trusted stamp
        double withinMs;
    };
    const std::vector<Case> cases = {{"guessed until the first stamp", 0, 50, 0.01},
                                     {"ten packets without a stamp among stamped ones", 100, 110, 0.01},
                                     {"never stamped", 0, 200, 8.0}};
    for (const Case& c : cases)
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> wait(0.0, 0.008);
        FrameTimeline microphone(48000.0);
        PacketTimes times;
        for (size_t packet = 0; packet < 200; ++packet)
        {
            const double first = kStart + static_cast<double>(packet) * 0.01;
            const bool stamped = packet < c.unstampedFrom || packet >= c.unstampedTo;
            times.Add(microphone, static_cast<double>(packet) * 480.0,
                      stamped ? std::optional<double>(first) : std::nullopt, first + wait(random), false);
        }
        const std::optional<double> at = microphone.TimeOf(150.0 * 480.0);
        ASSERT_TRUE(at.has_value()) << c.what;
        EXPECT_NEAR((*at - (kStart + 1.5)) * 1000.0, 0.0, c.withinMs) << c.what;
    }
}
}  // namespace
