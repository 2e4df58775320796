#include "ui/target_health.h"

#include <cinttypes>
#include <cstdio>

namespace
{
constexpr int64_t kStumbleSpanNs = 10 * kNsPerSecond;
constexpr int64_t kMinuteNs = 60 * kNsPerSecond;
constexpr uint32_t kQueueMarginMs = 20;

CounterSample CountersOf(const TargetFigures& figures, int64_t atNs)
{
    return {atNs, figures.topUps, figures.dryRuns, figures.framesTrimmed, figures.packetsMissed};
}

bool AnyBelow(const CounterSample& now, const CounterSample& before)
{
    return now.topUps < before.topUps || now.dryRuns < before.dryRuns || now.framesTrimmed < before.framesTrimmed ||
           now.packetsMissed < before.packetsMissed;
}

// What a counter added since `before`; all of it when it fell (a new run
// the history has not seen yet).
uint64_t Rise(uint64_t now, uint64_t before)
{
    return now >= before ? now - before : now;
}

uint32_t FramesToMs(uint64_t frames, uint32_t rate)
{
    return rate == 0 ? 0 : static_cast<uint32_t>((frames * 1000 + rate / 2) / rate);
}

bool Stalled(const TargetFigures& figures, int64_t nowNs)
{
    const bool packetsCome = figures.lastPacketNs != 0 && nowNs - figures.lastPacketNs <= kNsPerSecond;
    return packetsCome && nowNs - figures.lastWrittenNs > kNsPerSecond;
}

bool QueueHigh(const TargetFigures& figures)
{
    const uint64_t margin = static_cast<uint64_t>(figures.sampleRate) * kQueueMarginMs / 1000;
    return figures.sampleRate != 0 && figures.queuedFrames > figures.cushionFrames + margin;
}

// What the run itself says, once the row is ticked in a running route.
TargetHealth JudgeRun(const TargetFigures& figures, const HealthHistory& history, int64_t nowNs)
{
    if (figures.runState == TargetRunState::Lost)
    {
        return {HealthLight::Red, HealthReason::Lost};
    }
    if (figures.runState == TargetRunState::NotRouting)
    {
        return {HealthLight::Grey, HealthReason::NotOpen};
    }
    if (Stalled(figures, nowNs))
    {
        return {HealthLight::Red, HealthReason::Stalled};
    }
    const CounterSample recent = history.Since(figures, kStumbleSpanNs, nowNs);
    const CounterSample now = CountersOf(figures, nowNs);
    if (now.topUps != recent.topUps || now.dryRuns != recent.dryRuns || now.framesTrimmed != recent.framesTrimmed ||
        now.packetsMissed != recent.packetsMissed)
    {
        return {HealthLight::Amber, HealthReason::Stumbled};
    }
    if (QueueHigh(figures))
    {
        return {HealthLight::Amber, HealthReason::QueueHigh};
    }
    return {HealthLight::Green, HealthReason::Playing};
}

const char* ReasonText(HealthReason reason)
{
    switch (reason)
    {
    case HealthReason::NotTicked: return "Not ticked";
    case HealthReason::NotRouting: return "Not routing";
    case HealthReason::NotOpen: return "Not playing in this route";
    case HealthReason::LeftOut: return "Failed: left out until the next device change or Start";
    case HealthReason::Lost: return "Failed: the system took its stream away";
    case HealthReason::Stalled: return "Stalled: sound comes for it but the device takes none";
    case HealthReason::Stumbled: return "Unsteady: a gap, a trim or a missed packet in the last 10 s";
    case HealthReason::QueueHigh: return "Lagging: the queue stands far above the cushion";
    case HealthReason::Playing: return "Playing";
    }
    return "";
}

template <typename... Args>
std::string Format(const char* format, Args... args)
{
    char line[128];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

const char* Plural(uint64_t count, const char* one, const char* many)
{
    return count == 1 ? one : many;
}

std::string FormatLine(const TargetFigures& figures)
{
    return Format("Format: %" PRIu32 " Hz, %u %s, %u-bit %s", figures.sampleRate, unsigned{figures.channels},
                  Plural(figures.channels, "channel", "channels"), unsigned{figures.bitsPerSample},
                  figures.floatSamples ? "float" : "integer");
}

std::string HeardLine(const TargetFigures& figures)
{
    const uint32_t cushion = FramesToMs(figures.cushionFrames, figures.sampleRate);
    const uint32_t stream = FramesToMs(figures.streamLatencyFrames, figures.sampleRate);
    const int32_t delay = figures.delayMs;
    return Format("Heard after %" PRId64 " ms: cushion %" PRIu32 " + stream %" PRIu32 " + delay %" PRId32,
                  int64_t{cushion} + stream + delay, cushion, stream, delay);
}

std::string MinuteLine(const TargetFigures& figures, const HealthHistory& history, int64_t nowNs)
{
    const CounterSample before = history.Since(figures, kMinuteNs, nowNs);
    const uint64_t gaps = Rise(figures.dryRuns, before.dryRuns);
    const uint64_t trimmed = Rise(figures.framesTrimmed, before.framesTrimmed);
    return Format("Last minute: %" PRIu64 " %s, %" PRIu64 " %s trimmed", gaps, Plural(gaps, "gap", "gaps"), trimmed,
                  Plural(trimmed, "frame", "frames"));
}
}  // namespace

TargetFigures ReadFigures(const TargetLink& link)
{
    constexpr auto relaxed = std::memory_order_relaxed;
    TargetFigures figures;
    figures.runState = link.runState.load(relaxed);
    figures.queuedFrames = link.queuedFrames.load(relaxed);
    figures.cushionFrames = link.cushionFrames.load(relaxed);
    figures.streamLatencyFrames = link.streamLatencyFrames.load(relaxed);
    figures.sampleRate = link.sampleRate.load(relaxed);
    figures.channels = link.channels.load(relaxed);
    figures.bitsPerSample = link.bitsPerSample.load(relaxed);
    figures.floatSamples = link.floatSamples.load(relaxed);
    figures.ratePpm = link.ratePpm.load(relaxed);
    figures.topUps = link.topUps.load(relaxed);
    figures.dryRuns = link.dryRuns.load(relaxed);
    figures.framesTrimmed = link.framesTrimmed.load(relaxed);
    figures.packetsMissed = link.packetsMissed.load(relaxed);
    figures.lastPacketNs = link.lastPacketNs.load(relaxed);
    figures.lastWrittenNs = link.lastWrittenNs.load(relaxed);
    figures.delayMs = link.delayMs.load(relaxed);
    return figures;
}

void HealthHistory::Push(const CounterSample& sample)
{
    ring[next] = sample;
    next = (next + 1) % kSlots;
    count = count < kSlots ? count + 1 : kSlots;
}

void HealthHistory::Note(const TargetFigures& figures, int64_t nowNs)
{
    const CounterSample now = CountersOf(figures, nowNs);
    if (figures.runState != TargetRunState::Playing)
    {
        count = 0;
        return;
    }
    if (count == 0 || AnyBelow(now, Newest()))
    {
        count = 0;
        Push(CounterSample{nowNs, 0, 0, 0, 0});
        return;
    }
    if (nowNs - Newest().atNs >= kNsPerSecond)
    {
        Push(now);
    }
}

CounterSample HealthHistory::Since(const TargetFigures& figures, int64_t spanNs, int64_t nowNs) const
{
    if (count == 0)
    {
        return CountersOf(figures, nowNs);
    }
    for (size_t i = 0; i < count; ++i)
    {
        const CounterSample& sample = ring[(next + kSlots - count + i) % kSlots];
        if (nowNs - sample.atNs <= spanNs)
        {
            return sample;
        }
    }
    return Newest();
}

TargetHealth JudgeTarget(const TargetFigures& figures, const HealthHistory& history, const RowSituation& row)
{
    if (!row.ticked)
    {
        return {HealthLight::Grey, HealthReason::NotTicked};
    }
    if (!row.routing)
    {
        return {HealthLight::Grey, HealthReason::NotRouting};
    }
    if (row.leftOut)
    {
        return {HealthLight::Red, HealthReason::LeftOut};
    }
    return JudgeRun(figures, history, row.nowNs);
}

std::vector<std::string> HealthLines(const TargetHealth& health, const TargetFigures& figures,
                                     const HealthHistory& history, int64_t nowNs)
{
    std::vector<std::string> lines{ReasonText(health.reason)};
    if (health.light == HealthLight::Grey || figures.runState == TargetRunState::NotRouting || figures.sampleRate == 0)
    {
        return lines;
    }
    lines.push_back(Format("Queue %" PRIu32 " ms (cushion %" PRIu32 " ms)",
                           FramesToMs(figures.queuedFrames, figures.sampleRate),
                           FramesToMs(figures.cushionFrames, figures.sampleRate)));
    lines.push_back(figures.ratePpm == 0 ? std::string("Rate 0 ppm") : Format("Rate %+" PRId32 " ppm", figures.ratePpm));
    lines.push_back(MinuteLine(figures, history, nowNs));
    lines.push_back(FormatLine(figures));
    lines.push_back(HeardLine(figures));
    return lines;
}

LightColour ColourOf(HealthLight light)
{
    switch (light)
    {
    case HealthLight::Grey: return {110, 122, 133};
    case HealthLight::Green: return {72, 199, 116};
    case HealthLight::Amber: return {240, 176, 48};
    case HealthLight::Red: return {235, 77, 75};
    }
    return {};
}

std::string TrayTip(bool routing, size_t healthy, size_t lit)
{
    if (!routing || lit == 0)
    {
        return "Tonefork";
    }
    return Format("Tonefork - %zu of %zu %s healthy", healthy, lit, Plural(lit, "target", "targets"));
}
