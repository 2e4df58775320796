#include "audio/inventory/endpoint_enumeration.h"

#include "app/app_state.h"
#include "log/diagnostic_log.h"

EndpointIdentity ReadEndpointIdentity(IMMDevice*)
{
    return {};
}

void RefreshDevices(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    ReleaseDeviceLists(state);
    AudioEndpointInfo systemDefault;
    systemDefault.displayName = "[System Default Playback Device]";
    systemDefault.identity.name = L"System Default Device";
    systemDefault.identity.isDefault = true;
    state.sourceDevices.push_back(std::move(systemDefault));
}

void ReleaseDeviceLists(AppState& state)
{
    state.playbackDevices.clear();
    state.targetSelected.clear();
    state.sourceDevices.clear();
}
