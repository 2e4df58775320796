#pragma once

struct AppState;

// The "Main" tab: the preference check boxes, the source chooser, the
// latency slider, the target list, the volume slider and Start/Stop. Main
// thread only, between BeginTabBar and EndTabBar. Selection changes are made
// under selectionMutex, which is released again before the settings are
// written or redirection is started or stopped.
void DrawMainTab(AppState& state);
