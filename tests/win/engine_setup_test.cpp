// Opening the source and the targets: stream flags, formats, the fallback to
// a target's own format, priming, start order and every way set-up can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <tuple>

#include "audio/engine/channel_map.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_recovery.h"
#include "engine_fixture.h"
#include "test_log.h"

namespace
{
constexpr DWORD kTargetFlags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;

bool AllZero(const std::vector<uint8_t>& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; });
}

std::vector<int16_t> WrittenPcm16(const FakeRenderWrite& write)
{
    std::vector<int16_t> samples(write.bytes.size() / sizeof(int16_t));
    std::memcpy(samples.data(), write.bytes.data(), samples.size() * sizeof(int16_t));
    return samples;
}

int16_t Pcm16Of(float value)
{
    return static_cast<int16_t>(std::lround(static_cast<double>(value) * 32768.0));
}

std::vector<std::string> FormatLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> picked;
    for (const std::string& line : lines)
    {
        if (line.rfind("Warning: ", 0) == 0 || line.rfind("Using audio format", 0) == 0 ||
            line.rfind("RunRedirection: ", 0) == 0)
            picked.push_back(line);
    }
    return picked;
}
}  // namespace

TEST_F(EngineTest, OnlyPlaybackSourcesAreCapturedByLoopback)
{
    struct Case
    {
        std::optional<EDataFlow> flow;  // none: the device offers no IMMEndpoint
        DWORD flags;
        const char* logged;
    };
    const Case cases[] = {{eRender, AUDCLNT_STREAMFLAGS_LOOPBACK, "Source device dataFlow: Render"},
                          {eCapture, 0, "Source device dataFlow: Capture"},
                          {std::nullopt, AUDCLNT_STREAMFLAGS_LOOPBACK, "Source device dataFlow: Render"}};
    AddTarget("Headphones", TargetBehaviour());
    for (const Case& test : cases)
    {
        logPath = OpenFreshTestLog(L"engine");
        const auto source = AddSource("Microphone", SourceBehaviour(), test.flow);
        StartAndWaitRunning();
        StopAndExpectIdle();

        const std::vector<std::string> lines = Log();
        EXPECT_NE(std::find(lines.begin(), lines.end(), test.logged), lines.end()) << test.logged;
        ASSERT_EQ(source->Streams().size(), 1u);
        const std::vector<FakeInitializeCall> calls = source->Streams()[0].initializeCalls;
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].flags, test.flags) << test.logged;
        EXPECT_EQ(calls[0].shareMode, AUDCLNT_SHAREMODE_SHARED);
        // 20 ms asked for; room for three 10 ms packets is the least.
        EXPECT_EQ(calls[0].bufferDuration, 300000);
        EXPECT_EQ(calls[0].periodicity, 0);
        EXPECT_TRUE(calls[0].sessionGuidNull);
        EXPECT_EQ(calls[0].format, FloatFormat());
    }
}

TEST_F(EngineTest, FormatReportWarnsAboutUnusualSourceFormats)
{
    struct Case
    {
        FakeFormat format;
        std::vector<std::string> expected;
        bool runs;
    };
    const Case cases[] = {
        {FloatFormat(2, 48000), {"Using audio format: 48000 Hz, 32-bit, 2 channels"}, true},
        {ExtensibleFloatFormat(2, 48000),
         {"Warning: Non-optimal audio format detected", "Using audio format: 48000 Hz, 32-bit, 2 channels"},
         true},
        {PcmFormat(16, 1, 96000),
         {"Warning: Non-standard sample rate: 96000 Hz", "Using audio format: 96000 Hz, 16-bit, 1 channels"},
         true},
        {PcmFormat(8, 2, 44100),
         {"Warning: Unusual bit depth: 8 bits", "Warning: Using non-optimal audio format - may cause performance issues",
          "Using audio format: 44100 Hz, 8-bit, 2 channels",
          "RunRedirection: source format cannot be carried (unsupported bit depth); redirection not started."},
         false},
    };
    AddTarget("Headphones", TargetBehaviour());
    for (const Case& test : cases)
    {
        logPath = OpenFreshTestLog(L"engine");
        FakeStreamBehaviour behaviour = SourceBehaviour();
        behaviour.mixFormat = test.format;
        const auto source = AddSource("Speakers", behaviour);
        if (test.runs)
        {
            StartAndWaitRunning();
        }
        else
        {
            StartRedirection(state);
            ASSERT_TRUE(WaitFor([&] { return !state.isRedirecting; }));
            EXPECT_TRUE(source->Streams().at(0).initializeCalls.empty());
        }
        StopAndExpectIdle();
        EXPECT_EQ(FormatLines(Log()), test.expected) << test.expected.back();
    }
}

