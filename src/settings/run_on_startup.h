#pragma once

// The logon Run entry "Wavecaster" of the current user. Main thread only.
bool QueryRunOnStartup();
void SetRunOnStartup(bool enable);
