// Simulates one hour of the redirect thread's delivery against the stream
// model (bench/stream_model.h: Windows' shared-mode streams, and Wine 8's and
// Wine 10's as the stand-ins they are), with the engine's own rules (cushion,
// buffer sizes, dry judgement, frame count, top-up, pass waits, the clock
// reading and the replay after a rate change) and its rate controller, to
// see how much each target loses, how often it starves and how steady its
// queue stays.
//
// Model (also printed with the results):
// - The source's clock is the reference. Its capture stream delivers one
//   packet of a device period (the rate over 100 frames, or 448 frames at
//   44.1 kHz in one part of the grid) every period; packet k becomes
//   readable at k periods. Its buffer holds the source buffer duration in
//   whole packets; packets beyond it are lost.
// - The redirect thread makes a pass, then waits: the 1 ms timer and Sleep(1)
//   cost 1 ms plus a 0..1 ms overshoot, Sleep(2) 2 ms plus 0..1 ms, drawn from
//   a fixed-seed generator. Each pass reads at most the packet limit; the
//   first 5 packets are dropped (warm-up), each target's queue brought up to
//   the cushion and a packet with silence at each of them.
// - Each target's buffer is the target buffer duration; it is primed with
//   half of it and starts 10 ms after the source. It is handled as the
//   engine handles it: topped up to the cushion before its first packet and
//   when the dry judgement and the dry watch say so, its clock read at every
//   packet and turned into frames at the rate last set, its rate set when
//   the controller decides one, and what a rate change threw away queued
//   again where the clock showed the stream started again.
// - Its device runs at +ppm against the source's clock (see the stream
//   model for what each kind does with it).
// - Late capture: in some runs the capture holds its packets back for a
//   while every 10 s (the source's process or a sound server starved of the
//   processor), then hands them all over at once.
// - A paused source: in some runs nothing plays on the endpoint the source
//   captures by loopback for 2 s every 30 s, and a Windows loopback capture
//   delivers no packets then.
// - Delivery: Q = queued frames as the stream reports them, N =
//   TargetFrameCount; the packet's frames beyond N are dropped.
// - Statistics cover the time after the first two minutes (the rate
//   controller settling) unless said otherwise: gaps, the queue just before
//   each delivery against the cushion, and the queue over time (what is
//   heard).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/engine/frame_policy.h"
#include "audio/engine/rate_controller.h"
#include "stream_model.h"

namespace {

using stream_model::CaptureStreamModel;
using stream_model::Kind;
using stream_model::RenderStreamModel;

constexpr double kTargetStartDelay = 0.010;
constexpr double kRunSeconds = 3600.0;
constexpr double kSteadyFrom = 120.0;

constexpr double kStallEvery = 10.0;
constexpr double kLateCaptureSeconds = 0.020;
constexpr double kStallAt = 0.0055;  // into each kStallEvery, between two packets

constexpr double kPauseEvery = 30.0;
constexpr double kPauseSeconds = 2.0;
constexpr double kPauseAt = 20.0;  // into each kPauseEvery

struct Scenario {
    float bufferMs;
    Kind kind;
    bool rateAdjustment;
    double deviceRate = 48000.0;
    double stallSeconds = 0.0;  // packets held back every kStallEvery
    bool pauses = false;        // the source's endpoint idle kPauseSeconds every kPauseEvery
    uint32_t periodFrames = 0;  // the devices' period where it is not the rate over 100

    // A device period, which is also a capture packet.
    uint32_t PacketFrames() const {
        return periodFrames > 0 ? periodFrames : stream_model::PeriodFramesAt(deviceRate, 0.010);
    }
    // The period as GetDevicePeriod gives it, in whole 100 ns units.
    int64_t DevicePeriod() const { return static_cast<int64_t>(PacketFrames() * 1e7 / deviceRate); }
    // What the engine takes a packet to be: the device period in frames.
    uint32_t EnginePacketFrames() const { return PeriodFrames(DevicePeriod(), static_cast<uint32_t>(deviceRate)); }
};

// One target as the engine keeps it, with what the simulation measures.
struct TargetState : stream_model::RenderListener {
    TargetState(const stream_model::RenderConfig& config, double ppmValue) : model(config), ppm(ppmValue) {}

    RenderStreamModel model;
    double ppm = 0.0;
    double rate = 0.0;  // nominal, frames per second
    bool periodic = true;

    // What the engine keeps.
    uint32_t bufferFrames = 0;
    uint32_t cushion = 0;
    bool adjustable = false;
    bool delivering = false;
    DryJudge dryJudge;
    DryWatch dryWatch;
    uint64_t written = 0;      // every frame handed to the target
    double lastWrite = 0.0;    // when a packet was last written, and the queue then
    uint32_t queuedAfterWrite = 0;
    double clockToFrames = 0.0;
    uint64_t lastPosition = 0;
    double framesPlayed = 0.0;
    uint32_t historyHeld = 0;  // what a replay could queue again
    RateController controller{0.0, 0.0};

