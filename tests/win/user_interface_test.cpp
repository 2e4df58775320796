// The window's content built headlessly from the program's own drawing code,
// driven by mouse input as a person would drive it, on a state whose devices
// are fakes: what the user changes must reach the state, the registry, the
// log and the running engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "audio/engine/redirection_control.h"
#include "audio/inventory/selection.h"
#include "engine_fixture.h"
#include "registry_test_support.h"
#include "log/text_convert.h"
#include "settings/run_entry.h"
#include "settings/settings_codec.h"
#include "settings/settings_store.h"
#include "ui/about_tab.h"
#include "ui/centered_row.h"
#include "ui/target_health.h"
#include "ui/target_lights.h"
#include "ui_test_support.h"

namespace
{
using Lines = std::vector<std::string>;

size_t CountOf(const Lines& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

size_t Saves(const Lines& lines)
{
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("SaveSettings:"); }));
}

class UserInterfaceTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        DeleteUserTree(kSettingsKeyPath);
    }
    void TearDown() override
    {
        ui.reset();
        EngineTest::TearDown();
        DeleteUserTree(kSettingsKeyPath);
    }

    // Three playback devices and a recording one, listed as the program
    // lists them: the targets are Speakers (##target0), Headphones (chosen,
    // ##target1) and HDMI Output (##target2); the sources the system default,
    // the three as "[Playback] ...", then "[Recording] Line In". The chosen
    // source is Speakers.
    void AddDevices()
    {
        AddSource("Line In", SourceBehaviour(), eCapture);
        AddSource("Speakers", SourceBehaviour(), eRender);
        AddTarget("Headphones", TargetBehaviour(), true);
        AddTarget("HDMI Output", TargetBehaviour(), false);
    }

    // The devices above and a USB Mic, both targets ticked, the mic saved as
    // the alignment's last choice, and Align... opened.
    void OpenAlignWithTwoTargets()
    {
        AddDevices();
        Plug("USB Mic", eCapture, SourceBehaviour());
        SelectTarget("HDMI Output", true);
        List();
        state.alignMicrophone = SourceEntry("USB Mic").identity;
        Ui().Click("Align...");
    }

    HeadlessInterface& Ui(ImVec2 display = ImVec2(516, 720))
    {
        if (!ui)
            ui = std::make_unique<HeadlessInterface>(state, display);
        return *ui;
    }

    void ChooseSource(const char* label)
    {
        Ui().Click("##source");
        Ui().Click(("##" + std::string(label)).c_str());
    }

    // Drags the latency slider from its current value to `to`.
    void DragLatency(float to)
    {
        const float from = state.bufferMs.load();
        Ui().Drag(Ui().SliderPoint("##buffer", (from - 1.0f) / 59.0f), Ui().SliderPoint("##buffer", (to - 1.0f) / 59.0f));
    }

    // Waits until the engine has started this many runs in all.
    bool Runs(size_t count) const
    {
        return WaitFor([&] { return CountOf(Log(), "Redirect thread started.") == count; });
    }

    std::unique_ptr<HeadlessInterface> ui;
};

TEST_F(UserInterfaceTest, ChoosingASourceSavesReloadsItsVolumeAndRestartsOnlyWhatRuns)
{
    AddDevices();
    // What moving the volume slider with Line In chosen left behind.
    state.deviceVolumes[DeviceVolumeKey(SourceEntry("Line In").identity)] = 80.0f;

    ChooseSource("[Playback] Speakers");  // the entry already chosen
    EXPECT_EQ(CountOf(Log(), "SaveSettings: RunOnStartup=0, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, "
                             "Window=516x720, Volume=50, Buffer=20ms"),
              1u);
    EXPECT_FLOAT_EQ(state.volume.load(), 50.0f);

    ChooseSource("[Recording] Line In");  // a new one while stopped
    EXPECT_EQ(state.selectedSourceIndex, 4);
    EXPECT_EQ(state.desiredSource.eid, IdOf("Line In"));
    EXPECT_FLOAT_EQ(state.volume.load(), 80.0f);
    EXPECT_FALSE(state.isRedirecting);
    const std::optional<RawRegistryValue> saved = ReadRawValue(kSettingsKeyPath, kSelectedSourceValueName);
    ASSERT_TRUE(saved.has_value());
    EXPECT_NE(saved->Units().find(Utf8ToWide("\"eid\":\"" + IdOf("Line In") + "\"")), std::wstring::npos);

    StartAndWaitRunning();
    ChooseSource("[Playback] Speakers");  // a new one while running: one restart
    EXPECT_TRUE(state.isRedirecting);
    EXPECT_FLOAT_EQ(state.volume.load(), 50.0f);
    const Lines lines = Log();
    EXPECT_EQ(CountOf(lines, "Loaded volume 80% for source: [Recording] Line In"), 1u);
    EXPECT_EQ(CountOf(lines, "Loaded volume 50% for source: [Playback] Speakers"), 1u);
    EXPECT_EQ(CountOf(lines, "Source device changed: restarting redirection."), 1u);
    EXPECT_TRUE(Runs(2));
    EXPECT_TRUE(WaitForLog("Starting redirection: source='[Playback] Speakers', targets=1"));
}

