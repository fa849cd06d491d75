// Times a shader cache hit as it is now (CacheCreateEffect on a cache entry,
// whose object is checked against its checksum before D3DX reads it) against
// the hit as it was before entries carried a checksum (the same steps on a
// bare object file, without the check, and the object copied next to an
// inaccessible page, which a checked object no longer needs), taking turns
// batch by batch in one
// run on a real device. Prints the median microseconds per hit and the
// median ratio, per object size.

#include <d3d9.h>
#include <d3dx9effect.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/shadercache/test_effect.h"
#include "../tests/textures/d3d_support.h"
#include "base/guarded_call.h"
#include "base/log.h"
#include "fenced_bytes.h"
#include "shadercache/cache_entry.h"
#include "shadercache/cache_files.h"
#include "shadercache/shader_cache.h"

namespace {

constexpr int kBatches = 201;
constexpr int kHitsPerBatch = 5;  // about a millisecond: few batches are cut by another process
constexpr size_t kSourceBytes = 8 << 10;

IDirect3DDevice9* device;

struct Creation {
  const void* object;
  UINT size;
  ID3DXEffect* effect;
  HRESULT result;
};

void CreateBody(void* context) {
  auto& creation = *static_cast<Creation*>(context);
  creation.result = reinterpret_cast<decltype(&D3DXCreateEffect)>(CreateEffectSite)(
      device, creation.object, creation.size, nullptr, nullptr, 0, nullptr, &creation.effect, nullptr);
}

// The hit before the checksum: name, whole-file read, log line, fenced and
// guarded creation from the bytes as read.
HRESULT HitWithoutCheck(const std::string& source, ID3DXEffect** effect) {
  const std::wstring name = MakeCacheName(source.data(), static_cast<uint32_t>(source.size()), nullptr);
  const ByteString cached = ReadCacheFile(name);
  LogLine(GetLog(), LogInfo, "shader cache hint! %s", "");
  const FencedBytes fenced(cached.data(), cached.size());
  Creation creation = {fenced.data, static_cast<UINT>(cached.size()), nullptr, E_FAIL};
  if (GuardedCall(CreateBody, &creation) != 0) return E_FAIL;
  *effect = creation.effect;
  return creation.result;
}

HRESULT HitNow(const std::string& source, ID3DXEffect** effect) {
  return CacheCreateEffect(device, source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, 0,
                           nullptr, effect, nullptr);
}

using Hit = HRESULT (*)(const std::string& source, ID3DXEffect** effect);

// Microseconds per hit over one batch; false when a hit failed.
bool Batch(Hit hit, const std::string& source, std::vector<double>& microseconds) {
  LARGE_INTEGER start, stop, frequency;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kHitsPerBatch; ++i) {
    ID3DXEffect* effect = nullptr;
    if (FAILED(hit(source, &effect)) || effect == nullptr) return false;
    effect->Release();
  }
  QueryPerformanceCounter(&stop);
  QueryPerformanceFrequency(&frequency);
  microseconds.push_back(static_cast<double>(stop.QuadPart - start.QuadPart) * 1e6 /
                         static_cast<double>(frequency.QuadPart) / kHitsPerBatch);
  return true;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// A source of kSourceBytes that no other source equals.
std::string Source(const char* kind, size_t objectBytes) {
  std::string source = "value=1.5 " + std::string(kind) + " " + std::to_string(objectBytes) + " ";
  source.resize(kSourceBytes, '.');
  return source;
}

}  // namespace

int main() {
  device = TestDevice();
  CreateEffectSite = reinterpret_cast<PatchSite>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("d3dx9_43.dll"), "D3DXCreateEffect")));
  InitShaderCacheDir();
  if (device == nullptr || CreateEffectSite == nullptr || !ShaderCacheDirUsable) {
    std::printf("cache_hit_bench: no Direct3D device, D3DX9_43.dll or cache directory\n");
    return 1;
  }
  std::printf("cache_hit_bench: median us per hit of %d alternating batches of %d hits, %zu-byte source\n",
              kBatches, kHitsPerBatch, kSourceBytes);
  for (size_t objectBytes : {size_t{1} << 10, size_t{16} << 10, size_t{64} << 10}) {
    std::string object = testeffect::CompiledEffect(1.5f);
    object.resize(objectBytes, '\x5A');  // D3DX ignores what follows the effect
    const std::string now = Source("now", objectBytes), before = Source("before", objectBytes);
    WriteCacheFile(MakeCacheName(now.data(), static_cast<uint32_t>(now.size()), nullptr),
                   MakeCacheEntry(object));
    WriteCacheFile(MakeCacheName(before.data(), static_cast<uint32_t>(before.size()), nullptr), object);
    std::vector<double> timesNow, timesBefore, ratios;
    for (int batch = 0; batch < kBatches; ++batch) {
      if (!Batch(HitNow, now, timesNow) || !Batch(HitWithoutCheck, before, timesBefore)) {
        std::printf("cache_hit_bench: a hit failed\n");
        return 1;
      }
      ratios.push_back(timesNow.back() / timesBefore.back());
    }
    std::printf("%3zu KB object: checked %.1f us, unchecked %.1f us, ratio %.3f\n", objectBytes >> 10,
                Median(timesNow), Median(timesBefore), Median(ratios));
  }
  return 0;
}
