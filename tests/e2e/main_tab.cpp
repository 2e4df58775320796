#include "main_tab.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace
{
std::string SettingText(const std::string& name)
{
    const RegistryValue value = RegQuery(kSettingsKey, name);
    return value ? value->second : std::string();
}
}  // namespace

std::optional<MainTabLayout> FindMainTab(const Picture& picture, const WindowPlace& w)
{
    // Below the tab bar; glyphs of the headings are shorter than a widget.
    const std::vector<Stretch> runs = StretchesDown(picture, w.x + kBoxColumn, w.y + 130, w.y + w.height - 4, 20);
    if (runs.size() < 8)
    {
        return std::nullopt;
    }
    MainTabLayout tab;
    tab.source = runs[2];
    tab.latency = runs[3];
    tab.targets.assign(runs.begin() + 4, runs.end() - 3);
    tab.align = runs[runs.size() - 3];
    tab.volume = runs[runs.size() - 2];
    tab.startStop = runs.back();
    return tab;
}

WindowPlace StartAndShow(ToneforkInstance& app)
{
    app.Start();
    EXPECT_TRUE(app.WaitForLog("Exit icon", 60s)) << app.LogText();
    std::optional<WindowPlace> place;
    for (int i = 0; i < 50 && !(place = VisibleWindow(app)); ++i)
    {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(place.has_value()) << "the window never showed";
    return place.value_or(WindowPlace{});
}

Picture Look(const WindowPlace& w, const std::string& path)
{
    MovePointer(w.x + w.width / 2, w.y + 30);
    return TakeScreenshot(path);
}

// A window just mapped may not have drawn its first frame yet on a busy
// host: it is looked at again for up to 3 s.
MainTabLayout LookAtMainTab(const WindowPlace& w, const std::string& path)
{
    std::optional<MainTabLayout> tab = FindMainTab(Look(w, path), w);
    for (int i = 0; i < 20 && !tab; ++i)
    {
        std::this_thread::sleep_for(150ms);
        tab = FindMainTab(Look(w, path), w);
    }
    EXPECT_TRUE(tab.has_value()) << "the Main tab's widgets were not found on " << path;
    return tab.value_or(MainTabLayout{});
}

WindowPlace ShowEveryOutput(ToneforkInstance& app, const WindowPlace& w)
{
    DragPointer(w.x + w.width / 2, w.y + w.height - 3, w.x + w.width / 2, w.y + w.height + 117);
    return VisibleWindow(app).value_or(w);
}

std::set<std::string> ChosenTargetNames()
{
    std::set<std::string> names;
    const nlohmann::json targets = nlohmann::json::parse(SettingText("SelectedTargets"), nullptr, false);
    if (targets.is_array())
    {
        for (const nlohmann::json& target : targets)
        {
            names.insert(target.value("name", ""));
        }
    }
    return names;
}

std::string ChosenSourceName()
{
    const nlohmann::json source = nlohmann::json::parse(SettingText("SelectedSource"), nullptr, false);
    return source.is_object() ? source.value("name", "") : "";
}

void TickTargets(const WindowPlace& w, const MainTabLayout& tab, const std::set<std::string>& wanted)
{
    for (const Stretch& row : tab.targets)
    {
        const std::set<std::string> before = ChosenTargetNames();
        ClickAt(w.x + kBoxColumn, row.Centre());
        std::set<std::string> added;
        for (const std::string& name : ChosenTargetNames())
        {
            if (before.count(name) == 0)
            {
                added.insert(name);
            }
        }
        ASSERT_EQ(added.size(), 1u) << "a click on a box must choose exactly its output";
        if (wanted.count(*added.begin()) == 0)
        {
            ClickAt(w.x + kBoxColumn, row.Centre());
        }
    }
}

void ChooseSource(const WindowPlace& w, const MainTabLayout& tab, const std::string& name)
{
    for (int attempt = 0; attempt < 16 && ChosenSourceName() != name; ++attempt)
    {
        ClickAt(w.x + w.width / 2, tab.source.Centre());
        if (attempt > 0)
        {
            PressKey("Down");
        }
        PressKey("Return");
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_EQ(ChosenSourceName(), name);
}

namespace
{
SavedRoute ChooseRoute(const std::string& sourceName)
{
    RegDeleteTree(kSettingsKey);
    std::string folder = "choose-" + sourceName;
    std::replace(folder.begin(), folder.end(), ' ', '-');
    ToneforkInstance app(folder);
    const WindowPlace shown = StartAndShow(app);
    const WindowPlace w = ShowEveryOutput(app, shown);
    const MainTabLayout tab = LookAtMainTab(w, app.Folder() + "/main-tab.png");
    TickTargets(w, tab, {"Headphones", "HDMI Output"});
    ChooseSource(w, tab, sourceName);
    EXPECT_EQ(ChosenTargetNames(), (std::set<std::string>{"Headphones", "HDMI Output"}));
    EXPECT_EQ(app.Control({"close"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
    WaitForWineIdle();
    SavedRoute route{SettingText("SelectedSource"), SettingText("SelectedTargets")};
    RegDeleteTree(kSettingsKey);
    return route;
}
}  // namespace

SavedRoute RouteChosenInWindow(const std::string& sourceName)
{
    static std::map<std::string, SavedRoute> chosen;
    const auto known = chosen.find(sourceName);
    if (known != chosen.end())
    {
        return known->second;
    }
    const SavedRoute route = ChooseRoute(sourceName);
    // A failed choice is not kept: the next test tries again.
    if (!::testing::Test::HasFailure())
    {
        chosen.emplace(sourceName, route);
    }
    return route;
}

void StoreRoute(const SavedRoute& route)
{
    RegSetString(kSettingsKey, "SelectedSource", route.source);
    RegSetString(kSettingsKey, "SelectedTargets", route.targets);
}
