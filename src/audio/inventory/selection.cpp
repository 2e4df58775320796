#include "audio/inventory/selection.h"

#include <mutex>
#include <utility>
#include <vector>

#include "app/app_state.h"
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
}  // namespace

void ResolveSavedSelections(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    ResolvedSelection resolved = ResolveSelection(state.desiredSource, state.desiredTargets,
                                                  Identities(state.sourceDevices), Identities(state.playbackDevices));
    state.selectedSourceIndex = resolved.selectedSourceIndex;
    state.targetSelected = std::move(resolved.targetSelected);
}
