#include "audio/engine/soft_clip.h"

#include <algorithm>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define TONEFORK_SSE2_CURVE 1
#endif

namespace {

constexpr float kKneeLevel = 0.9f;

#ifdef TONEFORK_SSE2_CURVE
// SoftClip on four samples, with the same bits. The processor's own min and
// max treat NaN as the comparisons in SoftClip do (the second operand wins),
// and three steps are cheaper here than there:
// - The excess is first raised to 0, so that a sample at or under the knee
//   comes out of the curve at 0.9; the lesser of curve and magnitude then
//   selects, as past the knee the curve lies under the magnitude. NaN's
//   excess becomes 0 as well; NaN is zeroed at the end.
// - excess / 0.1f is excess * 10: under the width the excess is n * 2^-24
//   with n < 0.1 * 2^24, so ten times it is a float, and the quotient by
//   0.1f (a hair above 0.1) lies less than half a step under it. From the
//   width up both are at least 1, and t is 1 either way.
// - SoftClip's final clamp is left out: the curve stays under the ceiling,
//   a sample at or under the knee is far from it, and NaN is zeroed anyway.
// The quotient by 6 stays a division: the product with a rounded 1/6 misses
// by a step now and then, and a product in double precision, exact as well,
// costs more in conversions than divps does. Checked against SoftClip for
// every one of the 2^32 bit patterns.
__m128 SoftClip4(__m128 x) {
    const __m128 knee = _mm_set1_ps(kKneeLevel);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
    const __m128 excess = _mm_max_ps(_mm_sub_ps(magnitude, knee), _mm_setzero_ps());
    const __m128 t = _mm_min_ps(_mm_mul_ps(excess, _mm_set1_ps(10.0f)), one);
    __m128 shaped = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, t), excess), knee);
    shaped = _mm_add_ps(shaped, _mm_mul_ps(_mm_div_ps(excess, _mm_set1_ps(6.0f)), t));
    shaped = _mm_min_ps(shaped, _mm_set1_ps(0.999f));
    const __m128 y = _mm_or_ps(_mm_min_ps(magnitude, shaped), _mm_xor_ps(x, magnitude));
    // All ones for a number, all zeros for NaN: NaN leaves as +0.
    return _mm_and_ps(y, _mm_cmpord_ps(x, x));
}

// All ones where a sample lies beyond the knee or is not a number (a
// comparison that NaN fails counts it as beyond).
__m128 BeyondKnee(__m128 y) {
    return _mm_cmpnle_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), y), _mm_set1_ps(kKneeLevel));
}

void ScaleAndShapeFour(const float* in, float* out, __m128 scale) {
    _mm_storeu_ps(out, SoftClip4(_mm_mul_ps(_mm_loadu_ps(in), scale)));
}
#endif

// Writes the scaled copy up to the first group of eight that reaches the
// knee (or holds a NaN) and returns where that group starts: most packets
// never reach it and cost just this copy, one test for every eight samples.
size_t ScaleUpToKnee(const float* in, float* out, size_t sampleCount, float gain) {
    size_t k = 0;
#ifdef TONEFORK_SSE2_CURVE
    const __m128 scale = _mm_set1_ps(gain);
    for (; k + 8 <= sampleCount; k += 8) {
        const __m128 low = _mm_mul_ps(_mm_loadu_ps(in + k), scale);
        const __m128 high = _mm_mul_ps(_mm_loadu_ps(in + k + 4), scale);
        if (_mm_movemask_ps(_mm_or_ps(BeyondKnee(low), BeyondKnee(high))) != 0) {
            break;
        }
        _mm_storeu_ps(out + k, low);
        _mm_storeu_ps(out + k + 4, high);
    }
#else
    for (; k < sampleCount && std::fabs(in[k] * gain) <= kKneeLevel; ++k) {
        out[k] = in[k] * gain;
    }
#endif
    return k;
}

// The scaled curve for every sample, with no test: a packet that reaches the
// knee once usually does again, in an order no branch predicts (noise).
// Two groups a turn keep more of the curve's long chain in flight.
void ScaleAndShape(const float* in, float* out, size_t sampleCount, float gain) {
    size_t k = 0;
#ifdef TONEFORK_SSE2_CURVE
    const __m128 scale = _mm_set1_ps(gain);
    for (; k + 8 <= sampleCount; k += 8) {
        ScaleAndShapeFour(in + k, out + k, scale);
        ScaleAndShapeFour(in + k + 4, out + k + 4, scale);
    }
    for (; k + 4 <= sampleCount; k += 4) {
        ScaleAndShapeFour(in + k, out + k, scale);
    }
#endif
    for (; k < sampleCount; ++k) {
        out[k] = SoftClip(in[k] * gain);
    }
}

}  // namespace

float GainFromVolume(float volumePercent) {
    return (volumePercent / 100.0f) * 2.0f;
}

float TargetGain(float sourceGain, float targetVolumePercent) {
    const float volume = targetVolumePercent == targetVolumePercent ? targetVolumePercent : 100.0f;
    return sourceGain * (std::clamp(volume, 0.0f, 100.0f) / 100.0f);
}

void ApplyGainSoftClip(const float* in, float* out, size_t sampleCount, float gain) {
    // Each sample is read before its own slot is written, so in == out is safe.
    const size_t quiet = ScaleUpToKnee(in, out, sampleCount, gain);
    ScaleAndShape(in + quiet, out + quiet, sampleCount - quiet, gain);
}
