// Direct3D set-up on the real window under Wine, and PNG images decoded by
// the imaging component into textures whose pixels are read back.
#include <gtest/gtest.h>
#include <imgui.h>
#include <shlobj.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "app/main_window.h"
#include "gfx/d3d.h"
#include "gfx/images.h"
#include "common/com_memory.h"
#include "common/path_rules.h"
#include "log/text_convert.h"
#include "test_log.h"
#include "window_test_support.h"

namespace
{
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// A minimal PNG writer: 8-bit RGBA, unfiltered rows, one stored (uncompressed)
// deflate block. Enough for the small pictures these tests need.

uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes)
    {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
        {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

uint32_t Adler32(const std::string& bytes)
{
    uint32_t a = 1;
    uint32_t b = 0;
    for (unsigned char byte : bytes)
    {
        a = (a + byte) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

std::string BigEndian(uint32_t value)
{
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

std::string Chunk(const std::string& type, const std::string& data)
{
    return BigEndian(static_cast<uint32_t>(data.size())) + type + data + BigEndian(Crc32(type + data));
}

// `rgba` holds one 0xRRGGBBAA value per pixel, row by row from the top.
std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint32_t>& rgba)
{
    std::string rows;
    for (uint32_t y = 0; y < height; ++y)
    {
        rows += '\0';
        for (uint32_t x = 0; x < width; ++x)
        {
            rows += BigEndian(rgba[y * width + x]);
        }
    }
    const auto length = static_cast<uint16_t>(rows.size());
    std::string deflate{'\x78', '\x01', '\x01'};
    deflate += {static_cast<char>(length), static_cast<char>(length >> 8), static_cast<char>(~length),
                static_cast<char>(~length >> 8)};
    deflate += rows + BigEndian(Adler32(rows));
    const std::string header = BigEndian(width) + BigEndian(height) + std::string{'\x08', '\x06', '\0', '\0', '\0'};
    return std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", header) + Chunk("IDAT", deflate) + Chunk("IEND", "");
}

std::string SolidPng(uint32_t width, uint32_t height)
{
    return EncodePng(width, height, std::vector<uint32_t>(width * height, 0x336699FFu));
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring TempFile(const std::wstring& name)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + L"tonefork-test-" + name;
}

// The folder of the running test program, found without the code under test.
std::wstring TestProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An "assets" folder beside the test program for as long as it lives.
class AssetsFolder
{
public:
    AssetsFolder() : folder(TestProgramFolder() + L"\\assets") { created = CreateDirectoryW(folder.c_str(), nullptr); }
    ~AssetsFolder()
    {
        for (const std::wstring& file : files)
        {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(folder.c_str());
    }
    AssetsFolder(const AssetsFolder&) = delete;
    AssetsFolder& operator=(const AssetsFolder&) = delete;

    void Add(const std::wstring& name, const std::string& bytes)
    {
        files.push_back(folder + L"\\" + name);
        WriteFile(files.back(), bytes);
    }

    bool created = false;

private:
    std::wstring folder;
    std::vector<std::wstring> files;
};

// The pixels of a texture as BGRA bytes, row by row.
std::vector<uint8_t> ReadPixels(ID3D11Device* device, ID3D11ShaderResourceView* view)
{
    ComPtr<ID3D11Resource> resource;
    view->GetResource(&resource);
    ComPtr<ID3D11Texture2D> texture;
    resource.As(&texture);
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ComPtr<ID3D11Texture2D> staging;
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    std::vector<uint8_t> pixels;
    if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging)))
    {
        return pixels;
    }
    context->CopyResource(staging.Get(), texture.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (SUCCEEDED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped)))
    {
        for (UINT y = 0; y < desc.Height; ++y)
        {
            const auto* row = static_cast<const uint8_t*>(mapped.pData) + y * mapped.RowPitch;
            pixels.insert(pixels.end(), row, row + desc.Width * 4);
        }
        context->Unmap(staging.Get(), 0);
    }
    return pixels;
}

D3D11_TEXTURE2D_DESC TextureDescription(ID3D11Resource* resource)
{
    ComPtr<ID3D11Texture2D> texture;
    D3D11_TEXTURE2D_DESC desc{};
    if (SUCCEEDED(resource->QueryInterface(IID_PPV_ARGS(&texture))))
    {
        texture->GetDesc(&desc);
    }
    return desc;
}

std::string FailureLine(HRESULT hr)
{
    char line[64];
    std::snprintf(line, sizeof line, "CreateDeviceD3D: failed (HRESULT=0x%08X).", static_cast<unsigned>(hr));
    return line;
}

class Graphics : public MainWindowTest
{
protected:
    void TearDown() override
    {
        // Everything Direct3D goes before the window and COM do.
        state.logoTexture.Reset();
        state.makerLogoTexture.Reset();
        state.minimizeTexture.Reset();
        state.exitTexture.Reset();
        state.renderTargetView.Reset();
        state.swapChain.Reset();
        state.d3dDeviceContext.Reset();
        state.d3dDevice.Reset();
        MainWindowTest::TearDown();
    }

    void ExpectNoDevice()
    {
        EXPECT_FALSE(state.d3dDevice);
        EXPECT_FALSE(state.d3dDeviceContext);
        EXPECT_FALSE(state.swapChain);
        EXPECT_FALSE(state.renderTargetView);
    }

    // Loads a file written with `bytes`; the view is null unless it loaded.
    bool Load(const std::wstring& name, const std::string& bytes, ComPtr<ID3D11ShaderResourceView>& view,
              int32_t& width, int32_t& height)
    {
        const std::wstring path = TempFile(name);
        WriteFile(path, bytes);
        const bool loaded = LoadTextureFromFile(state.d3dDevice.Get(), path, view.ReleaseAndGetAddressOf(), &width,
                                                &height);
        DeleteFileW(path.c_str());
        return loaded;
    }
};

TEST_F(Graphics, CreatesDeviceSwapChainAndBackBufferViewOnTheWindow)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    EXPECT_EQ(Logged(), Lines{"CreateDeviceD3D: success."});
    ASSERT_TRUE(state.d3dDevice);
    ASSERT_TRUE(state.d3dDeviceContext);
    ASSERT_TRUE(state.swapChain);
    ASSERT_TRUE(state.renderTargetView);

    DXGI_SWAP_CHAIN_DESC desc{};
    ASSERT_EQ(state.swapChain->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.OutputWindow, hwnd);
    EXPECT_EQ(desc.BufferCount, 2u);
    EXPECT_EQ(desc.BufferDesc.Format, DXGI_FORMAT_R8G8B8A8_UNORM);
    EXPECT_TRUE(desc.BufferUsage & DXGI_USAGE_RENDER_TARGET_OUTPUT);
    EXPECT_EQ(desc.SampleDesc.Count, 1u);
    EXPECT_TRUE(desc.Windowed);
    EXPECT_EQ(desc.SwapEffect, DXGI_SWAP_EFFECT_DISCARD);
    EXPECT_EQ(desc.Flags, static_cast<UINT>(DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH));
    // The buffers take the client size.
    EXPECT_EQ(desc.BufferDesc.Width, 516u);
    EXPECT_EQ(desc.BufferDesc.Height, 720u);

    // The view is of back buffer 0.
    ComPtr<ID3D11Resource> viewed;
    state.renderTargetView->GetResource(&viewed);
    ComPtr<ID3D11Resource> backBuffer;
    ASSERT_EQ(state.swapChain->GetBuffer(0, IID_PPV_ARGS(&backBuffer)), S_OK);
    EXPECT_EQ(viewed.Get(), backBuffer.Get());
    viewed.Reset();
    backBuffer.Reset();

    CleanupDeviceD3D(state);
    ExpectNoDevice();
    CleanupDeviceD3D(state);
    EXPECT_EQ(Logged(), (Lines{"CreateDeviceD3D: success.", "CleanupDeviceD3D done.", "CleanupDeviceD3D done."}));
}

