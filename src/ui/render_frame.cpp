#include "ui/render_frame.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "gfx/d3d.h"
#include "log/diagnostic_log.h"
#include "ui/about_tab.h"
#include "ui/main_tab.h"
#include "ui/style.h"
#include "ui/widgets.h"

namespace
{
struct ButtonColours
{
    ImVec4 normal;
    ImVec4 hovered;
    ImVec4 active;
};

constexpr ButtonColours kCloseColours{{0, 0, 0, 0}, {0.80f, 0.20f, 0.20f, 0.80f}, {0.90f, 0.30f, 0.30f, 0.90f}};
// No hover background: the brighter tint alone answers the pointer.
constexpr ButtonColours kMinimizeColours{{0, 0, 0, 0}, {0.20f, 0.20f, 0.20f, 0.00f}, {0.30f, 0.30f, 0.30f, 0.90f}};
constexpr ImVec4 kTintHovered{1, 1, 1, 1};
constexpr ImVec4 kTintResting{1, 1, 1, 0.4f};

constexpr ImGuiWindowFlags kMainWindowFlags =
    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
    ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoCollapse |
    ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoBringToFrontOnFocus;
static_assert(kMainWindowFlags == 0x20BF);

// A 20-pixel (times the scale) picture in a 2-pixel frame. The pointer test
// runs before the button is submitted, so the tint follows the pointer in
// the same frame. Returns whether it was clicked.
bool TitleButton(const char* id, ID3D11ShaderResourceView* texture, const ButtonColours& colours, float s)
{
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float extent = 20 * s + 4;
    const bool hovered = ImGui::IsMouseHoveringRect(p, ImVec2(p.x + extent, p.y + extent));
    ImGui::PushStyleColor(ImGuiCol_Button, colours.normal);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colours.hovered);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, colours.active);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(2, 2));
    const bool clicked = ImGui::ImageButton(id, TextureRef(texture), ImVec2(20 * s, 20 * s), ImVec2(0, 0),
                                            ImVec2(1, 1), ImVec4(0, 0, 0, 0), hovered ? kTintHovered : kTintResting);
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(3);
    return clicked;
}

// A title-bar button acts on the active window: hidden to the tray when the
// user asked for that, otherwise the button's own action. Without an active
// window the click does nothing.
void OnTitleButtonClicked(AppState& state, bool toTray, void (*action)(HWND), const char* message)
{
    HWND window = GetActiveWindow();
    if (window == nullptr)
    {
        return;
    }
    if (toTray)
    {
        MinimizeToTray(state, window);
    }
    else
    {
        action(window);
    }
    DiagnosticLog::Instance().Log("%s", message);
}

void OnCloseClicked(AppState& state)
{
    OnTitleButtonClicked(state, state.minimizeOnClose, [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); },
                         "Exit button clicked.");
}

void OnMinimizeClicked(AppState& state)
{
    OnTitleButtonClicked(state, state.minimizeToTray, [](HWND window) { ShowWindow(window, SW_MINIMIZE); },
                         "Minimize button clicked.");
}

// The logo's right edge sits 1·s inside the content edge.
void DrawLogo(const AppState& state, float s)
{
    const ImVec2 size(static_cast<float>(state.logoWidth) * s * 0.25f,
                      static_cast<float>(state.logoHeight) * s * 0.25f);
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - size.x - s);
    ImGui::Image(TextureRef(state.logoTexture.Get()), size);
}

void DrawTitleBar(AppState& state, float s)
{
    ImGui::SetCursorPos(ImVec2(10 * s, 10 * s));
    if (state.exitTexture && TitleButton("##exit", state.exitTexture.Get(), kCloseColours, s))
    {
        OnCloseClicked(state);
    }
    ImGui::SameLine();
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + 5 * s);
    if (state.minimizeTexture && TitleButton("##minimize", state.minimizeTexture.Get(), kMinimizeColours, s))
    {
        OnMinimizeClicked(state);
    }
    ImGui::SameLine();
    if (state.logoTexture)
    {
        DrawLogo(state, s);
    }
    Spacer(30);
}
}  // namespace

void DrawMainWindow(AppState& state)
{
    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize, ImGuiCond_Always);
    bool open = true;
    // The window has no background: the clear colour is the backdrop.
    ImGui::Begin("main_window", &open, kMainWindowFlags);
    DrawTitleBar(state, CurrentScale());
    if (ImGui::BeginTabBar("MainTabBar"))
    {
        DrawMainTab(state);
        DrawAboutTab(state);
        ImGui::EndTabBar();
    }
    ImGui::End();
}

void RenderFrame(AppState& state, HWND)
{
    if (!ReadyForFrame(state))
    {
        return;
    }
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    ApplyScaledStyle();
    DrawMainWindow(state);
    ImGui::Render();
    PresentFrame(state);
}
