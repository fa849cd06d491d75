#include "textures/texture_load.h"

#include "textures/com_ref.h"
#include "textures/device_formats.h"
#include "textures/level_copy.h"

namespace {

// LoadRgb24Expanded's own failure code.
constexpr HRESULT kExpandFailed = static_cast<HRESULT>(0xFFFFFFFF);

// Copies one level into a locked rectangle: in one piece when the pitches
// agree, row by row otherwise. A pitch shorter than a row would make rows
// overlap and run past the level, so it is refused.
bool CopyIntoLocked(const D3DLOCKED_RECT& locked, const uint8_t* source, const SurfaceSize& size) {
  if (locked.pBits == nullptr || locked.Pitch < 0 || static_cast<uint32_t>(locked.Pitch) < size.rowBytes) {
    return false;
  }
  const auto pitch = static_cast<uint32_t>(locked.Pitch);
  if (pitch == size.rowBytes) {
    CopyLevel(locked.pBits, source, size.bytes);
  } else {
    CopyRows(locked.pBits, pitch, source, size.rowBytes, size.rows);
  }
  return true;
}

bool PoolIsDefaultOrManaged(D3DPOOL pool) { return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED; }

// Hands the texture to the caller with a reference of its own.
HRESULT HandOver(IDirect3DTexture9* made, IDirect3DTexture9** texture) {
  *texture = made;
  made->AddRef();
  return S_OK;
}

// The texture a load writes into: `made` itself, or for the default pool a
// new system-memory texture of the same size and format (sent on with
// SendStaged).
HRESULT WritableFor(IDirect3DDevice9* device, IDirect3DTexture9* made, D3DPOOL pool, uint32_t width,
                    uint32_t height, D3DFORMAT format, ComRef<IDirect3DTexture9>& staging,
                    IDirect3DTexture9** written) {
  *written = made;
  if (pool != D3DPOOL_DEFAULT) return S_OK;
  const HRESULT hr =
      device->CreateTexture(width, height, 0, 0, format, D3DPOOL_SYSTEMMEM, staging.out(), nullptr);
  if (SUCCEEDED(hr)) *written = staging.get();
  return hr;
}

HRESULT SendStaged(IDirect3DDevice9* device, IDirect3DTexture9* staging, IDirect3DTexture9* made) {
  return staging == nullptr ? S_OK : device->UpdateTexture(staging, made);
}

// Fills the first `levels` levels of `written` from a chain stored in
// `sourceFormat`, one locked level at a time: put(locked, source, size,
// width) fills one level and returns false when the lock does not fit it.
template <typename Put>
bool FillLevels(IDirect3DTexture9* written, uint32_t width, uint32_t height, uint32_t sourceFormat,
                uint32_t levels, const uint8_t* source, uint32_t available, Put put) {
  for (uint32_t level = 0; level < levels; ++level) {
    const uint32_t levelWidth = LevelExtent(width, level);
    SurfaceSize size;
    if (!SurfaceInfo(levelWidth, LevelExtent(height, level), sourceFormat, &size) || size.bytes > available) {
      return false;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(written->LockRect(level, &locked, nullptr, 0))) return false;
    const bool filled = put(locked, source, size, levelWidth);
    written->UnlockRect(level);
    if (!filled) return false;
    source += size.bytes;
    available -= size.bytes;
  }
  return true;
}

}  // namespace

HRESULT LoadAllLevels(IDirect3DDevice9* device, const DdsHeader& header, const uint8_t* pixels,
                      uint32_t pixelBytes, D3DPOOL pool, IDirect3DTexture9** texture) {
  if (!PoolIsDefaultOrManaged(pool)) return E_FAIL;
  const uint32_t format = FormatFromPixelFormat(header.ddspf);
  const uint32_t width = header.width, height = header.height;
  const uint32_t levels = StoredLevelCount(header);
  // Checked before anything is created: a short or damaged file, or a
  // partial chain, never has the device allocate a texture for nothing. A
  // file without every level its header names is damaged whatever the path
  // would read of it, and D3DX refuses it as such.
  if (format == kFormatUnknown || width == 0 || height == 0 ||
      !LevelsFit(width, height, format, levels, pixelBytes)) {
    return E_FAIL;
  }
  // Widening reads level 0 only, so a 24-bit file the device refuses is
  // widened whatever its chain.
  if (levels != FullChainLevelCount(width, height)) {
    const bool widen = format == kFormatR8G8B8 && !DeviceTakesTextureFormat(device, D3DFMT_R8G8B8, 0);
    return widen ? LoadRgb24Expanded(device, header, pixels, pixelBytes, pool, texture) : E_FAIL;
  }

  ComRef<IDirect3DTexture9> made;
  HRESULT hr =
      device->CreateTexture(width, height, 0, 0, static_cast<D3DFORMAT>(format), pool, made.out(), nullptr);
  if (FAILED(hr)) {
    if (format == kFormatR8G8B8) return LoadRgb24Expanded(device, header, pixels, pixelBytes, pool, texture);
    return hr;
  }
  if (made->GetLevelCount() != levels) return E_FAIL;

  ComRef<IDirect3DTexture9> staging;
  IDirect3DTexture9* written;
  hr =
      WritableFor(device, made.get(), pool, width, height, static_cast<D3DFORMAT>(format), staging, &written);
  if (FAILED(hr)) return hr;
  const bool filled =
      FillLevels(written, width, height, format, levels, pixels, pixelBytes,
                 [](const D3DLOCKED_RECT& locked, const uint8_t* source, const SurfaceSize& size, uint32_t) {
                   return CopyIntoLocked(locked, source, size);
                 });
  if (!filled) return E_FAIL;
  hr = SendStaged(device, staging.get(), made.get());
  if (FAILED(hr)) return hr;
  return HandOver(made.get(), texture);
}

