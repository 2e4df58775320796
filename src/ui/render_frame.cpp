#include "ui/render_frame.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include "app/app_state.h"
#include "gfx/d3d.h"

void RenderFrame(AppState& state, HWND)
{
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    ImGui::Render();
    PresentFrame(state);
}
