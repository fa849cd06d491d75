#include "d3d_support.h"

#include <cstring>
#include <map>
#include <stdexcept>

#include "textures/dds_format.h"

namespace {

// The device and its window, released at exit: a process that ends with a
// live device now and then crashes in the GL driver's own clean-up.
struct Device {
  HWND window = nullptr;
  IDirect3DDevice9* device = nullptr;
  Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device() {
    if (device != nullptr) device->Release();
    if (window != nullptr) DestroyWindow(window);
  }
};

Device::Device() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuelbrandTextureTests";
  RegisterClassA(&windowClass);
  window = CreateWindowA("QuelbrandTextureTests", "textures", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
  IDirect3D9* d3d = window != nullptr ? Direct3DCreate9(D3D_SDK_VERSION) : nullptr;
  if (d3d == nullptr) return;
  D3DPRESENT_PARAMETERS present = {};
  present.Windowed = TRUE;
  present.SwapEffect = D3DSWAPEFFECT_DISCARD;
  present.BackBufferFormat = D3DFMT_UNKNOWN;
  present.hDeviceWindow = window;
  // Multithreaded: textures may be made from more than one thread.
  if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED, &present,
                               &device))) {
    device = nullptr;
  }
  d3d->Release();
}

}  // namespace

IDirect3DDevice9* TestDevice() {
  static Device made;
  return made.device;
}

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

D3DSURFACE_DESC LevelDesc(IDirect3DTexture9* texture, uint32_t level) {
  D3DSURFACE_DESC desc = {};
  texture->GetLevelDesc(level, &desc);
  return desc;
}

std::vector<uint8_t> LevelBytes(IDirect3DTexture9* texture, uint32_t level) {
  const D3DSURFACE_DESC desc = LevelDesc(texture, level);
  SurfaceSize size;
  if (!SurfaceInfo(desc.Width, desc.Height, desc.Format, &size)) throw std::runtime_error("level too large");
  D3DLOCKED_RECT locked;
  if (FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
    throw std::runtime_error("lock failed");
  std::vector<uint8_t> bytes(size.bytes);
  for (uint32_t row = 0; row < size.rows; ++row) {
    std::memcpy(bytes.data() + row * size.rowBytes, static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch,
                size.rowBytes);
  }
  texture->UnlockRect(level);
  return bytes;
}

std::vector<uint8_t> RenderedLevel(IDirect3DTexture9* texture, uint32_t level) {
  IDirect3DDevice9* device = TestDevice();
  const D3DSURFACE_DESC desc = LevelDesc(texture, level);
  IDirect3DSurface9 *from = nullptr, *target = nullptr, *readable = nullptr;
  std::vector<uint8_t> bytes;
  if (SUCCEEDED(texture->GetSurfaceLevel(level, &from)) &&
      SUCCEEDED(device->CreateRenderTarget(desc.Width, desc.Height, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0,
                                           FALSE, &target, nullptr)) &&
      SUCCEEDED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, D3DFMT_A8R8G8B8,
                                                    D3DPOOL_SYSTEMMEM, &readable, nullptr)) &&
      SUCCEEDED(device->StretchRect(from, nullptr, target, nullptr, D3DTEXF_POINT)) &&
      SUCCEEDED(device->GetRenderTargetData(target, readable))) {
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(readable->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      bytes.resize(4 * desc.Width * desc.Height);
      for (uint32_t row = 0; row < desc.Height; ++row) {
        std::memcpy(bytes.data() + 4 * row * desc.Width,
                    static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch, 4 * desc.Width);
      }
      readable->UnlockRect();
    }
  }
  for (IDirect3DSurface9* surface : {from, target, readable}) {
    if (surface != nullptr) surface->Release();
  }
  return bytes;
}