TEST_F(Graphics, ResizeGivesANewBackBufferViewAtTheNewClientSize)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    // As after a presented frame: the view is bound and has been drawn to.
    ID3D11RenderTargetView* bound[] = {state.renderTargetView.Get()};
    state.d3dDeviceContext->OMSetRenderTargets(1, bound, nullptr);
    const float colour[4] = {0.15f, 0.18f, 0.22f, 1.0f};
    state.d3dDeviceContext->ClearRenderTargetView(state.renderTargetView.Get(), colour);
    state.swapChain->Present(0, 0);

    SetWindowPos(hwnd, nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(state.renderTargetView);
    ComPtr<ID3D11Resource> viewed;
    state.renderTargetView->GetResource(&viewed);
    const D3D11_TEXTURE2D_DESC viewedDesc = TextureDescription(viewed.Get());
    EXPECT_EQ(viewedDesc.Width, 600u);
    EXPECT_EQ(viewedDesc.Height, 500u);
}

TEST_F(Graphics, FailsWithoutAWindowAndLeavesNothingBehind)
{
    const HRESULT hr = CreateDeviceD3D(state, nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(Logged(), (Lines{FailureLine(hr), "CleanupDeviceD3D done."}));
    ExpectNoDevice();
}

TEST_F(Graphics, CleanupWithoutADeviceOnlyLogs)
{
    CleanupDeviceD3D(state);
    CleanupDeviceD3D(state);
    ExpectNoDevice();
    EXPECT_EQ(Logged(), (Lines{"CleanupDeviceD3D done.", "CleanupDeviceD3D done."}));
}

TEST_F(Graphics, LoadsPngPixelsAsPremultipliedBgra)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    ComPtr<ID3D11ShaderResourceView> view;
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(Load(L"one-pixel.png", EncodePng(1, 1, {0xFF000080u}), view, width, height));
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    ASSERT_TRUE(view);
    D3D11_SHADER_RESOURCE_VIEW_DESC viewDesc{};
    view->GetDesc(&viewDesc);
    EXPECT_EQ(viewDesc.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(viewDesc.ViewDimension, D3D11_SRV_DIMENSION_TEXTURE2D);
    // Half-transparent red: red is premultiplied by its alpha.
    EXPECT_EQ(ReadPixels(state.d3dDevice.Get(), view.Get()), (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x80}));

    // Three across, two down: rows stay in order and pixels in place.
    ASSERT_TRUE(Load(L"three-by-two.png",
                     EncodePng(3, 2, {0xFF0000FFu, 0x00FF00FFu, 0x0000FFFFu, 0x102030FFu, 0xFFFFFF00u, 0x405060FFu}),
                     view, width, height));
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(ReadPixels(state.d3dDevice.Get(), view.Get()),
              (std::vector<uint8_t>{0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF,
                                    0x30, 0x20, 0x10, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x60, 0x50, 0x40, 0xFF}));
}

