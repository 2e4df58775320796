#include "settings/run_on_startup.h"

#include "common/paths.h"
#include "settings/registry_key.h"
#include "settings/run_entry.h"

bool QueryRunOnStartup()
{
    const UniqueRegistryKey key = OpenUserKey(kRunKeyPath, KEY_READ);
    if (!key)
    {
        return false;
    }
    // Only the presence counts: an entry pointing elsewhere still reads as set.
    DWORD type = 0;
    DWORD size = 0;
    return RegQueryValueExW(key.get(), kRunValueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

// Failures stay silent: the check box keeps the user's choice until the next
// start shows what the registry really holds.
void SetRunOnStartup(bool enable)
{
    const UniqueRegistryKey key = OpenUserKey(kRunKeyPath, KEY_SET_VALUE);
    if (!key)
    {
        return;
    }
    if (!enable)
    {
        RegDeleteValueW(key.get(), kRunValueName);
        return;
    }
    const std::wstring command = RunEntryCommand(GetExecutablePath());
    if (!command.empty())
    {
        SetStringValue(key.get(), kRunValueName, command);
    }
}
