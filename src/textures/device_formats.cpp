#include "textures/device_formats.h"

#include "textures/com_ref.h"

bool DeviceTakesTextureFormat(IDirect3DDevice9* device, D3DFORMAT format, DWORD usage) {
  D3DDEVICE_CREATION_PARAMETERS creation;
  D3DDISPLAYMODE mode;
  ComRef<IDirect3D9> d3d;
  if (FAILED(device->GetCreationParameters(&creation)) || FAILED(device->GetDisplayMode(0, &mode)) ||
      FAILED(device->GetDirect3D(d3d.out()))) {
    return false;
  }
  // D3DOK_NOAUTOGEN is a success code, but the mip levels would not be made.
  return d3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, usage,
                                D3DRTYPE_TEXTURE, format) == D3D_OK;
}

bool DeviceConvertsToArgb(IDirect3DDevice9* device) {
  D3DCAPS9 caps;
  if (FAILED(device->GetDeviceCaps(&caps)) || (caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP) == 0 ||
      (caps.DevCaps2 & D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES) == 0) {
    return false;
  }
  return DeviceTakesTextureFormat(device, D3DFMT_A8R8G8B8, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP);
}
