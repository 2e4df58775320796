#pragma once

// How the main loop is paced when the presentation does not do it.
// Presenting with vertical synchronisation normally blocks until the display
// takes the frame; where it returns at once (a display or driver that does
// not synchronise, a virtual display) the loop would build frames as fast as
// the processor allows, and while the window is occluded there is nothing to
// show at all. Platform-free; main thread only, like the presentation.

// One frame at 60 Hz, in milliseconds: the pace of a loop whose
// presentation does not wait.
inline constexpr double kUnpacedFrameMs = 1000.0 / 60.0;

// A present that returned in less than this did not wait for the display.
inline constexpr double kUnwaitedPresentMs = 1.0;

// How long the loop rests instead of drawing while the window is occluded
// or has no back buffer to draw into.
inline constexpr unsigned kIdleFrameMs = 10;

struct PresentPacing
{
    // The last present reported the window occluded: until a test present
    // says otherwise, frames are not built.
    bool occluded = false;
    // When the previous frame ended (its present returned, plus any rest
    // taken after it), on the caller's millisecond clock; negative before
    // the first frame.
    double lastFrameEndMs = -1.0;
};

// Called after each present with the clock before and after it. Returns the
// milliseconds to rest before the next frame: nothing when the present
// waited for the display, otherwise the rest of a 60 Hz frame counted from
// the end of the previous one.
double PacingDelayMs(PresentPacing& pacing, double presentStartMs, double presentEndMs);
