#include "audio/inventory/selection.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/name_match.h"

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

// Caller holds selectionMutex.
void ApplySavedSelections(AppState& state)
{
    ResolvedSelection resolved = ResolveSelection(state.desiredSource, state.desiredTargets,
                                                  Identities(state.sourceDevices), Identities(state.playbackDevices));
    state.selectedSourceIndex = resolved.selectedSourceIndex;
    state.targetSelected = std::move(resolved.targetSelected);
}
}  // namespace

void ResolveSavedSelections(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    ApplySavedSelections(state);
}

void RefreshDevicesAndSelections(AppState& state, IMMDeviceEnumerator* enumerator)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    RebuildDeviceLists(state, enumerator);
    ApplySavedSelections(state);
}

bool AnyTargetSelected(const AppState& state)
{
    return std::find(state.targetSelected.begin(), state.targetSelected.end(), true) != state.targetSelected.end();
}
