#pragma once

#include <cmath>
#include <cstddef>

// Gain and soft clipper of the packet path. Pure functions: any thread may call
// them; the redirect thread calls them for every delivered packet, so they
// allocate nothing.

// Shapes one sample: values up to the knee pass unchanged, the next 0.1 blends
// into a gentle slope, and the result never leaves -0.999 .. 0.999. An
// infinity maps to the ceiling of its sign; NaN maps to 0, so that one bad
// sample is a click rather than a level stuck at full scale. Every step is a 32-bit float
// operation, in a fixed order, so that the curve is the same on every build.
// Written without branches (the curve is computed for every value and then
// selected) so that a loop over it vectorises; defined here so that the
// conversion loops can inline it.
inline float SoftClip(float x) {
    constexpr float kKnee = 0.9f;
    constexpr float kWidth = 0.1f;
    constexpr float kSlopeDivisor = 6.0f;
    constexpr float kCeiling = 0.999f;

    const float magnitude = std::fabs(x);
    const float excess = magnitude - kKnee;
    const float ramp = excess / kWidth;
    const float t = ramp < 1.0f ? ramp : 1.0f;
    float shaped = (1.0f - t) * excess + kKnee;
    shaped = shaped + (excess / kSlopeDivisor) * t;
    // An infinite input makes shaped NaN here; the comparison sends it to
    // the ceiling.
    shaped = shaped < kCeiling ? shaped : kCeiling;
    const float y = magnitude > kKnee ? std::copysign(shaped, x) : x;
    const float upper = y < kCeiling ? y : kCeiling;
    const float clamped = upper > -kCeiling ? upper : -kCeiling;
    // The comparisons above send NaN to the ceiling; only a number equals
    // itself.
    return x == x ? clamped : 0.0f;
}

// 50 % is unity gain, 100 % doubles the signal.
float GainFromVolume(float volumePercent);

// A target's gain: the source's, scaled by the target's own volume (percent
// of the source's, 0 .. 100; beyond that clamped, not a number taken as 100).
float TargetGain(float sourceGain, float targetVolumePercent);

// out[k] = SoftClip(gain * in[k]) for sampleCount samples. in may equal out;
// other overlaps are not supported. Most packets never reach the knee: they
// cost one scaled copy; from the first group of eight samples with one beyond
// the knee (or not a number) on, the packet goes through the curve instead.
void ApplyGainSoftClip(const float* in, float* out, size_t sampleCount, float gain);
