#include "audio/inventory/source_feedback.h"

std::string SourcePlaybackId(const EndpointIdentity& source, const std::string& defaultPlaybackId)
{
    if (source.isDefault)
    {
        return defaultPlaybackId;
    }
    return source.dataFlow == 0 ? source.eid : std::string();
}

bool FeedsBackIntoSource(const std::string& sourcePlaybackId, const std::string& targetId)
{
    return !sourcePlaybackId.empty() && sourcePlaybackId == targetId;
}
