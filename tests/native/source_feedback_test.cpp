// Which target would play the source's own output back into it.
#include <gtest/gtest.h>

#include "audio/inventory/source_feedback.h"

TEST(SourceFeedback, OnlyThePlaybackDeviceTheSourceCapturesFeedsBack)
{
    const std::string speakers = "{0.0.0.00000000}.{8d1c7f0a-0b5e-4c3e-9a61-2f1e3d4c5b6a}";
    const std::string headphones = "{0.0.0.00000000}.{1b2c3d4e-5f60-4718-8293-a4b5c6d7e8f9}";
    const std::string microphone = "{0.0.1.00000000}.{8d1c7f0a-0b5e-4c3e-9a61-2f1e3d4c5b6a}";
    EndpointIdentity playback;
    playback.eid = speakers;
    EndpointIdentity recording;
    recording.eid = microphone;
    recording.dataFlow = 1;
    EndpointIdentity systemDefault;
    systemDefault.isDefault = true;
    struct Case
    {
        const char* what;
        EndpointIdentity source;
        std::string defaultPlayback;
        std::string target;
        bool feedsBack;
    };
    const Case cases[] = {
        {"the chosen playback device", playback, headphones, speakers, true},
        {"another playback device", playback, speakers, headphones, false},
        {"the default while it is the default", systemDefault, speakers, speakers, true},
        {"the default after the default moved", systemDefault, headphones, speakers, false},
        {"the default with no default device", systemDefault, "", speakers, false},
        {"a recording source", recording, speakers, speakers, false},
        {"no source and a target without an id", EndpointIdentity{}, "", "", false},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(FeedsBackIntoSource(SourcePlaybackId(c.source, c.defaultPlayback), c.target), c.feedsBack) << c.what;
    }
}
