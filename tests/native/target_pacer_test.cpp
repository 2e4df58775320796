// The pacer against the stream model (bench/stream_model.h), driven as the
// transfer loop drives it (bench/model_engine.h): what Windows' streams
// make of its decisions, and what Wine 10's do.
#include "audio/engine/target_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "model_engine.h"

namespace {

using model_engine::Engine;
using EngineSetup = model_engine::Setup;
using stream_model::Kind;

// What a target did while the source played, after the first second and
// after the first packet of each resumption.
struct Recorder : model_engine::TargetObserver {
    const TargetPacer* pacer = nullptr;
    bool listening = true;
    bool resuming = false;
    uint32_t gaps = 0;
    uint64_t leftOut = 0;
    uint64_t leftOutAfterStart = 0;  // after the first 5 s
    int32_t finalPpm = 0;
    std::vector<RateChange> changes;
    uint32_t changesWhileIdle = 0;
    std::vector<double> ratesAtResumption;

    void Underrun(double at, double /*frames*/) override { gaps += listening && at > 1.0 ? 1 : 0; }
    void BeforeDelivery(double /*now*/, uint32_t /*queued*/, bool discontinuous) override {
        resuming = discontinuous && !listening;
        if (resuming) {
            ratesAtResumption.push_back(pacer->Rate());
        }
    }
    void Delivered(double now, uint32_t /*silence*/, uint32_t /*frames*/, uint32_t framesLeftOut) override {
        leftOut += framesLeftOut;
        leftOutAfterStart += now > 5.0 ? framesLeftOut : 0u;
        listening = listening || resuming;
    }
    void RateChanged(double /*now*/, const RateChange& change) override {
        changes.push_back(change);
        changesWhileIdle += listening ? 0 : 1;
    }
};

// Passes 1.5 ms apart; a paused source's endpoint plays nothing for
// pauseSeconds every 30 s, from 20 s into each.
Recorder Drive(const EngineSetup& setup, double ppm, double seconds, double pauseSeconds = 0.0) {
    Engine engine(setup, {ppm});
    Recorder recorder;
    recorder.pacer = &engine.targets[0].pacer;
    engine.targets[0].observer = &recorder;
    bool playing = true;
    for (double now = 0.0; now < seconds; now += 0.0015) {
        const double into = std::fmod(now, 30.0);
        if (pauseSeconds > 0.0 && playing != (into < 20.0 || into >= 20.0 + pauseSeconds)) {
            playing = !playing;
            engine.capture.Advance(now);
            engine.capture.SetPlaying(playing ? stream_model::Playing::Sound : stream_model::Playing::Nothing);
            recorder.listening = recorder.listening && playing;
        }
        engine.capture.Advance(now);
        engine.Pass(now);
    }
    recorder.finalPpm = engine.targets[0].pacer.RatePpm();
    return recorder;
}

// Equal clocks: whatever the device's rate, period and the latency setting,
// no frame is left out and the device never lacks one, with rate adjustment
// and with the frame count alone.
TEST(TargetPacerTest, EqualClocksLoseNothingAtAnySetting) {
    struct Device {
        double rate;
        uint32_t periodFrames;
    };
    for (const Device device : {Device{44100.0, 0}, Device{48000.0, 0}, Device{96000.0, 0}, Device{44100.0, 448}}) {
        for (const float bufferMs : {1.0f, 5.0f, 10.0f, 20.0f, 30.0f, 45.0f, 60.0f}) {
            for (const bool adjust : {true, false}) {
                EngineSetup setup{bufferMs, Kind::Windows, adjust, device.rate, device.periodFrames};
                const Recorder r = Drive(setup, 0.0, 20.0);
                SCOPED_TRACE(testing::Message() << device.rate << " Hz, " << setup.PacketFrames() << "-frame periods, "
                                                << bufferMs << " ms" << (adjust ? ", rate adjusted" : ""));
                EXPECT_EQ(r.leftOut, 0u);
                EXPECT_EQ(r.gaps, 0u);
            }
        }
    }
}

// A Windows stream without a rate to set follows a clock 1000 ppm off by
// playing its packets at a rate of its own: nothing is left out once it
// started, it never runs short, and the rate found is the clocks'
// difference.
TEST(TargetPacerTest, AStreamWithoutARateFollowsADriftingClock) {
    struct Case {
        double rate;
        float bufferMs;
    };
    for (const Case c : {Case{48000.0, 10.0f}, Case{44100.0, 30.0f}, Case{96000.0, 60.0f}, Case{48000.0, 1.0f}}) {
        for (const double ppm : {-1000.0, 1000.0}) {
            const Recorder r = Drive(EngineSetup{c.bufferMs, Kind::Windows, false, c.rate}, ppm, 60.0);
            SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.bufferMs << " ms, " << ppm << " ppm");
            EXPECT_EQ(r.leftOutAfterStart, 0u);
            EXPECT_EQ(r.gaps, 0u);
            EXPECT_NEAR(r.finalPpm, -ppm, 60.0);
        }
    }
}