TEST_F(EngineTest, TargetRefusingTheSourceFormatPlaysConvertedInItsOwn)
{
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour own = TargetBehaviour();
    own.mixFormat = PcmFormat(16, 2, 48000);
    own.onlyOwnFormat = true;
    const auto target = AddTarget("USB Headset", own);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 3));
    StopAndExpectIdle();

    // The source's format with and without rate adjustment, each on a
    // fresh client, then the target's own format on a third.
    const std::vector<FakeStreamRecord> streams = target->Streams();
    ASSERT_EQ(streams.size(), 3u);
    const std::pair<FakeFormat, DWORD> attempts[] = {{FloatFormat(), kTargetFlags | AUDCLNT_STREAMFLAGS_RATEADJUST},
                                                     {FloatFormat(), kTargetFlags},
                                                     {PcmFormat(16, 2, 48000), kTargetFlags | AUDCLNT_STREAMFLAGS_RATEADJUST}};
    for (size_t i = 0; i < streams.size(); ++i)
    {
        ASSERT_EQ(streams[i].initializeCalls.size(), 1u) << i;
        const FakeInitializeCall& call = streams[i].initializeCalls[0];
        EXPECT_EQ(call.format, attempts[i].first) << i;
        EXPECT_EQ(call.flags, attempts[i].second) << i;
        EXPECT_EQ(call.result, i < 2 ? AUDCLNT_E_UNSUPPORTED_FORMAT : S_OK) << i;
        EXPECT_EQ(call.bufferDuration, 500000) << "a 10 ms cushion and four packets";
    }
    const FakeStreamRecord& stream = streams[2];
    // Silence and packets alike fill 4-byte frames, never the source's 8.
    ASSERT_FALSE(stream.writes.empty());
    EXPECT_EQ(stream.writes[0].releasedFrames, 1320u);
    EXPECT_EQ(stream.writes[0].bytes.size(), 1320u * 4u);
    EXPECT_TRUE(AllZero(stream.writes[0].bytes));

    const std::vector<FakeRenderWrite> packets = PacketWrites(*target);
    const std::vector<int16_t> samples = WrittenPcm16(packets.at(0));
    ASSERT_EQ(samples.size(), 480u * 2u);
    // The first packet heard is the sixth captured (five are dropped).
    for (uint32_t frame = 0; frame < 480; ++frame)
    {
        for (uint16_t channel = 0; channel < 2; ++channel)
            ASSERT_EQ(samples[frame * 2 + channel], Pcm16Of(PatternSample(5, frame, channel)))
                << "frame " << frame << " channel " << channel;
    }
}

TEST_F(EngineTest, IntegerSourceIsConvertedBeforeReachingAFloatTarget)
{
    FakeStreamBehaviour pcm = SourceBehaviour();
    pcm.mixFormat = PcmFormat(16, 2, 48000);
    AddSource("Line In", pcm, eCapture);
    FakeStreamBehaviour own = TargetBehaviour();
    own.onlyOwnFormat = true;  // float: refuses the 16-bit source format
    const auto target = AddTarget("Headphones", own);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 2));
    StopAndExpectIdle();

    const std::vector<float> samples = WrittenFloats(PacketWrites(*target).at(0));
    ASSERT_EQ(samples.size(), 480u * 2u);
    for (uint32_t frame = 0; frame < 480; ++frame)
    {
        for (uint16_t channel = 0; channel < 2; ++channel)
        {
            const float expected = static_cast<float>(Pcm16Of(PatternSample(5, frame, channel))) / 32768.0f;
            ASSERT_EQ(samples[frame * 2 + channel], expected) << "frame " << frame << " channel " << channel;
        }
    }
}

