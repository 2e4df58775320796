// Simulates one hour of the redirect thread's delivery policy against drifting
// device clocks, using the engine's own frame-count rule, to see how much each
// target loses, how often it starves and how much audio it keeps queued.
//
// Model (also printed with the results):
// - The source clock is the reference. The source delivers a 480-frame packet
//   every 10 ms (48 kHz); packet k becomes readable at k x 10 ms. Its capture
//   buffer holds bufferFrames frames; packets beyond that are lost (counted).
// - The redirect thread makes a pass, then waits: a yield costs 0.05..0.15 ms,
//   Sleep(n) costs n ms plus a 0..1 ms overshoot (1 ms timer period), drawn
//   from a fixed-seed generator. Each pass reads at most the packet limit.
//   The first 5 packets are dropped (warm-up).
// - Each target's buffer is 48000 x bufferMs / 1000 frames, primed with half a
//   buffer of silence; it starts 10 ms after the source. Its clock runs at
//   +ppm relative to the source.
// - Consumption, two models:
//   periodic:   the shared-mode engine takes one 480-frame device period every
//               10 ms of the target's own clock (first period at a per-target
//               phase); a period that finds fewer than 480 frames queued is an
//               underrun, the missing frames are played as silence and the
//               queue is left empty.
//   continuous: the target drains 48000 x (1 + ppm) frames per second without
//               steps; the queue running dry is an underrun, silence lasts
//               until the next delivery.
// - Delivery of a packet to a target: Q = queued frames (floored), N =
//   TargetFrameCount; N = 0 or N > room means the render buffer request fails
//   and the whole packet is missed; otherwise N frames are queued and the
//   packet's remaining frames are trimmed.
// - Statistics of the queue (latency = queued frames / 48 per ms) and the
//   "steady" underruns cover the time after the first second.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "audio/engine/frame_policy.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kPacketFrames = 480;
constexpr uint32_t kPeriodFrames = 480;
constexpr double kPacketSeconds = 0.010;
constexpr double kDevicePeriodSeconds = 0.010;
constexpr double kTargetStartDelay = 0.010;
constexpr double kRunSeconds = 3600.0;
constexpr double kSteadyFrom = 1.0;

enum class Consumption { Periodic, Continuous };

struct TargetClock {
    double ppm;
    double phaseSeconds;  // offset of the first device period after the start
};

struct TargetState {
    TargetClock clock;
    uint32_t bufferFrames = 0;
    double queued = 0.0;
    double lastTime = 0.0;
    int64_t nextPeriod = 0;
    bool dry = false;

    uint64_t trimmedFrames = 0;
    uint64_t missedPackets = 0;
    uint64_t startUnderruns = 0;
    uint64_t steadyUnderruns = 0;
    double silenceFrames = 0.0;
    double minQueued = 1e30;
    double maxQueued = 0.0;
    double queuedArea = 0.0;  // frame-seconds over the steady window
};

struct Scenario {
    float bufferMs;
    Consumption consumption;
};

double ClockScale(const TargetState& t) {
    return 1.0 + t.clock.ppm * 1e-6;
}

void NoteLevel(TargetState& t, double now) {
    if (now >= kSteadyFrom) {
        t.minQueued = std::min(t.minQueued, t.queued);
        t.maxQueued = std::max(t.maxQueued, t.queued);
    }
}

void CountUnderrun(TargetState& t, double now) {
    (now >= kSteadyFrom ? t.steadyUnderruns : t.startUnderruns) += 1;
}

// Adds the area under a queue that goes linearly from `from` to `to` over
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

void ConsumePeriod(TargetState& t, double now) {
    if (t.queued < kPeriodFrames) {
        t.silenceFrames += kPeriodFrames - t.queued;
        CountUnderrun(t, now);
        t.queued = 0.0;
    } else {
        t.queued -= kPeriodFrames;
    }
    NoteLevel(t, now);
}

void AdvancePeriodic(TargetState& t, double now) {
    const double period = kDevicePeriodSeconds / ClockScale(t);
    for (;;) {
        const double tick =
            kTargetStartDelay + t.clock.phaseSeconds + static_cast<double>(t.nextPeriod) * period;
        if (tick > now) {
            break;
        }
        AddArea(t, t.lastTime, tick, t.queued, t.queued);
        t.lastTime = tick;
        ConsumePeriod(t, tick);
        ++t.nextPeriod;
    }
    AddArea(t, t.lastTime, now, t.queued, t.queued);
    t.lastTime = now;
}

