#pragma once

#include <windows.h>

struct AppState;

// Direct3D 11 device, immediate context, swap chain and back-buffer view of
// the main window. Main thread only.
HRESULT CreateDeviceD3D(AppState& state, HWND window);
void CleanupDeviceD3D(AppState& state);

// Clears to the window colour, draws the toolkit's frame and presents with
// vertical synchronisation. Main thread only, after ImGui::Render.
void PresentFrame(AppState& state);

// Recreates the back-buffer view after the swap chain was resized.
void CreateRenderTargetView(AppState& state);
