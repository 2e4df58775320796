#pragma once

// The interface's look, rewritten at the start of every frame for the
// current window size. Main thread only, on the current toolkit context.

// Computes the layout scale from the display size and stores it in
// ImGuiStyle::FontScaleMain, which carries it for the whole frame: the
// toolkit multiplies every font size by it (it is the 1.92 successor of the
// former io.FontGlobalScale), the interface multiplies its own lengths by it,
// and the window procedure's hit test reads it. Then writes the scaled sizes
// and the colour table. Call after ImGui::NewFrame and before any widget.
void ApplyScaledStyle();

// The layout scale of the current frame (1 before the first frame).
float CurrentScale();
