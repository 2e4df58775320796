#include "audio/align/probe_signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double ProbeEndHz(const ProbeParams& params, uint32_t sampleRate)
{
    return std::min(params.endHz, 0.45 * sampleRate);
}

std::vector<float> MakeProbe(const ProbeParams& params, uint32_t sampleRate)
{
    const double endHz = ProbeEndHz(params, sampleRate);
    const double seconds = params.durationSeconds;
    if (sampleRate == 0 || !(seconds > 0.0) || !(params.startHz > 0.0) || !(params.startHz < endHz)) {
        return {};
    }
    const auto frames = static_cast<size_t>(std::lround(seconds * sampleRate));
    // Phase of a sweep whose frequency is startHz e^(t x rise), rise being the
    // log of the frequency ratio per second.
    const double rise = std::log(endHz / params.startHz) / seconds;
    const double phaseScale = 2.0 * std::numbers::pi * params.startHz / rise;
    const double amplitude = std::pow(10.0, std::min(params.peakDbfs, 0.0) / 20.0);
    const double fadeFrames = std::clamp(params.fadeMs * 1e-3 * sampleRate, 1.0, double(frames) / 2.0);
    std::vector<float> probe(frames);
    for (size_t n = 0; n < frames; ++n) {
        const double t = double(n) / sampleRate;
        const double edge = double(std::min(n, frames - 1 - n));
        const double fade = edge < fadeFrames ? 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fadeFrames) : 1.0;
        probe[n] = static_cast<float>(amplitude * fade * std::sin(phaseScale * std::expm1(rise * t)));
    }
    return probe;
}
