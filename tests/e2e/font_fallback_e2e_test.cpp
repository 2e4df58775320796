// An output named in Chinese, Japanese and Korean, as Windows names devices
// in the system's language: with a CJK face in the Fonts folder its name is
// drawn in that face's glyphs instead of the fallback mark, and nothing else
// of the window changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "harness.h"
#include "main_tab.h"

using namespace std::chrono_literals;

namespace
{
// A free CJK face (scripts/deps.sh installs it) stands in for Microsoft
// YaHei UI under that face's file name, in the throwaway prefix only.
constexpr char kFreeCjkFace[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
// Names start right of the check boxes.
constexpr int kTextLeft = kBoxColumn + 20;

// One target's row as ink (1) and backdrop (0), right of its box, in window
// coordinates; rows come out of Wine's device list in no fixed order.
struct Row
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> ink;
    bool operator==(const Row&) const = default;
};

Row TextOf(const Picture& picture, const WindowPlace& w, const Stretch& box)
{
    Row row{w.width - 4 - kTextLeft, box.Length() + 4, {}};
    for (int y = box.from - 2; y <= box.to + 2; ++y)
        for (int x = kTextLeft; x < w.width - 4; ++x)
            row.ink.push_back(CountColour(picture, w.x + x, y, w.x + x, y, kBackdrop) == 0 ? 1 : 0);
    return row;
}

struct Sight
{
    Row above;  // everything above the list of outputs
    std::vector<Row> rows;
};

// The window with every output showing, after a start on empty settings.
Sight LookAtOutputs(ToneforkInstance& app, const std::string& name, const std::string& expectedLog)
{
    RegDeleteTree(kSettingsKey);
    const WindowPlace w = ShowEveryOutput(app, StartAndShow(app));
    EXPECT_TRUE(app.WaitForLog(expectedLog, 10s)) << app.LogText();
    const Picture picture = Look(w, app.Folder() + "/" + name + ".png");
    Sight sight;
    const std::optional<MainTabLayout> tab = FindMainTab(picture, w);
    for (const Stretch& box : tab ? tab->targets : std::vector<Stretch>{})
        sight.rows.push_back(TextOf(picture, w, box));
    if (tab)
        sight.above = TextOf(picture, w, Stretch{w.y + 2, tab->targets.front().from - 4});
    EXPECT_EQ(app.Control({"close"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));
    WaitForWineIdle();
    RegDeleteTree(kSettingsKey);
    return sight;
}

// The rows of `a` that `b` does not have.
std::vector<Row> Unmatched(const std::vector<Row>& a, const std::vector<Row>& b)
{
    std::vector<Row> left;
    std::copy_if(a.begin(), a.end(), std::back_inserter(left),
                 [&b](const Row& row) { return std::find(b.begin(), b.end(), row) == b.end(); });
    return left;
}

// How often the first glyph of `marks` (its first run of inked columns)
// shows along `row`: places where at least 80 % of the ink of either is
// shared, as a glyph lands on fractional pixels.
int MarksIn(const Row& row, const Row& marks)
{
    const auto ink = [](const Row& r, int x, int y) { return r.ink[static_cast<size_t>(y * r.width + x)] != 0; };
    const auto inked = [&](int x) {
        for (int y = 0; y < marks.height; ++y)
            if (ink(marks, x, y))
                return true;
        return false;
    };
    int from = 0;
    int width = 0;
    while (from < marks.width && !inked(from))
        ++from;
    while (from + width < marks.width && inked(from + width))
        ++width;
    int found = 0;
    for (int at = 0; width > 0 && at + width <= row.width; ++at)
    {
        int both = 0;
        int either = 0;
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < width; ++x)
            {
                both += ink(marks, from + x, y) && ink(row, at + x, y) ? 1 : 0;
                either += ink(marks, from + x, y) || ink(row, at + x, y) ? 1 : 0;
            }
        const bool match = either > 0 && both * 5 >= either * 4;
        found += match ? 1 : 0;
        at += match ? width - 1 : 0;
    }
    return found;
}
}  // namespace

TEST(FontFallbackE2e, ACjkDeviceNameIsDrawnInGlyphsAndNothingElseChanges)
{
    ASSERT_TRUE(std::filesystem::exists(kFreeCjkFace)) << "scripts/deps.sh installs fonts-wqy-microhei";
    ExtraSink cjk("cjk", "扬声器\\ テスト\\ 스피커");
    ASSERT_TRUE(cjk.Plugged());
    const std::string inPrefix = std::string(std::getenv("WINEPREFIX")) + "/drive_c/windows/Fonts/msyh.ttc";
    ToneforkInstance app("font-fallback");
    const Sight without = LookAtOutputs(app, "without", "Fallback faces merged: 0 regular, 0 bold.");
    std::filesystem::copy_file(kFreeCjkFace, inPrefix, std::filesystem::copy_options::overwrite_existing);
    const Sight with = LookAtOutputs(app, "with", "Fallback faces merged: 1 regular, 0 bold.");
    std::filesystem::remove(inPrefix);
    ASSERT_EQ(with.rows.size(), without.rows.size());
    ASSERT_GE(with.rows.size(), 4u) << "one row per output";

    // Every other name, and everything above the list, is drawn as before.
    const std::vector<Row> drawn = Unmatched(with.rows, without.rows);
    const std::vector<Row> marks = Unmatched(without.rows, with.rows);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(with.above, without.above);

    // Without the face the name is one fallback mark repeated; with it, the
    // mark is nowhere.
    EXPECT_GE(MarksIn(marks[0], marks[0]), 3);
    EXPECT_EQ(MarksIn(drawn[0], marks[0]), 0);
}
