// Which target would play the source's own output back into it.
#include <gtest/gtest.h>

#include "audio/inventory/source_feedback.h"

TEST(SourceFeedback, OnlyThePlaybackDeviceTheSourceCapturesFeedsBack)
{
    const std::string speakers = "{0.0.0.00000000}.{8d1c7f0a-0b5e-4c3e-9a61-2f1e3d4c5b6a}";
    const std::string headphones = "{0.0.0.00000000}.{1b2c3d4e-5f60-4718-8293-a4b5c6d7e8f9}";
    EndpointIdentity playback, recording, systemDefault;
    playback.eid = recording.eid = speakers;
    recording.dataFlow = 1;
    systemDefault.isDefault = true;
    EXPECT_TRUE(FeedsBackIntoSource(SourcePlaybackId(playback, headphones), speakers));
    EXPECT_FALSE(FeedsBackIntoSource(SourcePlaybackId(playback, speakers), headphones));
    EXPECT_TRUE(FeedsBackIntoSource(SourcePlaybackId(systemDefault, speakers), speakers));
    EXPECT_FALSE(FeedsBackIntoSource(SourcePlaybackId(systemDefault, headphones), speakers));
    EXPECT_FALSE(FeedsBackIntoSource(SourcePlaybackId(recording, speakers), speakers));
    EXPECT_FALSE(FeedsBackIntoSource(SourcePlaybackId(EndpointIdentity{}, ""), ""));  // no ids at all
}
