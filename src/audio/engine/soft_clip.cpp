#include "audio/engine/soft_clip.h"

float GainFromVolume(float volumePercent) {
    return (volumePercent / 100.0f) * 2.0f;
}

void ApplyGainSoftClip(const float* in, float* out, size_t sampleCount, float gain) {
    // Each sample is read before its own slot is written, so in == out is safe.
    for (size_t k = 0; k < sampleCount; ++k) {
        out[k] = SoftClip(in[k] * gain);
    }
}
