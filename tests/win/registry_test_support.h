#pragma once

// Raw access to HKEY_CURRENT_USER for the settings tests: they seed values of
// any type and read back exactly what the program wrote. The tests run in a
// throwaway Wine prefix, so deleting the program's keys is harmless.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

struct RawRegistryValue
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    // The data as UTF-16 units, terminator included when one was stored.
    std::wstring Units() const
    {
        return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    }
};

inline void DeleteUserTree(const wchar_t* path)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
    RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

inline void WriteRawValue(const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS)
    {
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
}

inline void WriteDword(const wchar_t* path, const wchar_t* name, uint32_t value)
{
    const DWORD data = value;
    WriteRawValue(path, name, REG_DWORD, &data, sizeof(data));
}

// REG_SZ with the terminating NUL, as the program writes it.
inline void WriteText(const wchar_t* path, const wchar_t* name, const std::wstring& text)
{
    WriteRawValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline std::optional<RawRegistryValue> ReadRawValue(const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    {
        return std::nullopt;
    }
    RawRegistryValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS)
    {
        value.data.resize(size);
        status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
    {
        return std::nullopt;
    }
    return value;
}

inline bool UserKeyExists(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The value as a DWORD, or nothing unless it is a REG_DWORD of 4 bytes.
inline std::optional<uint32_t> ReadDword(const wchar_t* path, const wchar_t* name)
{
    const std::optional<RawRegistryValue> value = ReadRawValue(path, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4)
    {
        return std::nullopt;
    }
    uint32_t number = 0;
    std::memcpy(&number, value->data.data(), 4);
    return number;
}
