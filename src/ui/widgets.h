#pragma once

// Small drawing helpers shared by the tabs. Main thread only, inside a frame.

#include <imgui.h>

#include <cstddef>
#include <functional>
#include <string>

#include "ui/text_fit.h"

struct ID3D11ShaderResourceView;

// Pushes a face at its own loaded size (the global scale still applies);
// a null face keeps the current font. Pops it again when it goes.
class ScopedFace
{
public:
    explicit ScopedFace(ImFont* font);
    ~ScopedFace();
    ScopedFace(const ScopedFace&) = delete;
    ScopedFace& operator=(const ScopedFace&) = delete;

private:
    bool pushed = false;
};

// A text in the bold face.
void DrawHeading(ImFont* bold, const char* text);

// An empty item of width 0 and this height, in unscaled pixels.
void Spacer(float height);

// Spacer 5, separator, spacer 5: what stands between two sections.
void SectionBreak();

// A texture view as the toolkit's renderer back-end takes it.
ImTextureRef TextureRef(ID3D11ShaderResourceView* view);

// A device name fitted into `available` pixels of the current font
// (text_fit.h). Measured as drawn text, not as a label: "##" in a name is
// shown like any other characters.
FittedText FitName(const std::string& name, float available);

// The whole name in a tooltip while its row is hovered, when it was cut.
void NameTooltip(const FittedText& fitted, const std::string& name, bool hovered);

// A drop-down box `id`, as wide as the region, whose preview shows `preview`
// fitted to the box with the whole of it in a tooltip; `entries` draws the
// list while it is open. Names are drawn over the box and its rows rather
// than given as labels, so that neither "##" in them nor their length (which
// would widen the popup past the window) reaches the toolkit's label
// handling.
void NameCombo(const char* id, const std::string& preview, const std::function<void()>& entries);

// One row of such a list. Two endpoints may carry the same name; `index`
// keeps their rows apart. Returns whether it was clicked.
bool NameEntry(const std::string& name, std::size_t index, bool isCurrent);
