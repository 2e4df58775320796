#pragma once

// The health light beside each target row, and the tray's count of healthy
// targets: what the redirect thread last published about a target
// (target_link.h), weighed against the main thread's own short history of
// its counters. Apart from the toolkit so that it can be checked on its own.
// Main thread only (each history belongs to the thread that fills it).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/target_link.h"

inline constexpr int64_t kNsPerSecond = 1'000'000'000;

// A plain copy of a link's figures, with the delay the user set.
struct TargetFigures
{
    TargetRunState runState = TargetRunState::NotRouting;
    uint32_t queuedFrames = 0;
    uint32_t cushionFrames = 0;
    uint32_t streamLatencyFrames = 0;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    bool floatSamples = false;
    int32_t ratePpm = 0;
    uint32_t topUps = 0;
    uint32_t dryRuns = 0;
    uint64_t framesTrimmed = 0;
    uint32_t packetsMissed = 0;
    int64_t lastPacketNs = 0;   // steady_clock, as the link has them
    int64_t lastWrittenNs = 0;
    int32_t delayMs = 0;
};

// Each field loaded once; the figures of one packet may mix with the next.
TargetFigures ReadFigures(const TargetLink& link);

// The counters that say a target stumbled, at one moment.
struct CounterSample
{
    int64_t atNs = 0;
    uint32_t topUps = 0;
    uint32_t dryRuns = 0;
    uint64_t framesTrimmed = 0;
    uint32_t packetsMissed = 0;
};

// A minute of one target's counters, one sample a second at most. A run
// begins from counters of 0, so a history begun for a new run starts with a
// zero sample: what the run did before the first look still counts.
class HealthHistory
{
public:
    // Starts again when the target is not playing or a counter fell (a new
    // run); otherwise keeps the figures when the last sample is a second old.
    void Note(const TargetFigures& figures, int64_t nowNs);
    // The oldest sample taken within `spanNs` before `nowNs` (the newest
    // when none is that young; the figures themselves when there is none).
    CounterSample Since(const TargetFigures& figures, int64_t spanNs, int64_t nowNs) const;

private:
    // 64 samples at least a second apart span more than the minute asked.
    static constexpr size_t kSlots = 64;
    std::array<CounterSample, kSlots> ring{};
    size_t count = 0;
    size_t next = 0;

    const CounterSample& Newest() const { return ring[(next + kSlots - 1) % kSlots]; }
    void Push(const CounterSample& sample);
};

enum class HealthLight : uint8_t
{
    Grey,   // not in a running route
    Green,  // playing steadily
    Amber,  // playing, but it stumbled in the last 10 s or lags far behind
    Red,    // failed, or its device takes nothing while sound comes for it
};

// Why the light shows its colour: the tooltip's first line.
enum class HealthReason : uint8_t
{
    NotTicked,
    NotRouting,
    NotOpen,
    LeftOut,
    Lost,
    Stalled,
    Stumbled,
    QueueHigh,
    Playing,
};

struct TargetHealth
{
    HealthLight light = HealthLight::Grey;
    HealthReason reason = HealthReason::NotRouting;
};

// What the main thread knows of the row beside the link's figures.
struct RowSituation
{
    bool ticked = false;
    bool routing = false;  // a route runs
    bool leftOut = false;  // the route left it out after it failed again
    int64_t nowNs = 0;     // steady_clock
};

// Grey out of a route; red when left out, lost, or when packets came for it
// within the last second but its stream took nothing for over a second (a
// quiet source alone sends no packets and is not red); amber when a counter
// rose within 10 s or the queue stands over 20 ms above the cushion; green
// otherwise.
TargetHealth JudgeTarget(const TargetFigures& figures, const HealthHistory& history, const RowSituation& row);

// The tooltip: why the colour, then, for a target a run has opened, its
// queue, rate correction, the last minute's gaps and trims, its format and
// how late the listener hears it (cushion + stream latency + set delay).
std::vector<std::string> HealthLines(const TargetHealth& health, const TargetFigures& figures,
                                     const HealthHistory& history, int64_t nowNs);

// Colours that read on the window's dark style, 0..255.
struct LightColour
{
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};
LightColour ColourOf(HealthLight light);

// The tray icon's tip: "Tonefork" when no route runs or no target has a
// lit light, else how many of the lit ones are green.
std::string TrayTip(bool routing, size_t healthy, size_t lit);
