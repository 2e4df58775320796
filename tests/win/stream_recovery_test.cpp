// Streams the system takes away while the route plays: fake streams that
// start failing after a number of calls while their endpoints stay listed,
// the real engine, and the main window's procedure handling the engine's
// message on this thread, as the program's message loop does.
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "audio/engine/device_change.h"
#include "audio/engine/redirection_control.h"
#include "common/app_messages.h"
#include "engine_fixture.h"
#include "registry_test_support.h"
#include "settings/settings_codec.h"
#include "window_test_support.h"

namespace
{
using namespace std::chrono_literals;

// A fraction of a second of a stream's calls at the fixture's 20 ms.
constexpr uint32_t kCallsBeforeLoss = 150;

class StreamRecovery : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        RegisterMainWindowClass(GetModuleHandleW(nullptr));
        hwnd = CreateMainWindow(state, GetModuleHandleW(nullptr));
        ASSERT_NE(hwnd, nullptr);
    }
    void TearDown() override
    {
        StopRedirection(state);
        DestroyWindow(hwnd);
        DrainMessages();
        EngineTest::TearDown();
        DeleteUserTree(kSettingsKeyPath);  // a device change saves the settings
    }

    // Handles the window's messages until the log holds `line`.
    bool PumpUntilLogged(const std::string& line)
    {
        return PumpMessagesUntil([&] { return static_cast<bool>(InOrder(Log(), {line})); }, 5000ms);
    }
    void PressTrayToggle() { SendMessageW(hwnd, WM_COMMAND, ID_TRAY_TOGGLE, 0); }

    HWND hwnd = nullptr;
};

struct LostCase
{
    HRESULT result;
    std::string code;  // as the log names it
    bool otherTarget;  // a second target that keeps working is selected
};

void PrintTo(const LostCase& lost, std::ostream* out)
{
    *out << lost.code;
}

class LostTarget : public StreamRecovery, public ::testing::WithParamInterface<LostCase>
{
};
}  // namespace

TEST_P(LostTarget, RestartsTheRouteAndIsLeftOutWhenItFailsAgainUntilStart)
{
    const LostCase& lost = GetParam();
    AddSource("Speakers", SourceBehaviour());
    FakeStreamBehaviour failing = TargetBehaviour();
    failing.lostAfterCalls = kCallsBeforeLoss;
    failing.lostWith = lost.result;
    const auto headphones = AddTarget("Headphones", failing);
    const auto hdmi = AddTarget("HDMI Output", TargetBehaviour(), lost.otherTarget);
    StartAndWaitRunning(lost.otherTarget ? 2 : 1);

    const std::string stopped = "StreamFailure: 'Headphones' stopped with " + lost.code + "; ";
    ASSERT_TRUE(PumpUntilLogged(stopped + "restarting redirection."));
    ASSERT_TRUE(PumpUntilLogged(stopped + "it failed again right after a restart and is left out until the next "
                                          "device change or Start."));
    if (lost.otherTarget)
    {
        ASSERT_TRUE(PumpUntilLogged("WASAPI: source started; 1 render targets started."));
        const size_t writes = hdmi->TotalWrites();
        EXPECT_TRUE(PumpMessagesUntil([&] { return hdmi->TotalWrites() > writes + 20; }, 3000ms))
            << "the other target stopped playing";
        EXPECT_TRUE(state.isRedirecting);
    }
    else
    {
        ASSERT_TRUE(PumpUntilLogged("StreamFailure: every target is left out; redirection stopped."));
        EXPECT_FALSE(state.isRedirecting) << "the window shows Stop with nothing to play";
        EXPECT_FALSE(state.redirectThread.joinable());
    }
    EXPECT_EQ(headphones->Streams().size(), 2u) << "a target left out was opened again";

    if (state.isRedirecting)
        PressTrayToggle();
    PressTrayToggle();
    EXPECT_TRUE(PumpMessagesUntil([&] { return headphones->Streams().size() == 3; }, 3000ms))
        << "Start does not try the target left out again";
}

INSTANTIATE_TEST_SUITE_P(
    StreamRecovery, LostTarget,
    ::testing::Values(LostCase{AUDCLNT_E_DEVICE_INVALIDATED, "0x88890004 (AUDCLNT_E_DEVICE_INVALIDATED)", true},
                      LostCase{AUDCLNT_E_SERVICE_NOT_RUNNING, "0x88890010 (AUDCLNT_E_SERVICE_NOT_RUNNING)", false},
                      LostCase{AUDCLNT_E_RESOURCES_INVALIDATED, "0x88890026 (AUDCLNT_E_RESOURCES_INVALIDATED)", true}));

// Chosen by name or as the system's default, the source is the same device.
class LostSource : public StreamRecovery, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LostSource, FailingAgainRightAfterItsRestartStopsTheRouteUntilADeviceChange)
{
    const bool systemDefault = GetParam();
    FakeStreamBehaviour failing = SourceBehaviour();
    failing.lostAfterCalls = kCallsBeforeLoss;
    const auto source = systemDefault ? UseDefaultSource("Speakers", failing) : AddSource("Speakers", failing);
    AddTarget("Headphones", TargetBehaviour());
    StartAndWaitRunning();

    const std::string stopped = std::string("StreamFailure: '") +
                                (systemDefault ? "[System Default Playback Device]" : "[Playback] Speakers") +
                                "' stopped with 0x88890004 (AUDCLNT_E_DEVICE_INVALIDATED); ";
    ASSERT_TRUE(PumpUntilLogged(stopped + "restarting redirection."));
    ASSERT_TRUE(PumpUntilLogged(stopped + "the source failed again right after a restart; redirection stopped."));
    EXPECT_FALSE(state.isRedirecting) << "the window shows Stop with nothing to capture";
    EXPECT_FALSE(state.redirectThread.joinable());
    EXPECT_EQ(source->Streams().size(), 2u);

    // The device coming back starts the route again: the user did not stop it.
    HandleDeviceChange(state, enumerator.Get());
    EXPECT_TRUE(InOrder(Log(), {"Device reconnected - auto-starting redirection", "StartRedirection requested."}));
}

INSTANTIATE_TEST_SUITE_P(StreamRecovery, LostSource, ::testing::Bool());

TEST_F(StreamRecovery, ARebuildThatOpensNoTargetEndsTheRun)
{
    AddSource("Speakers", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour());
    FakeStreamBehaviour unopenable = TargetBehaviour();
    unopenable.activate = AUDCLNT_E_DEVICE_INVALIDATED;
    AddTarget("HDMI Output", unopenable, false);
    StartAndWaitRunning();

    SelectTarget("HDMI Output", true);
    SelectTarget("Headphones", false);
    ASSERT_TRUE(WaitForLog("Targets rebuilt: none could be opened; redirection stopped."));
    EXPECT_TRUE(WaitFor([&] { return !state.isRedirecting; })) << "the window shows Stop with nothing to play";
}
