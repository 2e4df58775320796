#include <gtest/gtest.h>

#include "audio/inventory/monitor_filter.h"

TEST(IsMonitorAudioDevice, NeedsBothWordsInAnyCaseAndOrder)
{
    EXPECT_TRUE(IsMonitorAudioDevice(L"Monitor Output (NVIDIA Audio)"));
    EXPECT_TRUE(IsMonitorAudioDevice(L"OUTPUT nVidia"));
    EXPECT_TRUE(IsMonitorAudioDevice(L"nvidiaoutput"));
    EXPECT_TRUE(IsMonitorAudioDevice(L"DELL U2720Q (NVIDIA High Definition Audio) Digital OutPut"));

    EXPECT_FALSE(IsMonitorAudioDevice(L"NVIDIA Speakers"));
    EXPECT_FALSE(IsMonitorAudioDevice(L"HDMI Output"));
    EXPECT_FALSE(IsMonitorAudioDevice(L"NVIDI A Output"));
    EXPECT_FALSE(IsMonitorAudioDevice(L"Nvidia Outpu"));
    EXPECT_FALSE(IsMonitorAudioDevice(L""));
}
