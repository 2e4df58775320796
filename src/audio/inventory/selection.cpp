#include "audio/inventory/selection.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"

namespace
{
std::vector<EndpointIdentity> Identities(const std::vector<AudioEndpointInfo>& entries)
{
    std::vector<EndpointIdentity> identities;
    identities.reserve(entries.size());
    for (const AudioEndpointInfo& entry : entries)
        identities.push_back(entry.identity);
    return identities;
}

// The main thread is the only writer of the lists and of the saved
// choices, so it reads them without the lock.
ResolvedSelection SavedSelectionsFor(const AppState& state, const std::vector<AudioEndpointInfo>& sources,
                                     const std::vector<AudioEndpointInfo>& playback)
{
    return ResolveSelection(state.desiredSource, state.desiredTargets, Identities(sources), Identities(playback));
}
}  // namespace

void ResolveSavedSelections(AppState& state)
{
    ResolvedSelection resolved = SavedSelectionsFor(state, state.sourceDevices, state.playbackDevices);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.selectedSourceIndex = resolved.selectedSourceIndex;
    state.targetSelected.swap(resolved.targetSelected);
}

void RefreshDevicesAndSelections(AppState& state, IMMDeviceEnumerator* enumerator)
{
    DeviceLists lists = ListDevices(enumerator);
    ResolvedSelection resolved = SavedSelectionsFor(state, lists.sources, lists.playback);
    InstallDeviceLists(state, enumerator, lists, resolved);
}

bool AnyTargetSelected(const AppState& state)
{
    return std::find(state.targetSelected.begin(), state.targetSelected.end(), true) != state.targetSelected.end();
}
