#pragma once

#include <windows.h>

struct AppState;

// Direct3D 11 device, immediate context, swap chain and back-buffer view of
// the main window. Main thread only.
HRESULT CreateDeviceD3D(AppState& state, HWND window);
void CleanupDeviceD3D(AppState& state);

// False when this pass of the main loop must not build a frame: the window
// is occluded (a test present says it still is) or has no back-buffer view
// (its re-creation after a resize failed). The pass has then rested for a
// short while, so that the loop does not spin. Main thread only.
bool ReadyForFrame(AppState& state);

// Clears to the window colour, draws the toolkit's frame and presents with
// vertical synchronisation; where the present did not wait for the display,
// rests for the rest of a 60 Hz frame. Main thread only, after ImGui::Render.
void PresentFrame(AppState& state);

// Recreates the back-buffer view after the swap chain was resized.
void CreateRenderTargetView(AppState& state);
