#include "base/feature_status.h"
#include "base/jump.h"
#include "base/log.h"
#include "patching/patching.h"
#include "simd/cpu_features.h"
#include "textures/expand_rgb.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

// The engine's results are not checked: a refused redirection leaves D3DX
// serving the game as before.
void InstallTextureHooks() {
  ExpandRgbRow = SelectExpandRgbRow(CpuFeatures.leaf1Ecx);
  // Made whatever the setting says, and never undone.
  WriteRelJump(game::kInsertedSleepJump, reinterpret_cast<const void*>(InsertedSleepStub));
  if (!ReadFeatureSetting(Feature::Textures, "Optimize", "FasterLoading", true)) return;

  CreateTextureFromFileInMemorySite = PatchFindFunction("D3DX9_42.dll", "D3DXCreateTextureFromFileInMemory");
  if (CreateTextureFromFileInMemorySite != nullptr) {
    PatchAttach(&CreateTextureFromFileInMemorySite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemory));
    LogLine(GetLog(), LogInfo, "Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory");
  }
  CreateTextureFromFileInMemoryExSite =
      PatchFindFunction("D3DX9_43.dll", "D3DXCreateTextureFromFileInMemoryEx");
  if (CreateTextureFromFileInMemoryExSite != nullptr) {
    PatchAttach(&CreateTextureFromFileInMemoryExSite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemoryEx));
    LogLine(GetLog(), LogInfo, "Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx");
  }
  if (CreateTextureFromFileInMemorySite == nullptr && CreateTextureFromFileInMemoryExSite == nullptr)
    SetFeatureState(Feature::Textures, FeatureState::RoutineMissing);
}

void RemoveTextureHooks() {
  if (CreateTextureFromFileInMemorySite != nullptr) {
    PatchDetach(&CreateTextureFromFileInMemorySite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemory));
  }
  if (CreateTextureFromFileInMemoryExSite != nullptr) {
    PatchDetach(&CreateTextureFromFileInMemoryExSite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemoryEx));
  }
}
