#pragma once

#include <cstdint>

#include "simd/math_addresses.h"

namespace standin {

// Copies the game's matrix product, transform composition and
// box-against-planes test (scalar, in the game's member-function convention)
// to their game addresses.
void PlaceGameMath();

}  // namespace standin
