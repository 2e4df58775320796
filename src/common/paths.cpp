#include "common/paths.h"

#include <windows.h>

std::wstring GetExecutableDirectory()
{
    wchar_t buffer[kModulePathCapacity];
    const DWORD written = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(kModulePathCapacity));
    return DirectoryOfModulePath(buffer, written);
}

std::wstring GetExecutablePath()
{
    wchar_t buffer[kModulePathCapacity];
    const DWORD written = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(kModulePathCapacity));
    return std::wstring(buffer, written < kModulePathCapacity ? written : 0);
}
