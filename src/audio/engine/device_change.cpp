#include "audio/engine/device_change.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "audio/engine/device_change_decision.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_recovery.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/selection.h"
#include "log/diagnostic_log.h"
#include "settings/settings_store.h"

// The main thread is the only writer of the lists and the selection, so the
// reaction reads them without selectionMutex.
namespace
{
// Listed as a device of its own, not merely as what the default entry
// stands for.
bool IsListedSource(const AppState& state, const std::string& eid)
{
    return !eid.empty() &&
           std::any_of(state.sourceDevices.begin(), state.sourceDevices.end(), [&eid](const AudioEndpointInfo& entry) {
               return !entry.identity.isDefault && entry.identity.eid == eid;
           });
}

// Everything but `redirecting` and `anyTargetSelected`, which are read at
// the moment of the decision.
DeviceChangeFacts GatherFacts(AppState& state, bool targetsChanged, bool mayAutoStart)
{
    if (!IsListedSource(state, state.redirectSourceId))
    {
        state.redirectSourceMissed = true;
    }
    DeviceChangeFacts facts;
    const int32_t index = state.selectedSourceIndex;
    facts.sourceValid = index >= 0 && static_cast<size_t>(index) < state.sourceDevices.size();
    facts.targetsChanged = targetsChanged;
    facts.mayAutoStart = mayAutoStart;
    // The system's default has no id of its own; a route on it that the
    // system stopped (its streams lost) starts again once there is one.
    facts.desiredSourceAvailable =
        IsListedSource(state, state.desiredSource.eid) ||
        (state.stoppedByStreamLoss && state.desiredSource.isDefault && !state.defaultPlaybackId.empty());
    facts.capturingDesiredSource =
        !state.redirectSourceMissed && state.redirectSourceId == state.desiredSource.eid;
    return facts;
}

void CarryOut(AppState& state, const DeviceChangePlan& plan)
{
    for (const DeviceChangeAction& action : plan)
    {
        switch (action.step)
        {
        case DeviceChangeStep::Log:
            DiagnosticLog::Instance().Log("%s", action.message);
            break;
        case DeviceChangeStep::StopRedirection:
            StopRedirection(state);
            break;
        case DeviceChangeStep::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        case DeviceChangeStep::StartRedirection:
            StartRedirection(state);
            break;
        }
    }
}
}  // namespace

void HandleDeviceChange(AppState& state)
{
    HandleDeviceChange(state, CreateDeviceEnumerator().Get());
}

void HandleDeviceChange(AppState& state, IMMDeviceEnumerator* enumerator)
{
    DiagnosticLog& log = DiagnosticLog::Instance();
    log.Log("Device change detected: refreshing device inventory and reapplying selections.");
    // A running engine sees the targets left out again at its next check.
    ForgetLeftOutTargets(state);
    const std::vector<std::string> before = SnapshotTargetIds(state);
    const bool wasRedirecting = state.isRedirecting;
    // A route paused for an alignment is resumed by the alignment when it
    // ends; started here it would play over the probes.
    const bool mayAutoStart = !state.alignment.Busy() &&
                              (wasRedirecting || state.startRedirectingOnStartup || state.stoppedByStreamLoss);

    RefreshDevicesAndSelections(state, enumerator);
    CarryOut(state, DecideDefaultSourceRestart(state.desiredSource.isDefault, state.isRedirecting));

    DeviceChangeFacts facts = GatherFacts(state, SnapshotTargetIds(state) != before, mayAutoStart);
    log.Log("After device change - Targets changed: %d, Source valid: %d, Desired source available: %d, "
            "Was redirecting: %d",
            facts.targetsChanged ? 1 : 0, facts.sourceValid ? 1 : 0, facts.desiredSourceAvailable ? 1 : 0,
            wasRedirecting ? 1 : 0);
    SaveSettings(state);

    facts.redirecting = state.isRedirecting;
    facts.anyTargetSelected = AnyTargetSelected(state);
    CarryOut(state, DecideDeviceChange(facts));
}
