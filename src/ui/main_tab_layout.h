#pragma once

#include <cstddef>
#include <cstdint>

// The arithmetic of the Main tab's layout and of its latency slider, apart
// from the toolkit so that it can be checked on its own. All lengths are in
// pixels of the current frame (already scaled); `scale` is the layout scale.
// No thread affinity.

// Height of the "MainContent" region: what is left of `available` once the
// separator, the spacer and the Start/Stop button below it have their room.
float MainContentHeight(float available, float itemSpacingY, float separatorTextPaddingY, float scale);

struct TargetListMetrics
{
    std::size_t rows = 0;          // target candidates
    float frameHeight = 0.0f;      // one check box row
    float itemSpacingY = 0.0f;
    float fontSize = 0.0f;
    float separatorTextPaddingY = 0.0f;
    float scale = 1.0f;
    float available = 0.0f;        // height left in the region at the list's top
    std::size_t buttonRows = 0;    // rows of buttons between the list and the volume section
};

struct TargetListSize
{
    float height = 0.0f;
    bool scroll = false;  // the rows do not fit: the list is capped and scrolls
};

// Exactly as tall as its rows while they fit above the buttons below it and
// the volume section; capped at the room that is left, with a scroll bar, when they do not.
TargetListSize TargetListLayout(const TargetListMetrics& metrics);

// A finished drag of the latency slider restarts a running redirection only
// when it moved the value by more than 0.9 ms: smaller moves round to the
// same whole millisecond that the heading showed.
bool LatencyChangeNeedsRestart(float startValue, float endValue);

// How many separators the source chooser draws before entry `index`: one
// after the system-default entry and one before the first recording entry
// (both between the default entry and the first recording entry when there
// are no playback entries). `flow` and `previousFlow` are the data flows of
// this entry and of the one before it (1: recording); `isDefaultEntry` tells
// whether this entry is the system-default one.
int SourceSeparatorsBefore(std::size_t index, int32_t flow, int32_t previousFlow, bool isDefaultEntry);
