#pragma once

#include <mmdeviceapi.h>

#include <string>
#include <thread>
#include <vector>

#include "common/com_ptr.h"

struct AppState;

// Starts the redirect thread for the selected source and targets.
// Main thread only.
void StartRedirection(AppState& state);

// Stops the redirect thread and returns once it has ended. Main thread only.
void StopRedirection(AppState& state);

// The display name of the selected source entry, or nothing. Any thread;
// takes selectionMutex itself.
std::string SelectedSourceName(AppState& state);

// Ordered endpoint ids of the selected targets that are not left out. Any thread; takes
// selectionMutex itself, so the caller must not hold it.
std::vector<std::string> SnapshotTargetIds(AppState& state);

// Handed from StartRedirection to the redirect thread, which destroys it.
// The target list fixes the count in the start message and keeps the devices
// alive for the run; the engine opens its targets from the live selection.
struct RedirectThreadStart
{
    AppState& state;
    ComPtr<IMMDevice> sourceDevice;
    std::vector<ComPtr<IMMDevice>> targetDevices;
};

// The redirect thread's entry; takes ownership of `start`. Returns 0.
int RedirectThreadMain(RedirectThreadStart* start);

// Creates the thread object running RedirectThreadMain(start); throws
// std::system_error when no thread can be created, as std::thread does.
using RedirectThreadFactory = std::thread (*)(RedirectThreadStart* start);

// The last steps of StartRedirection once the devices are resolved: marks the
// state running, records the source's endpoint id, logs the start and creates the thread with `factory`. When
// the thread cannot be created the state ends Idle and the references are
// released. Main thread only; the production factory is the default.
void LaunchRedirection(AppState& state, ComPtr<IMMDevice> sourceDevice,
                       std::vector<ComPtr<IMMDevice>> targetDevices,
                       RedirectThreadFactory factory = nullptr);
