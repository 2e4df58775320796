#include "ui/widgets.h"

#include <imgui.h>

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
