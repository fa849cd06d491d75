#pragma once

// A Direct3D 9 device for the texture tests (HAL, software vertex
// processing, windowed, on a plain hidden window) and ways to look into the
// textures it makes.

#include <d3d9.h>

#include <cstdint>
#include <vector>

// The process's test device, created on first use; null when Direct3D is
// not available (the tests then fail with a message).
IDirect3DDevice9* TestDevice();

// References held on a COM object right now.
ULONG References(IUnknown* object);

// The bytes of one level of a lockable texture, rows packed without pitch
// padding (block rows for compressed formats).
std::vector<uint8_t> LevelBytes(IDirect3DTexture9* texture, uint32_t level);

// Level `level` of a default-pool texture (which cannot be locked) drawn
// into an A8R8G8B8 render target of its size and read back, point sampled.
std::vector<uint8_t> RenderedLevel(IDirect3DTexture9* texture, uint32_t level);

D3DSURFACE_DESC LevelDesc(IDirect3DTexture9* texture, uint32_t level);

// From now on the test device counts the textures it creates, and every
// managed-pool one counts its PreLoad calls: the device's and those
// textures' method tables are replaced by copies that forward to the
// originals.
void WatchTextures();
int TexturesCreated();
// Of those, the ones whose CreateTexture call came from the named module.
int TexturesCreatedBy(const char* module);
// PreLoad calls on a watched texture; -1 for a texture not watched.
int PreLoadCalls(IDirect3DTexture9* texture);

// Stands in for a device that refuses textures of `format` (D3DFMT_UNKNOWN:
// none) and, with `autoGenMips` false, lacks automatic mip generation: the
// test device's Direct3D object and caps say so from now on, while textures
// of that format can still be made.
void StandInDeviceLimits(D3DFORMAT refused, bool autoGenMips);
