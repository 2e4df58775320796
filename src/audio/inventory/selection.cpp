#include "audio/inventory/selection.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/tuning_match.h"

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

std::vector<TargetTuning> SavedTuningFor(const AppState& state)
{
    return ResolveTuning(state.desiredTuning, Identities(state.playbackDevices));
}
}  // namespace

void ResolveSavedSelections(AppState& state)
{
    ResolvedSelection resolved = SavedSelectionsFor(state, state.sourceDevices, state.playbackDevices);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.selectedSourceIndex = resolved.selectedSourceIndex;
    state.targetSelected.swap(resolved.targetSelected);
    LinkTargets(state, SavedTuningFor(state));
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

bool IsListedTarget(const AppState& state, const std::string& eid)
{
    return std::any_of(state.playbackDevices.begin(), state.playbackDevices.end(),
                       [&eid](const AudioEndpointInfo& entry) { return entry.identity.eid == eid; });
}

void LinkTargets(AppState& state, const std::vector<TargetTuning>& tunings)
{
    for (size_t i = 0; i < state.playbackDevices.size() && i < tunings.size(); ++i)
    {
        const std::string& id = state.playbackDevices[i].identity.eid;
        if (id.empty())
        {
            continue;
        }
        std::shared_ptr<TargetLink>& link = state.targetLinks[id];
        if (!link)
        {
            link = std::make_shared<TargetLink>();
        }
        link->SetTuning(tunings[i]);
    }
}

std::shared_ptr<TargetLink> TargetLinkAt(const AppState& state, size_t index)
{
    if (index >= state.playbackDevices.size())
    {
        return nullptr;
    }
    const auto found = state.targetLinks.find(state.playbackDevices[index].identity.eid);
    return found == state.targetLinks.end() ? nullptr : found->second;
}

void SetTargetTuning(AppState& state, size_t index, const TargetTuning& tuning)
{
    if (index >= state.playbackDevices.size())
    {
        return;
    }
    const TargetTuning clamped = ClampTuning(tuning);
    if (const std::shared_ptr<TargetLink> link = TargetLinkAt(state, index))
    {
        link->SetTuning(clamped);
    }
    RememberTuning(state.desiredTuning, state.playbackDevices[index].identity, clamped);
}
