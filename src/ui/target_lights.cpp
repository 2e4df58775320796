#include "ui/target_lights.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "app/app_state.h"
#include "audio/engine/stream_recovery.h"
#include "audio/inventory/selection.h"

int64_t SteadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

RowHealth JudgeRow(AppState& state, size_t index, int64_t nowNs)
{
    RowHealth row;
    if (const std::shared_ptr<TargetLink> link = TargetLinkAt(state, index))
    {
        row.figures = ReadFigures(*link);
    }
    const std::string& id = state.playbackDevices[index].identity.eid;
    HealthHistory& history = state.targetHealth[id];
    history.Note(row.figures, nowNs);
    row.history = &history;
    const bool ticked = index < state.targetSelected.size() && state.targetSelected[index];
    // The redirect thread adds to the targets left out when one cannot be
    // opened.
    bool leftOut = false;
    {
        std::lock_guard<std::mutex> lock(state.selectionMutex);
        leftOut = IsLeftOut(state, id);
    }
    row.health = JudgeTarget(row.figures, history, {ticked, state.isRedirecting.load(), leftOut, nowNs});
    return row;
}

std::string CurrentTrayTip(AppState& state, int64_t nowNs)
{
    size_t healthy = 0;
    size_t lit = 0;
    for (size_t k = 0; k < state.playbackDevices.size(); ++k)
    {
        const HealthLight light = JudgeRow(state, k, nowNs).health.light;
        lit += light != HealthLight::Grey ? 1 : 0;
        healthy += light == HealthLight::Green ? 1 : 0;
    }
    std::erase_if(state.targetHealth, [&state](const auto& entry) { return !IsListedTarget(state, entry.first); });
    return TrayTip(state.isRedirecting.load(), healthy, lit);
}
