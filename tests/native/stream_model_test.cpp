// The behaviours of the stream model that the delivery relies on: what
// Windows documents, and where Wine's stand-ins differ from it.
#include "stream_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace stream_model;

RenderConfig Render(Kind kind, double rate, double periodSeconds = kDefaultPeriodSeconds) {
    RenderConfig config;
    config.kind = kind;
    config.deviceRate = config.streamRate = rate;
    config.periodFrames = PeriodFramesAt(rate, periodSeconds);
    config.bufferFrames = static_cast<uint32_t>(rate / 10.0);  // 100 ms
    return config;
}

uint32_t PaddingOf(const RenderStreamModel& stream) {
    uint32_t frames = 0;
    EXPECT_EQ(stream.Padding(frames), kOk);
    return frames;
}

double SecondsByClock(const RenderStreamModel& stream) {
    uint64_t position = 0;
    uint64_t frequency = 0;
    stream.ClockPosition(position);
    stream.ClockFrequency(frequency);
    return static_cast<double>(position) / static_cast<double>(frequency);
}

TEST(StreamModelTest, PaddingFallsByWholePeriods) {
    struct Case {
        double rate;
        double periodSeconds;
        uint32_t periodFrames;
    };
    for (const Case& c : {Case{44100.0, kDefaultPeriodSeconds, 441}, Case{48000.0, kDefaultPeriodSeconds, 480},
                          Case{96000.0, kDefaultPeriodSeconds, 960}, Case{48000.0, kLowLatencyPeriodSeconds, 144}}) {
        RenderStreamModel stream(Render(Kind::Windows, c.rate, c.periodSeconds));
        ASSERT_EQ(stream.periodFrames(), c.periodFrames) << c.rate;
        ASSERT_EQ(stream.Write(5 * c.periodFrames), kOk);
        // Passes at 0, 1 and 2 periods; nothing in between.
        stream.Advance(2.5 * c.periodSeconds);
        EXPECT_EQ(PaddingOf(stream), 2 * c.periodFrames) << c.rate;
        stream.Advance(2.99 * c.periodSeconds);
        EXPECT_EQ(PaddingOf(stream), 2 * c.periodFrames) << c.rate;
        // No more than the buffer less the padding.
        const uint32_t room = static_cast<uint32_t>(c.rate / 10.0) - 2 * c.periodFrames;
        EXPECT_EQ(stream.Write(room + 1), kBufferTooLarge) << c.rate;
        EXPECT_EQ(stream.Write(room), kOk) << c.rate;
    }
}

// 4800 frames written at 48 kHz, 45 ms played (five passes, the last half
// heard), then the rate set 1 % up and 2400 frames more written.
TEST(StreamModelTest, ClockAndQueueAcrossARateChange) {
    struct Case {
        Kind kind;
        double secondsByClock;  // at 45 ms
        Result setRate;
        uint32_t paddingAfter;
        bool clockStartsAgain;
    };
    for (const Case& c : {Case{Kind::Windows, 0.045, kOk, 2400, false}, Case{Kind::Wine10, 0.050, kOk, 0, true},
                          Case{Kind::Wine8, 0.050, kNoInterface, 2400, false}}) {
        const char* kind = KindName(c.kind);
        RenderStreamModel stream(Render(c.kind, 48000.0));
        ASSERT_EQ(stream.Write(4800), kOk);
        stream.Advance(0.045);
        EXPECT_NEAR(SecondsByClock(stream), c.secondsByClock, 1e-6) << kind;
        uint64_t before = 0;
        stream.ClockPosition(before);
        EXPECT_EQ(stream.SetSampleRate(48480.0f), c.setRate) << kind;
        EXPECT_EQ(PaddingOf(stream), c.paddingAfter) << kind;
        uint64_t after = 0;
        stream.ClockPosition(after);
        EXPECT_EQ(after, c.clockStartsAgain ? 0u : before) << kind;
    }
    // Windows drains the kept queue at the new rate (484.8 frames a pass),
    // and its clock goes on counting what is heard: the rest of the pass
    // at 40 ms, four passes and half of one at 48480 Hz.
    RenderStreamModel stream(Render(Kind::Windows, 48000.0));
    stream.Write(4800);
    stream.Advance(0.045);
    const double heardBefore = SecondsByClock(stream) * 48000.0;
    stream.SetSampleRate(48480.0f);
    stream.Write(2400);
    stream.Advance(0.095);
    EXPECT_NEAR(PaddingOf(stream), 4800 - 2424, 1);
    EXPECT_NEAR(SecondsByClock(stream) * 48000.0 - heardBefore, 240.0 + 4 * 484.8 + 242.4, 1.0);
    uint64_t frequency = 0;
    stream.ClockFrequency(frequency);
    EXPECT_EQ(frequency, 48000u * kClockUnitsPerFrame);
}

