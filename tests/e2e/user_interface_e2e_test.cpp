// A person at the real window: the route is set up with the mouse and the
// keyboard alone (nothing seeded in the registry), heard on the chosen
// outputs, turned down with the volume slider, stopped, found again after a
// restart, and the About tab is opened. Widgets are located on screenshots.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

#include "harness.h"
#include "screen.h"
#include "tone_route.h"

using namespace std::chrono_literals;

namespace
{
const std::set<std::string> kChosenTargets = {"Headphones", "HDMI Output"};
constexpr char kChosenSource[] = "Monitor of Speakers";
// The check mark's colour: a ticked box shows it, an empty one does not.
constexpr uint32_t kCheckMark = 0x478FFF;
// Centre of the column of check boxes, and of the close button, in window
// pixels at scale 1.
constexpr int kBoxColumn = 29;
constexpr int kCloseButton = 22;

// The Main tab as one screenshot shows it, top to bottom along the column
// of check boxes: two preference boxes, the source chooser, the latency
// slider, one box per output, the volume slider, Start/Stop.
struct MainTabLayout
{
    Stretch source;
    Stretch latency;
    std::vector<Stretch> targets;
    Stretch volume;
    Stretch startStop;
};

std::optional<MainTabLayout> FindMainTab(const Picture& picture, const WindowPlace& w)
{
    // Below the tab bar; glyphs of the headings are shorter than a widget.
    const std::vector<Stretch> runs = StretchesDown(picture, w.x + kBoxColumn, w.y + 130, w.y + w.height - 4, 20);
    if (runs.size() < 7)
    {
        return std::nullopt;
    }
    MainTabLayout tab;
    tab.source = runs[2];
    tab.latency = runs[3];
    tab.targets.assign(runs.begin() + 4, runs.end() - 2);
    tab.volume = runs[runs.size() - 2];
    tab.startStop = runs.back();
    return tab;
}

std::string SettingText(const std::string& name)
{
    const auto value = RegQuery(kSettingsKey, name);
    return value ? value->second : std::string();
}

std::set<std::string> ChosenTargetNames()
{
    std::set<std::string> names;
    const nlohmann::json targets = nlohmann::json::parse(SettingText("SelectedTargets"), nullptr, false);
    if (targets.is_array())
    {
        for (const nlohmann::json& target : targets)
            names.insert(target.value("name", ""));
    }
    return names;
}

std::string ChosenSourceName()
{
    const nlohmann::json source = nlohmann::json::parse(SettingText("SelectedSource"), nullptr, false);
    return source.is_object() ? source.value("name", "") : "";
}

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

    // Starts the program and waits until its window is drawn.
    WindowPlace StartAndShow(ToneforkInstance& app)
    {
        app.Start();
        EXPECT_TRUE(app.WaitForLog("Exit icon", 60s)) << app.LogText();
        std::optional<WindowPlace> place;
        for (int i = 0; i < 50 && !(place = VisibleWindow(app)); ++i)
            std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(place.has_value()) << "the window never showed";
        return place.value_or(WindowPlace{});
    }

    // Looks at the window with the pointer resting on the title bar, where
    // it lights nothing up.
    Picture Look(const WindowPlace& w, const std::string& name)
    {
        MovePointer(w.x + w.width / 2, w.y + 30);
        return TakeScreenshot(folder + "/" + name + ".png");
    }

    MainTabLayout LookAtMainTab(const WindowPlace& w, const std::string& name)
    {
        const std::optional<MainTabLayout> tab = FindMainTab(Look(w, name), w);
        EXPECT_TRUE(tab.has_value()) << "the Main tab's widgets were not found on " << name;
        return tab.value_or(MainTabLayout{});
    }

    // Ticks every output in turn, reads back which one it was, and unticks
    // it again unless it is one of the chosen.
    void TickChosenTargets(const WindowPlace& w, const MainTabLayout& tab)
    {
        for (const Stretch& row : tab.targets)
        {
            const std::set<std::string> before = ChosenTargetNames();
            ClickAt(w.x + kBoxColumn, row.Centre());
            std::set<std::string> added;
            for (const std::string& name : ChosenTargetNames())
                if (before.count(name) == 0)
                    added.insert(name);
            ASSERT_EQ(added.size(), 1u) << "a click on a box must choose exactly its output";
            if (kChosenTargets.count(*added.begin()) == 0)
                ClickAt(w.x + kBoxColumn, row.Centre());
        }
    }

    // Opens the source list and steps one entry down with the keyboard,
    // until the chosen source is the one wanted.
    void ChooseSource(const WindowPlace& w, const MainTabLayout& tab)
    {
        for (int attempt = 0; attempt < 16 && ChosenSourceName() != kChosenSource; ++attempt)
        {
            ClickAt(w.x + w.width / 2, tab.source.Centre());
            PressKey("Down");
            PressKey("Return");
            std::this_thread::sleep_for(200ms);
        }
        ASSERT_EQ(ChosenSourceName(), kChosenSource);
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
    WindowPlace w = StartAndShow(app);
    // A taller window, dragged by its bottom edge, shows every output.
    DragPointer(w.x + w.width / 2, w.y + w.height - 3, w.x + w.width / 2, w.y + w.height + 117);
    w = VisibleWindow(app).value_or(w);
    ASSERT_GE(w.height, 830);
    const MainTabLayout tab = LookAtMainTab(w, "main-tab");
    ASSERT_GE(tab.targets.size(), 4u) << "one box per output";

    TickChosenTargets(w, tab);
    EXPECT_EQ(ChosenTargetNames(), kChosenTargets);
    ChooseSource(w, tab);

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
}  // namespace
