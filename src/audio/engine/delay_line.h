#pragma once

// One target's delay: the source's frames held back by the time the user set
// for the device, so that a device that plays early (or stands nearer) lines
// up with the others. Platform-free. Reserve sizes it off the packet path
// (the redirect thread, as the target opens); Process runs on the packet path
// (the redirect thread), where it allocates nothing, locks nothing and logs
// nothing.
//
// A change of delay is heard without a click: the output fades out at the old
// delay, moves, and fades in at the new one, kDelayFadeMs each way. A longer
// delay never plays again what was heard: the frames it would repeat come out
// as silence, a gap as long as the increase; a shorter one skips ahead.

#include <cstdint>
#include <vector>

inline constexpr uint32_t kDelayFadeMs = 5;

// Frames of delayMs (clamped to 0 .. kMaxTargetDelayMs) at sampleRate.
uint32_t DelayFrames(int32_t delayMs, uint32_t sampleRate);

class DelayLine {
public:
    // Room for delays up to maxDelayFrames and packets up to maxPacketFrames
    // of `channels` interleaved floats; a change fades over fadeFrames.
    void Reserve(uint16_t channels, uint32_t maxDelayFrames, uint32_t maxPacketFrames, uint32_t fadeFrames);

    // Takes `frames` frames of `in` (null: silence) and returns as many
    // frames delayed by delayFrames (at most the reserved delay; the first
    // call's delay holds from the start). At no delay, with no change under
    // way, returns `in` itself. Otherwise the frames are valid until the next
    // call; null (silence) for more frames than reserved.
    const float* Process(const float* in, uint32_t frames, uint32_t delayFrames);

private:
    void Store(const float* in, uint32_t frames);
    uint32_t Step(uint32_t at, uint32_t count, uint32_t wanted);
    uint32_t Copy(uint64_t source, uint32_t count, float* out);

    std::vector<float> ring_;
    std::vector<float> out_;
    uint16_t channels_ = 0;
    uint32_t capacity_ = 0;  // frames in ring_
    uint32_t maxDelay_ = 0;
    uint32_t maxFrames_ = 0;
    float fadeStep_ = 1.0f;
    float gain_ = 1.0f;      // of the fade, 1: none under way
    uint32_t delay_ = 0;     // the delay the output is read at now
    uint64_t now_ = 0;       // frames taken in so far
    uint64_t heard_ = 0;     // source frames played so far (the next to play)
};