TEST_F(Graphics, EmptyCorruptOrMissingImagesGiveNoView)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    const std::string png = SolidPng(2, 2);
    const std::array<std::pair<const wchar_t*, std::string>, 3> broken = {{
        {L"empty.png", ""},
        {L"garbage.png", "this is not a picture at all, only some text"},
        {L"truncated.png", png.substr(0, png.size() / 2)},
    }};
    for (const auto& [name, bytes] : broken)
    {
        ComPtr<ID3D11ShaderResourceView> view;
        int32_t width = 0;
        int32_t height = 0;
        EXPECT_FALSE(Load(name, bytes, view, width, height)) << WideToUtf8(name);
        EXPECT_FALSE(view) << WideToUtf8(name);
    }

    ComPtr<ID3D11ShaderResourceView> view;
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_FALSE(LoadTextureFromFile(state.d3dDevice.Get(), TempFile(L"never-written.png"), &view, &width, &height));
    EXPECT_FALSE(view);
}

TEST_F(Graphics, LoadingNeedsADeviceAPathAndAPlaceForTheView)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    const std::wstring path = TempFile(L"present.png");
    WriteFile(path, SolidPng(1, 1));
    ComPtr<ID3D11ShaderResourceView> view;
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_FALSE(LoadTextureFromFile(nullptr, path, &view, &width, &height));
    EXPECT_FALSE(LoadTextureFromFile(state.d3dDevice.Get(), L"", &view, &width, &height));
    EXPECT_FALSE(LoadTextureFromFile(state.d3dDevice.Get(), path, nullptr, &width, &height));
    EXPECT_FALSE(view);
    EXPECT_TRUE(LoadTextureFromFile(state.d3dDevice.Get(), path, &view, &width, &height));
    EXPECT_TRUE(view);
    DeleteFileW(path.c_str());
}

TEST_F(Graphics, MissingAssetsFolderLogsEveryImageWithItsPath)
{
    const std::wstring folder = TestProgramFolder() + L"\\assets";
    ASSERT_FALSE(Exists(folder)) << "the test program's folder must not hold an assets folder";
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    LoadImageAssets(state);

    const std::string base = WideToUtf8(folder) + "\\";
    const Lines lines = Logged();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Lines(lines.begin() + 1, lines.end()),
              (Lines{"Logo load failed from " + base + "logo.png", "DravokSRV load failed from " + base +
                                                                        "Dravok_logo.png",
                     "Minimize icon load failed from " + base + "minimize.png",
                     "Exit icon load failed from " + base + "exit.png"}));
    EXPECT_FALSE(state.logoTexture);
    EXPECT_FALSE(state.makerLogoTexture);
    EXPECT_FALSE(state.minimizeTexture);
    EXPECT_FALSE(state.exitTexture);
    EXPECT_EQ(state.logoWidth + state.makerLogoWidth + state.minimizeWidth + state.exitWidth, 0);
}

