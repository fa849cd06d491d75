#include "textures/texture_hooks.h"

#include "base/log.h"
#include "textures/dds_format.h"
#include "textures/device_formats.h"
#include "textures/texture_load.h"
#include "textures/texture_sites.h"

namespace {

using CreateFromMemoryFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, IDirect3DTexture9**);
using CreateFromMemoryExFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD,
                                                    D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR,
                                                    D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9**);

constexpr UINT kD3dxDefault = D3DX_DEFAULT;

CreateFromMemoryFunction D3dxCreate() {
  return reinterpret_cast<CreateFromMemoryFunction>(CreateTextureFromFileInMemorySite);
}

CreateFromMemoryExFunction D3dxCreateEx() {
  return reinterpret_cast<CreateFromMemoryExFunction>(CreateTextureFromFileInMemoryExSite);
}

bool IsDefaultExtent(UINT value) { return value == 0 || value == kD3dxDefault; }

// Cube maps, volumes and depth files are D3DX's.
bool IsPlainTexture(const DdsHeader& header) {
  return header.caps2 == 0 && (header.flags & kDdsDepthFlag) == 0;
}

// What D3DX reports for a 2D DDS file.
void FillImageInfo(const DdsHeader& header, D3DFORMAT format, D3DXIMAGE_INFO* info) {
  info->Width = header.width;
  info->Height = header.height;
  info->Depth = 1;
  info->MipLevels = StoredLevelCount(header);
  info->Format = format;
  info->ResourceType = D3DRTYPE_TEXTURE;
  info->ImageFileFormat = D3DXIFF_DDS;
}

HRESULT Reported(const D3DXIMAGE_INFO& info, D3DXIMAGE_INFO* pSrcInfo) {
  if (pSrcInfo != nullptr) *pSrcInfo = info;
  return S_OK;
}

}  // namespace

HRESULT TryLoadDds(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                   IDirect3DTexture9** ppTexture) {
  // D3DX answers calls without a device or a place for the texture itself.
  if (pDevice == nullptr || ppTexture == nullptr) return E_FAIL;
  DdsFile file;
  if (!ParseDdsHeader(pSrcData, SrcDataSize, &file) || !IsPlainTexture(file.header)) return E_FAIL;
  const uint32_t format = FormatFromPixelFormat(file.header.ddspf);
  const HRESULT hr =
      LoadAllLevels(pDevice, file.header, file.pixels, file.pixelBytes, D3DPOOL_MANAGED, ppTexture);
  if (hr == S_OK) return S_OK;
  // A compressed file stays compressed where the device takes its format
  // (the plain D3DX function then gets the call); elsewhere it becomes
  // 32-bit ARGB. Without D3DX9_43 the plain function gets it anyway.
  if (IsBlockCompressed(format) && D3dxCreateEx() != nullptr &&
      !DeviceTakesTextureFormat(pDevice, static_cast<D3DFORMAT>(format), 0)) {
    return D3dxCreateEx()(pDevice, pSrcData, SrcDataSize, kD3dxDefault, kD3dxDefault, kD3dxDefault, 0,
                          D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kD3dxDefault, kD3dxDefault, 0, nullptr, nullptr,
                          ppTexture);
  }
  return hr;
}

