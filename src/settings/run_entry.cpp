#include "settings/run_entry.h"

std::wstring RunEntryCommand(const std::wstring& executablePath)
{
    if (executablePath.empty())
    {
        return {};
    }
    return L"\"" + executablePath + L"\"";
}
