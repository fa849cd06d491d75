#include "thiscall_calls.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "standin/game_call.h"

namespace {

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

GameCall Call(const void* function, const void* object, uint32_t arg0, uint32_t arg1, uint32_t argCount) {
  static uint32_t misalign = 0;
  misalign = (misalign + 4) % 16;
  GameCall probe = {Word(function), object, {arg0, arg1}, argCount, 0xEEEEEEEE, 0, 0, 0, misalign};
  CallGame(&probe);
  EXPECT_EQ(probe.bytesRemoved, static_cast<int32_t>(4 * argCount)) << "stack misaligned by " << misalign;
  EXPECT_EQ(probe.clobbered, 0u) << "callee-saved registers changed (bit 0 EBX, 1 ESI, 2 EDI)";
  return probe;
}

}  // namespace

ProductCall ThiscallProduct(const void* function) {
  return [function](const float* a, float* result, const float* b) {
    const GameCall probe = Call(function, a, Word(result), Word(b), 2);
    return reinterpret_cast<float*>(static_cast<uintptr_t>(probe.eax));
  };
}

BoxCall ThiscallBox(const void* function) {
  return [function](const float* box, const float* planes) {
    const GameCall probe = Call(function, box, Word(planes), 0, 1);
    const uint32_t al = probe.eax & 0xff;
    EXPECT_LE(al, 1u) << "AL holds no boolean";
    return al != 0;
  };
}
