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

std::string CjkFaceInPrefix()
{
    const char* prefix = std::getenv("WINEPREFIX");
    return std::string(prefix != nullptr ? prefix : "") + "/drive_c/windows/Fonts/msyh.ttc";
}

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
    for (const Row& row : a)
        if (std::find(b.begin(), b.end(), row) == b.end())
            left.push_back(row);
    return left;
}

// The first glyph of a row: its first run of columns with ink.
Row FirstGlyph(const Row& row)
{
    const auto inked = [&row](int x) {
        for (int y = 0; y < row.height; ++y)
            if (row.ink[static_cast<size_t>(y * row.width + x)])
                return true;
        return false;
    };
    int from = 0;
    while (from < row.width && !inked(from))
        ++from;
    int to = from;
    while (to < row.width && inked(to))
        ++to;
    Row glyph{to - from, row.height, {}};
    for (int y = 0; y < row.height; ++y)
        for (int x = from; x < to; ++x)
            glyph.ink.push_back(row.ink[static_cast<size_t>(y * row.width + x)]);
    return glyph;
}

// How often the glyph shows along the row: places where at least 80 % of
// the ink of either is shared (a glyph lands on fractional pixels).
int Occurrences(const Row& row, const Row& glyph)
{
    int found = 0;
    for (int at = 0; glyph.width > 0 && at + glyph.width <= row.width; ++at)
    {
        int both = 0;
        int either = 0;
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < glyph.width; ++x)
            {
                const bool g = glyph.ink[static_cast<size_t>(y * glyph.width + x)];
                const bool r = row.ink[static_cast<size_t>(y * row.width + at + x)];
                both += g && r ? 1 : 0;
                either += g || r ? 1 : 0;
            }
        if (either > 0 && both * 5 >= either * 4)
        {
            ++found;
            at += glyph.width - 1;
        }
    }
    return found;
}
}  // namespace

TEST(FontFallbackE2e, ACjkDeviceNameIsDrawnInGlyphsAndNothingElseChanges)
{
    ASSERT_TRUE(std::filesystem::exists(kFreeCjkFace)) << "scripts/deps.sh installs fonts-wqy-microhei";
    ExtraSink cjk("cjk", "扬声器\\ テスト\\ 스피커");
    ASSERT_TRUE(cjk.Plugged());
    ToneforkInstance app("font-fallback");
    const Sight without = LookAtOutputs(app, "without", "Fallback faces merged: 0 regular, 0 bold.");
    std::filesystem::copy_file(kFreeCjkFace, CjkFaceInPrefix(), std::filesystem::copy_options::overwrite_existing);
    const Sight with = LookAtOutputs(app, "with", "Fallback faces merged: 1 regular, 0 bold.");
    std::filesystem::remove(CjkFaceInPrefix());
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
    const Row mark = FirstGlyph(marks[0]);
    EXPECT_GE(Occurrences(marks[0], mark), 3);
    EXPECT_EQ(Occurrences(drawn[0], mark), 0);
}
