#include "base/feature_status.h"
#include "base/log.h"
#include "patching/patching.h"
#include "shadercache/cache_files.h"
#include "shadercache/shader_cache.h"

PatchSite CreateEffectSite;
PatchSite CreateEffectFromFileASite;

namespace {

// The engine's result is not checked: a refused redirection leaves D3DX as
// it is, and the line is written either way.
void Redirect(PatchSite& site, const char* function, void* replacement) {
  site = PatchFindFunction(kEffectLibrary, function);
  if (site == nullptr) return;
  PatchAttach(&site, replacement);
  LogLine(GetLog(), LogInfo, "Hooked %s %s", kEffectLibrary, function);
}

}  // namespace

void InstallShaderCache() {
  if (!ReadFeatureSetting(Feature::ShaderCache, "Optimize", "UseShaderCache", false)) return;
  InitShaderCacheDir();
  Redirect(CreateEffectSite, kCreateEffectName, reinterpret_cast<void*>(CacheCreateEffect));
  Redirect(CreateEffectFromFileASite, kCreateEffectFromFileAName,
           reinterpret_cast<void*>(CacheCreateEffectFromFileA));
  if (CreateEffectSite == nullptr && CreateEffectFromFileASite == nullptr)
    SetFeatureState(Feature::ShaderCache, FeatureState::RoutineMissing);
}

void RemoveShaderCache() {
  if (CreateEffectSite != nullptr) PatchDetach(&CreateEffectSite, reinterpret_cast<void*>(CacheCreateEffect));
  if (CreateEffectFromFileASite != nullptr)
    PatchDetach(&CreateEffectFromFileASite, reinterpret_cast<void*>(CacheCreateEffectFromFileA));
}
