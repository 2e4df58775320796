#pragma once

#include <mmdeviceapi.h>

struct AppState;

// Maps desiredSource and desiredTargets onto the current lists and writes
// selectedSourceIndex (-1 only when sourceDevices is empty) and
// targetSelected (one flag per playbackDevices entry). The mapping is made
// outside selectionMutex; only the result is swapped in under it. Neither
// list nor any saved record changes. Main thread only, after RefreshDevices;
// the caller must not hold selectionMutex (it is not recursive).
void ResolveSavedSelections(AppState& state);

// ListDevices with `enumerator` and the saved choices mapped onto the new
// lists, both outside selectionMutex, then InstallDeviceLists: a running
// redirect thread never waits for the enumeration, and sees either the old
// lists with the old selection or the new ones with the new selection, never
// the fresh lists with every target flag still clear (which its target
// check would take for "no target left" and end the run). Main thread only;
// the caller must not hold selectionMutex.
void RefreshDevicesAndSelections(AppState& state, IMMDeviceEnumerator* enumerator);

// Whether any target flag is set. The main thread (the only writer of the
// flags) may call it freely; another thread holds selectionMutex.
bool AnyTargetSelected(const AppState& state);
