#pragma once

// Which system faces stand behind Segoe UI for the scripts it lacks, in
// which order, and which face of a font collection (.ttc) is the wanted one.
// Platform-free; no shared state, any thread.
//
// Segoe UI itself holds Latin, Greek, Cyrillic and Arabic
// (https://learn.microsoft.com/en-us/windows/win32/uxguide/vis-fonts); the
// faces below bring Han, kana, Hangul, Thai and the other scripts of
// South-East Asia, the Indic scripts and symbols, and last Arial, which has
// Hebrew and Arabic on every Windows version, for Hebrew, which that page
// does not list for Segoe UI. Glyphs are drawn one by one, left to right:
// right-to-left order, Arabic joining and Indic conjuncts are not shaped.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// One file of the system's Fonts folder, and the face in it by its family
// and style name (name IDs 1 and 2). A collection holds several faces (the
// "UI" face beside the document face, other weights), in an order that is
// not documented and not the same on every Windows version.
struct FontFaceFile
{
    const wchar_t* file = nullptr;
    std::u16string_view family;
    std::u16string_view style;
};

// The face for one group of scripts: the files that may hold it, in order
// of preference (Windows versions ship it under different names); the first
// one present is taken.
struct FallbackFace
{
    // The primary language id (as PRIMARYLANGID gives it) whose text this
    // face draws in its own forms; 0 when none. Han characters look
    // different in Chinese, Japanese and Korean use, and the first face
    // merged that has a character draws it.
    uint16_t language = 0;
    FontFaceFile regular[2];
    FontFaceFile bold[2];
};

// Every fallback face in the order it is merged: the one made for the
// user's language first, the others in their listed order.
std::vector<const FallbackFace*> FallbackFacesFor(uint16_t userPrimaryLanguage);

// The index of the face named `family` with style `style` in a font file's
// bytes; failing that, of the first face of that family; failing that 0, as
// for a file of one face. -1 when the bytes are no font file. Reads only
// the headers and the name tables.
int FaceIndexInFile(std::span<const uint8_t> file, std::u16string_view family, std::u16string_view style);
