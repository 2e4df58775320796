#include "ui/text_fit.h"

#include <cstddef>
#include <vector>

namespace
{
constexpr std::string_view kEllipsis = "...";

// Where a cut may fall: before each character's lead byte, and at the end.
// A cut inside a character would leave half of it to be drawn as a box.
std::vector<std::size_t> CharacterBoundaries(std::string_view text)
{
    std::vector<std::size_t> boundaries;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if ((static_cast<unsigned char>(text[i]) & 0xC0u) != 0x80u)
        {
            boundaries.push_back(i);
        }
    }
    boundaries.push_back(text.size());
    return boundaries;
}

std::string WithEllipsis(std::string_view text, std::size_t length)
{
    std::string shown(text.substr(0, length));
    shown += kEllipsis;
    return shown;
}
}  // namespace

FittedText FitText(std::string_view text, float available, const TextWidth& width)
{
    if (width(text) <= available)
    {
        return {std::string(text), false};
    }
    const std::vector<std::size_t> boundaries = CharacterBoundaries(text);
    // Binary search for the last boundary whose prefix fits with the dots;
    // boundary 0 (the dots alone) is taken when none does.
    std::size_t low = 0;
    std::size_t high = boundaries.size() - 1;
    while (low < high)
    {
        const std::size_t middle = (low + high + 1) / 2;
        if (width(WithEllipsis(text, boundaries[middle])) <= available)
        {
            low = middle;
        }
        else
        {
            high = middle - 1;
        }
    }
    return {WithEllipsis(text, boundaries[low]), true};
}
