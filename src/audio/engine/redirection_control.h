#pragma once

#include <string>
#include <vector>

struct AppState;

// Starts the redirect thread for the selected source and targets.
// Main thread only.
void StartRedirection(AppState& state);

// Stops the redirect thread and returns once it has ended. Main thread only.
void StopRedirection(AppState& state);

// Ordered endpoint ids of the selected targets. Any thread; takes
// selectionMutex itself, so the caller must not hold it.
std::vector<std::string> SnapshotTargetIds(AppState& state);
