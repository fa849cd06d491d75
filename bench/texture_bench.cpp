// Times the direct DDS path against D3DX's own D3DXCreateTextureFromFileInMemoryEx
// on a few large files (managed and default pool), and the parallel level
// copy against a copy on one thread. Prints milliseconds per texture (best
// of several runs) and the speed-up (D3DX time / direct time).

#include <d3dx9tex.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../tests/textures/d3d_support.h"
#include "../tests/textures/dds_builder.h"
#include "simd/cpu_features.h"
#include "textures/copy_bytes.h"
#include "textures/expand_rgb.h"
#include "textures/level_copy.h"
#include "textures/parallel_for.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

constexpr int kRepeats = 5;

using CreateExFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD,
                                          D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*,
                                          PALETTEENTRY*, IDirect3DTexture9**);

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Body>
double BestMilliseconds(Body body) {
  double best = 1e30;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    const double start = Now();
    if (!body()) return -1;
    best = std::fmin(best, (Now() - start) * 1e3);
  }
  return best;
}

struct Subject {
  const char* name;
  DdsLayout layout;
};

void TimeFile(const Subject& subject, CreateExFunction d3dx, IDirect3DDevice9* device) {
  const std::vector<uint8_t> file = MakeDds(subject.layout);
  for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
    auto create = [&](bool direct) {
      IDirect3DTexture9* texture = nullptr;
      const auto size = static_cast<UINT>(file.size());
      const HRESULT hr =
          direct
              ? TryLoadDdsEx(device, file.data(), size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                             D3DFMT_UNKNOWN, pool, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture)
              : d3dx(device, file.data(), size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                     pool, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
      if (hr != S_OK) return false;
      texture->Release();
      return true;
    };
    const double byD3dx = BestMilliseconds([&] { return create(false); });
    const double direct = BestMilliseconds([&] { return create(true); });
    std::printf("%-30s %-8s %6.1f MB  D3DX %8.2f ms  direct %8.2f ms  x%.1f\n", subject.name,
                pool == D3DPOOL_MANAGED ? "managed" : "default", static_cast<double>(file.size()) / 1e6,
                byD3dx, direct, byD3dx / direct);
  }
}

void TimeCopies() {
  for (uint32_t bytes : {kParallelCopyThreshold, 4u << 20, 32u << 20}) {
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    const double single = BestMilliseconds([&] {
      CopyBytesSimd(to.data(), from.data(), bytes);
      return true;
    });
    const double split = BestMilliseconds([&] {
      CopyLevel(to.data(), from.data(), bytes);
      return true;
    });
    const double plain = BestMilliseconds([&] {
      std::memcpy(to.data(), from.data(), bytes);
      return true;
    });
    std::printf(
        "copy %8u bytes: memcpy %7.3f ms  CopyBytesSimd %7.3f ms  CopyLevel (%u pieces, %u threads) %7.3f "
        "ms\n",
        bytes, plain, single, CopyLevelPieces(bytes), ParallelThreadLimit(), split);
  }
}

}  // namespace

int main() {
  IDirect3DDevice9* device = TestDevice();
  auto d3dx = reinterpret_cast<CreateExFunction>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateTextureFromFileInMemoryEx")));
  if (device == nullptr || d3dx == nullptr) {
    std::printf("texture_bench: no Direct3D device or no D3DX9_43.dll\n");
    return 1;
  }
  // Refusals inside the direct path may ask D3DX; the benchmark calls it unhooked.
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(d3dx);
  ExpandRgbRow = SelectExpandRgbRow(CpuFeatures.leaf1Ecx);
  std::printf("texture_bench: %u threads, ExpandRgbRow %s\n", ParallelThreadLimit(),
              ExpandRgbRow == ExpandRgbRowSsse3 ? "SSSE3" : "SSE2");

  const Subject subjects[] = {
      {"DXT1 4096x4096, 13 levels", {Dxt1PixelFormat(), 4096, 4096, 13}},
      {"DXT5 2048x2048, 12 levels", {Dxt5PixelFormat(), 2048, 2048, 12}},
      {"A8R8G8B8 2048x2048, 12 levels", {A8R8G8B8PixelFormat(), 2048, 2048, 12}},
      {"R8G8B8 2048x2048, 1 level", {R8G8B8PixelFormat(), 2048, 2048, 1}},
  };
  for (const Subject& subject : subjects) TimeFile(subject, d3dx, device);
  TimeCopies();
  return 0;
}
