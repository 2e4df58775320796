#pragma once

// What a debounced device change does to redirection, decided from a handful
// of facts that the Windows side gathers after refreshing the lists. Pure and
// free of system calls; any thread may call it. HandleDeviceChange carries
// the steps out in order: every start and stop goes through
// StartRedirection and StopRedirection.

#include <vector>

enum class DeviceChangeStep
{
    Log,               // write the step's message
    StopRedirection,
    Pause,             // 100 ms, so the old streams are gone before new ones open
    StartRedirection,
};

struct DeviceChangeAction
{
    DeviceChangeStep step = DeviceChangeStep::Log;
    const char* message = nullptr;  // Log only; a literal, never null there

    friend bool operator==(const DeviceChangeAction&, const DeviceChangeAction&);
};

using DeviceChangePlan = std::vector<DeviceChangeAction>;

// The engine keeps the endpoint that was the system default when it
// started, so a source that follows the default restarts on every change
// while it runs.
DeviceChangePlan DecideDefaultSourceRestart(bool desiredIsDefault, bool redirecting);

struct DeviceChangeFacts
{
    bool redirecting = false;  // as it is at the decision, after any restart
    bool sourceValid = false;  // the selected source index lies inside the source list
    bool targetsChanged = false;  // the selected target ids differ from before the refresh
    bool anyTargetSelected = false;
    // Redirection was running when the reaction began, or it may start by
    // itself ("StartRedirectingOnStartup").
    bool mayAutoStart = false;
    // The saved source's endpoint id is listed (not as the default entry).
    bool desiredSourceAvailable = false;
    // The running engine captures from the saved source's endpoint and that
    // endpoint has stayed listed since the run started. A run whose source
    // went away keeps polling a dead stream even once the device is back.
    bool capturingDesiredSource = false;
};

// The messages and redirection steps, in order, for one reaction. A run
// that keeps its source and targets continues; one whose targets changed is
// restarted, or stopped when no target or no valid source is left; one that
// is not capturing its desired source while that is listed is restarted
// onto it; a stopped redirection starts again only when it may auto-start,
// its desired source is listed and a target is selected.
DeviceChangePlan DecideDeviceChange(const DeviceChangeFacts& facts);