// Wine 8 kept at a queue of 1440 frames (a packet written 1 ms after each
// of its timer's ticks, 48 kHz), its process held for `holdSeconds` from
// 1.0015 s, the packets that came meanwhile written as it ends. At 2 s:
// how often its server ran dry, its count, and the wait of the last frame
// written to be heard.
struct Held {
    uint32_t underruns = 0;
    uint32_t padding = 0;
    double waitMs = 0.0;
};

Held HoldWine8(double holdSeconds) {
    struct Count : RenderListener {
        uint32_t underruns = 0;
        void Underrun(double, double) override { ++underruns; }
    } listener;
    RenderConfig config = Render(Kind::Wine8, 48000.0);
    config.startAt = 0.010;
    RenderStreamModel stream(config);
    stream.Write(1440);
    const double holdFrom = 1.0015;
    const double holdUntil = holdFrom + holdSeconds;
    uint32_t owed = 0;  // packets that came while the process was held
    for (int tick = 1; tick < 200; ++tick) {
        const double at = 0.010 * tick + 0.001;
        if (holdSeconds > 0.0 && at > holdFrom && at < holdUntil) {
            if (owed++ == 0) {
                stream.Advance(holdFrom, listener);
                stream.HoldProcess(holdUntil);
            }
            continue;
        }
        if (owed > 0) {
            stream.Advance(holdUntil, listener);
            stream.Write(480 * owed);
            owed = 0;
        }
        stream.Advance(at, listener);
        stream.Write(480);
    }
    stream.Advance(2.0, listener);
    return {listener.underruns, PaddingOf(stream), stream.WaitToBeHeard(1) * 1000.0};
}

// A hold the server outlasts is caught up and changes nothing; after a
// longer one the count stands whole periods higher for good, while what is
// heard moved further still: by the silence Wine wrote, which no call shows.
TEST(StreamModelTest, Wine8AfterItsProcessWasHeld) {
    const Held steady = HoldWine8(0.0);
    EXPECT_EQ(steady.underruns, 0u);
    const Held outlasted = HoldWine8(0.020);
    EXPECT_EQ(outlasted.underruns, 0u);
    EXPECT_EQ(outlasted.padding, steady.padding);
    EXPECT_NEAR(outlasted.waitMs, steady.waitMs, 0.01);
    const Held dry = HoldWine8(0.045);
    EXPECT_EQ(dry.underruns, 1u);
    const uint32_t step = dry.padding - steady.padding;
    EXPECT_GE(step, 2 * 480u);
    EXPECT_EQ(step % 480, 0u);
    EXPECT_GT(dry.waitMs - steady.waitMs, step / 48.0 + 10.0);
}

CaptureConfig Capture(Kind kind, bool loopback) {
    CaptureConfig config;
    config.kind = kind;
    config.loopback = loopback;
    config.bufferFrames = 3 * config.periodFrames;
    return config;
}

// The flags of the packets waiting, read and released.
std::vector<uint32_t> ReadAll(CaptureStreamModel& capture) {
    std::vector<uint32_t> flags;
    uint32_t frames = 0;
    while (capture.NextPacketSize(frames) == kOk && frames > 0) {
        Packet packet;
        EXPECT_EQ(capture.GetBuffer(packet), kOk);
        flags.push_back(packet.flags);
        capture.ReleaseBuffer(packet.frames);
    }
    return flags;
}