// A loopback source that pauses: each resumption starts afresh (no gap after
// its first packet, the ones after it take no silence), the rate decided
// before the pause is kept, and nothing is decided while the source is idle
// (a pause of 10 s outlasts a window of the controller).
TEST(TargetPacerTest, APausedSourceStartsAfreshAndKeepsItsRate) {
    struct Case {
        double ppm;
        bool adjust;
        double pauseSeconds;
    };
    for (const Case c : {Case{1000.0, true, 2.0}, Case{-100.0, true, 2.0}, Case{-1000.0, true, 10.0},
                         Case{0.0, false, 2.0}}) {
        for (const float bufferMs : {10.0f, 30.0f}) {
            EngineSetup setup{bufferMs, Kind::Windows, c.adjust};
            setup.loopback = true;
            const Recorder r = Drive(setup, c.ppm, 155.0, c.pauseSeconds);
            SCOPED_TRACE(testing::Message() << c.ppm << " ppm, " << bufferMs << " ms");
            EXPECT_EQ(r.gaps, 0u);
            EXPECT_EQ(r.leftOut, 0u);
            EXPECT_EQ(r.changesWhileIdle, 0u);
            ASSERT_EQ(r.ratesAtResumption.size(), 5u);
            for (size_t i = 2; i < r.ratesAtResumption.size() && c.adjust; ++i) {
                EXPECT_NEAR((r.ratesAtResumption[i] - 1.0) * 1e6, -c.ppm, 100.0) << "resumption " << i;
            }
        }
    }
}

// Each packet's wait to be heard on one target, from `from` on.
struct Waits : model_engine::TargetObserver {
    const model_engine::Target* target = nullptr;
    double from = 20.0;
    std::vector<double> ms;
    void Delivered(double now, uint32_t /*silence*/, uint32_t frames, uint32_t /*leftOut*/) override {
        if (now > from && frames > 0) {
            ms.push_back(target->model.WaitToBeHeard(frames) * 1000.0);
        }
    }
};

// How far apart two devices of one setting, the second `ppm` faster, play
// the same packets over 40 s, and how far the second's rate moved across a
// hold-up of the redirect thread at 25 s (measured from a quarter of a
// second after it), if `heldUp`.
struct Apart {
    double mostMs = 0.0;
    int32_t ppmMoved = 0;
};

Apart TwoTargetsApart(double rate, float bufferMs, double ppm, bool heldUp) {
    Engine engine(EngineSetup{bufferMs, Kind::Windows, ppm != 0.0, rate}, {0.0, ppm});
    std::vector<Waits> waits(2);
    for (size_t i = 0; i < waits.size(); ++i) {
        waits[i].target = &engine.targets[i];
        engine.targets[i].observer = &waits[i];
    }
    int32_t ppmBefore = 0;
    for (double now = 0.0; now < 40.0; now += 0.0015) {
        if (heldUp && now >= 25.0 && waits[0].from < 25.0) {
            ppmBefore = engine.targets[1].pacer.RatePpm();
            now += 0.045;
            for (Waits& w : waits) {
                w.from = now + 0.25;
                w.ms.clear();
            }
        }
        engine.capture.Advance(now);
        engine.Pass(now);
    }
    EXPECT_EQ(waits[0].ms.size(), waits[1].ms.size());
    EXPECT_GT(waits[0].ms.size(), 1000u);
    Apart apart;
    for (size_t k = 0; k < std::min(waits[0].ms.size(), waits[1].ms.size()); ++k) {
        apart.mostMs = std::max(apart.mostMs, std::fabs(waits[0].ms[k] - waits[1].ms[k]));
    }
    apart.ppmMoved = heldUp ? engine.targets[1].pacer.RatePpm() - ppmBefore : 0;
    return apart;
}

// Two devices of one setting, their periods at different phases, play each
// packet within 0.8 ms of each other: on one clock with the frame count alone,
// and 100 ppm apart once rate adjustment has found the difference. So they do
// a quarter of a second after the redirect thread was held up 45 ms, longer
// than the cushion lasts: both devices run dry and start again at passes of
// their own, and the packets held up meanwhile come at once. The controller,
// told nothing of that, keeps the rate it had.
TEST(TargetPacerTest, TargetsOfOneSettingPlayAPacketTogether) {
    for (const double rate : {44100.0, 48000.0, 96000.0}) {
        for (const float bufferMs : {1.0f, 10.0f, 30.0f, 60.0f}) {
            for (const double ppm : {0.0, 100.0}) {
                for (const bool heldUp : {false, true}) {
                    SCOPED_TRACE(testing::Message() << rate << " Hz, " << bufferMs << " ms, " << ppm << " ppm"
                                                    << (heldUp ? ", held up" : ""));
                    const Apart apart = TwoTargetsApart(rate, bufferMs, ppm, heldUp);
                    EXPECT_LT(apart.mostMs, 0.8);
                    EXPECT_LE(std::abs(apart.ppmMoved), 20);
                }
            }
        }
    }
}

