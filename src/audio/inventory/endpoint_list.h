#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <string>

#include "audio/inventory/endpoint_identity.h"

// One entry of the target candidates or of the source list. The entry owns
// one counted reference to its device (none for the system-default entry);
// dropping the entry releases it.
struct AudioEndpointInfo
{
    std::string displayName;  // UTF-8, as shown in the window
    Microsoft::WRL::ComPtr<IMMDevice> device;
    EndpointIdentity identity;
};
