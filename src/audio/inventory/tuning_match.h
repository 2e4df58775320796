#pragma once

// The delays and volumes a user set, kept per device like the saved targets:
// matched to freshly listed endpoints by the same scores (name_match.h), so
// that a device that comes back under a new id or a numbered name keeps its
// tuning. Pure; any thread may call it on its own data.

#include <vector>

#include "audio/engine/target_link.h"
#include "audio/inventory/endpoint_identity.h"

// A tuning within its ranges: the delay clamped to 0..kMaxTargetDelayMs, the
// volume to 0..100 (NaN gives the default).
TargetTuning ClampTuning(const TargetTuning& tuning);

// One tuning per playback entry, in list order: that of the stored entry
// scoring best for it (earliest on ties) when the score reaches
// kMatchThreshold, else the defaults.
std::vector<TargetTuning> ResolveTuning(const std::vector<TunedEndpoint>& stored,
                                        const std::vector<EndpointIdentity>& playback);

// Remembers `tuning` for `device`: replaces its own entry (StandsFor), or
// appends one. A tuning set back to the defaults drops the entry, so that the
// stored text only holds choices, unless a twin's entry would then stand in
// for the device by its name.
void RememberTuning(std::vector<TunedEndpoint>& stored, const EndpointIdentity& device, const TargetTuning& tuning);
