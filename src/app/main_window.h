#pragma once

#include <windows.h>

struct AppState;

// The borderless main window, its procedure and the tray icon.
// Main thread only.
void RegisterMainWindowClass(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the window, makes it frameless and rounded, centres it on the
// monitor under the mouse, sets its icons and attaches the state. Returns
// null when the window could not be created.
HWND CreateMainWindow(AppState& state, HINSTANCE instance);

void ApplyRoundedRegion(HWND hwnd);
void MinimizeToTray(AppState& state, HWND hwnd);
void RestoreFromTray(AppState& state, HWND hwnd);
void AddTrayIcon(AppState& state);
void RemoveTrayIcon(AppState& state);

// The layout scale of the current frame; 1 while no interface is up.
float CurrentLayoutScale(const AppState* state);
