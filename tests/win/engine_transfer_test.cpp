// The transfer loop: what each target receives from each packet, the live
// rebuild of the targets and the ways a run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

#include "audio/engine/frame_policy.h"
#include "audio/engine/redirection_control.h"
#include "engine_fixture.h"

namespace
{
FakePacket Constant(float value, DWORD flags = 0)
{
    FakePacket packet;
    packet.constant = value;
    packet.flags = flags;
    return packet;
}

// A source that delivers `warmup` pattern packets, then `packets`, then stops.
FakeStreamBehaviour ScriptedSource(std::vector<FakePacket> packets, size_t warmup = 5)
{
    FakeStreamBehaviour behaviour;
    behaviour.packets.assign(warmup, FakePacket{});
    behaviour.packets.insert(behaviour.packets.end(), packets.begin(), packets.end());
    return behaviour;
}

uint32_t FirstPacketIndex(const FakeRenderWrite& write)
{
    return PatternPacketIndex(WrittenFloats(write).at(0));
}

void ExpectPattern(const FakeRenderWrite& write, uint32_t packetIndex, float gain = 1.0f)
{
    const std::vector<float> samples = WrittenFloats(write);
    ASSERT_EQ(samples.size(), 480u * 2u);
    for (uint32_t frame = 0; frame < 480; ++frame)
    {
        for (uint16_t channel = 0; channel < 2; ++channel)
            ASSERT_EQ(samples[frame * 2 + channel], PatternSample(packetIndex, frame, channel) * gain)
                << "packet " << packetIndex << " frame " << frame << " channel " << channel;
    }
}

// From the line each delivering target leaves in the log when the run ends.
std::optional<uint64_t> FramesLeftOut(const std::vector<std::string>& lines, const std::string& name)
{
    const std::string prefix = "Delivery: '" + name + "' ran dry ";
    for (const std::string& line : lines)
    {
        unsigned dry = 0;
        unsigned toppedUp = 0;
        unsigned long long leftOut = 0;
        if (line.rfind(prefix, 0) == 0 &&
            std::sscanf(line.c_str() + prefix.size(),
                        "%u times, %u of them brought back with silence; the frame count left out %llu frames.", &dry,
                        &toppedUp, &leftOut) == 3)
        {
            return leftOut;
        }
    }
    return std::nullopt;
}

bool AllZero(const FakeRenderWrite& write)
{
    return std::all_of(write.bytes.begin(), write.bytes.end(), [](uint8_t b) { return b == 0; });
}

void ExpectConstant(const FakeRenderWrite& write, float value)
{
    for (const float sample : WrittenFloats(write))
        ASSERT_EQ(sample, value);
}
}  // namespace

// Two reads that find the packet gone (AUDCLNT_S_BUFFER_EMPTY) are no
// packets: they count for no warm-up and reach no target.
TEST_F(EngineTest, FirstFivePacketsAfterTheStartNeverReachATarget)
{
    FakeStreamBehaviour behaviour = ScriptedSource({FakePacket{}, FakePacket{}, FakePacket{}});
    behaviour.emptyCaptureReads = 2;
    const auto source = AddSource("Speakers", behaviour);
    const auto target = AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    ASSERT_TRUE(WaitFor([&] { return source->Streams().at(0).packetsReleased == 8; }));
    StopAndExpectIdle();

    EXPECT_EQ(source->Streams().at(0).emptyCaptureReads, 2u);
    const std::vector<FakeRenderWrite> writes = PacketWrites(*target);
    ASSERT_EQ(writes.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(writes[i].releasedFrames, 480u);
        EXPECT_EQ(writes[i].flags, 0u);
        ExpectPattern(writes[i], 5 + i);
    }
}

TEST_F(EngineTest, SilentPacketsArriveAsZerosWithoutFlags)
{
    FakePacket nullData;
    nullData.nullData = true;
    AddSource("Speakers", ScriptedSource({Constant(0.3f, AUDCLNT_BUFFERFLAGS_SILENT), nullData, FakePacket{}}));
    const auto target = AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 3));
    StopAndExpectIdle();

    const std::vector<FakeRenderWrite> writes = PacketWrites(*target);
    ASSERT_EQ(writes.size(), 3u);
    for (size_t i = 0; i < 2; ++i)
    {
        EXPECT_EQ(writes[i].releasedFrames, 480u);
        EXPECT_EQ(writes[i].flags, 0u);
        EXPECT_TRUE(AllZero(writes[i])) << "write " << i;
    }
    ExpectPattern(writes[2], 7);
}

