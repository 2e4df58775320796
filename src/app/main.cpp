// Entry point: single-instance check, log, application state, window,
// graphics and toolkit, the main loop, and shutdown in reverse order.
#include <windows.h>

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "audio/engine/redirection_control.h"
#include "audio/inventory/device_notification_client.h"
#include "common/app_messages.h"
#include "common/paths.h"
#include "common/unique_handle.h"
#include "gfx/d3d.h"
#include "gfx/images.h"
#include "log/diagnostic_log.h"
#include "ui/render_frame.h"

namespace
{
void RegisterEndpointNotifications(AppState& state, HWND hwnd)
{
    if (!state.notificationEnumerator)
    {
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         IID_PPV_ARGS(state.notificationEnumerator.ReleaseAndGetAddressOf()));
    }
    if (state.notificationEnumerator && !state.notificationClient)
    {
        // The client starts with one reference, which the state now owns.
        state.notificationClient = AdoptReference(new DeviceNotificationClient(hwnd));
        state.notificationEnumerator->RegisterEndpointNotificationCallback(state.notificationClient.Get());
    }
    DiagnosticLog::Instance().Log("Registered for endpoint notifications.");
}

void ShowInitialWindow(AppState& state, HWND hwnd)
{
    if (state.minimizeToTray)
    {
        MinimizeToTray(state, hwnd);
        return;
    }
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    UpdateWindow(hwnd);
}

void SetUpToolkit(AppState& state, HWND hwnd)
{
    ImGui::CreateContext();
    ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    LoadImageAssets(state);
    LoadFonts(state);
    ImGui::StyleColorsDark();
    ImGui_ImplWin32_Init(hwnd);
    ImGui_ImplDX11_Init(state.d3dDevice.Get(), state.d3dDeviceContext.Get());
}

void ShutDownToolkit()
{
    ImGui_ImplDX11_Shutdown();
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext();
}

// Returns when WM_QUIT has been seen; every message queued with it is handled.
void RunMainLoop(AppState& state, HWND hwnd)
{
    for (;;)
    {
        bool quit = false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            quit = quit || msg.message == WM_QUIT;
        }
        if (quit)
        {
            return;
        }
        // An alignment ends (its delays set, the route resumed) also while
        // no frame is drawn: in the tray, minimised or covered.
        state.alignment.Poll(state);
        if (state.hiddenInTray || IsIconic(hwnd))
        {
            Sleep(16);
            continue;
        }
        RenderFrame(state, hwnd);
    }
}

int RunApplication(HINSTANCE instance)
{
    AppState state;
    HWND hwnd = CreateMainWindow(state, instance);
    RegisterEndpointNotifications(state, hwnd);
    if (FAILED(CreateDeviceD3D(state, hwnd)))
    {
        UnregisterClassW(kWindowClassName, instance);
        return 1;
    }
    AddTrayIcon(state);
    ShowInitialWindow(state, hwnd);
    SetUpToolkit(state, hwnd);
    if (state.startRedirectingOnStartup)
    {
        StartRedirection(state);
    }
    RunMainLoop(state, hwnd);
    ShutDownToolkit();
    UnregisterClassW(kWindowClassName, instance);
    DiagnosticLog::Instance().Log("Process exit.");
    return 0;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Held until the process ends, so a second start sees the first one.
    UniqueHandle singleInstance(CreateMutexW(nullptr, TRUE, L"ToneforkSingleInstanceMutex"));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        MessageBoxW(nullptr, L"Tonefork is already running.", L"Info", MB_ICONINFORMATION);
        return 0;
    }
    DiagnosticLog::Instance().Open(GetExecutableDirectory(), L"log.txt");
    DiagnosticLog::Instance().Log("Process started. PID=%lu", GetCurrentProcessId());
    RegisterMainWindowClass(instance);
    return RunApplication(instance);
}
