#pragma once

#include <mmdeviceapi.h>

#include "audio/inventory/endpoint_identity.h"

struct AppState;

// Identity of one endpoint as the system reports it (isDefault false,
// dataFlow 0: the caller sets the flow). Any thread with COM initialised.
EndpointIdentity ReadEndpointIdentity(IMMDevice* device);

// Rebuilds playbackDevices, sourceDevices, targetSelected and
// deviceEnumerator under selectionMutex. Main thread only; the caller must not
// hold selectionMutex and resolves the saved selections afterwards.
void RefreshDevices(AppState& state);

// Drops every entry of both lists (releasing their devices) and the target
// flags. Main thread only, with selectionMutex held by the caller or no other
// thread running.
void ReleaseDeviceLists(AppState& state);