TEST_F(EngineTest, VolumeSetsTheGainAndLoudSamplesAreClippedSoftly)
{
    struct Case
    {
        float volume;
        float patternGain;
        float loud;  // what +0.8 becomes
    };
    for (const Case& test : {Case{100.0f, 2.0f, 0.999f}, Case{0.0f, 0.0f, 0.0f}, Case{50.0f, 1.0f, 0.8f}})
    {
        state.volume = test.volume;
        UnplugAll();
        AddSource("Speakers", ScriptedSource({FakePacket{}, Constant(0.8f), Constant(-0.8f)}));
        const auto target = AddTarget("Headphones", TargetBehaviour());

        StartAndWaitRunning();
        ASSERT_TRUE(WaitForPacketWrites(*target, 3));
        StopAndExpectIdle();

        const std::vector<FakeRenderWrite> writes = PacketWrites(*target);
        SCOPED_TRACE(test.volume);
        ExpectPattern(writes.at(0), 5, test.patternGain);
        ExpectConstant(writes.at(1), test.loud);
        ExpectConstant(writes.at(2), -test.loud);
    }
}

TEST_F(EngineTest, EachTargetTakesFramesByItsOwnQueue)
{
    // Cushion 720 frames, 480-frame packets, 2640-frame buffers: whole
    // packets up to 1680 queued, then half the excess left out (at most half
    // a packet), never more than the room. While the source warms up, each
    // of its packets brings a queue up to the cushion and a packet with
    // silence (the fake's queue stays where it is, so each adds as much).
    // The source runs out before the stop, so no write is in flight when the
    // streams stop: one that lands after would not be counted as written.
    state.bufferMs = 30.0f;
    constexpr size_t kPackets = 5;
    AddSource("Speakers", ScriptedSource(std::vector<FakePacket>(kPackets), kWarmupPackets));
    struct Case
    {
        UINT32 padding;
        UINT32 warmupSilence;   // at each warm-up packet
        UINT32 topUp;           // silence before the first packet
        UINT32 expectedFrames;  // 0: nothing written
    };
    const Case cases[] = {{300, 900, 420, 480}, {720, 480, 0, 480}, {1680, 0, 0, 480},
                          {2160, 0, 0, 240},    {2500, 0, 0, 140},   {2640, 0, 0, 0}};
    std::vector<std::shared_ptr<FakeAudioEndpoint>> targets;
    for (const Case& test : cases)
    {
        FakeStreamBehaviour behaviour = TargetBehaviour();
        behaviour.padding = test.padding;
        targets.push_back(AddTarget("Queue " + std::to_string(test.padding), behaviour));
    }
    FakeStreamBehaviour mute = TargetBehaviour();
    mute.getCurrentPadding = AUDCLNT_E_BUFFER_OPERATION_PENDING;
    const auto unreadable = AddTarget("Unreadable queue", mute);

    StartAndWaitRunning(7);
    for (size_t i = 0; i < targets.size(); ++i)
    {
        if (cases[i].expectedFrames > 0)
        {
            const size_t fillWrites = (cases[i].warmupSilence > 0 ? kWarmupPackets : 0) + (cases[i].topUp > 0 ? 1 : 0);
            ASSERT_TRUE(WaitForPacketWrites(*targets[i], fillWrites + kPackets)) << targets[i]->Name();
        }
    }
    EXPECT_EQ(unreadable->Streams().at(0).stopCalls, 0) << "a target that misses packets stays in the list";
    StopAndExpectIdle();

    for (size_t i = 0; i < targets.size(); ++i)
    {
        std::vector<FakeRenderWrite> writes = PacketWrites(*targets[i]);
        SCOPED_TRACE(targets[i]->Name());
        const size_t warmupWrites = cases[i].warmupSilence > 0 ? kWarmupPackets : 0;
        ASSERT_GE(writes.size(), warmupWrites);
        for (size_t w = 0; w < warmupWrites; ++w)
        {
            EXPECT_EQ(writes[w].releasedFrames, cases[i].warmupSilence) << "warm-up write " << w;
            EXPECT_TRUE(AllZero(writes[w])) << "warm-up write " << w;
        }
        writes.erase(writes.begin(), writes.begin() + warmupWrites);
        if (cases[i].topUp > 0)
        {
            ASSERT_FALSE(writes.empty());
            EXPECT_EQ(writes.front().releasedFrames, cases[i].topUp);
            EXPECT_TRUE(AllZero(writes.front()));
            writes.erase(writes.begin());
        }
        EXPECT_EQ(writes.size(), cases[i].expectedFrames > 0 ? kPackets : 0u);
        // The splice may leave a few more out where that joins the packet
        // better (PacketSplice); they are counted with the rest.
        uint64_t written = 0;
        for (const FakeRenderWrite& write : writes)
        {
            EXPECT_EQ(write.requestedFrames, write.releasedFrames);
            EXPECT_EQ(write.releasedFrames == 480, cases[i].expectedFrames == 480);
            EXPECT_LE(write.releasedFrames, cases[i].expectedFrames);
            written += write.releasedFrames;
        }
        // What was left out is said when the run ends; a full queue is
        // given nothing, every packet of it left out.
        const std::optional<uint64_t> leftOut = FramesLeftOut(Log(), targets[i]->Name());
        ASSERT_TRUE(leftOut.has_value());
        if (writes.empty())
        {
            EXPECT_GT(*leftOut, 0u);
            EXPECT_EQ(*leftOut % 480u, 0u);
        }
        else
        {
            EXPECT_EQ(*leftOut, 480u * writes.size() - written);
        }
    }
    EXPECT_TRUE(PacketWrites(*unreadable).empty());
    EXPECT_FALSE(FramesLeftOut(Log(), "Unreadable queue").has_value()) << "it never had a packet";
}

