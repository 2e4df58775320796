// A person at the real window: the route is set up with the mouse and the
// keyboard alone (nothing seeded in the registry), heard on the chosen
// outputs, turned down with the volume slider, stopped, found again after a
// restart, and the About tab is opened. Widgets are located on screenshots.
// The window at a display scale of 150 %, at its smallest, and brought back
// from the taskbar by the tray icon.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "harness.h"
#include "main_tab.h"
#include "tone_route.h"

using namespace std::chrono_literals;

namespace
{
const std::set<std::string> kChosenTargets = {"Headphones", "HDMI Output"};
constexpr char kChosenSource[] = "Monitor of Speakers";
// The check mark's colour: a ticked box shows it, an empty one does not.
constexpr uint32_t kCheckMark = 0x478FFF;
// Centre of the close button in window pixels at scale 1.
constexpr int kCloseButton = 22;
constexpr int kMinimizeButton = 59;

// The display scale of every program that Wine starts while this is held
// (HKCU\Control Panel\Desktop "LogPixels", which the fresh test prefix
// does not have); 100 % again afterwards.
struct DisplayScale
{
    explicit DisplayScale(uint32_t dpi) { RegSetDword(kDesktop, "LogPixels", dpi); }
    ~DisplayScale() { RegDeleteValue(kDesktop, "LogPixels"); }
    static inline const std::string kDesktop = "Control Panel\\Desktop";
};

uint32_t StoredVolume()
{
    const auto value = RegQuery(kSettingsKey, "Volume");
    return value ? static_cast<uint32_t>(std::stoul(value->second, nullptr, 0)) : 0;
}

// The tone on a target whose volume lies between `low` and `high` percent
// (the registry keeps whole percents, the slider does not).
void ExpectToneBetween(const AudioBuffer& audio, float low, float high, const std::string& sink)
{
    const std::vector<float> tone = SteadyTone(audio, 0);
    ASSERT_GE(tone.size(), static_cast<size_t>(kAnalysisSampleRate)) << sink << ": the tone was not heard";
    // Under the clipper's knee the tone keeps its shape, scaled by the volume
    // over 50.
    const double amplitude = EstimateSineAmplitude(tone, kToneHz);
    EXPECT_GE(amplitude, kToneAmplitude * low / 50.0 - 0.005) << sink;
    EXPECT_LE(amplitude, kToneAmplitude * high / 50.0 + 0.005) << sink;
}

class UserInterfaceE2e : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { WriteToneFile(); }
    void SetUp() override { RegDeleteTree(kSettingsKey); }
    void TearDown() override { RegDeleteTree(kSettingsKey); }

    // The window as it is now, its screenshot kept under this test's folder.
    Picture Look(const WindowPlace& w, const std::string& name) { return ::Look(w, folder + "/" + name + ".png"); }
    MainTabLayout LookAtMainTab(const WindowPlace& w, const std::string& name)
    {
        return ::LookAtMainTab(w, folder + "/" + name + ".png");
    }

    void CloseWithTitleButton(ToneforkInstance& app, const WindowPlace& w)
    {
        ClickAt(w.x + kCloseButton, w.y + kCloseButton);
        ASSERT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
        EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), {"Exit button clicked.", "Process exit."}));
        WaitForWineIdle();
    }

    std::string folder;
};