void AdvanceContinuous(TargetState& t, double now) {
    const double begin = std::max(t.lastTime, kTargetStartDelay);
    if (now <= begin) {
        AddArea(t, t.lastTime, now, t.queued, t.queued);
        t.lastTime = now;
        return;
    }
    AddArea(t, t.lastTime, begin, t.queued, t.queued);
    const double rate = kRate * ClockScale(t);
    const double demand = rate * (now - begin);
    if (demand <= t.queued) {
        AddArea(t, begin, now, t.queued, t.queued - demand);
        t.queued -= demand;
    } else {
        const double empty = begin + t.queued / rate;
        AddArea(t, begin, empty, t.queued, 0.0);
        t.silenceFrames += demand - t.queued;
        t.queued = 0.0;
        if (!t.dry) {
            CountUnderrun(t, empty);
            t.dry = true;
        }
    }
    t.lastTime = now;
    NoteLevel(t, now);
}

void Deliver(TargetState& t, float bufferMs, double now) {
    const auto queued = static_cast<uint32_t>(t.queued);
    const uint32_t frames = TargetFrameCount(kPacketFrames, queued, t.bufferFrames, bufferMs);
    const uint32_t room = t.bufferFrames - std::min(queued, t.bufferFrames);
    if (frames == 0 || frames > room) {
        ++t.missedPackets;
        return;
    }
    t.trimmedFrames += kPacketFrames - frames;
    t.queued += frames;
    t.dry = false;
    NoteLevel(t, now);
}

double WaitSeconds(PassWait wait, std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (wait) {
    case PassWait::Yield:
        return 0.00005 + 0.0001 * unit(random);
    case PassWait::Sleep1Ms:
        return 0.001 + 0.001 * unit(random);
    case PassWait::Sleep2Ms:
        return 0.002 + 0.001 * unit(random);
    }
    return 0.001;
}

const char* WaitName(PassWait wait) {
    switch (wait) {
    case PassWait::Yield:
        return "yield (0.05..0.15 ms)";
    case PassWait::Sleep1Ms:
        return "Sleep 1 ms (+0..1 ms)";
    case PassWait::Sleep2Ms:
        return "Sleep 2 ms (+0..1 ms)";
    }
    return "?";
}

struct RunResult {
    std::vector<TargetState> targets;
    uint64_t packets = 0;
    uint64_t captureOverflows = 0;
    uint64_t passes = 0;
};

