#include "audio/engine/soft_rate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {
// Frames kept from the last call: the cubic reads one frame before and two
// after the point it is read at.
constexpr uint32_t kTailFrames = 3;

// A cubic through four neighbouring frames (Catmull-Rom): it passes through
// the frames themselves, so at whole positions it copies, and up to a
// quarter of the rate (12 kHz at 48 kHz) it loses less than a tenth of a
// decibel; cheap enough for every packet of every target.
float Cubic(float before, float at, float next, float after, float t) {
    return at + 0.5f * t *
                    (next - before +
                     t * (2.0f * before - 5.0f * at + 4.0f * next - after + t * (3.0f * (at - next) + after - before)));
}

double Bounded(double rate) {
    return std::clamp(rate, 1.0 - kMaxRateDeviation, 1.0 + kMaxRateDeviation);
}
}  // namespace

void SoftRate::Reserve(uint16_t channels, uint32_t maxFrames) {
    channels_ = channels;
    maxFrames_ = maxFrames;
    out_.assign(static_cast<size_t>(MostOut(maxFrames)) * channels, 0.0f);
    tail_.assign(static_cast<size_t>(kTailFrames) * channels, 0.0f);
    phase_ = 0.0;
}

// The reading never stands more than two frames before the packet's first,
// so a packet gives at most its frames over the rate.
uint32_t SoftRate::MostOut(uint32_t frames, double rate) {
    return static_cast<uint32_t>(std::ceil(frames / Bounded(rate)));
}

// Frame `frame` of the tail and the packet together (0: the packet's first).
float SoftRate::At(const float* in, int64_t frame, uint16_t channel) const {
    if (frame < 0) {
        return tail_[static_cast<size_t>(frame + kTailFrames) * channels_ + channel];
    }
    return in ? in[static_cast<size_t>(frame) * channels_ + channel] : 0.0f;
}

// At the nominal rate the frames are read at whole positions, which the
// cubic copies: back to it, the reading moves to the nearest one (half a
// frame at most). Until another rate was played, the frames are the
// packet's own.
bool SoftRate::ReadsOwnFrames(double rate) {
    if (rate == 1.0) {
        phase_ = std::round(phase_);
    }
    return rate == 1.0 && phase_ == 0.0;
}

// Frames are read at every `rate` frames from the phase on, while the cubic
// still finds two frames after the point.
uint32_t SoftRate::Advance(uint32_t frames, double rate) {
    rate = Bounded(rate);
    if (ReadsOwnFrames(rate)) {
        return frames;
    }
    const double ahead = static_cast<double>(frames) - 2.0 - phase_;
    const auto count = ahead > 0.0 ? static_cast<uint32_t>(std::ceil(ahead / rate)) : 0u;
    const uint32_t out = std::min(count, MostOut(frames, rate));
    // Never further back than the tail reaches, whatever the rounding.
    phase_ = std::max(phase_ + out * rate - frames, -2.0);
    return out;
}

const float* SoftRate::Process(const float* in, uint32_t frames, double rate, uint32_t& outFrames) {
    outFrames = 0;
    if (channels_ == 0 || frames > maxFrames_) {
        return nullptr;
    }
    rate = Bounded(rate);
    const bool own = ReadsOwnFrames(rate);
    const double from = phase_;
    outFrames = Advance(frames, rate);
    for (uint32_t n = 0; n < outFrames && !own; ++n) {
        const double at = from + n * rate;
        const auto whole = static_cast<int64_t>(std::floor(at));
        const auto t = static_cast<float>(at - static_cast<double>(whole));
        float* frame = out_.data() + static_cast<size_t>(n) * channels_;
        for (uint16_t c = 0; c < channels_; ++c) {
            frame[c] = Cubic(At(in, whole - 1, c), At(in, whole, c), At(in, whole + 1, c), At(in, whole + 2, c), t);
        }
    }
    KeepTail(in, frames);
    return own ? in : out_.data();
}

// The tail moves on by what came in: older frames give way.
void SoftRate::KeepTail(const float* in, uint32_t frames) {
    const uint32_t fromIn = std::min(frames, kTailFrames);
    const size_t stride = channels_;
    std::copy(tail_.begin() + static_cast<std::ptrdiff_t>(fromIn * stride), tail_.end(), tail_.begin());
    float* kept = tail_.data() + (kTailFrames - fromIn) * stride;
    if (in) {
        std::copy_n(in + (frames - fromIn) * stride, fromIn * stride, kept);
    } else {
        std::fill_n(kept, fromIn * stride, 0.0f);
    }
}
