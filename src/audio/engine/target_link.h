#pragma once

// One playback endpoint's row and its stream, joined without a lock. The
// main thread sets the delay and volume the user chose for the device; the
// redirect thread reads them once per packet and publishes what the target
// is doing, at most once per packet, for the health light. Platform-free.
//
// Lifetime: AppState::targetLinks holds one link per playback endpoint id,
// made by the main thread under selectionMutex as the lists are installed;
// a run takes its own reference when it opens the target, so a link outlives
// a listing that drops its device.

#include <atomic>
#include <cstdint>

#include "audio/inventory/endpoint_identity.h"

inline constexpr int32_t kMaxTargetDelayMs = 500;
inline constexpr float kDefaultTargetVolume = 100.0f;  // percent of the source's volume

// What the user set for one device.
struct TargetTuning
{
    int32_t delayMs = 0;                   // 0 .. kMaxTargetDelayMs
    float volume = kDefaultTargetVolume;  // 0 .. 100 %, multiplies the source's gain

    bool IsDefault() const { return delayMs == 0 && volume == kDefaultTargetVolume; }
    friend bool operator==(const TargetTuning&, const TargetTuning&) = default;
};

// A stored tuning and the device it belongs to, matched to the lists by the
// same rules as the saved targets.
struct TunedEndpoint
{
    EndpointIdentity identity;
    TargetTuning tuning;

    friend bool operator==(const TunedEndpoint&, const TunedEndpoint&) = default;
};

// How the run sees the target, as the redirect thread last said.
enum class TargetRunState : uint8_t
{
    NotRouting,  // no run has it open
    Playing,     // open in the running route
    Lost,        // the system took its stream away in this run
};

struct TargetLink
{
    // Written by the main thread, read by the redirect thread.
    std::atomic<int32_t> delayMs{0};
    std::atomic<float> volume{kDefaultTargetVolume};

    // Written by the redirect thread (relaxed, once per packet at most),
    // read by the main thread. The counters run from the target's opening;
    // a new run starts them again from 0.
    std::atomic<TargetRunState> runState{TargetRunState::NotRouting};
    std::atomic<uint32_t> queuedFrames{0};
    std::atomic<uint32_t> cushionFrames{0};
    std::atomic<uint32_t> streamLatencyFrames{0};  // IAudioClient::GetStreamLatency, at the rate below
    std::atomic<uint32_t> sampleRate{0};           // the stream's frames per second
    std::atomic<uint16_t> channels{0};
    std::atomic<uint16_t> bitsPerSample{0};
    std::atomic<bool> floatSamples{false};
    std::atomic<int32_t> ratePpm{0};               // the rate correction asked for
    std::atomic<uint32_t> topUps{0};               // silences that brought it back
    std::atomic<uint32_t> dryRuns{0};
    std::atomic<uint64_t> framesTrimmed{0};        // left out by the frame count
    std::atomic<uint32_t> packetsMissed{0};        // packets it could not take
    // steady_clock nanoseconds: when a packet last came for it, and when its
    // stream last took frames (set to the opening time at first).
    std::atomic<int64_t> lastPacketNs{0};
    std::atomic<int64_t> lastWrittenNs{0};

    TargetTuning Tuning() const { return {delayMs.load(), volume.load()}; }
    void SetTuning(const TargetTuning& tuning)
    {
        delayMs.store(tuning.delayMs);
        volume.store(tuning.volume);
    }
};
