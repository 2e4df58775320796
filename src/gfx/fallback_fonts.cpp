// File views as MapViewOfFile documents them: a read-only view of a
// PAGE_READONLY mapping, FILE_MAP_READ; the mapping handle may be closed
// while the view stays, and the view goes with UnmapViewOfFile:
// https://learn.microsoft.com/en-us/windows/win32/api/memoryapi/nf-memoryapi-mapviewoffile
#include "gfx/fallback_fonts.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <string>
#include <string_view>

#include "common/unique_handle.h"
#include "gfx/fallback_faces.h"

namespace
{
// A fallback face is read only once some text needs a glyph the faces
// before it lack: until then not one page of its file is touched, so a
// user whose text never needs it pays for a mapping and nothing more. The
// glyphs are the toolkit's own TrueType reader's; this loader only opens
// the face on first use.
//
// The atlas copies the bytes of a face it does not own and frees those of
// one it owns. A view must be neither: the face is handed over as owned (no
// copy is made) and marked as not owned (never freed) as soon as the atlas
// takes it up. Which face of a collection to read is decided on first use
// too, from the family and style kept as the source's name.
const ImFontLoader& TrueType()
{
    return *ImFontAtlasGetFontLoaderForStbTruetype();
}

// Marks a face that turned out unreadable: it has no glyphs.
char unreadableFace;

std::u16string Widened(std::string_view ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

bool OpenOnFirstUse(ImFontAtlas* atlas, ImFontConfig* source)
{
    if (source->FontLoaderData == nullptr)
    {
        const std::string_view name(source->Name);
        const size_t comma = name.rfind(", ");
        const int index = FaceIndexInFile(
            {static_cast<const uint8_t*>(source->FontData), static_cast<size_t>(source->FontDataSize)},
            Widened(name.substr(0, comma)), Widened(name.substr(comma + 2)));
        source->FontNo = static_cast<ImU32>(index < 0 ? 0 : index);
        if (index < 0 || !TrueType().FontSrcInit(atlas, source))
        {
            source->FontLoaderData = &unreadableFace;
        }
    }
    return source->FontLoaderData != &unreadableFace;
}

bool TakeUp(ImFontAtlas*, ImFontConfig* source)
{
    source->FontDataOwnedByAtlas = false;
    return true;
}

void Close(ImFontAtlas* atlas, ImFontConfig* source)
{
    if (source->FontLoaderData != nullptr && source->FontLoaderData != &unreadableFace)
    {
        TrueType().FontSrcDestroy(atlas, source);
    }
    source->FontLoaderData = nullptr;
}

bool Contains(ImFontAtlas* atlas, ImFontConfig* source, ImWchar codepoint)
{
    return OpenOnFirstUse(atlas, source) && TrueType().FontSrcContainsGlyph(atlas, source, codepoint);
}

// A merged face sets no metrics of its own; the first face's stand.
bool InitSize(ImFontAtlas*, ImFontConfig*, ImFontBaked*, void*)
{
    return true;
}

bool LoadGlyph(ImFontAtlas* atlas, ImFontConfig* source, ImFontBaked* baked, void* data, ImWchar codepoint,
               ImFontGlyph* glyph, float* advance)
{
    return OpenOnFirstUse(atlas, source) &&
           TrueType().FontBakedLoadGlyph(atlas, source, baked, data, codepoint, glyph, advance);
}

const ImFontLoader* OnFirstUseLoader()
{
    static const ImFontLoader loader = [] {
        ImFontLoader lazy = TrueType();
        lazy.Name = "stb_truetype, opened on first use";
        lazy.FontSrcInit = TakeUp;
        lazy.FontSrcDestroy = Close;
        lazy.FontSrcContainsGlyph = Contains;
        lazy.FontBakedInit = InitSize;
        lazy.FontBakedLoadGlyph = LoadGlyph;
        return lazy;
    }();
    return &loader;
}

bool MergeFace(ImFontAtlas* atlas, const std::wstring& fontsFolder, const FontFaceFile& face, FontFileViews& views)
{
    const std::span<const uint8_t> bytes = views.Map(fontsFolder + L"\\" + face.file);
    if (bytes.empty())
    {
        return false;
    }
    // The first face has every character of Latin-1, and the toolkit asks
    // each new size of a font for a tab, which no face has: left to the
    // fallbacks, that question alone would open every one of them.
    static const ImWchar kFirstFacesOwn[] = {0x0001, 0x00FF, 0};
    ImFontConfig config;
    config.MergeMode = true;
    config.GlyphExcludeRanges = kFirstFacesOwn;
    config.FontDataOwnedByAtlas = true;
    config.FontLoader = OnFirstUseLoader();
    // The names are ASCII.
    const std::string family(face.family.begin(), face.family.end());
    const std::string style(face.style.begin(), face.style.end());
    ImFormatString(config.Name, IM_ARRAYSIZE(config.Name), "%s, %s", family.c_str(), style.c_str());
    // The toolkit only reads the bytes; its interface is not const.
    void* data = const_cast<uint8_t*>(bytes.data());
    return atlas->AddFontFromMemoryTTF(data, static_cast<int>(bytes.size()), 23.0f, &config) != nullptr;
}

// Null, as UniqueHandle takes "none", when the file cannot be opened.
HANDLE OpenForReading(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}
}  // namespace

FontFileViews::~FontFileViews()
{
    for (const void* view : views)
    {
        UnmapViewOfFile(view);
    }
}

std::span<const uint8_t> FontFileViews::Map(const std::wstring& path)
{
    const UniqueHandle file(OpenForReading(path));
    LARGE_INTEGER size{};
    // The toolkit takes a face's size as an int, and one under 100 bytes for
    // a mistake.
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 100 || size.QuadPart > INT32_MAX)
    {
        return {};
    }
    const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view = mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr)
    {
        return {};
    }
    views.push_back(view);
    return {static_cast<const uint8_t*>(view), static_cast<size_t>(size.QuadPart)};
}

int MergeFallbackFaces(ImFontAtlas* atlas, const std::wstring& fontsFolder, bool bold, FontFileViews& views)
{
    int merged = 0;
    for (const FallbackFace* face : FallbackFacesFor(PRIMARYLANGID(GetUserDefaultUILanguage())))
    {
        for (const FontFaceFile& file : bold ? face->bold : face->regular)
        {
            if (file.file != nullptr && MergeFace(atlas, fontsFolder, file, views))
            {
                ++merged;
                break;
            }
        }
    }
    return merged;
}
