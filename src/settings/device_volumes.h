#pragma once

// The output volume remembered per source: AppState::deviceVolumes mirrored
// under HKCU\SOFTWARE\Wavecaster\DeviceVolumes, one REG_DWORD per source
// (value name = the key, data = whole percent). Keys are endpoint ids, or
// kSystemDefaultVolumeKey for the system-default source (DeviceVolumeKey in
// settings_codec.h). Main thread only; the engine reads only AppState::volume.

#include <windows.h>

#include <map>
#include <string>

struct AppState;

// The remembered volume for `key`, or `defaultVolume` when the key is empty
// or was never saved.
float LookupDeviceVolume(const AppState& state, const std::string& key, float defaultVolume);

// Records `volume` for `key` and rewrites every remembered entry in the
// registry. An empty key does nothing at all (no entry, no write, no log).
void SaveDeviceVolumes(AppState& state, const std::string& key, float volume);

// Replaces the map with the registry's entries; values that are not a 4-byte
// REG_DWORD, or whose names do not fit 511 characters, are skipped. A volume
// outside 0..100 is brought inside, with a log line. The walk stops at the
// first error other than a name or data too long (logged unless it is the
// end of the list).
void LoadDeviceVolumes(AppState& state);

// The walk of LoadDeviceVolumes over an open key: adds its entries to
// `volumes` by the rules above.
void ReadDeviceVolumes(HKEY key, std::map<std::string, float>& volumes);
