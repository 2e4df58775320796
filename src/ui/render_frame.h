#pragma once

#include <windows.h>

struct AppState;

// Builds one frame of the user interface and presents it; a pass in which
// the window cannot be drawn (occluded, no back buffer) only rests briefly.
// Main thread only, while the window is neither hidden nor iconic.
void RenderFrame(AppState& state, HWND hwnd);

// The borderless full-window frame: the title bar with its buttons and logo,
// then the tab bar with the Main and About tabs. Main thread only, between
// ImGui::NewFrame (after ApplyScaledStyle) and ImGui::Render.
void DrawMainWindow(AppState& state);
