#include "audio/engine/device_change_decision.h"

#include <string_view>

namespace
{
DeviceChangeAction Say(const char* message)
{
    return {DeviceChangeStep::Log, message};
}

constexpr DeviceChangeAction kStop{DeviceChangeStep::StopRedirection, nullptr};
constexpr DeviceChangeAction kPause{DeviceChangeStep::Pause, nullptr};
constexpr DeviceChangeAction kStart{DeviceChangeStep::StartRedirection, nullptr};

DeviceChangePlan Restart(const char* reason)
{
    return {Say(reason), kStop, kPause, kStart};
}

// A restart would find nothing to run with, so the run is only stopped.
DeviceChangePlan StopForGood()
{
    return {Say("Critical device change while redirecting - restarting redirection"), kStop, kPause,
            Say("Cannot restart - invalid device configuration")};
}

DeviceChangePlan DecideWhileRedirecting(const DeviceChangeFacts& facts)
{
    if (!facts.sourceValid || !facts.anyTargetSelected)
    {
        return StopForGood();
    }
    if (facts.targetsChanged)
    {
        return Restart("Critical device change while redirecting - restarting redirection");
    }
    if (facts.desiredSourceAvailable && !facts.capturingDesiredSource)
    {
        return Restart("Desired source is back - restarting redirection to capture from it");
    }
    return {Say("Non-critical device change - continuing current redirection")};
}
}  // namespace

bool operator==(const DeviceChangeAction& a, const DeviceChangeAction& b)
{
    if (a.step != b.step || (a.message == nullptr) != (b.message == nullptr))
    {
        return false;
    }
    return a.message == nullptr || std::string_view(a.message) == b.message;
}

DeviceChangePlan DecideDefaultSourceRestart(bool desiredIsDefault, bool redirecting)
{
    if (!desiredIsDefault || !redirecting)
    {
        return {};
    }
    return Restart("System default may have changed, restarting redirection.");
}

DeviceChangePlan DecideDeviceChange(const DeviceChangeFacts& facts)
{
    if (facts.redirecting)
    {
        return DecideWhileRedirecting(facts);
    }
    if (facts.anyTargetSelected && facts.mayAutoStart && facts.desiredSourceAvailable)
    {
        return {Say("Device reconnected - auto-starting redirection"), kPause, kStart};
    }
    return {};
}
