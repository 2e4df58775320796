#include "app/app_state.h"

#include <objbase.h>

#include "app/main_window.h"
#include "audio/engine/redirection_control.h"
#include "audio/inventory/device_notification_client.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "gfx/d3d.h"
#include "log/diagnostic_log.h"
#include "settings/run_on_startup.h"
#include "settings/settings_store.h"

AppState::AppState()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RefreshDevices(*this);
    runOnStartup = QueryRunOnStartup();
    LoadSettings(*this);
    if (selectedSourceIndex >= static_cast<int32_t>(sourceDevices.size()))
    {
        selectedSourceIndex = 0;
    }
}

AppState::AppState(AppStateDefaultsOnly) : startedUp(false) {}

AppState::~AppState()
{
    if (!startedUp)
    {
        return;
    }
    alignment.Cancel(*this, false);
    SaveSettings(*this);
    StopRedirection(*this);
    ReleaseDeviceLists(*this);
    RemoveTrayIcon(*this);
    if (notificationEnumerator && notificationClient)
    {
        notificationEnumerator->UnregisterEndpointNotificationCallback(notificationClient.Get());
        notificationClient.Reset();
        DiagnosticLog::Instance().Log("Unregistered endpoint notifications.");
    }
    CleanupDeviceD3D(*this);
    // Every COM object of the apartment goes before COM itself does; the list
    // enumerator would otherwise outlive CoUninitialize as a member.
    deviceEnumerator.Reset();
    notificationEnumerator.Reset();
    CoUninitialize();
}
