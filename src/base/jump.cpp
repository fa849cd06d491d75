#include "base/jump.h"

#include <windows.h>

#include <algorithm>

#include "base/log.h"

namespace {

constexpr uint8_t kJumpOpcode = 0xE9;
constexpr size_t kJumpLength = 5;
constexpr size_t kPageSize = 0x1000;

struct PageSpan {
  uint8_t* start;
  size_t length;
  DWORD oldProtection;
};

void RestoreProtection(const PageSpan* spans, size_t count) {
  DWORD ignored;
  for (size_t i = 0; i < count; ++i)
    VirtualProtect(spans[i].start, spans[i].length, spans[i].oldProtection, &ignored);
}

}  // namespace

void WriteRelJump(uint32_t address, const void* stub) {
  auto* at = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
  const int32_t displacement = static_cast<int32_t>(reinterpret_cast<uintptr_t>(stub) -
                                                    (reinterpret_cast<uintptr_t>(at) + kJumpLength));
  // All five bytes are made writable first, so that a refusal leaves the
  // game's code whole instead of half-rewritten. They may straddle two
  // pages: each gets its own protection back.
  const size_t first = std::min(kJumpLength, kPageSize - (address & (kPageSize - 1)));
  PageSpan spans[2] = {{at, first, 0}, {at + first, kJumpLength - first, 0}};
  const size_t count = first < kJumpLength ? 2 : 1;
  for (size_t i = 0; i < count; ++i) {
    if (VirtualProtect(spans[i].start, spans[i].length, PAGE_EXECUTE_READWRITE, &spans[i].oldProtection))
      continue;
    LogLine(GetLog(), LogError, "cannot write jump at %08X (error %lu)", address, GetLastError());
    RestoreProtection(spans, i);
    return;
  }
  // Jumps are written while the host loads plug-ins, before the game's own
  // threads run the code they replace; no store order could make the five
  // bytes change at once for a thread passing by. The displacement still
  // goes in before the opcode (volatile stores, kept in this order), so the
  // bytes are never an E9 with a stale target.
  volatile uint8_t* bytes = at;
  for (size_t i = 0; i < sizeof displacement; ++i) {
    bytes[1 + i] = static_cast<uint8_t>(static_cast<uint32_t>(displacement) >> (8 * i));
  }
  bytes[0] = kJumpOpcode;
  RestoreProtection(spans, count);
  FlushInstructionCache(GetCurrentProcess(), at, kJumpLength);
}
