#pragma once

struct AppState;

// The "Main" tab: the preference check boxes, the source chooser, the
// latency slider, the target list with Align..., the volume slider and
// Start/Stop; it also carries an alignment to its end (Poll). Main
// thread only, between BeginTabBar and EndTabBar. Selection changes are made
// under selectionMutex, which is released again before the settings are
// written or redirection is started or stopped.
void DrawMainTab(AppState& state);
