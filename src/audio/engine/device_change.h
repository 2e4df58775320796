#pragma once

#include <mmdeviceapi.h>

struct AppState;

// Refreshes the lists after a burst of endpoint events, finds the saved
// choices again, saves the settings and continues, restarts, stops or
// auto-starts redirection. Main thread only (the window procedure's debounce
// timer); the caller must not hold selectionMutex.
void HandleDeviceChange(AppState& state);

// The same, listing the endpoints with `enumerator` (null: none), which the
// state keeps as deviceEnumerator.
void HandleDeviceChange(AppState& state, IMMDeviceEnumerator* enumerator);
