#include "ui/style.h"

#include <imgui.h>

#include "ui/layout_scale.h"

namespace
{
struct ColourEntry
{
    ImGuiCol slot;
    ImVec4 value;
};

// Entries not listed keep the dark preset applied at start-up.
constexpr ColourEntry kColours[] = {
    {ImGuiCol_Text, {0.95f, 0.96f, 0.98f, 1.00f}},
    {ImGuiCol_TextDisabled, {0.36f, 0.42f, 0.47f, 1.00f}},
    {ImGuiCol_WindowBg, {0.11f, 0.15f, 0.17f, 1.00f}},
    {ImGuiCol_ChildBg, {0.15f, 0.18f, 0.22f, 1.00f}},
    {ImGuiCol_PopupBg, {0.08f, 0.08f, 0.08f, 0.94f}},
    {ImGuiCol_Border, {0.43f, 0.50f, 0.56f, 0.50f}},
    {ImGuiCol_BorderShadow, {0.00f, 0.00f, 0.00f, 0.00f}},
    {ImGuiCol_FrameBg, {0.20f, 0.25f, 0.29f, 1.00f}},
    {ImGuiCol_FrameBgHovered, {0.12f, 0.20f, 0.28f, 1.00f}},
    {ImGuiCol_FrameBgActive, {0.09f, 0.12f, 0.14f, 1.00f}},
    {ImGuiCol_TitleBg, {0.11f, 0.15f, 0.17f, 1.00f}},
    {ImGuiCol_TitleBgActive, {0.11f, 0.15f, 0.17f, 1.00f}},
    {ImGuiCol_TitleBgCollapsed, {0.00f, 0.00f, 0.00f, 0.51f}},
    {ImGuiCol_MenuBarBg, {0.15f, 0.18f, 0.22f, 1.00f}},
    {ImGuiCol_ScrollbarBg, {0.02f, 0.02f, 0.02f, 0.53f}},
    {ImGuiCol_ScrollbarGrab, {0.31f, 0.31f, 0.31f, 1.00f}},
    {ImGuiCol_ScrollbarGrabHovered, {0.41f, 0.41f, 0.41f, 1.00f}},
    {ImGuiCol_ScrollbarGrabActive, {0.51f, 0.51f, 0.51f, 1.00f}},
    {ImGuiCol_CheckMark, {0.28f, 0.56f, 1.00f, 1.00f}},
    {ImGuiCol_SliderGrab, {0.28f, 0.56f, 1.00f, 1.00f}},
    {ImGuiCol_SliderGrabActive, {0.37f, 0.61f, 1.00f, 1.00f}},
    {ImGuiCol_Button, {0.20f, 0.25f, 0.29f, 1.00f}},
    {ImGuiCol_ButtonHovered, {0.28f, 0.56f, 1.00f, 1.00f}},
    {ImGuiCol_ButtonActive, {0.37f, 0.61f, 1.00f, 1.00f}},
    {ImGuiCol_Header, {0.20f, 0.25f, 0.29f, 0.55f}},
    {ImGuiCol_HeaderHovered, {0.26f, 0.59f, 0.98f, 0.80f}},
    {ImGuiCol_HeaderActive, {0.26f, 0.59f, 0.98f, 1.00f}},
    {ImGuiCol_Separator, {0.43f, 0.50f, 0.56f, 0.20f}},
    {ImGuiCol_SeparatorHovered, {0.26f, 0.59f, 0.98f, 0.78f}},
    {ImGuiCol_SeparatorActive, {0.26f, 0.59f, 0.98f, 1.00f}},
    {ImGuiCol_ResizeGrip, {0.26f, 0.59f, 0.98f, 0.25f}},
    {ImGuiCol_ResizeGripHovered, {0.26f, 0.59f, 0.98f, 0.67f}},
    {ImGuiCol_ResizeGripActive, {0.26f, 0.59f, 0.98f, 0.95f}},
    {ImGuiCol_TabHovered, {0.28f, 0.56f, 1.00f, 0.80f}},
    {ImGuiCol_Tab, {0.20f, 0.25f, 0.29f, 1.00f}},
    {ImGuiCol_TabSelected, {0.28f, 0.56f, 1.00f, 0.80f}},
    {ImGuiCol_TabDimmed, {0.07f, 0.10f, 0.15f, 0.97f}},
    {ImGuiCol_TabDimmedSelected, {0.14f, 0.22f, 0.36f, 1.00f}},
    {ImGuiCol_PlotLines, {0.61f, 0.61f, 0.61f, 1.00f}},
    {ImGuiCol_PlotLinesHovered, {1.00f, 0.43f, 0.35f, 1.00f}},
    {ImGuiCol_PlotHistogram, {0.90f, 0.70f, 0.00f, 1.00f}},
    {ImGuiCol_PlotHistogramHovered, {1.00f, 0.60f, 0.00f, 1.00f}},
    {ImGuiCol_TextSelectedBg, {0.26f, 0.59f, 0.98f, 0.35f}},
    {ImGuiCol_DragDropTarget, {1.00f, 0.00f, 0.00f, 0.90f}},
    {ImGuiCol_NavCursor, {0.26f, 0.59f, 0.98f, 1.00f}},
    {ImGuiCol_NavWindowingHighlight, {1.00f, 1.00f, 1.00f, 0.70f}},
    {ImGuiCol_NavWindowingDimBg, {0.80f, 0.80f, 0.80f, 0.20f}},
    {ImGuiCol_ModalWindowDimBg, {0.80f, 0.80f, 0.80f, 0.35f}},
};

// Absolute values every frame, so nothing accumulates from one to the next.
void WriteScaledSizes(ImGuiStyle& style, float s)
{
    style.WindowPadding = ImVec2(15 * s, 0);
    style.WindowRounding = 8 * s;
    style.WindowBorderSize = 0;
    style.ChildRounding = 8 * s;
    style.ChildBorderSize = 0;
    style.PopupRounding = 6 * s;
    style.PopupBorderSize = 0;
    style.FramePadding = ImVec2(8 * s, 3 * s);
    style.FrameRounding = 6 * s;
    style.ItemSpacing = ImVec2(8 * s, 4 * s);
    style.ItemInnerSpacing = ImVec2(4 * s, 4 * s);
    style.IndentSpacing = 21 * s;
    style.ScrollbarSize = 10 * s;
    style.ScrollbarRounding = 6 * s;
    style.GrabMinSize = 28 * s;
    style.GrabRounding = 6 * s;
    style.TabRounding = 6 * s;
}
}  // namespace

void ApplyScaledStyle()
{
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float s = LayoutScale(display.x, display.y);
    ImGuiStyle& style = ImGui::GetStyle();
    style.FontScaleMain = s;
    WriteScaledSizes(style, s);
    for (const ColourEntry& entry : kColours)
    {
        style.Colors[entry.slot] = entry.value;
    }
}

float CurrentScale()
{
    return ImGui::GetStyle().FontScaleMain;
}
