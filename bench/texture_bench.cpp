// Times texture creation from DDS files in memory, as the game calls it:
// D3DX's own D3DXCreateTextureFromFileInMemoryEx, the replacement with its
// direct path, and the copy floor (the texture and, for the default pool, a
// staging texture created, every level locked and filled with memcpy, the
// staging texture sent with UpdateTexture). Every creation is followed by
// PreLoad (the replacement makes it itself); each batch of creations ends
// when the device has finished them all (an event query). The three run
// interleaved, in batches; each time is the median over the rounds of the
// milliseconds per texture, each ratio the median of the rounds' ratios.
// Then the byte copies, and the widening of 24-bit rows, against the
// runtime's memcpy.

#include <d3dx9tex.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "../tests/textures/d3d_support.h"
#include "dds_builder.h"
#include "simd/cpu_features.h"
#include "textures/copy_bytes.h"
#include "textures/expand_rgb.h"
#include "textures/level_copy.h"
#include "textures/parallel_for.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

namespace {

constexpr int kRounds = 11;
// A batch runs at least this long: well above the counter's steps, and long
// enough to even out the scheduling of a busy machine.
constexpr double kBatchMilliseconds = 150;

using CreateExFunction = HRESULT(WINAPI*)(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD,
                                          D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*,
                                          PALETTEENTRY*, IDirect3DTexture9**);
using Create = std::function<IDirect3DTexture9*()>;

double NowMilliseconds() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Each contender's times per call, one per round.
struct Timings {
  std::vector<std::vector<double>> rounds;

  bool Failed() const { return rounds.empty(); }
  double Median(size_t c) const { return ::Median(rounds[c]); }
  // The median over the rounds of a's time over b's: the two ran next to
  // each other in every round, so a machine that slows down for a while
  // slows both.
  double Ratio(size_t a, size_t b) const {
    std::vector<double> ratios;
    for (size_t r = 0; r < rounds[a].size(); ++r) ratios.push_back(rounds[a][r] / rounds[b][r]);
    return ::Median(ratios);
  }
};

// Runs the contenders' batches interleaved (the order turning each round)
// and gives each one's time per call in every round; `settle` ends every batch
// inside the timing. All batches have the same number of calls, so that the
// contenders leave the same trail of freed memory and queued device work
// behind; the slowest one's batch runs at least kBatchMilliseconds. A body
// returns false on failure.
Timings Interleaved(
    const std::vector<std::function<bool()>>& bodies, const std::function<void()>& settle = [] {}) {
  const size_t n = bodies.size();
  int batch = 4096;
  for (size_t c = 0; c < n; ++c) {  // warm-up, and the batch size
    if (!bodies[c]()) return {};
    settle();
    const double start = NowMilliseconds();
    if (!bodies[c]()) return {};
    settle();
    const double once = std::max(NowMilliseconds() - start, 0.01);
    batch = std::min(batch, std::clamp(static_cast<int>(kBatchMilliseconds / once) + 1, 1, 4096));
  }
  std::vector<std::vector<double>> times(n);
  for (int round = 0; round < kRounds; ++round) {
    for (size_t k = 0; k < n; ++k) {
      const size_t c = (k + static_cast<size_t>(round)) % n;
      const double start = NowMilliseconds();
      for (int i = 0; i < batch; ++i) {
        if (!bodies[c]()) return {};
      }
      settle();
      times[c].push_back((NowMilliseconds() - start) / batch);
    }
  }
  return {times};
}

// The width and height both calls ask for: D3DX_DEFAULT, or with "nonpow2"
// D3DX_DEFAULT_NONPOW2.
UINT requestedSide = D3DX_DEFAULT;

struct Bench {
  IDirect3DDevice9* device;
  IDirect3DQuery9* finished;
  CreateExFunction d3dx;

  // Waits until the device has done everything asked of it so far.
  void WaitForDevice() const {
    finished->Issue(D3DISSUE_END);
    while (finished->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE) SwitchToThread();
  }

  // One creation, made ready on the device, then released (timed too,
  // alike for all three). The batch waits for the device at its end.
  static bool Run(const Create& create) {
    IDirect3DTexture9* texture = create();
    if (texture == nullptr) return false;
    texture->PreLoad();
    texture->Release();
    return true;
  }

