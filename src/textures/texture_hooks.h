#pragma once

// The replacements of D3DX9_42's D3DXCreateTextureFromFileInMemory and
// D3DX9_43's D3DXCreateTextureFromFileInMemoryEx: DDS files are built
// straight from their bytes when the arguments and the file allow it, and
// handed to D3DX otherwise. Same signatures and (stdcall) convention as the
// D3DX functions.

#include <d3d9.h>
#include <d3dx9tex.h>

HRESULT WINAPI FastCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, IDirect3DTexture9** ppTexture);

HRESULT WINAPI FastCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height, UINT MipLevels,
                                                   DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                                                   DWORD MipFilter, D3DCOLOR ColorKey,
                                                   D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                                   IDirect3DTexture9** ppTexture);

// The direct-path decisions: S_OK with *ppTexture set (one reference for the
// caller), or a failure with *ppTexture untouched. They may hand parts of
// the work to D3DX through the sites.
HRESULT TryLoadDds(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                   IDirect3DTexture9** ppTexture);
HRESULT TryLoadDdsEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize, UINT Width, UINT Height,
                     UINT MipLevels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                     DWORD MipFilter, D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                     IDirect3DTexture9** ppTexture);

// Selects ExpandRgbRow, writes the inserted-sleep jump and, when
// "FasterLoading" is on, queues the two redirections in the open
// transaction. The remover queues the removal of the redirections that were
// made; the jump stays.
void InstallTextureHooks();
void RemoveTextureHooks();
