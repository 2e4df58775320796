#pragma once

// The logon Run entry "Wavecaster" of the current user (kRunKeyPath): its
// presence is the "Launch with Windows" preference. Main thread only.

// True when the entry exists, whatever it holds.
bool QueryRunOnStartup();

// Writes the entry as the quoted path of the running executable, or deletes
// it. Neither logs nor touches AppState::runOnStartup or the settings key.
void SetRunOnStartup(bool enable);
