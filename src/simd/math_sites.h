#pragma once

#include <cstdint>

#include "patching/transaction.h"

// The game's math routines that the SIMD replacements stand in for.
constexpr uintptr_t kGameMatrixMultiply = 0x447ed0;
constexpr uintptr_t kGameTransformMultiply = 0x4ec9c0;
constexpr uintptr_t kGameBoxPlanesTest = 0xafc100;

extern PatchSite MatrixMultiplySite;
extern PatchSite TransformMultiplySite;
extern PatchSite BoxPlanesTestSite;