// The frame count would leave out half the excess at 2160 queued (above); a
// stream without a rate whose clock stands past its queue, as Windows'
// does, keeps its queue by a rate played in software and takes whole
// packets, as they came while that rate is the nominal.
TEST_F(EngineTest, ATargetWithoutARateWhoseClockCountsWhatIsHeardTakesWholePackets)
{
    state.bufferMs = 30.0f;
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour behaviour = TargetBehaviour();
    behaviour.padding = 2160;
    behaviour.clock = true;
    behaviour.clockBehindQueue = 240;
    const auto target = AddTarget("Heard", behaviour);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 12));
    StopAndExpectIdle();

    const std::vector<FakeRenderWrite> writes = PacketWrites(*target);
    ASSERT_GE(writes.size(), 12u);
    for (size_t w = writes.size() - 6; w < writes.size(); ++w)
    {
        EXPECT_EQ(writes[w].releasedFrames, 480u) << "write " << w;
        EXPECT_EQ(PatternPacketIndex(WrittenFloats(writes[w]).front()),
                  PatternPacketIndex(WrittenFloats(writes[w - 1]).front()) + 1)
            << "write " << w;
    }
}

TEST_F(EngineTest, SelectingAnotherTargetRebuildsAllTargetsWhileTheSourceRuns)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    const auto first = AddTarget("A", TargetBehaviour());
    const auto added = AddTarget("B", TargetBehaviour(), false);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*first, 3));
    SelectTarget("B", true);
    ASSERT_TRUE(WaitForLog("Targets rebuilt: now 2 targets active."));
    ASSERT_TRUE(WaitForPacketWrites(*added, 2));
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.publishedRenderClients.size(), 2u);
    }
    StopAndExpectIdle();

    const std::vector<FakeStreamRecord> firstStreams = first->Streams();
    ASSERT_EQ(firstStreams.size(), 2u) << "the old target is reopened";
    EXPECT_GE(firstStreams[0].stopCalls, 1);
    ASSERT_EQ(added->Streams().size(), 1u);
    for (const FakeStreamRecord& reopened : {firstStreams[1], added->Streams()[0]})
    {
        ASSERT_FALSE(reopened.writes.empty());
        EXPECT_FALSE(reopened.writes[0].whileRunning);
        EXPECT_EQ(reopened.writes[0].releasedFrames, 1980u) << "three quarters of 2640 frames";
        EXPECT_EQ(reopened.startCalls, 1);
    }
    EXPECT_EQ(source->Streams().size(), 1u);
    EXPECT_EQ(source->Streams()[0].startCalls, 1);

    // Five packets after the rebuild are dropped: the first one heard again
    // comes six after the last one the old stream played.
    const uint32_t lastOld = FirstPacketIndex(firstStreams[0].writes.back());
    std::vector<FakeRenderWrite> newWrites;
    for (const FakeRenderWrite& write : firstStreams[1].writes)
    {
        if (write.whileRunning)
            newWrites.push_back(write);
    }
    ASSERT_FALSE(newWrites.empty());
    EXPECT_EQ(FirstPacketIndex(newWrites[0]), (lastOld + 6) % 400);
    EXPECT_EQ(FirstPacketIndex(PacketWrites(*added).at(0)), (lastOld + 6) % 400);

    const std::vector<std::string> lines = Log();
    const auto changed = std::find(lines.begin(), lines.end(), "Targets changed: rebuilding render targets (old=1).");
    ASSERT_NE(changed, lines.end());
    ASSERT_GE(lines.end() - changed, 4);
    EXPECT_EQ(*(changed + 1), "OpenRenderTarget: 'A' has no rate adjustment; resampling or the frame count keeps its queue.");
    EXPECT_EQ(*(changed + 2), "OpenRenderTarget: 'B' has no rate adjustment; resampling or the frame count keeps its queue.");
    EXPECT_EQ(*(changed + 3), "Targets rebuilt: now 2 targets active.");
}

