#pragma once

#include <cstdint>

// One call in the game's member-function convention, made from assembly so
// that the contract itself is checked: the object in ECX, the arguments on
// the stack, ESP at the call misaligned by `misalign` bytes from 16 (the game
// promises only 4-byte alignment), EDX holding garbage.
struct ThiscallProbe {
  const void* function;
  const void* object;
  uint32_t args[2];
  uint32_t argCount;
  uint32_t misalign;  // 0, 4, 8 or 12
  // Filled by the call:
  uint32_t eax;
  int32_t bytesRemoved;  // stack bytes the callee removed
  uint32_t clobbered;    // bit 0 EBX, bit 1 ESI, bit 2 EDI changed
};

extern "C" void ProbeThiscall(ThiscallProbe* probe);