TEST(StreamModelTest, LoopbackWhileNothingPlays) {
    using Flags = std::vector<uint32_t>;
    struct Case {
        Kind kind;
        Flags idle;     // while nothing plays, 30 ms
        Flags resumed;  // the next 10 ms
    };
    for (const Case& c : {Case{Kind::Windows, {}, {kDataDiscontinuity}}, Case{Kind::Wine10, {0, 0, 0}, {0}}}) {
        CaptureStreamModel capture(Capture(c.kind, true));
        ASSERT_EQ(capture.Initialize(), kOk);
        capture.Advance(0.010);
        EXPECT_EQ(ReadAll(capture), Flags{0}) << KindName(c.kind);
        capture.SetPlaying(Playing::Nothing);
        capture.Advance(0.040);
        EXPECT_EQ(ReadAll(capture), c.idle) << KindName(c.kind);
        Packet none;
        EXPECT_EQ(capture.GetBuffer(none), kBufferEmpty);
        capture.SetPlaying(Playing::Sound);
        capture.Advance(0.050);
        EXPECT_EQ(ReadAll(capture), c.resumed) << KindName(c.kind);
        capture.SetPlaying(Playing::Silence);
        capture.Advance(0.060);
        EXPECT_EQ(ReadAll(capture), Flags{kSilent}) << KindName(c.kind);
    }
    // Wine 8 has no loopback at all.
    CaptureStreamModel wine8(Capture(Kind::Wine8, true));
    uint32_t frames = 0;
    EXPECT_EQ(wine8.Initialize(), kWrongEndpointType);
    EXPECT_EQ(wine8.NextPacketSize(frames), kNotInitialized);
    // A capture buffer not read in time loses what does not fit, and says so
    // on the next packet.
    CaptureStreamModel device(Capture(Kind::Windows, false));
    device.Advance(0.050);
    EXPECT_EQ(ReadAll(device), (Flags{0, 0, 0}));
    EXPECT_EQ(device.lost(), 2u);
    device.Advance(0.060);
    EXPECT_EQ(ReadAll(device), Flags{kDataDiscontinuity});
}

TEST(StreamModelTest, InvalidationFailsEveryCallOnWindowsOnly) {
    for (const Kind kind : {Kind::Windows, Kind::Wine8, Kind::Wine10}) {
        const Result code = kind == Kind::Windows ? kDeviceInvalidated : kOk;
        RenderStreamModel render(Render(kind, 48000.0));
        CaptureStreamModel capture(Capture(kind, false));
        capture.Advance(0.020);
        render.Invalidate();
        capture.Invalidate();
        uint32_t frames = 0;
        uint64_t value = 0;
        Packet packet;
        EXPECT_EQ(render.Padding(frames), code) << KindName(kind);
        EXPECT_EQ(render.BufferSize(frames), code) << KindName(kind);
        EXPECT_EQ(render.Write(480), code) << KindName(kind);
        EXPECT_EQ(render.ClockPosition(value), code) << KindName(kind);
        EXPECT_EQ(render.ClockFrequency(value), code) << KindName(kind);
        EXPECT_EQ(render.SetSampleRate(48000.0f), render.RateAdjustable() ? code : kNoInterface) << KindName(kind);
        EXPECT_EQ(capture.NextPacketSize(frames), code) << KindName(kind);
        EXPECT_EQ(capture.GetBuffer(packet), code) << KindName(kind);
        EXPECT_EQ(capture.ReleaseBuffer(480), code) << KindName(kind);
    }
    // The code the system gave is the one every call returns.
    RenderStreamModel render(Render(Kind::Windows, 48000.0));
    render.Invalidate(kServiceNotRunning);
    EXPECT_EQ(render.Write(0), kServiceNotRunning);
}

}  // namespace
