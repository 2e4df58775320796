#include "audio/engine/stream_recovery.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_setup.h"
#include "common/app_messages.h"
#include "log/diagnostic_log.h"

namespace
{
// Once per pass for every stream; copies (allocates) only for a stream
// lost since the last pass.
bool Announce(AppState& state, StreamLossMark& mark, bool source, const std::string& id, const std::string& name)
{
    if (mark.code == 0 || mark.announced)
    {
        return false;
    }
    mark.announced = true;
    state.streamLosses.push_back(StreamLoss{source, id, name, mark.code});
    return true;
}

void LeaveOut(AppState& state, const std::string& endpointId)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.leftOutTargetIds.push_back(endpointId);
}

// Logs the loss and decides what becomes of its stream; false when the run
// must stay stopped.
bool ReactToLoss(AppState& state, const StreamLoss& loss, std::chrono::steady_clock::time_point now)
{
    const std::string endpointId = loss.source ? state.redirectSourceId : loss.endpointId;
    const std::string name = loss.source ? SelectedSourceName(state) : loss.name;
    const LossResponse response =
        state.restartedFor[endpointId].Lost(std::chrono::duration<double>(now.time_since_epoch()).count());
    const bool again = response != LossResponse::Restart;
    const char* when =
        response == LossResponse::AgainAtOnce ? "again right after a restart" : "for the third time within a minute";
    std::string outcome = "restarting redirection";
    if (again && loss.source)
    {
        outcome = std::string("the source failed ") + when + "; redirection stopped";
    }
    else if (again)
    {
        outcome = std::string("it failed ") + when + " and is left out until the next device change or Start";
        LeaveOut(state, endpointId);
    }
    DiagnosticLog::Instance().Log("StreamFailure: '%s' stopped with 0x%08lX (%s); %s.", name.c_str(),
                                  static_cast<unsigned long>(loss.code), StreamLossName(loss.code), outcome.c_str());
    return !(again && loss.source);
}
}  // namespace

bool AnnounceStreamLosses(RedirectionEngine& engine)
{
    AppState& state = engine.state;
    bool fresh = Announce(state, engine.sourceLost, true, {}, {});
    for (RenderTarget& target : engine.targets)
    {
        fresh = Announce(state, target.lost, false, target.id, target.name) || fresh;
    }
    if (fresh && !engine.lossPosted)
    {
        engine.lossPosted = true;
        state.streamLost = true;
        if (state.mainWindow)
        {
            PostMessageW(state.mainWindow, WM_APP_STREAM_LOST, 0, 0);
        }
    }
    return engine.sourceLost.code != 0;
}

void HandleStreamLoss(AppState& state)
{
    // A run the user or a device change stopped meanwhile stays as it is.
    const bool runToRecover = state.isRedirecting || state.redirectThread.joinable();
    if (!state.streamLost.exchange(false) || !runToRecover)
    {
        return;
    }
    StopRedirection(state);
    // Should the route stay stopped, a device change starts it again as it
    // would a running one: the user did not stop it.
    state.stoppedByStreamLoss = true;
    const std::vector<StreamLoss> losses = std::exchange(state.streamLosses, {});
    const auto now = std::chrono::steady_clock::now();
    bool restart = true;
    for (const StreamLoss& loss : losses)
    {
        restart = ReactToLoss(state, loss, now) && restart;
    }
    if (!restart)
    {
        return;
    }
    if (SnapshotTargetIds(state).empty())
    {
        DiagnosticLog::Instance().Log("StreamFailure: every target is left out; redirection stopped.");
        return;
    }
    // The old streams are gone before new ones open, as on a device change.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    StartRedirection(state);
}

void ForgetLeftOutTargets(AppState& state)
{
    state.restartedFor.clear();
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.leftOutTargetIds.clear();
}

bool IsLeftOut(const AppState& state, const std::string& endpointId)
{
    return std::find(state.leftOutTargetIds.begin(), state.leftOutTargetIds.end(), endpointId) !=
           state.leftOutTargetIds.end();
}

std::vector<const AudioEndpointInfo*> RoutedTargetEntries(const AppState& state)
{
    std::vector<const AudioEndpointInfo*> entries;
    const size_t count = std::min(state.targetSelected.size(), state.playbackDevices.size());
    for (size_t i = 0; i < count; ++i)
    {
        if (state.targetSelected[i] && !IsLeftOut(state, state.playbackDevices[i].identity.eid))
        {
            entries.push_back(&state.playbackDevices[i]);
        }
    }
    return entries;
}
