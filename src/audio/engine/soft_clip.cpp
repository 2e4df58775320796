#include "audio/engine/soft_clip.h"

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define TONEFORK_SSE2_CURVE 1
#endif

namespace {

constexpr float kKneeLevel = 0.9f;

// The scaled copy, and whether any sample of it lies beyond the knee or is
// not a number (a comparison that NaN fails counts it as beyond). The flag
// is gathered without a branch so that the loop vectorises.
bool ScaleAndFindKnee(const float* in, float* out, size_t sampleCount, float gain) {
    int beyond = 0;
    for (size_t k = 0; k < sampleCount; ++k) {
        const float y = in[k] * gain;
        out[k] = y;
        beyond |= static_cast<int>(!(std::fabs(y) <= kKneeLevel));
    }
    return beyond != 0;
}

#ifdef TONEFORK_SSE2_CURVE
// SoftClip on four samples with the processor's own min and max, whose
// handling of NaN (the second operand wins) is exactly that of the
// comparisons in SoftClip: the results are the same bits. The compiler's
// own vectorisation of SoftClip needs three times the instructions, as it
// may not assume that.
__m128 SoftClip4(__m128 x) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 knee = _mm_set1_ps(0.9f);
    const __m128 ceiling = _mm_set1_ps(0.999f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 magnitude = _mm_andnot_ps(sign, x);
    const __m128 excess = _mm_sub_ps(magnitude, knee);
    const __m128 t = _mm_min_ps(_mm_div_ps(excess, _mm_set1_ps(0.1f)), one);
    __m128 shaped = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, t), excess), knee);
    shaped = _mm_add_ps(shaped, _mm_mul_ps(_mm_div_ps(excess, _mm_set1_ps(6.0f)), t));
    shaped = _mm_min_ps(shaped, ceiling);
    const __m128 curved = _mm_or_ps(shaped, _mm_and_ps(sign, x));
    const __m128 beyond = _mm_cmpgt_ps(magnitude, knee);
    const __m128 y = _mm_or_ps(_mm_and_ps(beyond, curved), _mm_andnot_ps(beyond, x));
    const __m128 clamped = _mm_max_ps(_mm_min_ps(y, ceiling), _mm_sub_ps(_mm_setzero_ps(), ceiling));
    // All ones for a number, all zeros for NaN: NaN leaves as +0.
    return _mm_and_ps(clamped, _mm_cmpord_ps(x, x));
}
#endif

// Samples up to the knee come out of the curve as they went in, so only the
// groups of four that hold one beyond it (or a NaN) need the curve.
void ShapeInPlace(float* samples, size_t sampleCount) {
    size_t k = 0;
#ifdef TONEFORK_SSE2_CURVE
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 knee = _mm_set1_ps(kKneeLevel);
    for (; k + 4 <= sampleCount; k += 4) {
        const __m128 x = _mm_loadu_ps(samples + k);
        if (_mm_movemask_ps(_mm_cmpnle_ps(_mm_andnot_ps(sign, x), knee)) != 0) {
            _mm_storeu_ps(samples + k, SoftClip4(x));
        }
    }
#endif
    for (; k < sampleCount; ++k) {
        samples[k] = SoftClip(samples[k]);
    }
}

}  // namespace

float GainFromVolume(float volumePercent) {
    return (volumePercent / 100.0f) * 2.0f;
}

void ApplyGainSoftClip(const float* in, float* out, size_t sampleCount, float gain) {
    // Each sample is read before its own slot is written, so in == out is safe.
    if (ScaleAndFindKnee(in, out, sampleCount, gain)) {
        ShapeInPlace(out, sampleCount);
    }
}
