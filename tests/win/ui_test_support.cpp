#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "gfx/images.h"
#include "ui/render_frame.h"
#include "ui/style.h"

namespace
{
// One item of the frame: its id, where it was laid out, and the top of the
// id stack it was hashed with, so that a label can be matched afterwards.
struct LaidOutItem
{
    ImGuiID id = 0;
    ImRect rect;
    ImGuiID seed = 0;
};

std::vector<LaidOutItem> frameItems;
std::vector<LaidOutItem> lastFrameItems;

// A child region by its own name, or a top-level window by its full name.
ImGuiWindow* ChildWindow(const char* name)
{
    const std::string marker = std::string("/") + name + "_";
    for (ImGuiWindow* window : GImGui->Windows)
    {
        if (window->WasActive &&
            (std::strstr(window->Name, marker.c_str()) != nullptr || std::strcmp(window->Name, name) == 0))
        {
            return window;
        }
    }
    return nullptr;
}
}  // namespace

// The toolkit's test engine hooks (its test build calls them for every item).
void ImGuiTestEngineHook_ItemAdd(ImGuiContext* context, ImGuiID id, const ImRect& bb, const ImGuiLastItemData*)
{
    ImGuiWindow* window = context->CurrentWindow;
    frameItems.push_back({id, bb, window != nullptr ? window->IDStack.back() : 0});
}

void ImGuiTestEngineHook_ItemInfo(ImGuiContext*, ImGuiID, const char*, ImGuiItemStatusFlags) {}

void ImGuiTestEngineHook_Log(ImGuiContext*, const char*, ...) {}

const char* ImGuiTestEngine_FindItemDebugLabel(ImGuiContext*, ImGuiID)
{
    return nullptr;
}

HeadlessInterface::HeadlessInterface(AppState& appState, ImVec2 displaySize)
    : state(appState), content([&appState] { DrawMainWindow(appState); })
{
    previous = ImGui::GetCurrentContext();
    context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    context->TestEngineHookItems = true;
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = displaySize;
    io.DeltaTime = 1.0f / 60.0f;
    // The atlas grows on demand; nothing ever uploads it here.
    io.BackendFlags |= ImGuiBackendFlags_RendererHasTextures;
    LoadFonts(state);
    ImGui::StyleColorsDark();
    // Tabs are laid out from their second frame on.
    Frames(2);
}

HeadlessInterface::~HeadlessInterface()
{
    ImGui::DestroyContext(context);
    ImGui::SetCurrentContext(previous);
    state.fontRegular = nullptr;
    state.fontBold = nullptr;
}

void HeadlessInterface::SetContent(std::function<void()> draw)
{
    content = std::move(draw);
    Frames(2);
}

void HeadlessInterface::Frame()
{
    RunFrame(false);
}

std::string HeadlessInterface::ShownText()
{
    return RunFrame(true);
}

std::string HeadlessInterface::RunFrame(bool capture)
{
    frameItems.clear();
    ImGui::NewFrame();
    ApplyScaledStyle();
    if (capture)
    {
        ImGui::LogToBuffer();
    }
    content();
    std::string text = capture ? std::string(GImGui->LogBuffer.c_str()) : std::string();
    ImGui::LogFinish();
    ImGui::Render();
    lastFrameItems = frameItems;
    return text;
}

void HeadlessInterface::Frames(int count)
{
    for (int i = 0; i < count; ++i)
    {
        Frame();
    }
}

std::optional<ImRect> HeadlessInterface::Find(const char* label, size_t nth) const
{
    for (const LaidOutItem& item : lastFrameItems)
    {
        if (ImHashStr(label, 0, item.seed) == item.id && nth-- == 0)
        {
            return item.rect;
        }
    }
    return std::nullopt;
}

ImRect HeadlessInterface::Rect(const char* label, size_t nth) const
{
    const std::optional<ImRect> rect = Find(label, nth);
    EXPECT_TRUE(rect.has_value()) << "no item \"" << label << "\" in the last frame";
    return rect.value_or(ImRect());
}

void HeadlessInterface::MoveMouse(ImVec2 position)
{
    ImGui::GetIO().AddMousePosEvent(position.x, position.y);
    Frame();
}

void HeadlessInterface::Click(const char* label, size_t nth)
{
    MoveMouse(Centre(Rect(label, nth)));
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, true);
    Frame();
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, false);
    Frame();
    Frame();
}

void HeadlessInterface::Drag(ImVec2 from, ImVec2 to)
{
    MoveMouse(from);
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, true);
    Frame();
    MoveMouse(to);
    ImGui::GetIO().AddMouseButtonEvent(ImGuiMouseButton_Left, false);
    Frame();
    Frame();
}

// The toolkit's slider keeps 2 pixels at each end and lets the grab's centre
// travel over the rest minus the grab itself.
ImVec2 HeadlessInterface::SliderPoint(const char* label, float fraction) const
{
    const ImRect rect = Rect(label);
    const float grab = ImGui::GetStyle().GrabMinSize;
    const float usable = rect.GetWidth() - 4.0f - grab;
    return ImVec2(rect.Min.x + 2.0f + grab * 0.5f + fraction * usable, (rect.Min.y + rect.Max.y) * 0.5f);
}

ImRect HeadlessInterface::ChildRect(const char* name) const
{
    ImGuiWindow* window = ChildWindow(name);
    EXPECT_NE(window, nullptr) << "no child region " << name;
    return window != nullptr ? window->Rect() : ImRect();
}

bool HeadlessInterface::ChildScrolls(const char* name) const
{
    ImGuiWindow* window = ChildWindow(name);
    return window != nullptr && window->ScrollbarY;
}

bool HeadlessInterface::TooltipShown() const
{
    ImGuiWindow* tooltip = ImGui::FindWindowByName("##Tooltip_00");
    return tooltip != nullptr && tooltip->WasActive;
}

float HeadlessInterface::ContentWidth(const char* name) const
{
    ImGuiWindow* window = ChildWindow(name);
    return window != nullptr ? window->ContentSize.x : 0.0f;
}

// Glyphs are the textured vertices; shapes use the white pixel. (Thin lines
// are textured too: keep borders out of `area`.)
float HeadlessInterface::GlyphSpan(const ImRect& area) const
{
    const ImVec2 white = ImGui::GetIO().Fonts->TexUvWhitePixel;
    float first = FLT_MAX, last = -FLT_MAX;
    for (const ImDrawList* list : ImGui::GetDrawData()->CmdLists)
        for (const ImDrawVert& vertex : list->VtxBuffer)
            if ((vertex.uv.x != white.x || vertex.uv.y != white.y) && area.Contains(vertex.pos))
            {
                first = std::min(first, vertex.pos.x);
                last = std::max(last, vertex.pos.x);
            }
    return last > first ? last - first : 0.0f;
}

ImU32 HeadlessInterface::ShapeColour(const ImRect& area) const
{
    const ImVec2 white = ImGui::GetIO().Fonts->TexUvWhitePixel;
    ImU32 colour = 0;
    for (const ImDrawList* list : ImGui::GetDrawData()->CmdLists)
        for (const ImDrawVert& vertex : list->VtxBuffer)
            if (vertex.uv.x == white.x && vertex.uv.y == white.y && area.Contains(vertex.pos) &&
                (vertex.col & IM_COL32_A_MASK) == IM_COL32_A_MASK)
                colour = vertex.col;
    return colour;
}
