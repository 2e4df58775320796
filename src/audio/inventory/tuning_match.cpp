#include "audio/inventory/tuning_match.h"

#include <algorithm>
#include <cmath>

#include "audio/inventory/name_match.h"

TargetTuning ClampTuning(const TargetTuning& tuning)
{
    TargetTuning clamped;
    clamped.delayMs = std::clamp(tuning.delayMs, 0, kMaxTargetDelayMs);
    clamped.volume = std::isnan(tuning.volume) ? kDefaultTargetVolume : std::clamp(tuning.volume, 0.0f, 100.0f);
    return clamped;
}

namespace
{
TargetTuning TuningFor(const std::vector<TunedEndpoint>& stored, const EndpointIdentity& device)
{
    int32_t best = kMatchThreshold - 1;
    TargetTuning found;
    for (const TunedEndpoint& entry : stored)
    {
        const int32_t score = MatchScore(entry.identity, device);
        if (score > best)
        {
            best = score;
            found = entry.tuning;
        }
    }
    return ClampTuning(found);
}
}  // namespace

std::vector<TargetTuning> ResolveTuning(const std::vector<TunedEndpoint>& stored,
                                        const std::vector<EndpointIdentity>& playback)
{
    std::vector<TargetTuning> resolved;
    resolved.reserve(playback.size());
    for (const EndpointIdentity& device : playback)
    {
        resolved.push_back(TuningFor(stored, device));
    }
    return resolved;
}

void RememberTuning(std::vector<TunedEndpoint>& stored, const EndpointIdentity& device, const TargetTuning& tuning)
{
    std::erase_if(stored, [&device](const TunedEndpoint& entry) { return StandsFor(entry.identity, device); });
    const TargetTuning clamped = ClampTuning(tuning);
    if (!clamped.IsDefault() || !TuningFor(stored, device).IsDefault())
    {
        stored.push_back({device, clamped});
    }
}
