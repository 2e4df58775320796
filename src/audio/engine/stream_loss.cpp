#include "audio/engine/stream_loss.h"

bool StreamLost(uint32_t result)
{
    return result == kStreamDeviceInvalidated || result == kStreamServiceNotRunning ||
           result == kStreamResourcesInvalidated;
}

LossResponse RestartRecord::Lost(double now)
{
    constexpr double kAgainAtOnceSeconds = 5.0;
    constexpr double kWindowSeconds = 60.0;
    constexpr int kRestartsPerWindow = 2;
    if (restarts_ > 0 && now - last_ < kAgainAtOnceSeconds)
    {
        return LossResponse::AgainAtOnce;
    }
    if (restarts_ > 0 && now - first_ >= kWindowSeconds)
    {
        restarts_ = 0;
    }
    if (restarts_ >= kRestartsPerWindow)
    {
        return LossResponse::TooOften;
    }
    first_ = restarts_ == 0 ? now : first_;
    last_ = now;
    ++restarts_;
    return LossResponse::Restart;
}

const char* StreamLossName(uint32_t result)
{
    switch (result)
    {
    case kStreamDeviceInvalidated:
        return "AUDCLNT_E_DEVICE_INVALIDATED";
    case kStreamServiceNotRunning:
        return "AUDCLNT_E_SERVICE_NOT_RUNNING";
    case kStreamResourcesInvalidated:
        return "AUDCLNT_E_RESOURCES_INVALIDATED";
    default:
        return "unknown";
    }
}
