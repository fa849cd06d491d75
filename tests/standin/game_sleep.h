#pragma once

#include <cstdint>

namespace standin {

// A game routine around the place where the plug-in inserts a sleep: it
// loads ECX from kGameSleepValue with the 6-byte instruction at 0x6f4099.
// int __cdecl routine(int x) returns
//   [kGameSleepValue] + 16 + 512            (EBX and EDI kept across 0x6f4099)
//   + 4096  if the carry flag survived,
//   + 65536 if the stack pointer is where it was.
constexpr uint32_t kGameSleepRoutine = 0x6f4080;
constexpr uint32_t kGameSleepLoad = 0x6f4099;
constexpr uint32_t kGameSleepValue = 0x1bc0294;
constexpr int kGameSleepIntact = 16 + 512 + 4096 + 65536;

// Copies the routine to kGameSleepRoutine.
void PlaceGameSleepRoutine();

}  // namespace standin
