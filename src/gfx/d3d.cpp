#include "gfx/d3d.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>

#include <chrono>

#include "app/app_state.h"
#include "gfx/images.h"
#include "log/diagnostic_log.h"

namespace
{
double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

DXGI_SWAP_CHAIN_DESC SwapChainDescription(HWND window)
{
    DXGI_SWAP_CHAIN_DESC desc{};
    desc.BufferDesc.Width = 0;
    desc.BufferDesc.Height = 0;
    desc.BufferDesc.RefreshRate.Numerator = 60;
    desc.BufferDesc.RefreshRate.Denominator = 1;
    desc.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.SampleDesc.Quality = 0;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 2;
    desc.OutputWindow = window;
    desc.Windowed = TRUE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    desc.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;
    return desc;
}

HRESULT CreateWithDriver(AppState& state, const DXGI_SWAP_CHAIN_DESC& desc, D3D_DRIVER_TYPE driver)
{
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
    D3D_FEATURE_LEVEL obtained{};
    return D3D11CreateDeviceAndSwapChain(nullptr, driver, nullptr, 0, levels, 2, D3D11_SDK_VERSION, &desc,
                                         state.swapChain.ReleaseAndGetAddressOf(),
                                         state.d3dDevice.ReleaseAndGetAddressOf(), &obtained,
                                         state.d3dDeviceContext.ReleaseAndGetAddressOf());
}
}  // namespace

HRESULT CreateDeviceD3D(AppState& state, HWND window)
{
    const DXGI_SWAP_CHAIN_DESC desc = SwapChainDescription(window);
    HRESULT hr = CreateWithDriver(state, desc, D3D_DRIVER_TYPE_HARDWARE);
    if (hr == DXGI_ERROR_UNSUPPORTED)
    {
        // No hardware adapter: the software rasteriser draws the same frames.
        hr = CreateWithDriver(state, desc, D3D_DRIVER_TYPE_WARP);
    }
    if (FAILED(hr))
    {
        DiagnosticLog::Instance().Log("CreateDeviceD3D: failed (HRESULT=0x%08X).", static_cast<unsigned>(hr));
        CleanupDeviceD3D(state);
        return hr;
    }
    CreateRenderTargetView(state);
    DiagnosticLog::Instance().Log("CreateDeviceD3D: success.");
    return hr;
}

void CreateRenderTargetView(AppState& state)
{
    ComPtr<ID3D11Texture2D> backBuffer;
    if (state.swapChain && SUCCEEDED(state.swapChain->GetBuffer(0, IID_PPV_ARGS(&backBuffer))))
    {
        state.d3dDevice->CreateRenderTargetView(backBuffer.Get(), nullptr,
                                                state.renderTargetView.ReleaseAndGetAddressOf());
    }
}

// Every view made on the device goes before the device itself: a view left
// over would keep the device alive past the window and COM, to be torn down
// by the state's members in whatever order they happen to be declared.
void CleanupDeviceD3D(AppState& state)
{
    ReleaseImageAssets(state);
    state.renderTargetView.Reset();
    state.swapChain.Reset();
    state.d3dDeviceContext.Reset();
    state.d3dDevice.Reset();
    DiagnosticLog::Instance().Log("CleanupDeviceD3D done.");
}

bool ReadyForFrame(AppState& state)
{
    PresentPacing& pacing = state.presentPacing;
    if (pacing.occluded && state.swapChain && state.swapChain->Present(0, DXGI_PRESENT_TEST) == DXGI_STATUS_OCCLUDED)
    {
        Sleep(kIdleFrameMs);
        return false;
    }
    pacing.occluded = false;
    if (!state.renderTargetView || !state.swapChain)
    {
        Sleep(kIdleFrameMs);
        return false;
    }
    return true;
}

void PresentFrame(AppState& state)
{
    ID3D11RenderTargetView* views[] = {state.renderTargetView.Get()};
    state.d3dDeviceContext->OMSetRenderTargets(1, views, nullptr);
    const float clear[4] = {0.15f, 0.18f, 0.22f, 1.0f};
    state.d3dDeviceContext->ClearRenderTargetView(state.renderTargetView.Get(), clear);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());

    const double before = NowMs();
    const HRESULT presented = state.swapChain->Present(1, 0);
    const double delay = PacingDelayMs(state.presentPacing, before, NowMs());
    state.presentPacing.occluded = presented == DXGI_STATUS_OCCLUDED;
    if (delay >= 1.0)
    {
        Sleep(static_cast<DWORD>(delay));
    }
}
