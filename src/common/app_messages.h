#pragma once

#include <windows.h>

// Private window messages and command ids of the main window.
inline constexpr UINT WM_TRAYICON = WM_USER + 1;
inline constexpr UINT WM_APP_DEVICE_LIST_CHANGED = WM_APP + 100;
// Posted by the redirect thread when the system took a stream away.
inline constexpr UINT WM_APP_STREAM_LOST = WM_APP + 101;
inline constexpr UINT ID_TRAY_OPEN = 1001;
inline constexpr UINT ID_TRAY_TOGGLE = 1002;
inline constexpr UINT ID_TRAY_EXIT = 1003;
inline constexpr UINT_PTR kDeviceChangeTimerId = 42;
inline constexpr UINT kDeviceChangeDebounceMs = 300;
// The tray tip's look at the targets' health, once a second while the
// window exists (also hidden in the tray, when no frame is drawn).
inline constexpr UINT_PTR kHealthTimerId = 43;
inline constexpr UINT kHealthTimerMs = 1000;
inline constexpr int kResizeBorder = 8;
inline constexpr int kTitleBarHeight = 60;
inline constexpr int kCornerRadius = 15;
inline constexpr int kAppIconId = 101;
inline constexpr wchar_t kWindowClassName[] = L"Tonefork";
