#pragma once

// One alignment by microphone: the route paused, a probe played on each
// ticked target in turn while a microphone records, each probe's arrival
// found, three times over, and every target's delay set so that all sound
// together with the latest. The measuring runs on a worker thread of its own;
// the main thread starts it, reads its progress every frame, may cancel it,
// and finishes it (sets the delays, resumes the route) once it is done.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/inventory/endpoint_identity.h"

struct AppState;

inline constexpr float kDefaultProbeDbfs = -20.0f;
inline constexpr float kLowestProbeDbfs = -50.0f;

// What one target's measurement found.
struct AlignedTarget
{
    std::string name;
    std::string eid;
    double arrivalMs = 0.0;  // after the earliest target's, median of the tries
    int32_t delayMs = 0;     // set (or that would have been set)
    double quality = 0.0;    // the weakest try's: its peak over the next highest
};

enum class AlignmentState : uint8_t
{
    Idle,
    Measuring,
    Done,       // measured and applied
    Refused,    // nothing changed; `reason` says why
    Cancelled,  // nothing changed
};

struct AlignmentReport
{
    AlignmentState state = AlignmentState::Idle;
    std::string progress;  // while measuring: what is playing now
    std::string reason;    // when refused
    bool rawMode = false;  // the microphone recorded without its own processing
    std::vector<AlignedTarget> targets;
};

// How many ticked targets an alignment would measure: those that would play
// (the source's own device is left out, as the route leaves it out). Main
// thread.
size_t AlignableTargetCount(const AppState& state);

// Main thread only, except where said.
class AlignmentSession
{
public:
    AlignmentSession() = default;
    ~AlignmentSession();
    AlignmentSession(const AlignmentSession&) = delete;
    AlignmentSession& operator=(const AlignmentSession&) = delete;

    // Pauses the route and starts measuring the ticked targets with the
    // recording device `microphone` (an identity from the source list) at
    // `probeDbfs`. Refuses at once (Refused, with a reason) when fewer than
    // two targets are ticked, the microphone is not listed or belongs to a
    // target. Returns whether the measuring started.
    bool Start(AppState& state, const EndpointIdentity& microphone, float probeDbfs);
    // Stops the measuring; the delays stay as they were, and so does the
    // route unless `resumeRoute` is false (the program is ending).
    void Cancel(AppState& state, bool resumeRoute = true);
    // Once per frame: when the worker is done, applies its delays (or not),
    // resumes the route and logs; a target measured that is no longer
    // listed ends the measuring, refused. Returns the report as it stands.
    const AlignmentReport& Poll(AppState& state);
    bool Busy() const { return report_.state == AlignmentState::Measuring; }

    // What the worker thread and the main thread share.
    struct Shared;

private:
    void Finish(AppState& state);
    void Apply(AppState& state);

    AlignmentReport report_;
    std::shared_ptr<Shared> shared_;
    std::vector<std::pair<std::string, std::string>> measured_;  // name and id of each target measured
    std::thread worker_;
    bool resumeRoute_ = false;
};
