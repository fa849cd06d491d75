#pragma once

// Every place in the game's executable that the plug-in changes: the one
// table below. Redirections go through PatchAttach inside the start-up
// transactions; jump writes (WriteRelJump) take effect at once and are never
// undone. The addresses and sites themselves live with their features.

#include <cstdint>

#include "simd/math_sites.h"
#include "textures/texture_sites.h"

enum class PlaceKind { Redirection, Jump };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GamePlace {
  uintptr_t address;
  const char* name;  // the site (redirection) or the jump
  PlaceKind kind;
  const char* installedBy;  // settings key, or "always"
  const char* replacement;  // replacement function or stub
  Removal removal;          // jumps: always Never
  uintptr_t continuation;   // jumps: where the stub continues; 0 otherwise
};

inline constexpr GamePlace kGamePlaces[] = {
    {kGameMatrixMultiply, "MatrixMultiplySite", PlaceKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {kGameTransformMultiply, "TransformMultiplySite", PlaceKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {kGameInsertedSleep, "InsertedSleepJump", PlaceKind::Jump, "always", "InsertedSleepStub", Removal::Never,
     kGameInsertedSleepContinue},
    {kGameBoxPlanesTest, "BoxPlanesTestSite", PlaceKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
    // Library functions found by name at start-up: no fixed address (0).
    {0, "CreateTextureFromFileInMemorySite", PlaceKind::Redirection, "FasterLoading",
     "FastCreateTextureFromFileInMemory", Removal::IfInstalled, 0},
    {0, "CreateTextureFromFileInMemoryExSite", PlaceKind::Redirection, "FasterLoading",
     "FastCreateTextureFromFileInMemoryEx", Removal::IfInstalled, 0},
};
