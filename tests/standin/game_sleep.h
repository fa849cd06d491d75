#pragma once

#include <cstdint>

#include "standin/standin_sites.h"
#include "textures/texture_addresses.h"

namespace standin {

// A game routine around the place where the plug-in inserts a sleep: it
// loads ECX from game::kInsertedSleepEcxSource with the 6-byte instruction
// at game::kInsertedSleepJump. int __cdecl routine(int x) returns
//   [game::kInsertedSleepEcxSource] + 16 + 512  (EBX and EDI kept across the load)
//   + 4096  if the carry flag survived,
//   + 65536 if the stack pointer is where it was.
constexpr int kGameSleepIntact = 16 + 512 + 4096 + 65536;

// Copies the routine to kGameSleepRoutine.
void PlaceGameSleepRoutine();

}  // namespace standin
