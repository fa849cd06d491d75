#pragma once

// Every place in the game's executable (and in the libraries it loads) that
// the plug-in changes: the one table below. Redirections go through PatchAttach inside the start-up
// transactions; jump writes (WriteRelJump) take effect at once and are never
// undone. The addresses and sites themselves live with their features.

#include <cstdint>

#include "shadercache/effect_sites.h"
#include "simd/math_sites.h"

// FoundRedirection: a library function looked up by name at run time; its
// row has address 0 and names the library and the function.
enum class PlaceKind { Redirection, Jump, FoundRedirection };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GamePlace {
  uintptr_t address;
  const char* name;  // the site (redirection) or the jump
  PlaceKind kind;
  const char* installedBy;         // settings key, or "always"
  const char* replacement;         // replacement function or stub
  Removal removal;                 // jumps: always Never
  uintptr_t continuation;          // jumps: where the stub continues; 0 otherwise
  const char* library = nullptr;   // FoundRedirection only
  const char* function = nullptr;  // FoundRedirection only
};

inline constexpr GamePlace kGamePlaces[] = {
    {kGameMatrixMultiply, "MatrixMultiplySite", PlaceKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {kGameTransformMultiply, "TransformMultiplySite", PlaceKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {kGameBoxPlanesTest, "BoxPlanesTestSite", PlaceKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
    {0, "CreateEffectSite", PlaceKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffect", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectName},
    {0, "CreateEffectFromFileASite", PlaceKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffectFromFileA", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectFromFileAName},
};
