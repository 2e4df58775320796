// Simulates one hour of the redirect thread's delivery against the stream
// model (bench/stream_model.h: Windows' shared-mode streams, and Wine 8's and
// Wine 10's as the stand-ins they are), each target paced by the engine's own
// TargetPacer (bench/model_engine.h runs the passes as the transfer loop
// does), to see how much each target loses, how often it starves and how
// steady its queue stays.
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
//   half of it and starts 10 ms after the source. Its pacer decides every
//   packet's silence and frames and its rate; a rate it asks for is applied
//   at the end of the pass (the applier thread's part).
// - Its device runs at +ppm against the source's clock (see the stream
//   model for what each kind does with it).
// - Late capture: in some runs the capture holds its packets back for a
//   while every 10 s (the source's process or a sound server starved of the
//   processor), then hands them all over at once.
// - A held process: in some runs the host gives the whole process no
//   processor for a while every 10 s. The redirect thread makes no pass
//   meanwhile; Wine 8's streams, whose timers run in the process, are held
//   with it, Windows' engine is not.
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

#include "model_engine.h"
#include "stream_model.h"

namespace {

using model_engine::Engine;
using stream_model::Kind;

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
    double holdSeconds = 0.0;   // the host holds the whole process every kStallEvery
    bool pauses = false;        // the source's endpoint idle kPauseSeconds every kPauseEvery
    uint32_t periodFrames = 0;  // the devices' period where it is not the rate over 100

    // A paused source is captured by loopback; the others from a capture
    // device, which never pauses.
    model_engine::Setup Setup() const {
        return {bufferMs, kind, rateAdjustment, deviceRate, periodFrames, pauses};
    }
};

// What the simulation measures of one target.
struct TargetState : model_engine::TargetObserver {
    TargetState(const model_engine::Target& engineTarget, double ppmValue, uint32_t packetFrames)
        : target(&engineTarget), ppm(ppmValue), rate(engineTarget.rate), cushion(engineTarget.cushion),
          bufferFrames(engineTarget.bufferFrames), periodic(engineTarget.model.kind() != Kind::Continuous),
          adjustable(engineTarget.pacer.Adjustable()), setPoint(QueueSetPoint(cushion, packetFrames)) {}

    // The engine's target, while the run lasts (the engine is gone after it).
    const model_engine::Target* target;
    uint32_t topUps = 0;  // the pacer's, as the run ended
    double ppm = 0.0;
    double rate = 0.0;  // nominal, frames per second
    uint32_t cushion = 0;
    uint32_t bufferFrames = 0;
    bool periodic = true;
    bool adjustable = false;

    bool dry = false;       // continuous: ran dry since the last delivery
    bool listening = true;  // gaps count: the source plays (after the first packet of a resumption)
    bool resuming = false;  // the packet being delivered is a resumption's first
    bool sourceIdle = false;
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
    // Each steady packet's wait to be heard on this target (ms), for how
    // far apart the targets play it; NaN where none of it was written.
    std::vector<float> waitMs;

    void Queue(double begin, double end, double from, double to) override;
    void Underrun(double at, double frames) override;
    void Level(double at, double queued) override;
    void BeforeDelivery(double now, uint32_t queued, bool discontinuous) override;
    void Delivered(double now, uint32_t silence, uint32_t frames, uint32_t leftOut) override;
    void RateChanged(double now, const RateChange& change) override;
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
    if (t.listening && t.target->pacer.Started() && Steady(now)) {
        t.heardSilence += frames;
        t.silenceSinceResumption += frames;
    }
}

// A device that takes periods counts every short period; one that drains
// continuously counts a gap once, and plays silence until the next packet.
void TargetState::Underrun(double at, double frames) {
    silenceFrames += frames;
    if (target->pacer.Started() && listening && (periodic || !dry)) {
        (Steady(at) ? steadyGaps : startGaps) += 1;
    }
    NoteSilenceHeard(*this, frames, at);
    dry = true;
}

double Ms(double frames, double rate) {
    return frames / (rate / 1000.0);
}