RunResult Run(const Scenario& scenario, const std::vector<TargetClock>& clocks) {
    const auto bufferFrames = static_cast<uint32_t>(kRate * scenario.bufferMs / 1000.0f);
    RunResult result;
    for (const TargetClock& clock : clocks) {
        TargetState t;
        t.clock = clock;
        t.bufferFrames = bufferFrames;
        t.queued = StartPrimingFrames(bufferFrames);
        result.targets.push_back(t);
    }
    const PassWait wait = PassWaitFor(scenario.bufferMs);
    const uint32_t packetLimit = PacketLimitFor(scenario.bufferMs);
    const uint64_t captureCapacity = bufferFrames / kPacketFrames;  // whole packets
    std::mt19937 random(20240601u);
    int warmup = kWarmupPackets;
    uint64_t nextPacket = 1;  // first packet not yet read or lost

    for (double now = 0.0; now < kRunSeconds; now += WaitSeconds(wait, random)) {
        ++result.passes;
        for (TargetState& t : result.targets) {
            if (scenario.consumption == Consumption::Periodic) {
                AdvancePeriodic(t, now);
            } else {
                AdvanceContinuous(t, now);
            }
        }
        const auto produced = static_cast<uint64_t>(std::floor(now / kPacketSeconds + 1e-9));
        if (produced >= nextPacket + std::max<uint64_t>(captureCapacity, 1)) {
            const uint64_t lost = produced + 1 - nextPacket - std::max<uint64_t>(captureCapacity, 1);
            result.captureOverflows += lost;
            nextPacket += lost;
        }
        for (uint32_t count = 0; count < packetLimit && nextPacket <= produced; ++count, ++nextPacket) {
            ++result.packets;
            if (warmup > 0) {
                --warmup;
                continue;
            }
            for (TargetState& t : result.targets) {
                Deliver(t, scenario.bufferMs, now);
            }
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

void Report(std::string& out, const Scenario& scenario, const RunResult& r) {
    const uint32_t bufferFrames = r.targets.front().bufferFrames;
    const QueueThresholds thresholds = QueueThresholdsFor(bufferFrames, scenario.bufferMs);
    Print(out, "\nbufferMs %.0f, %s consumption: target buffer %u frames, thresholds %u/%u, wait %s, "
               "packet limit %u\n",
          static_cast<double>(scenario.bufferMs),
          scenario.consumption == Consumption::Periodic ? "periodic (480 frames / 10 ms)" : "continuous",
          bufferFrames, thresholds.low, thresholds.high, WaitName(PassWaitFor(scenario.bufferMs)),
          PacketLimitFor(scenario.bufferMs));
    Print(out, "  passes %" PRIu64 ", packets read %" PRIu64 " (%" PRIu64 " source frames), "
               "capture overflows %" PRIu64 " packets\n",
          r.passes, r.packets, r.packets * kPacketFrames, r.captureOverflows);
    Print(out, "  %6s | %9s | %8s | %9s | %9s | %9s | %9s | %10s | %7s %7s %7s\n", "ppm", "trimmed", "missed",
          "missed", "not deliv", "underruns", "underruns", "silence", "lat min", "mean", "max");
    Print(out, "  %6s | %9s | %8s | %9s | %9s | %9s | %9s | %10s | %7s %7s %7s\n", "", "frames", "packets",
          "frames", "% of src", "first 1 s", "after", "ms", "ms", "ms", "ms");
    const double sourceFrames = static_cast<double>(r.packets * kPacketFrames);
    const double steadySeconds = kRunSeconds - kSteadyFrom;
    for (const TargetState& t : r.targets) {
        const uint64_t missedFrames = t.missedPackets * kPacketFrames;
        const double notDelivered = static_cast<double>(t.trimmedFrames + missedFrames);
        Print(out, "  %+6.0f | %9" PRIu64 " | %8" PRIu64 " | %9" PRIu64 " | %9.4f | %9" PRIu64 " | %9" PRIu64
                   " | %10.1f | %7.2f %7.2f %7.2f\n",
              t.clock.ppm, t.trimmedFrames, t.missedPackets, missedFrames, 100.0 * notDelivered / sourceFrames,
              t.startUnderruns, t.steadyUnderruns, t.silenceFrames / (kRate / 1000.0),
              t.minQueued / (kRate / 1000.0), t.queuedArea / steadySeconds / (kRate / 1000.0),
              t.maxQueued / (kRate / 1000.0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<TargetClock> clocks = {{-100.0, 0.0013}, {0.0, 0.0041}, {100.0, 0.0079}};
    std::string out;
    out +=
          "Delivery simulation, one simulated hour per run, engine frame-count rule as built.\n"
          "Source: 48 kHz, a 480-frame packet every 10 ms of its clock (the reference).\n"
          "Targets: -100 / 0 / +100 ppm against the source, first device period 1.3 / 4.1 / 7.9 ms after\n"
          "  their start (10 ms after the source's); primed with half a buffer; the first 5 packets dropped;\n"
          "  buffer = 48000 x bufferMs / 1000 frames.\n"
          "Consumption: periodic = the shared-mode engine takes 480 frames every 10 ms of the target's\n"
          "  clock, a period finding fewer than 480 queued frames is an underrun (the rest is silence);\n"
          "  continuous = the target drains at its own rate, the queue running dry is an underrun.\n"
          "Columns: trimmed = packet frames beyond N; missed = packets whose N was 0 or above the room\n"
          "  (render buffer request refused); not deliv = trimmed + missed frames, % of source frames;\n"
          "  silence = frames the device lacked, in ms; lat = queued frames / 48 (min, time-weighted mean,\n"
          "  max) after the first second.\n";
    for (float bufferMs : {30.0f, 10.0f}) {
        for (Consumption consumption : {Consumption::Periodic, Consumption::Continuous}) {
            const Scenario scenario{bufferMs, consumption};
            Report(out, scenario, Run(scenario, clocks));
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
