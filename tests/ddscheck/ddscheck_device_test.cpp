// The checker against the plug-in's direct texture path on a Direct3D
// device: for every sample file and call, the path builds the texture itself
// exactly when the checker says it is served (and the device takes the
// format), in the format and with the levels the checker names. D3DX is
// stood in for by functions that always fail, so only the direct path can
// make a texture.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "d3d_support.h"
#include "dds_samples.h"
#include "guarded_buffer.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

HRESULT WINAPI FailingCreate(IDirect3DDevice9*, LPCVOID, UINT, IDirect3DTexture9**) { return E_FAIL; }

HRESULT WINAPI FailingCreateEx(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                               DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9**) {
  return E_FAIL;
}

HRESULT LoadDirectly(IDirect3DDevice9* device, const GuardedBuffer& file, const DdsCall& call,
                     IDirect3DTexture9** texture) {
  const auto size = static_cast<UINT>(file.size());
  if (!call.ex) return TryLoadDds(device, file.data(), size, texture);
  PALETTEENTRY palette[256] = {};
  return TryLoadDdsEx(device, file.data(), size, call.width, call.height, call.mipLevels, call.usage,
                      static_cast<D3DFORMAT>(call.format), static_cast<D3DPOOL>(call.pool), D3DX_DEFAULT,
                      D3DX_DEFAULT, 0, nullptr, call.palette ? palette : nullptr, texture);
}

// Whether the device stretches a block-compressed level into a 32-bit
// ARGB texture (Wine's does not; drivers differ).
bool DeviceConverts(IDirect3DDevice9* device, D3DFORMAT format) {
  IDirect3DTexture9 *from = nullptr, *to = nullptr;
  IDirect3DSurface9 *fromLevel = nullptr, *toLevel = nullptr;
  const bool converts =
      SUCCEEDED(device->CreateTexture(4, 4, 1, 0, format, D3DPOOL_DEFAULT, &from, nullptr)) &&
      SUCCEEDED(device->CreateTexture(4, 4, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &to,
                                      nullptr)) &&
      SUCCEEDED(from->GetSurfaceLevel(0, &fromLevel)) && SUCCEEDED(to->GetSurfaceLevel(0, &toLevel)) &&
      SUCCEEDED(device->StretchRect(fromLevel, nullptr, toLevel, nullptr, D3DTEXF_LINEAR));
  for (IUnknown* object : {static_cast<IUnknown*>(fromLevel), static_cast<IUnknown*>(toLevel),
                           static_cast<IUnknown*>(from), static_cast<IUnknown*>(to)}) {
    if (object != nullptr) object->Release();
  }
  return converts;
}

// Whether the device makes textures of the file's format, or converts it.
bool DeviceTakes(IDirect3DDevice9* device, const DdsVerdict& verdict) {
  const auto format = static_cast<D3DFORMAT>(verdict.format);
  if (verdict.reason == DdsServedConverted) return DeviceConverts(device, format);
  if (verdict.reason != DdsServed) return true;
  IDirect3D9* d3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS params;
  D3DDISPLAYMODE mode;
  if (FAILED(device->GetDirect3D(&d3d))) return false;
  const bool takes = SUCCEEDED(device->GetCreationParameters(&params)) &&
                     SUCCEEDED(device->GetDisplayMode(0, &mode)) &&
                     SUCCEEDED(d3d->CheckDeviceFormat(params.AdapterOrdinal, params.DeviceType, mode.Format,
                                                      0, D3DRTYPE_TEXTURE, format));
  d3d->Release();
  return takes;
}

TEST(DdsCheckOnDevice, VerdictsAreWhatTheDirectPathDoes) {
  IDirect3DDevice9* device = TestDevice();
  ASSERT_NE(device, nullptr) << "no Direct3D device";
  CreateTextureFromFileInMemorySite = reinterpret_cast<PatchSite>(FailingCreate);
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(FailingCreateEx);

  std::set<uint32_t> servedReasons;
  int formatsServed = 0;
  for (const DdsSample& sample : DdsSamples()) {
    const GuardedBuffer file(sample.bytes.size());
    std::memcpy(file.data(), sample.bytes.data(), sample.bytes.size());
    const DdsVerdict verdict = JudgeDds(file.data(), static_cast<uint32_t>(file.size()), sample.call);
    const bool expectServed = IsServed(verdict.reason) && DeviceTakes(device, verdict);

    IDirect3DTexture9* texture = nullptr;
    const HRESULT hr = LoadDirectly(device, file, sample.call, &texture);
    EXPECT_EQ(hr == S_OK, expectServed) << sample.name << ": " << DdsReasonName(verdict.reason);
    if (hr != S_OK) continue;
    servedReasons.insert(verdict.reason);
    formatsServed += verdict.reason == DdsServed;
    EXPECT_EQ(static_cast<uint32_t>(LevelDesc(texture, 0).Format), verdict.textureFormat) << sample.name;
    // Textures whose levels the device generates report one level; a
    // widened file keeps a whole stored chain.
    const bool copiedChain = verdict.reason == DdsServed || (verdict.reason == DdsServedWidened &&
                                                             verdict.storedLevels == verdict.fullChainLevels);
    EXPECT_EQ(texture->GetLevelCount(), copiedChain ? verdict.fullChainLevels : 1) << sample.name;
    texture->Release();
  }
  // The device took files in their own format (most formats) and widened.
  EXPECT_TRUE(servedReasons.count(DdsServed) && servedReasons.count(DdsServedWidened));
  EXPECT_GE(formatsServed, 20);
  std::printf("formats served on this device: %d\n", formatsServed);
}

}  // namespace
