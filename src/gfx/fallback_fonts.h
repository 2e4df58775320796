#pragma once

// The system's fallback faces (gfx/fallback_faces.h) merged behind a face of
// the toolkit's font atlas. Main thread only, like the atlas.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ImFontAtlas;

// Read-only views of font files, mapped rather than read: a fallback face is
// read only once text needs one of its glyphs, so the pages of a file that
// no text uses are never brought in, and the ones that are stay shared with
// the system's file cache instead of counting as this process's own memory.
// The views must outlive the atlas that draws from them.
class FontFileViews
{
public:
    FontFileViews() = default;
    ~FontFileViews();
    FontFileViews(const FontFileViews&) = delete;
    FontFileViews& operator=(const FontFileViews&) = delete;

    // The bytes of the file, mapped until this holder goes; empty when it
    // cannot be opened (most often: it is not there).
    std::span<const uint8_t> Map(const std::wstring& path);

private:
    std::vector<const void*> views;
};

// Merges into the atlas's last face every fallback face found in
// `fontsFolder`, bold or regular; files that are missing are passed over.
// None is read yet: a face is opened when the faces before it lack a glyph
// that text asks for, and one that turns out unreadable has no glyphs.
// Returns how many files were found.
int MergeFallbackFaces(ImFontAtlas* atlas, const std::wstring& fontsFolder, bool bold, FontFileViews& views);