TEST_F(UserInterfaceTest, LatencyDragRestartsOnReleaseOnlyWhenTheValueMovedMoreThanNineTenths)
{
    AddDevices();
    StartAndWaitRunning();
    struct Case
    {
        float to;
        size_t runsAfter;
        const char* stopped;
    };
    const Case cases[] = {
        {20.4f, 1, "Stopped dragging buffer slider, final value: 20"},
        {21.3f, 2, "Stopped dragging buffer slider, final value: 21"},
    };
    for (const Case& c : cases)
    {
        state.bufferMs = 20.0f;
        DragLatency(c.to);
        EXPECT_NEAR(state.bufferMs.load(), c.to, 0.15f);
        EXPECT_TRUE(Runs(c.runsAfter)) << c.to;
        EXPECT_EQ(CountOf(Log(), c.stopped), 1u) << c.to;
        EXPECT_TRUE(state.isRedirecting);
    }
    const Lines lines = Log();
    EXPECT_EQ(CountOf(lines, "Started dragging buffer slider, initial value: 20"), 2u);
    EXPECT_EQ(CountOf(lines, "Buffer changed after drag complete (20 -> 21), restarting..."), 1u);
    EXPECT_EQ(ReadDword(kSettingsKeyPath, L"BufferMs"), std::optional<uint32_t>(21));
}

TEST_F(UserInterfaceTest, TargetsKeepTheSavedListFreeOfDuplicatesAndTheLastOneOffStops)
{
    AddDevices();
    SelectTarget("HDMI Output", true);
    StartAndWaitRunning(2);

    Ui().Click("##target1");  // one of two off: the engine carries on by itself
    EXPECT_TRUE(state.isRedirecting);
    ASSERT_EQ(state.desiredTargets.size(), 1u);
    EXPECT_EQ(state.desiredTargets[0].eid, IdOf("HDMI Output"));

    Ui().Click("##target1");  // back on: appended once
    Ui().Click("##target2");
    Ui().Click("##target2");
    ASSERT_EQ(state.desiredTargets.size(), 2u);
    EXPECT_EQ(state.desiredTargets[0].eid, IdOf("Headphones"));
    EXPECT_EQ(state.desiredTargets[1].eid, IdOf("HDMI Output"));
    EXPECT_TRUE(state.isRedirecting);

    Ui().Click("##target1");
    Ui().Click("##target2");  // the last one off
    EXPECT_FALSE(state.isRedirecting);
    EXPECT_TRUE(state.desiredTargets.empty());
    EXPECT_EQ(state.targetSelected, (std::vector<bool>{false, false, false}));
    const std::optional<RawRegistryValue> saved = ReadRawValue(kSettingsKeyPath, kSelectedTargetsValueName);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->Units().substr(0, 2), L"[]");
}

TEST_F(UserInterfaceTest, StartIsDisabledWithoutATargetOrASourceAndSaysWhy)
{
    AddDevices();
    struct Case
    {
        const char* what;
        bool target;
        bool source;
    };
    const Case cases[] = {{"no target", false, true}, {"no source", true, false}};
    for (const Case& c : cases)
    {
        SelectTarget("Headphones", c.target);
        state.desiredSource = c.source ? SourceEntry("Speakers").identity : EndpointIdentity{};
        Ui().Click("Start");
        EXPECT_FALSE(state.isRedirecting) << c.what;
        EXPECT_TRUE(Ui().TooltipShown()) << c.what;
    }
    EXPECT_EQ(CountOf(Log(), "StartRedirection requested."), 0u);

    SelectTarget("Headphones", true);
    state.desiredSource = SourceEntry("Speakers").identity;
    Ui().Click("Start");
    EXPECT_TRUE(state.isRedirecting);
    EXPECT_FALSE(Ui().TooltipShown());
    EXPECT_TRUE(WaitForLog("WASAPI: source started; 1 render targets started."));
    Ui().Frame();
    Ui().Click("Stop");  // the same place now stops
    EXPECT_FALSE(state.isRedirecting);
}

