#pragma once

#include <mmdeviceapi.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "audio/engine/target_link.h"

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

// Whether a playback device of this endpoint id is listed. Main thread.
bool IsListedTarget(const AppState& state, const std::string& eid);

// Gives every playbackDevices entry with an id its link in targetLinks (a
// link made earlier is kept, so a run's reference and the row stay joined)
// and hands each its tuning, given in list order. Main thread, with
// selectionMutex held by the caller.
void LinkTargets(AppState& state, const std::vector<TargetTuning>& tunings);

// The link of playbackDevices entry `index`; null when it has none (no id,
// or no such entry). Main thread, or another thread holding selectionMutex.
std::shared_ptr<TargetLink> TargetLinkAt(const AppState& state, size_t index);

// What the user set for playbackDevices entry `index`, clamped: a running
// target hears it from its next packet, and desiredTuning remembers it
// (saving is the caller's). Main thread only.
void SetTargetTuning(AppState& state, size_t index, const TargetTuning& tuning);
