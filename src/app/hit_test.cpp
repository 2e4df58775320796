#include "app/hit_test.h"

namespace
{
constexpr int kBand = 8;            // resize band along each client edge
constexpr float kTitleHeight = 60;  // drag area height, unscaled
// The close and minimise buttons at the left end of the title row: two 20-px
// buttons with a 10-px margin above and below; this block keeps them clickable.
constexpr float kButtonsRight = 63;
constexpr float kButtonsBottom = 40;

HitZone TitleArea(int x, int y, int right, float scale)
{
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    if (x >= 0 && fx <= kButtonsRight * scale + kBand && fy <= kButtonsBottom * scale + kBand)
    {
        return HitZone::Client;
    }
    if (x <= kBand)
    {
        return HitZone::Client;
    }
    return x < right - kBand ? HitZone::Caption : HitZone::Client;
}
}  // namespace

HitZone HitTestWindow(int x, int y, int right, int bottom, float scale)
{
    const bool nearLeft = x >= 0 && x <= kBand;
    const bool nearTop = y >= 0 && y <= kBand;
    const bool nearRight = x >= right - kBand && x <= right;
    const bool nearBottom = y >= bottom - kBand && y <= bottom;
    if (nearTop && nearLeft)
        return HitZone::TopLeft;
    if (nearTop && nearRight)
        return HitZone::TopRight;
    if (nearBottom && nearLeft)
        return HitZone::BottomLeft;
    if (nearBottom && nearRight)
        return HitZone::BottomRight;
    if (!nearBottom && nearLeft)
        return HitZone::Left;
    if (!nearBottom && nearRight)
        return HitZone::Right;
    if (nearTop)
        return HitZone::Top;
    if (nearBottom)
        return HitZone::Bottom;
    if (y > kBand && static_cast<float>(y) <= kTitleHeight * scale)
    {
        return TitleArea(x, y, right, scale);
    }
    return HitZone::Client;
}