TEST_F(UserInterfaceTest, LongNamesAreCutWithTheWholeNameOnHoverAndHashesAreDrawnAsText)
{
    const std::string longName = "Speakers (" + std::string(190, 'W') + ")";
    AddSource(longName, SourceBehaviour(), eRender);
    AddTarget("Mic", TargetBehaviour(), false);
    AddTarget("Mic ##2", TargetBehaviour(), false);
    const ImRect list = Ui().ChildRect("TargetList");
    EXPECT_LE(Ui().ContentWidth("TargetList"), list.GetWidth());
    // A tooltip counts as shown from the frame after the one that opened it.
    Ui().MoveMouse(ImVec2(Ui().Rect("##target0").Max.x + 12.0f, Centre(Ui().Rect("##target0")).y));
    Ui().Frame();
    EXPECT_TRUE(Ui().TooltipShown()) << "the long name cut";
    Ui().MoveMouse(ImVec2(Ui().Rect("##target1").Max.x + 12.0f, Centre(Ui().Rect("##target1")).y));
    Ui().Frame();
    EXPECT_FALSE(Ui().TooltipShown()) << "a name that fits";

    Ui().Click("##source");
    EXPECT_LE(Ui().ContentWidth("##Combo_00"), Ui().Rect("##source").GetWidth());
    EXPECT_GT(Ui().GlyphSpan(Ui().Rect("##[Playback] Mic ##2")), Ui().GlyphSpan(Ui().Rect("##[Playback] Mic")) + 15.0f);
    Ui().MoveMouse(Centre(Ui().Rect(("##[Playback] " + longName).c_str())));
    Ui().Frame();
    EXPECT_TRUE(Ui().TooltipShown()) << "the long entry cut";
}

// With System Default chosen, the default playback device is Speakers.
TEST_F(UserInterfaceTest, TheSourcesOwnDeviceIsADisabledTargetThatKeepsItsStoredChoice)
{
    AddDevices();
    SelectTarget("Speakers", true);
    for (const bool systemDefault : {false, true})
    {
        if (systemDefault)
            ChooseSource("[System Default Playback Device]");
        Ui().Click("##target0");
        EXPECT_TRUE(Ui().TooltipShown()) << systemDefault;
        EXPECT_TRUE(state.targetSelected[0]) << systemDefault;
        EXPECT_EQ(state.desiredTargets.size(), 2u) << "Headphones and Speakers saved";
    }
    ChooseSource("[Recording] Line In");
    Ui().Click("##target0");
    EXPECT_FALSE(state.targetSelected[0]) << "a box like any other once the source changed";
}

TEST_F(UserInterfaceTest, LaunchWithWindowsWritesTheRunEntryOnlyAndOtherBoxesSaveTheSettings)
{
    Ui().Click(" Launch with Windows");
    EXPECT_TRUE(state.runOnStartup);
    EXPECT_TRUE(ReadRawValue(kRunKeyPath, kRunValueName).has_value());
    EXPECT_FALSE(UserKeyExists(kSettingsKeyPath)) << "the settings are not rewritten for it";
    Ui().Click(" Launch with Windows");
    EXPECT_FALSE(state.runOnStartup);
    EXPECT_FALSE(ReadRawValue(kRunKeyPath, kRunValueName).has_value());

    Ui().Click(" Minimize on close");
    EXPECT_TRUE(state.minimizeOnClose);
    EXPECT_EQ(ReadDword(kSettingsKeyPath, L"MinimizeOnClose"), std::optional<uint32_t>(1));
}

