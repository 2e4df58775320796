#pragma once

struct AppState;

// Refreshes the lists after a burst of endpoint events and decides what the
// redirection does. Main thread only.
void HandleDeviceChange(AppState& state);
