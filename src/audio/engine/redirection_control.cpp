#include "audio/engine/redirection_control.h"

#include "app/app_state.h"

void StartRedirection(AppState&) {}

void StopRedirection(AppState&) {}

std::vector<std::string> SnapshotTargetIds(AppState&)
{
    return {};
}