TEST_F(UserInterfaceTest, TargetListFitsItsRowsAndScrollsOnlyWhenTheyDoNotFit)
{
    for (int i = 0; i < 6; ++i)
        AddTarget("Output " + std::to_string(i), TargetBehaviour(), false);
    // Tall enough for six rows; the width keeps the scale at 1.
    Ui(ImVec2(516, 900)).Frame();
    const float row = ImGui::GetFrameHeight() + ImGui::GetStyle().ItemSpacing.y;
    EXPECT_FLOAT_EQ(Ui().ChildRect("TargetList").GetHeight(), 6 * row);
    EXPECT_FALSE(Ui().ChildScrolls("TargetList"));
    EXPECT_LE(Ui().Rect("##target5").Max.y, Ui().ChildRect("TargetList").Max.y);

    for (int i = 6; i < 40; ++i)
        AddTarget("Output " + std::to_string(i), TargetBehaviour(), false);
    Ui().Frames(2);
    EXPECT_TRUE(Ui().ChildScrolls("TargetList"));
    EXPECT_GT(Ui().ChildRect("TargetList").GetHeight(), 6 * row);
    // The list takes the room the volume section leaves, and that section
    // stays whole at the bottom of the content region.
    const float contentBottom = Ui().ChildRect("MainContent").Max.y;
    const ImRect volume = Ui().Rect("##volume");
    EXPECT_LE(volume.Max.y, contentBottom);
    EXPECT_GT(volume.Max.y, contentBottom - row);
}

TEST_F(UserInterfaceTest, CenteredRowOfLinkButtonsAtScaleOne)
{
    int clicked = -2;
    HeadlessInterface& ui = Ui();
    ui.SetContent([&clicked] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(516, 200));
        ImGui::Begin("row", nullptr, ImGuiWindowFlags_NoDecoration);
        const RowItem links[] = {{0, "Manual##3", ImVec2(155, 35), nullptr},
                                 {0, "Website##4", ImVec2(155, 35), nullptr},
                                 {0, "Support##43", ImVec2(155, 35), nullptr}};
        const int linkClicked = DrawCenteredRow(links);
        if (linkClicked != -1 || clicked == -2)
            clicked = linkClicked;
        const RowItem natural[] = {{0, "Fit", ImVec2(0, 0), nullptr}};
        DrawCenteredRow(natural);
        const RowItem wide[] = {{4, nullptr, ImVec2(300, 1), nullptr}, {0, "Wide", ImVec2(300, 20), nullptr}};
        DrawCenteredRow(wide);
        ImGui::End();
    });
    const ImRect manual = ui.Rect("Manual##3");
    const ImRect website = ui.Rect("Website##4");
    const ImRect support = ui.Rect("Support##43");
    // 486 available, 481 wide: 2.5 pixels right of the 15-pixel padding.
    EXPECT_NEAR(manual.Min.x, 17.5f, 0.5f);
    EXPECT_FLOAT_EQ(manual.GetWidth(), 155.0f);
    EXPECT_FLOAT_EQ(manual.GetHeight(), 35.0f);
    EXPECT_FLOAT_EQ(website.Min.x - manual.Max.x, 8.0f);
    EXPECT_FLOAT_EQ(support.Min.x - website.Max.x, 8.0f);
    // A button sized 0 fits its label; a row wider than the space is not
    // shifted.
    const ImRect fit = ui.Rect("Fit");
    EXPECT_FLOAT_EQ(fit.GetWidth(), std::ceil(ImGui::CalcTextSize("Fit").x) + 16.0f);
    EXPECT_NEAR((fit.Min.x + fit.Max.x) / 2, 258.0f, 0.5f);
    EXPECT_FLOAT_EQ(ui.Rect("Wide").Min.x, 15.0f + 300.0f + 8.0f);
    EXPECT_EQ(clicked, -1);

    ui.Click("Website##4");
    EXPECT_EQ(clicked, 1);
}

