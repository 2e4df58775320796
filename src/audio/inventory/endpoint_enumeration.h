#pragma once

#include <mmdeviceapi.h>

#include <string>
#include <vector>

#include "audio/inventory/endpoint_identity.h"
#include "audio/inventory/endpoint_list.h"
#include "audio/inventory/name_match.h"
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

// Both endpoint lists as one enumeration found them.
struct DeviceLists
{
    std::vector<AudioEndpointInfo> playback;  // the target candidates
    // The system-default entry, a "[Playback] " copy of each playback
    // entry, then one "[Recording] " entry per capture endpoint.
    std::vector<AudioEndpointInfo> sources;
    // The default playback endpoint's id (console role, as the system-default
    // source resolves it); empty when there is none, which the system reports
    // as E_NOTFOUND (learn.microsoft.com/windows/win32/api/mmdeviceapi/
    // nf-mmdeviceapi-immdeviceenumerator-getdefaultaudioendpoint).
    std::string defaultPlaybackId;
};

// Lists the endpoints with `enumerator` (null: none) and logs the counts,
// touching no state: opening an endpoint's property stores may take long,
// so this runs outside selectionMutex. Whatever the enumerator cannot hand
// out (a whole flow, or one endpoint of it) is left out; an endpoint whose
// property store cannot be opened is listed with what its identity could be
// read and an empty display name. Any thread with COM initialised.
DeviceLists ListDevices(IMMDeviceEnumerator* enumerator);

// Keeps `enumerator` as deviceEnumerator, then swaps `lists` (with the
// default playback id) and
// `selection` with the state's lists, selectedSourceIndex and targetSelected
// in one short hold of selectionMutex (no COM call, nothing allocated): a
// running redirect thread sees the old lists with their selection or the new
// ones with theirs, never a mix. The arguments come back holding what the
// state held; the caller drops them after the lock is released, as dropping
// an entry releases its device. Main thread only; the caller must not hold
// selectionMutex.
void InstallDeviceLists(AppState& state, IMMDeviceEnumerator* enumerator, DeviceLists& lists,
                        ResolvedSelection& selection);

// Lists the endpoints with a fresh system enumerator and installs them with
// every target flag clear and selectedSourceIndex as it was. Main thread
// only; the caller must not hold selectionMutex and resolves the saved
// selections afterwards. While a redirect thread runs use
// RefreshDevicesAndSelections (selection.h) instead, as the clear flags
// would end its run.
void RefreshDevices(AppState& state);

// The same with a given enumerator (null: no endpoints at all), which the
// state keeps as deviceEnumerator.
void RefreshDevices(AppState& state, IMMDeviceEnumerator* enumerator);

// Drops every entry of both lists (releasing their devices) and the target
// flags; deviceEnumerator stays. Main thread only, with selectionMutex held
// by the caller or no other thread running.
void ReleaseDeviceLists(AppState& state);
