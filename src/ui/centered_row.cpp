#include "ui/centered_row.h"

#include "ui/widgets.h"

namespace
{
// Rounded up to a whole pixel, so that centring never splits a glyph.
float TextWidth(const char* text)
{
    if (text == nullptr)
    {
        return 0.0f;
    }
    return static_cast<float>(static_cast<int>(ImGui::CalcTextSize(text).x + 0.99999f));
}

// A missing text draws as an empty one.
const char* Text(const char* text)
{
    return text != nullptr ? text : "";
}

float FramedWidth(const char* text)
{
    return TextWidth(text) + 2.0f * ImGui::GetStyle().FramePadding.x;
}

float ItemWidth(const RowItem& item)
{
    ScopedFace face(item.font);
    switch (item.kind)
    {
    case 0: return item.size.x > 0.0f ? item.size.x : FramedWidth(item.text);
    case 1: return FramedWidth(item.text);
    case 2:
    case 3: return TextWidth(item.text);
    case 4: return item.size.x;
    default: return 0.0f;
    }
}

float ItemWidth(const TextRowItem& item)
{
    ScopedFace face(item.font);
    return item.kind == 1 || item.kind == 2 ? FramedWidth(item.text) : TextWidth(item.text);
}

// True when the item is a button that was clicked.
bool DrawItem(const RowItem& item)
{
    switch (item.kind)
    {
    case 0: return ImGui::Button(Text(item.text), item.size);
    case 1: return ImGui::SmallButton(Text(item.text));
    case 2: ImGui::TextUnformatted(Text(item.text)); return false;
    case 3: ImGui::TextDisabled("%s", Text(item.text)); return false;
    case 4: ImGui::Dummy(item.size); return false;
    default: return false;
    }
}

bool DrawItem(const TextRowItem& item)
{
    switch (item.kind)
    {
    case 0: ImGui::TextUnformatted(Text(item.text)); return false;
    case 1: return ImGui::Button(Text(item.text));
    case 2: return ImGui::SmallButton(Text(item.text));
    default: return false;
    }
}

// A row wider than the space keeps the cursor where it is.
template <typename Item>
int DrawRow(std::span<const Item> items)
{
    float total = 0.0f;
    for (const Item& item : items)
    {
        total += ItemWidth(item);
    }
    if (!items.empty())
    {
        total += ImGui::GetStyle().ItemSpacing.x * static_cast<float>(items.size() - 1);
    }
    const float offset = (ImGui::GetContentRegionAvail().x - total) * 0.5f;
    if (offset > 0.0f)
    {
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + offset);
    }
    int clicked = -1;
    for (size_t i = 0; i < items.size(); ++i)
    {
        {
            ScopedFace face(items[i].font);
            if (DrawItem(items[i]))
            {
                clicked = static_cast<int>(i);
            }
        }
        if (i + 1 < items.size())
        {
            ImGui::SameLine();
        }
    }
    return clicked;
}
}  // namespace

int DrawCenteredRow(std::span<const RowItem> items)
{
    return DrawRow(items);
}

int DrawCenteredTextRow(std::span<const TextRowItem> items)
{
    return DrawRow(items);
}
