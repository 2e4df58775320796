#pragma once

// Where a point of the borderless window acts like a frame part: the resize
// bands along the edges, the caption (drag) area of the title bar, or the
// client area (including the title bar's buttons).
enum class HitZone
{
    Client,
    Caption,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

// x, y: client coordinates; right, bottom: client size; scale: the layout
// scale of the current frame (1 when no interface is up).
HitZone HitTestWindow(int x, int y, int right, int bottom, float scale);
