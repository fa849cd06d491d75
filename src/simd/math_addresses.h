#pragma once

// The game's math routines that the SIMD replacements stand in for.

#include "base/game_address.h"

GAME_ADDRESS(kMatrixMultiply, 0x447ed0)
GAME_ADDRESS(kTransformMultiply, 0x4ec9c0)
GAME_ADDRESS(kBoxPlanesTest, 0xafc100)