HRESULT TryLoadDdsEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize, UINT Width, UINT Height,
                     UINT MipLevels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                     DWORD MipFilter, D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                     IDirect3DTexture9** ppTexture) {
  if (pDevice == nullptr || ppTexture == nullptr) return E_FAIL;
  // Colour keys need every texel looked at: D3DX's work.
  if (Usage != 0 || pPalette != nullptr || ColorKey != 0 ||
      (Pool != D3DPOOL_DEFAULT && Pool != D3DPOOL_MANAGED) || !IsDefaultExtent(MipLevels)) {
    return E_FAIL;
  }
  DdsFile file;
  if (!ParseDdsHeader(pSrcData, SrcDataSize, &file) || !TakesSizeArgument(Width, file.header.width) ||
      !TakesSizeArgument(Height, file.header.height)) {
    return E_FAIL;
  }
  const auto fileFormat = static_cast<D3DFORMAT>(FormatFromPixelFormat(file.header.ddspf));
  if ((Format != D3DFMT_UNKNOWN && Format != fileFormat) || !IsPlainTexture(file.header)) return E_FAIL;
  // The file's own description, written only when this path makes the
  // texture: a failed call leaves the caller's record as it was, as D3DX
  // does, and D3DX fills it itself when it gets the call.
  D3DXIMAGE_INFO info;
  FillImageInfo(file.header, fileFormat, &info);
  // Lowered texture quality: the texture starts at a smaller stored level.
  if (!SkipLevels(&file, SkippedLevels(MipFilter, StoredLevelCount(file.header)))) return E_FAIL;

  const DdsHeader& header = file.header;
  if (LoadAllLevels(pDevice, header, file.pixels, file.pixelBytes, Pool, ppTexture) == S_OK) {
    return Reported(info, pSrcInfo);
  }
  // A compressed file becomes 32-bit ARGB only on a device that refuses its
  // format.
  if (IsBlockCompressed(fileFormat) && !DeviceTakesTextureFormat(pDevice, fileFormat, 0)) {
    if (LoadBlockCompressedConverted(pDevice, header, file.pixels, file.pixelBytes, Pool, ppTexture) ==
        S_OK) {
      return Reported(info, pSrcInfo);
    }
    if (D3dxCreateEx()(pDevice, pSrcData, SrcDataSize, Width, Height, MipLevels, 0, D3DFMT_A8R8G8B8, Pool,
                       Filter, MipFilter, ColorKey, pSrcInfo, nullptr, ppTexture) == S_OK) {
      return S_OK;
    }
  }
  return D3dxCreateEx()(pDevice, pSrcData, SrcDataSize, Width, Height, MipLevels, 0, fileFormat, Pool, Filter,
                        MipFilter, ColorKey, pSrcInfo, nullptr, ppTexture);
}

HRESULT WINAPI FastCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, IDirect3DTexture9** ppTexture) {
  if (TryLoadDds(pDevice, pSrcData, SrcDataSize, ppTexture) != S_OK) {
    return D3dxCreate()(pDevice, pSrcData, SrcDataSize, ppTexture);
  }
  (*ppTexture)->PreLoad();
  return S_OK;
}

HRESULT WINAPI FastCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData,
                                                   UINT SrcDataSize, UINT Width, UINT Height, UINT MipLevels,
                                                   DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                                                   DWORD MipFilter, D3DCOLOR ColorKey,
                                                   D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                                   IDirect3DTexture9** ppTexture) {
  HRESULT hr = TryLoadDdsEx(pDevice, pSrcData, SrcDataSize, Width, Height, MipLevels, Usage, Format, Pool,
                            Filter, MipFilter, ColorKey, pSrcInfo, pPalette, ppTexture);
  if (hr != S_OK) {
    hr = D3dxCreateEx()(pDevice, pSrcData, SrcDataSize, Width, Height, MipLevels, Usage, Format, Pool, Filter,
                        MipFilter, ColorKey, pSrcInfo, pPalette, ppTexture);
  }
  if (hr != S_OK) {
    hr = D3dxCreateEx()(pDevice, pSrcData, SrcDataSize, kD3dxDefault, kD3dxDefault, kD3dxDefault, 0,
                        D3DFMT_UNKNOWN, Pool, Filter, MipFilter, ColorKey, pSrcInfo, pPalette, ppTexture);
  }
  if (hr != S_OK) {
    LogLine(GetLog(), LogWarning, "Create texture failed !! %08x", static_cast<unsigned>(hr));
    LogLine(GetLog(), LogWarning, "\t%dx%d %d fmt:%d pool : %d, usage %d, filter %d, MipFilter %d",
            static_cast<int>(Width), static_cast<int>(Height), static_cast<int>(MipLevels),
            static_cast<int>(Format), static_cast<int>(Pool), static_cast<int>(Usage),
            static_cast<int>(Filter), static_cast<int>(MipFilter));
    return hr;
  }
  (*ppTexture)->PreLoad();
  return S_OK;
}
