#pragma once

#include <mmdeviceapi.h>

#include <string>

#include "audio/inventory/endpoint_identity.h"
#include "common/com_ptr.h"

struct AppState;

// The endpoint id of a device, each UTF-16 unit kept as its low byte; empty
// when GetId fails. Any thread with COM initialised.
std::string ReadEndpointId(IMMDevice* device);

// Identity of one endpoint as the system reports it (isDefault false,
// dataFlow 0: the caller sets the flow). Missing or wrongly typed properties
// leave their field empty or 0; a failed GetId leaves eid empty. Any thread
// with COM initialised.
EndpointIdentity ReadEndpointIdentity(IMMDevice* device);

// A new system enumerator; null when COM cannot make one. Any thread with
// COM initialised.
ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator();

// Rebuilds playbackDevices, sourceDevices, targetSelected and
// deviceEnumerator under selectionMutex, with a fresh system enumerator.
// Main thread only; the caller must not hold selectionMutex and resolves the
// saved selections afterwards. The flags are all clear until then, so while
// a redirect thread runs use RefreshDevicesAndSelections (selection.h).
void RefreshDevices(AppState& state);

// The same with a given enumerator (null: no endpoints at all), which the
// state keeps as deviceEnumerator.
void RefreshDevices(AppState& state, IMMDeviceEnumerator* enumerator);

// The rebuild itself, for a caller that already holds selectionMutex.
// Whatever the enumerator cannot hand out (a whole flow, or one endpoint of
// it) is left out of the lists; an endpoint whose property store cannot be
// opened is listed with what its identity could be read and an empty display
// name. The logged counts are always those of the lists as built. Main
// thread only.
void RebuildDeviceLists(AppState& state, IMMDeviceEnumerator* enumerator);

// Drops every entry of both lists (releasing their devices) and the target
// flags; deviceEnumerator stays. Main thread only, with selectionMutex held
// by the caller or no other thread running.
void ReleaseDeviceLists(AppState& state);
