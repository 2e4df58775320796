#include "audio/inventory/monitor_filter.h"

#include <cwctype>

bool IsMonitorAudioDevice(const std::wstring& friendlyName)
{
    std::wstring lower = friendlyName;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return lower.find(L"nvidia") != std::wstring::npos && lower.find(L"output") != std::wstring::npos;
}
