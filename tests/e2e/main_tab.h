#pragma once

// The Main tab as a person sees and uses it: its widgets found on a
// screenshot, outputs ticked and the source picked with the mouse and the
// keyboard, and what the program saved for those choices read back from the
// registry. Host side, main test thread.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "screen.h"

// Centre of the column of check boxes in window pixels at scale 1.
inline constexpr int kBoxColumn = 29;

// The Main tab as one screenshot shows it, top to bottom along the column
// of check boxes: two preference boxes, the source chooser, the latency
// slider, one box per output, the volume slider, Start/Stop.
struct MainTabLayout
{
    Stretch source;
    Stretch latency;
    std::vector<Stretch> targets;
    Stretch align;  // the Align... button under the list
    Stretch volume;
    Stretch startStop;
};

std::optional<MainTabLayout> FindMainTab(const Picture& picture, const WindowPlace& w);

// Starts the program and waits until its window is drawn.
WindowPlace StartAndShow(ToneforkInstance& app);
// The window with the pointer resting on the title bar, where it lights
// nothing up; the screenshot is kept at `path`.
Picture Look(const WindowPlace& w, const std::string& path);
MainTabLayout LookAtMainTab(const WindowPlace& w, const std::string& path);
// Stretches the window by its bottom edge until every output shows.
WindowPlace ShowEveryOutput(ToneforkInstance& app, const WindowPlace& w);

// The names in the saved choices, as the registry holds them now.
std::set<std::string> ChosenTargetNames();
std::string ChosenSourceName();

// Ticks every output in turn, reads back which one it was, and unticks it
// again unless it is one of `wanted`.
void TickTargets(const WindowPlace& w, const MainTabLayout& tab, const std::set<std::string>& wanted);
// Opens the source list and steps one entry down with the keyboard (the
// first time it takes the entry shown) until the saved source is `name`.
void ChooseSource(const WindowPlace& w, const MainTabLayout& tab, const std::string& name);

// The source and the targets of a route as the program saved them when a
// person chose them in its window: records with the endpoints' own ids.
struct SavedRoute
{
    std::string source;   // SelectedSource
    std::string targets;  // SelectedTargets
};

// The source saved under `sourceName` ("Monitor of Speakers", "Speakers",
// "System Default Device") with "Headphones" and "HDMI Output" as targets,
// chosen in the window of a program started on empty settings, once per test
// program and source. Every desktop device must be plugged in. The settings
// are empty again afterwards; the test seeds what it needs.
SavedRoute RouteChosenInWindow(const std::string& sourceName);
// Stores the route's records as the program saved them.
void StoreRoute(const SavedRoute& route);
