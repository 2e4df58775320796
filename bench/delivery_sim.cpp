// Simulates one hour of the redirect thread's delivery against drifting
// device clocks, with the engine's own rules (cushion, buffer sizes, frame
// count, top-up, pass waits) and its rate controller, to see how much each
// target loses, how often it starves and how steady its queue stays.
//
// Model (also printed with the results):
// - The source clock is the reference. The source delivers a 480-frame packet
//   every 10 ms (48 kHz); packet k becomes readable at k x 10 ms. Its capture
//   buffer holds the source buffer duration; packets beyond it are lost.
// - The redirect thread makes a pass, then waits: the 1 ms timer and Sleep(1)
//   cost 1 ms plus a 0..1 ms overshoot, Sleep(2) 2 ms plus 0..1 ms, drawn from
//   a fixed-seed generator. Each pass reads at most the packet limit; the
//   first 5 packets are dropped (warm-up), each target's queue brought up to
//   the cushion and a packet with silence at each of them.
// - Each target's buffer is the target buffer duration; it is primed with
//   half of it and starts 10 ms after the source. Before its first packet,
//   and when it has run dry (its queue empty, more time gone than the
//   audio it was left with, and by its clock all it was given played) at a
//   packet that came on time, or at a late one whose followers did not bring
//   the cushion back, its queue is topped up to the cushion with silence.
//   The controller is told of that silence and of the time it went without.
//   Its clock runs at +ppm against the source's; with rate adjustment the
//   controller's rate multiplies that. A simulated stream keeps its queue
//   when its rate changes, which the engine learns at the first change:
//   from then on the controller holds the queue closely.
// - Consumption, three models:
//   periodic:   the shared-mode engine takes one 480-frame device period every
//               10 ms of the target's own clock; a period that finds fewer
//               than 480 frames queued is an underrun (a gap): the missing
//               frames are played as silence and the queue is left empty.
//               Its clock counts the period being played as it is heard.
//   counted:    the same, with a clock that counts every period taken as
//               played (what one sound server's stream reports).
//   continuous: the target drains continuously at its own rate; the queue
//               running dry is an underrun, silence lasts until the next
//               delivery.
// - Late capture: in some runs the capture holds its packets back for a
//   while every 10 s (the source's process or a sound server starved of the
//   processor), then hands them all over at once.
// - Delivery: Q = queued frames (floored), N = TargetFrameCount; the packet's
//   frames beyond N are dropped.
// - Statistics cover the time after the first two minutes (the rate
//   controller settling): gaps, dropped frames, the queue just before each
//   delivery against the cushion, and the queue over time (what is heard).
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "audio/engine/frame_policy.h"
#include "audio/engine/rate_controller.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kPacketFrames = 480;
constexpr uint32_t kPeriodFrames = 480;
constexpr double kPacketSeconds = 0.010;
constexpr int64_t kDevicePeriod = 100000;  // 10 ms in 100 ns units
constexpr double kTargetStartDelay = 0.010;
constexpr double kRunSeconds = 3600.0;
constexpr double kSteadyFrom = 120.0;

enum class Consumption { Periodic, Counted, Continuous };

struct Scenario {
    float bufferMs;
    Consumption consumption;
    bool rateAdjustment;
    double stallSeconds = 0.0;  // packets held back every kStallEvery
};

constexpr double kStallEvery = 10.0;
constexpr double kLateCaptureSeconds = 0.020;
constexpr double kStallAt = 0.0055;  // into each kStallEvery, between two packets

struct TargetState {
    double ppm = 0.0;
    uint32_t bufferFrames = 0;
    uint32_t cushion = 0;
    double queued = 0.0;
    double lastTime = 0.0;
    double nextTick = 0.0;
    bool dry = false;
    bool delivering = false;
    bool clockCountsTaken = false;  // counted consumption
    DryJudge dryJudge;
    uint64_t written = 0;      // every frame handed to the target
    double lastWrite = 0.0;    // when a packet was last written, and the queue then
    uint32_t queuedAfterWrite = 0;
    double taken = 0.0;        // frames the device has taken from its queue
    double lastTick = -1.0;    // periodic: when it last took a period, and how much
    double lastTickFrames = 0.0;
    RateController controller{0.0, kRate};

    uint64_t droppedFrames = 0;
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
    DryWatch dryWatch;  // after the first packet: the queue ran dry
};

double Speed(const TargetState& t) {
    return (1.0 + t.ppm * 1e-6) * t.controller.Rate();
}

