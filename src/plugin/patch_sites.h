#pragma once

// Every place in the game's executable that the plug-in changes: the one
// table below. Redirections go through PatchAttach inside the start-up
// transactions; jump writes (WriteRelJump) take effect at once and are never
// undone. The addresses and sites themselves live with their features.

#include <cstdint>

#include "simd/math_sites.h"

enum class PlaceKind { Redirection, Jump };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GamePlace {
  uintptr_t address;  // 0: a library function found at run time (see the site)
  const char* name;   // the site (redirection) or the jump
  PlaceKind kind;
  const char* installedBy;  // settings key, or "always"
  const char* replacement;  // replacement function or stub
  Removal removal;          // jumps: always Never
  uintptr_t continuation;   // jumps: where the stub continues; 0 otherwise
};

inline constexpr GamePlace kGamePlaces[] = {
    // kernel32 SetUnhandledExceptionFilter, from the import table at static
    // initialisation.
    {0, "ExceptionFilterSite", PlaceKind::Redirection, "always", "ExceptionFilterHook", Removal::AtShutDown,
     0},
    {kGameMatrixMultiply, "MatrixMultiplySite", PlaceKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {kGameTransformMultiply, "TransformMultiplySite", PlaceKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {kGameBoxPlanesTest, "BoxPlanesTestSite", PlaceKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
};
