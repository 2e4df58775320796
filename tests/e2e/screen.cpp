#include "screen.h"

#include <cstdlib>
#include <thread>

#include "harness.h"

using namespace std::chrono_literals;

namespace
{
constexpr int kTolerance = 6;

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8)
    {
        const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(difference) > tolerance)
        {
            return false;
        }
    }
    return true;
}

template <typename PixelAt>
std::vector<Stretch> Stretches(int from, int to, int minLength, PixelAt pixelAt)
{
    std::vector<Stretch> runs;
    int start = -1;
    for (int i = from; i <= to + 1; ++i)
    {
        const bool differs = i <= to && !Near(pixelAt(i), kBackdrop, kTolerance);
        if (differs && start < 0)
        {
            start = i;
        }
        else if (!differs && start >= 0)
        {
            if (i - start >= minLength)
            {
                runs.push_back({start, i - 1});
            }
            start = -1;
        }
    }
    return runs;
}

// Lets the program draw what the last action changed before anyone looks.
void Settle()
{
    std::this_thread::sleep_for(300ms);
}

void Xdotool(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunCommand(argv, 10s);
}
}  // namespace

std::optional<WindowPlace> VisibleWindow(ToneforkInstance& app)
{
    const auto info = ParseKeyValues(app.Control({"info", "10000"}).output);
    if (info.count("visible") == 0 || info.at("visible") != "1")
    {
        return std::nullopt;
    }
    return WindowPlace{std::stoi(info.at("x")), std::stoi(info.at("y")), std::stoi(info.at("width")),
                       std::stoi(info.at("height"))};
}

uint32_t Picture::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
    {
        return 0;
    }
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return (uint32_t{rgb[at]} << 16) | (uint32_t{rgb[at + 1]} << 8) | rgb[at + 2];
}

Picture TakeScreenshot(const std::string& path)
{
    Picture picture;
    if (RunCommand({"import", "-window", "root", path}, 30s).exitCode != 0)
    {
        return picture;
    }
    const auto size = ParseKeyValues(RunCommand({"identify", "-format", "w=%w h=%h", path}, 30s).output);
    const std::string raw = path + ".rgb";
    if (size.count("w") == 0 || RunCommand({"convert", path, "-depth", "8", "rgb:" + raw}, 30s).exitCode != 0)
    {
        return picture;
    }
    const std::string bytes = ReadFile(raw);
    picture.width = std::stoi(size.at("w"));
    picture.height = std::stoi(size.at("h"));
    picture.rgb.assign(bytes.begin(), bytes.end());
    if (picture.rgb.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3)
    {
        picture = Picture{};
    }
    return picture;
}

std::vector<Stretch> StretchesDown(const Picture& picture, int x, int y0, int y1, int minLength)
{
    return Stretches(y0, y1, minLength, [&](int y) { return picture.At(x, y); });
}

std::vector<Stretch> StretchesAcross(const Picture& picture, int y, int x0, int x1, int minLength)
{
    return Stretches(x0, x1, minLength, [&](int x) { return picture.At(x, y); });
}

int CountColour(const Picture& picture, int x0, int y0, int x1, int y1, uint32_t colour)
{
    int count = 0;
    for (int y = y0; y <= y1; ++y)
    {
        for (int x = x0; x <= x1; ++x)
        {
            count += Near(picture.At(x, y), colour, 24) ? 1 : 0;
        }
    }
    return count;
}

void MovePointer(int x, int y)
{
    Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
    Settle();
}

void ClickAt(int x, int y)
{
    Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(100ms);
    Xdotool({"click", "1"});
    Settle();
}

void DragPointer(int x0, int y0, int x1, int y1)
{
    Xdotool({"mousemove", std::to_string(x0), std::to_string(y0)});
    std::this_thread::sleep_for(100ms);
    Xdotool({"mousedown", "1"});
    constexpr int kSteps = 5;
    for (int step = 1; step <= kSteps; ++step)
    {
        std::this_thread::sleep_for(60ms);
        Xdotool({"mousemove", std::to_string(x0 + (x1 - x0) * step / kSteps),
                 std::to_string(y0 + (y1 - y0) * step / kSteps)});
    }
    std::this_thread::sleep_for(100ms);
    Xdotool({"mouseup", "1"});
    Settle();
}

void PressKey(const std::string& name)
{
    Xdotool({"key", name});
    std::this_thread::sleep_for(150ms);
}

void CtrlClickAt(int x, int y)
{
    Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(100ms);
    Xdotool({"keydown", "ctrl", "click", "1", "keyup", "ctrl"});
    Settle();
}

void TypeText(const std::string& text)
{
    Xdotool({"type", "--delay", "60", text});
    Settle();
}
