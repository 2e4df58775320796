#include "settings/registry_key.h"

UniqueRegistryKey OpenUserKey(const wchar_t* path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key) != ERROR_SUCCESS)
    {
        return nullptr;
    }
    return UniqueRegistryKey(key);
}

UniqueRegistryKey CreateUserKey(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    {
        return nullptr;
    }
    return UniqueRegistryKey(key);
}

LSTATUS SetDwordValue(HKEY key, const wchar_t* name, uint32_t value)
{
    const DWORD data = value;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

LSTATUS SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}
