#pragma once

struct AppState;

// Writes every preference and the saved choices under HKCU\SOFTWARE\Wavecaster.
// Main thread only.
void SaveSettings(AppState& state);

// Reads the stored preferences, the per-source volumes and the saved choices
// (source, targets, and each device's delay and volume; a stored tuning that
// cannot be read in full is said in one log line), the alignment's
// microphone and probe level (a level out of range gives the default and one
// log line), resolves the choices against the current lists and applies the
// saved volume of the chosen source. Main thread only, once at start-up after
// RefreshDevices and before any redirect thread exists: the target flags are
// clear from that refresh until this call resolves them, which only a running
// engine could notice.
void LoadSettings(AppState& state);