    // What the simulation measures.
    bool dry = false;       // continuous: ran dry since the last delivery
    bool listening = true;  // gaps count: the source plays (after the first packet of a resumption)
    uint64_t droppedFrames = 0;
    uint64_t steadyDropped = 0;
    uint64_t startGaps = 0;
    uint64_t steadyGaps = 0;
    double silenceFrames = 0.0;
    double minBefore = 1e30;  // queue just before a delivery, steady window
    double maxBefore = -1e30;
    double minQueued = 1e30;  // queue over time, steady window
    double maxQueued = 0.0;
    double queuedArea = 0.0;  // frame-seconds over the steady window
    // The queue's level: its average over each second of the steady
    // window, against the controller's set point.
    double setPoint = 0.0;
    double levelMark = kSteadyFrom;
    double levelMarkArea = 0.0;
    double minLevel = 1e30;
    double maxLevel = -1e30;
    double minRate = 1e30;
    double maxRate = 0.0;
    int rateChanges = 0;
    int replays = 0;
    double clockCountError = 0.0;  // the engine's frames played less the clock's
    double clockAstrayAt = -1.0;
    // A paused source: what follows each resumption, steady window.
    int resumptions = 0;
    int resumptionsWithSilence = 0;
    bool silentSinceResumption = false;  // a steady resumption's silence is being counted
    double silenceSinceResumption = 0.0;
    double heardSilence = 0.0;
    double maxResumptionSilence = 0.0;
    double minRateError = 1e30;  // the controller's rate against the clocks' true difference, ppm
    double maxRateError = -1e30;
    double minResumeError = 1e30;
    double maxResumeError = -1e30;
    int decisionsInPauses = 0;

