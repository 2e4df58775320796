#pragma once

struct AppState;

// Maps desiredSource and desiredTargets onto the current lists and writes
// selectedSourceIndex (-1 only when sourceDevices is empty) and
// targetSelected (one flag per playbackDevices entry), under selectionMutex.
// Neither list nor any saved record changes. Main thread only, after
// RefreshDevices; the caller must not hold selectionMutex (it is not
// recursive).
void ResolveSavedSelections(AppState& state);
