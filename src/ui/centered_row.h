#pragma once

#include <imgui.h>

#include <cstdint>
#include <span>

// Rows of items centred on the current line as a whole. Each item is
// measured in its own font, so a bold and a regular text of the same words
// get their own widths. Main thread only, inside a frame.

struct RowItem
{
    int32_t kind = 0;            // 0 button, 1 small button, 2 text, 3 disabled text, 4 spacer
    const char* text = nullptr;  // label or text (UTF-8), may be null
    ImVec2 size{0.0f, 0.0f};     // kind 0: button size (x <= 0: fit the label); kind 4: spacer size
    ImFont* font = nullptr;      // pushed while measured and drawn; null keeps the current one
};

struct TextRowItem
{
    int32_t kind = 0;            // 0 text, 1 button, 2 small button
    const char* text = nullptr;
    ImFont* font = nullptr;
};

// Both return the index of the item clicked in this frame (the last one if
// several were), or -1. Only buttons can be clicked.
int DrawCenteredRow(std::span<const RowItem> items);
int DrawCenteredTextRow(std::span<const TextRowItem> items);