HRESULT LoadRgb24Expanded(IDirect3DDevice9* device, const DdsHeader& header, const uint8_t* pixels,
                          uint32_t pixelBytes, D3DPOOL pool, IDirect3DTexture9** texture) {
  const uint32_t width = header.width, height = header.height;
  if (width == 0 || height == 0) return kExpandFailed;
  // A file that stores its whole chain has every level widened, which costs
  // no more than copying it; otherwise level 0 is widened and the device
  // makes the other levels.
  const uint32_t stored = StoredLevelCount(header);
  if (!LevelsFit(width, height, kFormatR8G8B8, stored, pixelBytes)) return kExpandFailed;
  const bool chain = stored == FullChainLevelCount(width, height);
  const uint32_t levels = chain ? stored : 1;

  ComRef<IDirect3DTexture9> made;
  HRESULT hr = device->CreateTexture(width, height, 0, chain ? 0 : D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8,
                                     pool, made.out(), nullptr);
  if (FAILED(hr)) return hr;
  if (chain && made->GetLevelCount() != levels) return kExpandFailed;
  ComRef<IDirect3DTexture9> staging;
  IDirect3DTexture9* written;
  hr = WritableFor(device, made.get(), pool, width, height, D3DFMT_A8R8G8B8, staging, &written);
  if (FAILED(hr)) return hr;
  const bool filled = FillLevels(
      written, width, height, kFormatR8G8B8, levels, pixels, pixelBytes,
      [](const D3DLOCKED_RECT& locked, const uint8_t* source, const SurfaceSize& size, uint32_t levelWidth) {
        const bool fits = locked.pBits != nullptr && locked.Pitch >= 0 &&
                          static_cast<uint64_t>(locked.Pitch) >= 4 * static_cast<uint64_t>(levelWidth);
        if (fits) {
          ExpandRows(locked.pBits, static_cast<uint32_t>(locked.Pitch), source, size.rowBytes, size.rows,
                     levelWidth);
        }
        return fits;
      });
  if (!filled) return kExpandFailed;
  hr = SendStaged(device, staging.get(), made.get());
  if (FAILED(hr)) return hr;
  if (!chain) made->GenerateMipSubLevels();
  return HandOver(made.get(), texture);
}

HRESULT LoadBlockCompressedConverted(IDirect3DDevice9* device, const DdsHeader& header, const uint8_t* pixels,
                                     uint32_t pixelBytes, D3DPOOL pool, IDirect3DTexture9** texture) {
  if (pool != D3DPOOL_DEFAULT) return E_FAIL;
  const auto format = static_cast<D3DFORMAT>(FormatFromPixelFormat(header.ddspf));
  const uint32_t width = header.width, height = header.height;
  SurfaceSize size;
  if (width == 0 || height == 0 || !SurfaceInfo(width, height, format, &size) ||
      !LevelsFit(width, height, format, StoredLevelCount(header), pixelBytes) ||
      !DeviceConvertsToArgb(device)) {
    return E_FAIL;
  }

  // StretchRect needs both surfaces on the device, and converts only into a
  // render target.
  ComRef<IDirect3DTexture9> deviceCopy, upload, made;
  HRESULT hr = device->CreateTexture(width, height, 1, 0, format, D3DPOOL_DEFAULT, deviceCopy.out(), nullptr);
  if (FAILED(hr)) return hr;
  hr = device->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, upload.out(), nullptr);
  if (FAILED(hr)) return hr;
  D3DLOCKED_RECT locked;
  if (FAILED(upload->LockRect(0, &locked, nullptr, 0))) return E_FAIL;
  const bool copied = CopyIntoLocked(locked, pixels, size);
  if (FAILED(upload->UnlockRect(0)) || !copied) return E_FAIL;
  hr = device->UpdateTexture(upload.get(), deviceCopy.get());
  if (FAILED(hr)) return hr;
  upload.Reset();

  hr = device->CreateTexture(width, height, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP,
                             D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, made.out(), nullptr);
  if (FAILED(hr)) return hr;
  {
    ComRef<IDirect3DSurface9> from, to;
    if (FAILED(deviceCopy->GetSurfaceLevel(0, from.out())) || FAILED(made->GetSurfaceLevel(0, to.out()))) {
      return E_FAIL;
    }
    hr = device->StretchRect(from.get(), nullptr, to.get(), nullptr, D3DTEXF_LINEAR);
  }
  deviceCopy.Reset();
  if (FAILED(hr)) return hr;
  made->GenerateMipSubLevels();
  return HandOver(made.get(), texture);
}
