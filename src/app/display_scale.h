#pragma once

#include <windows.h>

// The display scale Windows gives a window or a monitor, in dots per inch
// (96 at 100 %), and icon sides at a scale. Main thread only.
//
// The per-monitor functions are looked up at run time, so that the program
// still starts where they are missing: GetDpiForWindow and
// GetSystemMetricsForDpi from Windows 10 1607, GetDpiForMonitor (shcore)
// from Windows 8.1. Before those the manifest's <dpiAware> makes the process
// system aware, and the screen's LOGPIXELSX, the system scale, is the scale
// of every window.
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-getdpiforwindow
// https://learn.microsoft.com/windows/win32/api/shellscalingapi/nf-shellscalingapi-getdpiformonitor
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-getsystemmetricsfordpi

UINT WindowDpi(HWND hwnd);
UINT MonitorDpi(HMONITOR monitor);

// The side of an icon for this scale: `metric` is SM_CXICON or SM_CXSMICON.
int IconSide(int metric, UINT dpi);
