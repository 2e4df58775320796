#pragma once

#include <cstdint>
#include <string>

// What the program remembers about one audio endpoint: read from the system
// on every refresh of the endpoint lists, and saved with the user's source
// and target choices so that they find their device again after a restart
// or a reconnection. A plain value; no thread affinity of its own.
struct EndpointIdentity
{
    // Endpoint id string; each UTF-16 unit kept as its low byte (ids are
    // ASCII). Empty when the system could not give it.
    std::string eid;
    // The endpoint GUID string, narrowed the same way; empty when absent.
    std::string eguid;
    // Form factor of the endpoint; 0 when absent.
    uint32_t ff = 0;
    // Friendly name as the system reports it (UTF-16 on Windows).
    std::wstring name;
    // Set only on the system-default entry of the source list.
    bool isDefault = false;
    // 0 for a playback (render) endpoint, 1 for a recording (capture) one.
    int32_t dataFlow = 0;

    friend bool operator==(const EndpointIdentity&, const EndpointIdentity&) = default;
};