// The controller's rate against the one that cancels the clocks' true
// difference, in ppm.
double RateError(const TargetState& t) {
    return (t.target->pacer.Rate() * (1.0 + t.ppm * 1e-6) - 1.0) * 1e6;
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
// from the one before) starts what the target is heard to do again.
void TargetState::BeforeDelivery(double now, uint32_t queued, bool discontinuous) {
    resuming = discontinuous && !listening;
    if (resuming) {
        CloseResumption(*this);
    }
    const double rateNow = target->pacer.Rate();
    if (!target->pacer.Started() || !Steady(now)) {
        return;
    }
    minBefore = std::min(minBefore, static_cast<double>(queued));
    maxBefore = std::max(maxBefore, static_cast<double>(queued));
    minRate = std::min(minRate, rateNow);
    maxRate = std::max(maxRate, rateNow);
    if (adjustable && listening) {
        minRateError = std::min(minRateError, RateError(*this));
        maxRateError = std::max(maxRateError, RateError(*this));
    }
}

void TargetState::Delivered(double now, uint32_t silence, uint32_t frames, uint32_t leftOut) {
    NoteSilenceHeard(*this, silence, now);
    if (Steady(now)) {
        waitMs.push_back(frames > 0 ? static_cast<float>(target->model.WaitToBeHeard(frames) * 1000.0) : NAN);
    }
    droppedFrames += leftOut;
    steadyDropped += Steady(now) ? leftOut : 0u;
    dry = false;
    if (resuming) {
        listening = true;
        NoteResumption(*this, now);
    }
}

void TargetState::RateChanged(double now, const RateChange& change) {
    ++rateChanges;
    decisionsInPauses += sourceIdle && Steady(now) ? 1 : 0;
    replays += change.queuedAgain > 0 ? 1 : 0;
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

struct PassState {
    bool sourceIdle = false;
    double nextSourceChange = kPauseAt;  // a paused source's next fall or return
    double nextHold = kStallAt;
};

// A host that gives the process no processor for a while every kStallEvery:
// the redirect thread's next pass comes when it runs again, and the capture
// hands over what it got meanwhile at once. Returns when the pass runs.
double HoldProcess(const Scenario& scenario, Engine& engine, PassState& pass, double now) {
    if (scenario.holdSeconds <= 0.0 || now < pass.nextHold) {
        return now;
    }
    const double until = pass.nextHold + scenario.holdSeconds;
    for (model_engine::Target& target : engine.targets) {
        target.model.Advance(pass.nextHold, *target.observer);
        target.model.HoldProcess(until);
    }
    pass.nextHold += kStallEvery;
    return std::max(now, until);
}

// The capture's engine up to `readable`, its endpoint falling idle and
// playing again on the way; says whether it is idle now.
bool AdvanceSource(const Scenario& scenario, stream_model::CaptureStreamModel& capture, PassState& pass,
                   double readable) {
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
void NoteSourceIdle(std::vector<TargetState>& targets, bool idle) {
    for (TargetState& t : targets) {
        t.listening = t.listening && !(idle && !t.sourceIdle);
        t.sourceIdle = idle;
    }
}

RunResult Run(const Scenario& scenario, const std::vector<double>& ppms) {
    const auto started = std::chrono::steady_clock::now();
    Engine engine(scenario.Setup(), ppms);
    RunResult result;
    for (size_t i = 0; i < ppms.size(); ++i) {
        result.targets.emplace_back(engine.targets[i], ppms[i], engine.setup.EnginePacketFrames());
    }
    for (size_t i = 0; i < ppms.size(); ++i) {
        engine.targets[i].observer = &result.targets[i];
    }
    const PassWait wait = PassWaitFor(scenario.bufferMs);
    std::mt19937 random(20240601u);
    PassState pass;
    for (double now = 0.0; now < kRunSeconds; now += WaitSeconds(wait, random)) {
        now = HoldProcess(scenario, engine, pass, now);
        NoteSourceIdle(result.targets, AdvanceSource(scenario, engine.capture, pass, Readable(scenario, now)));
        engine.Pass(now);
        for (TargetState& t : result.targets) {
            NoteSecondLevel(t, now);
        }
    }
    for (TargetState& t : result.targets) {
        CloseResumption(t);
        t.topUps = t.target->pacer.TopUps();
        t.target = nullptr;
    }
    result.packets = engine.packets;
    result.captureOverflows = engine.capture.lost();
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
          static_cast<double>(scenario.bufferMs), scenario.deviceRate / 1000.0, scenario.Setup().PacketFrames(),
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
              t.ppm, t.droppedFrames, t.startGaps, t.steadyGaps, t.topUps, Ms(t.silenceFrames, rate),
              Ms(t.minBefore - t.cushion, rate), Ms(t.maxBefore - t.cushion, rate), Ms(t.minQueued, rate),
              Ms(t.queuedArea / steadySeconds, rate), Ms(t.maxQueued, rate), Ms(t.minLevel, rate),
              Ms(t.maxLevel, rate), (t.minRate - 1.0) * 1e6, (t.maxRate - 1.0) * 1e6, t.rateChanges);
    }
    if (scenario.rateAdjustment) {
        Print(out, "  queued again after a rate change:");
        for (const TargetState& t : r.targets) {
            Print(out, " %d", t.replays);
        }
        Print(out, " times\n");
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
                  device.rate / 1000.0, scenario.Setup().PacketFrames(), adjust ? "on" : "off");
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

struct Apart {
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// Per steady packet, the latest target's wait to hear it less the
// earliest's.
Apart TargetsApart(const RunResult& r) {
    std::vector<float> spread;
    for (size_t k = 0; k < r.targets.front().waitMs.size(); ++k) {
        float low = INFINITY;
        float high = -INFINITY;
        for (const TargetState& t : r.targets) {
            if (k < t.waitMs.size() && !std::isnan(t.waitMs[k])) {
                low = std::min(low, t.waitMs[k]);
                high = std::max(high, t.waitMs[k]);
            }
        }
        if (high >= low) {
            spread.push_back(high - low);
        }
    }
    if (spread.empty()) {
        return {};
    }
    std::sort(spread.begin(), spread.end());
    return {spread[spread.size() / 2], spread[spread.size() * 99 / 100], spread.back()};
}

// How far apart targets of one setting play the same packet on Windows'
// streams: five devices -1000 ... +1000 ppm off the source with rate
// adjustment, and two devices on the source's own clock with the frame
// count alone, each first period at its own phase.
void RunInStep(std::string& out) {
    Print(out, "\nin step: Windows stream; per packet after the first two minutes, the latest target's wait to be "
               "heard less the earliest's (ms): median / 99th percentile / most\n");
    Print(out, "  in step %8s %8s | %-26s | %-26s\n", "kHz", "setting", "5 targets, rate adjustment",
          "2 targets at 0 ppm, frames");
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (float bufferMs : {1.0f, 5.0f, 10.0f, 20.0f, 30.0f, 45.0f, 60.0f}) {
            Scenario adjusted{bufferMs, Kind::Windows, true, rate};
            Scenario counted{bufferMs, Kind::Windows, false, rate};
            const Apart a = TargetsApart(Run(adjusted, kPpms));
            const Apart c = TargetsApart(Run(counted, {0.0, 0.0}));
            Print(out, "  in step %8.1f %5.0f ms | %6.2f / %6.2f / %7.2f | %6.2f / %6.2f / %7.2f\n", rate / 1000.0,
                  static_cast<double>(bufferMs), a.median, a.p99, a.max, c.median, c.p99, c.max);
        }
    }
}

// A host that holds the whole process every 10 s, two targets on one clock
// at different phases: Wine 8 as the development machine meets it (its
// timers are held with the process; the frame count), and Windows (only the
// redirect thread is held; rate adjustment). What is left out per hold, the
// gaps heard, and how far apart the two play what they were given.
void RunHolds(std::string& out) {
    Print(out, "\nholds: 2 targets at 0 ppm; the host holds the process every %.0f s; after the first two minutes: "
               "frames left out per hold and gaps per target; the later target's wait to be heard less the "
               "earlier's (ms): median / 99th percentile / most\n",
          kStallEvery);
    Print(out, "  holds %-8s %5s %8s %6s | %-17s | %-11s | %s\n", "stream", "kHz", "setting", "hold",
          "left out per hold", "gaps", "apart");
    const double holds = (kRunSeconds - kSteadyFrom) / kStallEvery;
    for (Kind kind : {Kind::Wine8, Kind::Windows}) {
        for (double rate : {44100.0, 48000.0}) {
            for (float bufferMs : {10.0f, 30.0f, 60.0f}) {
                for (double hold : {0.0, 0.020, 0.045}) {
                    Scenario scenario{bufferMs, kind, kind == Kind::Windows, rate};
                    scenario.holdSeconds = hold;
                    const RunResult r = Run(scenario, {0.0, 0.0});
                    const Apart a = TargetsApart(r);
                    Print(out, "  holds %-8s %5.1f %5.0f ms %3.0f ms | %7.0f / %7.0f | %4" PRIu64 " / %4" PRIu64
                               " | %6.2f / %6.2f / %6.2f\n",
                          stream_model::KindName(kind), rate / 1000.0, static_cast<double>(bufferMs), hold * 1000.0,
                          static_cast<double>(r.targets[0].steadyDropped) / holds,
                          static_cast<double>(r.targets[1].steadyDropped) / holds, r.targets[0].steadyGaps,
                          r.targets[1].steadyGaps, a.median, a.p99, a.max);
                }
            }
        }
    }
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
              t.topUps, t.steadyDropped);
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
    "Delivery simulation, one simulated hour per run, each target paced by the engine's TargetPacer,\n"
    "against the stream model (bench/stream_model.h).\n"
    "Source: a packet of a device period (the rate over 100 frames unless said) every period of its\n"
    "  clock (the reference).\n"
    "Targets: -1000 / -100 / 0 / +100 / +1000 ppm against the source (+: the target plays faster),\n"
    "  first device period 1.3 / 3.0 / 4.7 / 6.4 / 8.1 ms after their start; topped up to the cushion\n"
    "  before their first packet and the first after a pause (flagged by the capture), and after\n"
    "  running dry at a packet on time, or at a late one whose followers did not bring the cushion\n"
    "  back; the first 5 packets dropped; a rate asked for is applied at the end of the pass.\n"
    "Streams: Windows = a pass every period of the target's clock takes a period's worth of frames, a\n"
    "  pass finding fewer is a gap; a rate change keeps the queue and changes how many frames a pass\n"
    "  takes (not when the passes come); the clock counts what is heard at a fixed frequency. Wine 8 =\n"
    "  the same passes (its timer's ticks), no rate adjustment, its clock counts every period taken;\n"
    "  beneath it a server plays all it was given without a break from the start, and a gap is the\n"
    "  server running dry (then filled with silence to three periods). Wine 10 = whole frames\n"
    "  per pass at the rate set (its rate over 100, rounded), a rate change throws the queue away and\n"
    "  starts its clock again. Continuous = drained at the target's rate, the queue running dry is a gap.\n"
    "Late capture: every 10 s the capture holds its packets back for 20 ms, then hands them over at once.\n"
    "Held process (holds): every 10 s the host holds the process; Wine 8's timers are held with it.\n"
    "Columns (after the first two minutes unless said): dropped = packet frames left out by the frame\n"
    "  count in the whole hour; gaps = underruns (start: the first two minutes); top-up = silence added\n"
    "  after a target ran dry; silence = frames the device lacked in the whole hour;\n"
    "  before packet = the queue just before each delivery against the cushion; queue = over time;\n"
    "  level = the queue's average over each second against the controller's set point (the cushion\n"
    "  plus half a packet);\n"
    "  rate = the controller's rate against nominal, and how often it was changed in the hour;\n"
    "  queued again = rate changes after which what the stream threw away was queued again.\n";

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

// delivery_sim [out.txt [tables] [grid] [pauses] [instep] [holds]]: every section unless
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
    if (Wants(argc, argv, "instep")) {
        RunInStep(out);
    }
    if (Wants(argc, argv, "holds")) {
        RunHolds(out);
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
