#pragma once

// The straight line through a clock's readings: where two clocks (a device's
// and the performance counter) stand against each other, read many times.
// Each reading is late by its own small amount (the thread was preempted
// between the two values, or the device's position moves in steps); the
// line through all of them takes out that jitter, and its slope follows the
// drift of one clock against the other. Platform-free; any thread.

#include <span>

struct ClockLine
{
    double at = 0.0;     // x of the readings' mean
    double value = 0.0;  // the line's y there
    double slope = 0.0;

    double ValueAt(double x) const { return value + slope * (x - at); }
};

// The least-squares line through (x[i], y[i]). Flat through the mean of y
// when x does not vary; all zeros for no readings.
ClockLine FitClockLine(std::span<const double> x, std::span<const double> y);