TEST_F(Graphics, AssetsBesideTheProgramFillTheirOwnFields)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    AssetsFolder assets;
    ASSERT_TRUE(assets.created);
    assets.Add(L"logo.png", SolidPng(1, 1));
    assets.Add(L"Dravok_logo.png", SolidPng(2, 1));
    assets.Add(L"minimize.png", SolidPng(3, 2));
    assets.Add(L"exit.png", SolidPng(1, 4));
    LoadImageAssets(state);

    const Lines lines = Logged();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Lines(lines.begin() + 1, lines.end()),
              (Lines{"Logo loaded: 1x1", "DravokSRV loaded: 2x1", "Minimize icon loaded: 3x2",
                     "Exit icon loaded: 1x4"}));
    EXPECT_TRUE(state.logoTexture);
    EXPECT_TRUE(state.makerLogoTexture);
    EXPECT_TRUE(state.minimizeTexture);
    EXPECT_TRUE(state.exitTexture);
    EXPECT_EQ((std::array<int32_t, 8>{state.logoWidth, state.logoHeight, state.makerLogoWidth, state.makerLogoHeight,
                                      state.minimizeWidth, state.minimizeHeight, state.exitWidth, state.exitHeight}),
              (std::array<int32_t, 8>{1, 1, 2, 1, 3, 2, 1, 4}));

    // The clean-up takes the pictures' views with the device: nothing made
    // on it keeps it alive after that.
    ID3D11Device* device = state.d3dDevice.Get();
    device->AddRef();
    CleanupDeviceD3D(state);
    EXPECT_FALSE(state.logoTexture || state.makerLogoTexture || state.minimizeTexture || state.exitTexture);
    EXPECT_EQ(device->Release(), 0u);
}
TEST_F(Graphics, AWindowWithoutABackBufferViewBuildsNoFrameAndRests)
{
    ASSERT_EQ(CreateDeviceD3D(state, hwnd), S_OK);
    EXPECT_TRUE(ReadyForFrame(state));
    // As after a resize whose view could not be made again.
    state.renderTargetView.Reset();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadyForFrame(state));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(9));
    CreateRenderTargetView(state);
    EXPECT_TRUE(ReadyForFrame(state));
}

// Renames a file for the length of a test and puts it back afterwards.
class HiddenFile
{
public:
    explicit HiddenFile(std::wstring file) : path(std::move(file)), hidden(path + L".hidden")
    {
        moved = MoveFileW(path.c_str(), hidden.c_str()) != FALSE;
    }
    ~HiddenFile()
    {
        if (moved)
            MoveFileW(hidden.c_str(), path.c_str());
    }
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;

    bool moved = false;

private:
    std::wstring path;
    std::wstring hidden;
};

std::wstring FontsFolder()
{
    CoTaskMemPtr<wchar_t> folder;
    SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, folder.Put());
    return folder.Get() != nullptr ? folder.Get() : L"";
}

// Both faces from the system's Fonts folder (the test prefix holds a free
// stand-in under the two file names), or the toolkit's own font for both
// when either file is missing.
TEST(Fonts, BothFacesAtTheirSizeOrTheDefaultFontForBoth)
{
    AppState state{AppStateDefaultsOnly{}};
    ImGui::CreateContext();
    LoadFonts(state);
    ASSERT_NE(state.fontRegular, nullptr);
    EXPECT_NE(state.fontRegular, state.fontBold);
    EXPECT_FLOAT_EQ(state.fontRegular->LegacySize, 23.0f);
    EXPECT_FLOAT_EQ(state.fontBold->LegacySize, 23.0f);
    EXPECT_EQ(ImGui::GetIO().Fonts->Fonts[0], state.fontRegular) << "the regular face is the default one";
    ImGui::DestroyContext();

    HiddenFile bold(JoinPath(FontsFolder(), L"segoeuib.ttf"));
    ASSERT_TRUE(bold.moved);
    ImGui::CreateContext();
    LoadFonts(state);
    ASSERT_NE(state.fontRegular, nullptr);
    EXPECT_EQ(state.fontRegular, state.fontBold);
    EXPECT_STREQ(state.fontRegular->GetDebugName(), "ProggyClean.ttf");
    ImGui::DestroyContext();
}
}  // namespace
