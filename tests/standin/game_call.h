#pragma once

#include <cstdint>

// One call made the way the game makes it, from assembly, so that the
// callee's side of the contract is checked: the object in ECX, `edx` in EDX,
// the arguments on the stack, ESP at the call misaligned from 16 (the game
// keeps only 4-byte alignment), markers in EBX, ESI and EDI.
struct GameCall {
  uint32_t function;
  const void* object;
  uint32_t args[4];
  uint32_t argCount;
  uint32_t edx;
  // Filled in by CallGame:
  uint32_t eax;
  int32_t bytesRemoved;  // stack bytes the callee removed
  uint32_t clobbered;    // bit 0 EBX, bit 1 ESI, bit 2 EDI changed
  // Set by the caller: 0, 4, 8 or 12.
  uint32_t misalign;
};

extern "C" void CallGame(GameCall* call);
