#include "app/main_window.h"

#include <imgui.h>
#include <imgui_impl_win32.h>

#include <algorithm>

#include "common/app_messages.h"
#include "app/app_state.h"
#include "app/display_scale.h"
#include "app/hit_test.h"
#include "app/window_size.h"
#include "audio/engine/device_change.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_recovery.h"
#include "gfx/d3d.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"
#include "settings/settings_store.h"
#include "ui/layout_scale.h"
#include "ui/style.h"
#include "ui/target_lights.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND, UINT, WPARAM, LPARAM);

namespace
{
DiagnosticLog& Log()
{
    return DiagnosticLog::Instance();
}

TrayNotifyFunction trayNotify = &Shell_NotifyIconW;

// Sent to every top-level window when the taskbar is created: at logon once
// the shell is up, and whenever it restarts (its tray icons are gone then).
UINT TaskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

HICON LoadAppIcon(int size)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON, size,
                                         size, LR_DEFAULTCOLOR));
}

// The state that CreateMainWindow hands to the window's creation owns the
// icons, so they are loaded once and destroyed once; a window created
// without it gets none.
void SetWindowIcons(HWND hwnd, LPARAM createParameters)
{
    auto* state = static_cast<AppState*>(reinterpret_cast<const CREATESTRUCTW*>(createParameters)->lpCreateParams);
    if (state == nullptr)
    {
        return;
    }
    if (!state->smallIcon)
    {
        // Sharp at the display scale: the small one is also the tray's.
        const UINT dpi = WindowDpi(hwnd);
        state->largeIcon.reset(LoadAppIcon(IconSide(SM_CXICON, dpi)));
        state->smallIcon.reset(LoadAppIcon(IconSide(SM_CXSMICON, dpi)));
    }
    if (state->largeIcon)
    {
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(state->largeIcon.get()));
    }
    if (state->smallIcon)
    {
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(state->smallIcon.get()));
    }
}

void MakeFrameless(HWND hwnd)
{
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME);
    SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
}

// Where the window opens: centred on the work area of the monitor under the
// mouse, at that monitor's scale. Without a monitor to go by it opens at
// (100, 100) at the system scale, with no work area to shrink it to.
struct Placement
{
    POINT origin{100, 100};
    WindowSize size;
};

Placement PlaceOnMouseMonitor(WindowSize stored)
{
    POINT cursor{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    HMONITOR handle = GetCursorPos(&cursor) ? MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST) : nullptr;
    Placement place;
    if (handle == nullptr || !GetMonitorInfoW(handle, &monitor))
    {
        place.size = CreationPixels(stored, MonitorDpi(handle), {});
        return place;
    }
    // A window larger than the work area goes to its top-left corner.
    const RECT& work = monitor.rcWork;
    const WindowSize room{work.right - work.left, work.bottom - work.top};
    place.size = CreationPixels(stored, MonitorDpi(handle), room);
    place.origin = {work.left + (room.width - std::min(room.width, place.size.width)) / 2,
                    work.top + (room.height - std::min(room.height, place.size.height)) / 2};
    return place;
}

void FillTrayRecord(AppState& state, HWND hwnd)
{
    NOTIFYICONDATAW& icon = state.trayIcon;
    icon = NOTIFYICONDATAW{};
    icon.cbSize = sizeof icon;
    icon.hWnd = hwnd;
    icon.uID = 1;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAYICON;
    icon.hIcon = state.smallIcon.get();
    if (icon.hIcon == nullptr)
    {
        icon.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconId));
    }
    if (icon.hIcon == nullptr)
    {
        icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    }
    lstrcpynW(icon.szTip, L"Tonefork", ARRAYSIZE(icon.szTip));
}

