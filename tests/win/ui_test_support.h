#pragma once
// The user interface without a window or a renderer: a toolkit context of
// its own whose frames are built exactly as the program builds them
// (ApplyScaledStyle, then the drawing code), with the mouse driven through
// the toolkit's input queue. Every item the frame lays out is recorded, so a
// test finds a widget by its label the way a person finds it on screen.
// Main thread of the test program only.
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <optional>
#include <string>

struct AppState;

class HeadlessInterface
{
public:
    // The fonts are the program's own (LoadFonts), added to this context.
    explicit HeadlessInterface(AppState& state, ImVec2 displaySize = ImVec2(516, 720));
    ~HeadlessInterface();
    HeadlessInterface(const HeadlessInterface&) = delete;
    HeadlessInterface& operator=(const HeadlessInterface&) = delete;

    // What every frame draws from now on; the main window until changed.
    void SetContent(std::function<void()> draw);
    void Frame();
    void Frames(int count);
    // Every text drawn in one more frame, as the toolkit's log output gives
    // it: what a person can read, wherever it was laid out.
    std::string ShownText();

    // The rectangle (screen pixels) of the item with this label in the last
    // frame; "##id" labels work as the toolkit hashes them. `nth`: of items
    // of one label under different ids (one per row), the nth drawn.
    std::optional<ImRect> Find(const char* label, size_t nth = 0) const;
    // The same, failing the test when the item is missing.
    ImRect Rect(const char* label, size_t nth = 0) const;

    void MoveMouse(ImVec2 position);
    // Press and release over the centre of the item, a frame for each step.
    void Click(const char* label, size_t nth = 0);
    // Press at `from`, move to `to`, release: a drag of a person's hand.
    void Drag(ImVec2 from, ImVec2 to);
    // Where a slider's grab centre sits for the value `fraction` (0..1).
    ImVec2 SliderPoint(const char* label, float fraction) const;

    // Where a child region ("TargetList") lay in the last frame, and
    // whether it showed a vertical scroll bar.
    ImRect ChildRect(const char* name) const;
    bool ChildScrolls(const char* name) const;
    // Whether a tooltip window was shown in the last frame.
    bool TooltipShown() const;
    // How wide the content of a window ("##Combo_00": the source popup) or
    // child region ("TargetList") was laid out (0 when it was not shown).
    float ContentWidth(const char* name) const;
    // From the first to the last glyph drawn inside `area` in the last frame
    // (0: none): how much of a text was drawn where the toolkit drew it.
    float GlyphSpan(const ImRect& area) const;
    // The colour of the last opaque shape drawn inside `area` in the last
    // frame (0: none).
    ImU32 ShapeColour(const ImRect& area) const;

private:
    // One frame; with `capture`, what its texts said.
    std::string RunFrame(bool capture);

    AppState& state;
    std::function<void()> content;
    ImGuiContext* context = nullptr;
    ImGuiContext* previous = nullptr;
};

// ImVec2 arithmetic for the tests.
inline ImVec2 Centre(const ImRect& rect)
{
    return ImVec2((rect.Min.x + rect.Max.x) * 0.5f, (rect.Min.y + rect.Max.y) * 0.5f);
}
