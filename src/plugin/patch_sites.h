#pragma once

// Every place in the game process that the plug-in changes.
//
// Redirections (PatchAttach inside the start-up transactions):
//
//   game address  site                     replacement                                 removed at shut-down
//   0x447ed0      MatrixMultiplySite       MatrixMultiplySsse3 / MatrixMultiplySse2    yes
//   0x4ec9c0      TransformMultiplySite    TransformMultiplySsse3 / ...Sse2            yes
//   0xafc100      BoxPlanesTestSite        BoxPlanesTestSse41 / BoxPlanesTestSse3      yes
//
// Jump writes (WriteRelJump, immediate and never undone):
//
//   game address  jump                     stub                       continues at
//   (none yet)
//
// The site variables are defined in patch_sites.cpp with the game addresses
// below as their initial values.

#include <cstdint>

#include "patching/transaction.h"

// Engine math (always installed; the variant follows the processor).
constexpr uint32_t kMatrixMultiplyAddress = 0x447ed0;
constexpr uint32_t kTransformMultiplyAddress = 0x4ec9c0;
constexpr uint32_t kBoxPlanesTestAddress = 0xafc100;
extern PatchSite MatrixMultiplySite;
extern PatchSite TransformMultiplySite;
extern PatchSite BoxPlanesTestSite;
