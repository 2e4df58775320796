// Each target's own delay and volume on the packet path, and the figures the
// redirect thread publishes in its link for the row's health light.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "audio/engine/frame_policy.h"
#include "audio/engine/stream_setup.h"
#include "audio/inventory/selection.h"
#include "engine_fixture.h"

namespace
{
// Every packet write of the endpoint, one after the other.
std::vector<float> Heard(const std::vector<FakeRenderWrite>& writes)
{
    std::vector<float> samples;
    for (const FakeRenderWrite& write : writes)
    {
        const std::vector<float> floats = WrittenFloats(write);
        samples.insert(samples.end(), floats.begin(), floats.end());
    }
    return samples;
}
}  // namespace

// 120 ms at 48 kHz is 5760 frames; 50 % of the source's volume halves every
// sample (the pattern stays below the soft clip's knee). Each row shows its
// stream: a healthy one playing, with its format, latency and clean counters;
// one whose queue cannot be read missing its packets; one the system took
// away as lost. None is routed once the run ends.
TEST_F(EngineTest, EachTargetPlaysAtItsOwnDelayAndVolumeAndShowsItsFigures)
{
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour healthy = TargetBehaviour();
    healthy.streamLatency = 100000;  // 10 ms
    FakeStreamBehaviour unreadable = TargetBehaviour();
    unreadable.getCurrentPadding = AUDCLNT_E_BUFFER_OPERATION_PENDING;
    FakeStreamBehaviour takenAway = TargetBehaviour();
    takenAway.lostAfterCalls = 30;
    const auto prompt = AddTarget("Near", healthy);
    const auto late = AddTarget("Far", TargetBehaviour());
    const auto quiet = AddTarget("Quiet", TargetBehaviour());
    AddTarget("Unreadable", unreadable);
    AddTarget("Taken away", takenAway);
    SetTargetTuning(state, TargetIndex("Far"), {120, 100.0f});
    SetTargetTuning(state, TargetIndex("Quiet"), {0, 50.0f});
    const auto link = [this](const char* name) { return TargetLinkAt(state, TargetIndex(name)); };
    const std::shared_ptr<TargetLink> good = link("Near"), missing = link("Unreadable"), lost = link("Taken away");
    const int64_t before = SteadyNanoseconds();

    StartAndWaitRunning(5);
    ASSERT_TRUE(WaitForPacketWrites(*late, 20) && WaitForPacketWrites(*quiet, 20));
    ASSERT_TRUE(WaitFor([&] { return lost->runState.load() == TargetRunState::Lost; }));
    EXPECT_EQ(good->runState.load(), TargetRunState::Playing);
    EXPECT_EQ(std::make_tuple(good->sampleRate.load(), good->channels.load(), good->bitsPerSample.load(),
                              good->floatSamples.load(), good->streamLatencyFrames.load(), good->queuedFrames.load()),
              std::make_tuple(48000u, uint16_t{2}, uint16_t{32}, true, 480u, 960u));
    EXPECT_EQ(good->cushionFrames.load(), CushionFrames(20.0f, 48000, 0));
    EXPECT_EQ(good->dryRuns.load() + good->topUps.load() + good->packetsMissed.load() + good->framesTrimmed.load(), 0u);
    EXPECT_GT(good->lastWrittenNs.load(), before);
    EXPECT_EQ(std::make_tuple(missing->runState.load(), missing->streamLatencyFrames.load()),
              std::make_tuple(TargetRunState::Playing, 0u));  // its stream does not tell its latency
    EXPECT_GT(missing->packetsMissed.load(), 0u);
    EXPECT_GT(missing->lastPacketNs.load(), missing->lastWrittenNs.load());
    StopAndExpectIdle();

    for (const auto& row : {good, missing, lost})
        EXPECT_EQ(row->runState.load(), TargetRunState::NotRouting);
    std::vector<float> reference = Heard(PacketWrites(*prompt));
    const std::vector<float> delayed = Heard(PacketWrites(*late));
    const std::vector<float> halved = Heard(PacketWrites(*quiet));
    constexpr size_t kDelay = 5760 * 2;  // samples
    reference.resize(std::min({reference.size(), delayed.size(), halved.size()}));
    EXPECT_TRUE(std::all_of(delayed.begin(), delayed.begin() + kDelay, [](float s) { return s == 0.0f; }));
    EXPECT_TRUE(std::equal(reference.begin(), reference.end() - kDelay, delayed.begin() + kDelay));
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), halved.begin(),
                           [](float r, float h) { return h == r * 0.5f; }));
    EXPECT_TRUE(InOrder(Log(), {"Delivery: 'Far' ran dry 0 times, 0 of them brought back with silence; the frame count "
                                "left out 0 frames; delay 120 ms, volume 100%, rate 0 ppm, 0 packets missed; timed by its queue."}));
}

// A steady level, the delay raised by 20 ms (960 frames) at the 20th packet:
// the level fades out, leaves a gap of the increase and fades back in, with
// no step larger than a fade of 2.5 ms or more makes, and nothing restarts.
TEST_F(EngineTest, ChangingADelayWhileRunningFadesAndRestartsNothing)
{
    FakeStreamBehaviour behaviour;  // the warm-up's five packets, then 40 at the level
    behaviour.packets.assign(5, FakePacket{});
    behaviour.packets.resize(45, FakePacket{.constant = 0.25f});
    const auto target = AddTarget("Headphones", TargetBehaviour());
    const std::shared_ptr<TargetLink> link = TargetLinkAt(state, TargetIndex("Headphones"));
    ASSERT_TRUE(link);
    behaviour.onPacketHandedOut = [handedOut = 0, link]() mutable {
        if (++handedOut == 20)
            link->delayMs.store(20);
    };
    const auto source = AddSource("Speakers", behaviour);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 40));
    StopAndExpectIdle();

    const std::vector<float> heard = Heard(PacketWrites(*target));
    float largestStep = 0.0f;
    for (size_t i = 2; i < heard.size(); ++i)
        largestStep = std::max(largestStep, std::fabs(heard[i] - heard[i - 2]));
    EXPECT_LE(largestStep, 0.25f / 120.0f);
    const auto silent = std::count(heard.begin(), heard.end(), 0.0f) / 2;
    EXPECT_NEAR(static_cast<double>(silent), 960.0, 2.0);
    EXPECT_EQ(heard.back(), 0.25f);
    EXPECT_EQ(target->Streams().size(), 1u);
    EXPECT_EQ(source->Streams().size(), 1u);
    const std::vector<std::string> lines = Log();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Targets"); }));
}
