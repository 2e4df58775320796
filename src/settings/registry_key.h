#pragma once

// Thin, owning access to keys under HKEY_CURRENT_USER, shared by the settings
// store, the per-device volume store and the logon Run entry. Main thread
// only (that is where every settings read and write happens).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

struct RegistryKeyCloser
{
    void operator()(HKEY key) const { RegCloseKey(key); }
};

// Closes the key when it goes out of scope; null when opening failed.
using UniqueRegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;

// An existing key of the current user, opened with `access`.
UniqueRegistryKey OpenUserKey(const wchar_t* path, REGSAM access);

// The key of the current user, created (non-volatile) when missing, opened
// for writing.
UniqueRegistryKey CreateUserKey(const wchar_t* path);

// One REG_DWORD of 4 bytes.
LSTATUS SetDwordValue(HKEY key, const wchar_t* name, uint32_t value);

// One REG_SZ holding `text` and its terminating NUL: (characters + 1) * 2 bytes.
LSTATUS SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text);
