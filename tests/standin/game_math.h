#pragma once

#include <cstdint>

namespace standin {

// The game's matrix product, transform composition and box-against-planes
// test, in the game's member-function convention.
constexpr uint32_t kGameMatrixMultiply = 0x447ed0;
constexpr uint32_t kGameTransformMultiply = 0x4ec9c0;
constexpr uint32_t kGameBoxPlanesTest = 0xafc100;

// Copies the three scalar routines to their game addresses.
void PlaceGameMath();

}  // namespace standin