void NoteLevel(TargetState& t, double now) {
    if (now >= kSteadyFrom) {
        t.minQueued = std::min(t.minQueued, t.queued);
        t.maxQueued = std::max(t.maxQueued, t.queued);
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

void CountGap(TargetState& t, double now) {
    (now >= kSteadyFrom ? t.steadyGaps : t.startGaps) += 1;
}

// The area under a queue going linearly from `from` to `to` over
// [begin, end], clipped to the steady window.
void AddArea(TargetState& t, double begin, double end, double from, double to) {
    if (end <= kSteadyFrom || end <= begin) {
        return;
    }
    if (begin < kSteadyFrom) {
        from += (to - from) * (kSteadyFrom - begin) / (end - begin);
        begin = kSteadyFrom;
    }
    t.queuedArea += 0.5 * (from + to) * (end - begin);
}

// What the stream's clock reports as played: everything taken, except the
// part of the last period still to be heard.
double Played(const TargetState& t, double now) {
    if (t.lastTick < 0.0 || t.clockCountsTaken) {
        return t.taken;
    }
    const double heard = std::min(t.lastTickFrames, (now - t.lastTick) * kRate * Speed(t));
    return t.taken - t.lastTickFrames + heard;
}

void AdvancePeriodic(TargetState& t, double now) {
    while (t.nextTick <= now) {
        AddArea(t, t.lastTime, t.nextTick, t.queued, t.queued);
        t.lastTime = t.nextTick;
        const double take = std::min(t.queued, static_cast<double>(kPeriodFrames));
        if (t.queued < kPeriodFrames) {
            t.silenceFrames += kPeriodFrames - t.queued;
            if (t.delivering) {
                CountGap(t, t.nextTick);
            }
        }
        t.queued -= take;
        t.taken += take;
        t.lastTick = t.nextTick;
        t.lastTickFrames = take;
        NoteLevel(t, t.nextTick);
        t.nextTick += kPacketSeconds / Speed(t);
    }
    AddArea(t, t.lastTime, now, t.queued, t.queued);
    t.lastTime = now;
}

void AdvanceContinuous(TargetState& t, double now) {
    const double begin = std::max(t.lastTime, kTargetStartDelay);
    if (now <= begin) {
        t.lastTime = now;
        return;
    }
    const double rate = kRate * Speed(t);
    const double demand = rate * (now - begin);
    if (demand <= t.queued) {
        AddArea(t, begin, now, t.queued, t.queued - demand);
        t.queued -= demand;
        t.taken += demand;
    } else {
        AddArea(t, begin, begin + t.queued / rate, t.queued, 0.0);
        t.silenceFrames += demand - t.queued;
        t.taken += t.queued;
        t.queued = 0.0;
        if (!t.dry && t.delivering) {
            CountGap(t, now);
        }
        t.dry = true;
    }
    t.lastTime = now;
    NoteLevel(t, now);
}

void Deliver(TargetState& t, double now) {
    auto queued = static_cast<uint32_t>(t.queued);
    if (t.delivering && now >= kSteadyFrom) {
        t.minBefore = std::min(t.minBefore, static_cast<double>(queued));
        t.maxBefore = std::max(t.maxBefore, static_cast<double>(queued));
        t.minRate = std::min(t.minRate, t.controller.Rate());
        t.maxRate = std::max(t.maxRate, t.controller.Rate());
    }
    const double elapsed = (now - t.lastWrite) * kRate;
    const QueueReading reading{queued, t.queuedAfterWrite, elapsed, true, t.written, Played(t, now)};
    const bool dry = t.delivering && t.dryJudge.RanDry(reading, t.bufferFrames, kPeriodFrames);
    uint32_t silence = 0;
    if (t.delivering) {
        const PacketArrival arrival{now, elapsed, t.queuedAfterWrite, queued, dry};
        const DryStep step = t.dryWatch.Before(arrival, DryLevels{kRate, t.cushion, kPacketFrames, t.bufferFrames});
        t.controller.Adjusted(step.notTheClocks);
        silence = step.silence;
    } else {
        silence = TopUpFrames(queued, t.cushion, t.bufferFrames);
    }
    t.queued += silence;
    t.written += silence;
    queued += silence;
    t.delivering = true;
    const uint32_t frames = TargetFrameCount(kPacketFrames, queued, t.bufferFrames, t.cushion);
    t.controller.Adjusted(-static_cast<double>(kPacketFrames - frames));
    t.droppedFrames += kPacketFrames - frames;
    t.queued += frames;
    t.written += frames;
    t.lastWrite = now;
    t.queuedAfterWrite = queued + frames;
    t.dry = false;
    NoteLevel(t, now);
}

void HoldDuringWarmup(TargetState& t) {
    const uint32_t silence =
        WarmupTopUpFrames(static_cast<uint32_t>(t.queued), t.cushion, kPacketFrames, t.bufferFrames);
    t.queued += silence;
    t.written += silence;
}

// The engine reads every adjusted target's queue before and after each
// pass's deliveries. The simulated stream keeps its queue when its rate
// changes, which the engine learns at the first change.
void Steer(const Scenario& scenario, TargetState& t, double now) {
    if (scenario.rateAdjustment && t.delivering && t.controller.Update(std::floor(t.queued), now)) {
        ++t.rateChanges;
        t.controller.ChangesAreSeamless(true);
    }
}

double WaitSeconds(PassWait wait, std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    return (wait == PassWait::Sleep2Ms ? 0.002 : 0.001) + 0.001 * unit(random);
}

struct RunResult {
    std::vector<TargetState> targets;
    uint64_t packets = 0;
    uint64_t captureOverflows = 0;
};

TargetState NewTarget(const Scenario& scenario, double ppm, double phase) {
    TargetState t;
    t.ppm = ppm;
    t.bufferFrames = static_cast<uint32_t>(kRate * TargetBufferDuration(scenario.bufferMs, kDevicePeriod) / 1e7);
    t.cushion = CushionFrames(scenario.bufferMs, static_cast<uint32_t>(kRate), kDevicePeriod);
    t.setPoint = QueueSetPoint(t.cushion, kPacketFrames);
    t.controller = RateController(t.setPoint, kRate);
    t.queued = StartPrimingFrames(t.bufferFrames);
    t.written = StartPrimingFrames(t.bufferFrames);
    t.nextTick = kTargetStartDelay + phase;
    t.clockCountsTaken = scenario.consumption == Consumption::Counted;
    return t;
}

// The time whose packets the capture has handed over by `now`.
double Readable(const Scenario& scenario, double now) {
    const double into = std::fmod(now, kStallEvery) - kStallAt;
    return into >= 0.0 && into < scenario.stallSeconds ? now - into : now;
}

RunResult Run(const Scenario& scenario, const std::vector<double>& ppms) {
    RunResult result;
    for (size_t i = 0; i < ppms.size(); ++i) {
        result.targets.push_back(NewTarget(scenario, ppms[i], 0.0013 + 0.0017 * static_cast<double>(i)));
    }
    const PassWait wait = PassWaitFor(scenario.bufferMs);
    const uint32_t packetLimit = PacketLimitFor(scenario.bufferMs);
    const auto captureCapacity = static_cast<uint64_t>(
        std::max<int64_t>(SourceBufferDuration(scenario.bufferMs, kDevicePeriod) / kDevicePeriod, 1));
    std::mt19937 random(20240601u);
    int warmup = kWarmupPackets;
    uint64_t nextPacket = 1;  // first packet not yet read or lost

    for (double now = 0.0; now < kRunSeconds; now += WaitSeconds(wait, random)) {
        for (TargetState& t : result.targets) {
            scenario.consumption == Consumption::Continuous ? AdvanceContinuous(t, now) : AdvancePeriodic(t, now);
            NoteSecondLevel(t, now);
            Steer(scenario, t, now);
        }
        const auto produced = static_cast<uint64_t>(std::floor(Readable(scenario, now) / kPacketSeconds + 1e-9));
        if (produced >= nextPacket + captureCapacity) {
            const uint64_t lost = produced + 1 - nextPacket - captureCapacity;
            result.captureOverflows += lost;
            nextPacket += lost;
        }
        for (uint32_t count = 0; count < packetLimit && nextPacket <= produced; ++count, ++nextPacket) {
            ++result.packets;
            if (warmup > 0) {
                --warmup;
                for (TargetState& t : result.targets) {
                    HoldDuringWarmup(t);
                }
                continue;
            }
            for (TargetState& t : result.targets) {
                Deliver(t, now);
            }
        }
        for (TargetState& t : result.targets) {
            Steer(scenario, t, now);
        }
    }
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

double Ms(double frames) {
    return frames / (kRate / 1000.0);
}

const char* ConsumptionName(Consumption consumption) {
    switch (consumption) {
    case Consumption::Periodic:
        return "periodic";
    case Consumption::Counted:
        return "periodic, counted by its clock as taken,";
    case Consumption::Continuous:
        break;
    }
    return "continuous";
}

void Report(std::string& out, const Scenario& scenario, const RunResult& r) {
    const TargetState& first = r.targets.front();
    Print(out, "\nbufferMs %.0f, %s consumption, rate adjustment %s: target buffer %u frames, cushion %u frames "
               "(%.1f ms)",
          static_cast<double>(scenario.bufferMs),
          ConsumptionName(scenario.consumption), scenario.rateAdjustment ? "on" : "off", first.bufferFrames,
          first.cushion, Ms(first.cushion));
    if (scenario.stallSeconds > 0.0) {
        Print(out, "; the capture late by %.0f ms every %.0f s", scenario.stallSeconds * 1000.0, kStallEvery);
    }
    Print(out, "\n");
    Print(out, "  packets read %" PRIu64 ", capture overflows %" PRIu64 " packets\n", r.packets, r.captureOverflows);
    Print(out, "  %6s | %9s | %6s %6s | %6s | %10s | %15s | %23s | %15s | %17s | %7s\n", "ppm", "dropped", "gaps",
          "gaps", "top-up", "silence", "before packet", "queue (heard)", "level", "rate", "rate");
    Print(out, "  %6s | %9s | %6s %6s | %6s | %10s | %15s | %23s | %15s | %17s | %7s\n", "", "frames", "start", "after",
          "", "ms", "ms from cushion", "min / mean / max ms", "ms from set pt", "min / max ppm", "changes");
    const double steadySeconds = kRunSeconds - kSteadyFrom;
    for (const TargetState& t : r.targets) {
        Print(out, "  %+6.0f | %9" PRIu64 " | %6" PRIu64 " %6" PRIu64 " | %6d | %10.1f | %+6.2f .. %+6.2f | %6.2f / %6.2f / %6.2f |"
                   " %+6.2f .. %+5.2f | %+7.0f / %+7.0f | %7d\n",
              t.ppm, t.droppedFrames, t.startGaps, t.steadyGaps, t.dryWatch.topUps, Ms(t.silenceFrames), Ms(t.minBefore - t.cushion),
              Ms(t.maxBefore - t.cushion), Ms(t.minQueued), Ms(t.queuedArea / steadySeconds), Ms(t.maxQueued),
              Ms(t.minLevel), Ms(t.maxLevel), (t.minRate - 1.0) * 1e6, (t.maxRate - 1.0) * 1e6, t.rateChanges);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<double> ppms = {-1000.0, -100.0, 0.0, 100.0, 1000.0};
    std::string out;
    out += "Delivery simulation, one simulated hour per run, the engine's rules and rate controller as built.\n"
           "Source: 48 kHz, a 480-frame packet every 10 ms of its clock (the reference).\n"
           "Targets: -1000 / -100 / 0 / +100 / +1000 ppm against the source (+: the target plays faster),\n"
           "  first device period 1.3 / 3.0 / 4.7 / 6.4 / 8.1 ms after their start; topped up to the cushion\n"
           "  before their first packet and after running dry at a packet on time, or at a late one whose\n"
           "  followers did not bring the cushion back; the first 5 packets dropped.\n"
           "Consumption: periodic = 480 frames every 10 ms of the target's clock, a period finding fewer is a\n"
           "  gap (its clock: what has been heard; counted: every period taken); continuous = drained at the\n"
           "  target's rate, the queue running dry is a gap.\n"
           "Late capture (the last runs): every 10 s the capture holds its packets back for 20 ms, then hands\n"
           "  them over at once.\n"
           "Columns (after the first two minutes): dropped = packet frames left out by the frame count;\n"
           "  gaps = underruns (start: the first two minutes); top-up = silence added after a target ran dry;\n"
           "  silence = frames the device lacked;\n"
           "  before packet = the queue just before each delivery against the cushion; queue = over time;\n"
           "  level = the queue's average over each second against the controller's set point (the cushion\n"
           "  plus half a packet);\n"
           "  rate = the controller's rate against nominal, and how often it was changed in the hour.\n";
    for (float bufferMs : {30.0f, 20.0f, 10.0f}) {
        for (Consumption consumption : {Consumption::Periodic, Consumption::Counted, Consumption::Continuous}) {
            for (bool adjust : {false, true}) {
                const Scenario scenario{bufferMs, consumption, adjust};
                Report(out, scenario, Run(scenario, ppms));
            }
        }
    }
    for (float bufferMs : {30.0f, 20.0f, 10.0f}) {
        for (bool adjust : {false, true}) {
            const Scenario scenario{bufferMs, Consumption::Periodic, adjust, kLateCaptureSeconds};
            Report(out, scenario, Run(scenario, ppms));
        }
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
