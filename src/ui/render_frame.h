#pragma once

#include <windows.h>

struct AppState;

// Builds one frame of the user interface and presents it. Main thread only.
void RenderFrame(AppState& state, HWND hwnd);
