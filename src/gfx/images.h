#pragma once

#include <d3d11.h>

#include <cstdint>
#include <string>

struct AppState;

// Decodes the first frame of a PNG (or any image the imaging component
// reads) into a shader resource view. The size outputs are set as soon as
// the size is known, even if a later step fails. Main thread only.
bool LoadTextureFromFile(ID3D11Device* device, const std::wstring& path, ID3D11ShaderResourceView** outView,
                         int32_t* outWidth, int32_t* outHeight);

// The four pictures of the window, from the "assets" folder beside the exe.
void LoadImageAssets(AppState& state);
// Their views, made on the device, go before it (the device's clean-up calls
// this); their sizes stay. Main thread only.
void ReleaseImageAssets(AppState& state);

// The regular and bold 23-pixel faces (Segoe UI, or the toolkit's default),
// each with the system's faces for other scripts merged behind it.
void LoadFonts(AppState& state);