TEST_F(UserInterfaceE2e, APersonSetsUpARouteInTheWindowAndFindsItAgainAfterARestart)
{
    // An output that nobody chooses, and that must stay silent.
    ExtraSink line("line", "Line\\ Out");
    ASSERT_TRUE(line.Plugged());
    ToneforkInstance app("ui-route");
    folder = app.Folder();
    // The manual the About tab opens is shipped beside the program.
    EXPECT_NE(ReadFile(folder + "/manual.html").find("<h3 id=\"support\">Support</h3>"), std::string::npos);
    // A taller window, dragged by its bottom edge, shows every output.
    WindowPlace w = ShowEveryOutput(app, StartAndShow(app));
    ASSERT_GE(w.height, 830);
    const MainTabLayout tab = LookAtMainTab(w, "main-tab");
    ASSERT_GE(tab.targets.size(), 4u) << "one box per output";

    TickTargets(w, tab, kChosenTargets);
    EXPECT_EQ(ChosenTargetNames(), kChosenTargets);
    ChooseSource(w, tab, kChosenSource);

    ClickAt(w.x + w.width / 2, tab.startStop.Centre());
    ASSERT_TRUE(app.WaitForLog("WASAPI: source started; 2 render targets started.", 30s)) << app.LogText();
    const std::vector<std::string> sinks = {"speakers", "headphones", "hdmi", "line"};
    const SinkRecordings unity = RecordTone(folder, 3s, sinks);
    ExpectPlayedTone(unity, 2s);
    for (const std::string& sink : kTargetSinks)
        ExpectToneAt(unity.at(sink), ExpectedAtVolume(50), sink, 2s);
    ExpectSilent(unity.at("line"), "line");

    // The volume slider's grab, dragged from the middle to a quarter.
    const Picture slider = Look(w, "volume");
    const std::vector<Stretch> frames = StretchesAcross(slider, tab.volume.Centre(), w.x, w.x + w.width - 1, 200);
    ASSERT_EQ(frames.size(), 1u) << "the volume slider";
    const auto grabAt = [&frames](double t) { return frames[0].from + 16 + static_cast<int>(t * (frames[0].Length() - 32)); };
    DragPointer(grabAt(0.5), tab.volume.Centre(), grabAt(0.25), tab.volume.Centre());
    const uint32_t volume = StoredVolume();
    ASSERT_GE(volume, 20u);
    ASSERT_LE(volume, 30u);
    std::filesystem::create_directories(folder + "/quarter");
    const SinkRecordings quarter = RecordTone(folder + "/quarter", 3s, sinks);
    for (const std::string& sink : kTargetSinks)
        ExpectToneBetween(quarter.at(sink), static_cast<float>(volume), static_cast<float>(volume + 1), sink);
    ExpectSilent(quarter.at("line"), "line");
    // A number typed into it (Ctrl+click) stays within its range.
    CtrlClickAt(grabAt(0.5), tab.volume.Centre());
    PressKey("ctrl+a");
    TypeText("1000");
    PressKey("Return");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(StoredVolume(), 100u) << "a volume typed above the range";

    ClickAt(w.x + w.width / 2, tab.startStop.Centre());
    ASSERT_TRUE(app.WaitForLog("Redirect thread exiting (cleanup done).", 30s)) << app.LogText();
    CloseWithTitleButton(app, w);

    // After a restart the same boxes are ticked and Start routes the same
    // source again.
    w = StartAndShow(app);
    const MainTabLayout again = LookAtMainTab(w, "main-tab-again");
    const Picture shown = Look(w, "ticks");
    size_t ticked = 0;
    for (const Stretch& row : again.targets)
        ticked += CountColour(shown, w.x + 15, row.from, w.x + 43, row.to, kCheckMark) > 20 ? 1 : 0;
    EXPECT_EQ(ticked, 2u);
    ClickAt(w.x + w.width / 2, again.startStop.Centre());
    EXPECT_TRUE(app.WaitForLog("Starting redirection: source='[Recording] Monitor of Speakers', targets=2", 30s))
        << app.LogText();
    ClickAt(w.x + w.width / 2, again.startStop.Centre());

    // The About tab: the second tab of the bar, then its row of three links.
    const Picture before = Look(w, "tabs");
    const std::vector<Stretch> tabRow = StretchesDown(before, w.x + kBoxColumn, w.y + 60, w.y + 129, 15);
    ASSERT_FALSE(tabRow.empty()) << "the tab bar";
    const std::vector<Stretch> tabs = StretchesAcross(before, tabRow[0].Centre(), w.x, w.x + w.width / 2, 30);
    ASSERT_GE(tabs.size(), 2u);
    ClickAt(tabs[1].Centre(), tabRow[0].Centre());
    const Picture about = Look(w, "about-tab");
    size_t linkRows = 0;
    for (const Stretch& row : StretchesDown(about, w.x + w.width / 2, w.y + 130, w.y + w.height - 4, 30))
    {
        const std::vector<Stretch> buttons = StretchesAcross(about, row.Centre(), w.x, w.x + w.width - 1, 100);
        linkRows += buttons.size() == 3 && row.Length() >= 33 && row.Length() <= 37 ? 1 : 0;
    }
    EXPECT_EQ(linkRows, 1u) << "the About tab's Manual, Website and Support buttons";
    CloseWithTitleButton(app, w);
}