// A 5.1 film into stereo headphones that only take their own format: the
// dialogue of the centre and the surrounds reach both sides at -3 dB, the
// LFE does not.
TEST_F(EngineTest, SurroundSourceReachesAStereoTargetBySpeakerPosition)
{
    FakeStreamBehaviour surround = SourceBehaviour();
    surround.mixFormat = ExtensibleFloatFormat(6, 48000);
    surround.mixFormat.channelMask = speaker::kFivePointOne;
    AddSource("Speakers", surround);
    FakeStreamBehaviour stereo = TargetBehaviour();
    stereo.mixFormat = ExtensibleFloatFormat(2, 48000);
    stereo.onlyOwnFormat = true;
    const auto target = AddTarget("Headphones", stereo);

    StartAndWaitRunning();
    ASSERT_TRUE(WaitForPacketWrites(*target, 2));
    StopAndExpectIdle();

    EXPECT_TRUE(InOrder(Log(), {"OpenRenderTarget: 'Headphones' plays the source's 6 channels on its 2, matched by "
                                "speaker position."}));
    const std::vector<float> samples = WrittenFloats(PacketWrites(*target).at(0));
    ASSERT_EQ(samples.size(), 480u * 2u);
    constexpr float k = 0.70710678f;
    for (uint32_t frame = 0; frame < 480; ++frame)
    {
        // The first packet heard is the sixth captured; channels FL FR FC LFE BL BR.
        const auto in = [frame](uint16_t channel) { return PatternSample(5, frame, channel); };
        // The sums stay under the clipper's knee (0.82 at most).
        const float left = in(0) + k * in(2) + k * in(4);
        const float right = in(1) + k * in(2) + k * in(5);
        ASSERT_FLOAT_EQ(samples[frame * 2], left) << "frame " << frame;
        ASSERT_FLOAT_EQ(samples[frame * 2 + 1], right) << "frame " << frame;
    }
}

// A client whose Initialize failed may refuse all further use, so every
// retry (without rate adjustment, then in the target's own format) starts
// from a newly activated client.
TEST_F(EngineTest, EveryRetryOfATargetStartsFromAFreshClient)
{
    struct Case
    {
        const char* name;
        void (*refuse)(FakeStreamBehaviour& target);
        size_t clients;
    };
    const Case cases[] = {
        {"NoRateAdjust", [](FakeStreamBehaviour& t) { t.refuseRateAdjust = E_INVALIDARG; }, 2},
        {"OwnFormatOnly", [](FakeStreamBehaviour& t) { t.onlyOwnFormat = true; }, 3},
        {"OwnFormatNoRateAdjust",
         [](FakeStreamBehaviour& t) {
             t.onlyOwnFormat = true;
             t.refuseRateAdjust = E_INVALIDARG;
         },
         4},
    };
    AddSource("Speakers", SourceBehaviour());
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        FakeStreamBehaviour behaviour = TargetBehaviour();
        behaviour.mixFormat = PcmFormat(16, 2, 48000);
        behaviour.spentByFailedInitialize = true;
        cases[i].refuse(behaviour);
        const auto target = AddTarget(cases[i].name, behaviour);
        if (i > 0)
            SelectTarget(cases[i - 1].name, false);

        StartAndWaitRunning();
        ASSERT_TRUE(WaitForPacketWrites(*target, 2)) << cases[i].name;
        StopAndExpectIdle();

        const std::vector<FakeStreamRecord> streams = target->Streams();
        EXPECT_EQ(streams.size(), cases[i].clients) << cases[i].name;
        for (const FakeStreamRecord& stream : streams)
        {
            EXPECT_LE(stream.initializeCalls.size(), 1u) << cases[i].name;
            EXPECT_EQ(stream.refusedCalls, 0) << cases[i].name;
        }
    }
}

