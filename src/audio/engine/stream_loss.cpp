#include "audio/engine/stream_loss.h"

bool StreamLost(uint32_t result)
{
    return result == kStreamDeviceInvalidated || result == kStreamServiceNotRunning ||
           result == kStreamResourcesInvalidated;
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
