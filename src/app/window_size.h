#pragma once

#include <cstdint>

#include "ui/layout_scale.h"

// The window's size in its two units: the stored one ("WindowWidth" and
// "WindowHeight": pixels at 96 DPI, the 100 % display scale, as they have
// always been) and the pixels of the monitor the window is on. A window
// twice as many pixels wide on a 200 % display gets the same layout scale
// per inch as on a 100 % one, because the layout scale follows the client
// size. No thread affinity.

inline constexpr uint32_t kDefaultDpi = 96;

// Rounded to the nearest pixel; at any DPI of 96 or more a stored size
// comes back unchanged from ToPixels through ToStoredUnit. A DPI of 0
// (unknown) counts as 96.
WindowSize ToPixels(WindowSize stored, uint32_t dpi);
WindowSize ToStoredUnit(WindowSize pixels, uint32_t dpi);

// The smallest window at this DPI: the usable size a stored size is raised
// to, in pixels. The user cannot drag the window smaller.
WindowSize MinimumWindowPixels(uint32_t dpi);

// The window a stored size gives on a monitor: raised to the usable size,
// scaled to the monitor's DPI, shrunk to its work area (width or height 0:
// not known, not shrunk), and never below the minimum, which wins over a
// work area smaller than it.
WindowSize CreationPixels(WindowSize stored, uint32_t dpi, WindowSize workArea);
