#pragma once

#include <string>

struct AppState;

// The "About" tab: the maker's logo, name and version, the links and the
// credits. Main thread only, between BeginTabBar and EndTabBar.
void DrawAboutTab(AppState& state);

// What "Manual" opens: the manual shipped beside the program, as a file URL.
std::wstring ManualLink();

// What "Website" and "Support" open: the address the build was given, or,
// when it was given none, the support section of the shipped manual.
std::wstring WebsiteLink();
