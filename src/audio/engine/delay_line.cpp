#include "audio/engine/delay_line.h"

#include <algorithm>
#include <cstring>

#include "audio/engine/target_link.h"

uint32_t DelayFrames(int32_t delayMs, uint32_t sampleRate) {
    const int32_t ms = std::clamp(delayMs, int32_t{0}, kMaxTargetDelayMs);
    return static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(ms)} * sampleRate / 1000u);
}

// The ring holds what any read may still reach: a packet's frames are stored
// before any of them is read, at up to the longest delay back.
void DelayLine::Reserve(uint16_t channels, uint32_t maxDelayFrames, uint32_t maxPacketFrames, uint32_t fadeFrames) {
    channels_ = channels;
    maxDelay_ = maxDelayFrames;
    maxFrames_ = maxPacketFrames;
    capacity_ = maxDelayFrames + maxPacketFrames + fadeFrames;
    ring_.assign(static_cast<size_t>(capacity_) * channels, 0.0f);
    out_.assign(static_cast<size_t>(maxPacketFrames) * channels, 0.0f);
    fadeStep_ = 1.0f / static_cast<float>(std::max(fadeFrames, 1u));
}

const float* DelayLine::Process(const float* in, uint32_t frames, uint32_t delayFrames) {
    const uint32_t wanted = std::min(delayFrames, maxDelay_);
    if (now_ == 0) {
        delay_ = wanted;  // nothing was heard yet: no fade
    }
    if (wanted == 0 && delay_ == 0 && gain_ >= 1.0f) {
        now_ += frames;
        heard_ = now_;
        return in;
    }
    if (frames > maxFrames_ || channels_ == 0) {
        return nullptr;
    }
    Store(in, frames);
    for (uint32_t at = 0; at < frames;) {
        at += Step(at, frames - at, wanted);
    }
    now_ += frames;
    return out_.data();
}

void DelayLine::Store(const float* in, uint32_t frames) {
    const uint32_t start = static_cast<uint32_t>(now_ % capacity_);
    const uint32_t first = std::min(frames, capacity_ - start);
    float* ring = ring_.data();
    const auto place = [&](uint32_t to, uint32_t from, uint32_t count) {
        const size_t floats = static_cast<size_t>(count) * channels_;
        if (in) {
            std::memcpy(ring + static_cast<size_t>(to) * channels_, in + static_cast<size_t>(from) * channels_,
                        floats * sizeof(float));
        } else {
            std::fill_n(ring + static_cast<size_t>(to) * channels_, floats, 0.0f);
        }
    };
    place(start, 0, first);
    place(0, first, frames - first);
}

// Output frames from `at` of the packet on: a run of silence (before the
// first frame, or what would be heard again), a run of steady frames, or one
// frame of a fade. Returns how many it wrote (0: it moved to the new delay).
uint32_t DelayLine::Step(uint32_t at, uint32_t count, uint32_t wanted) {
    float* out = out_.data() + static_cast<size_t>(at) * channels_;
    const uint64_t t = now_ + at;
    const uint64_t resume = heard_ + delay_;  // where the old delay plays on
    const bool silent = t < resume;
    if (wanted != delay_ && (silent || gain_ - fadeStep_ < 0.5f * fadeStep_)) {
        // Nothing more is heard at the old delay: its next frame would be
        // silent, and so played for nothing.
        delay_ = wanted;
        gain_ = 0.0f;
        return 0;
    }
    if (silent) {
        const auto frames = static_cast<uint32_t>(std::min<uint64_t>(count, resume - t));
        std::fill_n(out, static_cast<size_t>(frames) * channels_, 0.0f);
        return frames;
    }
    const uint64_t source = t - delay_;
    if (wanted == delay_ && gain_ >= 1.0f) {
        return Copy(source, count, out);
    }
    gain_ = wanted == delay_ ? std::min(1.0f, gain_ + fadeStep_) : std::max(0.0f, gain_ - fadeStep_);
    const float* frame = ring_.data() + static_cast<size_t>(source % capacity_) * channels_;
    for (uint16_t c = 0; c < channels_; ++c) {
        out[c] = frame[c] * gain_;
    }
    heard_ = source + 1;
    return 1;
}

// Up to the end of the ring's storage.
uint32_t DelayLine::Copy(uint64_t source, uint32_t count, float* out) {
    const auto start = static_cast<uint32_t>(source % capacity_);
    const uint32_t frames = std::min(count, capacity_ - start);
    std::memcpy(out, ring_.data() + static_cast<size_t>(start) * channels_,
                static_cast<size_t>(frames) * channels_ * sizeof(float));
    heard_ = source + frames;
    return frames;
}