TEST_F(EngineTest, TargetAtAnotherSampleRateIsLeftOutWithAMessage)
{
    AddSource("Speakers", SourceBehaviour());
    const auto working = AddTarget("Headphones", TargetBehaviour());
    FakeStreamBehaviour slower = TargetBehaviour();
    slower.mixFormat = FloatFormat(2, 44100);
    slower.onlyOwnFormat = true;
    const auto leftOut = AddTarget("Bluetooth", slower);

    StartAndWaitRunning(1);
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.publishedRenderClients.size(), 1u);
    }
    ASSERT_TRUE(WaitForPacketWrites(*working, 2));
    StopAndExpectIdle();

    const std::vector<std::string> lines = Log();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "OpenRenderTarget: 'Bluetooth' left out: it runs at 44100 Hz, the source at 48000 Hz."),
              lines.end());
    for (const FakeStreamRecord& stream : leftOut->Streams())
    {
        for (const FakeInitializeCall& call : stream.initializeCalls)
            EXPECT_EQ(call.format, FloatFormat()) << "the own format must not be tried";
        EXPECT_TRUE(stream.writes.empty());
        EXPECT_EQ(stream.startCalls, 0);
    }
}

TEST_F(EngineTest, TheSourcesOwnDeviceIsLeftOutOfTheRunWithOneLine)
{
    const auto speakers = UseDefaultSource("Speakers", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour());
    SelectTarget("Speakers", true);
    StartAndWaitRunning(1);
    // Target checks pass meanwhile: the device left out is no change.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StopAndExpectIdle();
    const std::vector<std::string> lines = Log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Starting redirection: 'Speakers' is the source's own device; left out to avoid feedback."),
              1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Targets changed", 0) == 0; }),
              0);
    EXPECT_EQ(speakers->Streams().size(), 1u) << "only its loopback stream";
}

// A target that cannot be opened is left out, said once, shown on its row,
// and no reason for the target checks to rebuild the others: each rebuild
// would cut them short and fail on it again.
TEST_F(EngineTest, TargetThatFailsToOpenIsLeftOutWithoutARebuild)
{
    AddSource("Speakers", SourceBehaviour());
    AddTarget("A", TargetBehaviour());
    FakeStreamBehaviour broken = TargetBehaviour();
    broken.activate = E_FAIL;
    AddTarget("B", broken);
    AddTarget("C", TargetBehaviour());

    StartAndWaitRunning(2);
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.publishedRenderClients.size(), 2u);
    }
    const auto checks = std::chrono::milliseconds(300);
    std::this_thread::sleep_for(checks);
    const std::string b = state.playbackDevices[TargetIndex("B")].identity.eid;
    EXPECT_TRUE(IsLeftOut(state, b));
    EXPECT_EQ(state.targetLinks.at(b)->runState.load(), TargetRunState::Lost);
    StopAndExpectIdle();
    const std::vector<std::string> lines = Log();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Targets changed", 0) == 0; }),
              0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "StreamFailure: 'B' could not be opened; it is left out until the next device change or Start."),
              1);
}

TEST_F(EngineTest, TargetsArePrimedWithHalfABufferAndStartAfterTheSource)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    const auto small = AddTarget("A", TargetBehaviour());
    FakeStreamBehaviour larger = TargetBehaviour();
    larger.bufferFrames = 1440;
    const auto large = AddTarget("B", larger);

    StartAndWaitRunning(2);
    StopAndExpectIdle();

    for (const auto& [target, frames] : {std::pair{small, 1320u}, std::pair{large, 720u}})
    {
        const FakeStreamRecord stream = target->Streams().at(0);
        ASSERT_FALSE(stream.writes.empty());
        const FakeRenderWrite& priming = stream.writes[0];
        EXPECT_FALSE(priming.whileRunning);
        EXPECT_EQ(priming.requestedFrames, frames);
        EXPECT_EQ(priming.releasedFrames, frames);
        EXPECT_EQ(priming.flags, 0u);
        EXPECT_TRUE(AllZero(priming.bytes));
    }
    std::vector<FakeStreamEvent> starts;
    for (const FakeStreamEvent& event : FakeStreamEvents())
    {
        if (event.call == "Start")
            starts.push_back(event);
    }
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].endpoint, "Speakers");
    EXPECT_EQ(starts[1].endpoint, "A");
    EXPECT_EQ(starts[2].endpoint, "B");
    EXPECT_GE(starts[1].at - starts[0].at, std::chrono::microseconds(9500));
}