// The stored size is the size at 100 %: at 150 % the window opens half as
// large again, stops at the minimum scaled alike when dragged smaller, and
// goes on storing sizes at 100 %.
TEST_F(UserInterfaceE2e, At150PercentTheWindowIsScaledAndStoresItsSizeAt100Percent)
{
    const DisplayScale scale(144);
    RegSetDword(kSettingsKey, "WindowWidth", 520);
    RegSetDword(kSettingsKey, "WindowHeight", 620);
    ToneforkInstance app("ui-150-percent");
    folder = app.Folder();
    const WindowPlace w = StartAndShow(app);
    EXPECT_EQ(w.width, 780);
    EXPECT_EQ(w.height, 930);
    // Drawn at that scale, not stretched from 100 %: the Start button, 40
    // pixels high at scale 1 (in the 516 x 621 design), is 1.5 times that.
    const Picture picture = Look(w, "150-percent");
    // Down the column of check boxes, which meets the button below the rest.
    const std::vector<Stretch> down =
        StretchesDown(picture, w.x + kBoxColumn * 3 / 2, w.y + w.height / 2, w.y + w.height - 4, 20);
    ASSERT_FALSE(down.empty()) << "no Start button on 150-percent.png";
    EXPECT_NEAR(down.back().Length(), 40 * 1.5, 2);

    // By the bottom-right corner (inside its rounding) to far past the minimum.
    DragPointer(w.x + w.width - 6, w.y + w.height - 6, w.x + 100, w.y + 100);
    const WindowPlace least = VisibleWindow(app).value_or(WindowPlace{});
    EXPECT_EQ(least.width, 620);
    EXPECT_EQ(least.height, 746);
    EXPECT_EQ(RegQuery(kSettingsKey, "WindowWidth"), Dword(413));
    EXPECT_EQ(RegQuery(kSettingsKey, "WindowHeight"), Dword(497));
    CloseWithTitleButton(app, least);
    EXPECT_EQ(RegQuery(kSettingsKey, "WindowWidth"), Dword(413));
    EXPECT_EQ(RegQuery(kSettingsKey, "WindowHeight"), Dword(497));
}

TEST_F(UserInterfaceE2e, TheTrayIconBringsBackAWindowMinimisedToTheTaskbar)
{
    ToneforkInstance app("ui-tray-restore");
    folder = app.Folder();
    const WindowPlace w = StartAndShow(app);
    ClickAt(w.x + kMinimizeButton, w.y + kCloseButton);
    ASSERT_TRUE(app.WaitForLog("Minimize button clicked.", 10s)) << app.LogText();
    const auto info = [&app] { return ParseKeyValues(app.Control({"info"}).output); };
    ASSERT_EQ(info()["iconic"], "1");

    // A left click on the icon, as the shell reports it to the window.
    ASSERT_EQ(app.Control({"post", "0x401", "1", "0x202"}).exitCode, 0);
    for (int i = 0; i < 50 && info()["iconic"] != "0"; ++i)
        std::this_thread::sleep_for(100ms);
    const auto shown = info();
    ASSERT_EQ(shown.at("iconic"), "0");
    EXPECT_EQ(shown.at("visible"), "1");
    EXPECT_EQ(shown.at("foreground"), "1");
    LookAtMainTab(w, "restored");
    CloseWithTitleButton(app, w);
}
}  // namespace
