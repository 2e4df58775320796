#pragma once

// A target's rate where its stream has none to set: a stream offers
// IAudioClockAdjustment only when it was opened shared with
// AUDCLNT_STREAMFLAGS_RATEADJUST and the system supports it
// (learn.microsoft.com/en-us/windows/win32/api/audioclient/
// nn-audioclient-iaudioclockadjustment). Leaving whole chunks of packets
// out to keep the queue would be heard as a click each time; playing the
// frames a little faster or slower (at most kMaxRateDeviation, 17 cents) is
// not.
// Platform-free; Reserve runs as the target opens, Process on the packet
// path (the redirect thread), where it allocates nothing.

#include <cstdint>
#include <vector>

#include "audio/engine/rate_controller.h"

class SoftRate {
public:
    // Room for packets up to maxFrames frames of `channels` interleaved floats.
    void Reserve(uint16_t channels, uint32_t maxFrames);

    // The most frames Process gives for `frames` frames in at `rate` (by
    // default, at any rate within kMaxRateDeviation).
    static uint32_t MostOut(uint32_t frames, double rate = 1.0 - kMaxRateDeviation);

    // Takes `frames` frames of `in` (null: silence) and returns the frames
    // they make at `rate` (above 1: fewer, played sooner), valid until the
    // next call; `outFrames` says how many. The frames follow on from the
    // last call's without a seam. At the nominal rate they are the frames
    // taken in: until another rate was played, `in` itself (null: silence);
    // from then on one or two behind, as the cubic reads two ahead. Null and
    // no frames for more frames than reserved.
    const float* Process(const float* in, uint32_t frames, double rate, uint32_t& outFrames);

    // The count alone, as Process would give it (for the simulation, which
    // moves no samples).
    uint32_t Advance(uint32_t frames, double rate);

private:
    bool ReadsOwnFrames(double rate);
    float At(const float* in, int64_t frame, uint16_t channel) const;
    void KeepTail(const float* in, uint32_t frames);

    std::vector<float> out_;
    std::vector<float> tail_;  // the last frames taken in, oldest first
    uint16_t channels_ = 0;
    uint32_t maxFrames_ = 0;
    double phase_ = 0.0;  // where the next frame is read: 0 is the next packet's first
};