// A stream that will not start is said, not counted as started: a source
// ends the run, a target plays nothing while the others play on.
TEST_F(EngineTest, AStreamThatWillNotStartIsSaid)
{
    // Whether the source refuses (else Headphones does), the line that says
    // so, and how many targets the run then counts as started (-1: it ends).
    const std::tuple<bool, const char*, int> cases[] = {
        {true, "WASAPI: the source could not be started (0x80004005); redirection ends.", -1},
        {false, "WASAPI: 'Headphones' could not be started (0x80004005); it plays nothing until redirection starts "
                "again.", 1},
    };
    for (const auto& [source, said, started] : cases)
    {
        logPath = OpenFreshTestLog(L"engine");
        FakeStreamBehaviour refusing = source ? SourceBehaviour() : TargetBehaviour();
        refusing.start = E_FAIL;
        AddSource("Speakers", source ? refusing : SourceBehaviour());
        AddTarget("Headphones", source ? TargetBehaviour() : refusing);
        const auto other = AddTarget("HDMI Output", TargetBehaviour());
        StartRedirection(state);
        ASSERT_TRUE(started < 0 ? WaitFor([&] { return !state.isRedirecting; }) : WaitForPacketWrites(*other, 5)) << said;
        StopAndExpectIdle();
        const std::vector<std::string> lines = Log();
        EXPECT_TRUE(InOrder(lines, {said}));
        const auto starts = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("WASAPI: source started");
        });
        EXPECT_EQ(starts, started < 0 ? 0 : 1) << said;
        EXPECT_TRUE(started < 0 ||
                    InOrder(lines, {"WASAPI: source started; " + std::to_string(started) + " render targets started."}));
        UnplugAll();
    }
}

TEST_F(EngineTest, EverySetUpFailureEndsTheRunAndReleasesEverything)
{
    struct Case
    {
        const char* what;
        void (*breakStreams)(FakeStreamBehaviour& source, FakeStreamBehaviour& target);
    };
    const Case cases[] = {
        {"source activation", [](FakeStreamBehaviour& s, FakeStreamBehaviour&) { s.activate = E_FAIL; }},
        {"source mix format", [](FakeStreamBehaviour& s, FakeStreamBehaviour&) { s.getMixFormat = E_FAIL; }},
        {"source initialisation", [](FakeStreamBehaviour& s, FakeStreamBehaviour&) { s.initialize = E_FAIL; }},
        {"capture service", [](FakeStreamBehaviour& s, FakeStreamBehaviour&) { s.getService = E_FAIL; }},
        {"target activation", [](FakeStreamBehaviour&, FakeStreamBehaviour& t) { t.activate = E_FAIL; }},
        {"both target formats", [](FakeStreamBehaviour&, FakeStreamBehaviour& t) { t.initialize = E_FAIL; }},
        {"target mix format",
         [](FakeStreamBehaviour&, FakeStreamBehaviour& t) {
             t.onlyOwnFormat = true;
             t.mixFormat = PcmFormat(16);
             t.getMixFormat = E_FAIL;
         }},
        {"render service", [](FakeStreamBehaviour&, FakeStreamBehaviour& t) { t.getService = E_FAIL; }},
        {"buffer size", [](FakeStreamBehaviour&, FakeStreamBehaviour& t) { t.getBufferSize = E_FAIL; }},
        {"empty buffer", [](FakeStreamBehaviour&, FakeStreamBehaviour& t) { t.bufferFrames = 0; }},
    };
    for (const Case& test : cases)
    {
        logPath = OpenFreshTestLog(L"engine");
        FakeStreamBehaviour sourceBehaviour = SourceBehaviour();
        FakeStreamBehaviour targetBehaviour = TargetBehaviour();
        test.breakStreams(sourceBehaviour, targetBehaviour);
        const auto source = AddSource("Speakers", sourceBehaviour);
        const auto target = AddTarget("Headphones", targetBehaviour);

        StartRedirection(state);
        ASSERT_TRUE(WaitFor([&] { return !state.isRedirecting; })) << test.what;
        EXPECT_TRUE(state.redirectThread.joinable()) << test.what;
        {
            std::lock_guard<std::mutex> lock(state.streamMutex);
            EXPECT_FALSE(state.publishedSourceClient) << test.what;
            EXPECT_TRUE(state.publishedRenderClients.empty()) << test.what;
        }
        StopAndExpectIdle();
        for (const auto& endpoint : {source, target})
        {
            for (const FakeStreamRecord& stream : endpoint->Streams())
                EXPECT_EQ(stream.startCalls, 0) << test.what << ": " << endpoint->Name() << " was started";
        }
        const std::vector<std::string> lines = Log();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) {
                                    return line.rfind("WASAPI", 0) == 0 || line.rfind("Redirect thread exiting", 0) == 0;
                                }),
                  0)
            << test.what << ": an early end logs nothing more";

        UnplugAll();
        EXPECT_EQ(LiveFakeComObjects(), baselineObjects) << test.what << ": a fake was leaked";
    }
}