  IDirect3DTexture9* ByD3dx(const std::vector<uint8_t>& file, D3DPOOL pool) const {
    IDirect3DTexture9* texture = nullptr;
    d3dx(device, file.data(), static_cast<UINT>(file.size()), requestedSide, requestedSide, D3DX_DEFAULT, 0,
         D3DFMT_UNKNOWN, pool, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    return texture;
  }

  IDirect3DTexture9* Direct(const std::vector<uint8_t>& file, D3DPOOL pool) const {
    IDirect3DTexture9* texture = nullptr;
    FastCreateTextureFromFileInMemoryEx(device, file.data(), static_cast<UINT>(file.size()), requestedSide,
                                        requestedSide, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, pool, D3DX_DEFAULT,
                                        D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    return texture;
  }

  // The least that making the texture takes: `source` holds every level.
  IDirect3DTexture9* Floor(const std::vector<uint8_t>& source, UINT width, UINT height, D3DFORMAT format,
                           D3DPOOL pool) const {
    IDirect3DTexture9 *made = nullptr, *staging = nullptr;
    if (FAILED(device->CreateTexture(width, height, 0, 0, format, pool, &made, nullptr))) return nullptr;
    IDirect3DTexture9* written = made;
    if (pool == D3DPOOL_DEFAULT) {
      if (FAILED(device->CreateTexture(width, height, 0, 0, format, D3DPOOL_SYSTEMMEM, &staging, nullptr))) {
        made->Release();
        return nullptr;
      }
      written = staging;
    }
    size_t offset = 0;
    for (DWORD level = 0; level < written->GetLevelCount(); ++level) {
      SurfaceSize size;
      SurfaceInfo(LevelExtent(width, level), LevelExtent(height, level), format, &size);
      D3DLOCKED_RECT locked;
      written->LockRect(level, &locked, nullptr, 0);
      if (static_cast<uint32_t>(locked.Pitch) == size.rowBytes) {
        std::memcpy(locked.pBits, source.data() + offset, size.bytes);
      } else {
        for (uint32_t row = 0; row < size.rows; ++row) {
          std::memcpy(static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch,
                      source.data() + offset + row * size.rowBytes, size.rowBytes);
        }
      }
      written->UnlockRect(level);
      offset += size.bytes;
    }
    if (staging != nullptr) {
      device->UpdateTexture(staging, made);
      staging->Release();
    }
    return made;
  }
};

// Only the rows of `onlyFormat` (a format name) and `onlySize`, where given.
void TimeTextures(const Bench& bench, const char* onlyFormat, UINT onlySize) {
  struct Row {
    const char* name;
    DdsPixelFormat pixelFormat;
    D3DFORMAT made;  // the format the game gets
    UINT largest;
  };
  const Row rows[] = {{"DXT1", Dxt1PixelFormat(), D3DFMT_DXT1, 4096},
                      {"DXT5", Dxt5PixelFormat(), D3DFMT_DXT5, 2048},
                      {"A8R8G8B8", A8R8G8B8PixelFormat(), D3DFMT_A8R8G8B8, 2048},
                      {"R8G8B8", R8G8B8PixelFormat(), D3DFMT_A8R8G8B8, 2048}};
  std::printf("| format | size | pool | D3DX ms | direct ms | floor ms | direct/D3DX | direct/floor |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    if (onlyFormat != nullptr && std::strcmp(onlyFormat, row.name) != 0) continue;
    for (UINT size : {64u, 256u, 512u, 1024u, 2048u, 4096u}) {
      if (size > row.largest || (onlySize != 0 && size != onlySize)) continue;
      const std::vector<uint8_t> file = MakeDdsWithMips(row.pixelFormat, size, size);
      SurfaceSize level0;
      SurfaceInfo(size, size, row.made, &level0);
      const std::vector<uint8_t> floorSource = PatternBytes(2 * static_cast<size_t>(level0.bytes), size);
      for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
        const Timings ms = Interleaved(
            {
                [&] { return bench.Run([&] { return bench.ByD3dx(file, pool); }); },
                [&] { return bench.Run([&] { return bench.Direct(file, pool); }); },
                [&] {
                  return bench.Run([&] { return bench.Floor(floorSource, size, size, row.made, pool); });
                },
            },
            [&] { bench.WaitForDevice(); });
        if (ms.Failed()) {
          std::printf("| %s | %u | %s | failed |\n", row.name, size,
                      pool == D3DPOOL_MANAGED ? "managed" : "default");
          continue;
        }
        std::printf("| %s | %u | %s | %.3f | %.3f | %.3f | %.2f | %.2f |\n", row.name, size,
                    pool == D3DPOOL_MANAGED ? "managed" : "default", ms.Median(0), ms.Median(1), ms.Median(2),
                    ms.Ratio(1, 0), ms.Ratio(1, 2));
        std::fflush(stdout);
      }
    }
  }
}

// The runtime's memcpy, called as a function (a copy of known size would be
// inlined by the compiler).
void* (*volatile runtimeMemcpy)(void*, const void*, size_t) = std::memcpy;

void TimeCopies() {
  std::printf(
      "\n| bytes | memcpy ms | CopyBytesSimd ms | CopyLevel ms | ExpandRows ms | CopyBytesSimd/memcpy | "
      "CopyLevel/memcpy | ExpandRows/memcpy |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (uint32_t bytes :
       {4096u, 65536u, 262144u, 524288u, 1u << 20, 2u << 20, 4u << 20, 8u << 20, 16u << 20}) {
    // Distinct buffers per size, touched once, so no run finds them cached
    // where another did not.
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes, 0);
    const Timings ms = Interleaved({
        [&] {
          runtimeMemcpy(to.data(), from.data(), bytes);
          return true;
        },
        [&] {
          CopyBytesSimd(to.data(), from.data(), bytes);
          return true;
        },
        [&] {
          CopyLevel(to.data(), from.data(), bytes);
          return true;
        },
        [&] {  // the same bytes written, widened from rows of 1024 24-bit pixels
          ExpandRows(to.data(), 4096, from.data(), 3072, bytes / 4096, 1024);
          return true;
        },
    });
    std::printf("| %u | %.4f | %.4f | %.4f | %.4f | %.2f | %.2f | %.2f |\n", bytes, ms.Median(0),
                ms.Median(1), ms.Median(2), ms.Median(3), ms.Ratio(1, 0), ms.Ratio(2, 0), ms.Ratio(3, 0));
    std::fflush(stdout);
  }
}

}  // namespace

