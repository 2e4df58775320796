#pragma once

// What the tries of an alignment come to: each target's arrival (the median
// of its tries) after the earliest one, and the delay that makes it sound
// with the latest. Refused, with the reason a user reads, when a probe was
// not heard, a target's tries disagree, or a delay would be longer than a
// target can hold. Pure; any thread.

#include <cstdint>
#include <string>
#include <vector>

// One target's tries: the arrivals found (ms, in any common time base) and
// each try's quality; `heard` is false when a try found no probe.
struct TargetTries
{
    std::string name;
    std::vector<double> arrivalsMs;
    std::vector<double> qualities;
    bool heard = true;
};

struct AlignmentPlan
{
    bool ok = false;
    std::string reason;                // when not ok
    std::vector<double> relativeMs;    // median arrival after the earliest target's
    std::vector<int32_t> delaysMs;     // to set, 0 .. maxDelayMs
    std::vector<double> quality;       // the weakest try's
};

// Tries of one target further apart than this (ms) are not one arrival.
inline constexpr double kMaxTriesSpreadMs = 2.0;

AlignmentPlan PlanAlignment(const std::vector<TargetTries>& targets, int32_t maxDelayMs);

// Whether the recording device `microphone` hears the playback device
// `target` straight from its output rather than through the air: a sound
// server's monitor of it ("Monitor of <target's description>", as
// PulseAudio, and so Wine, names them).
bool MicrophoneIsTargetsOwn(const std::wstring& microphone, const std::wstring& target);
