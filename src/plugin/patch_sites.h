#pragma once

// Every place in the game's executable that the plug-in changes: the one
// table below. Redirections go through PatchAttach inside the start-up
// transactions; jump writes (WriteRelJump) take effect at once and are
// never undone.

#include <cstdint>

#include "patching/transaction.h"

// Engine math (always installed; the variant follows the processor).
constexpr uint32_t kMatrixMultiplyAddress = 0x447ed0;
constexpr uint32_t kTransformMultiplyAddress = 0x4ec9c0;
constexpr uint32_t kBoxPlanesTestAddress = 0xafc100;

enum class PlaceKind { Redirection, Jump };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GamePlace {
  uint32_t address;
  const char* name;         // the site (redirection) or the jump
  PlaceKind kind;
  const char* installedBy;  // settings key, or "always"
  const char* replacement;  // replacement function or stub
  Removal removal;          // jumps: always Never
  uint32_t continuation;    // jumps: where the stub continues; 0 otherwise
};

inline constexpr GamePlace kGamePlaces[] = {
    {kMatrixMultiplyAddress, "MatrixMultiplySite", PlaceKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {kTransformMultiplyAddress, "TransformMultiplySite", PlaceKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {kBoxPlanesTestAddress, "BoxPlanesTestSite", PlaceKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
};

// The redirections' sites, holding the game addresses above until attached.
extern PatchSite MatrixMultiplySite;
extern PatchSite TransformMultiplySite;
extern PatchSite BoxPlanesTestSite;