// A maximised window's size is not its own: the normal size stays stored.
// The size is stored at 96 DPI, so that it keeps its meaning on every
// display and for every earlier version.
void OnResize(AppState& state, HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    if (state.rememberWindowSize && wParam == SIZE_RESTORED)
    {
        RECT outer{};
        GetWindowRect(hwnd, &outer);
        const WindowSize stored = ToStoredUnit({outer.right - outer.left, outer.bottom - outer.top}, WindowDpi(hwnd));
        state.windowWidth = stored.width;
        state.windowHeight = stored.height;
        SaveSettings(state);
    }
    state.renderTargetView.Reset();
    if (state.swapChain)
    {
        state.swapChain->ResizeBuffers(0, LOWORD(lParam), HIWORD(lParam), DXGI_FORMAT_UNKNOWN, 0);
        CreateRenderTargetView(state);
    }
    ApplyRoundedRegion(hwnd);
}

LRESULT OnSize(AppState* state, HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    if (state == nullptr)
    {
        return 0;
    }
    if (wParam != SIZE_MINIMIZED)
    {
        OnResize(*state, hwnd, wParam, lParam);
    }
    else if (state->minimizeToTray && state->trayIconAdded)
    {
        // Without a tray icon the window stays the minimised window it is.
        MinimizeToTray(*state, hwnd);
        Log().Log("WM_SIZE: minimized -> going to tray (per setting).");
    }
    return 0;
}

// The user cannot drag the window smaller than the layout can use; also
// asked during creation, before the state is attached.
// https://learn.microsoft.com/windows/win32/winmsg/wm-getminmaxinfo
LRESULT OnGetMinMaxInfo(HWND hwnd, LPARAM lParam)
{
    const WindowSize least = MinimumWindowPixels(WindowDpi(hwnd));
    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{least.width, least.height};
    return 0;
}

// Moved to a monitor of another scale (or its scale changed): the suggested
// rectangle keeps the window as large to the eye, and the layout scale
// follows the new client size.
// https://learn.microsoft.com/windows/win32/hidpi/wm-dpichanged
LRESULT OnDpiChanged(HWND hwnd, LPARAM lParam)
{
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

void ShowTrayMenu(AppState& state, HWND hwnd)
{
    POINT cursor{};
    GetCursorPos(&cursor);
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
    {
        return;
    }
    AppendMenuW(menu, MF_STRING, ID_TRAY_OPEN, L"Open App");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ID_TRAY_TOGGLE, state.isRedirecting ? L"Stop" : L"Start");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ID_TRAY_EXIT, state.minimizeOnClose ? L"Exit Application" : L"Exit");
    SetForegroundWindow(hwnd);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, hwnd, nullptr);
    DestroyMenu(menu);
    PostMessageW(hwnd, WM_NULL, 0, 0);
}

