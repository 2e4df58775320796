#include "ui/widgets.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cstdint>

ScopedFace::ScopedFace(ImFont* font)
{
    if (font != nullptr)
    {
        ImGui::PushFont(font, font->LegacySize);
        pushed = true;
    }
}

ScopedFace::~ScopedFace()
{
    if (pushed)
    {
        ImGui::PopFont();
    }
}

void DrawHeading(ImFont* bold, const char* text)
{
    ScopedFace face(bold);
    ImGui::Text("%s", text);
}

void Spacer(float height)
{
    ImGui::Dummy(ImVec2(0.0f, height));
}

void SectionBreak()
{
    Spacer(5);
    ImGui::Separator();
    Spacer(5);
}

ImTextureRef TextureRef(ID3D11ShaderResourceView* view)
{
    return ImTextureRef(static_cast<ImTextureID>(reinterpret_cast<uintptr_t>(view)));
}

FittedText FitName(const std::string& name, float available)
{
    return FitText(name, available, [](std::string_view text) {
        return ImGui::CalcTextSize(text.data(), text.data() + text.size(), false).x;
    });
}

void NameTooltip(const FittedText& fitted, const std::string& name, bool hovered)
{
    if (fitted.cut && hovered)
    {
        ImGui::SetTooltip("%s", name.c_str());
    }
}

namespace
{
// Drawn as the toolkit draws its own texts, so that they also reach its log
// output; every character, "##" included.
void DrawName(const ImVec2& at, const std::string& text)
{
    ImGui::RenderText(at, text.c_str(), text.c_str() + text.size(), false);
}
}  // namespace

void NameCombo(const char* id, const std::string& preview, const std::function<void()>& entries)
{
    const float width = ImGui::GetContentRegionAvail().x;
    ImGui::SetNextItemWidth(width);
    const bool open = ImGui::BeginCombo(id, "");
    if (open)
    {
        entries();
        ImGui::EndCombo();
    }
    // The preview's room is the box less the arrow button and the frame's
    // padding.
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    const FittedText shown = FitName(preview, width - ImGui::GetFrameHeight() - 2.0f * padding.x);
    const ImVec2 box = ImGui::GetItemRectMin();
    DrawName(ImVec2(box.x + padding.x, box.y + padding.y), shown.shown);
    NameTooltip(shown, preview, !open && ImGui::IsItemHovered());
}

bool NameEntry(const std::string& name, std::size_t index, bool isCurrent)
{
    const ImVec2 textAt = ImGui::GetCursorScreenPos();
    const FittedText shown = FitName(name, ImGui::GetContentRegionAvail().x);
    ImGui::PushID(static_cast<int>(index));
    const bool clicked = ImGui::Selectable(("##" + name).c_str(), isCurrent);
    ImGui::PopID();
    DrawName(textAt, shown.shown);
    NameTooltip(shown, name, ImGui::IsItemHovered());
    if (isCurrent)
    {
        ImGui::SetItemDefaultFocus();
    }
    return clicked;
}