TEST_F(EngineTest, DeselectingEveryTargetEndsTheRun)
{
    AddSource("Speakers", SourceBehaviour());
    const auto target = AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 1));
    SelectTarget("Headphones", false);
    ASSERT_TRUE(WaitFor([&] { return !state.isRedirecting; }));
    EXPECT_TRUE(state.redirectThread.joinable());
    EXPECT_TRUE(state.redirectStopRequested);
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_FALSE(state.publishedSourceClient);
        EXPECT_TRUE(state.publishedRenderClients.empty());
    }
    std::vector<std::string> lines = Log();
    const auto changed = std::find(lines.begin(), lines.end(), "Targets changed: rebuilding render targets (old=1).");
    ASSERT_NE(changed, lines.end());
    EXPECT_EQ(*(changed + 1), "Redirect thread exiting (cleanup done).");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Targets rebuilt: now 0 targets active."), 0);

    SelectTarget("Headphones", true);
    StartAndWaitRunning();
    lines = Log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "StartRedirection: previous thread still joinable, joining first..."),
              lines.end());
    StopAndExpectIdle();
}

TEST_F(EngineTest, StopRequestDuringTheFirstPassEndsAfterThePacketInHand)
{
    state.bufferMs = 10.0f;  // four packets a pass
    FakeStreamBehaviour behaviour = SourceBehaviour();
    behaviour.onPacketHandedOut = [this] { state.redirectStopRequested = true; };
    const auto source = AddSource("Speakers", behaviour);
    AddTarget("Headphones", TargetBehaviour());

    StartRedirection(state);
    ASSERT_TRUE(WaitFor([&] { return !state.isRedirecting; }));
    const FakeStreamRecord stream = source->Streams().at(0);
    EXPECT_EQ(stream.packetsHandedOut, 1u);
    EXPECT_EQ(stream.packetsReleased, 1u);
    EXPECT_FALSE(stream.running);
    const std::vector<std::string> lines = Log();
    EXPECT_EQ(lines.back(), "Redirect thread exiting (cleanup done).");
}

TEST_F(EngineTest, SourceThatStopsDeliveringKeepsTheRunAlive)
{
    // A passing failure (a stream reset under way), unlike a stream the
    // system took away (stream_recovery_test.cpp), leaves the run as it is.
    FakeStreamBehaviour behaviour = SourceBehaviour();
    behaviour.getNextPacketSize = AUDCLNT_E_BUFFER_OPERATION_PENDING;
    AddSource("Speakers", behaviour);
    const auto target = AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(state.isRedirecting);
    EXPECT_TRUE(PacketWrites(*target).empty());
    StopAndExpectIdle();
}
