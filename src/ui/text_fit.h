#pragma once

#include <functional>
#include <string>
#include <string_view>

// How a device name is shown in a row narrower than the name: cut after the
// last whole character that still leaves room for "...", which follows it.
// The whole name is shown wherever it fits. Apart from the toolkit so that it
// can be checked on its own; no thread affinity.

// The drawn width of a UTF-8 text, in the same unit as the available width.
// A longer prefix is never narrower than a shorter one.
using TextWidth = std::function<float(std::string_view)>;

struct FittedText
{
    std::string shown;  // UTF-8: the whole text, or a prefix with "..."
    bool cut = false;   // the text did not fit and was cut
};

// Only "..." when not even one character fits beside it.
FittedText FitText(std::string_view text, float available, const TextWidth& width);
