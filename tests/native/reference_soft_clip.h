#pragma once

#include <cmath>
#include <cstddef>

// The packet kernel as it was first written: one branchy pass, one sample at
// a time. The tests hold the faster kernel to its results bit for bit, and
// the kernel benchmark measures against it in the same run.
inline float ReferenceSoftClip(float x) {
    float y = x;
    const float magnitude = std::fabs(x);
    if (magnitude > 0.9f) {
        const float excess = magnitude - 0.9f;
        const float ramp = excess / 0.1f;
        const float t = ramp < 1.0f ? ramp : 1.0f;
        float shaped = (1.0f - t) * excess + 0.9f;
        shaped = shaped + (excess / 6.0f) * t;
        shaped = shaped < 0.999f ? shaped : 0.999f;
        y = std::copysign(shaped, x);
    }
    const float upper = y < 0.999f ? y : 0.999f;
    return upper > -0.999f ? upper : -0.999f;
}

// What the kernel must give for one sample: the reference, except that NaN
// is now silence (+0) where it used to leave as the ceiling. The benchmark
// keeps measuring the reference itself.
inline float ExpectedSoftClip(float x) {
    return std::isnan(x) ? 0.0f : ReferenceSoftClip(x);
}

inline void ReferenceGainSoftClip(const float* in, float* out, size_t sampleCount, float gain) {
    for (size_t k = 0; k < sampleCount; ++k) {
        out[k] = ReferenceSoftClip(in[k] * gain);
    }
}
