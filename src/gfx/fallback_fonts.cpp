// File views as MapViewOfFile documents them: a read-only view of a
// PAGE_READONLY mapping, FILE_MAP_READ; the mapping handle may be closed
// while the view stays, and the view goes with UnmapViewOfFile:
// https://learn.microsoft.com/en-us/windows/win32/api/memoryapi/nf-memoryapi-mapviewoffile
#include "gfx/fallback_fonts.h"

#include <imgui.h>
#include <imgui_internal.h>

#include "common/unique_handle.h"
#include "gfx/fallback_faces.h"

namespace
{
// The atlas copies the bytes of a face it does not own and frees those of
// one it owns. A view must be neither copied nor freed: the face is handed
// over as owned (no copy is made), and as soon as the toolkit's own
// TrueType reader has taken it up, marked as not owned (never freed). The
// reader itself is the toolkit's, unchanged.
bool InitMappedFace(ImFontAtlas* atlas, ImFontConfig* source)
{
    const bool ready = ImFontAtlasGetFontLoaderForStbTruetype()->FontSrcInit(atlas, source);
    source->FontDataOwnedByAtlas = false;
    return ready;
}

const ImFontLoader* MappedFaceLoader()
{
    static const ImFontLoader loader = [] {
        ImFontLoader mapped = *ImFontAtlasGetFontLoaderForStbTruetype();
        mapped.Name = "stb_truetype, mapped file";
        mapped.FontSrcInit = InitMappedFace;
        return mapped;
    }();
    return &loader;
}

bool MergeFace(ImFontAtlas* atlas, const std::wstring& fontsFolder, const FontFaceFile& face, FontFileViews& views)
{
    const std::span<const uint8_t> bytes = views.Map(fontsFolder + L"\\" + face.file);
    const int index = FaceIndexInFile(bytes, face.family, face.style);
    if (index < 0)
    {
        return false;
    }
    ImFontConfig config;
    config.MergeMode = true;
    config.FontNo = static_cast<ImU32>(index);
    config.FontDataOwnedByAtlas = true;
    config.FontLoader = MappedFaceLoader();
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