namespace {

// Slots in the COM method tables (IUnknown first, then the interface's
// methods in declaration order).
constexpr size_t kDeviceMethods = 119;
constexpr size_t kDeviceGetDeviceCaps = 7;
constexpr size_t kDeviceCreateTexture = 23;
constexpr size_t kDirect3DMethods = 17;
constexpr size_t kDirect3DCheckDeviceFormat = 10;
constexpr size_t kTextureMethods = 22;
constexpr size_t kTexturePreLoad = 9;

using CreateTextureMethod = HRESULT(WINAPI*)(IDirect3DDevice9*, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                             IDirect3DTexture9**, HANDLE*);
using PreLoadMethod = void(WINAPI*)(IDirect3DTexture9*);
using GetDeviceCapsMethod = HRESULT(WINAPI*)(IDirect3DDevice9*, D3DCAPS9*);
using CheckDeviceFormatMethod = HRESULT(WINAPI*)(IDirect3D9*, UINT, D3DDEVTYPE, D3DFORMAT, DWORD,
                                                 D3DRESOURCETYPE, D3DFORMAT);

void* watchedDevice[kDeviceMethods];
void* watchedTexture[kTextureMethods];
CreateTextureMethod originalCreateTexture = nullptr;
PreLoadMethod originalPreLoad = nullptr;
std::map<IDirect3DTexture9*, int> preLoads;
int created = 0;
std::map<HMODULE, int> createdBy;
void* limitedDirect3D[kDirect3DMethods];
GetDeviceCapsMethod originalGetDeviceCaps = nullptr;
CheckDeviceFormatMethod originalCheckDeviceFormat = nullptr;
D3DFORMAT refusedFormat = D3DFMT_UNKNOWN;
bool withAutoGenMips = true;

void** MethodTable(void* object) { return *static_cast<void***>(object); }

void WINAPI CountingPreLoad(IDirect3DTexture9* texture) {
  ++preLoads[texture];
  originalPreLoad(texture);
}

HRESULT WINAPI WatchingCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels,
                                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                     HANDLE* shared) {
  const HRESULT hr =
      originalCreateTexture(device, width, height, levels, usage, format, pool, texture, shared);
  IDirect3DTexture9* made = SUCCEEDED(hr) ? *texture : nullptr;
  // Only managed textures are watched: Direct3D checks the method table of
  // textures handed to UpdateTexture, which never sees a managed one.
  if (made == nullptr) return hr;
  ++created;
  HMODULE caller = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(__builtin_return_address(0)), &caller);
  ++createdBy[caller];
  preLoads.erase(made);  // an address of a released texture, come back
  if (pool == D3DPOOL_MANAGED) {
    if (originalPreLoad == nullptr) {
      std::memcpy(watchedTexture, MethodTable(made), sizeof watchedTexture);
      originalPreLoad = reinterpret_cast<PreLoadMethod>(watchedTexture[kTexturePreLoad]);
      watchedTexture[kTexturePreLoad] = reinterpret_cast<void*>(CountingPreLoad);
    }
    *reinterpret_cast<void***>(made) = watchedTexture;
    preLoads[made] = 0;
  }
  return hr;
}

HRESULT WINAPI LimitedGetDeviceCaps(IDirect3DDevice9* device, D3DCAPS9* caps) {
  const HRESULT hr = originalGetDeviceCaps(device, caps);
  if (SUCCEEDED(hr) && !withAutoGenMips) caps->Caps2 &= ~static_cast<DWORD>(D3DCAPS2_CANAUTOGENMIPMAP);
  return hr;
}

HRESULT WINAPI LimitedCheckDeviceFormat(IDirect3D9* d3d, UINT adapter, D3DDEVTYPE type,
                                        D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE resource,
                                        D3DFORMAT format) {
  if (format == refusedFormat) return D3DERR_NOTAVAILABLE;
  return originalCheckDeviceFormat(d3d, adapter, type, adapterFormat, usage, resource, format);
}

}  // namespace

void WatchTextures() {
  IDirect3DDevice9* device = TestDevice();
  if (device == nullptr || originalCreateTexture != nullptr) return;
  std::memcpy(watchedDevice, MethodTable(device), sizeof watchedDevice);
  originalCreateTexture = reinterpret_cast<CreateTextureMethod>(watchedDevice[kDeviceCreateTexture]);
  watchedDevice[kDeviceCreateTexture] = reinterpret_cast<void*>(WatchingCreateTexture);
  *reinterpret_cast<void***>(device) = watchedDevice;
}

int TexturesCreated() { return created; }

int TexturesCreatedBy(const char* module) {
  const auto found = createdBy.find(GetModuleHandleA(module));
  return found == createdBy.end() ? 0 : found->second;
}

void StandInDeviceLimits(D3DFORMAT refused, bool autoGenMips) {
  WatchTextures();
  refusedFormat = refused;
  withAutoGenMips = autoGenMips;
  if (originalGetDeviceCaps != nullptr) return;
  IDirect3DDevice9* device = TestDevice();
  originalGetDeviceCaps = reinterpret_cast<GetDeviceCapsMethod>(watchedDevice[kDeviceGetDeviceCaps]);
  watchedDevice[kDeviceGetDeviceCaps] = reinterpret_cast<void*>(LimitedGetDeviceCaps);
  IDirect3D9* d3d = nullptr;
  device->GetDirect3D(&d3d);
  std::memcpy(limitedDirect3D, MethodTable(d3d), sizeof limitedDirect3D);
  originalCheckDeviceFormat =
      reinterpret_cast<CheckDeviceFormatMethod>(limitedDirect3D[kDirect3DCheckDeviceFormat]);
  limitedDirect3D[kDirect3DCheckDeviceFormat] = reinterpret_cast<void*>(LimitedCheckDeviceFormat);
  *reinterpret_cast<void***>(d3d) = limitedDirect3D;
  d3d->Release();
}

int PreLoadCalls(IDirect3DTexture9* texture) {
  const auto found = preLoads.find(texture);
  return found == preLoads.end() ? -1 : found->second;
}