TEST_F(UserInterfaceTest, AboutTabShowsTheLinksAndTheyLeadToTheShippedManual)
{
    EXPECT_FALSE(Ui().Find("Manual##3").has_value());
    Ui().Click("   About   ");
    EXPECT_TRUE(Ui().Find("Manual##3").has_value());
    EXPECT_TRUE(Ui().Find("Support##43").has_value());
    EXPECT_FALSE(Ui().Find("##volume").has_value());

    const std::wstring manual = ManualLink();
    EXPECT_EQ(manual.rfind(L"file:///", 0), 0u);
    EXPECT_EQ(manual.substr(manual.size() - 12), L"/manual.html");
    EXPECT_EQ(WebsiteLink(), manual + L"#support");
}
// Headphones (##target1) plays in the route; HDMI Output (##target2) is not
// ticked and keeps what is set for it all the same.
TEST_F(UserInterfaceTest, TuningFieldsReachTheLinkAtOnceSaveOnReleaseAndLeaveTheRouteRunning)
{
    AddDevices();
    StartAndWaitRunning();
    struct Case
    {
        const char* field;
        size_t target;
        float dragBy;
        TargetTuning tuned;
    };
    const Case cases[] = {{"##targetDelay", 1, 40.0f, {40, 100.0f}}, {"##targetVolume", 2, -30.0f, {0, 70.0f}}};
    for (const Case& c : cases)
    {
        const size_t savesBefore = Saves(Log());
        const ImVec2 from = Centre(Ui().Rect(c.field, c.target));
        Ui().MoveMouse(from);
        ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, true);
        Ui().Frame();
        Ui().MoveMouse(ImVec2(from.x + c.dragBy, from.y));
        EXPECT_EQ(TargetLinkAt(state, c.target)->Tuning(), c.tuned) << c.field << " while held";
        EXPECT_EQ(Saves(Log()), savesBefore) << c.field;
        ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, false);
        Ui().Frames(2);
        EXPECT_EQ(Saves(Log()), savesBefore + 1) << c.field;
        ASSERT_FALSE(state.desiredTuning.empty());
        EXPECT_EQ(state.desiredTuning.back().identity.eid, state.playbackDevices[c.target].identity.eid);
        EXPECT_EQ(state.desiredTuning.back().tuning, c.tuned) << c.field;
    }
    // A double-click types a value; the playing target hears only the one
    // typed in the end, not "2" and "25" on the way.
    const int32_t typedOver = TargetLinkAt(state, 1)->delayMs.load();
    Ui().Click("##targetDelay", 1);
    Ui().Click("##targetDelay", 1);
    for (const char* key : {"2", "5", "0"})
    {
        ImGui::GetIO().AddInputCharactersUTF8(key);
        Ui().Frame();
        EXPECT_EQ(TargetLinkAt(state, 1)->delayMs.load(), typedOver) << "while typing";
    }
    ImGui::GetIO().AddKeyEvent(ImGuiKey_Enter, true);
    Ui().Frame();
    ImGui::GetIO().AddKeyEvent(ImGuiKey_Enter, false);
    Ui().Frame();
    EXPECT_EQ(TargetLinkAt(state, 1)->delayMs.load(), 250);
    EXPECT_TRUE(state.isRedirecting);
    EXPECT_TRUE(Runs(1));
    EXPECT_EQ(CountOf(Log(), "StartRedirection requested."), 1u);
}

// The figures are set by hand, as the redirect thread publishes them.
TEST_F(UserInterfaceTest, LightShowsTheTargetsHealthAndItsFiguresOnHover)
{
    AddDevices();
    TargetLink& link = *TargetLinkAt(state, 1);
    link.sampleRate = 48000;
    link.cushionFrames = 1440;
    struct Case
    {
        bool routing;
        TargetRunState run;
        uint32_t queued;
        HealthLight light;
    };
    const Case cases[] = {{false, TargetRunState::Playing, 1440, HealthLight::Grey},
                          {true, TargetRunState::Playing, 1440, HealthLight::Green},
                          {true, TargetRunState::Playing, 4000, HealthLight::Amber},
                          {true, TargetRunState::Lost, 1440, HealthLight::Red}};
    for (const Case& c : cases)
    {
        state.isRedirecting = c.routing;
        link.runState = c.run;
        link.queuedFrames = c.queued;
        link.lastPacketNs = link.lastWrittenNs = SteadyNowNs();
        Ui().Frame();
        const LightColour expected = ColourOf(c.light);
        EXPECT_EQ(Ui().ShapeColour(Ui().Rect("##light1")), IM_COL32(expected.r, expected.g, expected.b, 255))
            << static_cast<int>(c.light);
    }
    Ui().MoveMouse(Centre(Ui().Rect("##light1")));
    Ui().Frame();
    EXPECT_TRUE(Ui().TooltipShown());
    state.isRedirecting = false;
}

// A device that goes away during a drag moves the rows below it up; the
// drag stays with its device and does not reach the one that takes its row.
TEST_F(UserInterfaceTest, ADragStaysWithItsDeviceWhenTheRowsMove)
{
    AddDevices();
    Ui().Frame();
    const ImVec2 from = Centre(Ui().Rect("##targetDelay", 1));
    Ui().MoveMouse(from);
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, true);
    Ui().Frame();
    Unplug("Speakers");
    List();
    Ui().MoveMouse(ImVec2(from.x + 40.0f, from.y));
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, false);
    Ui().Frames(2);
    ASSERT_EQ(state.playbackDevices.size(), 2u);
    EXPECT_EQ(TargetLinkAt(state, 0)->Tuning(), (TargetTuning{40, 100.0f})) << state.playbackDevices[0].displayName;
    EXPECT_EQ(TargetLinkAt(state, 1)->Tuning(), TargetTuning{}) << state.playbackDevices[1].displayName;
}

