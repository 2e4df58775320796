#pragma once

#include <windows.h>
#include <shellapi.h>

struct AppState;

// The borderless main window, its procedure and the tray icon.
// Main thread only.
void RegisterMainWindowClass(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the window centred on the monitor under the mouse at the stored
// size scaled to that monitor (window_size.h), makes it frameless and
// rounded, sets its icons and attaches the state. Returns null when the
// window could not be created.
HWND CreateMainWindow(AppState& state, HINSTANCE instance);

void ApplyRoundedRegion(HWND hwnd);

// Hides the window to the tray; without a tray icon to bring it back from,
// shows it minimised instead. Returns whether it went to the tray.
bool MinimizeToTray(AppState& state, HWND hwnd);
// Brings the window back from the tray, from minimised or from behind other
// windows: shown, restored and in front.
void RestoreFromTray(AppState& state, HWND hwnd);

// Adds the tray icon (again, after the shell restarted: "TaskbarCreated")
// and notes whether the shell took it.
void AddTrayIcon(AppState& state);
void RemoveTrayIcon(AppState& state);

// The shell's tray call. Tests put a stand-in here to play a shell without
// a notification area; null puts the shell's own back.
using TrayNotifyFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
void SetTrayNotifyFunction(TrayNotifyFunction function);

// The layout scale of the current frame; 1 while no interface is up.
float CurrentLayoutScale(const AppState* state);
