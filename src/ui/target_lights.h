#pragma once

// The health lights of the target rows and the tray's count of healthy
// targets, from the links' figures (target_link.h) and the histories in
// AppState::targetHealth (target_health.h). Main thread only.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/target_health.h"

struct AppState;

// steady_clock now, in the links' unit.
int64_t SteadyNowNs();

struct RowHealth
{
    TargetHealth health;
    TargetFigures figures;
    const HealthHistory* history = nullptr;  // valid until the next CurrentTrayTip
};

// Notes playback entry `index`'s figures in its history (a sample a second
// at most) and judges them. `index` must be a playbackDevices entry.
RowHealth JudgeRow(AppState& state, size_t index, int64_t nowNs);

// The tray tip for the lights as they are now (TrayTip); forgets the
// histories of devices no longer listed.
std::string CurrentTrayTip(AppState& state, int64_t nowNs);
