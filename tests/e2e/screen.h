#pragma once

// What a person sees of the window and how they use it: screenshots of the
// virtual display read pixel by pixel, and the pointer and keyboard driven
// with xdotool. Widgets are found the way an eye finds them, as blocks that
// stand out from the window's backdrop. Host side, main test thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ToneforkInstance;

// The window's outer rectangle on the screen (frameless: the client area).
struct WindowPlace
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where the program's window is, once it is visible.
std::optional<WindowPlace> VisibleWindow(ToneforkInstance& app);

struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // row by row, three bytes a pixel

    uint32_t At(int x, int y) const;  // 0xRRGGBB; 0 outside the picture
};

// The whole screen, also kept as a PNG at `path`.
Picture TakeScreenshot(const std::string& path);

// The colour behind the whole interface.
inline constexpr uint32_t kBackdrop = 0x262E38;

// A stretch of pixels that differ from the backdrop, inclusive.
struct Stretch
{
    int from = 0;
    int to = 0;
    int Length() const { return to - from + 1; }
    int Centre() const { return (from + to) / 2; }
};

// Stretches at least `minLength` long down the column x (from y0 to y1) or
// along the row y (from x0 to x1), in order.
std::vector<Stretch> StretchesDown(const Picture& picture, int x, int y0, int y1, int minLength);
std::vector<Stretch> StretchesAcross(const Picture& picture, int y, int x0, int x1, int minLength);

// How many pixels of the rectangle have this colour (within a small
// tolerance for blending).
int CountColour(const Picture& picture, int x0, int y0, int x1, int y1, uint32_t colour);

void MovePointer(int x, int y);
void ClickAt(int x, int y);
// Press at one point, move in steps to the other, release.
void DragPointer(int x0, int y0, int x1, int y1);
void PressKey(const std::string& name);
// Ctrl+click, which turns a drag field into a text box, and typing into it.
void CtrlClickAt(int x, int y);
void TypeText(const std::string& text);