// Windows keeps the queue at a rate change: nothing is queued twice and the
// queue is held closely. Wine 10 throws it away: the first change shows it,
// and from the next one on what was thrown away is queued again.
TEST(TargetPacerTest, WhatARateChangeThrowsAwayIsQueuedAgainOnlyOnceSeen) {
    EngineSetup windows{30.0f, Kind::Windows, true};
    const Recorder kept = Drive(windows, 1000.0, 60.0);
    ASSERT_GE(kept.changes.size(), 2u);
    EXPECT_EQ(kept.changes[0].outcome, RateOutcome::Seamless);
    for (size_t i = 1; i < kept.changes.size(); ++i) {
        EXPECT_EQ(kept.changes[i].outcome, RateOutcome::Kept) << "change " << i;
        EXPECT_EQ(kept.changes[i].queuedAgain, 0u) << "change " << i;
    }

    EngineSetup wine10{30.0f, Kind::Wine10, true};
    const Recorder dropped = Drive(wine10, 1000.0, 60.0);
    ASSERT_GE(dropped.changes.size(), 2u);
    EXPECT_EQ(dropped.changes[0].outcome, RateOutcome::DroppedFirst);
    EXPECT_EQ(dropped.changes[0].queuedAgain, 0u) << "nothing was kept before it was seen";
    for (size_t i = 1; i < dropped.changes.size(); ++i) {
        EXPECT_EQ(dropped.changes[i].outcome, RateOutcome::Dropped) << "change " << i;
        EXPECT_GT(dropped.changes[i].Lost(), 0u) << "change " << i;
        EXPECT_EQ(dropped.changes[i].queuedAgain, dropped.changes[i].Lost()) << "change " << i;
    }
}

// Where a rate change throws the queue away, a packet's writes and a change
// never overlap, or what it threw away would be queued again after newer
// frames: the change waits for the writes, a packet for the change. A stream
// that keeps its queue never holds either back.
TEST(TargetPacerTest, APacketAndARateChangeOverlapOnlyWhereTheQueueIsKept) {
    const auto read = [](StreamReading&) { return true; };
    for (const Kind kind : {Kind::Windows, Kind::Wine10}) {
        const bool held = kind == Kind::Wine10;
        Engine engine(EngineSetup{30.0f, kind, true}, {1000.0});
        for (double now = 0.0; now < 5.0; now += 0.0015) {
            engine.capture.Advance(now);
            engine.Pass(now);
        }
        TargetPacer& pacer = engine.targets[0].pacer;
        RateMailbox& mailbox = pacer.Mailbox();
        ASSERT_TRUE(mailbox.At(RateMailbox::Stage::Free) || mailbox.At(RateMailbox::Stage::Asked));
        mailbox.HandOn(RateMailbox::Stage::Asked);
        ASSERT_TRUE(pacer.BeginPacket());
        EXPECT_EQ(mailbox.Apply(read, [](double) { return 0; }), !held) << "a change during a packet's writes";
        pacer.EndPacket();
        mailbox.HandOn(RateMailbox::Stage::Asked);
        bool packetWent = false;
        EXPECT_TRUE(mailbox.Apply(read, [&](double) {
            packetWent = pacer.BeginPacket();
            pacer.EndPacket();
            return 0;
        })) << "once the writes are done";
        EXPECT_EQ(packetWent, !held) << "a packet while a change is made";
        EXPECT_TRUE(pacer.BeginPacket()) << "once the change is made";
        pacer.EndPacket();
    }
}

// What the stream did not take is not counted as queued: a priming it
// refused leaves the target shorter (so an empty queue reads dry sooner),
// and a first packet it refused leaves the start to come, without counting
// the time since the engine's clock began as time without audio.
TEST(TargetPacerTest, OnlyWhatTheStreamTookCounts) {
    struct Case {
        const char* what;
        uint32_t primingTaken;
        uint32_t framesTaken;
        double secondAt;  // seconds; the first packet at 100 s
        uint32_t secondSilence;
        uint32_t dryRuns;
        bool started;
    };
    const Case cases[] = {
        {"a start the stream took", 720, 480, 100.025, 0, 0, true},
        {"a priming it refused", 0, 480, 100.025, 0, 1, true},
        {"a first packet it refused", 0, 0, 100.010, 720, 0, false},
    };
    PacerSettings settings;
    settings.sampleRate = 48000.0;
    settings.cushionFrames = 720;
    settings.packetFrames = 480;
    settings.bufferFrames = 2640;
    for (const Case& c : cases) {
        TargetPacer pacer(settings);
        const PacketPlan first = pacer.Plan(StreamReading{}, 480, false, 100.0);
        EXPECT_EQ(first.silence, 720u) << c.what;
        pacer.Wrote(c.primingTaken, c.framesTaken, 100.0);
        EXPECT_EQ(pacer.Started(), c.started) << c.what;
        const PacketPlan second = pacer.Plan(StreamReading{}, 480, false, c.secondAt);
        EXPECT_EQ(second.silence, c.secondSilence) << c.what;
        EXPECT_EQ(pacer.DryRuns(), c.dryRuns) << c.what;
    }
}

}  // namespace