// At the smallest window a dozen characters of a name still show whole.
TEST_F(UserInterfaceTest, TargetRowFitsTheSmallestWindow)
{
    AddTarget("Headset 1234", TargetBehaviour(), true);
    Ui(ImVec2(413, 497)).Frame();
    const ImRect list = Ui().ChildRect("TargetList");
    EXPECT_LE(Ui().Rect("##targetVolume").Max.x, list.Max.x);
    EXPECT_LE(Ui().ContentWidth("TargetList"), list.GetWidth());
    const ImRect box = Ui().Rect("##target0");
    Ui().MoveMouse(ImVec2(box.Max.x + 20.0f, Centre(box).y));
    Ui().Frame();
    EXPECT_FALSE(Ui().TooltipShown()) << "the name was cut";
    // Below the list, Align... and the volume section stay whole.
    EXPECT_LE(Ui().Rect("Align...").Max.y, Ui().Rect("##volume").Min.y);
    EXPECT_LE(Ui().Rect("##volume").Max.y, Ui().ChildRect("MainContent").Max.y);
}

// Speakers, the source, stays ticked but does not play.
TEST_F(UserInterfaceTest, AlignNeedsTwoTargetsThatPlayAndSaysWhyUntilThen)
{
    AddDevices();
    const std::pair<const char*, bool> ticks[] = {{"Headphones", false}, {"Speakers", false}, {"HDMI Output", true}};
    for (const auto& [ticked, opens] : ticks)
    {
        SelectTarget(ticked, true);
        Ui().Click("Align...");
        EXPECT_EQ(Ui().TooltipShown(), !opens) << ticked;
        EXPECT_EQ(Ui().Find("##alignMicrophone").has_value(), opens) << ticked;
    }
}

// Line In and USB Mic record; the one saved last is the second. Line In is
// unplugged before Start: any session refuses it, and says why.
TEST_F(UserInterfaceTest, AlignDialogOffersTheRecordingDevicesAndSavesTheChoiceOnStart)
{
    OpenAlignWithTwoTargets();
    const EndpointIdentity lineIn = SourceEntry("Line In").identity;
    EXPECT_NE(Ui().ShownText().find("[Recording] USB Mic"), std::string::npos);

    Ui().Click("##alignMicrophone");
    const std::pair<const char*, bool> entries[] = {{"##[Recording] Line In", true},
                                                    {"##[Recording] USB Mic", true},
                                                    {"##[Playback] Speakers", false},
                                                    {"##[System Default Playback Device]", false}};
    for (const auto& [entry, listed] : entries)
        EXPECT_EQ(Ui().Find(entry).has_value(), listed) << entry;
    Ui().Click("##[Recording] Line In");
    Ui().Drag(Ui().SliderPoint("##probeLevel", 0.6f), Ui().SliderPoint("##probeLevel", 0.3f));
    Unplug("Line In");
    List();
    Ui().Click("Start##align");
    const AlignmentReport& report = state.alignment.Poll(state);
    ASSERT_EQ(report.state, AlignmentState::Refused);
    EXPECT_FALSE(report.reason.empty());
    EXPECT_NE(Ui().ShownText().find(report.reason), std::string::npos);
    Ui().Click("Close##align");
    EXPECT_FALSE(Ui().Find("##alignMicrophone").has_value());

    AppState loaded{AppStateDefaultsOnly{}};
    LoadSettings(loaded);
    EXPECT_EQ(loaded.alignMicrophone, lineIn);
    EXPECT_EQ(loaded.alignProbeDbfs, -35.0f);
}

// A target taken away while it is measured has no delay to be given, and the
// others' were reckoned against it: the alignment refuses, naming it.
TEST_F(UserInterfaceTest, AlignRefusesWhenATargetWentAwayWhileItWasMeasured)
{
    OpenAlignWithTwoTargets();
    Ui().Click("Start##align");
    ASSERT_EQ(state.alignment.Poll(state).state, AlignmentState::Measuring);
    Unplug("HDMI Output");
    List();
    ASSERT_TRUE(WaitFor([this] { return state.alignment.Poll(state).state != AlignmentState::Measuring; },
                        std::chrono::seconds(5)));
    const AlignmentReport& report = state.alignment.Poll(state);
    EXPECT_EQ(report.state, AlignmentState::Refused);
    EXPECT_NE(report.reason.find("'HDMI Output' went away"), std::string::npos) << report.reason;
}
}  // namespace
