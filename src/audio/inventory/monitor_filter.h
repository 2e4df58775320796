#pragma once

#include <string>

// Some graphics drivers publish one playback endpoint per connected monitor
// (named like "Monitor Output (NVIDIA High Definition Audio)"). They are
// rarely a useful target and clutter the lists, so playback endpoints whose
// name contains both "nvidia" and "output", in any case and either order, are
// left out. Recording endpoints are never filtered. Pure; any thread.
bool IsMonitorAudioDevice(const std::wstring& friendlyName);