LRESULT OnCommand(AppState* state, HWND hwnd, WPARAM wParam)
{
    if (state == nullptr)
    {
        return 0;
    }
    switch (LOWORD(wParam))
    {
    case ID_TRAY_OPEN:
        RestoreFromTray(*state, hwnd);
        Log().Log("Tray: Open App.");
        break;
    case ID_TRAY_TOGGLE:
    {
        // The menu said what the route was doing when it opened; an
        // alignment under way (which pauses the route) gives the route back
        // as it was first.
        const bool stopping = state->isRedirecting;
        state->alignment.Cancel(*state);
        if (!stopping)
        {
            ForgetLeftOutTargets(*state);
        }
        stopping ? StopRedirection(*state) : StartRedirection(*state);
        Log().Log("Tray: %s redirection.", stopping ? "Stopping" : "Starting");
        break;
    }
    case ID_TRAY_EXIT:
        Log().Log("Tray: Exit requested.");
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT OnTrayIcon(AppState* state, HWND hwnd, LPARAM lParam)
{
    if (state == nullptr)
    {
        return 0;
    }
    if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK)
    {
        RestoreFromTray(*state, hwnd);
    }
    else if (lParam == WM_RBUTTONUP)
    {
        ShowTrayMenu(*state, hwnd);
    }
    return 0;
}

// The shell is told only when the tip's text changed.
void RefreshTrayTip(AppState& state)
{
    NOTIFYICONDATAW& icon = state.trayIcon;
    const std::wstring tip = Utf8ToWide(CurrentTrayTip(state, SteadyNowNs()));
    if (tip.compare(0, ARRAYSIZE(icon.szTip) - 1, icon.szTip) == 0)
    {
        return;
    }
    lstrcpynW(icon.szTip, tip.c_str(), ARRAYSIZE(icon.szTip));
    if (state.trayIconAdded)
    {
        trayNotify(NIM_MODIFY, &icon);
    }
}

LRESULT OnTimer(AppState* state, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (state != nullptr && wParam == kHealthTimerId)
    {
        RefreshTrayTip(*state);
        return 0;
    }
    if (state == nullptr || wParam != state->deviceChangeTimerId)
    {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    KillTimer(hwnd, state->deviceChangeTimerId);
    if (state->deviceChangePending.exchange(false))
    {
        Log().Log("WM_TIMER fired for device-change debounce; applying changes.");
        HandleDeviceChange(*state);
    }
    return 0;
}

LRESULT OnDeviceListChanged(AppState* state, HWND hwnd)
{
    if (state != nullptr)
    {
        Log().Log("WM_APP_DEVICE_LIST_CHANGED received, debouncing (300ms).");
        state->deviceChangePending = true;
        KillTimer(hwnd, state->deviceChangeTimerId);
        SetTimer(hwnd, state->deviceChangeTimerId, kDeviceChangeDebounceMs, nullptr);
    }
    return 0;
}

LRESULT OnTaskbarCreated(AppState* state)
{
    if (state != nullptr)
    {
        Log().Log("MainWindowProc: the taskbar was created; adding the tray icon again.");
        AddTrayIcon(*state);
    }
    return 0;
}

LRESULT ToHitCode(HitZone zone)
{
    switch (zone)
    {
    case HitZone::Caption: return HTCAPTION;
    case HitZone::Left: return HTLEFT;
    case HitZone::Right: return HTRIGHT;
    case HitZone::Top: return HTTOP;
    case HitZone::Bottom: return HTBOTTOM;
    case HitZone::TopLeft: return HTTOPLEFT;
    case HitZone::TopRight: return HTTOPRIGHT;
    case HitZone::BottomLeft: return HTBOTTOMLEFT;
    case HitZone::BottomRight: return HTBOTTOMRIGHT;
    case HitZone::Client: break;
    }
    return HTCLIENT;
}

LRESULT OnHitTest(const AppState* state, HWND hwnd, LPARAM lParam)
{
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScreenToClient(hwnd, &point);
    RECT client{};
    GetClientRect(hwnd, &client);
    return ToHitCode(HitTestWindow(point.x, point.y, client.right, client.bottom, CurrentLayoutScale(state)));
}

LRESULT OnSysCommand(AppState* state, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WPARAM command = wParam & 0xFFF0;
    if (command == SC_KEYMENU)
    {
        return 0;
    }
    if (command == SC_MINIMIZE && state != nullptr && state->minimizeToTray)
    {
        MinimizeToTray(*state, hwnd);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}
}  // namespace

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_CLASSDC;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
    wc.lpszClassName = kWindowClassName;
    RegisterClassExW(&wc);
}

HWND CreateMainWindow(AppState& state, HINSTANCE instance)
{
    // The stored size itself is kept; only the window is scaled to the
    // display, never made smaller than the layout can use, nor larger than
    // the work area. Placed before it exists, the window is created on the
    // monitor whose scale its size was made for.
    const Placement place = PlaceOnMouseMonitor({state.windowWidth, state.windowHeight});
    HWND hwnd = CreateWindowExW(0, kWindowClassName, L"Tonefork", WS_OVERLAPPEDWINDOW, place.origin.x,
                                place.origin.y, place.size.width, place.size.height, nullptr, nullptr, instance,
                                &state);
    if (hwnd == nullptr)
    {
        return nullptr;
    }
    MakeFrameless(hwnd);
    ApplyRoundedRegion(hwnd);
    // A program run elevated hears the shell's broadcast only if it says so.
    ChangeWindowMessageFilterEx(hwnd, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.mainWindow = hwnd;
    FillTrayRecord(state, hwnd);
    SetTimer(hwnd, kHealthTimerId, kHealthTimerMs, nullptr);
    return hwnd;
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (ImGui::GetCurrentContext() != nullptr && ImGui_ImplWin32_WndProcHandler(hwnd, message, wParam, lParam))
    {
        return 1;
    }
    auto* state = reinterpret_cast<AppState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message != 0 && message == TaskbarCreatedMessage())
    {
        return OnTaskbarCreated(state);
    }
    switch (message)
    {
    case WM_CREATE:
        SetWindowIcons(hwnd, lParam);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        return OnSize(state, hwnd, wParam, lParam);
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo(hwnd, lParam);
    case WM_DPICHANGED:
        return OnDpiChanged(hwnd, lParam);
    case WM_CLOSE:
        if (state != nullptr && state->minimizeOnClose)
        {
            MinimizeToTray(*state, hwnd);
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_NCHITTEST:
        return OnHitTest(state, hwnd, lParam);
    case WM_COMMAND:
        return OnCommand(state, hwnd, wParam);
    case WM_SYSCOMMAND:
        return OnSysCommand(state, hwnd, message, wParam, lParam);
    case WM_TIMER:
        return OnTimer(state, hwnd, message, wParam, lParam);
    case WM_TRAYICON:
        return OnTrayIcon(state, hwnd, lParam);
    case WM_APP_DEVICE_LIST_CHANGED:
        return OnDeviceListChanged(state, hwnd);
    case WM_APP_STREAM_LOST:
        if (state != nullptr)
        {
            HandleStreamLoss(*state);
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void ApplyRoundedRegion(HWND hwnd)
{
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    HRGN region = CreateRoundRectRgn(0, 0, rect.right - rect.left, rect.bottom - rect.top, kCornerRadius,
                                     kCornerRadius);
    // The window owns the region from here on; the system frees it.
    SetWindowRgn(hwnd, region, TRUE);
}

bool MinimizeToTray(AppState& state, HWND hwnd)
{
    if (!state.trayIconAdded)
    {
        // Hidden, the window could never be brought back: a second start
        // only says that the program already runs.
        Log().Log("MinimizeToTray: there is no tray icon to restore from; minimizing the window instead.");
        if (!IsIconic(hwnd) || !IsWindowVisible(hwnd))
        {
            ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
        }
        return false;
    }
    Log().Log("Window minimized to tray.");
    ShowWindow(hwnd, SW_HIDE);
    state.hiddenInTray = true;
    return true;
}

// SW_SHOW would leave a window minimised by Win+D or the taskbar (hidden to
// the tray from there, or not) minimised. SetForegroundWindow is allowed for
// the process that received the last input event or is the foreground
// process: the tray click is the user's latest input, and the tray menu made
// this window the foreground one before it opened.
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-setforegroundwindow
void RestoreFromTray(AppState& state, HWND hwnd)
{
    if (state.hiddenInTray)
    {
        Log().Log("Window restored from tray.");
    }
    ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd);
    state.hiddenInTray = false;
}

void AddTrayIcon(AppState& state)
{
    // An icon the shell already holds is refused by NIM_ADD and updated.
    state.trayIconAdded = trayNotify(NIM_ADD, &state.trayIcon) || trayNotify(NIM_MODIFY, &state.trayIcon);
    if (state.trayIconAdded)
    {
        Log().Log("System tray icon added.");
        return;
    }
    Log().Log("AddTrayIcon: the shell did not take the tray icon (no notification area yet?); the window stays on "
              "the taskbar until the taskbar is created.");
}

void RemoveTrayIcon(AppState& state)
{
    Log().Log("System tray icon removed.");
    trayNotify(NIM_DELETE, &state.trayIcon);
    state.trayIconAdded = false;
}

void SetTrayNotifyFunction(TrayNotifyFunction function)
{
    trayNotify = function != nullptr ? function : &Shell_NotifyIconW;
}

float CurrentLayoutScale(const AppState* state)
{
    if (state == nullptr || ImGui::GetCurrentContext() == nullptr)
    {
        return 1.0f;
    }
    return CurrentScale();
}
