#pragma once

#include <mmdeviceapi.h>

#include <string>

#include "audio/inventory/endpoint_identity.h"
#include "common/com_ptr.h"

// One entry of the target candidates or of the source list. The entry owns
// one counted reference to its device (none for the system-default entry);
// dropping the entry releases it.
struct AudioEndpointInfo
{
    std::string displayName;  // UTF-8, as shown in the window
    ComPtr<IMMDevice> device;
    EndpointIdentity identity;
};