    void Queue(double begin, double end, double from, double to) override;
    void Underrun(double at, double frames) override;
    void Level(double at, double queued) override;
};

bool Steady(double now) {
    return now >= kSteadyFrom;
}

void TargetState::Level(double at, double queued) {
    if (Steady(at)) {
        minQueued = std::min(minQueued, queued);
        maxQueued = std::max(maxQueued, queued);
    }
}

void NoteSecondLevel(TargetState& t, double now) {
    if (now < t.levelMark + 1.0) {
        return;
    }
    const double level = (t.queuedArea - t.levelMarkArea) / (now - t.levelMark) - t.setPoint;
    t.minLevel = std::min(t.minLevel, level);
    t.maxLevel = std::max(t.maxLevel, level);
    t.levelMark = now;
    t.levelMarkArea = t.queuedArea;
}

// The area under a queue going linearly from `from` to `to` over
// [begin, end], clipped to the steady window.
void TargetState::Queue(double begin, double end, double from, double to) {
    if (end <= kSteadyFrom || end <= begin) {
        return;
    }
    if (begin < kSteadyFrom) {
        from += (to - from) * (kSteadyFrom - begin) / (end - begin);
        begin = kSteadyFrom;
    }
    queuedArea += 0.5 * (from + to) * (end - begin);
}

// Silence heard while the source plays: the device's own, and what the
// engine writes (not the priming ahead of a resumption's first packet, which
// only delays what follows).
void NoteSilenceHeard(TargetState& t, double frames, double now) {
    if (t.listening && t.delivering && Steady(now)) {
        t.heardSilence += frames;
        t.silenceSinceResumption += frames;
    }
}

// A device that takes periods counts every short period; one that drains
// continuously counts a gap once, and plays silence until the next packet.
void TargetState::Underrun(double at, double frames) {
    silenceFrames += frames;
    if (delivering && listening && (periodic || !dry)) {
        (Steady(at) ? steadyGaps : startGaps) += 1;
    }
    NoteSilenceHeard(*this, frames, at);
    dry = true;
}

// How far the engine's count of frames played has strayed from what the
// clock says (where the clock never starts again), and since when by more
// than the buffer: an empty queue is then always judged by the queue alone.
void NoteClockCount(TargetState& t, uint64_t position, double now) {
    if (t.model.kind() == Kind::Wine10) {
        return;
    }
    t.clockCountError = t.framesPlayed - static_cast<double>(position) / stream_model::kClockUnitsPerFrame;
    if (t.clockAstrayAt < 0.0 && std::fabs(t.clockCountError) > t.bufferFrames) {
        t.clockAstrayAt = now;
    }
}

// The engine's reading of the clock: each stretch between two readings
// counted at the rate last set, and a clock that went back taken to have
// started again from zero.
bool FramesPlayed(TargetState& t, double& played, double now) {
    uint64_t position = 0;
    if (stream_model::Failed(t.model.ClockPosition(position))) {
        return false;
    }
    const uint64_t advance = position >= t.lastPosition ? position - t.lastPosition : position;
    t.framesPlayed += static_cast<double>(advance) * t.clockToFrames;
    t.lastPosition = position;
    played = t.framesPlayed;
    NoteClockCount(t, position, now);
    return true;
}

bool ReadClockFrequency(TargetState& t, double streamHz) {
    uint64_t frequency = 0;
    if (stream_model::Failed(t.model.ClockFrequency(frequency)) || frequency == 0) {
        return false;
    }
    t.clockToFrames = streamHz / static_cast<double>(frequency);
    return true;
}

// A write the engine makes: what the stream took is counted as written and
// kept for a replay.
bool WriteFrames(TargetState& t, uint32_t frames) {
    if (frames == 0 || stream_model::Failed(t.model.Write(frames))) {
        return false;
    }
    t.written += frames;
    if (t.adjustable) {
        t.historyHeld = std::min(t.bufferFrames, t.historyHeld + frames);
    }
    return true;
}

uint32_t Padding(const TargetState& t) {
    uint32_t queued = 0;
    t.model.Padding(queued);
    return queued;
}

double Ms(double frames, double rate) {
    return frames / (rate / 1000.0);
}

// The controller's rate against the one that cancels the clocks' true
// difference, in ppm.
double RateError(const TargetState& t) {
    return (t.controller.Rate() * (1.0 + t.ppm * 1e-6) - 1.0) * 1e6;
}

void NoteBeforeDelivery(TargetState& t, uint32_t queued, double now) {
    if (!t.delivering || !Steady(now)) {
        return;
    }
    t.minBefore = std::min(t.minBefore, static_cast<double>(queued));
    t.maxBefore = std::max(t.maxBefore, static_cast<double>(queued));
    t.minRate = std::min(t.minRate, t.controller.Rate());
    t.maxRate = std::max(t.maxRate, t.controller.Rate());
    if (t.adjustable && t.listening) {
        t.minRateError = std::min(t.minRateError, RateError(t));
        t.maxRateError = std::max(t.maxRateError, RateError(t));
    }
}

// Silence brought in ahead of the packet, as the engine's
// TopUpBeforeDelivery decides it.
uint32_t SilenceBefore(const Scenario& scenario, TargetState& t, uint32_t queued, double now) {
    if (!t.delivering) {
        t.delivering = true;
        return TopUpFrames(queued, t.cushion, t.bufferFrames);
    }
    const double elapsed = (now - t.lastWrite) * t.rate;
    QueueReading reading{queued, t.queuedAfterWrite, elapsed, false, t.written, 0.0};
    reading.clocked = FramesPlayed(t, reading.framesPlayed, now);
    const bool dry = t.dryJudge.RanDry(reading, t.bufferFrames, scenario.EnginePacketFrames());
    const PacketArrival arrival{now, elapsed, t.queuedAfterWrite, queued, dry};
    const DryStep step =
        t.dryWatch.Before(arrival, DryLevels{t.rate, t.cushion, scenario.EnginePacketFrames(), t.bufferFrames});
    t.controller.Adjusted(step.notTheClocks);
    return step.silence;
}

void Deliver(const Scenario& scenario, TargetState& t, uint32_t packetFrames, double now) {
    uint32_t queued = Padding(t);
    NoteBeforeDelivery(t, queued, now);
    const uint32_t silence = SilenceBefore(scenario, t, queued, now);
    queued += WriteFrames(t, silence) ? silence : 0u;
    NoteSilenceHeard(t, silence, now);
    const uint32_t frames = TargetFrameCount(packetFrames, queued, t.bufferFrames, t.cushion);
    t.controller.Adjusted(-static_cast<double>(packetFrames - frames));
    t.droppedFrames += packetFrames - frames;
    t.steadyDropped += Steady(now) ? packetFrames - frames : 0u;
    t.dry = false;
    if (WriteFrames(t, frames)) {
        t.queuedAfterWrite = queued + frames;
        t.lastWrite = now;
    }
    t.Level(now, t.model.Held());
}

void HoldDuringWarmup(TargetState& t, uint32_t packetFrames) {
    WriteFrames(t, WarmupTopUpFrames(Padding(t), t.cushion, packetFrames, t.bufferFrames));
}

// What the engine does when a stream whose clock went back at a rate change
// (it started again, its queue thrown away) read less queued than before:
// the newest frames written go in again, and the count of frames written is
// taken afresh from the clock and the queue.
void QueueAgainAfterRateChange(TargetState& t, uint32_t queuedBefore, double now) {
    uint32_t queued = Padding(t);
    if (queued >= queuedBefore) {
        return;
    }
    const uint32_t frames = std::min({queuedBefore - queued, t.historyHeld, t.bufferFrames - queued});
    if (frames > 0 && !stream_model::Failed(t.model.Write(frames))) {
        queued += frames;
        ++t.replays;
    }
    double played = 0.0;
    if (FramesPlayed(t, played, now)) {
        t.written = static_cast<uint64_t>(played) + queued;
    }
    t.queuedAfterWrite = queued;
    t.lastWrite = now;
}

// The engine's ChangeTargetRate: the clock read just before and just after
// the change, at the new rate; a stream that did not start again is held
// closely from then on.
void ChangeRate(TargetState& t, double hz, double now) {
    double played = 0.0;
    const bool clocked = FramesPlayed(t, played, now);
    const uint64_t positionBefore = t.lastPosition;
    const uint32_t queuedBefore = Padding(t);
    if (stream_model::Failed(t.model.SetSampleRate(static_cast<float>(hz)))) {
        t.adjustable = false;
        return;
    }
    if (!clocked || !ReadClockFrequency(t, hz) || !FramesPlayed(t, played, now)) {
        return;
    }
    const bool startedAgain = t.lastPosition < positionBefore;
    if (startedAgain) {
        QueueAgainAfterRateChange(t, queuedBefore, now);
    }
    t.controller.ChangesAreSeamless(!startedAgain);
}

// The engine reads every adjusted target's queue before and after each
// pass's deliveries.
void Steer(TargetState& t, double now, bool sourceIdle) {
    if (!t.adjustable || !t.delivering || !t.controller.Update(Padding(t), now)) {
        return;
    }
    ++t.rateChanges;
    t.decisionsInPauses += sourceIdle && Steady(now) ? 1 : 0;
    ChangeRate(t, t.rate * t.controller.Rate(), now);
}

double WaitSeconds(PassWait wait, std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    return (wait == PassWait::Sleep2Ms ? 0.002 : 0.001) + 0.001 * unit(random);
}

struct RunResult {
    std::vector<TargetState> targets;
    uint64_t packets = 0;
    uint64_t captureOverflows = 0;
    double seconds = 0.0;  // the run's own time on this machine
};

uint32_t FramesOf(double rate, int64_t duration) {
    return static_cast<uint32_t>(rate * static_cast<double>(duration) / 1e7);
}

// A target opened as the engine opens it: primed with half its buffer, its
// clock read, its rate adjustable where the stream offers that.
TargetState NewTarget(const Scenario& scenario, double ppm, double phase) {
    stream_model::RenderConfig config;
    config.kind = scenario.kind;
    config.deviceRate = config.streamRate = scenario.deviceRate;
    config.ppm = ppm;
    config.periodFrames = scenario.PacketFrames();
    config.bufferFrames = FramesOf(scenario.deviceRate, TargetBufferDuration(scenario.bufferMs, scenario.DevicePeriod()));
    // A device without periods has no phase to them.
    config.startAt = kTargetStartDelay + (scenario.kind == Kind::Continuous ? 0.0 : phase);
    TargetState t(config, ppm);
    t.rate = scenario.deviceRate;
    t.periodic = scenario.kind != Kind::Continuous;
    t.bufferFrames = config.bufferFrames;
    t.cushion = CushionFrames(scenario.bufferMs, static_cast<uint32_t>(t.rate), scenario.DevicePeriod());
    t.setPoint = QueueSetPoint(t.cushion, scenario.EnginePacketFrames());
    t.adjustable = scenario.rateAdjustment && t.model.RateAdjustable();
    t.controller = RateController(t.setPoint, t.rate);
    WriteFrames(t, StartPrimingFrames(t.bufferFrames));
    ReadClockFrequency(t, t.rate);
    return t;
}

// The time whose packets the capture has handed over by `now`.
double Readable(const Scenario& scenario, double now) {
    const double into = std::fmod(now, kStallEvery) - kStallAt;
    return into >= 0.0 && into < scenario.stallSeconds ? now - into : now;
}

// A paused source: whether its endpoint plays at `now`, and when that
// changes next.
bool SourcePlays(const Scenario& scenario, double now) {
    const double into = std::fmod(now, kPauseEvery);
    return !scenario.pauses || into < kPauseAt || into >= kPauseAt + kPauseSeconds;
}

double NextSourceChange(double now) {
    const double cycle = std::floor(now / kPauseEvery) * kPauseEvery;
    const double into = now - cycle;
    if (into < kPauseAt) {
        return cycle + kPauseAt;
    }
    return into < kPauseAt + kPauseSeconds ? cycle + kPauseAt + kPauseSeconds : cycle + kPauseEvery + kPauseAt;
}

CaptureStreamModel NewCapture(const Scenario& scenario) {
    stream_model::CaptureConfig config;
    config.kind = scenario.kind;
    // A paused source is captured by loopback; the others from a capture
    // device, which never pauses.
    config.loopback = scenario.pauses;
    config.rate = scenario.deviceRate;
    config.periodFrames = scenario.PacketFrames();
    config.bufferFrames = FramesOf(scenario.deviceRate, SourceBufferDuration(scenario.bufferMs, scenario.DevicePeriod()));
    return CaptureStreamModel(config);
}

struct PassState {
    int warmup = kWarmupPackets;
    bool sourceIdle = false;
    double nextSourceChange = kPauseAt;  // a paused source's next fall or return
};

// The capture's engine up to `readable`, its endpoint falling idle and
// playing again on the way; says whether it is idle now.
bool AdvanceSource(const Scenario& scenario, CaptureStreamModel& capture, PassState& pass, double readable) {
    for (; scenario.pauses && pass.nextSourceChange <= readable;
         pass.nextSourceChange = NextSourceChange(pass.nextSourceChange)) {
        capture.Advance(pass.nextSourceChange);
        capture.SetPlaying(SourcePlays(scenario, pass.nextSourceChange) ? stream_model::Playing::Sound
                                                                        : stream_model::Playing::Nothing);
    }
    capture.Advance(readable);
    return !SourcePlays(scenario, readable);
}

// The source fell silent: no target hears anything until the first packet
// after it plays again.
void PauseBegins(std::vector<TargetState>& targets) {
    for (TargetState& t : targets) {
        t.listening = false;
    }
}

void NoteResumption(TargetState& t, double now) {
    t.silentSinceResumption = Steady(now);
    t.silenceSinceResumption = 0.0;
    if (!Steady(now)) {
        return;
    }
    ++t.resumptions;
    if (t.adjustable) {
        t.minResumeError = std::min(t.minResumeError, RateError(t));
        t.maxResumeError = std::max(t.maxResumeError, RateError(t));
    }
}

// The silence heard after a resumption is booked when the next one comes
// (or the run ends): the pause between them is not heard.
void CloseResumption(TargetState& t) {
    if (t.silentSinceResumption && t.silenceSinceResumption > 0.0) {
        ++t.resumptionsWithSilence;
        t.maxResumptionSilence = std::max(t.maxResumptionSilence, t.silenceSinceResumption);
    }
    t.silentSinceResumption = false;
    t.silenceSinceResumption = 0.0;
}

// The first packet after a pause (the capture flags it as not following on
// from the one before) starts what the targets are heard to do again.
void DeliverToAll(const Scenario& scenario, std::vector<TargetState>& targets, const stream_model::Packet& packet,
                  double now) {
    const bool resuming = scenario.pauses && (packet.flags & stream_model::kDataDiscontinuity) != 0;
    for (TargetState& t : targets) {
        if (resuming) {
            CloseResumption(t);
        }
        Deliver(scenario, t, packet.frames, now);
        if (resuming) {
            t.listening = true;
            NoteResumption(t, now);
        }
    }
}

// One pass's reading of the capture: at most the packet limit, each
// delivered to every target (or held in the warm-up).
void ReadPackets(const Scenario& scenario, CaptureStreamModel& capture, RunResult& result, PassState& pass,
                 double now) {
    const uint32_t packetLimit = PacketLimitFor(scenario.bufferMs);
    uint32_t size = 0;
    for (uint32_t count = 0; count < packetLimit && !stream_model::Failed(capture.NextPacketSize(size)) && size > 0;
         ++count) {
        stream_model::Packet packet;
        capture.GetBuffer(packet);
        ++result.packets;
        if (pass.warmup > 0) {
            --pass.warmup;
            for (TargetState& t : result.targets) {
                HoldDuringWarmup(t, packet.frames);
            }
        } else {
            DeliverToAll(scenario, result.targets, packet, now);
        }
        capture.ReleaseBuffer(packet.frames);
    }
}

RunResult Run(const Scenario& scenario, const std::vector<double>& ppms) {
    const auto started = std::chrono::steady_clock::now();
    RunResult result;
    for (size_t i = 0; i < ppms.size(); ++i) {
        result.targets.push_back(NewTarget(scenario, ppms[i], 0.0013 + 0.0017 * static_cast<double>(i)));
    }
    CaptureStreamModel capture = NewCapture(scenario);
    const PassWait wait = PassWaitFor(scenario.bufferMs);
    std::mt19937 random(20240601u);
    PassState pass;
    for (double now = 0.0; now < kRunSeconds; now += WaitSeconds(wait, random)) {
        for (TargetState& t : result.targets) {
            t.model.Advance(now, t);
            NoteSecondLevel(t, now);
            Steer(t, now, pass.sourceIdle);
        }
        const bool idle = AdvanceSource(scenario, capture, pass, Readable(scenario, now));
        if (idle && !pass.sourceIdle) {
            PauseBegins(result.targets);
        }
        pass.sourceIdle = idle;
        ReadPackets(scenario, capture, result, pass, now);
        for (TargetState& t : result.targets) {
            Steer(t, now, pass.sourceIdle);
        }
    }
    for (TargetState& t : result.targets) {
        CloseResumption(t);
    }
    result.captureOverflows = capture.lost();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

void Print(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

void ReportHeading(std::string& out, const Scenario& scenario, const RunResult& r) {
    const TargetState& first = r.targets.front();
    Print(out, "\nbufferMs %.0f, %.1f kHz, %u-frame periods, %s stream, rate adjustment %s: target buffer %u frames, "
               "cushion %u frames (%.1f ms)",
          static_cast<double>(scenario.bufferMs), scenario.deviceRate / 1000.0, scenario.PacketFrames(),
          stream_model::KindName(scenario.kind), scenario.rateAdjustment ? "on" : "off", first.bufferFrames,
          first.cushion, Ms(first.cushion, first.rate));
    if (scenario.stallSeconds > 0.0) {
        Print(out, "; the capture late by %.0f ms every %.0f s", scenario.stallSeconds * 1000.0, kStallEvery);
    }
    if (scenario.pauses) {
        Print(out, "; the source idle %.0f s every %.0f s", kPauseSeconds, kPauseEvery);
    }
    Print(out, "\n  packets read %" PRIu64 ", capture overflows %" PRIu64 " packets\n", r.packets, r.captureOverflows);
}

void Report(std::string& out, const Scenario& scenario, const RunResult& r) {
    ReportHeading(out, scenario, r);
    Print(out, "  %6s | %9s | %6s %6s | %6s | %10s | %15s | %23s | %15s | %17s | %7s\n", "ppm", "dropped", "gaps",
          "gaps", "top-up", "silence", "before packet", "queue (heard)", "level", "rate", "rate");
    Print(out, "  %6s | %9s | %6s %6s | %6s | %10s | %15s | %23s | %15s | %17s | %7s\n", "", "frames", "start", "after",
          "", "ms", "ms from cushion", "min / mean / max ms", "ms from set pt", "min / max ppm", "changes");
    const double steadySeconds = kRunSeconds - kSteadyFrom;
    for (const TargetState& t : r.targets) {
        const double rate = t.rate;
        Print(out, "  %+6.0f | %9" PRIu64 " | %6" PRIu64 " %6" PRIu64 " | %6d | %10.1f | %+6.2f .. %+6.2f | %6.2f / %6.2f / %6.2f |"
                   " %+6.2f .. %+5.2f | %+7.0f / %+7.0f | %7d\n",
              t.ppm, t.droppedFrames, t.startGaps, t.steadyGaps, t.dryWatch.topUps, Ms(t.silenceFrames, rate),
              Ms(t.minBefore - t.cushion, rate), Ms(t.maxBefore - t.cushion, rate), Ms(t.minQueued, rate),
              Ms(t.queuedArea / steadySeconds, rate), Ms(t.maxQueued, rate), Ms(t.minLevel, rate),
              Ms(t.maxLevel, rate), (t.minRate - 1.0) * 1e6, (t.maxRate - 1.0) * 1e6, t.rateChanges);
    }
    if (scenario.kind == Kind::Wine10 && scenario.rateAdjustment) {
        Print(out, "  queued again after a rate change:");
        for (const TargetState& t : r.targets) {
            Print(out, " %d", t.replays);
        }
        Print(out, " times\n");
    } else if (scenario.rateAdjustment) {
        Print(out, "  the engine's count of frames played less the clock's at the end (ms), and since when it is "
                   "off by more than the buffer (s):");
        for (const TargetState& t : r.targets) {
            Print(out, " %+.0f (%.0f)", Ms(t.clockCountError, t.rate), t.clockAstrayAt);
        }
        Print(out, "\n");
    }
}

const std::vector<double> kPpms = {-1000.0, -100.0, 0.0, 100.0, 1000.0};

// The tables the simulation has always printed (48 kHz), each kind of
// stream as the engine meets it, and the 44.1 kHz stand-ins.
void RunTables(std::string& out) {
    for (float bufferMs : {30.0f, 20.0f, 10.0f}) {
        for (Kind kind : {Kind::Windows, Kind::Wine8, Kind::Wine10, Kind::Continuous}) {
            for (bool adjust : {false, true}) {
                // Wine 8 offers no rate adjustment, and Wine 10's stream is
                // only of interest with it.
                if ((kind == Kind::Wine8 && adjust) || (kind == Kind::Wine10 && !adjust)) {
                    continue;
                }
                const Scenario scenario{bufferMs, kind, adjust};
                Report(out, scenario, Run(scenario, kPpms));
            }
        }
    }
    for (float bufferMs : {30.0f, 20.0f, 10.0f}) {
        for (bool adjust : {false, true}) {
            Scenario scenario{bufferMs, Kind::Windows, adjust};
            scenario.stallSeconds = kLateCaptureSeconds;
            Report(out, scenario, Run(scenario, kPpms));
        }
    }
    for (float bufferMs : {60.0f, 30.0f, 10.0f}) {
        for (Kind kind : {Kind::Wine8, Kind::Wine10}) {
            Scenario scenario{bufferMs, kind, kind == Kind::Wine10};
            scenario.deviceRate = 44100.0;
            Report(out, scenario, Run(scenario, kPpms));
        }
    }
}

struct GridRow {
    uint64_t gaps[5] = {};
    uint64_t trimmed[5] = {};
    double minBefore = 1e30;
    double maxBefore = -1e30;
    double minLevel = 1e30;
    double maxLevel = -1e30;
    int rateChanges = 0;
};

GridRow SummariseRow(const RunResult& r) {
    GridRow row;
    for (size_t i = 0; i < r.targets.size() && i < 5; ++i) {
        const TargetState& t = r.targets[i];
        row.gaps[i] = t.steadyGaps;
        row.trimmed[i] = t.steadyDropped;
        row.minBefore = std::min(row.minBefore, Ms(t.minBefore - t.cushion, t.rate));
        row.maxBefore = std::max(row.maxBefore, Ms(t.maxBefore - t.cushion, t.rate));
        row.minLevel = std::min(row.minLevel, Ms(t.minLevel, t.rate));
        row.maxLevel = std::max(row.maxLevel, Ms(t.maxLevel, t.rate));
        row.rateChanges += t.rateChanges;
    }
    return row;
}

void PrintGridRow(std::string& out, float bufferMs, const GridRow& row) {
    Print(out, "  grid %5.0f ms |", static_cast<double>(bufferMs));
    for (size_t i = 0; i < 5; ++i) {
        Print(out, " %5" PRIu64 " / %-7" PRIu64 "|", row.gaps[i], row.trimmed[i]);
    }
    Print(out, " %+6.2f .. %+6.2f | %+6.2f .. %+6.2f | %5d\n", row.minBefore, row.maxBefore, row.minLevel,
          row.maxLevel, row.rateChanges);
}

struct Device {
    double rate;
    uint32_t periodFrames;  // 0: the rate over 100
};

// The Windows stream over the rates and settings a user may have, the
// targets' clocks off by up to 1000 ppm, and once more at 44.1 kHz with the
// 448-frame period the documentation gives as an example there: a compact
// table per device and mode, then each run in full.
void RunGrid(std::string& out) {
    std::string details;
    double seconds = 0.0;
    int runs = 0;
    for (const Device& device : {Device{44100.0, 0}, Device{48000.0, 0}, Device{96000.0, 0}, Device{44100.0, 448}}) {
        for (bool adjust : {true, false}) {
            Scenario scenario{0.0f, Kind::Windows, adjust, device.rate};
            scenario.periodFrames = device.periodFrames;
            Print(out, "\ngrid %.1f kHz, %u-frame periods, Windows stream, rate adjustment %s: gaps / frames trimmed "
                       "after the first two minutes per target ppm; queue just before a packet against the cushion "
                       "(ms); level against the set point (ms); rate changes\n",
                  device.rate / 1000.0, scenario.PacketFrames(), adjust ? "on" : "off");
            Print(out, "  grid setting | %-14s| %-14s| %-14s| %-14s| %-14s| %-16s | %-16s | %5s\n", "-1000 ppm",
                  "-100 ppm", "0 ppm", "+100 ppm", "+1000 ppm", "before packet", "level", "rate");
            for (float bufferMs : {1.0f, 5.0f, 10.0f, 20.0f, 30.0f, 45.0f, 60.0f}) {
                scenario.bufferMs = bufferMs;
                const RunResult r = Run(scenario, kPpms);
                seconds += r.seconds;
                ++runs;
                PrintGridRow(out, bufferMs, SummariseRow(r));
                Report(details, scenario, r);
            }
        }
    }
    Print(out, "\ngrid: %d simulated hours in %.0f s\n", runs, seconds);
    out += "\nThe grid's runs in full:\n" + details;
}

void ReportPauses(std::string& out, const Scenario& scenario, const RunResult& r) {
    ReportHeading(out, scenario, r);
    Print(out, "  pause %6s | %11s | %17s | %6s | %9s | %17s | %17s | %7s\n", "ppm", "resumptions", "silence after",
          "top-up", "trimmed", "rate at resuming", "rate playing", "decided");
    Print(out, "  pause %6s | %11s | %17s | %6s | %9s | %17s | %17s | %7s\n", "", "/ silent", "total / max ms", "",
          "frames", "ppm off the drift", "ppm off the drift", "idle");
    for (const TargetState& t : r.targets) {
        Print(out, "  pause %+6.0f | %4d / %4d | %8.1f / %6.1f | %6d | %9" PRIu64 " | ", t.ppm, t.resumptions,
              t.resumptionsWithSilence, Ms(t.heardSilence, t.rate), Ms(t.maxResumptionSilence, t.rate),
              t.dryWatch.topUps, t.steadyDropped);
        if (t.adjustable) {
            Print(out, "%+7.0f / %+7.0f | %+7.0f / %+7.0f | %7d\n", t.minResumeError, t.maxResumeError,
                  t.minRateError, t.maxRateError, t.decisionsInPauses);
        } else {
            Print(out, "%17s | %17s | %7s\n", "-", "-", "-");
        }
    }
}

// A loopback source whose endpoint falls idle between songs.
void RunPauses(std::string& out) {
    for (double rate : {48000.0, 44100.0}) {
        for (float bufferMs : {10.0f, 30.0f, 60.0f}) {
            for (bool adjust : {true, false}) {
                Scenario scenario{bufferMs, Kind::Windows, adjust};
                scenario.deviceRate = rate;
                scenario.pauses = true;
                ReportPauses(out, scenario, Run(scenario, kPpms));
            }
        }
    }
}

const char* const kHeader =
    "Delivery simulation, one simulated hour per run, the engine's rules and rate controller as built,\n"
    "against the stream model (bench/stream_model.h).\n"
    "Source: a packet of a device period (the rate over 100 frames unless said) every period of its\n"
    "  clock (the reference).\n"
    "Targets: -1000 / -100 / 0 / +100 / +1000 ppm against the source (+: the target plays faster),\n"
    "  first device period 1.3 / 3.0 / 4.7 / 6.4 / 8.1 ms after their start; topped up to the cushion\n"
    "  before their first packet and after running dry at a packet on time, or at a late one whose\n"
    "  followers did not bring the cushion back; the first 5 packets dropped.\n"
    "Streams: Windows = a pass every period of the target's clock takes a period's worth of frames, a\n"
    "  pass finding fewer is a gap; a rate change keeps the queue and changes how many frames a pass\n"
    "  takes (not when the passes come); the clock counts what is heard at a fixed frequency. Wine 8 =\n"
    "  the same passes, no rate adjustment, its clock counts every period taken. Wine 10 = whole frames\n"
    "  per pass at the rate set (its rate over 100, rounded), a rate change throws the queue away and\n"
    "  starts its clock again. Continuous = drained at the target's rate, the queue running dry is a gap.\n"
    "Late capture: every 10 s the capture holds its packets back for 20 ms, then hands them over at once.\n"
    "Columns (after the first two minutes unless said): dropped = packet frames left out by the frame\n"
    "  count in the whole hour; gaps = underruns (start: the first two minutes); top-up = silence added\n"
    "  after a target ran dry; silence = frames the device lacked in the whole hour;\n"
    "  before packet = the queue just before each delivery against the cushion; queue = over time;\n"
    "  level = the queue's average over each second against the controller's set point (the cushion\n"
    "  plus half a packet);\n"
    "  rate = the controller's rate against nominal, and how often it was changed in the hour.\n"
    "The engine turns the clock's readings into frames at the rate it last set: where the clock counts\n"
    "  at a fixed frequency, that count strays from the clock by the rate's difference.\n";

const char* const kPauseHeader =
    "\nA paused source: the endpoint captured by loopback plays nothing for 2 s every 30 s (from 20 s into\n"
    "each 30 s), and the Windows loopback capture delivers no packets then. After the first two minutes:\n"
    "resumptions, and how many were followed by silence before the next pause; the silence heard after\n"
    "the first packet of a resumption (in all, and the most after one); top-ups; frames trimmed; the\n"
    "controller's rate against the one that cancels the clocks' true difference, at the first packet\n"
    "of each resumption and over the packets while the source plays; rates decided while it was idle.\n";

bool Wants(int argc, char** argv, const char* section) {
    if (argc <= 2) {
        return true;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], section) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

// delivery_sim [out.txt [tables] [grid] [pauses]]: every section unless
// some are named.
int main(int argc, char** argv) {
    std::string out = kHeader;
    if (Wants(argc, argv, "tables")) {
        RunTables(out);
    }
    if (Wants(argc, argv, "grid")) {
        RunGrid(out);
    }
    if (Wants(argc, argv, "pauses")) {
        out += kPauseHeader;
        RunPauses(out);
    }
    std::fputs(out.c_str(), stdout);
    if (argc > 1) {
        std::FILE* file = std::fopen(argv[1], "w");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            return 1;
        }
        std::fputs(out.c_str(), file);
        std::fclose(file);
    }
    return 0;
}
