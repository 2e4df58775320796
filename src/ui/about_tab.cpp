#include "ui/about_tab.h"

#include <windows.h>
#include <shellapi.h>

#include <imgui.h>

#include "app/app_state.h"
#include "common/path_rules.h"
#include "common/paths.h"
#include "log/log_format.h"
#include "log/text_convert.h"
#include "ui/centered_row.h"
#include "ui/style.h"
#include "ui/widgets.h"

#ifndef TONEFORK_WEBSITE_LINK
#define TONEFORK_WEBSITE_LINK ""
#endif

namespace
{
constexpr wchar_t kManualFile[] = L"manual.html";

void DrawMakerLogo(const AppState& state, float s)
{
    if (!state.makerLogoTexture)
    {
        return;
    }
    const ImVec2 size(static_cast<float>(state.makerLogoWidth) * s * 0.65f,
                      static_cast<float>(state.makerLogoHeight) * s * 0.65f);
    const float available = ImGui::GetContentRegionAvail().x;
    if (available > size.x)
    {
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + (available - size.x) * 0.5f);
    }
    ImGui::Image(TextureRef(state.makerLogoTexture.Get()), size);
}

// The result of opening a page is not looked at: there is nothing the
// program could do about a missing browser.
void OpenLink(const std::wstring& link)
{
    ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void DrawLinks(float s)
{
    const ImVec2 size(155 * s, 35 * s);
    const RowItem links[] = {{0, "Manual##3", size, nullptr}, {0, "Website##4", size, nullptr},
                             {0, "Support##43", size, nullptr}};
    const int clicked = DrawCenteredRow(links);
    if (clicked == 0)
    {
        OpenLink(ManualLink());
    }
    else if (clicked == 1 || clicked == 2)
    {
        OpenLink(WebsiteLink());
    }
}

void DrawCredits(ImFont* bold)
{
    Spacer(10);
    ImGui::Separator();
    Spacer(10);
    DrawHeading(bold, "Third-Party");
    ImGui::Spacing();
    ImGui::BulletText("Dear ImGui (MIT) by Omar Cornut and contributors");
    ImGui::BulletText("ImGui backends (MIT)");
    ImGui::BulletText("stb components (Public Domain / MIT)");
    ImGui::Spacing();
}
}  // namespace

std::wstring ManualLink()
{
    const std::wstring folder = GetExecutableDirectory();
    // Without a full folder (it could not be read) the name alone is what
    // the shell can still find, relative to the working folder.
    if (folder == L".")
    {
        return kManualFile;
    }
    return FileUrlFromPath(JoinPath(folder, kManualFile));
}

std::wstring WebsiteLink()
{
    const std::wstring configured = Utf8ToWide(TONEFORK_WEBSITE_LINK);
    return configured.empty() ? ManualLink() + L"#support" : configured;
}

void DrawAboutTab(AppState& state)
{
    if (!ImGui::BeginTabItem("   About   "))
    {
        return;
    }
    const float s = CurrentScale();
    Spacer(40);
    ImGui::AlignTextToFramePadding();
    DrawMakerLogo(state, s);
    Spacer(20);
    const TextRowItem name[] = {{0, "Tonefork", state.fontBold}, {0, "by Dravok", nullptr}};
    DrawCenteredTextRow(name);
    ImGui::Spacing();
    const TextRowItem version[] = {{0, "Version", state.fontBold}, {0, AppVersion, nullptr}};
    DrawCenteredTextRow(version);
    ImGui::Spacing();
    ImGui::Spacing();
    Spacer(30);
    ImGui::AlignTextToFramePadding();
    DrawLinks(s);
    ImGui::Spacing();
    ImGui::Spacing();
    ImGui::Spacing();
    DrawCredits(state.fontBold);
    ImGui::EndTabItem();
}
