#pragma once

// What the device that a texture is made for can take, asked of Direct3D
// before anything is created.

#include <d3d9.h>

// True when the device makes textures of `format` with `usage` (D3D_OK from
// CheckDeviceFormat against the adapter's current display format).
bool DeviceTakesTextureFormat(IDirect3DDevice9* device, D3DFORMAT format, DWORD usage);

// True when the device can StretchRect a texture into an A8R8G8B8
// render-target texture and generate that texture's mip levels.
bool DeviceConvertsToArgb(IDirect3DDevice9* device);
