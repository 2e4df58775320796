#include "gfx/images.h"

#include <imgui.h>
#include <shlobj.h>
#include <wincodec.h>

#include <vector>

#include "app/app_state.h"
#include "common/com_memory.h"
#include "common/paths.h"
#include "gfx/fallback_fonts.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"

namespace
{
// Decoded pixels as 32-bit premultiplied BGRA rows.
bool DecodeImage(const std::wstring& path, std::vector<uint8_t>& pixels, UINT& width, UINT& height,
                 int32_t* outWidth, int32_t* outHeight)
{
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0)
    {
        return false;
    }
    if (outWidth)
    {
        *outWidth = static_cast<int32_t>(width);
    }
    if (outHeight)
    {
        *outHeight = static_cast<int32_t>(height);
    }
    const UINT stride = width * 4;
    pixels.assign(static_cast<size_t>(stride) * height, 0);
    return SUCCEEDED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()));
}

// The toolkit takes a narrow file name; the Fonts folder path is ASCII on
// every Windows installation, so each UTF-16 unit becomes one byte.
std::string NarrowByUnits(const std::wstring& wide)
{
    std::string narrow(wide.size(), '\0');
    for (size_t i = 0; i < wide.size(); ++i)
    {
        narrow[i] = static_cast<char>(wide[i]);
    }
    return narrow;
}

// A missing file is checked first so that the toolkit's own "could not load"
// assertion never fires in a debug build; the result is the same: no face.
ImFont* AddFontFile(ImFontAtlas* atlas, const std::wstring& path)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        return nullptr;
    }
    return atlas->AddFontFromFileTTF(NarrowByUnits(path).c_str(), 23.0f);
}

struct ImageAsset
{
    const wchar_t* fileName;
    ComPtr<ID3D11ShaderResourceView> AppState::*view;
    int32_t AppState::*width;
    int32_t AppState::*height;
    const char* loadedFormat;
    const char* failedFormat;
};

const ImageAsset kImageAssets[] = {
    {L"logo.png", &AppState::logoTexture, &AppState::logoWidth, &AppState::logoHeight, "Logo loaded: %dx%d",
     "Logo load failed from %s"},
    {L"Dravok_logo.png", &AppState::makerLogoTexture, &AppState::makerLogoWidth, &AppState::makerLogoHeight,
     "DravokSRV loaded: %dx%d", "DravokSRV load failed from %s"},
    {L"minimize.png", &AppState::minimizeTexture, &AppState::minimizeWidth, &AppState::minimizeHeight,
     "Minimize icon loaded: %dx%d", "Minimize icon load failed from %s"},
    {L"exit.png", &AppState::exitTexture, &AppState::exitWidth, &AppState::exitHeight, "Exit icon loaded: %dx%d",
     "Exit icon load failed from %s"},
};
}  // namespace

bool LoadTextureFromFile(ID3D11Device* device, const std::wstring& path, ID3D11ShaderResourceView** outView,
                         int32_t* outWidth, int32_t* outHeight)
{
    if (device == nullptr || path.empty() || outView == nullptr)
    {
        return false;
    }
    std::vector<uint8_t> pixels;
    UINT width = 0;
    UINT height = 0;
    if (!DecodeImage(path, pixels, width, height, outWidth, outHeight))
    {
        return false;
    }
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA initial{pixels.data(), width * 4, 0};
    ComPtr<ID3D11Texture2D> texture;
    if (FAILED(device->CreateTexture2D(&desc, &initial, &texture)))
    {
        return false;
    }
    D3D11_SHADER_RESOURCE_VIEW_DESC viewDesc{};
    viewDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    viewDesc.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    viewDesc.Texture2D.MostDetailedMip = 0;
    viewDesc.Texture2D.MipLevels = 1;
    return SUCCEEDED(device->CreateShaderResourceView(texture.Get(), &viewDesc, outView));
}

void LoadImageAssets(AppState& state)
{
    const std::wstring folder = JoinPath(GetExecutableDirectory(), L"assets");
    for (const ImageAsset& asset : kImageAssets)
    {
        const std::wstring path = JoinPath(folder, asset.fileName);
        int32_t& width = state.*asset.width;
        int32_t& height = state.*asset.height;
        auto& view = state.*asset.view;
        if (LoadTextureFromFile(state.d3dDevice.Get(), path, view.ReleaseAndGetAddressOf(), &width, &height))
        {
            DiagnosticLog::Instance().Log(asset.loadedFormat, width, height);
        }
        else
        {
            // The path goes in as UTF-8 like every other text of the log; the
            // C library's own wide conversion would write the ANSI code page.
            DiagnosticLog::Instance().Log(asset.failedFormat, WideToUtf8(path).c_str());
        }
    }
}

void LoadFonts(AppState& state)
{
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    CoTaskMemPtr<wchar_t> folder;
    ImFont* regular = nullptr;
    ImFont* bold = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, folder.Put())) && folder.Get() && *folder.Get())
    {
        const std::wstring base(folder.Get());
        // A merged face joins the face added last.
        regular = AddFontFile(atlas, base + L"\\segoeui.ttf");
        const int mergedRegular = regular ? MergeFallbackFaces(atlas, base, false, state.fontFiles) : 0;
        bold = AddFontFile(atlas, base + L"\\segoeuib.ttf");
        const int mergedBold = bold ? MergeFallbackFaces(atlas, base, true, state.fontFiles) : 0;
        DiagnosticLog::Instance().Log("Fallback faces merged: %d regular, %d bold.", mergedRegular, mergedBold);
    }
    if (regular == nullptr || bold == nullptr)
    {
        regular = bold = atlas->AddFontDefault();
    }
    state.fontRegular = regular;
    state.fontBold = bold;
}

void ReleaseImageAssets(AppState& state)
{
    for (const ImageAsset& asset : kImageAssets)
    {
        (state.*asset.view).Reset();
    }
}