// "texture_bench copies" times the byte copies alone; "texture_bench FORMAT
// [SIZE [nonpow2]]" the textures of one format (and size) alone, "nonpow2"
// asking for D3DX_DEFAULT_NONPOW2 sides.
int main(int argc, char** argv) {
  ExpandRgbRow = SelectExpandRgbRow(CpuFeatures.leaf1Ecx);
  if (argc > 1 && std::strcmp(argv[1], "copies") == 0) {
    TimeCopies();
    return 0;
  }
  IDirect3DDevice9* device = TestDevice();
  auto d3dx = reinterpret_cast<CreateExFunction>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateTextureFromFileInMemoryEx")));
  IDirect3DQuery9* finished = nullptr;
  if (device == nullptr || d3dx == nullptr || FAILED(device->CreateQuery(D3DQUERYTYPE_EVENT, &finished))) {
    std::printf("texture_bench: no Direct3D device, event query or D3DX9_43.dll\n");
    return 1;
  }
  // The replacement's fallbacks reach D3DX unhooked.
  CreateTextureFromFileInMemoryExSite = reinterpret_cast<PatchSite>(d3dx);
  std::printf(
      "texture_bench: %u threads, ExpandRgbRow %s; median ms per texture of %d interleaved rounds\n\n",
      ParallelThreadLimit(), ExpandRgbRow == ExpandRgbRowSsse3 ? "SSSE3" : "SSE2", kRounds);
  const Bench bench = {device, finished, d3dx};
  const char* onlyFormat = argc > 1 ? argv[1] : nullptr;
  if (argc > 3 && std::strcmp(argv[3], "nonpow2") == 0) requestedSide = D3DX_DEFAULT_NONPOW2;
  TimeTextures(bench, onlyFormat, argc > 2 ? static_cast<UINT>(std::atoi(argv[2])) : 0);
  if (onlyFormat == nullptr) TimeCopies();
  finished->Release();
  return 0;
}
