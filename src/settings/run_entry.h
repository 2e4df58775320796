#pragma once

// What the logon Run entry holds, without touching the registry.

#include <string>

inline constexpr wchar_t kRunKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValueName[] = L"Wavecaster";

// The command line the shell runs at logon for the executable at `path`:
// the path in double quotes, so that a folder such as "C:\Program Files"
// cannot be read as the program "C:\Program" with arguments. Empty when the
// path is unknown (empty): no entry should be written then.
std::wstring RunEntryCommand(const std::wstring& executablePath);