TEST_F(EngineTest, RateAdjustableTargetsAreSteeredAndARefusingOneOpensWithout)
{
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour adjustable = TargetBehaviour();
    adjustable.clockAdjustment = S_OK;
    // Well above its set point (a 480-frame cushion and half a packet at
    // 20 ms), yet below where the frame count trims: the controller must
    // play it faster.
    adjustable.padding = 1400;
    const auto steered = AddTarget("Steered", adjustable);
    FakeStreamBehaviour refusing = TargetBehaviour();
    refusing.refuseRateAdjust = E_INVALIDARG;
    const auto plain = AddTarget("Plain", refusing);

    StartAndWaitRunning(2);
    // Its first window lasts two seconds.
    ASSERT_TRUE(WaitFor([&] { return steered->Streams().at(0).sampleRates.size() >= 2; }, std::chrono::seconds(5)));
    ASSERT_TRUE(WaitForPacketWrites(*plain, 2));
    StopAndExpectIdle();

    const std::vector<std::string> lines = Log();
    EXPECT_TRUE(InOrder(lines, {"OpenRenderTarget: 'Steered' follows the source's clock by rate adjustment.",
                                "OpenRenderTarget: 'Plain' has no rate adjustment; resampling or the frame count keeps its queue."}));
    // First the rate it plays at, which shows how the stream takes a change;
    // then 680 frames above the set point of 720, less the band of half of
    // it that is left alone, played off over the next 8 s: +0.08 %.
    const std::vector<float> rates = steered->Streams().at(0).sampleRates;
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_EQ(rates[0], 48000.0f);
    EXPECT_NEAR(rates[1], 48000.0f * (1.0f + (680.0f - 360.0f) / (48000.0f * 8.0f)), 1.0f);

    const std::vector<FakeStreamRecord> plainStreams = plain->Streams();
    ASSERT_EQ(plainStreams.size(), 2u) << "a fresh client for the second try";
    EXPECT_EQ(plainStreams[0].initializeCalls.at(0).result, E_INVALIDARG);
    EXPECT_EQ(plainStreams[1].initializeCalls.at(0).flags, kTargetFlags);
    EXPECT_TRUE(plainStreams[1].sampleRates.empty());
}

class RateChangeTest : public EngineTest
{
protected:
    // A target well above its set point, with a clock: its rate is first
    // set to its own at the start, and the controller's first change comes
    // after 3 s. The log lines, and the first write after change `change`
    // with the frames written before it. `writesAfter`: how many writes to
    // wait for after the change.
    void RunToChange(size_t change, bool dropsQueue, HRESULT setSampleRate = S_OK, size_t writesAfter = 2)
    {
        AddSource("Speakers", SourceBehaviour());
        FakeStreamBehaviour adjustable = TargetBehaviour();
        adjustable.clockAdjustment = S_OK;
        adjustable.clock = true;
        adjustable.dropQueueOnRateChange = dropsQueue;
        adjustable.setSampleRate = setSampleRate;
        adjustable.padding = 1400;
        const auto steered = AddTarget("Steered", adjustable);
        StartAndWaitRunning();
        ASSERT_TRUE(WaitFor([&] { return steered->Streams().at(0).sampleRates.size() > change; },
                            std::chrono::seconds(5)));
        const size_t writesThen = steered->Streams().at(0).writesAtRateChange.at(change);
        ASSERT_TRUE(WaitForPacketWrites(*steered, writesThen + writesAfter));
        StopAndExpectIdle();
        lines = Log();
        const FakeStreamRecord record = steered->Streams().at(0);
        for (size_t i = 0; i < writesThen; ++i)
            before.insert(before.end(), record.writes[i].bytes.begin(), record.writes[i].bytes.end());
        after = record.writes.at(writesThen);
    }

