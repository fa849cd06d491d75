#pragma once

// The shader cache: D3DX9_43.dll's D3DXCreateEffect and
// D3DXCreateEffectFromFileA are redirected so that each effect is compiled
// once and later created from its cached compiled object. Every refusal
// along the way hands the call, with the caller's own arguments, to D3DX.

#include <d3dx9effect.h>

#include "shadercache/effect_sites.h"

// Reads "UseShaderCache" and, when it is on, prepares the cache directory
// and queues both redirections in the caller's open transaction. The remover
// queues the removal of the redirections that were made.
void InstallShaderCache();
void RemoveShaderCache();

HRESULT WINAPI CacheCreateEffect(IDirect3DDevice9* device, const void* source, UINT length,
                                 const D3DXMACRO* macros, ID3DXInclude* include, DWORD flags,
                                 ID3DXEffectPool* pool, ID3DXEffect** effect, ID3DXBuffer** errors);

HRESULT WINAPI CacheCreateEffectFromFileA(IDirect3DDevice9* device, const char* fileName,
                                          const D3DXMACRO* macros, ID3DXInclude* include, DWORD flags,
                                          ID3DXEffectPool* pool, ID3DXEffect** effect, ID3DXBuffer** errors);