    std::vector<std::string> lines;
    std::vector<uint8_t> before;
    FakeRenderWrite after;
};

// 680 frames above the set point of 720, less the band of half of it, over
// the next 8 s.
constexpr const char* kFirstChange = "Rate adjustment: 'Steered' now plays at 48040.00 Hz.";
constexpr const char* kOwnRate = "Rate adjustment: 'Steered' now plays at 48000.00 Hz.";

// A stream that throws its queue away at a rate change (and starts its
// clock again) shows it at the first, which sets its own rate at the start
// while nothing is heard; from then on what it is given is kept, and at the
// controller's change it is given the same frames once more, the newest: as
// many as were lost, or as the buffer has room for when the queue is read
// again (the fake reads full again once the change is past).
TEST_F(RateChangeTest, AStreamThatThrowsItsQueueAwayIsGivenTheSameFramesAgain)
{
    RunToChange(1, true);
    const std::string again = "Rate adjustment: 'Steered' dropped 1400 queued frames at the change; " +
                              std::to_string(after.releasedFrames) + " were queued again.";
    EXPECT_TRUE(InOrder(lines, {kOwnRate,
                                "Rate adjustment: 'Steered' dropped 1400 queued frames at the change; what it is given "
                                "is kept from now on to be queued again.",
                                kFirstChange, again}));
    ASSERT_GE(after.releasedFrames, 1000u);
    ASSERT_LE(after.releasedFrames, 1400u);
    const size_t bytes = size_t{after.releasedFrames} * 8;
    ASSERT_GE(before.size(), bytes);
    EXPECT_TRUE(std::equal(after.bytes.begin(), after.bytes.end(), before.end() - static_cast<std::ptrdiff_t>(bytes)));
}

// A stream that plays on through a change is not written twice; the first
// change shows it, and from then on its queue is held closely, its changes
// too many to say each.
TEST_F(RateChangeTest, AStreamThatPlaysOnIsHeldClosely)
{
    RunToChange(1, false);
    EXPECT_TRUE(InOrder(lines, {kOwnRate, "Rate adjustment: 'Steered' changes its rate without a break; its queue "
                                          "is held closely from now on."}));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("dropped") != std::string::npos || line == kFirstChange;
                            }),
              0);
    EXPECT_EQ(after.releasedFrames, 480u);
}

// A stream that refuses the rate asked for is left at its own, said once,
// and kept by the frame count: its packets go on.
TEST_F(RateChangeTest, AStreamThatRefusesARateIsLeftAtItsOwn)
{
    RunToChange(0, true, E_FAIL, 10);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Rate adjustment: 'Steered' refused 48000.00 Hz (HRESULT=0x80004005); its rate is left alone."),
              1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("now plays at") != std::string::npos ||
                                       line.find("dropped") != std::string::npos;
                            }),
              0);
}

TEST_F(EngineTest, TestBiasSetsEveryAdjustableTargetOffItsRateFromTheStart)
{
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour adjustable = TargetBehaviour();
    adjustable.clockAdjustment = S_OK;
    const auto target = AddTarget("Biased", adjustable);
    SetEnvironmentVariableW(L"TONEFORK_TEST_RATE_BIAS", L"0.005");
    StartAndWaitRunning();
    SetEnvironmentVariableW(L"TONEFORK_TEST_RATE_BIAS", nullptr);
    StopAndExpectIdle();

    EXPECT_TRUE(InOrder(Log(), {"Rate adjustment: test bias of +0.50% on every target."}));
    const std::vector<float> rates = target->Streams().at(0).sampleRates;
    ASSERT_FALSE(rates.empty());
    EXPECT_FLOAT_EQ(rates.front(), 48240.0f);
}
